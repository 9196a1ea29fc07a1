#pragma once

// What the user may tell the performance stage of readable notation: keep the
// file's own tick timing, or correct the meter and the first downbeat it finds.

#include <cstdint>
#include <optional>
#include <string_view>

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

// The tempo a first-beat correction may give, in beats per minute.
inline constexpr double kSlowestGivenBpm = 20.0;
inline constexpr double kFastestGivenBpm = 400.0;

// "3/4", "6/8": a meter a score can write (1 to 32 beats of a whole to a
// 32nd). Sets the meter of `out` and returns true, or leaves it as it was.
bool ParseMeterCorrection(std::string_view text, TPerformanceOptions& out);

// "12.5" or "12.5:96": the first downbeat in seconds from the file's start,
// and the tempo there. A decimal comma is read as a point, as a musician
// typing in a Russian locale writes it. Sets `out` and returns true, or
// leaves it as it was.
bool ParseFirstBeatCorrection(std::string_view text, TPerformanceOptions& out);

}  // namespace korvalin
