// The window's new-key panel (a new key of the same mode and a new whole
// tempo, saved as a new MIDI file) and its playback through the sequencer.

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <exception>
#include <vector>

#include "MainForm.h"
#include "RecentFiles.h"
#include "TrackList.h"
#include "Playback.h"
#include "MainFormSupport.h"
#include "BusyCursor.h"
#include "MidiPlaybackPreparer.h"
#include "MidiPlaybackStart.h"
#include "MidiPlaybackWriter.h"
#include "MidiSequencer.h"
#include "MidiTransposer.h"
#include "MusicXmlExporter.h"

using korvalin::MidiSequencer;
using korvalin::TMidiTrack;
using korvalin::mainform::FromUtf8;

namespace {

constexpr int kMinTempo = 20;
constexpr int kMaxTempo = 400;

std::string NativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Blanks and control characters at either end of a number do not count
// against it: the field may hold text the validator never saw.
QString TrimmedOfControls(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= 0x20) ++first;
    while (last > first && text[last - 1].unicode() <= 0x20) --last;
    return text.mid(first, last - first);
}

}  // namespace

// ---------------------------------------------------------------------------
// New key and tempo

bool TfrmMain::ReadNewKeyAndTempo(int& newFifths, int& tempo, int& semitones) {
    if (cbNewKey->currentIndex() < 0) {
        ShowMessage(TMessageKind::mkInformation,
                    Localized(QStringLiteral("Не удалось определить исходную тональность."),
                              QStringLiteral("Could not determine the original key.")));
        return false;
    }
    bool isNumber = false;
    const int value = TrimmedOfControls(edtNewTempo->text()).toInt(&isNumber);
    if (!isNumber || value < kMinTempo || value > kMaxTempo) {
        ShowMessage(TMessageKind::mkInformation, Localized(QStringLiteral("Введите темп от 20 до 400 BPM."),
                                                           QStringLiteral("Enter a tempo from 20 to 400 BPM.")));
        edtNewTempo->setFocus();
        return false;
    }
    tempo = value;
    newFifths = cbNewKey->currentIndex() - 7;
    semitones = korvalin::TranspositionSemitones(FMidi->KeyFifths, newFifths, FMidi->KeyMinor);
    return true;
}

QString TfrmMain::KeyNameForFile(const QString& keyName) {
    QString name = keyName;
    name.replace(QLatin1Char('#'), QLatin1String("-sharp"));
    name.replace(QLatin1Char(' '), QLatin1Char('-'));
    return name;
}

QString TfrmMain::DefaultNewMidiName(int newFifths, int tempo) const {
    QString base = QFileInfo(edtFileName->text()).completeBaseName();
    if (base.isEmpty()) base = QStringLiteral("Korvalin");
    const QString key = KeyNameForFile(FromUtf8(korvalin::KeyNameFromFifths(newFifths, FMidi->KeyMinor)));
    // One pass: a "%1" in the file's own name must stay as it is.
    return QStringLiteral("%1_%2BPM_%3.mid").arg(base, QString::number(tempo), key);
}

void TfrmMain::TransposeSourceTo(const QString& destFile, int newFifths, int semitones, int tempo) {
    korvalin::TransposeMidiFile(NativePath(FSourceMidiFile), NativePath(destFile), semitones, newFifths,
                                FMidi->KeyMinor, tempo);
}

