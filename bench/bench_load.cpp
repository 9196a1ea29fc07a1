// Loader throughput on a large file: 1,000,000 notes over 16 tracks, parsed
// from memory so the numbers are the parser's, not the disk's.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "MidiBuilder.h"
#include "MidiParser.h"

namespace {

constexpr int kTracks = 16;
constexpr int kNotesPerTrack = 62500;

// Notes of 60 ticks one after another on each track's own channel; half the
// tracks end their notes with note-on velocity 0 under running status, as many
// sequencers write them, the other half with explicit note-offs.
const korvalin::test::Bytes& LargeFile() {
    static const korvalin::test::Bytes bytes = [] {
        korvalin::test::MidiBuilder midi(1, 480);
        for (int t = 0; t < kTracks; ++t) {
            auto& track = midi.Track();
            if (t == 0) track.Tempo(0, 500000).TimeSig(0, 4, 2).KeySig(0, 0, false);
            track.Name("Part " + std::to_string(t + 1)).Program(0, t, t * 8);
            const bool running = t % 2 == 1;
            if (running) track.Event(0, {static_cast<std::uint8_t>(0x90 | t), 0, 0});
            for (int i = 0; i < kNotesPerTrack; ++i) {
                const auto pitch = static_cast<std::uint8_t>(36 + (i * 7 + t) % 60);
                const auto velocity = static_cast<std::uint8_t>(40 + i % 80);
                if (running) track.Event(0, {pitch, velocity}).Event(60, {pitch, 0});
                else track.NoteOn(0, t, pitch, velocity).NoteOff(60, t, pitch);
            }
            track.End();
        }
        return midi.Bytes();
    }();
    return bytes;
}

void BM_LoadLargeFile(benchmark::State& state) {
    const auto& bytes = LargeFile();
    std::size_t notes = 0;
    for (auto _ : state) {
        korvalin::TMidiFile file;
        file.LoadFromBytes(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
        notes = 0;
        for (const auto& track : file.Tracks()) notes += track->Notes().size();
        benchmark::DoNotOptimize(notes);
    }
    if (notes != static_cast<std::size_t>(kTracks) * kNotesPerTrack) {
        state.SkipWithError("the generated file did not load as 1,000,000 notes");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
    state.counters["notes/s"] =
        benchmark::Counter(static_cast<double>(notes), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
}
BENCHMARK(BM_LoadLargeFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
