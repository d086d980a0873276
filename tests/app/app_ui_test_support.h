#pragma once
#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace chm::test {

// Runs the event loop, waiting in it for events as the program's own loop does (so that the
// handlers that run when the loop is about to wait get their turn), until `condition` holds or
// `timeout` passes. The condition's last value.
bool RunLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A 16-bit PCM WAV with two different sines in its left and right channels.
void WriteStereoWav(const std::string& path, double seconds, int sample_rate = 44100);

// Encodes a WAV file with ffmpeg into the format of `output`'s extension (".mp3" with LAME,
// ".wma" as Windows Media Audio 2), keeping its channels. True when ffmpeg succeeded.
bool EncodeAudio(const std::string& wav, const std::string& output);

// The number of channels ffprobe reads in the file's first audio stream; -1 when it cannot.
int ProbeChannels(const std::string& path);

// The settings file of this test program's private configuration folder.
std::string SettingsFile();
// Removes it and gives every setting its default.
void ResetSettings();

// Files and folders below `folder` (recursively), as paths relative to it, sorted.
std::vector<std::string> ListFiles(const std::string& folder);

// Takes every URL that the program opens with the desktop (QDesktopServices) for the "file"
// scheme while it exists, instead of starting a file manager.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    OpenedUrls();
    ~OpenedUrls() override;
    const std::vector<QUrl>& Urls() const { return urls_; }

public slots:
    void Open(const QUrl& url);

private:
    std::vector<QUrl> urls_;
};

}  // namespace chm::test
