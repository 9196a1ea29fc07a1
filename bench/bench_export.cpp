// Load + export of a generated 1,000,000-note file: the window's Show score on
// a very large file. Peak memory is read from outside (/usr/bin/time -v).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <unistd.h>

#include "MidiBuilder.h"
#include "MidiParser.h"
#include "MusicXmlExporter.h"

namespace {

constexpr int kTracks = 4;
constexpr int kChordsPerTrack = 125000;  // two notes each: 1,000,000 notes in all

// Four parts from high to low, a two-note chord on every beat, played slightly
// early or late and detached by varying amounts, so every note goes through rounding;
// every eighth beat of the upper part is a held note under a short one, so
// there are voices and rests to write as well.
const korvalin::test::Bytes& LargeFile() {
    static const korvalin::test::Bytes bytes = [] {
        korvalin::test::MidiBuilder midi(1, 480);
        std::uint32_t seed = 12345;
        const auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 16;
        };
        for (int t = 0; t < kTracks; ++t) {
            auto& track = midi.Track();
            if (t == 0) track.Tempo(0, 500000).TimeSig(0, 4, 2).KeySig(0, -1, false);
            track.Name("Part " + std::to_string(t + 1));
            std::uint32_t last = 0;
            for (int i = 0; i < kChordsPerTrack; ++i) {
                const std::uint32_t beat = static_cast<std::uint32_t>(i) * 480;
                const int low = 72 - 12 * t + static_cast<int>(next() % 12);
                const std::uint32_t start = beat + (next() % 11);
                const bool split = t == 0 && i % 8 == 7;
                const std::uint32_t end = start + (split ? 230 : 400 + next() % 60);
                track.NoteOn(start - last, t, low, 80).NoteOn(0, t, low + 4, 80);
                last = start;
                if (split) {
                    // the upper note stops after an eighth under the held lower one: two voices
                    track.NoteOff(end - last, t, low + 4);
                    last = end;
                    track.NoteOff(beat + 470 - last, t, low);
                    last = beat + 470;
                } else {
                    track.NoteOff(end - last, t, low).NoteOff(0, t, low + 4);
                    last = end;
                }
            }
            track.End();
        }
        return midi.Bytes();
    }();
    return bytes;
}

std::vector<const korvalin::TMidiTrack*> TracksWithNotes(const korvalin::TMidiFile& file) {
    std::vector<const korvalin::TMidiTrack*> tracks;
    for (const auto& track : file.Tracks())
        if (!track->Notes().empty()) tracks.push_back(track.get());
    return tracks;
}

std::size_t NoteCount(const korvalin::TMidiFile& file) {
    std::size_t notes = 0;
    for (const auto& track : file.Tracks()) notes += track->Notes().size();
    return notes;
}

// Load and build the document in memory: the exporter's own work.
void LoadAndExportInMemory(benchmark::State& state, const korvalin::TExportOptions& options) {
    const auto& bytes = LargeFile();
    std::size_t notes = 0;
    std::size_t size = 0;
    for (auto _ : state) {
        korvalin::TMidiFile file;
        file.LoadFromBytes(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
        notes = NoteCount(file);
        const std::string doc = korvalin::BuildMusicXmlText(file, TracksWithNotes(file), "bench.musicxml", 16, options);
        size = doc.size();
        benchmark::DoNotOptimize(doc.data());
    }
    state.counters["notes"] = static_cast<double>(notes);
    state.counters["document_MB"] = static_cast<double>(size) / 1e6;
    state.counters["notes_per_second"] = benchmark::Counter(
        static_cast<double>(notes) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LoadAndExportInMemory(benchmark::State& state) { LoadAndExportInMemory(state, {}); }
BENCHMARK(BM_LoadAndExportInMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same written for reading: staves, voices, spelling and the beat.
void BM_LoadAndExportReadableInMemory(benchmark::State& state) {
    korvalin::TExportOptions options;
    options.Notation = korvalin::TNotationMode::nmReadable;
    LoadAndExportInMemory(state, options);
}
BENCHMARK(BM_LoadAndExportReadableInMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// For reading on the grid each part chooses, with tuplets, and the report.
void BM_LoadAndExportReadableAutoGridInMemory(benchmark::State& state) {
    korvalin::TConversionReport report;
    korvalin::TExportOptions options;
    options.Notation = korvalin::TNotationMode::nmReadable;
    options.AutoGrid = true;
    options.Report = &report;
    LoadAndExportInMemory(state, options);
}
BENCHMARK(BM_LoadAndExportReadableAutoGridInMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same with the document written to a file, as Show score and Export do.
void BM_LoadAndExportToFile(benchmark::State& state) {
    const auto& bytes = LargeFile();
    const std::string target =
        (std::filesystem::temp_directory_path() / ("korvalin-bench-" + std::to_string(::getpid()) + ".musicxml"))
            .string();
    std::size_t notes = 0;
    for (auto _ : state) {
        korvalin::TMidiFile file;
        file.LoadFromBytes(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
        notes = NoteCount(file);
        korvalin::BuildMusicXml(file, TracksWithNotes(file), target, 16);
    }
    std::filesystem::remove(target);
    state.counters["notes_per_second"] = benchmark::Counter(
        static_cast<double>(notes) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadAndExportToFile)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
