// Opening a MIDI file, the track list, track settings and selection, and
// files dropped onto the window.

#include "MainForm.h"
#include "RecentFiles.h"
#include "TrackList.h"
#include "PerformanceCorrections.h"
#include "Playback.h"
#include "SettingsIni.h"
#include <QSignalBlocker>
#include <stdexcept>
#include "BusyCursor.h"
#include "MainFormSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

using korvalin::TClefMode;
using korvalin::TMidiFile;
using korvalin::TMidiTrack;
using korvalin::mainform::FromUtf8;
using korvalin::mainform::TFlagGuard;
using korvalin::mainform::TUpdatesSuspended;

// ---------------------------------------------------------------------------
// Opening a MIDI file and the track list

void TfrmMain::btnOpenClick() {
    const QString fileName = AskOpenFileName(OpenDialog);
    if (!fileName.isEmpty()) OpenMidiFile(fileName, QString());
}

void TfrmMain::OpenMidiFile(const QString& fileName, const QString& displayName) {
    StopPlayback(false);
    ClearViewerScore();
    const TBusyCursor busy;
    try {
        FMidi->LoadFromFile(QFile::encodeName(fileName).toStdString());
        FSourceMidiFile = fileName;
        edtFileName->setText(displayName.isEmpty() ? fileName : displayName);
        ShowLoadedMidi();
        // A file dropped on the score view is a temporary copy: not history.
        if (displayName.isEmpty()) FHistory->Add(fileName, false);
    } catch (const std::exception& e) {
        FTracks->Clear();
        SetCommandEnabled(btnExport, false);
        SetCommandEnabled(btnPreview, false);
        FSourceMidiFile.clear();
        lblTempo->setText(Localized(QStringLiteral("Темп: —"), QStringLiteral("Tempo: —")));
        lblKeySignature->setText(Localized(QStringLiteral("Тональность: —"), QStringLiteral("Key: —")));
        pnlMidiSettings->setEnabled(false);
        UpdatePlaybackButtons();
        lblStatus->setText(
            Localized(QStringLiteral("Не удалось прочитать файл."), QStringLiteral("Could not read the file.")));
        ShowError(Localized(QStringLiteral("Ошибка открытия MIDI:"), QStringLiteral("Error opening MIDI:")),
                  QString::fromUtf8(e.what()));
    }
}

void TfrmMain::OpenCommandLineFiles(const QStringList& fileNames) {
    if (fileNames.isEmpty()) return;
    // The history and the later commands want the file wherever the program's
    // folder is, not relative to where it was started.
    OpenMidiFile(QFileInfo(fileNames.first()).absoluteFilePath(), QString());
    if (fileNames.size() > 1)
        lblStatus->setText(lblStatus->text() + Localized(QStringLiteral(" · остальные файлы пропущены: %1"),
                                                         QStringLiteral(" · other files ignored: %1"))
                                                   .arg(fileNames.size() - 1));
}

void TfrmMain::ShowLoadedMidi() {
    const TTrackList::TCounts counts = FTracks->Fill(*FMidi);
    // Corrections are made for one performance: a new file starts from what is found.
    FCorrections->Reset();
    const int parts = counts.Parts;
    const int serviceTracks = counts.ServiceTracks;

    SetCommandEnabled(btnExport, parts > 0);
    SetCommandEnabled(btnPreview, parts > 0);

    ShowTempoAndKeyLabels();

    ShowStatus([this, format = FMidi->MidiFormat, ppqn = FMidi->PPQN, numerator = FMidi->TimeNumerator,
                denominator = FMidi->TimeDenominator, parts, serviceTracks] {
        return Localized(QStringLiteral("Формат %1 · PPQN %2 · размер %3/%4 · партий: %5 · служебных дорожек: %6"),
                         QStringLiteral("Format %1 · PPQN %2 · time %3/%4 · parts: %5 · service tracks: %6"))
            .arg(format)
            .arg(ppqn)
            .arg(numerator)
            .arg(denominator)
            .arg(parts)
            .arg(serviceTracks);
    });

    UpdatePlaybackButtons();
    FillNewKeyControls();
}

