#include "tests/fuzz/fuzz_support.h"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace chm::fuzz {
namespace {

constexpr std::array kTargets{
    FuzzTarget{"wav_probe", RunWavProbe},   FuzzTarget{"wav_chunks", RunWavChunks},
    FuzzTarget{"load_wav", RunLoadWav},     FuzzTarget{"wma_probe", RunWmaProbe},
    FuzzTarget{"mp3_info", RunMp3Info},     FuzzTarget{"mp3_decode", RunMp3Decode},
    FuzzTarget{"settings_load", RunSettingsLoad}, FuzzTarget{"format_tags", RunFormatTags},
};

std::string workspace_to_remove;

void RemoveWorkspace() {
    std::error_code ec;
    if (!workspace_to_remove.empty()) std::filesystem::remove_all(workspace_to_remove, ec);
}

}  // namespace

std::span<const FuzzTarget> FuzzTargets() { return kTargets; }

const FuzzTarget* FindFuzzTarget(std::string_view name) {
    for (const FuzzTarget& target : kTargets)
        if (name == target.name) return &target;
    return nullptr;
}

void FuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz target failure: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

FuzzWorkspace& FuzzWorkspace::Instance() {
    static FuzzWorkspace workspace;
    return workspace;
}

FuzzWorkspace::FuzzWorkspace() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/chm-fuzz-XXXXXX";
    FuzzCheck(::mkdtemp(pattern.data()) != nullptr, "cannot make the fuzz workspace");
    folder_ = pattern;
    temporary_ = folder_ + "/tmp";
    std::error_code ec;
    FuzzCheck(std::filesystem::create_directory(temporary_, ec), "cannot make the temporary folder");
    // Before the engine first asks for its temporary folder.
    ::setenv("TMPDIR", temporary_.c_str(), 1);
    workspace_to_remove = folder_;
    std::atexit(RemoveWorkspace);
}

std::string FuzzWorkspace::WriteInput(const std::string& name, std::span<const uint8_t> bytes) const {
    const std::string path = folder_ + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    FuzzCheck(static_cast<bool>(out), "cannot write the input file");
    return path;
}

void FuzzWorkspace::CheckUnchanged(const std::string& path, std::span<const uint8_t> bytes) const {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FuzzCheck(now.size() == bytes.size() && std::equal(now.begin(), now.end(), bytes.begin()),
              "the source file was changed by its reader");
}

void FuzzWorkspace::CheckNoTemporaryFiles() const {
    std::error_code ec;
    FuzzCheck(std::filesystem::is_empty(temporary_, ec) && !ec, "a temporary file was left behind");
}

}  // namespace chm::fuzz
