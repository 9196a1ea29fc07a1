// Any bytes through the in-memory playback preparation: a copy or a read error.
#include <cstddef>
#include <cstdint>
#include <span>

#include "MidiPlaybackPreparer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto out = korvalin::PreparePlaybackBytes(std::span<const std::uint8_t>(data, size));
        // Each chunk of at least 8 bytes grows by at most 3 bytes of delta time.
        if (out.size() > size + 3 * (size / 8 + 1)) __builtin_trap();
    } catch (const korvalin::EReadError&) {
    }
    return 0;
}
