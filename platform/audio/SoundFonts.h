#pragma once

// The SoundFonts playback may use: the system's default, the better General
// MIDI one where it is installed, and a file the user picks, checked first.

#include <stdexcept>
#include <string>
#include <vector>

namespace korvalin {

// A SoundFont that cannot be used; the message says which file and why.
class ESoundFontError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why a file cannot serve as the SoundFont.
enum class TSoundFontProblem { sfOk, sfNotFound, sfNotSoundFont, sfUnusable };

// The SoundFont used when the user has chosen none: the first system General
// MIDI SoundFont that exists (the set-up installs default-GM.sf2); empty when
// there is none.
std::string DefaultSoundFontFile();

// The General MIDI SoundFonts installed on this system, best first: FluidR3
// (package fluid-soundfont-gm) when present, then the default one.
std::vector<std::string> InstalledSoundFonts();

// Checks a file the way FluidSynth will use it: it exists, it is a SoundFont
// (SF2 or SF3), and a synthesizer loads it.
TSoundFontProblem CheckSoundFont(const std::string& fileName);

// The English message for a problem with fileName, for the command line.
std::string SoundFontProblemText(TSoundFontProblem problem, const std::string& fileName);

// The quick part of that check, for a caller that loads the file next anyway:
// it exists and starts as a SoundFont.
TSoundFontProblem CheckSoundFontHeader(const std::string& fileName);

// Throws ESoundFontError with that message unless the file is a usable SoundFont.
void RequireSoundFont(const std::string& fileName);

// FluidSynth's own messages go nowhere: a tool that reports failures in its
// own words calls this once before it renders.
void SilenceFluidSynthLog();

}  // namespace korvalin
