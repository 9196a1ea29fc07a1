// TfrmMain, the main window: its controls, its command handlers and the
// state they share. The handlers are spread over the MainForm*.cpp files by concern.

#pragma once

#include <QByteArray>
#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "MidiParser.h"
#include "MusicXmlExporter.h"
#include "PrivateFolder.h"
#include "ScoreTimeline.h"
#include "ScoreViewerPort.h"

class QAbstractButton;
class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QTranslator;
class QPushButton;
class QRadioButton;
class QShortcut;
class QTreeWidget;
class QTreeWidgetItem;
class QPageLayout;
class QPrinter;
class QVBoxLayout;
class QWebEngineView;
class TRecentFiles;
class TScorePrinting;
class TTrackList;
class TPerformanceCorrections;
class TPlayback;
class TScoreViewer;

namespace korvalin {
class TPageSink;
class TWebViewHost;
struct TSequencerOptions;
}  // namespace korvalin

// What a file dialog is asked for. Filter is written as description|pattern
// pairs ("MIDI files (*.mid;*.midi)|*.mid;*.midi|..."); the dialog seam turns it
// into the platform's form.
struct TFileDialog {
    QString DefaultExt;
    QString Filter;
    QString FileName;
    QString InitialDir;
    bool FileMustExist = false;
    bool OverwritePrompt = false;
};

// The main window and the application controller: it owns the loaded file,
// the temporary files and the interface language, and its handlers drive every
// command, handing the work to the track list, playback, the score viewer, the
// history and printing, which it owns. Controls are public under their design
// names so that the window's later parts and its tests reach them directly.
class TfrmMain : public QWidget {
    Q_OBJECT

public:
    // The score viewer is the web engine's page unless a factory makes another.
    explicit TfrmMain(QWidget* parent = nullptr, TScoreViewerFactory viewerFactory = {});
    ~TfrmMain() override;

    // --- Controls (object names equal the member names) ---
    QFrame* pnlTop = nullptr;
    QLabel* lblFileCaption = nullptr;
    QLabel* lblTempo = nullptr;
    QLabel* lblKeySignature = nullptr;
    QRadioButton* rbRussian = nullptr;
    QRadioButton* rbEnglish = nullptr;
    QPushButton* btnRecent = nullptr;
    QLineEdit* edtFileName = nullptr;
    QPushButton* btnShowViewer = nullptr;
    QPushButton* btnOpen = nullptr;

    QFrame* pnlStatus = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* lblCopyright = nullptr;

    QFrame* pnlLeft = nullptr;
    QTreeWidget* lvTracks = nullptr;
    QFrame* pnlTrackSettings = nullptr;
    QLabel* lblPartName = nullptr;
    QLineEdit* edtPartName = nullptr;
    QLabel* lblClef = nullptr;
    QComboBox* cbClef = nullptr;
    QLabel* lblGrid = nullptr;
    QComboBox* cbGrid = nullptr;
    QLabel* lblNotation = nullptr;
    QComboBox* cbNotation = nullptr;
    QLabel* lblMeter = nullptr;
    QComboBox* cbMeter = nullptr;
    QLabel* lblFirstBeat = nullptr;
    QLineEdit* edtFirstBeat = nullptr;
    QPushButton* btnSelectAll = nullptr;
    QPushButton* btnSelectNone = nullptr;
    QPushButton* btnPreview = nullptr;
    QPushButton* btnExport = nullptr;
    QPushButton* btnOpenExternal = nullptr;
    QPushButton* btnPlayAll = nullptr;
    QPushButton* btnPlayTrack = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnPlayTransposed = nullptr;
    QFrame* pnlMidiSettings = nullptr;
    QLabel* lblNewKey = nullptr;
    QComboBox* cbNewKey = nullptr;
    QLabel* lblNewTempo = nullptr;
    QLineEdit* edtNewTempo = nullptr;
    QPushButton* btnSaveMidi = nullptr;
    QPushButton* btnPreviewTransposed = nullptr;

    QFrame* Splitter = nullptr;
    QFrame* pnlViewer = nullptr;
    QFrame* pnlViewerTools = nullptr;
    QLabel* lblViewerTitle = nullptr;
    QPushButton* btnZoomOut = nullptr;
    QLabel* lblZoom = nullptr;
    QPushButton* btnZoomIn = nullptr;
    QPushButton* btnFitWidth = nullptr;
    QPushButton* btnFullScreen = nullptr;
    QPushButton* btnCollapseViewer = nullptr;
    QPushButton* btnPrint = nullptr;
    QPushButton* btnSavePdf = nullptr;

