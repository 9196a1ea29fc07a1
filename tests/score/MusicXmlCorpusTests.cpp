// The exporter against real files: every corpus file that loads and has notes
// is exported with every grid; each document must be arithmetically whole
// (every written voice fills its measure) and valid MusicXML 4.0.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "MidiParser.h"
#include "MusicXmlExporter.h"
#include "ScoreTestSupport.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusMidiFiles() {
    std::vector<fs::path> files;
    const fs::path root = test::CorpusDir() / "midi";
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
bool TagValue(std::string_view line, std::string_view open, std::int64_t& value) {
    const auto at = line.find(open);
    if (at == std::string_view::npos) return false;
    value = std::stoll(std::string(line.substr(at + open.size())));
    return true;
}

// Reads a document back the way a notation program does, with its own
// arithmetic: the time position moves by each note or rest that is not a chord
// member and by <forward>, goes back by <backup>; every written voice must run
// without a gap from the start of its measure to its end. Returns the problems;
// adds up the written length of the pitched notes of each part (chord members
// included) into `soundingPerPart`.
std::vector<std::string> CheckVoicesFillTheirMeasures(const std::string& doc, std::vector<std::int64_t>& soundingPerPart) {
    std::vector<std::string> problems;
    const auto problem = [&](const std::string& where, const std::string& what) {
        if (problems.size() < 10) problems.push_back(where + ": " + what);
    };
    std::int64_t divisions = 0, beats = 0, beatType = 0, measureLength = 0;
    std::int64_t pos = 0, part = 0, measure = 0, firstPartMeasures = -1;
    std::map<std::int64_t, std::int64_t> voiceEnd;
    enum { kNone, kNote, kBackup, kForward } element = kNone;
    bool chord = false, rest = false;
    std::int64_t duration = -1, voice = -1, lastDuration = -1, lastVoice = -1;

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
        } else if (TagValue(line, "<divisions>", value)) {
            divisions = value;
        } else if (TagValue(line, "<beats>", value)) {
            beats = value;
        } else if (TagValue(line, "<beat-type>", value)) {
            beatType = value;
            measureLength = divisions * 4 * beats / beatType;
        } else if (line.find("<note>") != std::string_view::npos) {
            element = kNote;
            chord = rest = false;
            duration = voice = -1;
        } else if (line.find("<chord/>") != std::string_view::npos) {
            chord = true;
        } else if (line.find("<rest/>") != std::string_view::npos) {
            rest = true;
        } else if (line.find("<backup>") != std::string_view::npos) {
            element = kBackup;
        } else if (line.find("<forward>") != std::string_view::npos) {
            element = kForward;
        } else if (TagValue(line, "<duration>", value)) {
            if (value <= 0) problem(where, "duration " + std::to_string(value));
            if (element == kNote) duration = value;
            else if (element == kBackup) pos -= value;
            else if (element == kForward) pos += value;
        } else if (TagValue(line, "<voice>", value)) {
            voice = value;
        } else if (line.find("</note>") != std::string_view::npos) {
            if (!rest && !soundingPerPart.empty()) soundingPerPart.back() += duration;
            if (chord) {
                if (duration != lastDuration || voice != lastVoice) problem(where, "chord member differs from its chord");
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
        } else if (line.find("</backup>") != std::string_view::npos || line.find("</forward>") != std::string_view::npos) {
            element = kNone;
        } else if (line.find("</measure>") != std::string_view::npos) {
            if (voiceEnd.empty()) problem(where, "no voice written");
            for (const auto& [number, end] : voiceEnd)
                if (end != measureLength)
                    problem(where, "voice " + std::to_string(number) + " ends at " + std::to_string(end) +
                                       ", the measure at " + std::to_string(measureLength));
        }
    }
    if (part == 0) problem("document", "no part");
    if (part > 1 && measure != firstPartMeasures) problem("last part", "measure count differs from part 1");
    return problems;
}

// What the notes of a track should add up to once written: every distinct
// (quantised start, quantised end, pitch), however it is cut into tied values.
std::int64_t ExpectedSoundingTicks(const TMidiTrack& track, std::int64_t step) {
    const auto round = [step](std::int64_t tick) { return (tick + step / 2) / step * step; };
    std::set<std::tuple<std::int64_t, std::int64_t, std::int32_t>> spans;
    for (const auto& note : track.Notes()) {
        const std::int64_t start = round(note.StartTick);
        std::int64_t end = round(note.EndTick);
        if (end <= start) end = start + step;
        spans.insert({start, end, note.Pitch});
    }
    std::int64_t total = 0;
    for (const auto& [start, end, pitch] : spans) total += end - start;
    return total;
}

