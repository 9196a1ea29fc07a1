// Keeps the chosen tracks of a file, with every track that has no notes
// (tempo, meter), so that one part plays or sounds as it does in the whole.

#include "MidiTrackSelection.h"

#include <algorithm>
#include <string>

#include "MidiEvents.h"

namespace korvalin {

std::vector<std::uint8_t> KeepTrackChunks(std::span<const std::uint8_t> bytes, const TMidiFile& midi,
                                          std::span<const std::int32_t> indexes) {
    if (indexes.empty()) throw ERangeError("No track was chosen.");
    std::vector<bool> keep(midi.Tracks().size() + 1, false);
    for (const auto& track : midi.Tracks()) keep[static_cast<std::size_t>(track->Index)] = track->Notes().empty();
    for (const std::int32_t index : indexes) {
        const auto found = std::find_if(midi.Tracks().begin(), midi.Tracks().end(),
                                        [index](const auto& track) { return track->Index == index; });
        if (found == midi.Tracks().end())
            throw ERangeError("The file has no track " + std::to_string(index) + "; it has " +
                              std::to_string(midi.Tracks().size()) + ".");
        if ((*found)->Notes().empty()) throw ERangeError("Track " + std::to_string(index) + " has no notes.");
        keep[static_cast<std::size_t>(index)] = true;
    }

    // The loader has walked these chunks already, so their lengths hold.
    const std::size_t firstChunk = 8 + ReadBigEndian(bytes, 4, 4);
    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(firstChunk));
    std::size_t pos = firstChunk;
    std::uint16_t kept = 0;
    for (std::size_t n = 1; n <= midi.Tracks().size(); ++n) {
        const std::size_t end = pos + 8 + ReadBigEndian(bytes, pos + 4, 4);
        if (keep[n]) {
            out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                       bytes.begin() + static_cast<std::ptrdiff_t>(end));
            ++kept;
        }
        pos = end;
    }
    // Format 0 has one chunk; several kept chunks play side by side as format 1.
    if (kept > 1) out[9] = 1;
    out[10] = static_cast<std::uint8_t>(kept >> 8);
    out[11] = static_cast<std::uint8_t>(kept & 0xFF);
    return out;
}

}  // namespace korvalin
