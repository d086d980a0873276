// The folder search over a generated tree of 10,000 small supported files (mono and stereo
// WAV, MP3 and WMA in nested folders), with a warm file cache: files per second by type and
// for the whole tree. Targets: 5,000 WAV files per second, 500 MP3 or WMA files per second.
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "search/folder_search_worker.h"

namespace chm::bench {
namespace {

constexpr int kWavFiles = 4000;
constexpr int kMp3Files = 3000;
constexpr int kWmaFiles = 3000;
constexpr int kFilesPerFolder = 50;
constexpr int kFoldersPerLevel = 8;

using Clock = std::chrono::steady_clock;

// The tree lives in a folder of its own under the temporary folder, removed at the end.
class BenchFolder {
public:
    BenchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "chm-search-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~BenchFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> Wav(uint16_t channels) {
    const uint32_t rate = 22050, frames = 2205, block = 2u * channels, data = frames * block;
    std::vector<uint8_t> h(44 + data, 0);
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) h[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(&h[0], "RIFF", 4);
    put(4, 36 + data, 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, channels, 2);
    put(24, rate, 4);
    put(28, rate * block, 4);
    put(32, block, 2);
    put(34, 16, 2);
    std::memcpy(&h[36], "data", 4);
    put(40, data, 4);
    return h;
}

// Half a second of two tones, encoded once by ffmpeg.
std::vector<uint8_t> Encoded(const std::string& folder, const std::string& codec, const std::string& extension,
                             int channels) {
    const std::string path = folder + "/template" + std::to_string(channels) + "." + extension;
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -filter_complex "
        "'sine=frequency=440:duration=0.5[l];sine=frequency=660:duration=0.5[r];[l][r]amerge=inputs=2' -ac " +
        std::to_string(channels) + " -c:a " + codec + " -b:a 64k '" + path + "'";
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    std::vector<uint8_t> bytes = ReadBytes(path);
    std::filesystem::remove(path);
    return bytes;
}

// `count` files, half mono and half stereo, 50 to a folder, folders nested two levels deep.
bool MakeTree(const std::string& root, const std::string& extension, int count, const std::vector<uint8_t>& mono,
              const std::vector<uint8_t>& stereo) {
    for (int i = 0; i < count; ++i) {
        const int folder = i / kFilesPerFolder;
        const std::string dir = root + "/" + extension + "/d" + std::to_string(folder / kFoldersPerLevel) + "/e" +
                                std::to_string(folder % kFoldersPerLevel);
        if (i % kFilesPerFolder == 0) std::filesystem::create_directories(dir);
        const bool is_stereo = i % 2 == 1;
        if (!WriteBytes(dir + "/file" + std::to_string(i) + "." + extension, is_stereo ? stereo : mono)) return false;
    }
    return true;
}

// Counts the messages of a run and remembers when the analysis began.
class BenchPort : public MessagePort {
public:
    void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
        if (message != kSearchNotify) return;
        std::lock_guard lock(mutex_);
        if (wparam == kSearchFilterEnd) collected_ = lparam;
        if (wparam == kSearchAnalyzeBegin) analysis_start_ = Clock::now();
        if (wparam == kSearchRecommended) ++recommended_;
        if (wparam == kSearchCompleted) completed_ = true;
    }
    intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }

    intptr_t collected_ = 0;
    intptr_t recommended_ = 0;
    bool completed_ = false;
    Clock::time_point analysis_start_;
    std::mutex mutex_;
};

struct Figures {
    intptr_t collected = 0;
    intptr_t recommended = 0;
    double walk_seconds = 0;
    double total_seconds = 0;
};

