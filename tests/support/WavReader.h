#pragma once

// Reads the 16-bit PCM WAV files that FluidSynth's `file` driver renders, so
// tests can tell where a play was silent and where it sounded.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace korvalin::test {

struct TRender {
    int Rate = 0;
    int Channels = 0;
    std::vector<std::int16_t> Samples;

    std::size_t Frames() const { return Channels ? Samples.size() / static_cast<std::size_t>(Channels) : 0; }
    int PeakOfFrame(std::size_t frame) const {
        int peak = 0;
        for (int c = 0; c < Channels; ++c)
            peak = std::max(
                peak, std::abs(int{Samples[frame * static_cast<std::size_t>(Channels) + static_cast<std::size_t>(c)]}));
        return peak;
    }
    // The first frame whose loudest channel reaches `level`, if any.
    std::optional<std::size_t> FirstFrameAtLeast(int level) const {
        for (std::size_t f = 0; f < Frames(); ++f)
            if (PeakOfFrame(f) >= level) return f;
        return std::nullopt;
    }
    std::optional<std::size_t> LastFrameAtLeast(int level) const {
        for (std::size_t f = Frames(); f-- > 0;)
            if (PeakOfFrame(f) >= level) return f;
        return std::nullopt;
    }
    double Seconds(std::size_t frame) const { return static_cast<double>(frame) / Rate; }
    // Stretches of frames at `level` or above, in seconds; gaps shorter than a
    // tenth of a second (the troughs of a waveform) do not split a stretch.
    std::vector<std::pair<double, double>> Spans(int level) const {
        std::vector<std::pair<double, double>> spans;
        const auto bridge = static_cast<std::size_t>(Rate / 10);
        std::optional<std::size_t> start;
        std::size_t last = 0;
        for (std::size_t f = 0; f < Frames(); ++f) {
            if (PeakOfFrame(f) < level) continue;
            if (start && f - last > bridge) {
                spans.emplace_back(Seconds(*start), Seconds(last));
                start.reset();
            }
            if (!start) start = f;
            last = f;
        }
        if (start) spans.emplace_back(Seconds(*start), Seconds(last));
        return spans;
    }
};

inline std::uint32_t Le(const QByteArray& b, qsizetype at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

inline std::optional<TRender> ReadWav(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray b = file.readAll();
    if (b.size() < 12 || b.left(4) != "RIFF" || b.mid(8, 4) != "WAVE") return std::nullopt;
    TRender render;
    int bits = 0;
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const QByteArray id = b.mid(at, 4);
        const auto size = static_cast<qsizetype>(Le(b, at + 4, 4));
        const qsizetype data = at + 8;
        if (size < 0 || data + size > b.size()) return std::nullopt;
        if (id == "fmt " && size >= 16) {
            render.Channels = static_cast<int>(Le(b, data + 2, 2));
            render.Rate = static_cast<int>(Le(b, data + 4, 4));
            bits = static_cast<int>(Le(b, data + 14, 2));
        } else if (id == "data") {
            if (bits != 16 || render.Channels == 0) return std::nullopt;
            for (qsizetype i = 0; i + 1 < size; i += 2)
                render.Samples.push_back(static_cast<std::int16_t>(Le(b, data + i, 2)));
        }
        at = data + size + (size & 1);
    }
    if (render.Rate == 0) return std::nullopt;
    return render;
}

}  // namespace korvalin::test