void TfrmMain::ShowTempoAndKeyLabels() {
    if (FMidi->HasTempo)
        lblTempo->setText(Localized(QStringLiteral("Темп: %1 BPM"), QStringLiteral("Tempo: %1 BPM"))
                              .arg(QLocale().toString(FMidi->TempoBPM, 'f', 1)));
    else lblTempo->setText(Localized(QStringLiteral("Темп: не указан"), QStringLiteral("Tempo: not specified")));

    const QString keyPrefix = Localized(QStringLiteral("Тональность: "), QStringLiteral("Key: "));
    if (FMidi->HasKeySignature)
        lblKeySignature->setText(keyPrefix + FromUtf8(FMidi->KeyName()) +
                                 Localized(QStringLiteral(" (из файла)"), QStringLiteral(" (from file)")));
    else if (FMidi->KeyWasEstimated)
        lblKeySignature->setText(keyPrefix + FromUtf8(FMidi->KeyName()) +
                                 Localized(QStringLiteral(" (по нотам)"), QStringLiteral(" (estimated from notes)")));
    else
        lblKeySignature->setText(
            Localized(QStringLiteral("Тональность: не определена"), QStringLiteral("Key: not detected")));
}

// ---------------------------------------------------------------------------
// Track settings and selection

void TfrmMain::lvTracksSelectItem(QTreeWidgetItem*, bool selected) {
    if (!selected) return;
    FTracks->ShowSettings();
    UpdatePlaybackButtons();
}

void TfrmMain::edtPartNameChange() { FTracks->PartNameChanged(); }

void TfrmMain::cbClefChange() { FTracks->ClefChanged(); }

void TfrmMain::btnSelectAllClick() { FTracks->SetAllChecked(true); }

void TfrmMain::btnSelectNoneClick() { FTracks->SetAllChecked(false); }

int TfrmMain::SelectedGrid() const {
    switch (cbGrid->currentIndex()) {
        case 0: return 8;
        case 2: return 32;
        default: return 16;
    }
}

void TfrmMain::UpdateGridChoices() {
    const QSignalBlocker quiet(cbGrid);
    const QString autoText = Localized(QStringLiteral("Авто"), QStringLiteral("Auto"));
    if (SelectedNotation() == korvalin::TNotationMode::nmReadable) {
        if (cbGrid->count() < 4) cbGrid->addItem(autoText);
        else cbGrid->setItemText(3, autoText);
    } else if (cbGrid->count() == 4) {
        // The literal transcription keeps to its three grids: Auto gives way to 1/16.
        if (cbGrid->currentIndex() == 3) cbGrid->setCurrentIndex(1);
        cbGrid->removeItem(3);
    }
}

QString TfrmMain::ReadableSummary(const korvalin::TConversionReport& report) const {
    QStringList grids;
    std::int64_t tuplets = 0, moved = 0;
    double largest = 0.0;
    bool chosen = false;
    for (const auto& part : report.Parts) {
        const QString grid = QStringLiteral("1/%1").arg(part.Grid);
        if (!grids.contains(grid)) grids.append(grid);
        for (const auto& [kind, count] : part.Tuplets) tuplets += count;
        moved += part.NotesMoved;
        largest = std::max(largest, part.LargestMoveQuarters);
        chosen = chosen || part.GridChosen;
    }
    const QString gridText = grids.join(QStringLiteral(", ")) +
                             (chosen ? Localized(QStringLiteral(" (авто)"), QStringLiteral(" (auto)")) : QString());
    const QString largestText =
        QLocale(Localized(QStringLiteral("ru_RU"), QStringLiteral("en_US"))).toString(largest, 'f', 2);
    return Localized(QStringLiteral("Для чтения: сетка %1 · групп (триолей и др.): %2 · сдвинуто нот: %3, не больше %4 "
                                    "четверти"),
                     QStringLiteral("Readable: grid %1 · tuplets: %2 · notes moved: %3, by at most %4 of a quarter"))
               .arg(gridText)
               .arg(tuplets)
               .arg(moved)
               .arg(largestText) +
           (report.PickupQuarters > 0.0
                ? Localized(QStringLiteral(" · затакт (четвертей): %1"), QStringLiteral(" · pickup (quarters): %1"))
                      .arg(QLocale(Localized(QStringLiteral("ru_RU"), QStringLiteral("en_US")))
                               .toString(report.PickupQuarters))
                : QString()) +
           TPerformanceCorrections::Summary(report.Performance, FEnglish);
}

korvalin::TNotationMode TfrmMain::SelectedNotation() const {
    return cbNotation->currentIndex() == 1 ? korvalin::TNotationMode::nmReadable : korvalin::TNotationMode::nmLiteral;
}