    TFileDialog OpenDialog;
    TFileDialog SaveDialog;
    TFileDialog PdfSaveDialog;
    TFileDialog MidiSaveDialog;

    // --- Event handlers ---
    void LanguageClick();
    void btnOpenClick();
    void lvTracksSelectItem(QTreeWidgetItem* item, bool selected);
    void edtPartNameChange();
    void cbClefChange();
    void btnSelectAllClick();
    void btnSelectNoneClick();
    // Files dropped onto the window (outside the score view), in drop order.
    void WMDropFiles(const QStringList& fileNames);
    // Files named on the program's command line, after start-up: the first is
    // opened as the Open button would, the status line says the rest were ignored.
    void OpenCommandLineFiles(const QStringList& fileNames);

    // --- Operations the other parts of the window call ---
    // The one way a MIDI file enters the window. An empty display name shows the
    // path and records the file as opened; failures are reported here.
    void OpenMidiFile(const QString& fileName, const QString& displayName);
    // The quantisation grid as a note-value denominator: 8, 16 or 32 (16 for
    // the automatic grid, which readable notation alone offers).
    int SelectedGrid() const;
    // How the score is written: as played (the first item) or for reading.
    korvalin::TNotationMode SelectedNotation() const;
    // What Show score, Save MusicXML and the transposed preview ask of the exporter.
    korvalin::TExportOptions ExportOptions() const;
    // The notation choice is remembered in the settings file.
    void cbNotationChange();
    void FillNewKeyControls();
    void UpdatePlaybackButtons();

    // --- What the handlers hand their work to (all made at start-up) ---
    // The history of opened and saved files.
    TRecentFiles& History() const { return *FHistory; }
    // Printing and PDF of the score shown.
    TScorePrinting& Printing() const { return *FPrinting; }
    // The track list and the selected track's settings.
    TTrackList& Tracks() const { return *FTracks; }
    // The user's corrections to what readable notation finds in free playing.
    TPerformanceCorrections& Corrections() const { return *FCorrections; }
    // Playback and where it starts in the score shown.
    TPlayback& Playback() const { return *FPlayback; }
    // The score viewer and the zoom of its tool band.
    TScoreViewer& Viewer() const { return *FViewer; }

    // --- Recent-files history ---
    // The settings file: the roaming application-data folder ("APPDATA", else
    // the user's configuration folder) + Velthane/Korvalin/settings.ini.
    static QString SettingsFileName();
    void btnRecentClick();
    // Rebuilds the history menu in the window's language.
    void BuildRecentMenu();
    void RecentItemClick(QAction* item);
    void RemoveUnavailableClick(QAction* item);
    void ClearHistoryClick(QAction* item);

    // Fits and centres the window in the work area of its screen.
    void FitToWorkArea();
    void FitToWorkArea(const QRect& workArea);

    // --- Score viewer: host, preview, export, view controls ---
    // Builds the MusicXML of the ticked tracks into fileName; false when it
    // could not, after the message has been shown.
    bool WriteScoreFile(const QString& fileName);
    void btnPreviewClick();
    void btnExportClick();
    void btnOpenExternalClick();
    void btnZoomOutClick();
    void btnZoomInClick();
    void btnFitWidthClick();
    void SetViewerFullScreen(bool value);
    void btnFullScreenClick();
    void btnCollapseViewerClick();
    void btnShowViewerClick();
    // Print and PDF: the score shown in the viewer laid out on pages.
    void btnPrintClick();
    void btnSavePdfClick();
    // The score view (EdgeBrowser); null only before start-up.
    QWebEngineView* EdgeBrowser() const;
    // The web engine's host behind the viewer; null for a stand-in.
    korvalin::TWebViewHost* WebViewHost() const;
    // The viewer's state, kept by its host: the page has loaded; the text of
    // its failure (empty while it works or is starting).
    bool FViewerReady() const;
    QString FViewerError() const;

    // --- New key and tempo, playback ---
    // Validates the new-key panel: the new key's fifths (-7..7), the tempo in
    // BPM (20..400) and the shift in semitones (-6..6). On failure it has told
    // the user why and returns false.
    bool ReadNewKeyAndTempo(int& newFifths, int& tempo, int& semitones);
    void btnPreviewTransposedClick();
    void btnSaveMidiClick();
    // The end of a play, as the sequencer reports it.
    void MMMciNotify(int code, int deviceId);
    void btnPlayAllClick();
    void btnPlayTrackClick();
    void btnPlayTransposedClick();
    void btnStopClick();

