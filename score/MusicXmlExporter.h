#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "MidiParser.h"

namespace korvalin {

// A refusal of the score exporter; the message is a fixed English text.
class EMusicXmlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most <note> elements (notes and rests together) one document may hold.
inline constexpr std::int64_t kMaxScoreNoteElements = 2'000'000;

// Builds the whole MusicXML 4.0 partwise document for `tracks` (one part each,
// in the order given) in memory and returns its bytes (UTF-8, CR LF line ends).
// `fileName` is used only to name the work when the file has no title. A score
// of more than `maxNoteElements` notes and rests is refused before it is built
// (a smaller limit lets the fuzzer explore quickly).
std::string BuildMusicXmlText(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                              std::string_view fileName, std::int32_t grid,
                              std::int64_t maxNoteElements = kMaxScoreNoteElements);

// Builds the document and writes it to `fileName` in one piece; a refusal
// (EMusicXmlError) or a failed write (EFileError) leaves the old file as it was.
void BuildMusicXml(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks, const std::string& fileName,
                   std::int32_t grid);

}  // namespace korvalin
