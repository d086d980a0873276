#include "wm/gst_objects.h"

namespace chm {

GstPtr<GstElement> MakeElement(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element) gst_object_ref_sink(element);
    return GstPtr<GstElement>(element);
}

GstGraph::GstGraph() : pipeline_(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr)))) {}

GstElement* GstGraph::Add(GstPtr<GstElement> element) {
    if (!element || !gst_bin_add(bin(), element.get())) return nullptr;
    return element.get();  // the bin holds its own reference now
}

void GstGraph::Stop() {
    if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

}  // namespace chm
