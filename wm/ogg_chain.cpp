#include "wm/ogg_chain.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/unique_fd.h"

namespace chm {
namespace {

constexpr size_t kPageHeader = 27;
constexpr uint8_t kBeginningOfStream = 0x02;

// What a link's first audio packet says of its audio.
struct LinkFormat {
    std::string codec;  // "Vorbis", "Opus", or the packet's first bytes for any other
    int rate = 0;       // 0 where the codec decodes every link at one rate (Opus)
    int channels = 0;
    bool operator==(const LinkFormat&) const = default;
};

uint32_t LoadU32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

std::optional<LinkFormat> FormatOfPacket(const uint8_t* p, size_t n) {
    if (n >= 16 && p[0] == 0x01 && std::memcmp(p + 1, "vorbis", 6) == 0)
        return LinkFormat{"Vorbis", static_cast<int>(LoadU32(p + 12)), p[11]};
    if (n >= 10 && std::memcmp(p, "OpusHead", 8) == 0) return LinkFormat{"Opus", 0, p[9]};
    if (n >= 5 && p[0] == 0x7F && std::memcmp(p + 1, "FLAC", 4) == 0) return LinkFormat{"FLAC", 0, 0};
    if (n >= 8 && std::memcmp(p, "Speex   ", 8) == 0) return LinkFormat{"Speex", 0, 0};
    return std::nullopt;  // not audio (a video or metadata stream of the link)
}

std::string Describe(const LinkFormat& f, bool codec) {
    std::string text = codec ? f.codec : std::string();
    if (f.rate > 0) text += (text.empty() ? "" : " ") + std::to_string(f.rate) + " Hz";
    const std::string space = text.empty() ? "" : " ";
    if (f.channels == 1) text += space + "mono";
    else if (f.channels == 2) text += space + "stereo";
    else if (f.channels > 2) text += space + std::to_string(f.channels) + " channels";
    return text;
}

}  // namespace

std::string OggChainProblem(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.IsValid()) return {};
    std::optional<LinkFormat> first;
    uint32_t first_serial = 0;
    int links = 0;                 // with audio
    bool other_serial = false;     // a later link's audio stream has another serial number
    bool in_headers = false;       // the pages read so far of this link are all its starts
    bool link_has_audio = false;
    uint64_t at = 0;
    for (;;) {
        std::array<uint8_t, kPageHeader + 255> header{};
        const ssize_t got = ::pread(fd.Get(), header.data(), kPageHeader, static_cast<off_t>(at));
        if (got != static_cast<ssize_t>(kPageHeader) || std::memcmp(header.data(), "OggS", 4) != 0) break;
        const size_t segments = header[26];
        if (::pread(fd.Get(), header.data() + kPageHeader, segments, static_cast<off_t>(at + kPageHeader)) !=
            static_cast<ssize_t>(segments))
            break;
        size_t body = 0;
        size_t first_packet = 0;
        bool first_packet_done = false;
        for (size_t i = 0; i < segments; ++i) {
            const uint8_t lace = header[kPageHeader + i];
            body += lace;
            if (!first_packet_done) first_packet += lace;
            if (lace < 255) first_packet_done = true;
        }
        const uint64_t body_at = at + kPageHeader + segments;
        if ((header[5] & kBeginningOfStream) != 0) {
            // A stream that begins after other pages starts a new link.
            if (!in_headers) link_has_audio = false;
            in_headers = true;
            std::array<uint8_t, 32> packet{};
            const size_t want = std::min(first_packet, packet.size());
            const ssize_t read = ::pread(fd.Get(), packet.data(), want, static_cast<off_t>(body_at));
            const std::optional<LinkFormat> format =
                read > 0 ? FormatOfPacket(packet.data(), static_cast<size_t>(read)) : std::nullopt;
            if (format && !link_has_audio) {
                link_has_audio = true;
                ++links;
                const uint32_t serial = LoadU32(header.data() + 14);
                if (!first) {
                    first = format;
                    first_serial = serial;
                } else if (serial != first_serial) {
                    other_serial = true;
                }
                if (!(*first == *format))
                {
                    const bool codecs = first->codec != format->codec;
                    return "the stream changes its format part-way (" + Describe(*first, codecs) + ", then " +
                           Describe(*format, codecs) + ")";
                }
            }
        } else {
            in_headers = false;
        }
        at = body_at + body;
    }
    // Links of one format that continue one stream's serial number are decoded whole; a link
    // that starts a stream of its own ends the decode after the first, without a word.
    if (other_serial)
        return "the file joins " + std::to_string(links) +
               " Ogg streams end to end (a chained file), which cannot be converted whole";
    return {};
}

}  // namespace chm
