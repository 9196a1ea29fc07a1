// The window and its score viewer without the web engine: a stand-in viewer
// records what the window asks of it, and speaks for the page.

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "MainForm.h"
#include "MidiBuilder.h"
#include "Playback.h"
#include "RecentFiles.h"
#include "ScorePrinting.h"
#include "StandInViewer.h"
#include "WindowTestSupport.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

class TTestForm : public TfrmMain {
public:
    explicit TTestForm(TScoreViewerFactory factory) : TfrmMain(nullptr, std::move(factory)) {}
    QStringList Shown;
    TStandInViewer* Viewer() const { return findChild<TStandInViewer*>(); }

protected:
    void ShowMessage(TMessageKind, const QString& text) override { Shown << text; }
    bool AskQuestion(const QString&) override { return false; }
    QString AskOpenFileName(const TFileDialog&) override { return {}; }
    QString AskSaveFileName(const TFileDialog&) override { return {}; }
};

// Four measures of 4/4 for a flute.
Bytes FourMeasures() {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).TimeSig(0, 4, 2).End();
    auto& flute = midi.Track().Name("Flute");
    for (int i = 0; i < 16; ++i) flute.Note(0, 480, 0, 72 + i % 5);
    flute.End();
    return midi.Bytes();
}

}  // namespace

class TMainFormStandInTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FFiles;
    std::unique_ptr<QTemporaryDir> FTemp;
    std::unique_ptr<QTemporaryDir> FAppData;
    QByteArray FOldAppData;
    std::unique_ptr<korvalin::test::TTemporaryFolderScope> FTempScope;
    std::unique_ptr<TTestForm> FForm;

    QString WriteMidi(const QString& name) const {
        const Bytes bytes = FourMeasures();
        const QString path = FFiles->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return path;
    }
    void ShowScore() {
        FForm->OpenMidiFile(WriteMidi(QStringLiteral("flute.mid")), QString());
        FForm->btnPreview->click();
        QCOMPARE(FForm->Viewer()->SentFiles.size(), 1);
    }

private slots:
    void init() {
        FFiles = std::make_unique<QTemporaryDir>();
        FTemp = std::make_unique<QTemporaryDir>();
        FTempScope = std::make_unique<korvalin::test::TTemporaryFolderScope>(FTemp->path());
        // The history and settings go to a folder of the test's own.
        FAppData = std::make_unique<QTemporaryDir>();
        FOldAppData = qgetenv("APPDATA");
        qputenv("APPDATA", FAppData->path().toLocal8Bit());
        FForm = std::make_unique<TTestForm>(TStandInViewer::Factory());
    }
    void cleanup() {
        FForm.reset();
        qputenv("APPDATA", FOldAppData);
        FAppData.reset();
        FTempScope.reset();
        FTemp.reset();
        FFiles.reset();
    }

    void theViewerIsPlacedAndSpeaksTheWindowsLanguage() {
        TStandInViewer* viewer = FForm->Viewer();
        QVERIFY(viewer != nullptr);
        QVERIFY(FForm->EdgeBrowser() == nullptr);
        QVERIFY(FForm->WebViewHost() == nullptr);
        QCOMPARE(viewer->View()->parentWidget(), static_cast<QWidget*>(FForm->pnlViewer));
        QVERIFY(FForm->FViewerReady());
        QVERIFY(!viewer->English);
        FForm->rbEnglish->click();
        QVERIFY(viewer->English);
    }

    void aPreviewShowsTheScoreAndOffersPrinting() {
        QVERIFY(!FForm->btnPrint->isEnabled());
        ShowScore();
        QFile sent(FForm->Viewer()->SentFiles.first());
        QVERIFY(sent.open(QIODevice::ReadOnly));
        QVERIFY(sent.readAll().contains("<score-partwise"));
        QVERIFY(FForm->Printing().HasScore());
        QVERIFY(FForm->btnPrint->isEnabled());
        QCOMPARE(FForm->Playback().ShownTimeline().Measures.size(), std::size_t{4});
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("Партитура передана во встроенный просмотрщик."));

        // Another file takes the score away again.
        const int cleared = FForm->Viewer()->Cleared;
        FForm->OpenMidiFile(WriteMidi(QStringLiteral("other.mid")), QString());
        QCOMPARE(FForm->Viewer()->Cleared, cleared + 1);
        QVERIFY(!FForm->Printing().HasScore());
        QVERIFY(!FForm->btnPrint->isEnabled());
        QVERIFY(FForm->Playback().ShownTimeline().Measures.empty());
    }

    void aClickedMeasureIsWhereTheNextPlayStarts() {
        ShowScore();
        FForm->rbEnglish->click();
        emit FForm->Viewer()->MeasureClicked(2);
        QCOMPARE(FForm->Playback().StartMeasure(), std::size_t{2});
        QCOMPARE(FForm->Viewer()->StartMark, std::size_t{2});
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("The next play starts at measure 3."));
        // A click outside the score shown changes nothing.
        emit FForm->Viewer()->MeasureClicked(4);
        QCOMPARE(FForm->Playback().StartMeasure(), std::size_t{2});
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("The next play starts at measure 3."));
    }

    void aFileDroppedOnThePageOpensUnderItsNameOutsideTheHistory() {
        const QString copy = WriteMidi(QStringLiteral("copy.mid"));
        emit FForm->Viewer()->MidiFileDropped(copy, QStringLiteral("song.mid"));
        QCOMPARE(FForm->edtFileName->text(), QStringLiteral("song.mid"));
        QVERIFY(FForm->btnPreview->isEnabled());
        QVERIFY(FForm->History().Entries().isEmpty());
        QVERIFY(FForm->Shown.isEmpty());
    }

    void theZoomReachesAReadyPage() {
        FForm->btnZoomIn->click();
        QCOMPARE(FForm->lblZoom->text(), QStringLiteral("110%"));
        QCOMPARE(FForm->Viewer()->Scripts.value(0), QStringLiteral("window.setScoreZoom(1.100);"));
        FForm->btnFitWidth->click();
        QCOMPARE(FForm->Viewer()->Scripts.value(1), QStringLiteral("window.fitScoreWidth();"));
    }

    void aViewerThatCannotStartIsReportedAndPreviewSaysWhy() {
        FForm.reset();
        FForm = std::make_unique<TTestForm>(TStandInViewer::Factory("no engine"));
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("Предпросмотр недоступен: no engine"));
        FForm->OpenMidiFile(WriteMidi(QStringLiteral("flute.mid")), QString());
        FForm->btnPreview->click();
        QCOMPARE(FForm->Shown, QStringList{QStringLiteral("Встроенный просмотрщик недоступен:\nno engine")});
        QVERIFY(FForm->Viewer()->SentFiles.isEmpty());
    }
};

KORVALIN_WINDOW_TEST_MAIN(TMainFormStandInTest)
#include "MainFormStandInTest.moc"
