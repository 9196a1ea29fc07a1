// Playback through FluidSynth's player and synthesizer, with the end of each
// play reported back on the window's thread.

#include "MidiSequencer.h"

#include <fluidsynth.h>

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaObject>

#include <array>
#include <atomic>
#include <mutex>
#include <utility>

namespace korvalin {

namespace {

Q_LOGGING_CATEGORY(lcFluidSynth, "korvalin.fluidsynth", QtWarningMsg)

// How often the window's thread looks at the player while a play is waiting
// for its end: the end is noticed at most this late.
constexpr int PollIntervalMs = 20;

// How long notes may ring on after the file's last event before the play counts
// as ended (FluidSynth's player allows itself as much).
constexpr int RingOutMs = 2000;

// Where Debian and the other common distributions put a General MIDI SoundFont;
// default-GM.sf2 is the alternatives link every GM SoundFont package maintains.
constexpr std::array DefaultSoundFonts{
    "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/soundfonts/default.sf2",
    "/usr/share/soundfonts/FluidR3_GM.sf2",
};

// FluidSynth prints to stderr by default and calls its log function on its own
// threads; Qt's message output is safe from any thread, so its messages go to
// a logging category the program can filter.
void LogFluidSynthMessage(int level, const char* message, void*) {
    switch (level) {
        case FLUID_PANIC:
        case FLUID_ERR:
        case FLUID_WARN: qCWarning(lcFluidSynth, "%s", message); break;
        case FLUID_INFO: qCInfo(lcFluidSynth, "%s", message); break;
        default: qCDebug(lcFluidSynth, "%s", message); break;
    }
}

void RouteFluidSynthLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, LogFluidSynthMessage, nullptr);
    });
}

struct SettingsDeleter {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* player) const { delete_fluid_player(player); }
};
struct DriverDeleter {
    void operator()(fluid_audio_driver_t* driver) const { delete_fluid_audio_driver(driver); }
};

using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerPtr = std::unique_ptr<fluid_player_t, PlayerDeleter>;
using DriverPtr = std::unique_ptr<fluid_audio_driver_t, DriverDeleter>;

int TickSeen(void* data, int) {
    static_cast<std::atomic<bool>*>(data)->store(true);
    return FLUID_OK;
}

int IgnoreEvent(void*, fluid_midi_event_t*) { return FLUID_OK; }

// The player reads its file only when it starts playing, on the audio thread,
// and a file it cannot parse simply ends the play. So that such a file is an
// Open failure instead, a throw-away player without sound parses the bytes
// here: it calls its tick callback only once a file has loaded.
bool PlayerAccepts(const QByteArray& bytes) {
    const SettingsPtr settings(new_fluid_settings());
    if (!settings) return false;
    fluid_settings_setint(settings.get(), "synth.reverb.active", 0);
    fluid_settings_setint(settings.get(), "synth.chorus.active", 0);
    const SynthPtr synth(new_fluid_synth(settings.get()));
    if (!synth) return false;
    const PlayerPtr player(new_fluid_player(synth.get()));
    if (!player) return false;
    std::atomic<bool> loaded{false};
    fluid_player_set_tick_callback(player.get(), TickSeen, &loaded);
    // The events would only reach a synthesizer without instruments.
    fluid_player_set_playback_callback(player.get(), IgnoreEvent, nullptr);
    if (fluid_player_add_mem(player.get(), bytes.constData(), static_cast<std::size_t>(bytes.size())) != FLUID_OK ||
        fluid_player_play(player.get()) != FLUID_OK)
        return false;
    // A few synthesis blocks run the player's callback, which loads the file.
    std::array<float, 256> left{};
    std::array<float, 256> right{};
    fluid_synth_write_float(synth.get(), static_cast<int>(left.size()), left.data(), 0, 1, right.data(), 0, 1);
    fluid_player_stop(player.get());
    return loaded.load();
}

// The division word of the header (ticks per quarter note), for the stall
// limit; the player refuses files without a plain one anyway.
int DivisionOf(const QByteArray& bytes) {
    if (bytes.size() < 14) return 1;
    const int division = (static_cast<unsigned char>(bytes[12]) << 8) | static_cast<unsigned char>(bytes[13]);
    return division > 0 && division < 0x8000 ? division : 1;
}

std::atomic<int> LastDeviceId{0};

}  // namespace