bool SearchOnce(const std::string& folder, Figures& figures) {
    auto port = std::make_shared<BenchPort>();
    FolderSearchWorker worker{WindowHandle(port)};
    worker.SetJob(folder, true);
    const Clock::time_point start = Clock::now();
    if (!worker.Start()) return false;
    while (worker.IsRunning()) SleepMs(1);
    const Clock::time_point end = Clock::now();
    std::vector<std::string> results;
    worker.TakeResults(results);
    std::lock_guard lock(port->mutex_);
    figures.collected = port->collected_;
    figures.recommended = static_cast<intptr_t>(results.size());
    figures.walk_seconds = std::chrono::duration<double>(port->analysis_start_ - start).count();
    figures.total_seconds = std::chrono::duration<double>(end - start).count();
    return port->completed_ && port->recommended_ == figures.recommended;
}

// The best of three runs after one that warms the file cache.
bool Measure(const std::string& label, const std::string& folder, intptr_t expected_files,
             intptr_t expected_stereo, double target) {
    Figures warm;
    if (!SearchOnce(folder, warm)) return false;
    Figures best;
    for (int run = 0; run < 3; ++run) {
        Figures figures;
        if (!SearchOnce(folder, figures)) return false;
        if (run == 0 || figures.total_seconds < best.total_seconds) best = figures;
    }
    if (best.collected != expected_files || best.recommended != expected_stereo) {
        std::fprintf(stderr, "%s: %ld files collected, %ld recommended; expected %ld and %ld\n", label.c_str(),
                     static_cast<long>(best.collected), static_cast<long>(best.recommended),
                     static_cast<long>(expected_files), static_cast<long>(expected_stereo));
        return false;
    }
    const double rate = static_cast<double>(best.collected) / best.total_seconds;
    std::printf("%-6s %6ld files  walk %7.3f s  total %7.3f s  %9.0f files/s", label.c_str(),
                static_cast<long>(best.collected), best.walk_seconds, best.total_seconds, rate);
    if (target > 0) std::printf("  (target %.0f: %s)", target, rate >= target ? "met" : "MISSED");
    std::printf("\n");
    return true;
}

int Main() {
    BenchFolder bench;
    if (bench.Path().empty()) {
        std::fputs("cannot make the benchmark folder\n", stderr);
        return 1;
    }
    const std::string root = bench.Path() + "/tree";
    const std::vector<uint8_t> mp3_mono = Encoded(bench.Path(), "libmp3lame", "mp3", 1);
    const std::vector<uint8_t> mp3_stereo = Encoded(bench.Path(), "libmp3lame", "mp3", 2);
    const std::vector<uint8_t> wma_mono = Encoded(bench.Path(), "wmav2", "wma", 1);
    const std::vector<uint8_t> wma_stereo = Encoded(bench.Path(), "wmav2", "wma", 2);
    if (mp3_mono.empty() || mp3_stereo.empty() || wma_mono.empty() || wma_stereo.empty()) {
        std::fputs("ffmpeg could not make the MP3 and WMA templates\n", stderr);
        return 1;
    }
    if (!MakeTree(root, "wav", kWavFiles, Wav(1), Wav(2)) || !MakeTree(root, "mp3", kMp3Files, mp3_mono, mp3_stereo) ||
        !MakeTree(root, "wma", kWmaFiles, wma_mono, wma_stereo)) {
        std::fputs("cannot write the tree\n", stderr);
        return 1;
    }
    std::printf("folder search, warm cache, best of 3 (sizes: WAV %zu/%zu, MP3 %zu/%zu, WMA %zu/%zu bytes)\n",
                Wav(1).size(), Wav(2).size(), mp3_mono.size(), mp3_stereo.size(), wma_mono.size(),
                wma_stereo.size());
    const bool ok = Measure("WAV", root + "/wav", kWavFiles, kWavFiles / 2, 5000) &&
                    Measure("MP3", root + "/mp3", kMp3Files, kMp3Files / 2, 500) &&
                    Measure("WMA", root + "/wma", kWmaFiles, kWmaFiles / 2, 500) &&
                    Measure("all", root, kWavFiles + kMp3Files + kWmaFiles, (kWavFiles + kMp3Files + kWmaFiles) / 2, 0);
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace chm::bench

int main() { return chm::bench::Main(); }
