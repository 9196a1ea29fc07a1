// Readable notation of a ten-minute free performance: about 10,000 notes
// played with a swaying tempo under one default tempo map, so the performance
// stage finds the beat, the meter and the key before the score is written.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "MidiBuilder.h"
#include "MidiParser.h"
#include "MusicXmlExporter.h"

namespace {

// 1,000 bars of 3/4 at about 100 a minute (ten minutes): a bass note on each
// downbeat, a two-note chord on the other beats, a melody in eighths; the
// beat sways by a tenth and every note is placed a little unevenly.
const korvalin::test::Bytes& TenMinutes() {
    static const korvalin::test::Bytes bytes = [] {
        struct TEvent {
            std::uint32_t Tick;
            bool On;
            int Pitch;
        };
        std::vector<TEvent> events;
        std::uint32_t seed = 99;
        const auto jitter = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<double>(seed >> 16) / 65536.0 - 0.5;
        };
        double time = 0.5;
        for (int bar = 0; bar < 1000; ++bar) {
            const int root = (bar % 4) * 5 % 12;
            for (int beat = 0; beat < 3; ++beat) {
                const double period = 0.6 * (1.0 + 0.1 * std::sin((bar * 3 + beat) / 12.0));
                const auto add = [&](int pitch, double at, double length) {
                    const double start = at + 0.02 * jitter();
                    events.push_back({static_cast<std::uint32_t>(std::lround(start * 960)), true, pitch});
                    events.push_back({static_cast<std::uint32_t>(std::lround((start + length) * 960)), false, pitch});
                };
                if (beat == 0) add(40 + root, time, 3 * period * 0.9);
                else {
                    add(52 + root, time, period * 0.8);
                    add(56 + root, time, period * 0.8);
                }
                add(72 + (bar + beat) % 7, time, period * 0.45);
                add(74 + (bar * 2 + beat) % 5, time + period / 2, period * 0.45);
                time += period;
            }
        }
        std::stable_sort(events.begin(), events.end(), [](const TEvent& a, const TEvent& b) {
            return a.Tick != b.Tick ? a.Tick < b.Tick : !a.On && b.On;
        });
        korvalin::test::MidiBuilder midi(1, 480);
        auto& track = midi.Track().Tempo(0, 500000).TimeSig(0, 4, 2).Name("Piano");
        std::uint32_t last = 0;
        for (const auto& event : events) {
            if (event.On) track.NoteOn(event.Tick - last, 0, event.Pitch, 80);
            else track.NoteOff(event.Tick - last, 0, event.Pitch);
            last = event.Tick;
        }
        track.End();
        return midi.Bytes();
    }();
    return bytes;
}

void ReadableFreePerformance(benchmark::State& state) {
    korvalin::TMidiFile file;
    file.LoadFromBytes(TenMinutes());
    std::vector<const korvalin::TMidiTrack*> tracks;
    std::size_t notes = 0;
    for (const auto& track : file.Tracks())
        if (!track->Notes().empty()) {
            tracks.push_back(track.get());
            notes += track->Notes().size();
        }
    korvalin::TExportOptions options;
    options.Notation = korvalin::TNotationMode::nmReadable;
    options.AutoGrid = true;
    for (auto _ : state)
        benchmark::DoNotOptimize(korvalin::BuildMusicXmlText(file, tracks, "played.musicxml", 16, options));
    state.counters["notes"] = static_cast<double>(notes);
}
BENCHMARK(ReadableFreePerformance)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
