// The real score viewer, forwarding to the web engine's host.

#include "WebEngineViewer.h"

#include <QWebEngineView>

#include <utility>

#include "WebViewHost.h"

using korvalin::TWebViewHost;

TWebEngineViewer::TWebEngineViewer(const QString& tempFolder, TLocalizeText localized, QObject* parent)
    : TScoreViewerPort(parent), FHost(new TWebViewHost(tempFolder, std::move(localized), this)) {
    connect(FHost, &TWebViewHost::ViewerReady, this, &TScoreViewerPort::ViewerReady);
    connect(FHost, &TWebViewHost::CreationFailed, this, &TScoreViewerPort::CreationFailed);
    connect(FHost, &TWebViewHost::NavigationFailed, this, &TScoreViewerPort::NavigationFailed);
    // Directly: the dropped copy is written as soon as the host's signal returns.
    connect(FHost, &TWebViewHost::StopPlaybackRequested, this, &TScoreViewerPort::StopPlaybackRequested,
            Qt::DirectConnection);
    connect(FHost, &TWebViewHost::MidiFileDropped, this, &TScoreViewerPort::MidiFileDropped);
    connect(FHost, &TWebViewHost::MeasureClicked, this, &TScoreViewerPort::MeasureClicked);
    connect(FHost, &TWebViewHost::ErrorMessage, this, &TScoreViewerPort::ErrorMessage);
    connect(FHost, &TWebViewHost::PageDied, this, &TScoreViewerPort::PageDied);
}

QWidget* TWebEngineViewer::View() const { return FHost->View(); }
void TWebEngineViewer::Start() { FHost->Start(); }
bool TWebEngineViewer::IsReady() const { return FHost->IsReady(); }
QString TWebEngineViewer::ErrorText() const { return FHost->ErrorText(); }
QString TWebEngineViewer::DroppedMidiFile() const { return FHost->DroppedMidiFile(); }
void TWebEngineViewer::RunScript(const QString& script) { FHost->RunScript(script); }
void TWebEngineViewer::SendScoreFile(const QString& fileName) { FHost->SendScoreFile(fileName); }
void TWebEngineViewer::SendPendingScore() { FHost->SendPendingScore(); }
void TWebEngineViewer::ClearScore() { FHost->ClearScore(); }
void TWebEngineViewer::SetPageLanguage(bool english) { FHost->SetPageLanguage(english); }
void TWebEngineViewer::ShowPlaybackCursor(std::size_t measure, double fraction) {
    FHost->ShowPlaybackCursor(measure, fraction);
}
void TWebEngineViewer::HidePlaybackCursor() { FHost->HidePlaybackCursor(); }
void TWebEngineViewer::ShowPlaybackStart(std::size_t measure) { FHost->ShowPlaybackStart(measure); }
