// Readable notation against real files: every corpus file that loads and has
// notes, on every grid, must give a valid document whose voices fill their
// measures, and must start every played note on its key within half a grid
// step of where it was played, and no other.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "MusicXmlChecks.h"
#include "MusicXmlExporter.h"
#include "PerformanceStage.h"

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

// Every played note starts a written one of its key within half the grid step
// it was placed on (the grid's, or its tuplet's), and every written note has
// such a played one: nothing lost, nothing invented.
// MusicXML has no octave below 0: the lowest keys are written an octave up.
bool SameKey(std::int32_t written, std::int32_t played) {
    return written == played || (played < 12 && written == played + 12);
}

// The written score starts where its first measure does: `firstMeasureTick`
// in the file (after a silence that a pickup leaves out).
// Notes shorter than `shortestTicks` (a trill's notes) may merge. With
// `unisonsLost`, counts the keys struck twice at once on one channel (two
// voices in unison, two written notes) and those written only once; the same
// key struck at once on two channels (an instrument doubled) is written once.
void ExpectEveryPlayedNoteNearItsOnset(const std::string& where, const TMidiFile& midi,
                                       const std::vector<const TMidiTrack*>& tracks, const std::string& doc,
                                       const std::vector<std::int32_t>& grids, std::int64_t firstMeasureTick,
                                       std::int64_t shortestTicks = 0, std::pair<int, int>* unisonsLost = nullptr) {
    std::vector<std::vector<test::TPlacedOnset>> written;
    test::NoteOnsets(doc, &written, 0.0);
    ASSERT_EQ(written.size(), tracks.size()) << where;
    ASSERT_EQ(grids.size(), tracks.size()) << where;
    for (std::size_t part = 0; part < written.size(); ++part)
        for (auto& onset : written[part]) onset.HalfStep = std::max(onset.HalfStep, 2.0 / grids[part]);
    constexpr double kExact = 1e-9;
    for (std::size_t part = 0; part < tracks.size(); ++part) {
        std::map<std::tuple<std::int64_t, std::int32_t, std::int32_t>, int> strikes;  // (tick, key, channel)
        std::set<std::pair<double, std::int32_t>> mayMerge;
        for (const auto& note : tracks[part]->Notes()) {
            ++strikes[{note.StartTick, note.Pitch & 127, note.Channel}];
            if (note.EndTick - note.StartTick < shortestTicks && note.EndTick > note.StartTick)
                mayMerge.emplace(static_cast<double>(note.StartTick - firstMeasureTick) / midi.PPQN, note.Pitch & 127);
        }
        std::map<std::pair<std::int64_t, std::int32_t>, int> copies;  // the most on one channel
        for (const auto& [at, count] : strikes) {
            int& most = copies[{std::get<0>(at), std::get<1>(at)}];
            most = std::max(most, count);
        }
        std::vector<std::pair<double, std::int32_t>> played;
        std::vector<std::tuple<double, std::int32_t, int>> unisons;  // (at, key, notes)
        for (const auto& [at, count] : copies) {
            const double quarters = static_cast<double>(at.first - firstMeasureTick) / midi.PPQN;
            played.emplace_back(quarters, at.second);
            if (count > 1) unisons.emplace_back(quarters, at.second, count);
        }
        std::sort(played.begin(), played.end());
        auto& placed = written[part];
        std::sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.At < b.At; });
        double widest = 0.0;
        for (const auto& onset : placed) widest = std::max(widest, onset.HalfStep);
        // An onset at the end of a tuplet's beat goes to the next beat: it may
        // have moved by half of any tuplet's part within a quarter of it.
        for (std::size_t i = 0, from = 0; i < placed.size(); ++i) {
            while (placed[from].At < placed[i].At - 1.0) ++from;
            for (std::size_t j = from; j < i; ++j)
                placed[i].HalfStep = std::max(placed[i].HalfStep, placed[j].HalfStep);
        }
        int reported = 0;
        const auto report = [&](const std::string& what, double at, std::int32_t key) {
            if (reported++ < 3)
                ADD_FAILURE() << where << " part " << part + 1 << ": " << what << " at " << at << " quarters, key "
                              << key;
        };
        for (const auto& [at, key] : played) {
            if (mayMerge.count({at, key}) != 0) continue;
            const auto from = std::lower_bound(placed.begin(), placed.end(), at - widest - kExact,
                                               [](const auto& o, double t) { return o.At < t; });
            bool found = false;
            for (auto it = from; it != placed.end() && it->At <= at + widest + kExact && !found; ++it)
                found = SameKey(it->Pitch, key) && std::abs(it->At - at) <= it->HalfStep + kExact;
            if (!found) report("lost the note", at, key);
        }
        for (const auto& [at, key, count] : unisons) {
            if (unisonsLost == nullptr) break;
            ++unisonsLost->first;
            const auto from = std::lower_bound(placed.begin(), placed.end(), at - widest - kExact,
                                               [](const auto& o, double t) { return o.At < t; });
            int found = 0;
            for (auto it = from; it != placed.end() && it->At <= at + widest + kExact; ++it)
                found += SameKey(it->Pitch, key) && std::abs(it->At - at) <= it->HalfStep + kExact ? 1 : 0;
            if (found < count) ++unisonsLost->second;
        }
        for (const auto& onset : placed) {
            const auto from =
                std::lower_bound(played.begin(), played.end(), std::pair(onset.At - onset.HalfStep - kExact, -1));
            bool found = false;
            for (auto it = from; it != played.end() && it->first <= onset.At + onset.HalfStep + kExact && !found; ++it)
                found = SameKey(onset.Pitch, it->second);
            if (!found) report("invented a note", onset.At, onset.Pitch);
        }
    }
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
                    try {
                        BuildMusicXmlText(*file.Midi, file.Tracks, file.Path.string(), grid, Readable());
                    } catch (const EMusicXmlError& readable) {
                        EXPECT_STREQ(readable.what(), e.what()) << where;
                        throw;
                    },
                    EMusicXmlError)
                    << where;
                continue;
            }
            TConversionReport report;
            TExportOptions options = Readable();
            options.Report = &report;
            const std::string readable = BuildMusicXmlText(*file.Midi, file.Tracks, file.Path.string(), grid, options);
            std::vector<std::int64_t> sounding;
            for (const auto& problem : test::CheckVoicesFillTheirMeasures(readable, sounding))
                ADD_FAILURE() << where << ": " << problem;

            // A file played freely is written on the beats found in it: its notes are where the re-timing put them.
            const auto performance = PreparePerformance(*file.Midi, file.Tracks, options.Performance);
            ExpectEveryPlayedNoteNearItsOnset(
                where, performance ? performance->File : *file.Midi, performance ? performance->Parts : file.Tracks,
                readable, std::vector<std::int32_t>(file.Tracks.size(), grid), report.FirstMeasureTick);
            ++compared;
        }
    }
    EXPECT_GT(compared, 300);
}

