// The main window's creation and destruction, how its commands are guarded,
// and the one way its messages, questions and file dialogs are shown.

#include "MainForm.h"
#include "BusyCursor.h"
#include "FileIO.h"
#include "RecentFiles.h"
#include "ScorePrinting.h"
#include "TrackList.h"
#include "PerformanceCorrections.h"
#include "Playback.h"
#include "ScoreViewer.h"

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
#include <utility>

using korvalin::TMidiFile;

namespace {

// "MIDI files (*.mid;*.midi)|*.mid;*.midi|All files (*.*)|*.*" becomes the
// name filters of a Qt file dialog; "*.*" means every file, also without a dot.
QStringList QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const qsizetype paren = description.lastIndexOf(QLatin1String(" ("));
        if (paren >= 0 && description.endsWith(QLatin1Char(')'))) description.truncate(paren);
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        result << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction

TfrmMain::TfrmMain(QWidget* parent, TScoreViewerFactory viewerFactory) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    CreateControls();
    FViewer = new TScoreViewer(std::move(viewerFactory), lblZoom, this);
    CreatePlayback();
    FTracks = std::make_unique<TTrackList>(TTrackList::TControls{lvTracks, pnlTrackSettings, edtPartName, cbClef});
    FCorrections = std::make_unique<TPerformanceCorrections>(TPerformanceCorrections::TControls{cbMeter, edtFirstBeat});
    ConnectHandlers();
    FormCreate();
}

TfrmMain::~TfrmMain() { FormDestroy(); }

void TfrmMain::ConnectHandlers() {
    connect(rbRussian, &QAbstractButton::clicked, this, [this] { Guarded([this] { LanguageClick(); }); });
    connect(rbEnglish, &QAbstractButton::clicked, this, [this] { Guarded([this] { LanguageClick(); }); });
    ConnectCommand(btnOpen, &TfrmMain::btnOpenClick);
    ConnectCommand(btnRecent, &TfrmMain::btnRecentClick);
    ConnectCommand(btnSelectAll, &TfrmMain::btnSelectAllClick);
    ConnectCommand(btnSelectNone, &TfrmMain::btnSelectNoneClick);
    ConnectCommand(btnPreviewTransposed, &TfrmMain::btnPreviewTransposedClick);
    ConnectCommand(btnSaveMidi, &TfrmMain::btnSaveMidiClick);
    ConnectCommand(btnPlayAll, &TfrmMain::btnPlayAllClick);
    ConnectCommand(btnPlayTrack, &TfrmMain::btnPlayTrackClick);
    ConnectCommand(btnPlayTransposed, &TfrmMain::btnPlayTransposedClick);
    ConnectCommand(btnStop, &TfrmMain::btnStopClick);
    connect(lvTracks->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) {
                Guarded([this, &selected] { lvTracksSelectItem(FTracks->SelectedRow(), !selected.isEmpty()); });
            });
    connect(edtPartName, &QLineEdit::textChanged, this, [this] { Guarded([this] { edtPartNameChange(); }); });
    connect(cbClef, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { cbClefChange(); }); });
    connect(cbNotation, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { cbNotationChange(); }); });
    ConnectViewerCommands();
    ConnectAudioCommands();
    CreateShortcuts();

    // A button whose command is not part of the window yet is never offered.
    for (QPushButton* button : findChildren<QPushButton*>())
        if (!FCommands.contains(button)) button->setEnabled(false);
}

void TfrmMain::FormCreate() {
    FEnglish = rbEnglish->isChecked();
    CreateHistory();
    CreatePrinting();
    setAcceptDrops(true);
    FitToWorkArea();
    FMidi = std::make_unique<TMidiFile>();
    cbGrid->setCurrentIndex(1);
    cbClef->setCurrentIndex(0);
    LoadNotationSetting();
    for (QPushButton* button : {btnExport, btnPreview, btnOpenExternal, btnPlayAll, btnPlayTrack, btnStop, btnPrint,
                                btnSavePdf, btnSaveAudio})
        SetCommandEnabled(button, false);
    pnlTrackSettings->setEnabled(false);
    ApplyLanguage();

    // The shared temporary folder is anyone's: a file or page planted there
    // could be read back as ours, so everything goes into the user's own.
    try {
        FTemporaryFolder = korvalin::OpenPrivateFolder();
    } catch (const std::exception& e) {
        FTemporaryFolderError = QString::fromUtf8(e.what());
    }
    if (!TemporaryFolder().isEmpty()) {
        const QDir temporary(TemporaryFolder());
        const qint64 pid = QCoreApplication::applicationPid();
        FPreviewFile = temporary.filePath(QStringLiteral("Korvalin-preview-%1.musicxml").arg(pid));
        FPlaybackTempFile = temporary.filePath(QStringLiteral("Korvalin-track-%1.mid").arg(pid));
        FPreparedPlaybackFile = temporary.filePath(QStringLiteral("Korvalin-playback-%1.mid").arg(pid));
        FTransposedTempFile = temporary.filePath(QStringLiteral("Korvalin-transposed-%1.mid").arg(pid));
    }

    pnlMidiSettings->setEnabled(false);

    StartViewer();
}

