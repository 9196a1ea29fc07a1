// The window's side of the score viewer: its host, the score preview and the
// MusicXML export, and the view controls of the viewer's tool band.

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QWebEngineView>
#include <algorithm>
#include <cmath>
#include <exception>

#include "MainForm.h"
#include "ScorePrinting.h"
#include "TrackList.h"
#include "Playback.h"
#include "BusyCursor.h"
#include "MainFormSupport.h"
#include "MusicXmlExporter.h"
#include "ScoreViewer.h"
#include "WebViewHost.h"

namespace {

constexpr int kLeftWidth = 430;

}  // namespace

// ---------------------------------------------------------------------------
// The viewer host

void TfrmMain::StartViewer() {
    if (TemporaryFolder().isEmpty()) {
        lblStatus->setText(
            Localized(QStringLiteral("Предпросмотр недоступен: "), QStringLiteral("Preview is unavailable: ")) +
            FTemporaryFolderError);
        return;
    }
    const TLocalizeText localized = [this](const QString& russian, const QString& english) {
        return Localized(russian, english);
    };
    TScoreViewerPort* const port = FViewer->Create(TemporaryFolder(), localized);
    PlaceViewerWidget(port->View());

    connect(port, &TScoreViewerPort::CreationFailed, this, [this](const QString& text) { lblStatus->setText(text); });
    connect(port, &TScoreViewerPort::NavigationFailed, this, [this](const QString&) {
        lblStatus->setText(Localized(QStringLiteral("Не удалось открыть встроенный просмотрщик."),
                                     QStringLiteral("Could not open the built-in viewer.")));
    });
    connect(port, &TScoreViewerPort::MidiFileDropped, this,
            [this](const QString& fileName, const QString& displayName) {
                Guarded([this, &fileName, &displayName] {
                    FDroppedMidiFile = fileName;
                    OpenMidiFile(fileName, displayName);
                });
            });
    // The dropped copy is written right after this signal, so the sequencer
    // must have let go of it before the slot returns.
    connect(
        port, &TScoreViewerPort::StopPlaybackRequested, this, [this] { Guarded([this] { StopPlayback(false); }); },
        Qt::DirectConnection);
    connect(port, &TScoreViewerPort::ErrorMessage, this,
            [this](const QString& text) { ShowMessage(TMessageKind::mkError, text); });
    connect(port, &TScoreViewerPort::MeasureClicked, this,
            [this](int measure) { Guarded([this, measure] { MeasureClicked(measure); }); });
    connect(port, &TScoreViewerPort::PageDied, this, [this](const QString& text) { lblStatus->setText(text); });
    port->SetPageLanguage(FEnglish);

    try {
        port->Start();
    } catch (const std::exception& e) {
        lblStatus->setText(
            Localized(QStringLiteral("Предпросмотр недоступен: "), QStringLiteral("Preview is unavailable: ")) +
            QString::fromUtf8(e.what()));
    }
}

void TfrmMain::ShutDownViewer() {
    TScoreViewerPort* const port = FViewer->Port();
    if (port == nullptr) return;
    // The page and the view go with the window's children, after the window's
    // own state: nothing they report while going down may reach it.
    port->disconnect(this);
    if (!port->DroppedMidiFile().isEmpty()) FDroppedMidiFile = port->DroppedMidiFile();
}

void TfrmMain::ClearViewerScore() {
    FBuiltTimeline = {};
    FPlayback->ScoreCleared();
    FPrinting->SetScore({});
    UpdatePrintButtons();
    FViewer->ClearScore();
}

QWebEngineView* TfrmMain::EdgeBrowser() const { return FViewer->EngineView(); }

korvalin::TWebViewHost* TfrmMain::WebViewHost() const { return FViewer->WebViewHost(); }

bool TfrmMain::FViewerReady() const { return FViewer->IsReady(); }

QString TfrmMain::FViewerError() const { return FViewer->ErrorText(FTemporaryFolderError); }

