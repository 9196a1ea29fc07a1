// The real score viewer: the web engine's page, run by TWebViewHost.

#pragma once

#include "ScoreViewerPort.h"

namespace korvalin {
class TWebViewHost;
}

class TWebEngineViewer : public TScoreViewerPort {
    Q_OBJECT

public:
    TWebEngineViewer(const QString& tempFolder, TLocalizeText localized, QObject* parent);

    // The host behind it, for tests of the engine itself.
    korvalin::TWebViewHost* Host() const { return FHost; }

    QWidget* View() const override;
    void Start() override;
    bool IsReady() const override;
    QString ErrorText() const override;
    QString DroppedMidiFile() const override;
    void RunScript(const QString& script) override;
    void SendScoreFile(const QString& fileName) override;
    void SendPendingScore() override;
    void ClearScore() override;
    void SetPageLanguage(bool english) override;
    void ShowPlaybackCursor(std::size_t measure, double fraction) override;
    void HidePlaybackCursor() override;
    void ShowPlaybackStart(std::size_t measure) override;

private:
    korvalin::TWebViewHost* FHost;
};
