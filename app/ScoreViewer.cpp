// The score viewer, its zoom and the scores handed to it.

#include "ScoreViewer.h"

#include <QLabel>
#include <QWebEngineView>

#include <algorithm>
#include <cmath>
#include <utility>

#include "WebEngineViewer.h"

TScoreViewer::TScoreViewer(TScoreViewerFactory factory, QLabel* zoomLabel, QObject* parent)
    : QObject(parent), FFactory(std::move(factory)), FZoomLabel(zoomLabel) {}

TScoreViewerPort* TScoreViewer::Create(const QString& tempFolder, const TLocalizeText& localized) {
    FPort = FFactory ? FFactory(tempFolder, localized, this) : new TWebEngineViewer(tempFolder, localized, this);
    return FPort;
}

QWebEngineView* TScoreViewer::EngineView() const {
    return FPort != nullptr ? qobject_cast<QWebEngineView*>(FPort->View()) : nullptr;
}

korvalin::TWebViewHost* TScoreViewer::WebViewHost() const {
    const auto* real = qobject_cast<const TWebEngineViewer*>(FPort);
    return real != nullptr ? real->Host() : nullptr;
}

bool TScoreViewer::ShowScore(const QString& fileName) {
    if (FPort == nullptr) return false;
    FPort->SendScoreFile(fileName);
    return true;
}

void TScoreViewer::SendPendingScore() {
    if (FPort != nullptr) FPort->SendPendingScore();
}

void TScoreViewer::ClearScore() {
    if (FPort != nullptr) FPort->ClearScore();
}

void TScoreViewer::SetLanguage(bool english) {
    if (FPort != nullptr) FPort->SetPageLanguage(english);
}

void TScoreViewer::ShowPlaybackCursor(std::size_t measure, double fraction) {
    if (FPort != nullptr) FPort->ShowPlaybackCursor(measure, fraction);
}

void TScoreViewer::HidePlaybackCursor() {
    if (FPort != nullptr) FPort->HidePlaybackCursor();
}

void TScoreViewer::ShowPlaybackStart(std::size_t measure) {
    if (FPort != nullptr) FPort->ShowPlaybackStart(measure);
}

void TScoreViewer::SetZoom(double value) {
    FZoom = std::clamp(value, kMinZoom, kMaxZoom);
    // Halves go to the even neighbour (the default rounding mode of nearbyint).
    FZoomLabel->setText(QStringLiteral("%1%").arg(static_cast<long long>(std::nearbyint(FZoom * 100.0))));
    // QString::number writes a full stop whatever the user's locale is, as the
    // page's script expects.
    if (IsReady())
        FPort->RunScript(QStringLiteral("window.setScoreZoom(") + QString::number(FZoom, 'f', 3) +
                         QStringLiteral(");"));
}

void TScoreViewer::FitWidth() {
    FZoom = 1.0;
    FZoomLabel->setText(QStringLiteral("100%"));
    if (IsReady()) FPort->RunScript(QStringLiteral("window.fitScoreWidth();"));
}
