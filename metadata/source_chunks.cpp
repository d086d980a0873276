#include "metadata/source_chunks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include <tinyxml2.h>

#include "platform/file_mapping.h"
#include "platform/unique_fd.h"

namespace chm {
namespace {

// Larger chunks are no description of a recording: they are left behind, not read into memory.
constexpr uint32_t kMaxChunkBytes = 16 * 1024 * 1024;
constexpr size_t kBextFixedBytes = 602;  // up to the coding history
constexpr size_t kBextVersionAt = 346;
constexpr size_t kBextLoudnessAt = 412;  // five 16-bit values, version 2 on

uint32_t Read32(const uint8_t* p, bool big) {
    return big ? static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
               : static_cast<uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}

void Put32(uint8_t* p, uint32_t value, bool big) {
    for (int i = 0; i < 4; ++i) p[big ? 3 - i : i] = static_cast<uint8_t>(value >> (8 * i));
}

bool ReadAt(int fd, uint64_t offset, void* into, size_t bytes) {
    return ReadFileAt(fd, into, bytes, offset) == static_cast<int64_t>(bytes);
}

bool IsCarried(const std::string& id, const std::vector<uint8_t>& body, bool aiff) {
    if (aiff) return id == "NAME" || id == "AUTH" || id == "ANNO" || id == "(c) ";
    if (id == "LIST") return body.size() >= 4 && std::memcmp(body.data(), "adtl", 4) == 0;
    return id == "bext" || id == "iXML" || id == "cue ";
}

// The source's bext as it stands for the output: a line of coding history for this conversion
// (EBU R 98), and no loudness values, which described the stereo source.
std::vector<uint8_t> BextForOutput(std::vector<uint8_t> body, uint32_t rate, uint16_t bits, bool is_float) {
    if (body.size() < kBextFixedBytes) return body;
    const uint16_t version = static_cast<uint16_t>(body[kBextVersionAt] | body[kBextVersionAt + 1] << 8);
    if (version >= 2)
        for (size_t at = kBextLoudnessAt; at < kBextLoudnessAt + 10; at += 2) {
            body[at] = 0xFF;  // 0x7FFF: not given
            body[at + 1] = 0x7F;
        }
    // The history is text; a writer's padding NULs come off before the line is added.
    while (body.size() > kBextFixedBytes && body.back() == 0) body.pop_back();
    if (body.size() > kBextFixedBytes && body.back() != '\n') {
        body.push_back('\r');
        body.push_back('\n');
    }
    const std::string line = std::string("A=") + (is_float ? "PCM_FLOAT" : "PCM") + ",F=" + std::to_string(rate) +
                             ",W=" + std::to_string(bits) + ",M=mono,T=tavorin-chm " + CHM_VERSION + "\r\n";
    body.insert(body.end(), line.begin(), line.end());
    return body;
}

tinyxml2::XMLElement* ChildNamed(tinyxml2::XMLElement* parent, const char* name) {
    return parent ? parent->FirstChildElement(name) : nullptr;
}

std::string TextOf(tinyxml2::XMLElement* element) {
    const char* text = element ? element->GetText() : nullptr;
    return text ? text : "";
}

void SetText(tinyxml2::XMLElement* parent, const char* name, const std::string& text) {
    tinyxml2::XMLElement* element = ChildNamed(parent, name);
    if (!element) element = parent->InsertNewChildElement(name);
    element->SetText(text.c_str());
}

}  // namespace

std::vector<uint8_t> IxmlForMono(const std::vector<uint8_t>& body, int method) {
    // Recorders pad the chunk with NULs after the document.
    const auto end = std::find(body.begin(), body.end(), uint8_t{0});
    tinyxml2::XMLDocument document;
    if (document.Parse(reinterpret_cast<const char*>(body.data()), static_cast<size_t>(end - body.begin())) !=
        tinyxml2::XML_SUCCESS)
        return body;
    tinyxml2::XMLElement* list = ChildNamed(document.FirstChildElement("BWFXML"), "TRACK_LIST");
    if (!list) return body;
    // The tracks by their place in the interleave, the order of the list where it is not given.
    std::vector<tinyxml2::XMLElement*> tracks;
    for (auto* track = list->FirstChildElement("TRACK"); track; track = track->NextSiblingElement("TRACK"))
        tracks.push_back(track);
    if (tracks.size() != 2) return body;
    if (TextOf(ChildNamed(tracks[0], "INTERLEAVE_INDEX")) == "2" && TextOf(ChildNamed(tracks[1], "INTERLEAVE_INDEX")) == "1")
        std::swap(tracks[0], tracks[1]);
    const bool mix = method == static_cast<int>(ConversionMethod::MixChannels);
    tinyxml2::XMLElement* kept = mix || method == static_cast<int>(ConversionMethod::KeepLeft) ? tracks[0] : tracks[1];
    if (mix) {
        const std::string left = TextOf(ChildNamed(tracks[0], "NAME"));
        const std::string right = TextOf(ChildNamed(tracks[1], "NAME"));
        if (!left.empty() || !right.empty()) SetText(kept, "NAME", left + " + " + right);
    }
    SetText(kept, "INTERLEAVE_INDEX", "1");
    list->DeleteChild(kept == tracks[0] ? tracks[1] : tracks[0]);
    SetText(list, "TRACK_COUNT", "1");
    tinyxml2::XMLPrinter printer;
    document.Print(&printer);
    const auto* text = reinterpret_cast<const uint8_t*>(printer.CStr());
    return std::vector<uint8_t>(text, text + printer.CStrSize() - 1);
}

bool SourceChunks::Read(const std::string& path) {
    chunks_.clear();
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    std::array<uint8_t, 12> head{};
    if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadAt(fd.Get(), 0, head.data(), 12))
        return false;
    const bool riff = std::memcmp(head.data(), "RIFF", 4) == 0 && std::memcmp(head.data() + 8, "WAVE", 4) == 0;
    const bool form = std::memcmp(head.data(), "FORM", 4) == 0 &&
                      (std::memcmp(head.data() + 8, "AIFF", 4) == 0 || std::memcmp(head.data() + 8, "AIFC", 4) == 0);
    if (!riff && !form) return false;
    big_endian_ = form;
    const auto size = static_cast<uint64_t>(st.st_size);
    std::vector<SourceChunk> found;
    for (uint64_t at = 12; at + 8 <= size;) {
        std::array<uint8_t, 8> chunk{};
        if (!ReadAt(fd.Get(), at, chunk.data(), 8)) return false;
        const std::string id(reinterpret_cast<const char*>(chunk.data()), 4);
        const uint32_t bytes = Read32(chunk.data() + 4, big_endian_);
        if (at + 8 + bytes > size) break;  // a cut file: what came before still counts
        if (bytes <= kMaxChunkBytes && (id == "LIST" || IsCarried(id, {}, form))) {
            SourceChunk carried{id, std::vector<uint8_t>(bytes)};
            if (!ReadAt(fd.Get(), at + 8, carried.body.data(), bytes)) return false;
            if (IsCarried(id, carried.body, form)) found.push_back(std::move(carried));
        }
        at += 8 + uint64_t{bytes} + (bytes & 1);
    }
    chunks_ = std::move(found);
    return true;
}

