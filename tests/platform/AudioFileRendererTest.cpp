// Audio files rendered for real by FluidSynth with the system's SoundFont, and
// read back with sox and with the test's own WAV reader.

#include <gtest/gtest.h>

#include <QString>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AudioFileRenderer.h"
#include "AudioProbe.h"
#include "CliSupport.h"
#include "MidiBuilder.h"
#include "MidiTransposer.h"
#include "ScratchFolder.h"
#include "SoundFonts.h"
#include "WavReader.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

// One sustained flute note (a nearly pure tone, so its fundamental is the
// spectrum's peak): 3 s at 120 BPM, in A minor.
Bytes SustainedNote(int pitch) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).KeySig(0, 0, true).End();
    midi.Track().Program(0, 0, 73).Note(0, 480 * 6, 0, pitch, 100).End();
    return midi.Bytes();
}

constexpr double kMusicSeconds = 3.0;

std::string Slurp(const std::filesystem::path& path) { return korvalin::test::ReadText(path); }

void Put(const std::filesystem::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::size_t EntriesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// The strongest frequency while the note sounds steadily (after its attack).
double NotePitchHz(const std::filesystem::path& wav) {
    const auto render = korvalin::test::ReadWav(QString::fromStdString(wav.string()));
    if (!render) return 0;
    std::vector<double> mono;
    const auto first = static_cast<std::size_t>(render->Rate) / 2;
    for (std::size_t f = first; f < first + static_cast<std::size_t>(render->Rate) / 2 && f < render->Frames(); ++f)
        mono.push_back(render->Samples[f * static_cast<std::size_t>(render->Channels)]);
    return korvalin::test::PeakFrequency(mono, render->Rate);
}

class AudioFile : public ::testing::TestWithParam<const char*> {};

TEST_P(AudioFile, DecodesWithTheMusicsLengthPlusItsReleaseAndIsNotSilent) {
    if (korvalin::DefaultSoundFontFile().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    const korvalin::test::ScratchFolder scratch("korvalin-audio");
    const auto target = scratch.Path() / (std::string("note.") + GetParam());
    const Bytes midi = SustainedNote(69);

    const auto result = korvalin::RenderMidiToAudioFile(midi, target.string());

    EXPECT_NEAR(result.MusicSeconds, kMusicSeconds, 0.01);
    // The flute fades within the shortest release, so that is what follows the music.
    const double expected = kMusicSeconds + korvalin::AudioMinReleaseSeconds;
    const auto seconds = korvalin::test::SoxiSeconds(target.string());
    ASSERT_TRUE(seconds.has_value()) << "soxi cannot read " << target;
    EXPECT_NEAR(*seconds, expected, expected * 0.02);
    const auto rms = korvalin::test::SoxRms(target.string());
    ASSERT_TRUE(rms.has_value()) << "sox cannot decode " << target;
    EXPECT_GT(*rms, 0.005);
    // Nothing but the file itself is left beside it.
    EXPECT_EQ(EntriesIn(scratch.Path()), 1u);
}

INSTANTIATE_TEST_SUITE_P(EachType, AudioFile, ::testing::Values("wav", "flac", "ogg"));

TEST(AudioFileRenderer, ANoteMovedToTheKeyAFifthUpSoundsAFifthHigher) {
    if (korvalin::DefaultSoundFontFile().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    const korvalin::test::ScratchFolder scratch("korvalin-audio");
    const Bytes midi = SustainedNote(69);
    // A minor to E minor, seven semitones up (the window itself takes the
    // nearest move, five down; the renderer plays whatever it is given).
    const auto moved = korvalin::TransposeMidiBytes(midi, 7, 1, true, 120);
    korvalin::RenderMidiToAudioFile(midi, (scratch.Path() / "a.wav").string());
    korvalin::RenderMidiToAudioFile(moved, (scratch.Path() / "e.wav").string());

    const double original = NotePitchHz(scratch.Path() / "a.wav");
    const double fifthUp = NotePitchHz(scratch.Path() / "e.wav");
    EXPECT_NEAR(original, 440.0, 440.0 * 0.01);
    // In semitones; a SoundFont tunes each key range's sample a little
    // differently, so within a third of a semitone.
    EXPECT_NEAR(12 * std::log2(fifthUp / original), 7.0, 0.3) << original << " Hz to " << fifthUp << " Hz";
}

TEST(AudioFileRenderer, ACancelOrARefusalLeavesTheExistingFileAsItWas) {
    if (korvalin::DefaultSoundFontFile().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    const korvalin::test::ScratchFolder scratch("korvalin-audio");
    const auto target = scratch.Path() / "kept.flac";
    Put(target, "the user's old file");
    const Bytes midi = SustainedNote(60);

    int calls = 0;
    EXPECT_THROW(korvalin::RenderMidiToAudioFile(midi, target.string(), {}, [&calls](double) { return ++calls < 3; }),
                 korvalin::EAudioCancelled);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(Slurp(target), "the user's old file");

    Put(scratch.Path() / "not.sf2", "plain text, not a SoundFont");
    korvalin::TAudioRenderOptions badFont;
    badFont.SoundFontFile = (scratch.Path() / "not.sf2").string();
    try {
        korvalin::RenderMidiToAudioFile(midi, target.string(), badFont);
        ADD_FAILURE() << "a text file was taken as a SoundFont";
    } catch (const korvalin::ESoundFontError& e) {
        EXPECT_NE(std::string(e.what()).find("Not a SoundFont"), std::string::npos) << e.what();
    }
    EXPECT_THROW(korvalin::RenderMidiToAudioFile(Bytes{'M', 'T', 'h', 'd', 0, 0}, target.string()),
                 korvalin::EAudioError);
    EXPECT_EQ(Slurp(target), "the user's old file");
    EXPECT_EQ(EntriesIn(scratch.Path()), 2u);
}

TEST(SoundFonts, AFileIsTakenOnlyWhenASynthesizerLoadsIt) {
    const korvalin::test::ScratchFolder scratch("korvalin-sf");
    using korvalin::TSoundFontProblem;
    EXPECT_EQ(korvalin::CheckSoundFont((scratch.Path() / "missing.sf2").string()), TSoundFontProblem::sfNotFound);
    Put(scratch.Path() / "text.sf2", "plain text, not a SoundFont");
    EXPECT_EQ(korvalin::CheckSoundFont((scratch.Path() / "text.sf2").string()), TSoundFontProblem::sfNotSoundFont);
    // The right header over nothing: only a real load finds it broken.
    Put(scratch.Path() / "header.sf2", std::string("RIFF\x04\x00\x00\x00sfbk", 12));
    EXPECT_EQ(korvalin::CheckSoundFont((scratch.Path() / "header.sf2").string()), TSoundFontProblem::sfUnusable);
    EXPECT_EQ(korvalin::CheckSoundFontHeader((scratch.Path() / "header.sf2").string()), TSoundFontProblem::sfOk);
    if (const std::string installed = korvalin::DefaultSoundFontFile(); !installed.empty()) {
        EXPECT_EQ(korvalin::CheckSoundFont(installed), TSoundFontProblem::sfOk);
        EXPECT_FALSE(korvalin::InstalledSoundFonts().empty());
    }
    for (const auto problem :
         {TSoundFontProblem::sfNotFound, TSoundFontProblem::sfNotSoundFont, TSoundFontProblem::sfUnusable})
        EXPECT_NE(korvalin::SoundFontProblemText(problem, "x.sf2").find("x.sf2"), std::string::npos);
}

}  // namespace
