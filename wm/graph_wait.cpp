// The graph operations that every pipeline of this folder shares: running to the end with or
// without progress, and the duration. Bus messages become wait results here and nowhere else.
#include <sys/stat.h>

#include "wm/decoding_graph.h"
#include "wm/graph_failure.h"
#include "wm/gst_objects.h"

namespace chm {
namespace {

constexpr GstClockTime kEventTimeout = 100 * GST_MSECOND;
constexpr GstClockTime kProgressTimeout = 200 * GST_MSECOND;
// How long a cancelled graph may take to carry its end of stream to the writers.
constexpr int kDrainSteps = 25;  // of kProgressTimeout: 5 s

int WaitResultOf(const GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            return kGraphCompleted;
        case GST_MESSAGE_ERROR:
            return kGraphFailed;
        default:
            return 0;
    }
}

// Where a wait tells why the graph failed, if anybody asked.
struct FailureSink {
    std::string* reason;
    const std::string& codec;
    int Failed(std::string text) const {
        if (reason && reason->empty()) *reason = std::move(text);
        return kGraphFailed;
    }
};

// One wait for the graph's end: 0 while it still runs after `timeout`. An end that an error
// came before is a failure, whatever order the bus was read in.
int WaitForEnd(GstBus* bus, GstClockTime timeout, const FailureSink& failure) {
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
    GstPtr<GstMessage> message(gst_bus_timed_pop_filtered(bus, timeout, types));
    if (!message) return 0;
    const int result = WaitResultOf(message.get());
    if (result == kGraphFailed) return failure.Failed(ReasonOf(message.get(), failure.codec));
    if (result == kGraphCompleted) {
        std::string pending = PendingFailure(bus, failure.codec);
        if (!pending.empty()) return failure.Failed(std::move(pending));
    }
    return result;
}

int WaitForEnd(GstBus* bus, GstClockTime timeout) {
    const std::string none;
    return WaitForEnd(bus, timeout, FailureSink{nullptr, none});
}

GstPtr<GstBus> BusOf(GstElement* graph) { return GstPtr<GstBus>(graph ? gst_element_get_bus(graph) : nullptr); }

// Ends the stream at its sources and lets it reach the writers, so that the Audio Tap writes
// the header for the bytes delivered so far (and any other writer finishes its file).
void EndStream(GstElement* graph, GstBus* bus) {
    gst_element_send_event(graph, gst_event_new_eos());
    for (int step = 0; step < kDrainSteps && WaitForEnd(bus, kProgressTimeout) == 0; ++step) {
    }
}

uint64_t CurrentFileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

void DispatchThreadEvents() {
    GMainContext* context = g_main_context_get_thread_default();
    if (!context) return;
    while (g_main_context_iteration(context, FALSE)) {
    }
}

int WaitForGraph(GstElement* graph, std::string* reason, const std::string& codec) {
    GstPtr<GstBus> bus = BusOf(graph);
    if (!bus) return kGraphFailed;
    const FailureSink failure{reason, codec};
    for (;;) {
        DispatchThreadEvents();
        if (const int result = WaitForEnd(bus.get(), kEventTimeout, failure)) return result;
    }
}

int WaitForGraphWithProgress(GstElement* graph, TaskProgress& progress, const std::string& target,
                             uint64_t expected, std::string* reason, const std::string& codec) {
    if (target.empty() || expected == 0 || progress.Total() == 0 || progress.IsCancelled()) return kGraphFailed;
    GstPtr<GstBus> bus = BusOf(graph);
    if (!bus) return kGraphFailed;
    const FailureSink failure{reason, codec};
    for (;;) {
        if (progress.IsCancelled()) {
            EndStream(graph, bus.get());
            return kGraphCancelled;
        }
        const int result = WaitForEnd(bus.get(), kProgressTimeout, failure);
        const double percent = static_cast<double>(CurrentFileSize(target)) * 100.0 / static_cast<double>(expected);
        progress.SetPercent(static_cast<float>(percent));
        if (result != 0) return result;
    }
}

double GraphDurationSeconds(GstElement* graph, int64_t* duration) {
    gint64 nanoseconds = -1;
    if (!graph || !gst_element_query_duration(graph, GST_FORMAT_TIME, &nanoseconds) || nanoseconds < 0) return 0.0;
    const int64_t units = nanoseconds / 100;  // 100-ns units
    if (duration) *duration = units;
    return static_cast<double>(units) * 1e-7;
}

}  // namespace chm
