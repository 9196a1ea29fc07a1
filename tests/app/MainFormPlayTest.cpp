// Window tests of what a player of the file sees and presses: every caption
// whole in both languages, a status line that a language switch translates,
// the keyboard shortcuts, and pause and resume through FluidSynth's `file`
// driver.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>
#include <optional>

#include "MainForm.h"
#include "ScoreViewer.h"
#include "Playback.h"
#include "ScorePrinting.h"
#include "MidiParser.h"
#include "MidiPlaybackPreparer.h"
#include "MidiBuilder.h"
#include "MidiSequencer.h"
#include "WindowTestSupport.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

constexpr int HangMs = 30000;

class TTestForm : public TfrmMain {
public:
    using TfrmMain::FEnglish;
    using TfrmMain::FPreparedPlaybackFile;
    using TfrmMain::FViewerFullScreen;
    using TfrmMain::TMessageKind;
    using TfrmMain::UpdatePrintButtons;

    int OpenDialogs = 0;
    int SaveDialogs = 0;
    int Printers = 0;
    QString SaveAnswer;
    korvalin::TSequencerOptions Options;

protected:
    void ShowMessage(TMessageKind, const QString&) override {}
    bool AskQuestion(const QString&) override { return false; }
    QString AskOpenFileName(const TFileDialog&) override {
        ++OpenDialogs;
        return {};
    }
    QString AskSaveFileName(const TFileDialog&) override {
        ++SaveDialogs;
        return SaveAnswer;
    }
    bool AskPrinter(QPrinter&) override {
        ++Printers;
        return false;
    }
    korvalin::TSequencerOptions SequencerOptions() const override { return Options; }
};

// 3/4 at 120 BPM, 480 ticks a quarter: a flute and an organ of `measures` bars.
Bytes Waltz(int measures) {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).TimeSig(0, 3, 2).KeySig(0, 0, false).End();
    auto& flute = midi.Track().Name("Flute");
    for (int i = 0; i < measures * 3; ++i) flute.Note(0, 480, 0, 72 + (i * 5) % 12);
    flute.End();
    auto& organ = midi.Track().Name("Organ").Program(0, 1, 19);
    for (int i = 0; i < measures; ++i) organ.Note(0, 1440, 1, 48 + (i * 7) % 12, 100);
    organ.End();
    return midi.Bytes();
}

void Idle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

class TMainFormPlayTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FRun;
    int FTestCount = 0;
    std::unique_ptr<QTemporaryDir> FFiles;
    std::unique_ptr<korvalin::test::TTemporaryFolderScope> FTempScope;
    std::unique_ptr<TTestForm> FForm;

    QString WriteMidi(const QString& name, const Bytes& bytes) {
        const QString path = FFiles->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return path;
    }
    void SetEnglish(bool english) {
        (english ? FForm->rbEnglish : FForm->rbRussian)->click();
        QCOMPARE(FForm->FEnglish, english);
    }
    // The value of a script expression, read back from the score view's page.
    QVariant Eval(const QString& script) {
        std::optional<QVariant> result;
        FForm->EdgeBrowser()->page()->runJavaScript(script, [&result](const QVariant& value) { result = value; });
        QElapsedTimer clock;
        clock.start();
        while (!result && clock.elapsed() < HangMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result.value_or(QVariant());
    }
    // Shows the score and waits until the page has drawn its first systems.
    bool ShowScore(QPushButton* button) {
        button->click();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < HangMs) {
            if (Eval(QStringLiteral("document.querySelectorAll('.system').length")).toInt() > 0) return true;
            Idle(100);
        }
        return false;
    }
    // A click on the middle of a drawn measure, as the user would make it.
    void ClickMeasure(int measure) {
        Eval(QStringLiteral("(function () {"
                            "  for (const h of document.querySelectorAll('.system')) {"
                            "    for (const b of h.bars) {"
                            "      if (b[0] !== %1) continue;"
                            "      const r = h.getBoundingClientRect();"
                            "      h.dispatchEvent(new MouseEvent('click', { bubbles: true,"
                            "        clientX: r.left + b[1] + b[2] / 2, clientY: r.top + r.height / 2 }));"
                            "      return true;"
                            "    }"
                            "  }"
                            "  return false;"
                            "})()")
                 .arg(measure));
    }
    // The measure the cursor marks; -1 while there is none.
    int CursorMeasure() {
        return Eval(QStringLiteral("(function () { const c = document.getElementById('cursor');"
                                   " return c ? Number(c.dataset.measure) : -1; })()"))
            .toInt();
    }
    void ShowActive() {
        FForm->show();
        QApplication::setActiveWindow(FForm.get());
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
    }

