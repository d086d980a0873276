#pragma once
#include <gst/gst.h>

#include <memory>
#include <type_traits>

namespace chm {

// Gives back whatever GStreamer handed out, each kind by its own call, all in this one place.
template <typename T>
struct GstRelease {
    void operator()(T* p) const {
        if constexpr (std::is_same_v<T, GstMessage> || std::is_same_v<T, GstCaps> ||
                      std::is_same_v<T, GstBuffer> || std::is_same_v<T, GstEvent> ||
                      std::is_same_v<T, GstQuery> || std::is_same_v<T, GstSample>) {
            gst_mini_object_unref(GST_MINI_OBJECT_CAST(p));
        } else if constexpr (std::is_same_v<T, GError>) {
            g_error_free(p);
        } else if constexpr (std::is_same_v<T, gchar>) {
            g_free(p);
        } else {
            gst_object_unref(p);  // elements, pads, buses, factories, plugins: every GstObject
        }
    }
};

template <typename T>
using GstPtr = std::unique_ptr<T, GstRelease<T>>;

// A new element of the named factory, owned (not floating); empty when it cannot be made.
GstPtr<GstElement> MakeElement(const char* factory);

// Makes a source offer to push its data (seekable) and never to let it be pulled, so that the
// element after it reads only what it is given, when it is given it.
void OfferPushOnly(GstElement* source);

// One pipeline: however the job that runs it ends, the pipeline is stopped and released.
class GstGraph {
public:
    GstGraph();
    ~GstGraph() { Stop(); }
    GstGraph(const GstGraph&) = delete;
    GstGraph& operator=(const GstGraph&) = delete;

    GstElement* get() const { return pipeline_.get(); }
    GstBin* bin() const { return GST_BIN(pipeline_.get()); }
    // Adds an element made by MakeElement; the pipeline keeps it, the returned pointer is borrowed.
    GstElement* Add(GstPtr<GstElement> element);
    // The element that reads the file (a source the graph's streaming thread starts from); Stop
    // flushes its thread out of the graph before the state NULL.
    void ReadFrom(GstElement* source) { reader_ = source; }
    // The state NULL: streaming threads end and every file the pipeline wrote is closed.
    void Stop();

private:
    GstPtr<GstElement> pipeline_;
    GstElement* reader_ = nullptr;  // borrowed from the pipeline
};

}  // namespace chm
