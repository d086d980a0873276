#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace chm::fuzz {

// One reader of untrusted files, run on arbitrary bytes. It returns normally, or ends the
// process through FuzzFailure when the reader broke one of its promises: libFuzzer then keeps
// the input, and the replay test reports it.
struct FuzzTarget {
    const char* name;  // also the folder of its saved inputs: tests/corpus/<name>/
    void (*run)(std::span<const uint8_t> bytes);
};

std::span<const FuzzTarget> FuzzTargets();
// nullptr for a name that no target has.
const FuzzTarget* FindFuzzTarget(std::string_view name);

[[noreturn]] void FuzzFailure(const char* what);
inline void FuzzCheck(bool condition, const char* what) {
    if (!condition) FuzzFailure(what);
}

// The process's private work folder, made on first use under $TMPDIR (else /tmp) and removed
// at exit: the inputs are written there as files, and the engine's temporary folder moves
// into it, so that a temporary file left behind by any reader is seen after the input.
class FuzzWorkspace {
public:
    static FuzzWorkspace& Instance();

    // Writes the bytes to a file of that name in the workspace; its path.
    std::string WriteInput(const std::string& name, std::span<const uint8_t> bytes) const;
    // A path in the workspace for an output; nothing is created.
    std::string OutputPath(const std::string& name) const { return folder_ + "/" + name; }
    // Fails when the file no longer holds exactly these bytes: a reader never writes its source.
    void CheckUnchanged(const std::string& path, std::span<const uint8_t> bytes) const;
    // Fails when the engine's temporary folder is not empty.
    void CheckNoTemporaryFiles() const;

private:
    FuzzWorkspace();
    std::string folder_;
    std::string temporary_;
};

// The bodies, one per target.
void RunWavProbe(std::span<const uint8_t> bytes);     // ProbeWav on a file
void RunWavChunks(std::span<const uint8_t> bytes);    // ReadWavChunks on a memory stream
void RunLoadWav(std::span<const uint8_t> bytes);      // LoadWav on a file
void RunWmaProbe(std::span<const uint8_t> bytes);
void RunFormatTags(std::span<const uint8_t> bytes);     // ProbeWmaFile
void RunMp3Info(std::span<const uint8_t> bytes);      // QueryMp3Info
void RunMp3Decode(std::span<const uint8_t> bytes);    // DecodeMp3ToWav
void RunSettingsLoad(std::span<const uint8_t> bytes);  // AppSettings::Load

}  // namespace chm::fuzz
