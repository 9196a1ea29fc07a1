// The score viewer and the zoom of its tool band: the viewer itself (the web
// engine's page, or what a factory makes instead), the zoom the band shows and
// a ready page draws at, and the scores handed to it. Every call is safe
// before the viewer exists or when it could not be made.

#pragma once

#include <QObject>
#include <QString>

#include <cstddef>

#include "ScoreViewerPort.h"

class QLabel;
class QWebEngineView;

namespace korvalin {
class TWebViewHost;
}

class TScoreViewer : public QObject {
    Q_OBJECT

public:
    static constexpr double kMinZoom = 0.35;
    static constexpr double kMaxZoom = 2.5;
    static constexpr double kZoomStep = 0.1;

    // An empty factory makes the web engine's viewer; zoomLabel shows the zoom.
    TScoreViewer(TScoreViewerFactory factory, QLabel* zoomLabel, QObject* parent);

    // Makes the viewer (not yet started) as a child of this object.
    TScoreViewerPort* Create(const QString& tempFolder, const TLocalizeText& localized);
    // Null before Create.
    TScoreViewerPort* Port() const { return FPort; }
    bool IsReady() const { return FPort != nullptr && FPort->IsReady(); }
    // The viewer's failure, or noViewer when there is no viewer at all.
    QString ErrorText(const QString& noViewer) const { return FPort != nullptr ? FPort->ErrorText() : noViewer; }
    // The engine's view and host; null for another viewer.
    QWebEngineView* EngineView() const;
    korvalin::TWebViewHost* WebViewHost() const;

    // Hands a MusicXML file to the viewer; false when there is no viewer.
    bool ShowScore(const QString& fileName);
    void SendPendingScore();
    void ClearScore();
    void SetLanguage(bool english);
    void ShowPlaybackCursor(std::size_t measure, double fraction);
    void HidePlaybackCursor();
    void ShowPlaybackStart(std::size_t measure);

    double Zoom() const { return FZoom; }
    // Keeps the zoom within kMinZoom .. kMaxZoom, shows it and sends it to a ready page.
    void SetZoom(double value);
    void ZoomIn() { SetZoom(FZoom + kZoomStep); }
    void ZoomOut() { SetZoom(FZoom - kZoomStep); }
    // Back to 100 %, the page fitting the score to its width.
    void FitWidth();

private:
    TScoreViewerFactory FFactory;
    QLabel* FZoomLabel;
    TScoreViewerPort* FPort = nullptr;
    double FZoom = 1.0;
};
