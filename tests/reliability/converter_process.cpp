#include "tests/reliability/converter_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tests/support/test_files.h"

extern char** environ;

namespace chm::test::reliability {
namespace {

namespace fs = std::filesystem;

// The child's environment: ours, with the run's temporary and configuration folders. In a
// sanitizer build the program reports at exit what GLib's library constructor allocates and
// never frees, and what GStreamer's libav muxer (avmux_asf, the WMA writer's) loses of every
// file it writes; only those are excused (GLib has no frame pointers, so the slow unwinder is
// needed for the stack to reach the constructor).
std::vector<std::string> ChildEnvironment(const ConverterRun& run, const std::string& suppressions) {
    std::vector<std::string> env;
    std::string asan_options = "fast_unwind_on_malloc=0";
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.starts_with("ASAN_OPTIONS=") && entry.size() > 13)
            asan_options = entry.substr(13) + ":" + asan_options;
        else if (!entry.starts_with("TMPDIR=") && !entry.starts_with("XDG_CONFIG_HOME=") &&
                 !entry.starts_with("LSAN_OPTIONS=") && !entry.starts_with("ASAN_OPTIONS="))
            env.push_back(entry);
    }
    env.push_back("TMPDIR=" + run.tmpdir);
    env.push_back("XDG_CONFIG_HOME=" + run.config);
    env.push_back("ASAN_OPTIONS=" + asan_options);
    env.push_back("LSAN_OPTIONS=suppressions=" + suppressions);
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

uint64_t DigestOfFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < n; ++i) hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
    ::close(fd);
    return hash;
}

}  // namespace

ConverterProcess::~ConverterProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (pidfd_ >= 0) ::close(pidfd_);
}

bool ConverterProcess::Start(const ConverterRun& run) {
    if (pid_ > 0) return false;
    run_ = run;
    const std::string suppressions = run.tmpdir + "/../lsan.supp";
    test::WriteTextFile(suppressions, "leak:_dl_init\nleak:libgstlibav.so\n");
    std::vector<std::string> argv_text{CHM_CLI_PATH};
    argv_text.insert(argv_text.end(), run.args.begin(), run.args.end());
    std::vector<std::string> env_text = ChildEnvironment(run, suppressions);
    std::vector<char*> argv = Pointers(argv_text);
    std::vector<char*> envp = Pointers(env_text);
    // Opened here, so that a child running as another user still writes to them.
    const int in = ::open(run.stdin_path.empty() ? "/dev/null" : run.stdin_path.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(run.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(run.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in < 0 || out < 0 || err < 0) return false;
    const bool switch_user = run.user && IsSuperuser();
    rlimit limit{};
    if (run.file_size_limit) limit.rlim_cur = limit.rlim_max = *run.file_size_limit;
    std::fflush(nullptr);
    started_ = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!run.working_dir.empty() && ::chdir(run.working_dir.c_str()) != 0) ::_exit(124);
        // The stop signals as a terminal gives them: one ignored when the program starts stays so.
        for (const int signal : {SIGHUP, SIGINT, SIGPIPE, SIGTERM}) ::signal(signal, SIG_DFL);
        if (run.file_size_limit && (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || ::signal(SIGXFSZ, SIG_IGN) == SIG_ERR))
            ::_exit(125);
        if (switch_user && (::setgroups(0, nullptr) != 0 || ::setgid(*run.user) != 0 || ::setuid(*run.user) != 0))
            ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    if (pid < 0) return false;
    pid_ = pid;
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return true;
}

bool ConverterProcess::Signal(int signal) const { return pid_ > 0 && ::kill(pid_, signal) == 0; }

ConverterOutcome ConverterProcess::Wait(std::chrono::seconds limit) {
    ConverterOutcome outcome;
    if (pid_ <= 0) return outcome;
    const auto deadline = started_ + limit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            outcome.seconds = SecondsSince(started_);
            outcome.out = test::ReadTextFile(run_.stdout_path);
            outcome.err = test::ReadTextFile(run_.stderr_path);
            return outcome;
        }
        // The pid file descriptor becomes readable when the program ends: no polling loop.
        if (pidfd_ >= 0) {
            pollfd ready{pidfd_, POLLIN, 0};
            ::poll(&ready, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
        } else {
            ::usleep(1000);
        }
    }
    pid_ = -1;
    outcome.ended = true;
    outcome.seconds = SecondsSince(started_);
    if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    outcome.out = test::ReadTextFile(run_.stdout_path);
    outcome.err = test::ReadTextFile(run_.stderr_path);
    return outcome;
}

ConverterOutcome RunConverter(const ConverterRun& run, std::chrono::seconds limit) {
    ConverterProcess process;
    if (!process.Start(run)) return {};
    return process.Wait(limit);
}

