// The window with its score viewer in the real web engine (offscreen): the
// score preview read back from the page, the MusicXML export, the viewer's
// failures, and the zoom, full-screen and collapse controls.

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>
#include <clocale>
#include <memory>
#include <optional>

#include "FileIO.h"
#include "MainForm.h"
#include "ScoreViewer.h"
#include "WindowTestSupport.h"
#include "MidiBuilder.h"
#include "MusicXmlExporter.h"
#include "WebViewHost.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

class TTestForm : public TfrmMain {
public:
    using TfrmMain::FDroppedMidiFile;
    using TfrmMain::FEnglish;
    using TfrmMain::FLastSavedFile;
    using TfrmMain::FNormalBounds;
    using TfrmMain::FPreviewFile;
    using TfrmMain::FSourceMidiFile;
    using TfrmMain::FViewerFullScreen;
    using TfrmMain::TMessageKind;

    struct TShown {
        TMessageKind Kind;
        QString Text;
    };
    QList<TShown> Shown;
    QString SaveAnswer;
    std::optional<TFileDialog> LastSaveDialog;

protected:
    void ShowMessage(TMessageKind kind, const QString& text) override { Shown.append({kind, text}); }
    bool AskQuestion(const QString&) override { return false; }
    QString AskOpenFileName(const TFileDialog&) override { return {}; }
    QString AskSaveFileName(const TFileDialog& dialog) override {
        LastSaveDialog = dialog;
        return SaveAnswer;
    }
};

// Records, from the first document on, every call the window makes into the
// page's script interface, with its arguments (long texts by their length),
// and still runs the page's own function.
const char* const CallRecorder = R"JS(
(function () {
  window.__calls = [];
  ['setScoreZoom', 'fitScoreWidth', 'clearScore', 'renderMusicXmlBase64', 'beginScore']
      .forEach(function (name) {
    var real;
    Object.defineProperty(window, name, {
      configurable: true,
      set: function (f) { real = f; },
      get: function () {
        return function () {
          var args = Array.from(arguments).map(function (a) {
            return typeof a === 'string' && a.length > 40 ? 'text:' + a.length : a;
          });
          window.__calls.push([name].concat(args));
          return real.apply(this, arguments);
        };
      }
    });
  });
})();
)JS";

// 4/4 at 480 ticks a quarter: a melody of `measures` whole notes and a bass
// part of the same length.
Bytes TwoParts(int measures) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).TimeSig(0, 4, 2).End();
    auto& melody = midi.Track().Name("Melody");
    for (int i = 0; i < measures; ++i) melody.Note(0, 1920, 0, 72 + (i % 5));
    melody.End();
    auto& bass = midi.Track().Name("Bass");
    for (int i = 0; i < measures; ++i) bass.Note(0, 1920, 1, 40 + (i % 3));
    bass.End();
    return midi.Bytes();
}

// A quarter of 100 ticks: the 1/32 grid step would be 12.5 ticks.
Bytes OddResolution() {
    MidiBuilder midi(0, 100);
    midi.Track().Tempo(0, 500000).Note(0, 100, 0, 60).Note(0, 100, 0, 64).End();
    return midi.Bytes();
}

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TMainFormViewerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FFiles;
    std::unique_ptr<TTestForm> FForm;
    QList<QUrl> FOpenedUrls;

    TTestForm& Form() { return *FForm; }
    QWebEnginePage* Page() { return Form().EdgeBrowser()->page(); }

    void NewForm() {
        FForm = std::make_unique<TTestForm>();
        QWebEngineScript recorder;
        recorder.setName(QStringLiteral("test-call-recorder"));
        recorder.setSourceCode(QString::fromLatin1(CallRecorder));
        recorder.setInjectionPoint(QWebEngineScript::DocumentCreation);
        recorder.setWorldId(QWebEngineScript::MainWorld);
        Page()->scripts().insert(recorder);
    }

    QVariant Eval(const QString& script) {
        std::optional<QVariant> result;
        Page()->runJavaScript(script, [&result](const QVariant& value) { result = value; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 30000))
            qWarning("no answer to %s", qPrintable(script));
        return result.value_or(QVariant());
    }

    // The window's calls into the page so far, each as its name and arguments.
    QVariantList Calls() { return Eval(QStringLiteral("window.__calls || []")).toList(); }
    QVariantList CallsNamed(const QString& name) {
        QVariantList found;
        for (const QVariant& call : Calls())
            if (call.toList().value(0).toString() == name) found << QVariant(call.toList().mid(1));
        return found;
    }

    QString PageMessage() { return Eval(QStringLiteral("document.getElementById('message').textContent")).toString(); }
    // The score library draws one group per measure and part.
    int Staves() { return Eval(QStringLiteral("document.querySelectorAll('#score svg .vf-measure').length")).toInt(); }

    QString WriteMidi(const QString& name, const Bytes& bytes) {
        const QString path = FFiles->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return path;
    }

    bool WaitReady() {
        return QTest::qWaitFor([this] { return Form().FViewerReady(); }, 30000);
    }

    void ShowAt(const QRect& geometry) {
        Form().setGeometry(geometry);
        Form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form()));
    }