bool HaveXmllint() { return std::system("command -v xmllint >/dev/null 2>&1") == 0; }

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Validates the files against the corpus's MusicXML 4.0 schema, many files per
// xmllint run (the schema takes longer to load than a document to check), with
// the same offline settings as the corpus's validate-musicxml.sh.
void ExpectValid(const std::vector<std::string>& files, const fs::path& logDir) {
    const fs::path schema = test::CorpusDir() / "schema";
    const std::size_t batch = 60;
    for (std::size_t first = 0; first < files.size(); first += batch) {
        const fs::path log = logDir / ("xmllint-" + std::to_string(first) + ".log");
        std::string command = "XML_CATALOG_FILES=" + Quoted((schema / "catalog.xml").string()) +
                              " xmllint --nonet --noout --schema " + Quoted((schema / "musicxml.xsd").string());
        for (std::size_t i = first; i < std::min(files.size(), first + batch); ++i) command += " " + Quoted(files[i]);
        command += " 2>" + Quoted(log.string());
        if (std::system(command.c_str()) != 0) {
            std::string report;
            std::istringstream lines(test::ReadText(log));
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

class CorpusExport : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(test::CorpusDir() / "midi"))
            GTEST_SKIP() << "corpus not found at " << test::CorpusDir() << " (KORVALIN_CORPUS_DIR)";
    }

    // Each corpus file that loads and has notes, with its tracks that have notes.
    struct TLoaded {
        fs::path Path;
        std::unique_ptr<TMidiFile> Midi;
        std::vector<const TMidiTrack*> Tracks;
    };

    static std::vector<TLoaded> LoadCorpus() {
        std::vector<TLoaded> loaded;
        for (const auto& path : CorpusMidiFiles()) {
            auto midi = std::make_unique<TMidiFile>();
            try {
                midi->LoadFromFile(path.string());
            } catch (const EMidiError&) {
                continue;  // the loader's refusals are tested with the loader
            }
            auto tracks = test::TracksWithNotes(*midi);
            if (!tracks.empty()) loaded.push_back({path, std::move(midi), std::move(tracks)});
        }
        return loaded;
    }
};

TEST_F(CorpusExport, EveryWrittenVoiceAddsUpToTheMeasureLengthOnEveryGrid) {
    const auto corpus = LoadCorpus();
    ASSERT_FALSE(corpus.empty());
    int exported = 0;
    for (const auto& file : corpus) {
        for (const int grid : {8, 16, 32}) {
            std::string doc;
            try {
                doc = BuildMusicXmlText(*file.Midi, file.Tracks, file.Path.string(), grid);
            } catch (const EMusicXmlError& e) {
                // Only a grid that does not divide this file's whole note may be refused.
                EXPECT_STREQ(e.what(), "The selected quantization grid is incompatible with this MIDI file")
                    << file.Path << " grid " << grid;
                continue;
            }
            ++exported;
            std::vector<std::int64_t> sounding;
            const auto problems = CheckVoicesFillTheirMeasures(doc, sounding);
            for (const auto& problem : problems) ADD_FAILURE() << file.Path << " grid " << grid << ": " << problem;
            ASSERT_EQ(sounding.size(), file.Tracks.size()) << file.Path;
            const std::int64_t step = std::int64_t{file.Midi->PPQN} * 4 / grid;
            for (std::size_t i = 0; i < file.Tracks.size(); ++i)
                EXPECT_EQ(sounding[i], ExpectedSoundingTicks(*file.Tracks[i], step))
                    << file.Path << " grid " << grid << " part " << i + 1 << ": notes lost or added";
        }
    }
    EXPECT_GT(exported, 300);
}

TEST_F(CorpusExport, EveryExportIsValidMusicXml) {
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint not installed; schema validation skipped";
    const auto corpus = LoadCorpus();
    test::TTempDir dir("corpus");
    std::vector<std::string> written;
    for (const auto& file : corpus) {
        const fs::path target = dir.Path() / (std::to_string(written.size()) + ".musicxml");
        BuildMusicXml(*file.Midi, file.Tracks, target.string(), 16);
        written.push_back(target.string());
    }
    ExpectValid(written, dir.Path());
}

TEST(GoldenFiles, EveryGoldenFileIsValidMusicXml) {
    const fs::path script = test::CorpusDir() / "validate-musicxml.sh";
    if (!fs::exists(script)) GTEST_SKIP() << "validate-musicxml.sh not found in " << test::CorpusDir();
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint not installed; schema validation skipped";
    std::string command = "bash " + Quoted(script.string()) + " --quiet";
    int count = 0;
    for (const auto& entry : fs::directory_iterator(test::GoldenDir()))
        if (entry.path().extension() == ".musicxml") {
            command += " " + Quoted(entry.path().string());
            ++count;
        }
    ASSERT_GT(count, 10);
    EXPECT_EQ(std::system(command.c_str()), 0) << "see the validator's report above";
}

}  // namespace
}  // namespace korvalin