// The synthesizer with its SoundFont, loaded at the first Open and kept, so
// that only the first play of a session waits for the SoundFont.
struct MidiSequencer::TEngine {
    SettingsPtr Settings;
    SynthPtr Synth;
};

// One open file: its player and the audio output that drives the synthesizer.
// The atomics are written by the player's tick callback on the audio thread
// and read by the poll on the window's thread.
struct MidiSequencer::TDevice {
    int Id = 0;
    QString AudioDriver;
    int Division = 1;
    fluid_synth_t* Synth = nullptr;
    PlayerPtr Player;
    DriverPtr Driver;
    // Counts tick callbacks: proof that sound is still being made.
    std::atomic<unsigned> Progress{0};
    std::atomic<int> Tick{-1};
    // The tick of the file's last event, known once the player has loaded it.
    std::atomic<int> LastTick{-1};
    std::atomic<int> SoundingVoices{0};

    // The driver goes first: deleting it joins the audio thread, after which
    // nothing runs the player's callbacks any more.
    ~TDevice() { Driver.reset(); }

    static int OnTick(void* data, int tick) {
        auto* device = static_cast<TDevice*>(data);
        if (device->LastTick.load() < 0) device->LastTick.store(fluid_player_get_total_ticks(device->Player.get()));
        device->SoundingVoices.store(fluid_synth_get_active_voice_count(device->Synth));
        device->Tick.store(tick);
        device->Progress.fetch_add(1);
        return FLUID_OK;
    }
};

MidiSequencer::MidiSequencer(QObject* parent) : MidiSequencer(TSequencerOptions{}, parent) {}

MidiSequencer::MidiSequencer(TSequencerOptions options, QObject* parent)
    : QObject(parent), FOptions(std::move(options)) {
    RouteFluidSynthLog();
    // A QTimer on this thread rather than a call from FluidSynth's audio thread:
    // the player's status and what the tick callback records are atomics, so
    // polling them here needs no lock, and nothing on the audio thread ever
    // touches a Qt object or has to know whether this one still exists.
    FPollTimer.setInterval(PollIntervalMs);
    connect(&FPollTimer, &QTimer::timeout, this, &MidiSequencer::PollPlayer);
}

MidiSequencer::~MidiSequencer() {
    if (FDevice) Close();
}

QString MidiSequencer::SoundFontFile() const {
    if (!FOptions.SoundFontFile.isEmpty())
        return QFileInfo::exists(FOptions.SoundFontFile) ? FOptions.SoundFontFile : QString();
    for (const char* candidate : DefaultSoundFonts)
        if (QFileInfo::exists(QString::fromUtf8(candidate))) return QString::fromUtf8(candidate);
    return {};
}

int MidiSequencer::EnsureEngine() {
    if (FEngine) return srOk;
    const QString soundFont = SoundFontFile();
    if (soundFont.isEmpty()) return srNoSoundFont;

    auto engine = std::make_unique<TEngine>();
    engine->Settings.reset(new_fluid_settings());
    if (!engine->Settings) return srSynthFailed;
    fluid_settings_t* settings = engine->Settings.get();
    if (!FOptions.AudioFileName.isEmpty())
        fluid_settings_setstr(settings, "audio.file.name", QFile::encodeName(FOptions.AudioFileName).constData());
    engine->Synth.reset(new_fluid_synth(settings));
    if (!engine->Synth) return srSynthFailed;
    if (fluid_synth_sfload(engine->Synth.get(), QFile::encodeName(soundFont).constData(), 1) == FLUID_FAILED)
        return srSoundFontUnusable;
    FEngine = std::move(engine);
    return srOk;
}

int MidiSequencer::Open(const QString& fileName) {
    if (FDevice) return srAlreadyOpen;

    QFile file(fileName);
    if (!file.exists()) return srFileNotFound;
    if (!file.open(QIODevice::ReadOnly)) return srFileUnreadable;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return srFileUnreadable;
    file.close();
    if (!PlayerAccepts(bytes)) return srFileRefused;

    if (const int result = EnsureEngine(); result != srOk) return result;

    auto device = std::make_unique<TDevice>();
    device->Division = DivisionOf(bytes);
    device->Synth = FEngine->Synth.get();
    device->Player.reset(new_fluid_player(device->Synth));
    if (!device->Player) return srSynthFailed;
    fluid_player_set_tick_callback(device->Player.get(), TDevice::OnTick, device.get());
    if (fluid_player_add_mem(device->Player.get(), bytes.constData(), static_cast<std::size_t>(bytes.size())) !=
        FLUID_OK)
        return srSynthFailed;
    if (const int result = StartAudioDriver(*device); result != srOk) return result;

    device->Id = ++LastDeviceId;
    FDevice = std::move(device);
    FNotifyPending = false;
    return srOk;
}