void TfrmMain::btnPreviewTransposedClick() {
    if (!FViewerError().isEmpty()) {
        ShowError(Localized(QStringLiteral("Встроенный просмотрщик недоступен:"),
                            QStringLiteral("The built-in viewer is unavailable:")),
                  FViewerError());
        return;
    }
    int newFifths = 0;
    int tempo = 0;
    int semitones = 0;
    if (!ReadNewKeyAndTempo(newFifths, tempo, semitones)) return;

    const TBusyCursor busy;
    try {
        // The rewritten file is read into a model of its own: the loaded file,
        // its rows and the user's part settings stay as they are.
        korvalin::TMidiFile transposed;
        const korvalin::TPrivateFileMode privateMode = ClaimTemporaryFile(FTransposedTempFile);
        TransposeSourceTo(FTransposedTempFile, newFifths, semitones, tempo);
        transposed.LoadFromFile(NativePath(FTransposedTempFile));
        const std::vector<const TMidiTrack*> tracks = FTracks->TickedCounterparts(transposed);
        if (tracks.empty()) {
            ShowMessage(TMessageKind::mkInformation,
                        Localized(QStringLiteral("Отметьте хотя бы одну музыкальную дорожку."),
                                  QStringLiteral("Select at least one musical track.")));
            return;
        }
        const korvalin::TPrivateFileMode privatePreview = ClaimTemporaryFile(FPreviewFile);
        korvalin::TExportOptions options = ExportOptions();
        options.Timeline = &FBuiltTimeline;
        korvalin::BuildMusicXml(transposed, tracks, NativePath(FPreviewFile), SelectedGrid(), options);
        SendScoreFile(FPreviewFile);
    } catch (const std::exception& e) {
        ShowError(Localized(QStringLiteral("Не удалось показать транспонированную партитуру:"),
                            QStringLiteral("Could not show the transposed score:")),
                  QString::fromUtf8(e.what()));
        return;
    }
    const QString keyName = FromUtf8(korvalin::KeyNameFromFifths(newFifths, FMidi->KeyMinor));
    ShowStatus([this, tempo, keyName] {
        return Localized(QStringLiteral("Показана транспонированная партитура: %1 BPM · %2"),
                         QStringLiteral("Showing transposed score: %1 BPM · %2"))
            .arg(tempo)
            .arg(keyName);
    });
}

void TfrmMain::btnSaveMidiClick() {
    int newFifths = 0;
    int tempo = 0;
    int semitones = 0;
    if (!ReadNewKeyAndTempo(newFifths, tempo, semitones)) return;

    MidiSaveDialog.FileName = DefaultNewMidiName(newFifths, tempo);
    // A file dropped on the score view is loaded from its temporary copy; its
    // folder is no place to offer for a file the user keeps.
    if (!FSourceMidiFile.isEmpty() && FSourceMidiFile.compare(FDroppedMidiFile, Qt::CaseInsensitive) != 0)
        MidiSaveDialog.InitialDir = QFileInfo(FSourceMidiFile).absolutePath();
    const QString fileName = AskSaveFileName(MidiSaveDialog);
    if (fileName.isEmpty()) return;

    try {
        TransposeSourceTo(fileName, newFifths, semitones, tempo);
    } catch (const std::exception& e) {
        ShowError(Localized(QStringLiteral("Не удалось сохранить MIDI:"), QStringLiteral("Could not save MIDI:")),
                  QString::fromUtf8(e.what()));
        return;
    }
    FHistory->Add(fileName, true);
    ShowStatus([this, fileName] {
        return Localized(QStringLiteral("Новый MIDI сохранён: "), QStringLiteral("New MIDI saved: ")) + fileName;
    });
    ShowMessage(TMessageKind::mkInformation,
                Localized(QStringLiteral("MIDI успешно сохранён:"), QStringLiteral("MIDI saved successfully:")) +
                    QLatin1Char('\n') + fileName);
}

// ---------------------------------------------------------------------------
// Playback

korvalin::TSequencerOptions TfrmMain::SequencerOptions() const {
    korvalin::TSequencerOptions options;
    options.SoundFontFile = FSoundFontFile;
    return options;
}

QString TfrmMain::MciErrorText(int code) {
    const QString text = MidiSequencer::ErrorText(code);
    return text.isEmpty() ? QStringLiteral("MCI error %1").arg(code) : text;
}

void TfrmMain::PlayMidi(const QString& fileName, const QString& caption) {
    PlayMidi(fileName, [caption] { return caption; });
}

void TfrmMain::PlayMidi(const QString& fileName, const std::function<QString()>& caption) {
    StopPlayback(false);
    std::int64_t leadIn = 0;
    try {
        const korvalin::TPrivateFileMode privateMode = ClaimTemporaryFile(FPreparedPlaybackFile);
        korvalin::PreparePlaybackMidiFrom(NativePath(fileName), NativePath(FPreparedPlaybackFile),
                                          FPlayback->StartTick());
        leadIn = korvalin::PlaybackLeadIn(static_cast<std::uint16_t>(FMidi->PPQN));
    } catch (const std::exception& e) {
        ShowError(Localized(QStringLiteral("Не удалось подготовить MIDI для воспроизведения:"),
                            QStringLiteral("Could not prepare MIDI for playback:")),
                  QString::fromUtf8(e.what()));
        return;
    }

    const TPlayback::TStartResult started = FPlayback->Play(FPreparedPlaybackFile, leadIn);
    if (started.Stage == TPlayback::TStage::psOpenFailed) {
        ShowError(Localized(QStringLiteral("Не удалось открыть MIDI для воспроизведения:"),
                            QStringLiteral("Could not open MIDI for playback:")),
                  MciErrorText(started.Code));
        return;
    }
    if (started.Stage == TPlayback::TStage::psPlayFailed) {
        UpdatePlaybackButtons();
        ShowError(Localized(QStringLiteral("Не удалось запустить воспроизведение:"),
                            QStringLiteral("Could not start playback:")),
                  MciErrorText(started.Code));
        return;
    }

    const QString startNumber = FPlayback->StartNumber();
    ShowStatus([this, caption, startNumber] {
        return Localized(QStringLiteral("Воспроизведение: "), QStringLiteral("Playing: ")) + caption() +
               (startNumber.isEmpty() ? QString()
                                      : Localized(QStringLiteral(" · с такта %1"), QStringLiteral(" · from measure %1"))
                                            .arg(startNumber));
    });
    UpdatePlaybackButtons();
}

