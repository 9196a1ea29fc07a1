// Audio files of what the play buttons play, written by FluidSynth on a
// thread of their own behind a progress dialog, and the choice of SoundFont
// that both playback and audio files use.

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "AudioFileRenderer.h"
#include "FileIO.h"
#include "MainForm.h"
#include "Playback.h"
#include "MainFormSupport.h"
#include "MidiSequencer.h"
#include "MidiTransposer.h"
#include "SettingsIni.h"
#include "SoundFonts.h"

namespace {

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromNative(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// How often the progress dialog looks at the rendering thread.
constexpr int kAudioPollMs = 50;

// One rendering on its thread: what it reads and what it reports. The thread
// touches nothing of the window, only this, which outlives it.
struct TAudioJob {
    std::vector<std::uint8_t> Midi;
    std::string Target;
    korvalin::TAudioRenderOptions Options;
    std::atomic<int> Permille{0};
    std::atomic<bool> Cancel{false};
    std::atomic<bool> Done{false};
    bool Cancelled = false;
    std::string Error;

    void Run() {
        try {
            korvalin::RenderMidiToAudioFile(Midi, Target, Options, [this](double share) {
                Permille.store(static_cast<int>(share * 1000));
                return !Cancel.load();
            });
        } catch (const korvalin::EAudioCancelled&) {
            Cancelled = true;
        } catch (const std::exception& e) {
            Error = e.what();
        }
        Done.store(true);
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Commands and texts

void TfrmMain::ConnectAudioCommands() {
    ConnectCommand(btnSaveAudio, &TfrmMain::btnSaveAudioClick);
    ConnectCommand(btnSoundFont, &TfrmMain::btnSoundFontClick);
    FSaveAudioMenu = new QMenu(this);
    FSaveAudioMenu->setObjectName(QStringLiteral("FSaveAudioMenu"));
    actSaveAudioOriginal = FSaveAudioMenu->addAction(QString());
    actSaveAudioOriginal->setObjectName(QStringLiteral("actSaveAudioOriginal"));
    actSaveAudioTransposed = FSaveAudioMenu->addAction(QString());
    actSaveAudioTransposed->setObjectName(QStringLiteral("actSaveAudioTransposed"));
    connect(actSaveAudioOriginal, &QAction::triggered, this, [this] { Guarded([this] { SaveAudio(false); }); });
    connect(actSaveAudioTransposed, &QAction::triggered, this, [this] { Guarded([this] { SaveAudio(true); }); });
    FSoundFontMenu = new QMenu(this);
    FSoundFontMenu->setObjectName(QStringLiteral("FSoundFontMenu"));
    FSoundFontMenu->setToolTipsVisible(true);

    // A stored SoundFont that has since gone or broken gives way to the default.
    const QString stored = FromNative(korvalin::LoadSoundFontFile(NativePath(SettingsFileName())));
    if (!stored.isEmpty() && korvalin::CheckSoundFontHeader(NativePath(stored)) == korvalin::TSoundFontProblem::sfOk)
        FSoundFontFile = stored;
}

void TfrmMain::ApplyAudioLanguage() {
    btnSaveAudio->setText(Localized(QStringLiteral("Сохранить звук…"), QStringLiteral("Save audio…")));
    btnSoundFont->setText(Localized(QStringLiteral("Звуковой банк…"), QStringLiteral("SoundFont…")));
    btnSoundFont->setToolTip(Localized(QStringLiteral("Звуковой банк: %1"), QStringLiteral("SoundFont: %1"))
                                 .arg(QDir::toNativeSeparators(SoundFontFile())));
    actSaveAudioOriginal->setText(Localized(QStringLiteral("Исходный MIDI…"), QStringLiteral("Original MIDI…")));
    actSaveAudioTransposed->setText(
        Localized(QStringLiteral("С новыми настройками…"), QStringLiteral("With new settings…")));
    AudioSaveDialog.DefaultExt = QStringLiteral("wav");
    AudioSaveDialog.OverwritePrompt = true;
    AudioSaveDialog.Filter = Localized(
        QStringLiteral("WAV (*.wav)|*.wav|FLAC (*.flac)|*.flac|Ogg Vorbis (*.ogg)|*.ogg|Все файлы (*.*)|*.*"),
        QStringLiteral("WAV (*.wav)|*.wav|FLAC (*.flac)|*.flac|Ogg Vorbis (*.ogg)|*.ogg|All files (*.*)|*.*"));
    SoundFontDialog.FileMustExist = true;
    SoundFontDialog.Filter =
        Localized(QStringLiteral("Звуковые банки SoundFont (*.sf2;*.sf3)|*.sf2;*.sf3|Все файлы (*.*)|*.*"),
                  QStringLiteral("SoundFont files (*.sf2;*.sf3)|*.sf2;*.sf3|All files (*.*)|*.*"));
}

void TfrmMain::UpdateAudioButtons() {
    SetCommandEnabled(btnSaveAudio, !FSourceMidiFile.isEmpty() && QFileInfo::exists(FSourceMidiFile));
}

// ---------------------------------------------------------------------------
// Audio files

void TfrmMain::btnSaveAudioClick() {
    actSaveAudioTransposed->setEnabled(pnlMidiSettings->isEnabled());
    FSaveAudioMenu->popup(btnSaveAudio->mapToGlobal(QPoint(0, btnSaveAudio->height())));
}

void TfrmMain::SaveAudio(bool withNewSettings) {
    if (FSourceMidiFile.isEmpty() || !QFileInfo::exists(FSourceMidiFile)) return;
    int newFifths = 0;
    int tempo = 0;
    int semitones = 0;
    if (withNewSettings && !ReadNewKeyAndTempo(newFifths, tempo, semitones)) return;

    QString name = withNewSettings ? QFileInfo(DefaultNewMidiName(newFifths, tempo)).completeBaseName()
                                   : QFileInfo(edtFileName->text()).completeBaseName();
    if (name.isEmpty()) name = QStringLiteral("Korvalin");
    AudioSaveDialog.FileName = name + QStringLiteral(".wav");
    // A dropped file's temporary copy sits in a folder that is no place to keep anything.
    if (FSourceMidiFile.compare(FDroppedMidiFile, Qt::CaseInsensitive) != 0)
        AudioSaveDialog.InitialDir = QFileInfo(FSourceMidiFile).absolutePath();
    const QString fileName = AskSaveFileName(AudioSaveDialog);
    if (fileName.isEmpty()) return;
    if (!korvalin::AudioFileTypeOf(NativePath(fileName))) {
        ShowMessage(TMessageKind::mkInformation,
                    Localized(QStringLiteral("Выберите имя файла с расширением .wav, .flac или .ogg."),
                              QStringLiteral("Choose a file name ending in .wav, .flac or .ogg.")));
        return;
    }

    std::vector<std::uint8_t> midi;
    try {
        midi = korvalin::ReadWholeFile(NativePath(FSourceMidiFile));
        if (withNewSettings) midi = korvalin::TransposeMidiBytes(midi, semitones, newFifths, FMidi->KeyMinor, tempo);
    } catch (const std::exception& e) {
        ShowError(Localized(QStringLiteral("Не удалось подготовить MIDI для записи звука:"),
                            QStringLiteral("Could not prepare the MIDI for the audio file:")),
                  QString::fromUtf8(e.what()));
        return;
    }

    QString error;
    switch (RunAudioJob(std::move(midi), fileName, error)) {
        case TAudioOutcome::aoDone:
            lblStatus->setText(Localized(QStringLiteral("Звук сохранён: "), QStringLiteral("Audio saved: ")) +
                               fileName);
            break;
        case TAudioOutcome::aoCancelled:
            lblStatus->setText(Localized(QStringLiteral("Запись звука отменена."),
                                         QStringLiteral("Writing the audio was cancelled.")));
            break;
        case TAudioOutcome::aoFailed:
            ShowError(
                Localized(QStringLiteral("Не удалось сохранить звук:"), QStringLiteral("Could not save the audio:")),
                error);
            break;
    }
}

TfrmMain::TAudioOutcome TfrmMain::RunAudioJob(std::vector<std::uint8_t> midi, const QString& fileName, QString& error) {
    TAudioJob job;
    job.Midi = std::move(midi);
    job.Target = NativePath(fileName);
    job.Options.SoundFontFile = NativePath(FSoundFontFile);

    QProgressDialog progress(this);
    progress.setObjectName(QStringLiteral("AudioProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setWindowTitle(Localized(QStringLiteral("Запись звука"), QStringLiteral("Writing audio")));
    progress.setLabelText(Localized(QStringLiteral("Записываем звук в %1"), QStringLiteral("Writing the audio to %1"))
                              .arg(QFileInfo(fileName).fileName()));
    progress.setCancelButtonText(Localized(QStringLiteral("Отмена"), QStringLiteral("Cancel")));
    progress.setRange(0, 1000);
    progress.setMinimumDuration(400);
    progress.setAutoClose(false);
    progress.setAutoReset(false);

    // The window goes on drawing and answering while the thread renders; the
    // modal dialog keeps the user from starting anything else meanwhile.
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kAudioPollMs);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        // Its Cancel button and its cancel() alike leave the dialog marked.
        if (progress.wasCanceled()) job.Cancel.store(true);
        else progress.setValue(job.Permille.load());
        if (job.Done.load()) loop.quit();
    });
    std::thread worker([&job] { job.Run(); });
    poll.start();
    loop.exec();
    worker.join();
    progress.close();

    if (job.Cancelled) return TAudioOutcome::aoCancelled;
    if (!job.Error.empty()) {
        error = QString::fromUtf8(job.Error);
        return TAudioOutcome::aoFailed;
    }
    return TAudioOutcome::aoDone;
}

// ---------------------------------------------------------------------------
// SoundFont

QString TfrmMain::SoundFontFile() const {
    return FSoundFontFile.isEmpty() ? FromNative(korvalin::DefaultSoundFontFile()) : FSoundFontFile;
}

void TfrmMain::btnSoundFontClick() {
    BuildSoundFontMenu();
    FSoundFontMenu->popup(btnSoundFont->mapToGlobal(QPoint(0, btnSoundFont->height())));
}

void TfrmMain::BuildSoundFontMenu() {
    FSoundFontMenu->clear();
    const QString current = SoundFontFile();
    const QString fallback = FromNative(korvalin::DefaultSoundFontFile());
    for (const std::string& installed : korvalin::InstalledSoundFonts()) {
        const QString path = FromNative(installed);
        QString caption = QFileInfo(path).fileName();
        if (path == fallback) caption += Localized(QStringLiteral(" (по умолчанию)"), QStringLiteral(" (default)"));
        QAction* item = FSoundFontMenu->addAction(caption);
        item->setToolTip(QDir::toNativeSeparators(path));
        item->setCheckable(true);
        item->setChecked(path == current);
        connect(item, &QAction::triggered, this, [this, path] { Guarded([this, path] { ChooseSoundFont(path); }); });
    }
    if (!FSoundFontFile.isEmpty() && !FSoundFontMenu->actions().isEmpty() &&
        std::none_of(FSoundFontMenu->actions().cbegin(), FSoundFontMenu->actions().cend(),
                     [](const QAction* item) { return item->isChecked(); })) {
        QAction* chosen = FSoundFontMenu->addAction(QFileInfo(FSoundFontFile).fileName());
        chosen->setToolTip(QDir::toNativeSeparators(FSoundFontFile));
        chosen->setCheckable(true);
        chosen->setChecked(true);
    }
    FSoundFontMenu->addSeparator();
    QAction* other =
        FSoundFontMenu->addAction(Localized(QStringLiteral("Другой файл…"), QStringLiteral("Other file…")));
    other->setObjectName(QStringLiteral("actOtherSoundFont"));
    connect(other, &QAction::triggered, this, [this] { Guarded([this] { OtherSoundFontClick(); }); });
}

void TfrmMain::OtherSoundFontClick() {
    SoundFontDialog.InitialDir = QFileInfo(SoundFontFile()).absolutePath();
    const QString fileName = AskOpenFileName(SoundFontDialog);
    if (!fileName.isEmpty()) ChooseSoundFont(fileName);
}

bool TfrmMain::ChooseSoundFont(const QString& fileName) {
    const korvalin::TSoundFontProblem problem = korvalin::CheckSoundFont(NativePath(fileName));
    if (problem != korvalin::TSoundFontProblem::sfOk) {
        QString reason;
        switch (problem) {
            case korvalin::TSoundFontProblem::sfNotFound:
                reason = Localized(QStringLiteral("Файл не найден:"), QStringLiteral("The file was not found:"));
                break;
            case korvalin::TSoundFontProblem::sfNotSoundFont:
                reason = Localized(QStringLiteral("Это не звуковой банк SoundFont (.sf2 или .sf3):"),
                                   QStringLiteral("This is not a SoundFont (.sf2 or .sf3):"));
                break;
            default:
                reason =
                    Localized(QStringLiteral("Звуковой банк не загружается (файл повреждён или не поддерживается):"),
                              QStringLiteral("The SoundFont does not load (the file is damaged or not supported):"));
                break;
        }
        ShowError(
            Localized(QStringLiteral("Звуковой банк не изменён."), QStringLiteral("The SoundFont was not changed.")),
            reason + QLatin1Char('\n') + fileName);
        return false;
    }

    // The default is stored as no choice, so a later set-up's default applies.
    const QString absolute = QFileInfo(fileName).absoluteFilePath();
    FSoundFontFile = absolute == FromNative(korvalin::DefaultSoundFontFile()) ? QString() : absolute;
    try {
        korvalin::SaveSoundFontFile(NativePath(SettingsFileName()), NativePath(FSoundFontFile));
    } catch (const std::exception&) {
        // As with the history: the choice holds for this session all the same.
    }
    // The sequencer loads its SoundFont once; the next play makes a new one.
    StopPlayback(false);
    FPlayback->ReleaseSequencer();
    ApplyAudioLanguage();
    lblStatus->setText(Localized(QStringLiteral("Звуковой банк: %1"), QStringLiteral("SoundFont: %1"))
                           .arg(QDir::toNativeSeparators(SoundFontFile())));
    return true;
}
