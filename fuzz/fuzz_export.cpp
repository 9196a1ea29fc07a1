// Any bytes through the loader and, when they load and have notes, through the
// exporter with every track that has notes: the result must be a well-formed
// document or one of the exporter's own refusals.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MidiParser.h"
#include "MusicXmlExporter.h"

namespace {

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == ':';
}

// Character data: UTF-8 only, no character XML 1.0 forbids, no bare '<', and
// '&' only as one of the five predefined entities.
bool IsCharData(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '<') return false;
        if (c == '&') {
            bool known = false;
            for (const std::string_view entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
                if (text.substr(i, entity.size()) == entity) {
                    i += entity.size();
                    known = true;
                    break;
                }
            if (!known) return false;
            continue;
        }
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            ++i;
            continue;
        }
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || i + length > text.size()) return false;
        std::uint32_t code = c & (length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u);
        for (std::size_t k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            code = (code << 6) | (t & 0x3Fu);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF)
            return false;
        i += length;
    }
    return true;
}

// Well-formedness of the exporter's documents: the XML declaration and the
// document type, then one root element with properly nested children.
bool IsWellFormed(std::string_view doc) {
    const std::string_view declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n";
    if (doc.substr(0, declaration.size()) != declaration) return false;
    std::size_t i = declaration.size();
    if (doc.substr(i, 9) != "<!DOCTYPE") return false;
    i = doc.find(">\r\n", i);
    if (i == std::string_view::npos) return false;
    i += 3;
    std::vector<std::string_view> open;
    bool rootSeen = false;
    while (i < doc.size()) {
        const std::size_t lt = doc.find('<', i);
        const std::string_view text = doc.substr(i, lt == std::string_view::npos ? std::string_view::npos : lt - i);
        if (!IsCharData(text)) return false;
        if (open.empty() && text.find_first_not_of(" \r\n\t") != std::string_view::npos) return false;
        if (lt == std::string_view::npos) break;
        i = lt + 1;
        const bool closing = i < doc.size() && doc[i] == '/';
        if (closing) ++i;
        const std::size_t nameStart = i;
        while (i < doc.size() && IsNameChar(doc[i])) ++i;
        const std::string_view name = doc.substr(nameStart, i - nameStart);
        if (name.empty()) return false;
        if (closing) {
            if (open.empty() || open.back() != name || i >= doc.size() || doc[i] != '>') return false;
            open.pop_back();
            ++i;
            continue;
        }
        if (open.empty() && rootSeen) return false;
        while (i < doc.size() && doc[i] == ' ') {
            ++i;
            while (i < doc.size() && IsNameChar(doc[i])) ++i;
            if (doc.substr(i, 2) != "=\"") return false;
            const std::size_t valueEnd = doc.find('"', i + 2);
            if (valueEnd == std::string_view::npos || !IsCharData(doc.substr(i + 2, valueEnd - i - 2))) return false;
            i = valueEnd + 1;
        }
        if (doc.substr(i, 2) == "/>") {
            i += 2;
            rootSeen = true;
        } else if (i < doc.size() && doc[i] == '>') {
            ++i;
            open.push_back(name);
            rootSeen = true;
        } else {
            return false;
        }
    }
    return rootSeen && open.empty();
}

bool IsExporterMessage(std::string_view message) {
    for (const std::string_view known :
         {"Select at least one musical track", "The selected quantization grid is incompatible with this MIDI file",
          "Invalid time signature", "The selected track contains no notes", "The score is too large to notate"})
        if (message == known) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korvalin::TMidiFile midi;
    try {
        midi.LoadFromBytes(std::span<const std::uint8_t>(data, size));
    } catch (const korvalin::EMidiError&) {
        return 0;
    }
    std::vector<const korvalin::TMidiTrack*> tracks;
    for (const auto& track : midi.Tracks())
        if (!track->Notes().empty()) tracks.push_back(track.get());
    if (tracks.empty()) return 0;
    const std::int32_t grids[] = {8, 16, 32};
    const std::int32_t grid = grids[size % 3];
    std::string doc;
    try {
        // The full limit allows documents of hundreds of megabytes, which would
        // spend the fuzzer's time on writing text instead of on new inputs.
        doc = korvalin::BuildMusicXmlText(midi, tracks, "fuzz.musicxml", grid, 50'000);
    } catch (const korvalin::EMusicXmlError& e) {
        if (!IsExporterMessage(e.what())) std::abort();
        return 0;
    }
    if (!IsWellFormed(doc)) std::abort();
    return 0;
}