public slots:
    // The window's Open saved file hands its file here instead of to the desktop.
    void OpenUrl(const QUrl& url) { FOpenedUrls << url; }

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "OpenUrl"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        FFiles = std::make_unique<QTemporaryDir>();
        FOpenedUrls.clear();
        NewForm();
    }

    void cleanup() {
        FForm.reset();
        FFiles.reset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        std::setlocale(LC_ALL, "C");
    }

    // --- Score preview ---

    void previewDrawsTheTickedTracksInThePage() {
        TTestForm& f = Form();
        ShowAt({100, 80, 1280, 760});
        QVERIFY(WaitReady());
        // The engine's view is the one the window shows, below the tool band.
        QCOMPARE(f.EdgeBrowser()->objectName(), QStringLiteral("EdgeBrowser"));
        QCOMPARE(f.EdgeBrowser()->parentWidget(), static_cast<QWidget*>(f.pnlViewer));
        f.OpenMidiFile(WriteMidi("five.mid", TwoParts(5)), QString());
        QVERIFY(f.btnPreview->isEnabled());
        f.btnPreview->click();
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Партитура передана во встроенный просмотрщик."));
        QVERIFY(QFileInfo::exists(f.FPreviewFile));
        QTRY_COMPARE_WITH_TIMEOUT(PageMessage(), QStringLiteral("Партитура готова."), 30000);
        QCOMPARE(Staves(), 10);
        QVERIFY(Form().WebViewHost()->PendingXmlBase64().isEmpty());

        // Only the melody: one stave a measure.
        f.lvTracks->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        f.btnPreview->click();
        QTRY_COMPARE_WITH_TIMEOUT(Staves(), 5, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(PageMessage(), QStringLiteral("Партитура готова."), 30000);
        QVERIFY(f.Shown.isEmpty());
    }

    void aScorePreparedWhileThePageLoadsWaitsAndOnlyTheLastIsShown() {
        TTestForm& f = Form();
        f.show();
        f.OpenMidiFile(WriteMidi("three.mid", TwoParts(3)), QString());
        QVERIFY(!f.FViewerReady());
        f.lvTracks->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        f.btnPreview->click();
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Просмотрщик запускается; партитура появится после загрузки."));
        QVERIFY(QFileInfo::exists(f.FPreviewFile));
        f.lvTracks->topLevelItem(1)->setCheckState(0, Qt::Checked);
        f.btnPreview->click();
        QVERIFY(!f.WebViewHost()->PendingXmlBase64().isEmpty());

        QVERIFY(WaitReady());
        QTRY_COMPARE_WITH_TIMEOUT(PageMessage(), QStringLiteral("Партитура готова."), 30000);
        QCOMPARE(Staves(), 6);
        QCOMPARE(CallsNamed(QStringLiteral("beginScore")).size(), 1);
        QVERIFY(f.WebViewHost()->PendingXmlBase64().isEmpty());
    }

    void openingAnotherFileClearsTheShownScore() {
        TTestForm& f = Form();
        f.show();
        QVERIFY(WaitReady());
        f.OpenMidiFile(WriteMidi("two.mid", TwoParts(2)), QString());
        f.btnPreview->click();
        QTRY_COMPARE_WITH_TIMEOUT(Staves(), 4, 30000);
        f.OpenMidiFile(WriteMidi("four.mid", TwoParts(4)), QString());
        QTRY_COMPARE_WITH_TIMEOUT(Staves(), 0, 30000);
        QCOMPARE(PageMessage(), QStringLiteral("Выберите нужные дорожки и нажмите «Показать партитуру»."));
        QCOMPARE(CallsNamed(QStringLiteral("clearScore")).size(), 2);
    }

    void openingAFileDropsAScoreStillWaitingForThePage() {
        TTestForm& f = Form();
        f.OpenMidiFile(WriteMidi("two.mid", TwoParts(2)), QString());
        f.btnPreview->click();
        QVERIFY(!f.WebViewHost()->PendingXmlBase64().isEmpty());
        f.OpenMidiFile(WriteMidi("four.mid", TwoParts(4)), QString());
        QVERIFY(f.WebViewHost()->PendingXmlBase64().isEmpty());
        QVERIFY(WaitReady());
        QTest::qWait(300);
        QVERIFY(CallsNamed(QStringLiteral("beginScore")).isEmpty());
        QVERIFY(CallsNamed(QStringLiteral("clearScore")).isEmpty());
    }

    // --- Export ---

    void exportWritesWhatTheExporterWritesForTheSameChoices_data() {
        QTest::addColumn<int>("gridIndex");
        QTest::addColumn<int>("grid");
        QTest::addColumn<bool>("bothParts");
        QTest::newRow("1/16, both parts") << 1 << 16 << true;
        QTest::newRow("1/8, melody only") << 0 << 8 << false;
        QTest::newRow("1/32, both parts") << 2 << 32 << true;
    }

    void exportWritesWhatTheExporterWritesForTheSameChoices() {
        QFETCH(int, gridIndex);
        QFETCH(int, grid);
        QFETCH(bool, bothParts);
        TTestForm& f = Form();
        const QString source = WriteMidi("song.mid", TwoParts(3));
        f.OpenMidiFile(source, QString());
        f.cbGrid->setCurrentIndex(gridIndex);
        if (!bothParts) f.lvTracks->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        QVERIFY(!f.btnOpenExternal->isEnabled());

        QDir(FFiles->path()).mkdir(QStringLiteral("out"));
        const QString target = FFiles->filePath(QStringLiteral("out/Song score.musicxml"));
        f.SaveAnswer = target;
        f.btnExport->click();

        QVERIFY(f.LastSaveDialog.has_value());
        QCOMPARE(f.LastSaveDialog->FileName, QStringLiteral("song.musicxml"));
        QCOMPARE(f.LastSaveDialog->InitialDir, FFiles->path());
        QCOMPARE(f.LastSaveDialog->DefaultExt, QStringLiteral("musicxml"));
        QCOMPARE(f.LastSaveDialog->Filter, QStringLiteral("MusicXML (*.musicxml)|*.musicxml|XML (*.xml)|*.xml"));
        QVERIFY(f.LastSaveDialog->OverwritePrompt);

        // The same choices through the exporter itself, to a file of the same
        // name (the work title comes from it).
        korvalin::TMidiFile midi;
        midi.LoadFromFile(QFile::encodeName(source).toStdString());
        std::vector<const korvalin::TMidiTrack*> tracks;
        for (const auto& track : midi.Tracks())
            if (!track->Notes().empty()) tracks.push_back(track.get());
        if (!bothParts) tracks.resize(1);
        QDir(FFiles->path()).mkdir(QStringLiteral("expected"));
        const QString expected = FFiles->filePath(QStringLiteral("expected/Song score.musicxml"));
        korvalin::BuildMusicXml(midi, tracks, QFile::encodeName(expected).toStdString(), grid);
        QCOMPARE(ReadAll(target), ReadAll(expected));

        QCOMPARE(f.FLastSavedFile, target);
        QVERIFY(f.btnOpenExternal->isEnabled());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Готово: ") + target);
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkInformation);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("MusicXML успешно создан:\n") + target);
        QVERIFY(!QFileInfo::exists(f.FPreviewFile));
    }

    void cancelledExportChangesNothing() {
        TTestForm& f = Form();
        f.OpenMidiFile(WriteMidi("song.mid", TwoParts(2)), QString());
        const QString status = f.lblStatus->text();
        f.btnExport->click();
        QVERIFY(f.LastSaveDialog.has_value());
        QVERIFY(f.Shown.isEmpty());
        QVERIFY(f.FLastSavedFile.isEmpty());
        QVERIFY(!f.btnOpenExternal->isEnabled());
        QCOMPARE(f.lblStatus->text(), status);
    }

    void aFileWithoutExtensionOrFolderGetsASuggestedName() {
        TTestForm& f = Form();
        f.OpenMidiFile(WriteMidi("tune", TwoParts(1)), QString());
        f.btnExport->click();
        QCOMPARE(f.LastSaveDialog->FileName, QStringLiteral("tune.musicxml"));

        // A file dropped onto the page shows its name only: no initial folder.
        QJsonObject message{{QStringLiteral("type"), QStringLiteral("midi-drop")},
                            {QStringLiteral("name"), QStringLiteral("C:\\Music\\Dropped.v2.MID")}};
        const Bytes bytes = TwoParts(2);
        message.insert(QStringLiteral("data"),
                       QString::fromLatin1(
                           QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))
                               .toBase64()));
        f.WebViewHost()->EdgeBrowserWebMessageReceived(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
        QCOMPARE(f.edtFileName->text(), QStringLiteral("Dropped.v2.MID"));
        QCOMPARE(f.FSourceMidiFile, f.WebViewHost()->DroppedMidiFile());
        QCOMPARE(f.FDroppedMidiFile, f.WebViewHost()->DroppedMidiFile());
        f.btnExport->click();
        QCOMPARE(f.LastSaveDialog->FileName, QStringLiteral("Dropped.v2.musicxml"));
        QVERIFY(f.LastSaveDialog->InitialDir.isEmpty());
        QVERIFY(f.Shown.isEmpty());

        // The copy goes with the window.
        const QString dropped = f.WebViewHost()->DroppedMidiFile();
        QVERIFY(QFileInfo::exists(dropped));
        FForm.reset();
        QVERIFY(!QFileInfo::exists(dropped));
    }

    void conversionFailuresAreShownAndWriteNothing_data() {
        QTest::addColumn<bool>("preview");
        QTest::addColumn<bool>("english");
        QTest::newRow("preview, Russian") << true << false;
        QTest::newRow("export, English") << false << true;
    }

    void conversionFailuresAreShownAndWriteNothing() {
        QFETCH(bool, preview);
        QFETCH(bool, english);
        TTestForm& f = Form();
        if (english) f.rbEnglish->click();
        const QString target = FFiles->filePath(QStringLiteral("kept.musicxml"));
        {
            QFile existing(target);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("old");
        }
        f.SaveAnswer = target;
        QPushButton* command = preview ? f.btnPreview : f.btnExport;

        // No ticked track.
        f.OpenMidiFile(WriteMidi("two.mid", TwoParts(2)), QString());
        f.btnSelectNone->click();
        command->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkInformation);
        QCOMPARE(f.Shown[0].Text, english ? QStringLiteral("Select at least one musical track.")
                                          : QStringLiteral("Отметьте хотя бы одну музыкальную дорожку."));

        // A grid the file's resolution cannot carry.
        f.OpenMidiFile(WriteMidi("odd.mid", OddResolution()), QString());
        f.cbGrid->setCurrentIndex(2);
        const QString loadedStatus = f.lblStatus->text();
        command->click();
        QCOMPARE(f.Shown.size(), 2);
        QCOMPARE(f.Shown[1].Kind, TTestForm::TMessageKind::mkError);
        const QString lead =
            english ? QStringLiteral("Conversion error:\n") : QStringLiteral("Ошибка преобразования:\n");
        QVERIFY2(f.Shown[1].Text.startsWith(lead) && f.Shown[1].Text.size() > lead.size() + 10,
                 qPrintable(f.Shown[1].Text));

        QVERIFY(!QFileInfo::exists(f.FPreviewFile));
        QCOMPARE(ReadAll(target), QByteArray("old"));
        QVERIFY(f.FLastSavedFile.isEmpty());
        QVERIFY(!f.btnOpenExternal->isEnabled());
        QCOMPARE(f.lblStatus->text(), loadedStatus);
        QVERIFY(f.WebViewHost()->PendingXmlBase64().isEmpty());
    }

    void openSavedFileOpensTheLastExportUntilItIsGone() {
        TTestForm& f = Form();
        f.OpenMidiFile(WriteMidi("song.mid", TwoParts(2)), QString());
        f.SaveAnswer = FFiles->filePath(QStringLiteral("first.musicxml"));
        f.btnExport->click();
        f.SaveAnswer = FFiles->filePath(QStringLiteral("second.xml"));
        f.btnExport->click();
        // Another file later: the button still opens the last export.
        f.OpenMidiFile(WriteMidi("other.mid", TwoParts(1)), QString());
        QVERIFY(f.btnOpenExternal->isEnabled());
        f.btnOpenExternal->click();
        QCOMPARE(FOpenedUrls, QList<QUrl>{QUrl::fromLocalFile(FFiles->filePath(QStringLiteral("second.xml")))});

        QVERIFY(QFile::remove(FFiles->filePath(QStringLiteral("second.xml"))));
        f.btnOpenExternal->click();
        QCOMPARE(FOpenedUrls.size(), 1);
        QCOMPARE(f.Shown.size(), 2);
    }

    // --- The viewer unavailable ---

    void aViewerThatCannotStartIsReportedAndPreviewWritesNothing() {
        FForm.reset();
        qputenv("QTWEBENGINEPROCESS_PATH", "/nonexistent/QtWebEngineProcess");
        FForm = std::make_unique<TTestForm>();
        qunsetenv("QTWEBENGINEPROCESS_PATH");
        TTestForm& f = Form();
        const QString reason = QStringLiteral("Не удалось загрузить веб-движок Qt WebEngine");
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Предпросмотр недоступен: ") + reason);
        QCOMPARE(f.FViewerError(), reason);
        QVERIFY(!f.FViewerReady());

        f.OpenMidiFile(WriteMidi("two.mid", TwoParts(2)), QString());
        const QString status = f.lblStatus->text();
        f.btnPreview->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Встроенный просмотрщик недоступен:\n") + reason);
        QVERIFY(!QFileInfo::exists(f.FPreviewFile));
        QCOMPARE(f.lblStatus->text(), status);

        // Export does not need the viewer.
        f.SaveAnswer = FFiles->filePath(QStringLiteral("out.musicxml"));
        f.btnExport->click();
        QVERIFY(QFileInfo::exists(f.SaveAnswer));
        // Nor do the view controls.
        f.btnZoomIn->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("110%"));
    }

    void aFailedNavigationIsReportedOnTheStatusLineAndByPreview() {
        TTestForm& f = Form();
        f.rbEnglish->click();
        f.WebViewHost()->EdgeBrowserNavigationCompleted(false, -3);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Could not open the built-in viewer."));
        QVERIFY(f.Shown.isEmpty());
        f.OpenMidiFile(WriteMidi("two.mid", TwoParts(2)), QString());
        f.btnPreview->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Text,
                 QStringLiteral("The built-in viewer is unavailable:\nQt WebEngine navigation error: -3"));
        QVERIFY(!QFileInfo::exists(f.FPreviewFile));
    }

    void aFailedCreationPutsItsTextOnTheStatusLine() {
        TTestForm& f = Form();
        emit f.WebViewHost()->CreationFailed(QStringLiteral("Qt WebEngine не запустился (код 1)."));
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Qt WebEngine не запустился (код 1)."));
        QVERIFY(f.Shown.isEmpty());
    }

    void aRefusedDropOntoThePageIsShownInAnErrorBox() {
        TTestForm& f = Form();
        QJsonObject message{{QStringLiteral("type"), QStringLiteral("midi-drop")},
                            {QStringLiteral("name"), QStringLiteral("notes.txt")},
                            {QStringLiteral("data"), QStringLiteral("aGVsbG8=")}};
        f.WebViewHost()->EdgeBrowserWebMessageReceived(
            QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QCOMPARE(
            f.Shown[0].Text,
            QStringLiteral("Не удалось открыть перетащенный MIDI-файл:\nПоддерживаются только файлы .mid и .midi."));
        QVERIFY(f.FSourceMidiFile.isEmpty());
    }

    // --- Zoom ---

    void zoomStepsAreClampedAndShown() {
        TTestForm& f = Form();
        f.show();
        QVERIFY(WaitReady());
        const QStringList outLabels{QStringLiteral("90%"), QStringLiteral("80%"), QStringLiteral("70%"),
                                    QStringLiteral("60%"), QStringLiteral("50%"), QStringLiteral("40%"),
                                    QStringLiteral("35%"), QStringLiteral("35%")};
        for (const QString& label : outLabels) {
            f.btnZoomOut->click();
            QCOMPARE(f.lblZoom->text(), label);
        }
        f.btnZoomIn->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("45%"));

        f.btnFitWidth->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("100%"));
        QCOMPARE(f.Viewer().Zoom(), 1.0);
        for (int i = 0; i < 15; ++i) f.btnZoomIn->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("250%"));
        f.btnZoomIn->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("250%"));
        QCOMPARE(f.Viewer().Zoom(), 2.5);

        QTRY_COMPARE_WITH_TIMEOUT(Calls().size(), 8 + 1 + 1 + 16, 30000);
        const QVariantList zooms = CallsNamed(QStringLiteral("setScoreZoom"));
        QCOMPARE(zooms.size(), 25);
        const double expected[] = {0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 0.35, 0.35, 0.45, 1.1};
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(zooms[i].toList().size(), 1);
            QCOMPARE(zooms[i].toList()[0].toDouble(), expected[i]);
        }
        QCOMPARE(zooms.last().toList(), QVariantList{2.5});
        QCOMPARE(CallsNamed(QStringLiteral("fitScoreWidth")).size(), 1);
        QCOMPARE(Calls()[9].toList(), QVariantList{QStringLiteral("fitScoreWidth")});
    }

    void fitWidthAfterZoomingStartsTheStepsAgainFromOne() {
        TTestForm& f = Form();
        f.show();
        QVERIFY(WaitReady());
        f.OpenMidiFile(WriteMidi("two.mid", TwoParts(2)), QString());
        f.btnPreview->click();
        QTRY_COMPARE_WITH_TIMEOUT(PageMessage(), QStringLiteral("Партитура готова."), 30000);
        const double width =
            Eval(QStringLiteral("document.querySelector('#score svg').getBoundingClientRect().width")).toDouble();
        for (int i = 0; i < 3; ++i) f.btnZoomOut->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("70%"));
        f.btnFitWidth->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("100%"));
        f.btnZoomOut->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("90%"));
        f.btnFitWidth->click();
        f.btnZoomIn->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("110%"));
        QTRY_COMPARE_WITH_TIMEOUT(CallsNamed(QStringLiteral("fitScoreWidth")).size(), 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(CallsNamed(QStringLiteral("setScoreZoom")).size(), 5, 30000);
        QCOMPARE(CallsNamed(QStringLiteral("setScoreZoom")).last().toList(), QVariantList{1.1});
        // The page drew the score again at its own width after the fit.
        QVERIFY(width > 0);
    }

    void theZoomScriptCarriesAFullStopWhateverTheLocale() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        std::setlocale(LC_ALL, "de_DE.UTF-8");  // where the system has it
        QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
        TTestForm& f = Form();
        f.show();
        QVERIFY(WaitReady());
        f.btnZoomOut->click();
        f.btnZoomIn->click();
        f.btnZoomIn->click();
        QTRY_COMPARE_WITH_TIMEOUT(CallsNamed(QStringLiteral("setScoreZoom")).size(), 3, 30000);
        const QVariantList zooms = CallsNamed(QStringLiteral("setScoreZoom"));
        // A decimal comma would have made two arguments of each call.
        QCOMPARE(zooms[0].toList(), QVariantList{0.9});
        QCOMPARE(zooms[1].toList(), QVariantList{1.0});
        QCOMPARE(zooms[2].toList(), QVariantList{1.1});
        QCOMPARE(f.lblZoom->text(), QStringLiteral("110%"));
    }

    void zoomBeforeThePageIsReadyOnlyChangesTheLabel() {
        TTestForm& f = Form();
        f.show();
        QVERIFY(!f.FViewerReady());
        f.btnZoomIn->click();
        f.btnZoomIn->click();
        f.btnFitWidth->click();
        f.btnZoomOut->click();
        QCOMPARE(f.lblZoom->text(), QStringLiteral("90%"));
        QVERIFY(WaitReady());
        QTest::qWait(300);
        QVERIFY(Calls().isEmpty());
        // The page learns later zooms only.
        f.btnZoomOut->click();
        QTRY_COMPARE_WITH_TIMEOUT(CallsNamed(QStringLiteral("setScoreZoom")), QVariantList{QVariantList{0.8}}, 30000);
    }

    // --- Full screen and collapse ---

    void fullScreenFromANormalWindowAndBack() {
        TTestForm& f = Form();
        ShowAt({120, 90, 1200, 720});
        const QRect normal = f.geometry();
        f.btnFullScreen->click();
        QVERIFY(f.FViewerFullScreen);
        QTRY_VERIFY(f.isFullScreen());
        QTRY_COMPARE(f.geometry(), f.screen()->geometry());
        for (QWidget* panel : {static_cast<QWidget*>(f.pnlTop), static_cast<QWidget*>(f.pnlLeft),
                               static_cast<QWidget*>(f.Splitter), static_cast<QWidget*>(f.pnlStatus)})
            QVERIFY(!panel->isVisible());
        QTRY_COMPARE(f.pnlViewer->geometry(), f.rect());
        QVERIFY(!f.btnCollapseViewer->isEnabled());
        QCOMPARE(f.btnFullScreen->text(), QStringLiteral("Вернуть интерфейс"));
        f.rbEnglish->click();
        QCOMPARE(f.btnFullScreen->text(), QStringLiteral("Restore interface"));

        f.btnFullScreen->click();
        QVERIFY(!f.FViewerFullScreen);
        QTRY_VERIFY(!f.isFullScreen());
        QTRY_COMPARE(f.geometry(), normal);
        QVERIFY(!f.isMaximized());
        for (QWidget* panel : {static_cast<QWidget*>(f.pnlTop), static_cast<QWidget*>(f.pnlLeft),
                               static_cast<QWidget*>(f.Splitter), static_cast<QWidget*>(f.pnlStatus)})
            QVERIFY(panel->isVisible());
        QVERIFY(f.btnCollapseViewer->isEnabled());
        QCOMPARE(f.btnFullScreen->text(), QStringLiteral("Full screen"));
        QCOMPARE(f.pnlLeft->width(), 430);
        f.rbRussian->click();
        QCOMPARE(f.btnFullScreen->text(), QStringLiteral("Во весь экран"));
    }

    void fullScreenFromAMaximizedWindowReturnsMaximized() {
        TTestForm& f = Form();
        const QRect normal(150, 100, 1100, 700);
        f.setGeometry(normal);
        f.showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QTRY_VERIFY(f.isMaximized());
        f.SetViewerFullScreen(true);
        QTRY_VERIFY(f.isFullScreen());
        f.SetViewerFullScreen(true);  // already there: nothing changes
        QVERIFY(f.FViewerFullScreen);
        f.SetViewerFullScreen(false);
        QTRY_VERIFY(f.isMaximized());
        QVERIFY(!f.isFullScreen());
        QTRY_COMPARE(f.geometry(), f.screen()->availableGeometry());
        // Restored by the user later, it takes its normal bounds again.
        f.showNormal();
        QTRY_COMPARE(f.geometry(), normal);
    }

    void collapseThenShowGivesTheColumnBack() {
        TTestForm& f = Form();
        ShowAt({100, 80, 1280, 760});
        QVERIFY(!f.btnShowViewer->isVisible());
        const int column = f.pnlLeft->width();
        f.btnCollapseViewer->click();
        QVERIFY(!f.pnlViewer->isVisible());
        QVERIFY(!f.Splitter->isVisible());
        QVERIFY(f.btnShowViewer->isVisible());
        QVERIFY(f.btnShowViewer->isEnabled());
        QCOMPARE(f.pnlLeft->width(), f.width());
        QCOMPARE(f.pnlLeft->geometry().top(), f.pnlTop->geometry().bottom() + 1);
        QCOMPARE(f.pnlLeft->geometry().bottom() + 1, f.pnlStatus->geometry().top());

        f.resize(1100, 700);
        QTRY_COMPARE(f.pnlLeft->width(), 1100);
        f.btnShowViewer->click();
        QVERIFY(f.pnlViewer->isVisible());
        QVERIFY(f.Splitter->isVisible());
        QVERIFY(!f.btnShowViewer->isVisible());
        QCOMPARE(f.pnlLeft->width(), column);
        QCOMPARE(f.Splitter->geometry().left(), f.pnlLeft->geometry().right() + 1);
        QCOMPARE(f.pnlViewer->geometry().left(), f.Splitter->geometry().right() + 1);
        QCOMPARE(f.pnlViewer->geometry().right(), f.width() - 1);
    }
};

KORVALIN_WINDOW_TEST_MAIN(TMainFormViewerTest)

#include "MainFormViewerTest.moc"
