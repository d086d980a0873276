#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace chm::test::reliability {

// The built tavorin-chm, started as a separate program the way a user or a script starts it:
// its own temporary and configuration folders, its streams on files, optionally as another user
// or with a cap on the size of every file it writes. Every wait has a time-out that fails the
// test instead of hanging it.
struct ConverterRun {
    std::vector<std::string> args;  // after the program name
    std::string tmpdir;             // the program's $TMPDIR
    std::string config;             // the program's $XDG_CONFIG_HOME
    std::string stdin_path;         // empty: /dev/null
    std::string stdout_path;
    std::string stderr_path;
    std::string working_dir;        // empty: the test's own
    // The superuser ignores permissions; a run that must meet them runs as this user (65534 is
    // "nobody"). Ignored when the test is not the superuser.
    std::optional<uid_t> user;
    // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored: a write past it fails with EFBIG instead of
    // killing the program, as a full disk fails with ENOSPC.
    std::optional<uint64_t> file_size_limit;
};

struct ConverterOutcome {
    bool ended = false;    // false: killed at the time-out
    int exit_code = -1;    // when it exited
    int signal = 0;        // when a signal ended it
    std::string out;
    std::string err;
    double seconds = 0.0;  // from the start to the end
};

class ConverterProcess {
public:
    ConverterProcess() = default;
    ~ConverterProcess();  // kills a program that still runs
    ConverterProcess(const ConverterProcess&) = delete;
    ConverterProcess& operator=(const ConverterProcess&) = delete;

    bool Start(const ConverterRun& run);
    pid_t Pid() const { return pid_; }
    std::chrono::steady_clock::time_point StartedAt() const { return started_; }
    bool Signal(int signal) const;
    // Waits up to `limit` for the end; at the limit the program is killed and `ended` is false.
    ConverterOutcome Wait(std::chrono::seconds limit);

private:
    ConverterRun run_;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::chrono::steady_clock::time_point started_;
};

// Starts, waits up to `limit`, and gives the outcome.
ConverterOutcome RunConverter(const ConverterRun& run, std::chrono::seconds limit);

// What the program said about each file: "converted: IN -> OUT", "failed: IN", "cancelled: IN".
struct FileLine {
    std::string kind;  // "converted", "failed", "cancelled", or "" for any other line
    std::string input;
    std::string output;  // converted only
};
FileLine ParseFileLine(const std::string& line, const std::vector<std::string>& inputs);

std::string Quote(const std::string& text);
// A shell command's standard output; its wait status in `status` if given.
std::string Shell(const std::string& command, int* status = nullptr);
std::vector<std::string> Lines(const std::string& text);
// The program's result lines, without the remarks indented under a file's line (a failure's
// reason, a converted file's note); and those remarks, joined, by their result line's index.
std::vector<std::string> ResultLines(const std::string& text);
std::map<size_t, std::string> Remarks(const std::string& text);

// The state of every entry below a folder, links not followed: type, mode, size and, for a
// regular file, a digest of its bytes. Two equal snapshots mean that nothing was touched.
struct EntryState {
    uint32_t mode = 0;
    int64_t size = 0;
    uint64_t digest = 0;
    std::string link_target;
    bool operator==(const EntryState&) const = default;
};
std::map<std::string, EntryState> SnapshotTree(const std::string& folder);
// The digest of a regular file's bytes (FNV-1a, 64 bits); 0 when it cannot be read.
uint64_t FileDigest(const std::string& path);

// Facts about an audio file as ffprobe/ffmpeg see it (outside references).
struct DecodedAudio {
    bool decodes = false;  // ffmpeg decodes it without an error
    std::string codec;     // ffprobe's codec name
    int channels = 0;
    int sample_rate = 0;
    int64_t frames = 0;  // decoded sample frames
    double Seconds() const { return sample_rate > 0 ? static_cast<double>(frames) / sample_rate : 0.0; }
};
DecodedAudio DecodeWithFfmpeg(const std::string& path);
// The frames that GStreamer's decodebin, the decoder the program itself uses for non-PCM WAV
// and WMA, gets out of a file; -1 when it gets nothing.
int64_t GstreamerFrames(const std::string& path);

// Lets `user` reach and write the folder (and reach every folder above it).
void OpenFolderTo(const std::string& folder, uid_t user);
bool IsSuperuser();
constexpr uid_t kNobody = 65534;

}  // namespace chm::test::reliability
