// The loader against real files nobody on the team wrote: every file either
// loads into a model that keeps its promises, or is refused with one of the
// loader's own messages. Skipped when the public corpus is not there.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <iostream>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "FileIO.h"
#include "MidiParser.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;

class LoaderCorpus : public ::testing::Test {
protected:
    void SetUp() override {
        FFolder = fs::path(KORVALIN_CORPUS_DIR) / "midi";
        std::error_code ec;
        if (!fs::is_directory(FFolder, ec))
            GTEST_SKIP() << "public MIDI corpus not found at " << FFolder.string()
                         << " (set KORVALIN_CORPUS_DIR); real-file tests skipped";
    }

    // Every regular file below the folder, whatever its extension: a note dump
    // or a licence text must be refused cleanly as well.
    std::vector<fs::path> AllFiles() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::recursive_directory_iterator(FFolder))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }

    static bool IsLoaderMessage(const std::string& message) {
        static const std::array<std::string, 13> fixed = {
            "The file is too short to be a MIDI file",
            "MThd header was not found",
            "Invalid MIDI header length",
            "SMPTE time division is not supported in this version",
            "MIDI track header is missing",
            "Unexpected end of MIDI file",
            "Unexpected end of variable-length MIDI value",
            "Invalid variable-length MIDI value",
            "Invalid MIDI running status",
            "Invalid MIDI meta event",
            "Invalid MIDI meta-event length",
            "Invalid SysEx length",
            "Incomplete MIDI channel event",
        };
        if (std::find(fixed.begin(), fixed.end(), message) != fixed.end()) return true;
        static const std::regex track("Invalid MIDI track [1-9][0-9]*");
        return std::regex_match(message, track);
    }

    // The promises a loaded model makes to every reader.
    static void ExpectModelInvariants(const TMidiFile& file, std::size_t chunksCounted) {
        ASSERT_EQ(file.Tracks().size(), chunksCounted);
        EXPECT_FALSE(file.HasKeySignature && file.KeyWasEstimated);
        if (!file.HasKeySignature && !file.KeyWasEstimated) {
            EXPECT_EQ(file.KeyFifths, 0);
            EXPECT_FALSE(file.KeyMinor);
        }
        if (file.HasTempo) {
            EXPECT_GT(file.TempoMicroseconds, 0u);
            EXPECT_DOUBLE_EQ(file.TempoBPM, 60000000.0 / file.TempoMicroseconds);
        }
        for (std::size_t i = 0; i < file.Tracks().size(); ++i) {
            const auto& track = *file.Tracks()[i];
            EXPECT_EQ(track.Index, static_cast<std::int32_t>(i + 1));
            EXPECT_FALSE(track.Name.empty());
            EXPECT_EQ(track.ExportName, track.Name);
            EXPECT_EQ(track.ClefMode, TClefMode::cmAuto);
            if (i == 0) {
                EXPECT_EQ(file.Title, track.Name);
            }

            // The last end per channel and pitch, visited in start order.
            std::vector<const TMidiNote*> byStart;
            for (const auto& note : track.Notes()) {
                EXPECT_GE(note.EndTick, note.StartTick);
                EXPECT_GE(note.StartTick, 0);
                EXPECT_GE(note.Velocity, 1);
                EXPECT_GE(note.Channel, 0);
                EXPECT_LE(note.Channel, 15);
                EXPECT_GE(note.Pitch, 0);
                EXPECT_LE(note.Pitch, 127);
                byStart.push_back(&note);
            }
            std::stable_sort(byStart.begin(), byStart.end(),
                             [](const TMidiNote* a, const TMidiNote* b) { return a->StartTick < b->StartTick; });
            std::map<std::pair<int, int>, std::int64_t> lastEnd;
            for (const auto* note : byStart) {
                const auto key = std::make_pair(note->Channel, note->Pitch);
                const auto it = lastEnd.find(key);
                if (it != lastEnd.end()) {
                    EXPECT_LE(it->second, note->StartTick)
                        << "track " << track.Index << ": overlapping notes on channel " << note->Channel << ", pitch "
                        << note->Pitch;
                }
                lastEnd[key] = std::max(it == lastEnd.end() ? note->EndTick : it->second, note->EndTick);
            }
            if (track.Notes().empty()) {
                EXPECT_EQ(track.MinPitch(), -1);
                EXPECT_EQ(track.MaxPitch(), -1);
            } else {
                const auto [lo, hi] =
                    std::minmax_element(track.Notes().begin(), track.Notes().end(),
                                        [](const TMidiNote& a, const TMidiNote& b) { return a.Pitch < b.Pitch; });
                EXPECT_EQ(track.MinPitch(), lo->Pitch);
                EXPECT_EQ(track.MaxPitch(), hi->Pitch);
            }
        }
    }

    // The header's track count, for files whose first bytes are a header.
    static std::size_t CountedChunks(const std::vector<std::uint8_t>& bytes) {
        return bytes.size() >= 12 ? static_cast<std::size_t>(bytes[10] << 8 | bytes[11]) : 0;
    }

    std::string Load(const std::string& relative) const {
        TMidiFile file;
        try {
            file.LoadFromFile((FFolder / relative).string());
        } catch (const EMidiError& e) {
            return e.what();
        }
        return "<loaded>";
    }

    fs::path FFolder;
};

