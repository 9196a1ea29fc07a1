#pragma once

// What the user may tell the performance stage of readable notation: keep the
// file's own tick timing, or correct the meter and the first downbeat it finds.

#include <cstdint>
#include <optional>

namespace korvalin {

enum class TPerformanceTiming {
    ptAuto,  // the stage runs when the file's timing does not follow its own grid
    ptFile,  // the file's ticks are the timing, as they are
};

struct TPerformanceOptions {
    TPerformanceTiming Timing = TPerformanceTiming::ptAuto;
    // A meter the user chose (3/4, 6/8); 0: the stage finds it.
    std::int32_t MeterBeats = 0;
    std::int32_t MeterBeatType = 0;
    // Where the first downbeat sounds, in seconds from the file's start, and
    // the tempo there in beats per minute (0: the stage finds it).
    std::optional<double> FirstBeatSeconds;
    double FirstBeatBpm = 0.0;

    // A correction says the file was played freely: the stage then runs.
    bool HasCorrection() const { return MeterBeats > 0 || FirstBeatSeconds.has_value(); }
};

}  // namespace korvalin
