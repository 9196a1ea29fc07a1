// What the window asks of its score viewer, and what the viewer tells it.
// The real viewer is the web engine's page (TWebEngineViewer); window tests
// whose subject is not the engine give the window a stand-in instead.

#pragma once

#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>

class QWidget;

class TScoreViewerPort : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The widget that shows the score, for the window to place below its tool band.
    virtual QWidget* View() const = 0;
    // Starts the viewer; throws with a text fit to show when it cannot.
    virtual void Start() = 0;
    // The page has loaded.
    virtual bool IsReady() const = 0;
    // The text of the viewer's failure; empty while it works or is starting.
    virtual QString ErrorText() const = 0;
    // The last file dropped onto the viewer and written to disk; empty if none.
    virtual QString DroppedMidiFile() const = 0;
    // Runs a script in the page without waiting for it; nothing while not ready.
    virtual void RunScript(const QString& script) = 0;
    // Shows a MusicXML file, now or once the page is ready; read errors go to the caller.
    virtual void SendScoreFile(const QString& fileName) = 0;
    virtual void SendPendingScore() = 0;
    virtual void ClearScore() = 0;
    virtual void SetPageLanguage(bool english) = 0;
    // The playing measure (an index into the score shown) and how far through it.
    virtual void ShowPlaybackCursor(std::size_t measure, double fraction) = 0;
    virtual void HidePlaybackCursor() = 0;
    // Marks where the next play starts; 0 takes the mark away.
    virtual void ShowPlaybackStart(std::size_t measure) = 0;

signals:
    void ViewerReady();
    // The viewer could not start; for the status line.
    void CreationFailed(const QString& errorText);
    void NavigationFailed(const QString& errorText);
    // Before a dropped file is written: the play must let go of it first.
    void StopPlaybackRequested();
    void MidiFileDropped(const QString& fileName, const QString& displayName);
    void MeasureClicked(int measure);
    // A complete error text for a modal error box.
    void ErrorMessage(const QString& text);
    void PageDied(const QString& errorText);
};

// Makes the window's viewer: its temporary folder, how it localizes its
// texts, and the window as its parent.
using TLocalizeText = std::function<QString(const QString& russian, const QString& english)>;
using TScoreViewerFactory =
    std::function<TScoreViewerPort*(const QString& tempFolder, TLocalizeText localized, QObject* parent)>;