FileLine ParseFileLine(const std::string& line, const std::vector<std::string>& inputs) {
    if (line.starts_with("failed: ")) return {"failed", line.substr(8), ""};
    if (line.starts_with("cancelled: ")) return {"cancelled", line.substr(11), ""};
    if (!line.starts_with("converted: ")) return {};
    const std::string rest = line.substr(11);
    // "IN -> OUT": the input is one of the names given, so that an arrow inside a name does
    // not split it.
    for (const std::string& input : inputs)
        if (rest.starts_with(input + " -> ")) return {"converted", input, rest.substr(input.size() + 4)};
    return {"converted", rest, ""};
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Shell(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int result = ::pclose(pipe);
    if (status) *status = result;
    return output;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> ResultLines(const std::string& text) {
    std::vector<std::string> results;
    for (const std::string& line : Lines(text))
        if (!line.starts_with("  ")) results.push_back(line);
    return results;
}

std::map<size_t, std::string> Remarks(const std::string& text) {
    std::map<size_t, std::string> remarks;
    size_t results = 0;
    for (const std::string& line : Lines(text)) {
        if (!line.starts_with("  ")) {
            ++results;
        } else if (results > 0) {
            std::string& remark = remarks[results - 1];
            remark += (remark.empty() ? "" : "; ") + line.substr(2);
        }
    }
    return remarks;
}

std::map<std::string, EntryState> SnapshotTree(const std::string& folder) {
    std::map<std::string, EntryState> states;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string path = it->path().string();
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;
        EntryState state;
        state.mode = st.st_mode;
        state.size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
        if (S_ISREG(st.st_mode)) state.digest = DigestOfFile(path);
        if (S_ISLNK(st.st_mode)) state.link_target = fs::read_symlink(path, ec).string();
        states[path.substr(folder.size())] = state;
    }
    return states;
}

DecodedAudio DecodeWithFfmpeg(const std::string& path) {
    // One ffprobe decodes every frame of the first audio stream: each frame's sample count on a
    // line of its own, the stream's "codec|rate|channels", and what the decoder complained about,
    // marked, from its error stream.
    const std::string command = "{ ffprobe -v error -select_streams a:0 -show_entries "
                                "stream=codec_name,sample_rate,channels:frame=nb_samples -of compact=p=0:nk=1 " +
                                Quote(path) + " 2>&1 1>&3 | sed 's/^/error: /'; } 3>&1";
    DecodedAudio audio;
    bool complained = false;
    bool described = false;
    for (const std::string& line : Lines(Shell(command))) {
        if (line.starts_with("error: ")) {
            complained = true;
        } else if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
            audio.frames += std::atoll(line.c_str());
        } else if (const size_t bar = line.find('|'); bar != std::string::npos && !described) {
            std::istringstream fields(line);
            std::string rate, channels;
            std::getline(fields, audio.codec, '|');
            std::getline(fields, rate, '|');
            std::getline(fields, channels, '|');
            audio.sample_rate = std::atoi(rate.c_str());
            audio.channels = std::atoi(channels.c_str());
            described = true;
        }
    }
    audio.decodes = described && !complained && audio.frames > 0;
    return audio;
}

int64_t GstreamerFrames(const std::string& path) {
    // Mixed down to one channel so that the byte count alone gives the frames. gst-launch itself
    // now and then stalls on a cut file that it decodes at once when asked again: it is given a
    // minute, three times.
    // Only a run that ended by itself counts: a stopped one has written part of the audio.
    const std::string command = "f=$(mktemp) && timeout 60 gst-launch-1.0 -q filesrc location=" + Quote(path) +
                                " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE,channels=1 ! fdsink fd=1 "
                                ">\"$f\" 2>/dev/null && wc -c <\"$f\"; rm -f \"$f\"";
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto lines = Lines(Shell(command));
        const int64_t bytes = lines.empty() ? 0 : std::atoll(lines.back().c_str());
        if (bytes > 0) return bytes / 2;
    }
    return -1;
}

void OpenFolderTo(const std::string& folder, uid_t user) {
    if (!IsSuperuser()) return;
    if (::chown(folder.c_str(), user, static_cast<gid_t>(-1)) != 0) std::perror(folder.c_str());
    for (fs::path p = fs::path(folder).parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
        struct stat st;
        if (::stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) == 0) ::chmod(p.c_str(), st.st_mode | S_IXOTH);
    }
}

uint64_t FileDigest(const std::string& path) { return DigestOfFile(path); }

bool IsSuperuser() { return ::geteuid() == 0; }

}  // namespace chm::test::reliability