int MidiSequencer::Play() {
    if (!FDevice) return srNotOpen;
    if (FPaused) return Resume();
    if (FNotifyPending) {
        // Already playing: it goes on, and the new notify replaces the old one.
        PostNotify(ncSuperseded, FDevice->Id);
        return srOk;
    }
    if (fluid_player_play(FDevice->Player.get()) != FLUID_OK) return srPlayFailed;
    FNotifyPending = true;
    FLastProgress = FDevice->Progress.load();
    FSinceProgress.start();
    FPastEnd.invalidate();
    FPollTimer.start();
    return srOk;
}

int MidiSequencer::Stop() {
    if (!FDevice) return srNotOpen;
    FPaused = false;
    if (FNotifyPending) {
        fluid_player_stop(FDevice->Player.get());
        EndPlay(ncAborted);
    }
    return srOk;
}

int MidiSequencer::Pause() {
    if (!FDevice) return srNotOpen;
    if (!FNotifyPending || FPaused) return srOk;
    // The player stops at its current tick and plays on from there; its own
    // note release comes with its next callback, so the notes are let go
    // here at once, with the pedals that would hold them on.
    fluid_player_stop(FDevice->Player.get());
    FPollTimer.stop();
    FPaused = true;
    ReleaseNotes();
    return srOk;
}

int MidiSequencer::Resume() {
    if (!FDevice) return srNotOpen;
    if (!FPaused) return srOk;
    if (fluid_player_play(FDevice->Player.get()) != FLUID_OK) return srPlayFailed;
    FPaused = false;
    FLastProgress = FDevice->Progress.load();
    FSinceProgress.start();
    FPastEnd.invalidate();
    FPollTimer.start();
    return srOk;
}

int MidiSequencer::CurrentTick() const { return FDevice ? FDevice->Tick.load() : -1; }

void MidiSequencer::ReleaseNotes() {
    fluid_synth_t* synth = FEngine->Synth.get();
    for (int channel = 0; channel < fluid_synth_count_midi_channels(synth); ++channel) {
        fluid_synth_cc(synth, channel, 64, 0);  // sustain
        fluid_synth_cc(synth, channel, 66, 0);  // sostenuto
        fluid_synth_all_notes_off(synth, channel);
    }
}

int MidiSequencer::Close() {
    if (!FDevice) return srNotOpen;
    FPollTimer.stop();
    FNotifyPending = false;
    FPaused = false;
    FDevice.reset();
    SilenceSynth();
    return srOk;
}

void MidiSequencer::SilenceSynth() {
    // The synthesizer outlives the device, and whatever still sounds in it
    // would sound at the start of the next file: notes a Stop has only just
    // released, notes it never reached because the driver went first. A system
    // reset ends the held notes but leaves releasing ones to fade, so those are
    // rendered away here, where no driver runs any more; the second reset
    // clears what they left in the reverb.
    fluid_synth_t* synth = FEngine->Synth.get();
    fluid_synth_system_reset(synth);
    std::array<float, 1024> left{};
    std::array<float, 1024> right{};
    // At most ten seconds of sound, whatever a SoundFont's release times are.
    for (int block = 0; block < 430 && fluid_synth_get_active_voice_count(synth) > 0; ++block)
        fluid_synth_write_float(synth, static_cast<int>(left.size()), left.data(), 0, 1, right.data(), 0, 1);
    fluid_synth_system_reset(synth);
}

QStringList MidiSequencer::AudioDriverCandidates(const QString& requested) {
    if (!requested.isEmpty()) return {requested};
    const SettingsPtr settings(new_fluid_settings());
    QStringList built;
    if (settings)
        fluid_settings_foreach_option(settings.get(), "audio.driver", &built,
                                      [](void* data, const char*, const char* option) {
                                          static_cast<QStringList*>(data)->append(QString::fromUtf8(option));
                                      });
    QStringList order;
    for (const QString& preferred : {QStringLiteral("pulseaudio"), QStringLiteral("alsa")})
        if (built.contains(preferred)) order << preferred;
    char* fallback = nullptr;
    if (settings && fluid_settings_getstr_default(settings.get(), "audio.driver", &fallback) == FLUID_OK &&
        fallback != nullptr && !order.contains(QString::fromUtf8(fallback)))
        order << QString::fromUtf8(fallback);
    return order;
}

