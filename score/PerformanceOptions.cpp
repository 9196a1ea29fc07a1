// The user's corrections to the performance stage, read from the text the
// command line and the window take them in.

#include "PerformanceOptions.h"

#include <charconv>
#include <cmath>
#include <string>

namespace korvalin {
namespace {

// A number of the whole text, or nothing.
std::optional<double> ParseNumber(std::string_view text) {
    std::string plain(text);
    for (char& c : plain)
        if (c == ',') c = '.';
    double value = 0.0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (plain.empty() || result.ec != std::errc() || result.ptr != plain.data() + plain.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

bool ParseMeterCorrection(std::string_view text, TPerformanceOptions& out) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) return false;
    const auto beats = ParseNumber(text.substr(0, slash));
    const auto type = ParseNumber(text.substr(slash + 1));
    const bool power = type && (*type == 1 || *type == 2 || *type == 4 || *type == 8 || *type == 16 || *type == 32);
    if (!beats || !power || *beats != std::floor(*beats) || *beats < 1 || *beats > 32) return false;
    out.MeterBeats = static_cast<std::int32_t>(*beats);
    out.MeterBeatType = static_cast<std::int32_t>(*type);
    return true;
}

bool ParseFirstBeatCorrection(std::string_view text, TPerformanceOptions& out) {
    const auto colon = text.find(':');
    const auto seconds = ParseNumber(text.substr(0, colon));
    const bool withTempo = colon != std::string_view::npos;
    const auto bpm = withTempo ? ParseNumber(text.substr(colon + 1)) : std::optional<double>(0.0);
    if (!seconds || *seconds < 0 || !bpm || (withTempo && (*bpm < kSlowestGivenBpm || *bpm > kFastestGivenBpm)))
        return false;
    out.FirstBeatSeconds = *seconds;
    out.FirstBeatBpm = *bpm;
    return true;
}

}  // namespace korvalin
