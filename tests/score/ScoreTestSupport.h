#pragma once

// Helpers shared by the exporter tests: notes written as (pitch, start, end)
// into a track, loading built bytes, and the folders of the data.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "MidiBuilder.h"
#include "MusicXmlExporter.h"
#include "MidiParser.h"

namespace korvalin::test {

struct TNote {
    int Pitch;
    std::uint32_t Start;
    std::uint32_t End;
    int Channel = 0;
};

// Note-ons and note-offs in time order; at one tick the offs come first, so a
// note that ends where the next begins does not swallow it, except the off of
// a note of zero length, which must follow its own on.
inline TrackBuilder& AddNotes(TrackBuilder& track, const std::vector<TNote>& notes) {
    struct TEvent {
        std::uint32_t Tick;
        int Order;  // 0 off, 1 on, 2 off of a zero-length note
        int Pitch;
        int Channel;
    };
    std::vector<TEvent> events;
    for (const auto& note : notes) {
        events.push_back({note.Start, 1, note.Pitch, note.Channel});
        events.push_back({note.End, note.End == note.Start ? 2 : 0, note.Pitch, note.Channel});
    }
    std::stable_sort(events.begin(), events.end(), [](const TEvent& a, const TEvent& b) {
        return a.Tick != b.Tick ? a.Tick < b.Tick : a.Order < b.Order;
    });
    std::uint32_t last = 0;
    for (const auto& event : events) {
        if (event.Order == 1) track.NoteOn(event.Tick - last, event.Channel, event.Pitch, 80);
        else track.NoteOff(event.Tick - last, event.Channel, event.Pitch);
        last = event.Tick;
    }
    return track;
}

inline TMidiFile LoadBytes(const Bytes& bytes) {
    TMidiFile midi;
    midi.LoadFromBytes(bytes);
    return midi;
}

inline std::vector<const TMidiTrack*> TracksWithNotes(const TMidiFile& midi) {
    std::vector<const TMidiTrack*> tracks;
    for (const auto& track : midi.Tracks())
        if (!track->Notes().empty()) tracks.push_back(track.get());
    return tracks;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::filesystem::path GoldenDir() { return std::filesystem::path(KORVALIN_TESTS_DIR) / "golden"; }
inline std::filesystem::path CorpusDir() { return std::filesystem::path(KORVALIN_CORPUS_DIR); }

// A fresh folder under the system's temporary folder, removed with the object.
class TTempDir {
public:
    explicit TTempDir(const std::string& tag) {
        const auto base = std::filesystem::temp_directory_path();
        for (int n = 0;; ++n) {
            FPath = base / ("korvalin-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(n));
            if (std::filesystem::create_directory(FPath)) break;
        }
    }
    ~TTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

// The first track of every case: its name becomes the title, and the key is
// given so the loader does not estimate one from the notes.
inline void Conductor(MidiBuilder& midi, const std::string& title, std::uint32_t tempo = 500000, int numerator = 4,
                      int denominatorPower = 2, int fifths = 0, bool minor = false) {
    midi.Track().Name(title).Tempo(0, tempo).TimeSig(0, numerator, denominatorPower).KeySig(0, fifths, minor).End();
}

inline void NoteTrack(MidiBuilder& midi, const std::string& name, const std::vector<TNote>& notes) {
    AddNotes(midi.Track().Name(name), notes).End();
}

// Compares the whole document; on a difference names the first line that
// differs and leaves the actual text beside the test binary for a diff.
// The readable document of every track with notes.
inline std::string Readable(const MidiBuilder& midi, std::int32_t grid = 16) {
    const TMidiFile file = LoadBytes(midi.Bytes());
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    return BuildMusicXmlText(file, TracksWithNotes(file), "/scores/unused.musicxml", grid, options);
}

inline void ExpectGolden(const std::string& name, const std::string& actual) {
    const std::string expected = ReadText(GoldenDir() / (name + ".musicxml"));
    ASSERT_FALSE(expected.empty()) << "golden file missing: " << name;
    if (expected == actual) return;
    std::ofstream(name + ".actual.musicxml", std::ios::binary) << actual;
    std::size_t line = 1;
    std::size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) {
        if (expected[i] == '\n') ++line;
        ++i;
    }
    ADD_FAILURE() << name << ": differs from the golden file at line " << line << " (actual text written to " << name
                  << ".actual.musicxml)";
}

}  // namespace korvalin::test
