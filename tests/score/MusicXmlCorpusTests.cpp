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
#include "MusicXmlChecks.h"
#include "ScoreTestSupport.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;

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

using CorpusExport = test::TCorpusTest;

TEST_F(CorpusExport, EveryWrittenVoiceAddsUpToTheMeasureLengthOnEveryGrid) {
    const auto corpus = test::LoadCorpus();
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
            const auto problems = test::CheckVoicesFillTheirMeasures(doc, sounding);
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
    if (!test::HaveXmllint()) GTEST_SKIP() << "xmllint not installed; schema validation skipped";
    const auto corpus = test::LoadCorpus();
    test::TTempDir dir("corpus");
    std::vector<std::string> written;
    for (const auto& file : corpus) {
        const fs::path target = dir.Path() / (std::to_string(written.size()) + ".musicxml");
        BuildMusicXml(*file.Midi, file.Tracks, target.string(), 16);
        written.push_back(target.string());
    }
    test::ExpectValid(written, dir.Path());
}

TEST(GoldenFiles, EveryGoldenFileIsValidMusicXml) {
    const fs::path script = test::CorpusDir() / "validate-musicxml.sh";
    if (!fs::exists(script)) GTEST_SKIP() << "validate-musicxml.sh not found in " << test::CorpusDir();
    if (!test::HaveXmllint()) GTEST_SKIP() << "xmllint not installed; schema validation skipped";
    std::string command = "bash " + test::Quoted(script.string()) + " --quiet";
    int count = 0;
    for (const auto& entry : fs::directory_iterator(test::GoldenDir()))
        if (entry.path().extension() == ".musicxml") {
            command += " " + test::Quoted(entry.path().string());
            ++count;
        }
    ASSERT_GT(count, 10);
    EXPECT_EQ(std::system(command.c_str()), 0) << "see the validator's report above";
}

}  // namespace
}  // namespace korvalin
