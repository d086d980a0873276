#include "wm/gst_objects.h"

namespace chm {

GstPtr<GstElement> MakeElement(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element) gst_object_ref_sink(element);
    return GstPtr<GstElement>(element);
}

namespace {

GstPadProbeReturn AnswerPushOnly(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_SCHEDULING) return GST_PAD_PROBE_OK;
    gst_query_set_scheduling(query, GST_SCHEDULING_FLAG_SEEKABLE, 1, -1, 0);
    gst_query_add_scheduling_mode(query, GST_PAD_MODE_PUSH);
    return GST_PAD_PROBE_HANDLED;
}

}  // namespace

void OfferPushOnly(GstElement* source) {
    GstPtr<GstPad> out(gst_element_get_static_pad(source, "src"));
    if (out) gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, AnswerPushOnly, nullptr, nullptr);
}

GstGraph::GstGraph() : pipeline_(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr)))) {}

GstElement* GstGraph::Add(GstPtr<GstElement> element) {
    if (!element || !gst_bin_add(bin(), element.get())) return nullptr;
    return element.get();  // the bin holds its own reference now
}

// The state NULL deactivates pads from the sinks up, while the reader's thread may still be inside
// a parser's chain function; aiffparse frees its adapter as its input pad goes inactive, under that
// thread (which then spins or crashes). So the reader's thread leaves first: a flush from the
// reader ends what it pushes, and its stream lock, held for each block, says it is out.
void GstGraph::Stop() {
    if (!pipeline_) return;
    if (reader_) {
        GstPtr<GstPad> out(gst_element_get_static_pad(reader_, "src"));
        if (out) {
            gst_pad_push_event(out.get(), gst_event_new_flush_start());
            GST_PAD_STREAM_LOCK(out.get());
            GST_PAD_STREAM_UNLOCK(out.get());
        }
    }
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

}  // namespace chm