private slots:
    void initTestCase() {
        FRun = std::make_unique<QTemporaryDir>();
        QVERIFY(FRun->isValid());
    }
    void cleanupTestCase() {
        Idle(300);
        FRun.reset();
    }
    void init() {
        FFiles = std::make_unique<QTemporaryDir>();
        const QString temp = FRun->filePath(QStringLiteral("temp-%1").arg(++FTestCount));
        QVERIFY(QDir().mkpath(temp));
        FTempScope = std::make_unique<korvalin::test::TTemporaryFolderScope>(temp);
        FForm = std::make_unique<TTestForm>();
        FForm->Options.AudioDriver = QStringLiteral("file");
        FForm->Options.AudioFileName = FFiles->filePath(QStringLiteral("render.wav"));
    }
    void cleanup() {
        FForm.reset();
        FTempScope.reset();
        FFiles.reset();
    }

    // --- Captions ---

    void everyCaptionShowsWholeAtTheDefaultSize_data() {
        QTest::addColumn<bool>("english");
        QTest::newRow("Russian") << false;
        QTest::newRow("English") << true;
    }

    // Each visible label against its own size hint (a label that may wrap:
    // the height its width needs); each button's caption against the room
    // its style gives the caption, which is its size hint before the style's
    // minimum width.
    void everyCaptionShowsWholeAtTheDefaultSize() {
        QFETCH(bool, english);
        if (FForm->size() != QSize(1280, 760)) QSKIP("the test screen is smaller than the window's design size");
        SetEnglish(english);
        FForm->OpenMidiFile(WriteMidi(QStringLiteral("waltz.mid"), Waltz(4)), QString());
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        int checked = 0;
        for (QLabel* label : FForm->findChildren<QLabel*>()) {
            if (!label->isVisible() || label->text().isEmpty() || label == FForm->lblStatus) continue;
            ++checked;
            if (label->wordWrap())
                QVERIFY2(label->heightForWidth(label->width()) <= label->height(), qPrintable(label->objectName()));
            else
                QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(QStringLiteral("%1: %2 > %3")
                                                                                     .arg(label->objectName())
                                                                                     .arg(label->sizeHint().width())
                                                                                     .arg(label->width())));
        }
        QVERIFY(checked >= 10);
        for (QPushButton* button : FForm->findChildren<QPushButton*>()) {
            if (!button->isVisible() || button->text().isEmpty()) continue;
            QStyleOptionButton option;
            option.initFrom(button);
            const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
            const int need = button->fontMetrics().horizontalAdvance(button->text()) + margin;
            QVERIFY2(
                need <= button->width(),
                qPrintable(QStringLiteral("%1: %2 > %3").arg(button->objectName()).arg(need).arg(button->width())));
        }
        // The track panel's captions keep the margin its controls keep.
        QVERIFY(FForm->lblGrid->geometry().right() <= FForm->cbGrid->geometry().right());
    }

    // --- The status line ---

    void aLanguageSwitchSaysTheStatusLineAgain() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi(QStringLiteral("waltz.mid"), Waltz(4)), QString());
        QVERIFY(f.lblStatus->text().startsWith(QStringLiteral("Формат 1 · PPQN 480")));
        SetEnglish(true);
        QVERIFY2(f.lblStatus->text().startsWith(QStringLiteral("Format 1 · PPQN 480 · time 3/4")),
                 qPrintable(f.lblStatus->text()));

        // The readable account of a saved score comes back in the other language.
        f.cbNotation->setCurrentIndex(1);
        f.SaveAnswer = FFiles->filePath(QStringLiteral("waltz.musicxml"));
        f.btnExport->click();
        QVERIFY2(f.lblStatus->text().contains(QStringLiteral("Readable: grid")), qPrintable(f.lblStatus->text()));
        SetEnglish(false);
        QVERIFY2(f.lblStatus->text().startsWith(QStringLiteral("Готово: ")), qPrintable(f.lblStatus->text()));
        QVERIFY2(f.lblStatus->text().contains(QStringLiteral("Для чтения: сетка")), qPrintable(f.lblStatus->text()));
        QVERIFY(f.lblStatus->text().contains(f.SaveAnswer));
        // The choice is remembered in the settings file: the next test starts as played.
        f.cbNotation->setCurrentIndex(0);
    }

    // --- The keyboard ---

    void eachShortcutDoesItsActionAndItsButtonNamesIt() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi(QStringLiteral("waltz.mid"), Waltz(4)), QString());
        ShowActive();
        f.Printing().SetScore("<score-partwise/>");
        f.UpdatePrintButtons();

        QTest::keyClick(&f, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(f.OpenDialogs, 1);
        QTest::keyClick(&f, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(f.SaveDialogs, 1);
        QTest::keyClick(&f, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(f.Printers, 1);
        QTest::keyClick(&f, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(f.Viewer().Zoom(), 1.1);
        QTest::keyClick(&f, Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(f.Viewer().Zoom(), 1.2);
        QTest::keyClick(&f, Qt::Key_Minus, Qt::ControlModifier);
        QVERIFY(qAbs(f.Viewer().Zoom() - 1.1) < 1e-9);
        QTest::keyClick(&f, Qt::Key_F11);
        QVERIFY(f.FViewerFullScreen);
        QTest::keyClick(&f, Qt::Key_F11);
        QVERIFY(!f.FViewerFullScreen);

        for (const auto& [button, keys] :
             {std::pair{f.btnOpen, "Ctrl+O"}, std::pair{f.btnPrint, "Ctrl+P"}, std::pair{f.btnExport, "Ctrl+S"},
              std::pair{f.btnFullScreen, "F11"}, std::pair{f.btnZoomIn, "Ctrl++"}, std::pair{f.btnZoomOut, "Ctrl+-"},
              std::pair{f.btnPause, "Пробел"}})
            QVERIFY2(button->toolTip().endsWith(QStringLiteral("(%1)").arg(QString::fromUtf8(keys))),
                     qPrintable(button->toolTip()));
        SetEnglish(true);
        QVERIFY(f.btnPause->toolTip().endsWith(QStringLiteral("(Space)")));
        QCOMPARE(f.btnOpen->toolTip(), QStringLiteral("Open a MIDI file (Ctrl+O)"));
    }

    // Space pauses only while something plays; otherwise it presses the
    // focused button as it always has.
    void spacePausesAndResumesAndStopEndsAPausedPlay() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi(QStringLiteral("waltz.mid"), Waltz(8)), QString());
        ShowActive();
        QVERIFY(!f.btnPause->isEnabled());
        f.btnSelectNone->setFocus();
        QTest::keyClick(f.btnSelectNone, Qt::Key_Space);
        QCOMPARE(f.lvTracks->topLevelItem(0)->checkState(0), Qt::Unchecked);

        f.btnPlayAll->click();
        QVERIFY(f.Playback().IsOpen());
        QVERIFY(f.btnPause->isEnabled());
        Idle(300);
        QTest::keyClick(&f, Qt::Key_Space);
        QVERIFY(f.Playback().Sequencer()->IsPaused());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Воспроизведение приостановлено."));
        QVERIFY(f.btnPause->toolTip().startsWith(QStringLiteral("Продолжить")));
        SetEnglish(true);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playback paused."));
        QTest::keyClick(&f, Qt::Key_Space);
        QVERIFY(!f.Playback().Sequencer()->IsPaused());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playing: entire MIDI file"));
        f.btnPause->click();
        QVERIFY(f.Playback().Sequencer()->IsPaused());
        f.btnStop->click();
        QVERIFY(!f.Playback().IsOpen());
        QVERIFY(!f.btnPause->isEnabled());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Playback stopped."));
    }

    // --- Where the play starts and where it is ---

    void aClickedMeasureStartsThePlayThereAndTheCursorFollowsIt() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi(QStringLiteral("waltz.mid"), Waltz(8)), QString());
        QVERIFY(ShowScore(f.btnPreview));
        QCOMPARE(f.Playback().ShownTimeline().Measures.size(), std::size_t{8});
        ClickMeasure(2);
        QTRY_COMPARE_WITH_TIMEOUT(f.Playback().StartMeasure(), std::size_t{2}, HangMs);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Следующее воспроизведение начнётся с такта 3."));

        f.btnPlayAll->click();
        QVERIFY(f.Playback().IsOpen());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Воспроизведение: весь MIDI-файл · с такта 3"));
        // The copy that plays starts with the third measure's notes, after the lead-in.
        korvalin::TMidiFile played;
        played.LoadFromFile(QFile::encodeName(f.FPreparedPlaybackFile).toStdString());
        const std::int64_t leadIn = korvalin::PlaybackLeadIn(480);
        QCOMPARE(played.Tracks()[1]->Notes().front().StartTick, leadIn);
        QCOMPARE(played.Tracks()[1]->Notes().front().Pitch, 72 + (6 * 5) % 12);
        QCOMPARE(played.Tracks()[2]->Notes().front().Pitch, 48 + (2 * 7) % 12);

        // The cursor starts at the clicked measure and moves on with the music.
        QTRY_VERIFY_WITH_TIMEOUT(CursorMeasure() >= 2, HangMs);
        QTRY_VERIFY_WITH_TIMEOUT(CursorMeasure() >= 3, HangMs);
        f.btnPause->click();
        const int paused = CursorMeasure();
        Idle(600);
        QCOMPARE(CursorMeasure(), paused);
        f.btnStop->click();
        QTRY_COMPARE_WITH_TIMEOUT(CursorMeasure(), -1, HangMs);
    }

    void theCursorFollowsThePlayInTheTransposedPreview() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi(QStringLiteral("waltz.mid"), Waltz(6)), QString());
        f.cbNewKey->setCurrentIndex(f.cbNewKey->findText(QStringLiteral("D major")));
        QVERIFY(ShowScore(f.btnPreviewTransposed));
        f.btnPlayTransposed->click();
        QVERIFY(f.Playback().IsOpen());
        QTRY_VERIFY_WITH_TIMEOUT(CursorMeasure() >= 1, HangMs);
        // A new score starts from its beginning again.
        QVERIFY(ShowScore(f.btnPreview));
        QCOMPARE(f.Playback().StartMeasure(), std::size_t{0});
        f.btnStop->click();
        QTRY_COMPARE_WITH_TIMEOUT(CursorMeasure(), -1, HangMs);
    }
};

KORVALIN_WINDOW_TEST_MAIN(TMainFormPlayTest)
#include "MainFormPlayTest.moc"