void TfrmMain::SendScoreFile(const QString& fileName) {
    if (!FViewer->ShowScore(fileName)) return;
    FPlayback->ScoreShown(FBuiltTimeline);
    // What is printed is what the viewer shows.
    QFile score(fileName);
    FPrinting->SetScore(score.open(QIODevice::ReadOnly) ? score.readAll() : QByteArray());
    UpdatePrintButtons();
}

void TfrmMain::SendPendingScore() { FViewer->SendPendingScore(); }

void TfrmMain::ConnectViewerCommands() {
    ConnectCommand(btnPreview, &TfrmMain::btnPreviewClick);
    ConnectCommand(btnExport, &TfrmMain::btnExportClick);
    ConnectCommand(btnOpenExternal, &TfrmMain::btnOpenExternalClick);
    ConnectCommand(btnZoomOut, &TfrmMain::btnZoomOutClick);
    ConnectCommand(btnZoomIn, &TfrmMain::btnZoomInClick);
    ConnectCommand(btnFitWidth, &TfrmMain::btnFitWidthClick);
    ConnectCommand(btnFullScreen, &TfrmMain::btnFullScreenClick);
    ConnectCommand(btnCollapseViewer, &TfrmMain::btnCollapseViewerClick);
    ConnectCommand(btnShowViewer, &TfrmMain::btnShowViewerClick);
    ConnectCommand(btnPrint, &TfrmMain::btnPrintClick);
    ConnectCommand(btnSavePdf, &TfrmMain::btnSavePdfClick);
}

// ---------------------------------------------------------------------------
// Score preview and MusicXML export

