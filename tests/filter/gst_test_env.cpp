#include "tests/filter/gst_test_env.h"

#include <gst/gst.h>

namespace chm::test {

bool LoadAudioTapPlugin() {
    if (!gst_init_check(nullptr, nullptr, nullptr)) return false;
    // Loaded into this process anyway when the element is made; scanning it here keeps a
    // sanitizer build's library out of the uninstrumented scanner helper.
    const gboolean fork = gst_registry_fork_is_enabled();
    gst_registry_fork_set_enabled(FALSE);
    gst_registry_scan_path(gst_registry_get(), CHM_AUDIOTAP_PLUGIN_DIR);
    gst_registry_fork_set_enabled(fork);
    GstPluginFeature* tap = gst_registry_lookup_feature(gst_registry_get(), "audiotap");
    if (!tap) return false;
    gst_object_unref(tap);
    return true;
}

}  // namespace chm::test

// GLib allocates its quark table in a library constructor and never frees it; only leaks from
// such start-up code are excused, so that anything a test or the code under test leaks is not.
// GLib has no frame pointers: without the slow unwinder no stack would reach the constructor.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