void TfrmMain::StopPlayback(bool showStatus) {
    if (FPlayback->Stop() && showStatus)
        ShowStatus([this] {
            return Localized(QStringLiteral("Воспроизведение остановлено."), QStringLiteral("Playback stopped."));
        });
    UpdatePlaybackButtons();
}

void TfrmMain::MMMciNotify(int code, int) {
    if (!FPlayback->Finish()) return;
    if (code == korvalin::ncSuccessful)
        ShowStatus([this] {
            return Localized(QStringLiteral("Воспроизведение завершено."), QStringLiteral("Playback finished."));
        });
    else if (code == korvalin::ncFailure)
        ShowStatus([this] {
            return Localized(QStringLiteral("Ошибка во время воспроизведения MIDI."),
                             QStringLiteral("An error occurred during MIDI playback."));
        });
    UpdatePlaybackButtons();
}

void TfrmMain::btnPlayAllClick() {
    if (FSourceMidiFile.isEmpty() || !QFileInfo::exists(FSourceMidiFile)) return;
    PlayMidi(FSourceMidiFile, std::function<QString()>([this] {
                 return Localized(QStringLiteral("весь MIDI-файл"), QStringLiteral("entire MIDI file"));
             }));
}

void TfrmMain::btnPlayTrackClick() {
    const TMidiTrack* track = TTrackList::RowTrack(FTracks->SelectedRow());
    if (track == nullptr) {
        ShowMessage(TMessageKind::mkInformation, Localized(QStringLiteral("Выберите одну партию в списке дорожек."),
                                                           QStringLiteral("Select one part in the track list.")));
        return;
    }
    try {
        const korvalin::TPrivateFileMode privateMode = ClaimTemporaryFile(FPlaybackTempFile);
        korvalin::WritePartPlaybackMidi(FMidi.get(), track, NativePath(FPlaybackTempFile));
        const QString name = korvalin::mainform::DisplayName(track->ExportName);
        PlayMidi(FPlaybackTempFile, std::function<QString()>([this, name] {
                     return FEnglish ? QStringLiteral("part \"%1\"").arg(name)
                                     : QStringLiteral("партия «%1»").arg(name);
                 }));
    } catch (const std::exception& e) {
        ShowError(Localized(QStringLiteral("Не удалось подготовить выбранную партию:"),
                            QStringLiteral("Could not prepare the selected part:")),
                  QString::fromUtf8(e.what()));
    }
}

void TfrmMain::btnPlayTransposedClick() {
    int newFifths = 0;
    int tempo = 0;
    int semitones = 0;
    if (!ReadNewKeyAndTempo(newFifths, tempo, semitones)) return;
    try {
        const korvalin::TPrivateFileMode privateMode = ClaimTemporaryFile(FTransposedTempFile);
        TransposeSourceTo(FTransposedTempFile, newFifths, semitones, tempo);
        const QString caption = QStringLiteral("%1 BPM · %2")
                                    .arg(tempo)
                                    .arg(FromUtf8(korvalin::KeyNameFromFifths(newFifths, FMidi->KeyMinor)));
        PlayMidi(FTransposedTempFile, caption);
    } catch (const std::exception& e) {
        ShowError(Localized(QStringLiteral("Не удалось подготовить MIDI для прослушивания:"),
                            QStringLiteral("Could not prepare the MIDI for playback:")),
                  QString::fromUtf8(e.what()));
    }
}

void TfrmMain::btnStopClick() { StopPlayback(true); }