bool TfrmMain::WriteScoreFile(const QString& fileName) {
    const std::vector<const korvalin::TMidiTrack*> tracks = FTracks->TickedTracks();
    if (tracks.empty()) {
        ShowMessage(TMessageKind::mkInformation, Localized(QStringLiteral("Отметьте хотя бы одну музыкальную дорожку."),
                                                           QStringLiteral("Select at least one musical track.")));
        return false;
    }
    try {
        korvalin::TConversionReport report;
        korvalin::TExportOptions options = ExportOptions();
        if (options.Notation == korvalin::TNotationMode::nmReadable) options.Report = &report;
        options.Timeline = &FBuiltTimeline;
        korvalin::BuildMusicXml(*FMidi, tracks, QFile::encodeName(fileName).toStdString(), SelectedGrid(), options);
        FReadableSummary = options.Report != nullptr ? ReadableSummary(report) : QString();
        FReadableReport =
            options.Report != nullptr ? std::make_shared<const korvalin::TConversionReport>(report) : nullptr;
    } catch (const std::exception& e) {
        ShowError(Localized(QStringLiteral("Ошибка преобразования:"), QStringLiteral("Conversion error:")),
                  QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TfrmMain::btnPreviewClick() {
    if (!FViewerError().isEmpty()) {
        ShowError(Localized(QStringLiteral("Встроенный просмотрщик недоступен:"),
                            QStringLiteral("The built-in viewer is unavailable:")),
                  FViewerError());
        return;
    }
    const TBusyCursor busy;
    const korvalin::TPrivateFileMode privateMode = ClaimTemporaryFile(FPreviewFile);
    if (!WriteScoreFile(FPreviewFile)) return;
    SendScoreFile(FPreviewFile);
    const bool ready = FViewerReady();
    ShowStatus([this, ready] {
        const QString sent =
            ready ? Localized(QStringLiteral("Партитура передана во встроенный просмотрщик."),
                              QStringLiteral("The score was sent to the built-in viewer."))
                  : Localized(QStringLiteral("Просмотрщик запускается; партитура появится после загрузки."),
                              QStringLiteral("The viewer is starting; the score will appear when it is ready."));
        const QString summary = CurrentReadableSummary();
        return summary.isEmpty() ? sent : sent + QStringLiteral(" ") + summary;
    });
}

void TfrmMain::btnExportClick() {
    const QString shownFile = edtFileName->text();
    SaveDialog.FileName = korvalin::mainform::NameWithExtension(shownFile, QStringLiteral(".musicxml"));
    // A file dropped on the score view is shown by its name only: the dialog
    // then opens where it would by default.
    const QFileInfo shown(shownFile);
    SaveDialog.InitialDir = shown.isAbsolute() ? shown.absolutePath() : QString();

    const QString fileName = AskSaveFileName(SaveDialog);
    if (fileName.isEmpty()) return;

    const TBusyCursor busy;
    if (!WriteScoreFile(fileName)) return;
    FLastSavedFile = fileName;
    SetCommandEnabled(btnOpenExternal, true);
    ShowStatus([this, fileName] {
        const QString summary = CurrentReadableSummary();
        return Localized(QStringLiteral("Готово: "), QStringLiteral("Done: ")) + fileName +
               (summary.isEmpty() ? QString() : QStringLiteral(" · ") + summary);
    });
    ShowMessage(TMessageKind::mkInformation, Localized(QStringLiteral("MusicXML успешно создан:"),
                                                       QStringLiteral("MusicXML was created successfully:")) +
                                                 QLatin1Char('\n') + fileName);
}

void TfrmMain::btnOpenExternalClick() {
    if (FLastSavedFile.isEmpty() || !QFileInfo::exists(FLastSavedFile)) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(FLastSavedFile));
}

// ---------------------------------------------------------------------------
// Zoom, full screen and collapse

void TfrmMain::btnZoomOutClick() { FViewer->ZoomOut(); }

void TfrmMain::btnZoomInClick() { FViewer->ZoomIn(); }

void TfrmMain::btnFitWidthClick() { FViewer->FitWidth(); }

void TfrmMain::SetViewerFullScreen(bool value) {
    if (value == FViewerFullScreen) return;
    QWidget* const panels[] = {pnlTop, pnlLeft, Splitter, pnlStatus};
    if (value) {
        FNormalWindowState = windowState();
        // A maximized window keeps its normal bounds for when the user
        // restores it later.
        FNormalBounds = FNormalWindowState.testFlag(Qt::WindowMaximized) ? normalGeometry() : geometry();
        FViewerFullScreen = true;
        for (QWidget* panel : panels) panel->hide();
        SetCommandEnabled(btnCollapseViewer, false);
        btnFullScreen->setText(Localized(QStringLiteral("Вернуть интерфейс"), QStringLiteral("Restore interface")));
        // The platform's full-screen state is the borderless window over the
        // whole screen, task bar included. The screen's rectangle is set first
        // for desktops without a window manager, which ignore the state.
        setWindowState(Qt::WindowNoState);
        if (QScreen* const current = screen()) setGeometry(current->geometry());
        setWindowState(Qt::WindowFullScreen);
    } else {
        setWindowState(Qt::WindowNoState);
        for (QWidget* panel : panels) panel->show();
        SetCommandEnabled(btnCollapseViewer, true);
        btnFullScreen->setText(Localized(QStringLiteral("Во весь экран"), QStringLiteral("Full screen")));
        FViewerFullScreen = false;
        setGeometry(FNormalBounds);
        if (FNormalWindowState.testFlag(Qt::WindowMaximized)) setWindowState(Qt::WindowMaximized);
    }
    if (layout() != nullptr) layout()->activate();
}

void TfrmMain::btnFullScreenClick() { SetViewerFullScreen(!FViewerFullScreen); }

void TfrmMain::SetViewerCollapsed(bool value) {
    if (value) {
        pnlViewer->hide();
        Splitter->hide();
        pnlLeft->setMinimumWidth(0);
        pnlLeft->setMaximumWidth(QWIDGETSIZE_MAX);
        btnShowViewer->show();
    } else {
        pnlLeft->setFixedWidth(kLeftWidth);
        Splitter->show();
        pnlViewer->show();
        btnShowViewer->hide();
    }
    if (layout() != nullptr) layout()->activate();
}

void TfrmMain::btnCollapseViewerClick() { SetViewerCollapsed(true); }

void TfrmMain::btnShowViewerClick() { SetViewerCollapsed(false); }
