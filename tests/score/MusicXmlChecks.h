#pragma once

// Reading exported documents back in the tests: the public corpus, a reader
// that checks every voice of every measure with its own arithmetic, the notes
// a document starts and where, and validation against the MusicXML schema.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "MidiParser.h"
#include "ScoreTestSupport.h"

namespace korvalin::test {

namespace fs = std::filesystem;

inline std::vector<fs::path> CorpusMidiFiles() {
    std::vector<fs::path> files;
    const fs::path root = CorpusDir() / "midi";
    if (!fs::is_directory(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".mid" || ext == ".midi" || ext == ".kar") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The integer between `open` and the next '<' when the line holds `open`.
inline bool TagValue(std::string_view line, std::string_view open, std::int64_t& value) {
    const auto at = line.find(open);
    if (at == std::string_view::npos) return false;
    value = std::stoll(std::string(line.substr(at + open.size())));
    return true;
}

// The divisions and the time signature in force as a document is read.
struct TTimeReader {
    std::int64_t Divisions = 1, Beats = 4, BeatType = 4;

    // Takes the value from a line that holds one of them; false for any other line.
    bool Read(std::string_view line) {
        return TagValue(line, "<divisions>", Divisions) || TagValue(line, "<beats>", Beats) ||
               TagValue(line, "<beat-type>", BeatType);
    }
    std::int64_t MeasureLength() const { return Divisions * 4 * Beats / BeatType; }
};

// Reads a document back the way a notation program does, with its own
// arithmetic: the time position moves by each note or rest that is not a chord
// member and by <forward>, goes back by <backup>; every written voice must run
// without a gap from the start of its measure to its end. Returns the problems;
// adds up the written length of the pitched notes of each part (chord members
// included) into `soundingPerPart`.
inline std::vector<std::string> CheckVoicesFillTheirMeasures(const std::string& doc,
                                                             std::vector<std::int64_t>& soundingPerPart) {
    std::vector<std::string> problems;
    const auto problem = [&](const std::string& where, const std::string& what) {
        if (problems.size() < 10) problems.push_back(where + ": " + what);
    };
    TTimeReader time;
    std::int64_t measureLength = 0;
    std::int64_t pos = 0, part = 0, measure = 0, firstPartMeasures = -1;
    std::map<std::int64_t, std::int64_t> voiceEnd;
    enum { kNone, kNote, kBackup, kForward } element = kNone;
    bool chord = false, rest = false, implicit = false;
    std::int64_t duration = -1, voice = -1, lastDuration = -1, lastVoice = -1;
    // The written value of a note, as a fraction of a quarter, and its time modification.
    std::int64_t typeNumerator = 0, typeDenominator = 1, dots = 0, actual = 0, normal = 0;

    std::istringstream lines(doc);
    std::string text;
    while (std::getline(lines, text)) {
        const std::string_view line = text;
        const std::string where = "part " + std::to_string(part) + " measure " + std::to_string(measure);
        std::int64_t value = 0;
        if (line.find("<part id=") != std::string_view::npos) {
            if (part == 1) firstPartMeasures = measure;
            else if (part > 1 && measure != firstPartMeasures) problem(where, "measure count differs from part 1");
            ++part;
            measure = 0;
            soundingPerPart.push_back(0);
        } else if (line.find("<measure number=") != std::string_view::npos) {
            ++measure;
            pos = 0;
            voiceEnd.clear();
            implicit = line.find("implicit=\"yes\"") != std::string_view::npos;
        } else if (time.Read(line)) {
            measureLength = time.MeasureLength();
        } else if (line.find("<note>") != std::string_view::npos ||
                   line.find("<note print-object") != std::string_view::npos) {
            element = kNote;
            chord = rest = false;
            duration = voice = -1;
            typeNumerator = dots = actual = normal = 0;
        } else if (line.find("<type>") != std::string_view::npos) {
            static const std::map<std::string, std::pair<std::int64_t, std::int64_t>> kValues = {
                {"breve", {8, 1}}, {"whole", {4, 1}}, {"half", {2, 1}},  {"quarter", {1, 1}}, {"eighth", {1, 2}},
                {"16th", {1, 4}},  {"32nd", {1, 8}},  {"64th", {1, 16}}, {"128th", {1, 32}},  {"256th", {1, 64}}};
            const auto from = line.find('>') + 1;
            const auto it = kValues.find(std::string(line.substr(from, line.find('<', from) - from)));
            if (it != kValues.end()) std::tie(typeNumerator, typeDenominator) = it->second;
        } else if (line.find("<dot/>") != std::string_view::npos) {
            ++dots;
        } else if (TagValue(line, "<actual-notes>", actual) || TagValue(line, "<normal-notes>", normal)) {
        } else if (line.find("<chord/>") != std::string_view::npos) {
            chord = true;
        } else if (line.find("<rest") != std::string_view::npos) {
            rest = true;
        } else if (line.find("<backup>") != std::string_view::npos) {
            element = kBackup;
        } else if (line.find("<forward>") != std::string_view::npos) {
            element = kForward;
        } else if (TagValue(line, "<duration>", value)) {
            if (value <= 0) problem(where, "duration " + std::to_string(value));
            if (element == kNote) duration = value;
            else if (element == kBackup) pos -= value;
            else if (element == kForward) {
                pos += value;
                duration = value;
            }
        } else if (TagValue(line, "<voice>", value)) {
            voice = value;
            // A forward of a voice is that voice's own silence.
            if (element == kForward) {
                const auto it = voiceEnd.find(voice);
                if (pos - duration != (it == voiceEnd.end() ? 0 : it->second))
                    problem(where, "voice " + std::to_string(voice) + " moves on from the wrong place");
                voiceEnd[voice] = pos;
            }
        } else if (line.find("</note>") != std::string_view::npos) {
            if (!rest && !soundingPerPart.empty()) soundingPerPart.back() += duration;
            if (typeNumerator > 0) {
                // What the value says, dotted and in its tuplet, must be what the note lasts.
                std::int64_t numerator = typeNumerator * time.Divisions * ((std::int64_t{2} << dots) - 1);
                std::int64_t denominator = typeDenominator << dots;
                if (actual > 0) {
                    numerator *= normal;
                    denominator *= actual;
                }
                if (numerator != duration * denominator)
                    problem(where, "a value written as " + std::to_string(numerator) + "/" +
                                       std::to_string(denominator) + " divisions lasts " + std::to_string(duration));
            }
            if (chord) {
                if (duration != lastDuration || voice != lastVoice)
                    problem(where, "chord member differs from its chord");
            } else {
                const auto it = voiceEnd.find(voice);
                const std::int64_t expected = it == voiceEnd.end() ? 0 : it->second;
                if (pos != expected)
                    problem(where, "voice " + std::to_string(voice) + " resumes at " + std::to_string(pos) +
                                       " instead of " + std::to_string(expected));
                pos += duration;
                voiceEnd[voice] = pos;
            }
            lastDuration = duration;
            lastVoice = voice;
            element = kNone;
        } else if (line.find("</backup>") != std::string_view::npos ||
                   line.find("</forward>") != std::string_view::npos) {
            element = kNone;
        } else if (line.find("</measure>") != std::string_view::npos) {
            if (voiceEnd.empty()) problem(where, "no voice written");
            // A measure outside the count (an upbeat) is shorter, the same for every voice.
            const std::int64_t length = implicit && !voiceEnd.empty() ? voiceEnd.begin()->second : measureLength;
            if (length > measureLength) problem(where, "an implicit measure longer than its time signature");
            for (const auto& [number, end] : voiceEnd)
                if (end != length)
                    problem(where, "voice " + std::to_string(number) + " ends at " + std::to_string(end) +
                                       ", the measure at " + std::to_string(length));
        }
    }
    if (part == 0) problem("document", "no part");
    if (part > 1 && measure != firstPartMeasures) problem("last part", "measure count differs from part 1");
    return problems;
}

// Where a note starts: a fraction of a quarter note, in lowest terms.
struct TOnset {
    std::int64_t Numerator;
    std::int64_t Denominator;
    std::int32_t Pitch;
    auto operator<=>(const TOnset&) const = default;
};

// A written onset in quarters, with the half of the grid step it was placed
// on: a tuplet's own part, or `binaryStep` outside tuplets.
struct TPlacedOnset {
    double At;
    std::int32_t Pitch;
    double HalfStep;
};

// Every note a document starts (not the continuation of a tie), per part, with
// its sounding key: a pitch's step, alteration and octave, or an unpitched
// note's MIDI key from its instrument. Measures are as long as their time
// signatures say; a measure marked implicit as long as what it holds. With
// `placed`, the same onsets with their grid steps.
inline std::vector<std::set<TOnset>> NoteOnsets(const std::string& doc,
                                                std::vector<std::vector<TPlacedOnset>>* placed = nullptr,
                                                double binaryStep = 0.0) {
    static constexpr int kSemitone[7] = {0, 2, 4, 5, 7, 9, 11};
    std::vector<std::set<TOnset>> parts;
    std::map<std::string, std::int32_t> unpitchedKey;
    TTimeReader time;
    std::int64_t measureStart = 0, pos = 0;
    bool inNote = false, chord = false, rest = false, tieStop = false;
    std::int64_t moveSign = 0;  // -1 inside <backup>, 1 inside <forward>
    std::int64_t duration = 0, lastStart = 0;
    int step = 0, alter = 0, octave = 0;
    std::string instrument, midiInstrument;
    bool implicit = false;
    std::int64_t measureEnd = 0, actual = 0, normal = 0;
    double normalQuarters = 0.0;
    std::istringstream lines(doc);
    std::string text;
    const auto attribute = [](std::string_view line, std::string_view name) {
        const auto at = line.find(name);
        if (at == std::string_view::npos) return std::string();
        const auto from = at + name.size();
        return std::string(line.substr(from, line.find('"', from) - from));
    };
    while (std::getline(lines, text)) {
        const std::string_view line = text;
        std::int64_t value = 0;
        if (line.find("<midi-instrument id=") != std::string_view::npos) {
            midiInstrument = attribute(line, "id=\"");
        } else if (TagValue(line, "<midi-unpitched>", value)) {
            unpitchedKey[midiInstrument] = static_cast<std::int32_t>(value) - 1;
        } else if (line.find("<part id=") != std::string_view::npos) {
            parts.emplace_back();
            if (placed != nullptr) placed->emplace_back();
            measureStart = pos = 0;
        } else if (line.find("<measure number=") != std::string_view::npos) {
            pos = measureEnd = 0;
            implicit = line.find("implicit=\"yes\"") != std::string_view::npos;
        } else if (line.find("</measure>") != std::string_view::npos) {
            measureStart += implicit ? measureEnd : time.MeasureLength();
        } else if (time.Read(line)) {
            // A later change of divisions would move every position; none is written.
        } else if (line.find("<note") != std::string_view::npos && line.find("<notehead") == std::string_view::npos &&
                   line.find("<notations") == std::string_view::npos) {
            inNote = true;
            chord = rest = tieStop = false;
            instrument.clear();
            alter = 0;
            actual = normal = 0;
        } else if (line.find("<backup>") != std::string_view::npos) {
            moveSign = -1;
        } else if (line.find("<forward>") != std::string_view::npos) {
            moveSign = 1;
        } else if (TagValue(line, "<duration>", value)) {
            if (inNote) duration = value;
            else pos += moveSign * value;
            measureEnd = std::max(measureEnd, pos);
        } else if (inNote && line.find("<chord/>") != std::string_view::npos) {
            chord = true;
        } else if (inNote && line.find("<rest") != std::string_view::npos) {
            rest = true;
        } else if (inNote && line.find("<tie type=\"stop\"/>") != std::string_view::npos) {
            tieStop = true;
        } else if (inNote && (line.find("<step>") != std::string_view::npos ||
                              line.find("<display-step>") != std::string_view::npos)) {
            step = static_cast<int>(std::string_view("CDEFGAB").find(line[line.find('>') + 1]));
        } else if (inNote && TagValue(line, "<alter>", value)) {
            alter = static_cast<int>(value);
        } else if (inNote && (TagValue(line, "<octave>", value) || TagValue(line, "<display-octave>", value))) {
            octave = static_cast<int>(value);
        } else if (inNote && line.find("<instrument id=") != std::string_view::npos) {
            instrument = attribute(line, "id=\"");
        } else if (inNote && (TagValue(line, "<actual-notes>", actual) || TagValue(line, "<normal-notes>", normal))) {
        } else if (inNote && line.find("<normal-type>") != std::string_view::npos) {
            static const std::map<std::string, double> kQuarters = {{"whole", 4.0},  {"half", 2.0},  {"quarter", 1.0},
                                                                    {"eighth", 0.5}, {"16th", 0.25}, {"32nd", 0.125},
                                                                    {"64th", 0.0625}};
            const auto from = line.find('>') + 1;
            const auto it = kQuarters.find(std::string(line.substr(from, line.find('<', from) - from)));
            normalQuarters = it == kQuarters.end() ? 0.0 : it->second;
        } else if (inNote && line.find("</note>") != std::string_view::npos) {
            inNote = false;
            const std::int64_t start = chord ? lastStart : pos;
            if (!chord) {
                lastStart = pos;
                pos += duration;
                measureEnd = std::max(measureEnd, pos);
            }
            if (rest || tieStop || parts.empty()) continue;
            const std::int32_t pitch =
                instrument.empty() ? (octave + 1) * 12 + kSemitone[step] + alter : unpitchedKey[instrument];
            const std::int64_t numerator = measureStart + start;
            const std::int64_t common = std::gcd(numerator, time.Divisions);
            parts.back().insert({numerator / common, time.Divisions / common, pitch});
            if (placed != nullptr) {
                // A note on the grid may land on a tuplet's first point, and a
                // tuplet's points lie within half its own part of the playing.
                const double half = std::max(
                    binaryStep / 2,
                    actual > 0 ? normalQuarters * static_cast<double>(normal) / static_cast<double>(actual) / 2 : 0.0);
                placed->back().push_back(
                    {static_cast<double>(numerator) / static_cast<double>(time.Divisions), pitch, half});
            }
        }
    }
    return parts;
}

inline bool HaveXmllint() { return std::system("command -v xmllint >/dev/null 2>&1") == 0; }

inline std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Validates the files against the corpus's MusicXML 4.0 schema, many files per
// xmllint run (the schema takes longer to load than a document to check), with
// the same offline settings as the corpus's validate-musicxml.sh.
inline void ExpectValid(const std::vector<std::string>& files, const fs::path& logDir) {
    const fs::path schema = CorpusDir() / "schema";
    const std::size_t batch = 60;
    for (std::size_t first = 0; first < files.size(); first += batch) {
        const fs::path log = logDir / ("xmllint-" + std::to_string(first) + ".log");
        std::string command = "XML_CATALOG_FILES=" + Quoted((schema / "catalog.xml").string()) +
                              " xmllint --nonet --noout --schema " + Quoted((schema / "musicxml.xsd").string());
        for (std::size_t i = first; i < std::min(files.size(), first + batch); ++i) command += " " + Quoted(files[i]);
        command += " 2>" + Quoted(log.string());
        if (std::system(command.c_str()) != 0) {
            std::string report;
            std::istringstream lines(ReadText(log));
            std::string line;
            for (int n = 0; n < 30 && std::getline(lines, line);)
                if (line.find(" validates") == std::string::npos) {
                    report += line + "\n";
                    ++n;
                }
            ADD_FAILURE() << "schema validation failed:\n" << report;
        }
    }
}

// A test over the public corpus, skipped where the corpus is absent.
class TCorpusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(CorpusDir() / "midi"))
            GTEST_SKIP() << "corpus not found at " << CorpusDir() << " (KORVALIN_CORPUS_DIR)";
    }
};

// Each corpus file that loads and has notes, with its tracks that have notes.
struct TLoadedMidi {
    fs::path Path;
    std::unique_ptr<TMidiFile> Midi;
    std::vector<const TMidiTrack*> Tracks;
};

inline std::vector<TLoadedMidi> LoadCorpus() {
    std::vector<TLoadedMidi> loaded;
    for (const auto& path : CorpusMidiFiles()) {
        auto midi = std::make_unique<TMidiFile>();
        try {
            midi->LoadFromFile(path.string());
        } catch (const EMidiError&) {
            continue;  // the loader's refusals are tested with the loader
        }
        auto tracks = TracksWithNotes(*midi);
        if (!tracks.empty()) loaded.push_back({path, std::move(midi), std::move(tracks)});
    }
    return loaded;
}

}  // namespace korvalin::test
