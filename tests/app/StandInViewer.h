// A stand-in for the score viewer, for window tests whose subject is not the
// web engine: it records what the window asks of it and lets the test speak
// for the page through the viewer's signals.

#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <cstddef>
#include <stdexcept>

#include "ScoreViewerPort.h"

class TStandInViewer : public TScoreViewerPort {
    Q_OBJECT

public:
    explicit TStandInViewer(QObject* parent) : TScoreViewerPort(parent), FView(new QWidget) {
        FView->setObjectName(QStringLiteral("EdgeBrowser"));
    }
    // The window takes the view over as its child; one never placed is ours.
    ~TStandInViewer() override {
        if (FView != nullptr && FView->parent() == nullptr) delete FView.data();
    }

    // Makes the window's viewer a stand-in; StartError, when set, is thrown by Start.
    static TScoreViewerFactory Factory(const char* startError = nullptr) {
        return [startError](const QString&, TLocalizeText, QObject* parent) -> TScoreViewerPort* {
            auto* viewer = new TStandInViewer(parent);
            viewer->StartError = startError;
            return viewer;
        };
    }

    const char* StartError = nullptr;
    bool Ready = false;
    bool English = false;
    QStringList Scripts;
    QStringList SentFiles;
    int Cleared = 0;
    bool CursorShown = false;
    std::size_t CursorMeasure = 0;
    std::size_t StartMark = 0;

    QWidget* View() const override { return FView; }
    void Start() override {
        if (StartError != nullptr) throw std::runtime_error(StartError);
        Ready = true;
        emit ViewerReady();
    }
    bool IsReady() const override { return Ready; }
    QString ErrorText() const override { return StartError != nullptr ? QString::fromUtf8(StartError) : QString(); }
    QString DroppedMidiFile() const override { return {}; }
    void RunScript(const QString& script) override {
        if (Ready) Scripts << script;
    }
    void SendScoreFile(const QString& fileName) override { SentFiles << fileName; }
    void SendPendingScore() override {}
    void ClearScore() override { ++Cleared; }
    void SetPageLanguage(bool english) override { English = english; }
    void ShowPlaybackCursor(std::size_t measure, double) override {
        CursorShown = true;
        CursorMeasure = measure;
    }
    void HidePlaybackCursor() override { CursorShown = false; }
    void ShowPlaybackStart(std::size_t measure) override { StartMark = measure; }

private:
    QPointer<QWidget> FView;
};
