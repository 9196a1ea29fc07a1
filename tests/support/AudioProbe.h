#pragma once

// What sox says of an audio file (its length, its loudness), and where the
// strongest frequency of a stretch of samples lies: enough to tell that an
// audio file decodes, is not silent, and sounds at the pitch asked for.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace korvalin::test {

// The standard output of a shell command (standard error dropped); empty when it failed.
inline std::string CommandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[512];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    return ::pclose(pipe) == 0 ? out : std::string();
}

inline std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The length soxi reads from the file's own header and stream, in seconds.
inline std::optional<double> SoxiSeconds(const std::string& fileName) {
    const std::string out = CommandOutput("soxi -D " + Quoted(fileName));
    if (out.empty()) return std::nullopt;
    return std::stod(out);
}

// The RMS amplitude (0..1) of the whole file as sox decodes it; none when it does not decode.
inline std::optional<double> SoxRms(const std::string& fileName) {
    const std::string out = CommandOutput("sox " + Quoted(fileName) + " -n stat");
    const auto at = out.find("RMS     amplitude:");
    if (at == std::string::npos) return std::nullopt;
    return std::stod(out.substr(at + 18));
}

// The frequency in lo..hi Hz (1 Hz steps) with the most energy in the mono
// samples given, by the Goertzel filter.
inline double PeakFrequency(const std::vector<double>& samples, int rate, int lo = 100, int hi = 2000) {
    double best = 0;
    int bestFrequency = lo;
    for (int frequency = lo; frequency <= hi; ++frequency) {
        const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
        double s1 = 0;
        double s2 = 0;
        for (const double x : samples) {
            const double s0 = x + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        if (power > best) {
            best = power;
            bestFrequency = frequency;
        }
    }
    return bestFrequency;
}

}  // namespace korvalin::test
