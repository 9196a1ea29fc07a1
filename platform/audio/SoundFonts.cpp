// Finding and checking SoundFonts: a file is taken only when FluidSynth
// both recognises and loads it.

#include "SoundFonts.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <system_error>

namespace korvalin {

namespace {

// FluidR3 sounds better than the small default bank, so it is offered first;
// default-GM.sf2 is the alternatives link every GM SoundFont package maintains.
constexpr std::array KnownSoundFonts{
    "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",   "/usr/share/soundfonts/default.sf2",
    "/usr/share/soundfonts/FluidR3_GM.sf2",
};

// The default keeps what playback has always loaded first.
constexpr std::array DefaultSoundFonts{
    "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/soundfonts/default.sf2",
    "/usr/share/soundfonts/FluidR3_GM.sf2",
};

bool IsFile(const std::string& fileName) {
    std::error_code error;
    return std::filesystem::is_regular_file(fileName, error);
}

void IgnoreMessage(int, const char*, void*) {}

}  // namespace

std::string DefaultSoundFontFile() {
    for (const char* candidate : DefaultSoundFonts)
        if (IsFile(candidate)) return candidate;
    return {};
}

std::vector<std::string> InstalledSoundFonts() {
    std::vector<std::string> found;
    std::vector<std::filesystem::path> seen;
    for (const char* candidate : KnownSoundFonts) {
        if (!IsFile(candidate)) continue;
        // default-GM.sf2 is usually a link to one of the others.
        std::error_code error;
        const auto real = std::filesystem::canonical(candidate, error);
        if (!error && std::find(seen.begin(), seen.end(), real) != seen.end()) continue;
        seen.push_back(error ? std::filesystem::path(candidate) : real);
        found.emplace_back(candidate);
    }
    return found;
}

TSoundFontProblem CheckSoundFontHeader(const std::string& fileName) {
    if (fileName.empty() || !IsFile(fileName)) return TSoundFontProblem::sfNotFound;
    if (!fluid_is_soundfont(fileName.c_str())) return TSoundFontProblem::sfNotSoundFont;
    return TSoundFontProblem::sfOk;
}

TSoundFontProblem CheckSoundFont(const std::string& fileName) {
    // fluid_is_soundfont reads only the RIFF header; a file that passes may
    // still be damaged further in, so a synthesizer loads it for real.
    if (const auto problem = CheckSoundFontHeader(fileName); problem != TSoundFontProblem::sfOk) return problem;
    const std::unique_ptr<fluid_settings_t, decltype(&delete_fluid_settings)> settings(new_fluid_settings(),
                                                                                       delete_fluid_settings);
    if (!settings) return TSoundFontProblem::sfUnusable;
    fluid_settings_setint(settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(settings.get(), "synth.chorus.active", 0);
    const std::unique_ptr<fluid_synth_t, decltype(&delete_fluid_synth)> synth(new_fluid_synth(settings.get()),
                                                                              delete_fluid_synth);
    if (!synth || fluid_synth_sfload(synth.get(), fileName.c_str(), 0) == FLUID_FAILED)
        return TSoundFontProblem::sfUnusable;
    return TSoundFontProblem::sfOk;
}

std::string SoundFontProblemText(TSoundFontProblem problem, const std::string& fileName) {
    switch (problem) {
        case TSoundFontProblem::sfOk: return {};
        case TSoundFontProblem::sfNotFound:
            return fileName.empty() ? "No General MIDI SoundFont was found. Install a package that provides "
                                      "/usr/share/sounds/sf2/default-GM.sf2, such as timgm6mb-soundfont."
                                    : "The SoundFont file was not found: " + fileName;
        case TSoundFontProblem::sfNotSoundFont: return "Not a SoundFont (.sf2 or .sf3 file): " + fileName;
        case TSoundFontProblem::sfUnusable:
            return "The SoundFont could not be loaded (the file is damaged or of an unsupported kind): " + fileName;
    }
    return {};
}

void RequireSoundFont(const std::string& fileName) {
    const TSoundFontProblem problem = CheckSoundFont(fileName);
    if (problem != TSoundFontProblem::sfOk) throw ESoundFontError(SoundFontProblemText(problem, fileName));
}

void SilenceFluidSynthLog() {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
        fluid_set_log_function(level, IgnoreMessage, nullptr);
}

}  // namespace korvalin