int MidiSequencer::StartAudioDriver(TDevice& device) {
    // A desktop without a sound server (or a server that is not running)
    // refuses the first driver at once; the next one is tried.
    for (const QString& driver : AudioDriverCandidates(FOptions.AudioDriver)) {
        fluid_settings_setstr(FEngine->Settings.get(), "audio.driver", driver.toUtf8().constData());
        device.Driver.reset(new_fluid_audio_driver(FEngine->Settings.get(), FEngine->Synth.get()));
        if (device.Driver) {
            device.AudioDriver = driver;
            return srOk;
        }
    }
    return srNoAudioOutput;
}

QString MidiSequencer::AudioDriverInUse() const { return FDevice ? FDevice->AudioDriver : QString(); }

bool MidiSequencer::IsOpen() const { return FDevice != nullptr; }

int MidiSequencer::DeviceId() const { return FDevice ? FDevice->Id : 0; }

void MidiSequencer::PollPlayer() {
    if (!FDevice || !FNotifyPending) {
        FPollTimer.stop();
        return;
    }
    fluid_player_t* player = FDevice->Player.get();
    if (fluid_player_get_status(player) == FLUID_PLAYER_DONE) {
        EndPlay(ncSuccessful);
        return;
    }
    // FluidSynth's player reports its end only seconds after the last event,
    // and never while a note without its note-off still sounds; the file has
    // ended when the last event has played and the last note has faded, or a
    // moment after, so that held notes do not keep the play going for ever.
    const int lastTick = FDevice->LastTick.load();
    if (lastTick >= 0 && FDevice->Tick.load() >= lastTick) {
        if (!FPastEnd.isValid()) FPastEnd.start();
        if (FDevice->SoundingVoices.load() == 0 || FPastEnd.elapsed() >= RingOutMs) {
            fluid_player_stop(player);
            EndPlay(ncSuccessful);
            return;
        }
    }
    const unsigned progress = FDevice->Progress.load();
    if (progress != FLastProgress) {
        FLastProgress = progress;
        FSinceProgress.start();
        return;
    }
    // Ticks come as fast as the tempo allows; a file with very long ticks gets
    // room for two of them before silence counts as a dead output.
    const qint64 tickMs = fluid_player_get_midi_tempo(player) / FDevice->Division / 1000;
    if (FSinceProgress.elapsed() > FOptions.StallTimeoutMs + 2 * tickMs) {
        fluid_player_stop(player);
        EndPlay(ncFailure);
    }
}

void MidiSequencer::EndPlay(int code) {
    FNotifyPending = false;
    FPollTimer.stop();
    PostNotify(code, FDevice->Id);
}

void MidiSequencer::PostNotify(int code, int deviceId) {
    QMetaObject::invokeMethod(
        this, [this, code, deviceId] { Deliver(code, deviceId); }, Qt::QueuedConnection);
}

void MidiSequencer::Deliver(int code, int deviceId) {
    if (FDevice && FDevice->Id == deviceId) emit Notify(code, deviceId);
}

QString MidiSequencer::ErrorText(int result) {
    switch (result) {
        case srOk: return QStringLiteral("The command completed successfully.");
        case srAlreadyOpen: return QStringLiteral("A MIDI file is already open in the player.");
        case srNotOpen: return QStringLiteral("No MIDI file is open in the player.");
        case srFileNotFound: return QStringLiteral("The MIDI file was not found.");
        case srFileUnreadable: return QStringLiteral("The MIDI file could not be read.");
        case srFileRefused: return QStringLiteral("The file is not a MIDI file the player can play.");
        case srNoSoundFont:
            return QStringLiteral(
                "No General MIDI SoundFont was found. Install a package that provides "
                "/usr/share/sounds/sf2/default-GM.sf2, such as timgm6mb-soundfont.");
        case srSoundFontUnusable: return QStringLiteral("The General MIDI SoundFont could not be loaded.");
        case srSynthFailed: return QStringLiteral("The software synthesizer could not be started.");
        case srNoAudioOutput: return QStringLiteral("No audio output device is available.");
        case srPlayFailed: return QStringLiteral("Playback could not be started.");
        default: return QStringLiteral("MIDI playback error %1").arg(result);
    }
}

}  // namespace korvalin