bool SourceChunks::AppendTo(const std::string& output, std::optional<int> method) const {
    if (chunks_.empty()) return true;
    const UniqueFd fd(::open(output.c_str(), O_RDWR | O_CLOEXEC));
    struct stat st {};
    std::array<uint8_t, 12> head{};
    if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0 || !ReadAt(fd.Get(), 0, head.data(), 12)) return false;
    const char* magic = big_endian_ ? "FORM" : "RIFF";
    // An RF64 output keeps its sizes elsewhere; it is left as it is.
    if (std::memcmp(head.data(), magic, 4) != 0) return false;
    // The output's format, for the coding history.
    uint32_t rate = 0;
    uint16_t bits = 0;
    bool is_float = false;
    if (!big_endian_) {
        for (uint64_t at = 12; at + 8 <= static_cast<uint64_t>(st.st_size);) {
            std::array<uint8_t, 24> fmt{};
            if (!ReadAt(fd.Get(), at, fmt.data(), 8)) break;
            const uint32_t bytes = Read32(fmt.data() + 4, false);
            if (std::memcmp(fmt.data(), "fmt ", 4) == 0 && bytes >= 16 && ReadAt(fd.Get(), at + 8, fmt.data(), 16)) {
                is_float = (fmt[0] | fmt[1] << 8) == 3;
                rate = Read32(fmt.data() + 4, false);
                bits = static_cast<uint16_t>(fmt[14] | fmt[15] << 8);
                break;
            }
            at += 8 + uint64_t{bytes} + (bytes & 1);
        }
    }
    // Every chunk starts on an even offset.
    auto end = static_cast<uint64_t>(st.st_size);
    std::vector<uint8_t> tail;
    if (end & 1) tail.push_back(0);
    for (const SourceChunk& chunk : chunks_) {
        std::vector<uint8_t> body = chunk.id == "bext" ? BextForOutput(chunk.body, rate, bits, is_float) : chunk.body;
        if (chunk.id == "iXML" && method) body = IxmlForMono(body, *method);
        std::array<uint8_t, 8> header{};
        std::memcpy(header.data(), chunk.id.data(), 4);
        Put32(header.data() + 4, static_cast<uint32_t>(body.size()), big_endian_);
        tail.insert(tail.end(), header.begin(), header.end());
        tail.insert(tail.end(), body.begin(), body.end());
        if (body.size() & 1) tail.push_back(0);
    }
    const uint64_t riff_size = end + tail.size() - 8;
    if (riff_size > UINT32_MAX) return false;
    std::array<uint8_t, 4> size{};
    Put32(size.data(), static_cast<uint32_t>(riff_size), big_endian_);
    if (!WriteFileAt(fd.Get(), tail.data(), tail.size(), end) || !WriteFileAt(fd.Get(), size.data(), 4, 4)) {
        // Back to the output as it was: its own size field is written last.
        const bool restored = ::ftruncate(fd.Get(), static_cast<off_t>(end)) == 0;
        static_cast<void>(restored);  // a failed write fails the carry either way
        return false;
    }
    return true;
}

}  // namespace chm
