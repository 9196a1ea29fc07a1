// FluidSynth's file renderer over a MIDI file, into the write-then-rename
// helper's temporary file, with progress and a way to stop.

#include "AudioFileRenderer.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "FileIO.h"
#include "SoundFonts.h"

namespace korvalin {

namespace {

struct SettingsDeleter {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* player) const { delete_fluid_player(player); }
};
struct RendererDeleter {
    void operator()(fluid_file_renderer_t* renderer) const { delete_fluid_file_renderer(renderer); }
};

// How often, in seconds of audio, the caller hears of the progress and may cancel.
constexpr double ProgressIntervalSeconds = 0.25;

// Written by the player's tick callback, which the file renderer runs on the
// calling thread between blocks.
struct TPlayerPosition {
    fluid_player_t* Player = nullptr;
    int Tick = -1;
    int LastTick = -1;

    static int OnTick(void* data, int tick) {
        auto* position = static_cast<TPlayerPosition*>(data);
        if (position->LastTick < 0) position->LastTick = fluid_player_get_total_ticks(position->Player);
        position->Tick = tick;
        return FLUID_OK;
    }
    bool Loaded() const { return LastTick >= 0; }
    bool AtEnd() const { return Loaded() && Tick >= LastTick; }
    double Share() const { return LastTick > 0 ? std::clamp(double(Tick) / LastTick, 0.0, 1.0) : 0.0; }
};

const char* SndfileType(TAudioFileType type) {
    switch (type) {
        case TAudioFileType::afFlac: return "flac";
        case TAudioFileType::afOggVorbis: return "oga";
        case TAudioFileType::afWav: break;
    }
    return "wav";
}

}  // namespace

std::optional<TAudioFileType> AudioFileTypeOf(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    const auto slash = fileName.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "wav") return TAudioFileType::afWav;
    if (extension == "flac") return TAudioFileType::afFlac;
    if (extension == "ogg" || extension == "oga") return TAudioFileType::afOggVorbis;
    return std::nullopt;
}

TAudioRenderResult RenderMidiToAudioFile(std::span<const std::uint8_t> midi, const std::string& target,
                                         const TAudioRenderOptions& options, const TAudioProgress& progress) {
    const auto type = AudioFileTypeOf(target);
    if (!type) throw EAudioError("The audio file's name must end in .wav, .flac or .ogg: " + target);
    const std::string soundFont = options.SoundFontFile.empty() ? DefaultSoundFontFile() : options.SoundFontFile;
    // The synthesizer below loads the whole file; a big SoundFont is not read twice.
    if (const auto problem = CheckSoundFontHeader(soundFont); problem != TSoundFontProblem::sfOk)
        throw ESoundFontError(SoundFontProblemText(problem, soundFont));

    const std::unique_ptr<fluid_settings_t, SettingsDeleter> settings(new_fluid_settings());
    if (!settings) throw EAudioError("The software synthesizer could not be started.");
    fluid_settings_t* const s = settings.get();
    // The player follows the samples rendered, not the clock: as fast as the
    // processor goes, with the timing the file asks for.
    fluid_settings_setstr(s, "player.timing-source", "sample");
    fluid_settings_setint(s, "synth.lock-memory", 0);
    fluid_settings_setstr(s, "audio.file.type", SndfileType(*type));
    // libsndfile takes 16-bit samples for WAV and FLAC; for Ogg it picks Vorbis.
    fluid_settings_setstr(s, "audio.file.format", "s16");

    const std::unique_ptr<fluid_synth_t, SynthDeleter> synth(new_fluid_synth(s));
    if (!synth) throw EAudioError("The software synthesizer could not be started.");
    if (fluid_synth_sfload(synth.get(), soundFont.c_str(), 1) == FLUID_FAILED)
        throw ESoundFontError(SoundFontProblemText(TSoundFontProblem::sfUnusable, soundFont));

    const std::unique_ptr<fluid_player_t, PlayerDeleter> player(new_fluid_player(synth.get()));
    if (!player) throw EAudioError("The MIDI player could not be started.");
    TPlayerPosition position;
    position.Player = player.get();
    fluid_player_set_tick_callback(player.get(), TPlayerPosition::OnTick, &position);
    if (fluid_player_add_mem(player.get(), midi.data(), midi.size()) != FLUID_OK ||
        fluid_player_play(player.get()) != FLUID_OK)
        throw EAudioError("The MIDI player could not be started.");

    // The renderer opens the temporary file by name; it is declared after the
    // file so that it is closed before a failure removes the file.
    TAtomicFile file(target, options.TempFiles);
    fluid_settings_setstr(s, "audio.file.name", file.TempName().c_str());
    std::unique_ptr<fluid_file_renderer_t, RendererDeleter> renderer(new_fluid_file_renderer(synth.get()));
    if (!renderer) throw EAudioError("The audio file could not be started: " + target);

    int periodSize = 64;
    fluid_settings_getint(s, "audio.period-size", &periodSize);
    double sampleRate = 44100;
    fluid_settings_getnum(s, "synth.sample-rate", &sampleRate);
    const auto blocksPer = [&](double seconds) {
        return std::max<long long>(1, static_cast<long long>(seconds * sampleRate / periodSize));
    };
    const long long progressBlocks = blocksPer(ProgressIntervalSeconds);
    const auto render = [&] {
        if (fluid_file_renderer_process_block(renderer.get()) != FLUID_OK)
            throw EAudioError("The audio could not be written: " + target);
    };
    const auto askToGoOn = [&](double share) {
        if (progress && !progress(share)) throw EAudioCancelled("The audio file was not written: cancelled.");
    };

    long long blocks = 0;
    while (!position.AtEnd() && fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING) {
        render();
        if (++blocks % progressBlocks == 0) askToGoOn(position.Share());
    }
    if (!position.Loaded()) throw EAudioError("The file is not a MIDI file the player can play.");
    const long long musicBlocks = blocks;
    fluid_player_stop(player.get());

    const long long minRelease = blocksPer(AudioMinReleaseSeconds);
    const long long maxRelease = blocksPer(AudioMaxReleaseSeconds);
    for (long long tail = 0; tail < maxRelease; ++tail) {
        if (tail >= minRelease && fluid_synth_get_active_voice_count(synth.get()) == 0) break;
        render();
        ++blocks;
        if (blocks % progressBlocks == 0) askToGoOn(1.0);
    }
    askToGoOn(1.0);

    // Closing the renderer completes the file (libsndfile writes its header
    // and the encoder's last pages) before it takes the target's place.
    renderer.reset();
    file.Commit();
    return {static_cast<double>(musicBlocks * periodSize) / sampleRate,
            static_cast<double>(blocks * periodSize) / sampleRate};
}

}  // namespace korvalin
