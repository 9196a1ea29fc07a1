// The window's host of the embedded score viewer.

#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <stdexcept>

class QMenu;
class QUrl;
class QWebEngineProfile;
class QWebEnginePage;
class QWebEngineView;

namespace korvalin {

class TScoreView;

// A start-up failure of the score viewer; the message (UTF-8) is fit to show.
class EViewerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Picks the Russian or the English form of a text, the way the window's
// Localized does at the moment of the call.
using TLocalizer = std::function<QString(const QString& russian, const QString& english)>;

// The window's side of the embedded score viewer on Qt WebEngine: writes the
// viewer folder, runs the page in a private profile, keeps the viewer state,
// hands scores to the page and turns MIDI files dropped onto the page into
// files on disk. Everything runs on the thread that owns it (the window's).
//
// The host formats its own texts through the localizer it is given; the
// window only decides where they go (status line, message box) from the
// signal that carries them.
class TWebViewHost : public QObject {
    Q_OBJECT

public:
    // tempFolder: the program's temporary folder, canonical, without a
    // trailing separator; the viewer folder, the web data folder and the
    // dropped-file copy are made in it.
    TWebViewHost(const QString& tempFolder, TLocalizer localized, QObject* parent = nullptr);
    ~TWebViewHost() override;

    TWebViewHost(const TWebViewHost&) = delete;
    TWebViewHost& operator=(const TWebViewHost&) = delete;

    // The web view (`EdgeBrowser`), for the window to place below its tool band.
    // It exists from construction; the window takes it over as a child widget.
    QWebEngineView* View() const;

    // Viewer start-up: PrepareViewerFolder, start the web engine with its
    // profile in temporary folder + "Korvalin-WebView2", then NavigateToViewer.
    // Throws EViewerError or EFileError; the text is kept as ErrorText() and
    // the viewer stays unavailable. Later failures arrive as signals.
    void Start();

    bool IsReady() const { return FViewerReady; }                          // FViewerReady
    const QString& ErrorText() const { return FViewerError; }              // FViewerError
    const QString& ViewerFolder() const { return FViewerFolder; }          // FViewerFolder
    const QString& PendingXmlBase64() const { return FPendingXmlBase64; }  // FPendingXmlBase64
    const QString& DroppedMidiFile() const { return FDroppedMidiFile; }    // FDroppedMidiFile

    // Sets the viewer folder, creates it and writes the page and the score
    // library into it, replacing what is there.
    void PrepareViewerFolder();

    // Writes all bytes of the Qt resource :/korvalin/<resourceName> to the file.
    static void SaveResourceToFile(const QString& resourceName, const QString& fileName);

    // Loads the page from the viewer folder.
    void NavigateToViewer();

    // The web view's context menu: the engine's own, less everything that
    // would reload, leave or save the page; null when nothing is left. The
    // caller owns the menu.
    QMenu* CreateContextMenu() const;

    // Runs a script in the page without waiting for it; nothing while not ready.
    void RunScript(const QString& script);

    // Reads the MusicXML file (errors go to the caller), keeps its Base64 text
    // as the one waiting score and sends it when the page is ready: the page
    // then shows it a piece at a time, what the user looks at first. After
    // the page's render process has died, the page is loaded afresh first.
    void SendScoreFile(const QString& fileName);
    void SendPendingScore();

    // Forgets a score still waiting for the page (a new MIDI file is opening).
    void DropPendingScore() { FPendingXmlBase64.clear(); }
    // Stops showing the score: nothing more of it is drawn, the page is empty.
    void ClearScore();
    // The score being shown, in pieces; for the window's tests.
    TScoreView* ScoreView() const { return FScoreView; }

    // The language of the page's own texts, now and whenever the page loads.
    void SetPageLanguage(bool english);

    // Marks the measure playing (an index into the score shown) and how far
    // through it the music is (0 .. 1); the page draws the measure first if
    // it has to. Nothing while no score is shown.
    void ShowPlaybackCursor(std::size_t measure, double fraction);
    void HidePlaybackCursor();
    // Marks where the next play starts; 0 takes the mark away.
    void ShowPlaybackStart(std::size_t measure);

public slots:
    // The page load has finished.
    void EdgeBrowserNavigationCompleted(bool success, int webErrorStatus);
    // A message the page posted through window.chrome.webview.postMessage, as JSON text.
    void EdgeBrowserWebMessageReceived(const QString& json);

signals:
    // The page has loaded; a waiting score has been sent to it.
    void ViewerReady();
    // The web engine died before the page had loaded; for the status line.
    void CreationFailed(const QString& errorText);
    // The page did not load; errorText is the new ErrorText().
    void NavigationFailed(const QString& errorText);
    // Emitted before a dropped file is written, which may replace the file
    // that is playing: connect it directly (same thread) to StopPlayback.
    void StopPlaybackRequested();
    // A file dropped onto the page is on disk: open it under its display name.
    void MidiFileDropped(const QString& fileName, const QString& displayName);
    // The user clicked a measure of the score shown (an index into it).
    void MeasureClicked(int measure);
    // A complete error text for a modal error box (lead line, "\n", reason).
    void ErrorMessage(const QString& text);
    // The page's render process died after the page had loaded; the viewer
    // starts again at the next score. errorText is for the status line.
    void PageDied(const QString& errorText);

private:
    void EdgeBrowserCreateWebViewCompleted(int exitCode);
    void StartWebEngine();
    void InstallMessageBridge();
    QUrl ViewerUrl() const;
    void OpenDroppedFile(const QString& name, const QString& data);
    void RenderProcessTerminated(int exitCode);

    QString FTempFolder;
    TLocalizer FLocalized;

    QPointer<QWebEngineView> FView;
    QPointer<QWebEnginePage> FPage;
    QWebEngineProfile* FProfile = nullptr;

    QString FViewerFolder;
    bool FViewerReady = false;
    bool FNavigationDone = false;
    QString FViewerError;
    QString FPendingXmlBase64;
    QString FDroppedMidiFile;
    bool FEnglish = false;
    // The page's render process died; the next score loads the page afresh.
    bool FPageDead = false;
    TScoreView* FScoreView = nullptr;
};

}  // namespace korvalin
