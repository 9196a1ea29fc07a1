#pragma once

// Writes what the sequencer would play as an audio file (WAV, FLAC, Ogg
// Vorbis), through FluidSynth's file renderer, faster than real time.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace korvalin {

class TTempFileRegistry;

// Rendering a MIDI file to audio failed; the message says why.
class EAudioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The caller's progress function asked to stop; nothing was written.
class EAudioCancelled : public EAudioError {
public:
    using EAudioError::EAudioError;
};

enum class TAudioFileType { afWav, afFlac, afOggVorbis };

// The type a file name asks for by its extension (.wav, .flac, .ogg or .oga,
// in any case); none for any other name.
std::optional<TAudioFileType> AudioFileTypeOf(const std::string& fileName);

// After the music's last event the file goes on while notes fade: at least
// this long, so the reverb dies away too...
inline constexpr double AudioMinReleaseSeconds = 1.0;
// ...and at most this long, cutting notes a file leaves sounding.
inline constexpr double AudioMaxReleaseSeconds = 4.0;

struct TAudioRenderOptions {
    // Empty: DefaultSoundFontFile().
    std::string SoundFontFile;
    // A program that may be stopped by a signal keeps its temporary file here.
    TTempFileRegistry* TempFiles = nullptr;
};

struct TAudioRenderResult {
    double MusicSeconds = 0;  // up to the file's last event
    double Seconds = 0;       // the whole audio file, release included
};

// Called now and then with the share of the music rendered so far (0..1);
// returning false cancels the rendering.
using TAudioProgress = std::function<bool(double)>;

// Renders a Standard MIDI File with FluidSynth's file renderer, as fast as the
// processor allows, into `target` as 16-bit stereo WAV or FLAC or as Ogg
// Vorbis at 44.1 kHz, by the target's extension. The audio goes to a temporary
// file beside the target that is renamed over it only when complete: a failure
// or a cancel (EAudioCancelled) leaves an existing target as it was. Throws
// EAudioError, ESoundFontError or EFileError. Uses no global state but
// FluidSynth's log, so several renderings may run on threads of their own.
TAudioRenderResult RenderMidiToAudioFile(std::span<const std::uint8_t> midi, const std::string& target,
                                         const TAudioRenderOptions& options = {}, const TAudioProgress& progress = {});

}  // namespace korvalin
