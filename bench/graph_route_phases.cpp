// Where the time of a conversion goes, phase by phase, with the steps the conversion worker runs
// (wall and processor seconds, each phase's best of CHM_BENCH_RUNS runs, 3 by default) on the
// files given. Through the decoding graph: the load (decoding straight into the stores), the
// fold (mix), the temporary mono WAV and the encode; and, for comparison, the decode into a WAV
// file that the load used to go through. MP3: libmpg123's decode into a WAV file alone, the
// load (that decode and the WAV read back into the stores), the fold and the save (LAME and the
// tags). Used by convert_formats.sh.
#include <sys/resource.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "audio/audio_file_type.h"
#include "audio/mp3_decoder.h"
#include "audio/mp3_document.h"
#include "audio/temp_file.h"
#include "audio/wav_file.h"
#include "processing/channel_ops.h"
#include "wm/decoding_graph.h"
#include "formats/format_document.h"
#include "formats/format_presets.h"
#include "wm/wma_document.h"

namespace chm {
namespace {

// The documents' own encode step, reached from here.
struct WmaRoute : VeWmaDocument {
    using VeAudioDocument::AudioData;
    using VeGraphDocument::DecodeDepth;
    using VeWmaDocument::Encode;
};
struct FormatRoute : VeFormatDocument {
    using VeFormatDocument::VeFormatDocument;
    using VeAudioDocument::AudioData;
    using VeFormatDocument::DecodeDepth;
    using VeFormatDocument::Encode;
};

struct Clock {
    double wall = 0.0;
    double cpu = 0.0;
};

Clock Now() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return {std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

constexpr int kPhases = 5;
constexpr const char* kGraphPhases[kPhases] = {"decode to wav (old)", "load", "fold", "mono wav", "encode"};
constexpr const char* kMp3Phases[kPhases] = {"decode to wav", "load", "fold", "save", nullptr};

void Spent(const Clock (&marks)[kPhases + 1], Clock (&spent)[kPhases]) {
    for (int i = 0; i < kPhases; ++i)
        spent[i] = {marks[i + 1].wall - marks[i].wall, marks[i + 1].cpu - marks[i].cpu};
}

// One conversion, phase by phase; false when a phase fails.
template <typename Route>
bool RunOnce(Route& route, const std::string& input, const std::string& output, Clock (&spent)[kPhases]) {
    TemporaryFile decoded;
    TemporaryFile mono;
    if (!decoded.Reserve("wav") || !mono.Reserve("wav")) return false;
    Clock marks[kPhases + 1];
    marks[0] = Now();
    // What the route did before it loaded the decoder's samples straight into the stores.
    bool ok = DecodeToWav(input, decoded.Path(), nullptr, route.DecodeDepth());
    marks[1] = Now();
    ok = ok && route.Load(input, nullptr);
    marks[2] = Now();
    ok = ok && route.FoldToMono(static_cast<int>(ConversionMethod::MixChannels), nullptr);
    marks[3] = Now();
    ok = ok && SaveWav(route.AudioData(), mono.Path(), nullptr);
    marks[4] = Now();
    ok = ok && route.Encode(mono.Path(), output, route.AudioData(), nullptr);
    marks[5] = Now();
    Spent(marks, spent);
    return ok;
}

bool RunOnce(VeMp3Document& route, const std::string& input, const std::string& output, Clock (&spent)[kPhases]) {
    TemporaryFile decoded;
    if (!decoded.Reserve("wav")) return false;
    Clock marks[kPhases + 1];
    marks[0] = Now();
    bool ok = DecodeMp3ToWav(decoded.Path(), input, nullptr);
    marks[1] = Now();
    ok = ok && route.Load(input, nullptr);
    marks[2] = Now();
    ok = ok && route.FoldToMono(static_cast<int>(ConversionMethod::MixChannels), nullptr);
    marks[3] = Now();
    ok = ok && route.Save(output, nullptr);
    marks[4] = marks[5] = Now();
    Spent(marks, spent);
    return ok;
}

// CHM_BENCH_RUNS, 3 by default.
int Runs() {
    const char* text = std::getenv("CHM_BENCH_RUNS");
    const int runs = text ? std::atoi(text) : 0;
    return runs > 0 ? runs : 3;
}

template <typename MakeRoute>
bool Measure(const std::string& input, MakeRoute make_route, const char* const (&names)[kPhases]) {
    TemporaryFile output;
    const std::string extension = input.substr(input.find_last_of('.') + 1);
    if (!output.Reserve(extension)) return false;
    // Each phase's best run: a machine busy with other work disturbs single phases, not whole runs.
    Clock best[kPhases];
    for (Clock& phase : best) phase.wall = -1.0;
    const int runs = Runs();
    for (int run = 0; run < runs; ++run) {
        auto route = make_route();
        Clock spent[kPhases];
        if (!RunOnce(*route, input, output.Path(), spent)) {
            std::fprintf(stderr, "%s: a phase failed\n", input.c_str());
            return false;
        }
        for (int i = 0; i < kPhases; ++i)
            if (best[i].wall < 0.0 || spent[i].wall < best[i].wall) best[i] = spent[i];
    }
    std::printf("  %s, phase by phase (best of %d each: wall seconds, processor seconds)\n   ", input.c_str(), runs);
    double total = 0.0;
    for (int i = 0; i < kPhases && names[i]; ++i) {
        std::printf(" %s %.3f (%.2f)", names[i], best[i].wall, best[i].cpu);
        total += best[i].wall;
    }
    std::printf("   total %.3f\n", total);
    return true;
}

}  // namespace
}  // namespace chm

int main(int argc, char** argv) {
    using namespace chm;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::string input = argv[i];
        const AudioFileType type = GetAudioFileType(input);
        if (type == AudioFileType::Wma) {
            ok = Measure(input, [] { return std::make_unique<WmaRoute>(); }, kGraphPhases) && ok;
        } else if (type == AudioFileType::Mp3) {
            ok = Measure(input, [] { return std::make_unique<VeMp3Document>(); }, kMp3Phases) && ok;
        } else if (const FormatPreset* preset = FindFormatPreset(type)) {
            ok = Measure(input, [preset] { return std::make_unique<FormatRoute>(*preset); }, kGraphPhases) && ok;
        } else {
            std::fprintf(stderr, "%s: not a format this measures\n", input.c_str());
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