TEST_F(LoaderCorpus, EveryFileLoadsSoundlyOrIsRefusedWithALoaderMessage) {
    int loaded = 0;
    int refused = 0;
    for (const auto& path : AllFiles()) {
        SCOPED_TRACE(path.string());
        const auto bytes = ReadWholeFile(path.string());
        TMidiFile file;
        try {
            file.LoadFromFile(path.string());
        } catch (const EMidiError& e) {
            ++refused;
            EXPECT_TRUE(IsLoaderMessage(e.what())) << "not a loader message: " << e.what();
            continue;
        }
        ++loaded;
        ExpectModelInvariants(file, CountedChunks(bytes));

        // Loading from memory gives the same model.
        TMidiFile again;
        again.LoadFromBytes(bytes);
        ASSERT_EQ(again.Tracks().size(), file.Tracks().size());
        for (std::size_t i = 0; i < file.Tracks().size(); ++i)
            EXPECT_EQ(again.Tracks()[i]->Notes().size(), file.Tracks()[i]->Notes().size());
    }
    std::cout << "[ corpus   ] " << loaded << " files loaded, " << refused << " refused\n";
    EXPECT_GT(loaded, 150);
}

TEST_F(LoaderCorpus, BrokenFilesAreRefusedForTheRightReason) {
    EXPECT_EQ(Load("jazz-soft-test-midi-files/test-empty-file.mid"), "The file is too short to be a MIDI file");
    EXPECT_EQ(Load("jazz-soft-test-midi-files/test-not-a-midi-file.mid"), "MThd header was not found");
    EXPECT_EQ(Load("nfroidure-midifile/MIDIBadHeaderSMTPE.mid"),
              "SMPTE time division is not supported in this version");
    EXPECT_EQ(Load("nfroidure-midifile/MIDIBadHeaderChunk.mid"), "MThd header was not found");
    // A header length of 22 puts the first chunk in the middle of the real one.
    EXPECT_EQ(Load("nfroidure-midifile/MIDIBadHeaderLength.mid"), "Invalid MIDI track 1");
    EXPECT_EQ(Load("nfroidure-midifile/MIDIBadHeaderTracksNum.mid"), "MIDI track header is missing");
    EXPECT_EQ(Load("nfroidure-midifile/MIDIBadTrackHdr.mid"), "Invalid MIDI track 1");
    EXPECT_EQ(Load("nfroidure-midifile/MIDIBadTrackLength.mid"), "Invalid MIDI track 1");
    EXPECT_EQ(Load("jazz-soft-test-midi-files/test-non-midi-track.mid"), "Invalid MIDI track 1");
    // Format 3 does not exist, but the loader accepts any format word.
    EXPECT_EQ(Load("nfroidure-midifile/MIDIBadHeaderFormat.mid"), "<loaded>");
}

TEST_F(LoaderCorpus, RealCompositionsLoadWithTheirParts) {
    for (const auto& path : AllFiles()) {
        if (path.parent_path().filename() != "openttd-openmsx" || path.extension() != ".mid") continue;
        SCOPED_TRACE(path.string());
        TMidiFile file;
        ASSERT_NO_THROW(file.LoadFromFile(path.string()));
        EXPECT_TRUE(std::any_of(file.Tracks().begin(), file.Tracks().end(),
                                [](const auto& track) { return !track->Notes().empty(); }));
        EXPECT_TRUE(file.HasKeySignature || file.KeyWasEstimated);
    }
}

}  // namespace
}  // namespace korvalin
