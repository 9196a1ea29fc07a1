// The as-played voices: each chord into the first voice free when it starts.

#include "ScoreVoices.h"

#include <algorithm>
#include <limits>

namespace korvalin {
namespace {

// First fit by voice number in logarithmic time: a minimum tree over the voices'
// LastEnd. A plain scan would make a track with thousands of overlapping notes
// quadratic.
class TFreeVoiceFinder {
public:
    // The first voice whose LastEnd <= tick, or the number of voices when none is free.
    std::size_t FirstFreeAt(std::int64_t tick) const {
        if (FCount == 0 || FTree[1] > tick) return FCount;
        std::size_t node = 1;
        while (node < FLeaves) node = FTree[2 * node] <= tick ? 2 * node : 2 * node + 1;
        return node - FLeaves;
    }

    void SetLastEnd(std::size_t voice, std::int64_t lastEnd) {
        while (voice >= FLeaves) Grow();
        FCount = std::max(FCount, voice + 1);
        std::size_t node = voice + FLeaves;
        FTree[node] = lastEnd;
        for (node /= 2; node >= 1; node /= 2) FTree[node] = std::min(FTree[2 * node], FTree[2 * node + 1]);
    }

private:
    static constexpr std::int64_t kBusyForever = std::numeric_limits<std::int64_t>::max();

    void Grow() {
        const std::size_t leaves = FLeaves == 0 ? 8 : FLeaves * 2;
        std::vector<std::int64_t> tree(2 * leaves, kBusyForever);
        for (std::size_t i = 0; i < FCount; ++i) tree[leaves + i] = FTree[FLeaves + i];
        for (std::size_t node = leaves - 1; node >= 1; --node)
            tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
        FTree = std::move(tree);
        FLeaves = leaves;
    }

    std::vector<std::int64_t> FTree;  // 1-based heap layout; leaves start at FLeaves
    std::size_t FLeaves = 0;
    std::size_t FCount = 0;
};

}  // namespace

std::vector<TVoice> BuildVoices(const TChordList& chords) {
    std::vector<TVoice> voices;
    TFreeVoiceFinder finder;
    for (std::size_t i = 0; i < chords.Events.size(); ++i) {
        const TChordEvent& event = chords.Events[i];
        // The sustained line comes first among equal starts, so voice 1 carries it.
        const std::size_t voice = finder.FirstFreeAt(event.StartTick);
        if (voice == voices.size()) voices.emplace_back();
        voices[voice].Events.push_back(static_cast<std::uint32_t>(i));
        voices[voice].LastEnd = event.EndTick;
        finder.SetLastEnd(voice, event.EndTick);
    }
    return voices;
}

}  // namespace korvalin
