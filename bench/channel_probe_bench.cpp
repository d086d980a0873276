// The channel count of FLAC, Ogg Vorbis, Opus, AAC and AIFF files for the folder search, two
// ways: TagLib's headers and stream information (what the search uses) against GStreamer's
// discoverer, over a folder of files copied from templates made by ffmpeg (warm file cache).
// Prints files per second of each and checks that both give the same counts.
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/format_tags.h"

namespace {

constexpr int kCopies = 200;  // of each of 10 templates: 2,000 files
// The discoverer takes a quarter of a second per file: it is given every tenth file only.
constexpr size_t kDiscovererStride = 10;
const char* const kFormats[][2] = {
    {"flac", "-c:a flac"}, {"ogg", "-c:a libvorbis"}, {"opus", "-c:a libopus"}, {"m4a", "-c:a aac"}, {"aiff", "-c:a pcm_s16be"}};

bool MakeTemplate(const std::string& path, const char* options, int channels) {
    const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                                "'sine=frequency=440:duration=3' -ac " + std::to_string(channels) + " " + options +
                                " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    gst_init(nullptr, nullptr);
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("chm-probe-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::vector<std::string> files;
    std::vector<int> expected;
    for (const auto& format : kFormats) {
        for (int channels = 1; channels <= 2; ++channels) {
            const std::string name = std::to_string(channels) + "." + format[0];
            const std::string made = (folder / ("template-" + name)).string();
            if (!MakeTemplate(made, format[1], channels)) {
                std::fprintf(stderr, "ffmpeg could not make %s\n", made.c_str());
                return 1;
            }
            for (int i = 0; i < kCopies; ++i) {
                const std::string copy = (folder / (std::to_string(i) + "-" + name)).string();
                fs::copy_file(made, copy);
                files.push_back(copy);
                expected.push_back(channels);
            }
        }
    }
    int wrong = 0;
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < files.size(); ++i) {
        chm::VeFormatMediaInfo info;
        if (!chm::ProbeFormatFile(info, files[i]) || info.channels != expected[i]) ++wrong;
    }
    const double taglib = Seconds(start);
    GError* error = nullptr;
    GstDiscoverer* discoverer = gst_discoverer_new(10 * GST_SECOND, &error);
    if (!discoverer) return 1;
    start = std::chrono::steady_clock::now();
    size_t discovered = 0;
    for (size_t i = 0; i < files.size(); i += kDiscovererStride, ++discovered) {
        gchar* uri = gst_filename_to_uri(files[i].c_str(), nullptr);
        GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, nullptr);
        g_free(uri);
        int channels = 0;
        if (info) {
            GList* streams = gst_discoverer_info_get_audio_streams(info);
            if (streams) channels = static_cast<int>(gst_discoverer_audio_info_get_channels(GST_DISCOVERER_AUDIO_INFO(streams->data)));
            gst_discoverer_stream_info_list_free(streams);
            g_object_unref(info);
        }
        if (channels != expected[i]) ++wrong;
    }
    const double discover = Seconds(start);
    g_object_unref(discoverer);
    fs::remove_all(folder);
    std::printf("channel count of %zu FLAC/Ogg Vorbis/Opus/AAC/AIFF files, warm cache:\n", files.size());
    std::printf("  TagLib headers      %8.0f files/s (%.2f s)\n", files.size() / taglib, taglib);
    std::printf("  GStreamer discoverer %7.1f files/s (%.2f s for %zu files)\n", discovered / discover, discover,
                discovered);
    std::printf("  wrong counts: %d\n", wrong);
    return wrong == 0 ? 0 : 1;
}
