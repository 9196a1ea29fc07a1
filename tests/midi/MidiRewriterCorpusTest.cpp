// Properties of the rewriter and the playback files over every real file of the
// public corpus that the loader accepts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <tuple>

#include "FileIO.h"
#include "MidiParser.h"
#include "MidiPlaybackPreparer.h"
#include "MidiPlaybackWriter.h"
#include "MidiTransposer.h"

namespace korvalin {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct TCorpusFile {
    std::string Name;
    Bytes Data;
    std::unique_ptr<TMidiFile> Model;
};

// Every corpus file the loader accepts, loaded once for all tests.
const std::vector<TCorpusFile>& LoadableCorpus() {
    static const std::vector<TCorpusFile> files = [] {
        std::vector<TCorpusFile> result;
        const std::filesystem::path root = std::filesystem::path(KORVALIN_CORPUS_DIR) / "midi";
        if (!std::filesystem::is_directory(root)) return result;
        std::vector<std::filesystem::path> paths;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (entry.is_regular_file() && (ext == ".mid" || ext == ".midi" || ext == ".kar"))
                paths.push_back(entry.path());
        }
        std::sort(paths.begin(), paths.end());
        for (const auto& path : paths) {
            TCorpusFile file;
            file.Name = std::filesystem::relative(path, root).string();
            file.Data = ReadWholeFile(path.string());
            file.Model = std::make_unique<TMidiFile>();
            try {
                file.Model->LoadFromBytes(file.Data);
            } catch (const EMidiError&) {
                continue;
            }
            result.push_back(std::move(file));
        }
        return result;
    }();
    return files;
}

class RewriterCorpus : public ::testing::Test {
protected:
    void SetUp() override {
        if (LoadableCorpus().empty()) GTEST_SKIP() << "no MIDI corpus under " << KORVALIN_CORPUS_DIR;
    }
};

using TNoteKey = std::tuple<std::int64_t, std::int64_t, std::int32_t, std::int32_t, std::int32_t>;