void TfrmMain::FormDestroy() {
    setAcceptDrops(false);
    StopPlayback(false);
    ShutDownViewer();
    FMidi.reset();
    DeleteTemporaryFiles();
}

void TfrmMain::DeleteTemporaryFiles() {
    // Each file on its own: one that cannot be deleted (held open by another
    // program, say) must not keep the others on the disk.
    for (const QString* path :
         {&FPreviewFile, &FPlaybackTempFile, &FPreparedPlaybackFile, &FTransposedTempFile, &FDroppedMidiFile})
        if (!path->isEmpty() && QFileInfo::exists(*path)) QFile::remove(*path);
}

korvalin::TPrivateFileMode TfrmMain::ClaimTemporaryFile(const QString& fileName) const {
    if (fileName.isEmpty()) throw korvalin::EFileError(FTemporaryFolderError.toStdString());
    return korvalin::TPrivateFileMode(fileName);
}

// ---------------------------------------------------------------------------
// Seams: messages, questions, file dialogs, commands

void TfrmMain::ShowMessage(TMessageKind kind, const QString& text) {
    QMessageBox box(kind == TMessageKind::mkError ? QMessageBox::Critical : QMessageBox::Information,
                    QApplication::applicationDisplayName(), text, QMessageBox::Ok, this);
    box.exec();
}

bool TfrmMain::AskQuestion(const QString& text) {
    return QMessageBox::question(this, QApplication::applicationDisplayName(), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

QString TfrmMain::AskOpenFileName(const TFileDialog& dialog) {
    QFileDialog box(this);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setFileMode(dialog.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    box.setNameFilters(QtNameFilters(dialog.Filter));
    box.setDefaultSuffix(dialog.DefaultExt);
    if (!dialog.InitialDir.isEmpty()) box.setDirectory(dialog.InitialDir);
    if (!dialog.FileName.isEmpty()) box.selectFile(dialog.FileName);
    if (box.exec() != QDialog::Accepted) return {};
    return box.selectedFiles().value(0);
}

QString TfrmMain::AskSaveFileName(const TFileDialog& dialog) {
    QFileDialog box(this);
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setFileMode(QFileDialog::AnyFile);
    box.setOption(QFileDialog::DontConfirmOverwrite, !dialog.OverwritePrompt);
    box.setNameFilters(QtNameFilters(dialog.Filter));
    box.setDefaultSuffix(dialog.DefaultExt);
    if (!dialog.InitialDir.isEmpty()) box.setDirectory(dialog.InitialDir);
    if (!dialog.FileName.isEmpty()) box.selectFile(dialog.FileName);
    if (box.exec() != QDialog::Accepted) return {};
    return box.selectedFiles().value(0);
}

void TfrmMain::ShowError(const QString& leadLine, const QString& message) {
    ShowMessage(TMessageKind::mkError, leadLine + QLatin1Char('\n') + message);
}

void TfrmMain::Guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        ShowMessage(TMessageKind::mkError, QString::fromUtf8(e.what()));
    } catch (...) {
        ShowMessage(TMessageKind::mkError,
                    Localized(QStringLiteral("Неизвестная ошибка."), QStringLiteral("Unknown error.")));
    }
}

void TfrmMain::ConnectCommand(QAbstractButton* button, void (TfrmMain::*handler)()) {
    FCommands.insert(button);
    button->setEnabled(true);
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
}

void TfrmMain::SetCommandEnabled(QAbstractButton* button, bool enabled) {
    button->setEnabled(enabled && FCommands.contains(button));
}

void TfrmMain::PlaceViewerWidget(QWidget* view) {
    if (FViewerSpace != nullptr) {
        FViewerLayout->removeWidget(FViewerSpace);
        FViewerSpace->hide();
        FViewerSpace->deleteLater();
        FViewerSpace = nullptr;
    }
    view->setParent(pnlViewer);
    FViewerLayout->addWidget(view, 1);
}

// ---------------------------------------------------------------------------
// Keyboard: Enter presses the focused button, else the window's default button

void TfrmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* target = (focused != nullptr && focused->isEnabled()) ? focused : btnPreview;
        if (target->isEnabled() && target->isVisible()) {
            target->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}