korvalin::TExportOptions TfrmMain::ExportOptions() const {
    korvalin::TExportOptions options;
    options.Notation = SelectedNotation();
    options.AutoGrid = options.Notation == korvalin::TNotationMode::nmReadable && cbGrid->currentIndex() == 3;
    if (options.Notation == korvalin::TNotationMode::nmReadable) {
        // A correction that does not read is refused, not quietly dropped.
        if (const QString problem = FCorrections->Problem(); !problem.isEmpty())
            throw std::runtime_error(problem.toStdString());
        options.Performance = FCorrections->Options();
    }
    return options;
}

void TfrmMain::cbNotationChange() {
    UpdateGridChoices();
    FCorrections->SetReadable(SelectedNotation() == korvalin::TNotationMode::nmReadable);
    try {
        korvalin::SaveNotationMode(QFile::encodeName(SettingsFileName()).toStdString(),
                                   SelectedNotation() == korvalin::TNotationMode::nmReadable ? "readable" : "literal");
    } catch (const std::exception&) {
        // Like the history, the choice is a convenience: it serves this run
        // when it cannot be stored, and a message would only interrupt.
    }
}

void TfrmMain::LoadNotationSetting() {
    const QSignalBlocker quiet(cbNotation);
    const std::string mode = korvalin::LoadNotationMode(QFile::encodeName(SettingsFileName()).toStdString());
    cbNotation->setCurrentIndex(mode == "readable" ? 1 : 0);
    UpdateGridChoices();
    FCorrections->SetReadable(SelectedNotation() == korvalin::TNotationMode::nmReadable);
}

// ---------------------------------------------------------------------------
// New key and tempo controls, playback buttons

void TfrmMain::FillNewKeyControls() {
    const bool keyKnown = FMidi->HasKeySignature || FMidi->KeyWasEstimated;
    {
        const TUpdatesSuspended suspended(cbNewKey);
        cbNewKey->clear();
        for (int fifths = -7; fifths <= 7; ++fifths)
            cbNewKey->addItem(FromUtf8(korvalin::KeyNameFromFifths(fifths, FMidi->KeyMinor)));
        cbNewKey->setCurrentIndex(keyKnown ? std::clamp(FMidi->KeyFifths, -7, 7) + 7 : -1);
    }
    edtNewTempo->setText(QString::number(korvalin::WholeTempo(FMidi->TempoBPM)));
    RelayoutPanels();
    pnlMidiSettings->setEnabled(!FSourceMidiFile.isEmpty() && keyKnown);
    UpdatePlaybackButtons();
}

void TfrmMain::UpdatePlaybackButtons() {
    const bool sourceExists = !FSourceMidiFile.isEmpty() && QFileInfo::exists(FSourceMidiFile);
    SetCommandEnabled(btnPlayAll, sourceExists && !FPlayback->IsOpen());
    SetCommandEnabled(btnPlayTrack, FTracks->SelectedRow() != nullptr && !FPlayback->IsOpen());
    SetCommandEnabled(btnPlayTransposed, pnlMidiSettings->isEnabled() && !FPlayback->IsOpen());
    SetCommandEnabled(btnStop, FPlayback->IsOpen());
    UpdateAudioButtons();
    UpdatePauseButton();
    FollowPlayback();
}

// ---------------------------------------------------------------------------
// Files dropped onto the window

namespace {

QStringList LocalFiles(const QMimeData* mime) {
    QStringList files;
    if (mime == nullptr || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (LocalFiles(event->mimeData()).isEmpty()) event->ignore();
    else event->acceptProposedAction();
}

void TfrmMain::dragMoveEvent(QDragMoveEvent* event) {
    if (LocalFiles(event->mimeData()).isEmpty()) event->ignore();
    else event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The drag source waits until the drop returns; a message box opened from
    // inside the drop would hold it (and the desktop's drag) until closed.
    QMetaObject::invokeMethod(
        this, [this, files] { Guarded([this, &files] { WMDropFiles(files); }); }, Qt::QueuedConnection);
}

void TfrmMain::WMDropFiles(const QStringList& fileNames) {
    for (const QString& name : fileNames) {
        const QString extension = QFileInfo(name).suffix().toLower();
        if (extension == QLatin1String("mid") || extension == QLatin1String("midi")) {
            OpenMidiFile(name, QString());
            return;
        }
    }
    ShowMessage(TMessageKind::mkInformation,
                Localized(QStringLiteral("Перетащите MIDI-файл с расширением .mid или .midi."),
                          QStringLiteral("Drag a MIDI file with the .mid or .midi extension.")));
}
