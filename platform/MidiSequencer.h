// The MIDI sequencer the window plays through.

#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace korvalin {

// End-of-play codes, the values a sequencer notification has always carried.
enum ENotifyCode : int {
    ncSuccessful = 1,  // the file played to its end
    ncSuperseded = 2,  // a new Play replaced the one this notification was for
    ncAborted = 4,     // Stop interrupted the play
    ncFailure = 8,     // the audio output stopped taking sound while playing
};

// Results of the sequencer's commands: 0 is success, anything else has a text
// from MidiSequencer::ErrorText.
enum ESequencerResult : int {
    srOk = 0,
    srAlreadyOpen = 1,
    srNotOpen = 2,
    srFileNotFound = 3,
    srFileUnreadable = 4,
    srFileRefused = 5,
    srNoSoundFont = 6,
    srSoundFontUnusable = 7,
    srSynthFailed = 8,
    srNoAudioOutput = 9,
    srPlayFailed = 10,
};

// How the sequencer reaches the synthesizer and the sound card. The defaults
// are what the program uses; tests pick FluidSynth's `file` driver so that
// playback runs in real time on machines without a sound card.
struct TSequencerOptions {
    // Empty: the system's General MIDI SoundFont.
    QString SoundFontFile;
    // Empty: the desktop's sound server, PulseAudio (which PipeWire desktops
    // serve too), else ALSA, else FluidSynth's own default; "file" renders to
    // AudioFileName.
    QString AudioDriver;
    // Where the `file` driver writes; the extension picks the format (.wav, .raw).
    QString AudioFileName;
    // How long the audio output may take no sound while playing before the
    // play ends with ncFailure.
    int StallTimeoutMs = 5000;
};

// Plays one MIDI file at a time through FluidSynth, the way the window drove
// the Windows MCI sequencer: Open, Play (always with an end notification),
// Stop, Close. Lives on the window's thread and is used from that thread only;
// FluidSynth's audio thread never touches a Qt object, and every notification
// reaches the Notify signal through a queued call on this object's thread.
class MidiSequencer : public QObject {
    Q_OBJECT

public:
    explicit MidiSequencer(QObject* parent = nullptr);
    explicit MidiSequencer(TSequencerOptions options, QObject* parent = nullptr);
    ~MidiSequencer() override;

    // Opens a MIDI file: reads it whole, checks that the player takes it, loads
    // the SoundFont (once per sequencer) and starts the audio output. One file
    // at a time: a second Open before Close gives srAlreadyOpen.
    int Open(const QString& fileName);
    // Plays from the current position and notifies when the play ends. A Play
    // while one is playing notifies the earlier one with ncSuperseded.
    int Play();
    // Stops at the current position; a play waiting for its end is notified
    // with ncAborted. Stopping a file that is not playing does nothing.
    int Stop();
    // Stops and closes the file. Notifications of a closed device that are
    // still queued are discarded, so nothing arrives for it after Close.
    int Close();
    // Holds a play where it is: the notes sounding are let go, and the play
    // still waits for its end. Pausing what does not play does nothing.
    int Pause();
    // Plays on from where Pause held it.
    int Resume();
    bool IsPaused() const { return FPaused; }
    // The tick the player has reached in the open file; -1 before it has
    // started or when closed. Read from the window's thread at any time.
    int CurrentTick() const;

    bool IsOpen() const;
    // Identifies the open device (unique in the process), 0 when closed; every
    // notification carries the id of the device it is about.
    int DeviceId() const;
    // The FluidSynth audio driver the open file plays through ("pulseaudio",
    // "alsa", ...); empty when closed.
    QString AudioDriverInUse() const;
    // The drivers Open tries, in order, for the given choice: the one asked
    // for, or the desktop's order among those FluidSynth was built with.
    static QStringList AudioDriverCandidates(const QString& requested);

    // The SoundFont that Open loads: the injected one, else the first system
    // General MIDI SoundFont that exists; empty when there is none.
    QString SoundFontFile() const;

    // The English text of a nonzero result.
    static QString ErrorText(int result);

signals:
    // The end of a play, delivered through the event loop of this object's
    // thread. Connect it directly (the default within one thread): a second
    // queued hop would let through what Close has discarded.
    void Notify(int code, int deviceId);

private:
    struct TEngine;
    struct TDevice;

    int EnsureEngine();
    int StartAudioDriver(TDevice& device);
    void SilenceSynth();
    void ReleaseNotes();
    void PollPlayer();
    void EndPlay(int code);
    void PostNotify(int code, int deviceId);
    void Deliver(int code, int deviceId);

    TSequencerOptions FOptions;
    std::unique_ptr<TEngine> FEngine;
    std::unique_ptr<TDevice> FDevice;
    QTimer FPollTimer;
    QElapsedTimer FSinceProgress;
    QElapsedTimer FPastEnd;
    unsigned FLastProgress = 0;
    bool FNotifyPending = false;
    bool FPaused = false;
};

}  // namespace korvalin