TEST_F(ReadableCorpus, TheAutomaticGridKeepsEveryPlayedNoteWithinHalfItsStep) {
    const auto corpus = test::LoadCorpus();
    int compared = 0;
    for (const auto& file : corpus) {
        const std::string where = file.Path.filename().string() + " grid auto";
        TConversionReport report;
        TExportOptions options = Readable();
        options.AutoGrid = true;
        options.Report = &report;
        std::string readable;
        try {
            readable = BuildMusicXmlText(*file.Midi, file.Tracks, file.Path.string(), 16, options);
        } catch (const EMusicXmlError&) {
            continue;  // refused on every grid alike: the fixed grids' case above
        }
        std::vector<std::int64_t> sounding;
        for (const auto& problem : test::CheckVoicesFillTheirMeasures(readable, sounding))
            ADD_FAILURE() << where << ": " << problem;
        std::vector<std::int32_t> grids;
        for (const auto& part : report.Parts) grids.push_back(part.Grid);
        const auto performance = PreparePerformance(*file.Midi, file.Tracks, options.Performance);
        ExpectEveryPlayedNoteNearItsOnset(where, performance ? performance->File : *file.Midi,
                                          performance ? performance->Parts : file.Tracks, readable, grids,
                                          report.FirstMeasureTick);
        ++compared;
    }
    EXPECT_GT(compared, 100);
}

// Piano music with expert scores, beside the corpus where the notation
// yardstick is installed: fugues and textures where voices meet on one key.
TEST(ReadableExpertSet, EveryNoteOfEveryPieceIsWrittenAtItsPitchAndTime) {
    const fs::path folder = test::CorpusDir().parent_path() / "notation" / "asap-dev";
    if (!fs::is_directory(folder)) GTEST_SKIP() << "no expert set at " << folder;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".mid") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::pair<int, int> unisons{0, 0};  // found, written once
    for (const auto& path : files) {
        TMidiFile midi;
        midi.LoadFromFile(path.string());
        const auto tracks = test::TracksWithNotes(midi);
        TConversionReport report;
        TExportOptions options;
        options.Notation = TNotationMode::nmReadable;
        options.AutoGrid = true;
        options.Report = &report;
        const std::string readable = BuildMusicXmlText(midi, tracks, path.string(), 16, options);
        std::vector<std::int32_t> grids;
        for (const auto& part : report.Parts) grids.push_back(part.Grid);
        // Ornaments played out as notes shorter than a 32nd are not written yet.
        ExpectEveryPlayedNoteNearItsOnset(path.filename().string(), midi, tracks, readable, grids,
                                          report.FirstMeasureTick, midi.PPQN / 8, &unisons);
    }
    EXPECT_GT(files.size(), 100u);
    // Unisons where a third voice joins, or whose notes part on different
    // grids, still merge now and then: at most one in ten of the set's.
    EXPECT_GT(unisons.first, 1000);
    EXPECT_LE(unisons.second * 10, unisons.first)
        << unisons.second << " of " << unisons.first << " unisons written once";
}

TEST_F(ReadableCorpus, EveryScoreIsValidMusicXmlOnEveryGridAndTheAutomaticOne) {
    if (!test::HaveXmllint()) GTEST_SKIP() << "xmllint not installed; schema validation skipped";
    const auto corpus = test::LoadCorpus();
    test::TTempDir dir("readable");
    std::vector<std::string> written;
    for (const auto& file : corpus)
        for (const int grid : {8, 16, 32, 0}) {
            const fs::path target = dir.Path() / (std::to_string(written.size()) + ".musicxml");
            TExportOptions options = Readable();
            options.AutoGrid = grid == 0;  // 0: the automatic grid
            try {
                BuildMusicXml(*file.Midi, file.Tracks, target.string(), grid == 0 ? 16 : grid, options);
            } catch (const EMusicXmlError&) {
                continue;  // a grid this file refuses; compared with the literal refusals above
            }
            written.push_back(target.string());
        }
    test::ExpectValid(written, dir.Path());
}

}  // namespace
}  // namespace korvalin