    // --- Audio files and the SoundFont (MainFormAudio.cpp) ---
    QPushButton* btnSaveAudio = nullptr;
    QPushButton* btnSoundFont = nullptr;
    QAction* actSaveAudioOriginal = nullptr;
    QAction* actSaveAudioTransposed = nullptr;
    TFileDialog AudioSaveDialog;
    TFileDialog SoundFontDialog;
    void btnSaveAudioClick();
    void btnSoundFontClick();
    void OtherSoundFontClick();
    // Checks a SoundFont and takes it for playback and audio files, storing
    // the choice; a file that is not a usable SoundFont changes nothing.
    bool ChooseSoundFont(const QString& fileName);
    // The SoundFont in use: the chosen one, else the system's default.
    QString SoundFontFile() const;

    // --- Pause and the keyboard (MainFormShortcuts.cpp) ---
    // Holds the play where it is, or plays on from there.
    void btnPauseClick();

    // --- Where playback starts and where it is (MainFormCursor.cpp) ---
    // A click on a measure of the score shown: the next play starts there.
    void MeasureClicked(int measure);

protected:
    enum class TMessageKind { mkError, mkInformation };

    // Every message box, question and file dialog of the window goes through
    // these, so that tests can answer them without a modal window.
    virtual void ShowMessage(TMessageKind kind, const QString& text);
    virtual bool AskQuestion(const QString& text);
    virtual QString AskOpenFileName(const TFileDialog& dialog);
    virtual QString AskSaveFileName(const TFileDialog& dialog);
    // The system's print dialog: false when the user cancels it.
    virtual bool AskPrinter(QPrinter& printer);

    // An error box with a localized lead line and the failure's own text.
    void ShowError(const QString& leadLine, const QString& message);

    // Connects a button to a command; a button without a command stays disabled.
    void ConnectCommand(QAbstractButton* button, void (TfrmMain::*handler)());
    // Enables a command button only when its command exists.
    void SetCommandEnabled(QAbstractButton* button, bool enabled);
    // Runs a piece of a handler so that no exception reaches the event loop.
    void Guarded(const std::function<void()>& work);

    // Puts a widget (the score view) below the viewer's tool band, filling pnlViewer.
    void PlaceViewerWidget(QWidget* view);

    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // --- The window's state (protected so that the window tests can read it) ---
    std::unique_ptr<korvalin::TMidiFile> FMidi;
    QString FPreviewFile;
    QString FLastSavedFile;
    // The status bar's account of the last readable score written; empty for literal.
    QString FReadableSummary;
    std::shared_ptr<const korvalin::TConversionReport> FReadableReport;
    // The status line's description and what it last showed; a text set
    // otherwise is not the description's any more.
    std::function<QString()> FStatusDescription;
    QString FStatusShown;
    // The status line of the play a pause interrupted.
    std::function<QString()> FPlayingStatus;
    // Where the measures of the score last built lie in the file.
    korvalin::TScoreTimeline FBuiltTimeline;
    bool FViewerFullScreen = false;
    QRect FNormalBounds;
    Qt::WindowStates FNormalWindowState = Qt::WindowNoState;
    QString FSourceMidiFile;
    QString FPlaybackTempFile;
    QString FPreparedPlaybackFile;
    QString FDroppedMidiFile;
    QString FTransposedTempFile;
    // The sequencer, the start measure and the cursor; a child of the window.
    TPlayback* FPlayback = nullptr;
    // How the sequencer reaches the synthesizer and the sound card; tests
    // render to a file instead.
    virtual korvalin::TSequencerOptions SequencerOptions() const;
    bool FEnglish = false;
    // The score viewer and its zoom; a child of the window.
    TScoreViewer* FViewer = nullptr;
    // A child of the window, so Qt deletes it.
    TRecentFiles* FHistory = nullptr;

    // The user's private folder for temporary files, canonical; empty when
    // none could be had (FTemporaryFolderError says why).
    QString TemporaryFolder() const { return FTemporaryFolder.Path; }
    korvalin::TPrivateFolder FTemporaryFolder;
    QString FTemporaryFolderError;
    // Keep the result while a temporary file is written: it comes out the
    // user's alone. Throws when there is no private folder.
    korvalin::TPrivateFileMode ClaimTemporaryFile(const QString& fileName) const;