std::vector<TNoteKey> SortedNotes(const TMidiTrack& track, std::int32_t shift = 0, std::int64_t delay = 0) {
    std::vector<TNoteKey> notes;
    for (const TMidiNote& note : track.Notes()) {
        notes.emplace_back(note.StartTick + delay, note.EndTick + delay, note.Channel,
                           note.Channel == 9 ? note.Pitch : note.Pitch + shift, note.Velocity);
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

TEST_F(RewriterCorpus, TransposingThereAndBackChangesOnlyKeyAndTempo) {
    int checked = 0;
    for (const auto& file : LoadableCorpus()) {
        for (const int k : {1, 5}) {
            Bytes up;
            try {
                up = TransposeMidiBytes(file.Data, k, 3, false, 140);
            } catch (const ERangeError&) {
                continue;
            }
            const Bytes back = TransposeMidiBytes(up, -k, 3, false, 140);
            EXPECT_EQ(back, TransposeMidiBytes(file.Data, 0, 3, false, 140)) << file.Name << " by " << k;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

TEST_F(RewriterCorpus, WithoutAShiftOnlyKeyAndTempoDataBytesChange) {
    // Two rewrites whose key and tempo bytes all differ (G major at 120 against
    // D minor at 96) differ exactly in those data bytes; the original may differ
    // from either nowhere else. Files that hold both a key and a tempo get no
    // inserted events, so every other byte keeps its place.
    int checked = 0;
    for (const auto& file : LoadableCorpus()) {
        if (!file.Model->HasKeySignature || !file.Model->HasTempo) continue;
        Bytes first;
        Bytes second;
        try {
            first = TransposeMidiBytes(file.Data, 0, 1, false, 120);
            second = TransposeMidiBytes(file.Data, 0, -1, true, 96);
        } catch (const ERangeError&) {
            continue;
        }
        ASSERT_EQ(first.size(), second.size()) << file.Name;
        ASSERT_LE(first.size(), file.Data.size()) << file.Name;
        std::size_t rewritten = 0;
        for (std::size_t i = 0; i < first.size(); ++i) {
            if (first[i] != second[i]) {
                ++rewritten;
                continue;
            }
            ASSERT_EQ(first[i], file.Data[i]) << file.Name << " at " << i;
        }
        EXPECT_GE(rewritten, 5u) << file.Name;
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

TEST_F(RewriterCorpus, TransposedFileLoadsWithShiftedNotesAndTheNewKeyAndTempo) {
    int checked = 0;
    for (const auto& file : LoadableCorpus()) {
        const TMidiFile& original = *file.Model;
        for (const int k : {-6, 2}) {
            const int newFifths = k == 2 ? 2 : -6;
            Bytes out;
            try {
                out = TransposeMidiBytes(file.Data, k, newFifths, original.KeyMinor, 77);
            } catch (const ERangeError&) {
                continue;
            }
            TMidiFile moved;
            ASSERT_NO_THROW(moved.LoadFromBytes(out)) << file.Name;
            ASSERT_EQ(moved.Tracks().size(), original.Tracks().size()) << file.Name;
            for (std::size_t i = 0; i < original.Tracks().size(); ++i) {
                EXPECT_EQ(SortedNotes(*moved.Tracks()[i]), SortedNotes(*original.Tracks()[i], k))
                    << file.Name << " track " << i + 1;
            }
            if (original.Tracks().empty()) continue;
            EXPECT_TRUE(moved.HasKeySignature) << file.Name;
            EXPECT_EQ(moved.KeyFifths, newFifths) << file.Name;
            EXPECT_EQ(moved.KeyMinor, original.KeyMinor) << file.Name;
            EXPECT_EQ(moved.TempoMicroseconds, TempoToMicroseconds(77)) << file.Name;
            EXPECT_EQ(moved.TimeNumerator, original.TimeNumerator) << file.Name;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

TEST_F(RewriterCorpus, PreparedCopyLoadsWithEveryNoteOneLeadInLater) {
    int checked = 0;
    for (const auto& file : LoadableCorpus()) {
        Bytes prepared;
        try {
            prepared = PreparePlaybackBytes(file.Data);
        } catch (const EReadError& e) {
            ADD_FAILURE() << file.Name << " loads but is not prepared: " << e.what();
            continue;
        }
        const auto leadIn =
            static_cast<std::int64_t>(PlaybackLeadIn(static_cast<std::uint16_t>(file.Data[12] << 8 | file.Data[13])));
        TMidiFile delayed;
        ASSERT_NO_THROW(delayed.LoadFromBytes(prepared)) << file.Name;
        ASSERT_EQ(delayed.Tracks().size(), file.Model->Tracks().size()) << file.Name;
        for (std::size_t i = 0; i < delayed.Tracks().size(); ++i) {
            EXPECT_EQ(SortedNotes(*delayed.Tracks()[i]), SortedNotes(*file.Model->Tracks()[i], 0, leadIn))
                << file.Name << " track " << i + 1;
        }
        EXPECT_EQ(delayed.TempoMicroseconds, file.Model->TempoMicroseconds) << file.Name;
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

TEST_F(RewriterCorpus, OnePartFileLoadsWithTheNotesOfTheChosenTrack) {
    int checked = 0;
    for (const auto& file : LoadableCorpus()) {
        for (const auto& track : file.Model->Tracks()) {
            if (track->Notes().empty()) continue;
            const Bytes part = BuildPartPlaybackMidi(file.Model.get(), track.get());
            TMidiFile alone;
            ASSERT_NO_THROW(alone.LoadFromBytes(part)) << file.Name;
            ASSERT_EQ(alone.Tracks().size(), 2u);
            // A note of no length is written a tick long, unless a longer note of
            // its channel and pitch starts with it; of several such notes only the
            // last is heard that tick. Nothing else may change.
            const std::vector<TNoteKey> original = SortedNotes(*track);
            std::set<std::tuple<std::int64_t, std::int32_t, std::int32_t>> heardStarts;
            for (const auto& [start, end, channel, pitch, velocity] : original)
                if (end > start) heardStarts.emplace(start, channel, pitch);
            std::vector<TNoteKey> expected;
            for (auto [start, end, channel, pitch, velocity] : original) {
                if (end <= start && heardStarts.emplace(start, channel, pitch).second) end = start + 1;
                expected.emplace_back(start, end, channel, pitch, velocity);
            }
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(SortedNotes(*alone.Tracks()[1]), expected) << file.Name << " track " << track->Index;
            EXPECT_EQ(alone.TempoMicroseconds, file.Model->TempoMicroseconds) << file.Name;
            EXPECT_EQ(alone.KeyFifths, file.Model->KeyFifths) << file.Name;
            EXPECT_EQ(alone.Tracks()[1]->Name, track->ExportName) << file.Name;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
}

}  // namespace
}  // namespace korvalin
