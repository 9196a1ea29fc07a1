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

// The checks below judge the exporter's output; they are no part of what is
// being explored, and instrumented they cost more than the export itself. So
// they walk the text with plain indexes, calling nothing that libFuzzer traces.
#define KORVALIN_NOT_FUZZED __attribute__((no_sanitize("coverage")))

KORVALIN_NOT_FUZZED bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == ':';
}

KORVALIN_NOT_FUZZED bool StartsWith(const char* text, std::size_t size, std::size_t at, const char* prefix) {
    for (std::size_t k = 0; prefix[k] != '\0'; ++k)
        if (at + k >= size || text[at + k] != prefix[k]) return false;
    return true;
}

// Character data in text[begin, end): UTF-8 only, no character XML 1.0
// forbids, no bare '<', and '&' only as one of the five predefined entities.
KORVALIN_NOT_FUZZED bool IsCharData(const char* text, std::size_t begin, std::size_t end) {
    static const char* const entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    std::size_t i = begin;
    while (i < end) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '<') return false;
        if (c == '&') {
            std::size_t length = 0;
            for (const char* entity : entities) {
                if (!StartsWith(text, end, i, entity)) continue;
                while (entity[length] != '\0') ++length;
                break;
            }
            if (length == 0) return false;
            i += length;
            continue;
        }
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            ++i;
            continue;
        }
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || i + length > end) return false;
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

KORVALIN_NOT_FUZZED std::size_t Find(const char* text, std::size_t size, std::size_t from, char wanted) {
    while (from < size && text[from] != wanted) ++from;
    return from;
}

KORVALIN_NOT_FUZZED bool SameName(const char* text, std::size_t a, std::size_t aLength, std::size_t b,
                                  std::size_t bLength) {
    if (aLength != bLength) return false;
    for (std::size_t k = 0; k < aLength; ++k)
        if (text[a + k] != text[b + k]) return false;
    return true;
}

// Well-formedness of the exporter's documents: the XML declaration and the
// document type, then one root element with properly nested children.
KORVALIN_NOT_FUZZED bool IsWellFormed(const std::string& document) {
    const char* doc = document.data();
    const std::size_t size = document.size();
    static const char declaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n";
    if (!StartsWith(doc, size, 0, declaration) || !StartsWith(doc, size, sizeof declaration - 1, "<!DOCTYPE"))
        return false;
    std::size_t i = sizeof declaration - 1;
    while ((i = Find(doc, size, i, '>')) < size && !StartsWith(doc, size, i, ">\r\n")) ++i;
    if (i >= size) return false;
    i += 3;
    struct TName {
        std::size_t Start;
        std::size_t Length;
    };
    std::vector<TName> open;
    bool rootSeen = false;
    while (i < size) {
        const std::size_t lt = Find(doc, size, i, '<');
        if (!IsCharData(doc, i, lt)) return false;
        if (open.empty())
            for (std::size_t k = i; k < lt; ++k)
                if (doc[k] != ' ' && doc[k] != '\r' && doc[k] != '\n' && doc[k] != '\t') return false;
        if (lt >= size) break;
        i = lt + 1;
        const bool closing = i < size && doc[i] == '/';
        if (closing) ++i;
        const std::size_t nameStart = i;
        while (i < size && IsNameChar(doc[i])) ++i;
        const std::size_t nameLength = i - nameStart;
        if (nameLength == 0) return false;
        if (closing) {
            if (open.empty() || !SameName(doc, open.back().Start, open.back().Length, nameStart, nameLength) ||
                i >= size || doc[i] != '>')
                return false;
            open.pop_back();
            ++i;
            continue;
        }
        if (open.empty() && rootSeen) return false;
        while (i < size && doc[i] == ' ') {
            ++i;
            while (i < size && IsNameChar(doc[i])) ++i;
            if (!StartsWith(doc, size, i, "=\"")) return false;
            const std::size_t valueEnd = Find(doc, size, i + 2, '"');
            if (valueEnd >= size || !IsCharData(doc, i + 2, valueEnd)) return false;
            i = valueEnd + 1;
        }
        if (StartsWith(doc, size, i, "/>")) {
            i += 2;
            rootSeen = true;
        } else if (i < size && doc[i] == '>') {
            ++i;
            open.push_back({nameStart, nameLength});
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
        // spend the fuzzer's time on writing text instead of on new inputs. A
        // few hundred notes and rests (and so at most as many measures a part,
        // each holding at least a rest) keep an input near a millisecond and
        // still reach every step: the long delta times of a few bytes that made
        // hundreds of thousands of measures are refused before any is built.
        korvalin::TExportOptions options;
        options.MaxNoteElements = 512;
        // As played, for reading on the given grid, and for reading on the
        // grid each part chooses, with its report.
        korvalin::TConversionReport report;
        const std::size_t way = size / 3 % 3;
        if (way > 0) {
            options.Notation = korvalin::TNotationMode::nmReadable;
            options.AutoGrid = way == 2;
            options.Report = &report;
        }
        doc = korvalin::BuildMusicXmlText(midi, tracks, "fuzz.musicxml", grid, options);
        if (way > 0 && report.Parts.size() != tracks.size()) std::abort();
    } catch (const korvalin::EMusicXmlError& e) {
        if (!IsExporterMessage(e.what())) std::abort();
        return 0;
    }
    if (!IsWellFormed(doc)) std::abort();
    return 0;
}
