#include "tests/app/app_ui_test_support.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/app_settings.h"

namespace chm::test {

bool RunLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    if (condition()) return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || clock.elapsed() > timeout.count()) loop.quit();
    });
    poll.start();
    loop.exec();
    return condition();
}

void WriteStereoWav(const std::string& path, double seconds, int sample_rate) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const uint32_t frames = static_cast<uint32_t>(seconds * sample_rate);
    const uint32_t data_bytes = frames * 4;
    const auto u32 = [&out](uint32_t v) {
        const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
        out.write(b, 4);
    };
    const auto u16 = [&out](uint16_t v) {
        const char b[2] = {char(v & 0xFF), char((v >> 8) & 0xFF)};
        out.write(b, 2);
    };
    out.write("RIFF", 4);
    u32(36 + data_bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(static_cast<uint32_t>(sample_rate));
    u32(static_cast<uint32_t>(sample_rate) * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(data_bytes);
    // Whole-numbered frequencies repeat every second: one second is computed and repeated.
    const double kTwoPi = 6.283185307179586;
    std::vector<int16_t> second(size_t(sample_rate) * 2);
    for (int i = 0; i < sample_rate; ++i) {
        const double t = double(i) / sample_rate;
        second[2 * size_t(i)] = static_cast<int16_t>(std::lround(12000 * std::sin(kTwoPi * 440 * t)));
        second[2 * size_t(i) + 1] = static_cast<int16_t>(std::lround(8000 * std::sin(kTwoPi * 660 * t)));
    }
    for (uint32_t start = 0; start < frames; start += uint32_t(sample_rate)) {
        const uint32_t n = std::min(uint32_t(sample_rate), frames - start);
        out.write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(size_t{n} * 4));
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool EncodeAudio(const std::string& wav, const std::string& output) {
    const bool mp3 = output.size() > 4 && output.compare(output.size() - 4, 4, ".mp3") == 0;
    const std::string codec = mp3 ? "libmp3lame -b:a 160k" : "wmav2 -b:a 128k";
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + wav + "' -c:a " + codec + " '" + output + "'";
    return std::system(command.c_str()) == 0;
}

int ProbeChannels(const std::string& path) {
    const std::string command = "ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 '" +
                                path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    const int status = ::pclose(pipe);
    if (!read || status != 0) return -1;
    return std::atoi(line);
}

std::string SettingsFile() { return AppSettings::SettingsFilePath(); }

void ResetSettings() {
    std::error_code ec;
    std::filesystem::remove(SettingsFile(), ec);
    AppSettings::Instance().ResetToDefaults();
}

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        names.push_back(std::filesystem::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

OpenedUrls::OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }

OpenedUrls::~OpenedUrls() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

void OpenedUrls::Open(const QUrl& url) { urls_.push_back(url); }

}  // namespace chm::test
