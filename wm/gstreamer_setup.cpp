#include "wm/gstreamer_setup.h"

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "wm/gst_objects.h"

namespace chm {
namespace {

// Where the plugin library can live: beside an installed program (a path relative to its
// folder), and in the build tree that made this program.
std::vector<std::string> PluginFolders() {
    std::vector<std::string> folders;
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) folders.push_back((program.parent_path() / CHM_AUDIOTAP_INSTALLED_DIR).lexically_normal().string());
    folders.push_back(CHM_AUDIOTAP_BUILD_DIR);
    return folders;
}

// libav's Opus decoder gives the samples of libopus's opusdec (to one step of 16 bits, the same
// length after the pre-skip) in less than half its time; decodebin plugs the decoder of highest
// rank. Without gst-libav's decoder opusdec stays the one.
void PreferFasterDecoders() {
    GstPtr<GstPluginFeature> decoder(gst_registry_lookup_feature(gst_registry_get(), "avdec_opus"));
    if (decoder) gst_plugin_feature_set_rank(decoder.get(), GST_RANK_PRIMARY + 1);
}

bool Initialise() {
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        GstPtr<GError> owned(error);
        return false;
    }
    // Plugins found by a path scan are not kept in the registry cache, so this runs at every
    // start. Our one library is loaded into this process anyway when the element is made:
    // scanning it here spares the helper process (which could not load a sanitizer build's
    // library either). The registry keeps the first library of a name, so the installed one wins.
    const gboolean fork = gst_registry_fork_is_enabled();
    gst_registry_fork_set_enabled(FALSE);
    for (const std::string& folder : PluginFolders())
        if (IsDirectory(folder)) gst_registry_scan_path(gst_registry_get(), folder.c_str());
    gst_registry_fork_set_enabled(fork);
    PreferFasterDecoders();
    return true;
}

}  // namespace

bool EnsureGstreamer() {
    static const bool ready = Initialise();
    return ready;
}

bool IsAudioTapAvailable() {
    return EnsureGstreamer() && MakeElement("audiotap") != nullptr;
}

}  // namespace chm