    // Printing and PDF of the score last sent to the viewer.
    std::unique_ptr<TScorePrinting> FPrinting;
    std::unique_ptr<TTrackList> FTracks;
    std::unique_ptr<TPerformanceCorrections> FCorrections;
    void UpdatePrintButtons();

    // The user's SoundFont; empty for the system's default.
    QString FSoundFontFile;
    QMenu* FSaveAudioMenu = nullptr;
    QMenu* FSoundFontMenu = nullptr;
    enum class TAudioOutcome { aoDone, aoCancelled, aoFailed };
    // Renders on a thread of its own behind a progress dialog with a Cancel
    // button (object name AudioProgress); error is set on failure.
    TAudioOutcome RunAudioJob(std::vector<std::uint8_t> midi, const QString& fileName, QString& error);

private:
    // --- Steps the handlers share ---
    void ShowLoadedMidi();
    // The grid list gains "Auto" while readable notation is chosen.
    void UpdateGridChoices();
    // What readable notation did, in one line for the status bar.
    QString ReadableSummary(const korvalin::TConversionReport& report) const;
    // Shows a status line kept as its description, so that a language switch
    // can say it again in the other language.
    void ShowStatus(std::function<QString()> describe);
    // The readable summary of the score last written, in the current language;
    // empty for literal notation.
    QString CurrentReadableSummary() const;
    void LoadNotationSetting();
    QString Localized(const QString& russian, const QString& english) const;
    void ApplyLanguage();
    // Qt's own texts (file dialogs, standard buttons, the score view's menu)
    // in the interface language: its Russian translations installed while
    // the interface is Russian.
    void ApplyQtTranslations();
    // Hands a MusicXML file to the page, or keeps it waiting until the page is
    // ready; a read error goes to the caller.
    void SendScoreFile(const QString& fileName);
    void SendPendingScore();
    void SetViewerCollapsed(bool value);
    // Where the window's start-up, commands, file opening and shutdown meet
    // the viewer: create and start its host (a failure goes to the status
    // line), connect the viewer's commands, forget the shown score before a
    // new file, and let go of the host before the window's files are deleted.
    void StartViewer();
    void ConnectViewerCommands();
    void ClearViewerScore();
    void ShutDownViewer();
    // The suggested name of a new MIDI file: <base>_<tempo>BPM_<key>.mid.
    QString DefaultNewMidiName(int newFifths, int tempo) const;
    // A key name fit for a file name: "F# minor" gives "F-sharp-minor".
    static QString KeyNameForFile(const QString& keyName);
    // Rewrites the loaded file's source for the new key and tempo into destFile.
    void TransposeSourceTo(const QString& destFile, int newFifths, int semitones, int tempo);
    // Prepares fileName and plays the copy; caption completes "Playing: ".
    void PlayMidi(const QString& fileName, const QString& caption);
    // The same, with a caption said again in the language the window is switched to.
    void PlayMidi(const QString& fileName, const std::function<QString()>& caption);
    // Stops and closes the sequencer if it is open.
    void StopPlayback(bool showStatus);
    // The sequencer's text for a nonzero result.
    static QString MciErrorText(int code);
    // Connects both buttons, makes their menus and reads the stored SoundFont.
    void ConnectAudioCommands();
    void ApplyAudioLanguage();
    void UpdateAudioButtons();
    // Writes what the play buttons play (the original file, or with the new
    // key and tempo) to an audio file the user names; the name's extension
    // picks WAV, FLAC or Ogg Vorbis.
    void SaveAudio(bool withNewSettings);
    void BuildSoundFontMenu();
    void UpdatePauseButton();
    // The window's keyboard shortcuts, and the tips that name them.
    void CreateShortcuts();
    void ApplyShortcutTexts();
    // Follows the play with the cursor while one is open, and takes the
    // cursor away when it ends.
    void FollowPlayback();

    void CreateControls();
    void ConnectHandlers();
    void FormCreate();
    void CreateHistory();
    void CreatePrinting();
    void CreatePlayback();
    void FormDestroy();
    void DeleteTemporaryFiles();
    void RelayoutPanels();
    void ShowTempoAndKeyLabels();

    QSet<QAbstractButton*> FCommands;
    QList<QTranslator*> FQtTranslators;
    // Space pauses only while something plays; otherwise it presses the focused button.
    QShortcut* FPauseShortcut = nullptr;
    QVBoxLayout* FViewerLayout = nullptr;
    QWidget* FViewerSpace = nullptr;
};
