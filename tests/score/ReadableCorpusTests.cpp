// Readable notation against real files: every corpus file that loads and has
// notes, on every grid, must give a valid document whose voices fill their
// measures, and must start every note the transcription as played starts, at
// the same moment and on the same key, and no other.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "MusicXmlChecks.h"
#include "MusicXmlExporter.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;

class ReadableCorpus : public test::TCorpusTest {
protected:
    static TExportOptions Readable() {
        TExportOptions options;
        options.Notation = TNotationMode::nmReadable;
        return options;
    }
};

std::string Describe(const test::TOnset& onset) {
    return std::to_string(onset.Numerator) + "/" + std::to_string(onset.Denominator) + " quarters, key " +
           std::to_string(onset.Pitch);
}

TEST_F(ReadableCorpus, EveryVoiceAddsUpAndEveryPlayedNoteIsThereOnEveryGrid) {
    const auto corpus = test::LoadCorpus();
    ASSERT_FALSE(corpus.empty());
    int compared = 0;
    for (const auto& file : corpus) {
        for (const int grid : {8, 16, 32}) {
            const std::string where = file.Path.filename().string() + " grid " + std::to_string(grid);
            std::string literal;
            try {
                literal = BuildMusicXmlText(*file.Midi, file.Tracks, file.Path.string(), grid);
            } catch (const EMusicXmlError& e) {
                // Both notations refuse the same input with the same words.
                EXPECT_THROW(
                    try { BuildMusicXmlText(*file.Midi, file.Tracks, file.Path.string(), grid, Readable()); } catch (
                        const EMusicXmlError& readable) {
                        EXPECT_STREQ(readable.what(), e.what()) << where;
                        throw;
                    },
                    EMusicXmlError)
                    << where;
                continue;
            }
            const std::string readable = BuildMusicXmlText(*file.Midi, file.Tracks, file.Path.string(), grid, Readable());
            std::vector<std::int64_t> sounding;
            for (const auto& problem : test::CheckVoicesFillTheirMeasures(readable, sounding))
                ADD_FAILURE() << where << ": " << problem;

            const auto played = test::NoteOnsets(literal);
            const auto written = test::NoteOnsets(readable);
            ASSERT_EQ(played.size(), written.size()) << where;
            for (std::size_t part = 0; part < played.size(); ++part) {
                int reported = 0;
                for (const auto& onset : played[part])
                    if (!written[part].contains(onset) && reported++ < 3)
                        ADD_FAILURE() << where << " part " << part + 1 << ": lost the note at " << Describe(onset);
                for (const auto& onset : written[part])
                    if (!played[part].contains(onset) && reported++ < 6)
                        ADD_FAILURE() << where << " part " << part + 1 << ": invented a note at " << Describe(onset);
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
}

TEST_F(ReadableCorpus, EveryScoreIsValidMusicXmlOnEveryGrid) {
    if (!test::HaveXmllint()) GTEST_SKIP() << "xmllint not installed; schema validation skipped";
    const auto corpus = test::LoadCorpus();
    test::TTempDir dir("readable");
    std::vector<std::string> written;
    for (const auto& file : corpus)
        for (const int grid : {8, 16, 32}) {
            const fs::path target = dir.Path() / (std::to_string(written.size()) + ".musicxml");
            try {
                BuildMusicXml(*file.Midi, file.Tracks, target.string(), grid, Readable());
            } catch (const EMusicXmlError&) {
                continue;  // a grid this file refuses; compared with the literal refusals above
            }
            written.push_back(target.string());
        }
    test::ExpectValid(written, dir.Path());
}

}  // namespace
}  // namespace korvalin
