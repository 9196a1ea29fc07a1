// Any bytes through the in-memory rewriter: it returns a file or refuses with
// one of its own errors; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <span>

#include "MidiTransposer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    // The whole input is the file, so plain MIDI files are good seeds; its last
    // three bytes also choose the shift, the new key and the tempo, so the
    // range checks are fuzzed along with the bytes.
    const auto semitones = static_cast<std::int32_t>(data[size - 1] % 25) - 12;
    const auto fifths = static_cast<std::int32_t>(data[size - 2] % 15) - 7;
    const bool minor = (data[size - 2] & 0x80) != 0;
    const auto tempo = static_cast<std::int32_t>(data[size - 3]) * 2;
    const std::span<const std::uint8_t> file(data, size);
    try {
        const auto out = korvalin::TransposeMidiBytes(file, semitones, fifths, minor, tempo);
        // A second rewrite of our own output must never be refused as malformed,
        // as long as the source header was whole (the loader refuses shorter ones,
        // so no such file reaches the rewriter from the window).
        const bool wholeHeader = file[4] == 0 && file[5] == 0 && file[6] == 0 && file[7] >= 6;
        if (wholeHeader) {
            try {
                korvalin::TransposeMidiBytes(out, 0, fifths, minor, tempo);
            } catch (const korvalin::EReadError&) {
                __builtin_trap();
            }
        }
    } catch (const korvalin::EReadError&) {
    } catch (const korvalin::ERangeError&) {
    }
    return 0;
}
