// Window tests: a real TfrmMain on the offscreen platform, with its message
// boxes and file dialogs answered by a subclass instead of a modal window.

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QDialogButtonBox>
#include <QLibraryInfo>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <QWebEngineView>

#include <memory>
#include <stdexcept>

#include "MainForm.h"
#include "ScoreViewer.h"
#include "TrackList.h"
#include "StandInViewer.h"
#include "WindowTestSupport.h"
#include "MidiBuilder.h"

using korvalin::TClefMode;
using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

// The window's own behaviour and layout: the viewer is a stand-in, the web
// engine has tests of its own.
class TTestForm : public TfrmMain {
public:
    TTestForm() : TfrmMain(nullptr, TStandInViewer::Factory()) {}
    using TfrmMain::FDroppedMidiFile;
    using TfrmMain::FEnglish;
    using TfrmMain::FMidi;
    using TfrmMain::FPlaybackTempFile;
    using TfrmMain::FPreparedPlaybackFile;
    using TfrmMain::FPreviewFile;
    using TfrmMain::FSourceMidiFile;
    using TfrmMain::FTransposedTempFile;
    using TfrmMain::TMessageKind;

    struct TShown {
        TMessageKind Kind;
        QString Text;
    };
    QList<TShown> Shown;
    QStringList OpenAnswers;
    TFileDialog LastOpenDialog;
    int OpenDialogs = 0;
    bool FailOpenDialog = false;

    void PlaceView(QWidget* view) { PlaceViewerWidget(view); }

protected:
    void ShowMessage(TMessageKind kind, const QString& text) override { Shown.append({kind, text}); }
    bool AskQuestion(const QString&) override { return false; }
    QString AskOpenFileName(const TFileDialog& dialog) override {
        if (FailOpenDialog) throw std::runtime_error("the dialog broke");
        ++OpenDialogs;
        LastOpenDialog = dialog;
        return OpenAnswers.isEmpty() ? QString() : OpenAnswers.takeFirst();
    }
    QString AskSaveFileName(const TFileDialog&) override { return {}; }
};

// Conductor track (tempo, 3/4, optional key) and two parts.
Bytes ConductorAndTwoParts(bool withKey) {
    MidiBuilder midi(1, 480);
    auto& conductor = midi.Track().Tempo(0, 600000).TimeSig(0, 3, 2);
    if (withKey) conductor.KeySig(0, 2, true);
    conductor.End();
    midi.Track().Name("Flute").Note(0, 480, 0, 72).Note(0, 480, 0, 79).Note(0, 480, 0, 74).End();
    midi.Track().Name("Cello").Note(0, 960, 1, 40).Note(0, 960, 1, 55).End();
    return midi.Bytes();
}

Bytes ThreeParts() {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).End();
    midi.Track().Name("One").Note(0, 480, 0, 60).End();
    midi.Track().Name("Two").Note(0, 480, 1, 62).End();
    midi.Track().Name("Three").Note(0, 480, 2, 64).End();
    return midi.Bytes();
}

}  // namespace

class TMainFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FFiles;
    std::unique_ptr<QTemporaryDir> FTemp;
    std::unique_ptr<korvalin::test::TTemporaryFolderScope> FTempScope;
    std::unique_ptr<TTestForm> FForm;

    QString WriteFile(const QString& name, const QByteArray& bytes) {
        const QString path = FFiles->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(bytes);
        return path;
    }
    QString WriteMidi(const QString& name, const Bytes& bytes) {
        return WriteFile(name,
                         QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    }
    void SetEnglish(bool english) {
        (english ? FForm->rbEnglish : FForm->rbRussian)->click();
        QCOMPARE(FForm->FEnglish, english);
    }
    QTreeWidgetItem* Row(int i) const { return FForm->lvTracks->topLevelItem(i); }
    void Drop(const QStringList& files) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& file : files) urls << QUrl::fromLocalFile(file);
        mime.setUrls(urls);
        const QPointF at(600, 300);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FForm.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FForm.get(), &drop);
        QVERIFY(drop.isAccepted());
        QCoreApplication::processEvents();
    }

private slots:
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        FFiles = std::make_unique<QTemporaryDir>();
        FTemp = std::make_unique<QTemporaryDir>();
        FTempScope = std::make_unique<korvalin::test::TTemporaryFolderScope>(FTemp->path());
        FForm = std::make_unique<TTestForm>();
    }

    void cleanup() {
        FForm.reset();
        FTempScope.reset();
        FTemp.reset();
        FFiles.reset();
    }

    // --- Start-up ---

    void startUpState() {
        TTestForm& f = *FForm;
        QCOMPARE(f.objectName(), QStringLiteral("frmMain"));
        QCOMPARE(f.windowTitle(), QStringLiteral("Korvalin 0.5.0"));
        QVERIFY(f.rbRussian->isChecked());
        QVERIFY(!f.FEnglish);
        QVERIFY(f.acceptDrops());

        for (QWidget* usable : {static_cast<QWidget*>(f.btnOpen), static_cast<QWidget*>(f.rbRussian),
                                static_cast<QWidget*>(f.rbEnglish), static_cast<QWidget*>(f.lvTracks)})
            QVERIFY2(usable->isEnabled(), qPrintable(usable->objectName()));
        for (QWidget* off : {static_cast<QWidget*>(f.btnExport), static_cast<QWidget*>(f.btnPreview),
                             static_cast<QWidget*>(f.btnOpenExternal), static_cast<QWidget*>(f.btnPlayAll),
                             static_cast<QWidget*>(f.btnPlayTrack), static_cast<QWidget*>(f.btnStop),
                             static_cast<QWidget*>(f.pnlTrackSettings), static_cast<QWidget*>(f.pnlMidiSettings)})
            QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
        QVERIFY(f.btnShowViewer->isHidden());
        QVERIFY(f.btnPlayTrack->isHidden());

        QCOMPARE(f.lblTempo->text(), QStringLiteral("Темп: —"));
        QCOMPARE(f.lblKeySignature->text(), QStringLiteral("Тональность: —"));
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Откройте MIDI-файл, чтобы увидеть музыкальные дорожки."));
        QCOMPARE(f.btnOpen->text(), QStringLiteral("Открыть..."));
        QCOMPARE(f.btnRecent->text(), QStringLiteral("Недавние ▼"));
        QCOMPARE(f.lvTracks->headerItem()->text(0), QStringLiteral("#"));
        QCOMPARE(f.lvTracks->headerItem()->text(3), QStringLiteral("Диапазон"));
        QCOMPARE(f.btnFullScreen->text(), QStringLiteral("Во весь экран"));
        QCOMPARE(f.OpenDialog.Filter, QStringLiteral("MIDI-файлы (*.mid;*.midi)|*.mid;*.midi|Все файлы (*.*)|*.*"));
        QCOMPARE(f.SaveDialog.Filter, QStringLiteral("MusicXML (*.musicxml)|*.musicxml|XML (*.xml)|*.xml"));

        QCOMPARE(f.cbGrid->currentIndex(), 1);
        QCOMPARE(f.SelectedGrid(), 16);
        QCOMPARE(f.cbClef->count(), 3);
        QCOMPARE(f.cbClef->currentText(), QStringLiteral("Автоматически"));
        QCOMPARE(f.cbNewKey->count(), 0);
        QCOMPARE(f.edtNewTempo->text(), QStringLiteral("120"));
        QCOMPARE(f.lblZoom->text(), QStringLiteral("100%"));
        QCOMPARE(f.btnZoomOut->text(), QStringLiteral("\u2212"));
        QCOMPARE(f.Viewer().Zoom(), 1.0);
        QVERIFY(f.FSourceMidiFile.isEmpty());
        QVERIFY(f.FMidi != nullptr);
        QCOMPARE(f.FMidi->Tracks().size(), std::size_t{0});
    }

    void temporaryNamesCarryTheProcessId() {
        const QString folder = QFileInfo(FTemp->path()).canonicalFilePath();
        const QString pid = QString::number(QCoreApplication::applicationPid());
        QCOMPARE(FForm->FPreviewFile, folder + "/Korvalin-preview-" + pid + ".musicxml");
        QCOMPARE(FForm->FPlaybackTempFile, folder + "/Korvalin-track-" + pid + ".mid");
        QCOMPARE(FForm->FPreparedPlaybackFile, folder + "/Korvalin-playback-" + pid + ".mid");
        QCOMPARE(FForm->FTransposedTempFile, folder + "/Korvalin-transposed-" + pid + ".mid");
        QVERIFY(FForm->FDroppedMidiFile.isEmpty());
        // Named only: nothing is created on disk at start-up.
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 0);
    }

    // Nowhere private to put its files: the window opens all the same and
    // says why the preview is missing; nothing is written anywhere else.
    void withoutAPrivateFolderTheWindowOpensWithoutAPreview() {
        FForm.reset();
        qputenv("TMPDIR", "/nonexistent-korvalin-folder/tmp");
        qunsetenv("XDG_RUNTIME_DIR");
        FForm = std::make_unique<TTestForm>();
        TTestForm& f = *FForm;
        QVERIFY2(f.lblStatus->text().startsWith(QStringLiteral("Предпросмотр недоступен: Cannot create folder")),
                 qPrintable(f.lblStatus->text()));
        QVERIFY(f.FPreviewFile.isEmpty());
        QVERIFY(f.FPreparedPlaybackFile.isEmpty());
        f.OpenMidiFile(WriteMidi("duet.mid", ConductorAndTwoParts(true)), QString());
        f.btnPreview->click();
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QVERIFY2(f.Shown[0].Text.startsWith(QStringLiteral("Встроенный просмотрщик недоступен:\nCannot create folder")),
                 qPrintable(f.Shown[0].Text));
    }

    void windowIsCentredInTheWorkArea() {
        const QRect area = FForm->screen()->availableGeometry();
        const int width = std::min(1280, area.width());
        const int height = std::min(760, area.height());
        QCOMPARE(FForm->size(), QSize(width, height));
        QCOMPARE(FForm->minimumSize(), QSize(std::min(980, width), std::min(620, height)));
        QCOMPARE(FForm->pos(),
                 QPoint(area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 2));
    }

    void fitToWorkArea_data() {
        QTest::addColumn<QRect>("workArea");
        QTest::addColumn<QRect>("bounds");
        QTest::addColumn<QSize>("minimum");
        QTest::newRow("small screen lowers the minimum height only")
            << QRect(0, 0, 1024, 600) << QRect(0, 0, 1024, 600) << QSize(980, 600);
        QTest::newRow("tiny screen lowers both") << QRect(0, 0, 800, 500) << QRect(0, 0, 800, 500) << QSize(800, 500);
        QTest::newRow("large screen with a task bar on the left centres the design size")
            << QRect(100, 50, 1920, 1040) << QRect(420, 190, 1280, 760) << QSize(980, 620);
    }

    void fitToWorkArea() {
        QFETCH(QRect, workArea);
        QFETCH(QRect, bounds);
        QFETCH(QSize, minimum);
        if (FForm->size() != QSize(1280, 760)) QSKIP("the test screen is smaller than the window's design size");
        FForm->FitToWorkArea(workArea);
        QCOMPARE(QRect(FForm->pos(), FForm->size()), bounds);
        QCOMPARE(FForm->minimumSize(), minimum);
    }

    // Each control sits inside its panel and follows the window's width as
    // it was designed to: fixed, anchored to the right edge, or stretching.
    void layoutFollowsTheDesign_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<int>("moveWithWidth");  // 0 fixed, 1 anchored right, 2 stretches
        QTest::newRow("pnlTop") << "pnlTop"
                                << "frmMain" << 2;
        QTest::newRow("lblTempo") << "lblTempo"
                                  << "pnlTop" << 0;
        QTest::newRow("rbRussian") << "rbRussian"
                                   << "pnlTop" << 1;
        QTest::newRow("rbEnglish") << "rbEnglish"
                                   << "pnlTop" << 1;
        QTest::newRow("btnRecent") << "btnRecent"
                                   << "pnlTop" << 0;
        QTest::newRow("edtFileName") << "edtFileName"
                                     << "pnlTop" << 2;
        QTest::newRow("btnOpen") << "btnOpen"
                                 << "pnlTop" << 1;
        QTest::newRow("pnlLeft") << "pnlLeft"
                                 << "frmMain" << 0;
        QTest::newRow("pnlTrackSettings") << "pnlTrackSettings"
                                          << "pnlLeft" << 0;
        QTest::newRow("pnlMidiSettings") << "pnlMidiSettings"
                                         << "pnlLeft" << 0;
        QTest::newRow("lvTracks") << "lvTracks"
                                  << "pnlLeft" << 0;
        QTest::newRow("btnPreview") << "btnPreview"
                                    << "pnlTrackSettings" << 0;
        QTest::newRow("cbNotation") << "cbNotation"
                                    << "pnlTrackSettings" << 0;
        QTest::newRow("btnPlayTransposed") << "btnPlayTransposed"
                                           << "pnlTrackSettings" << 0;
        QTest::newRow("btnSaveMidi") << "btnSaveMidi"
                                     << "pnlMidiSettings" << 0;
        QTest::newRow("Splitter") << "Splitter"
                                  << "frmMain" << 0;
        QTest::newRow("pnlViewer") << "pnlViewer"
                                   << "frmMain" << 2;
        QTest::newRow("pnlViewerTools") << "pnlViewerTools"
                                        << "pnlViewer" << 2;
        QTest::newRow("btnZoomOut") << "btnZoomOut"
                                    << "pnlViewerTools" << 1;
        QTest::newRow("btnCollapseViewer") << "btnCollapseViewer"
                                           << "pnlViewerTools" << 1;
        QTest::newRow("pnlStatus") << "pnlStatus"
                                   << "frmMain" << 2;
    }

    void layoutFollowsTheDesign() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(int, moveWithWidth);
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        auto* control = FForm->findChild<QWidget*>(name);
        QVERIFY(control != nullptr);
        QWidget* panel = control->parentWidget();
        QCOMPARE(panel->objectName(), parent);
        QVERIFY(!control->geometry().isEmpty());
        QVERIFY(panel->rect().contains(control->geometry()));
        const QRect before = control->geometry();
        const int panelWidth = panel->width();

        const int narrower = FForm->width() - 180;
        FForm->resize(narrower, FForm->height() - 60);
        QTRY_COMPARE(FForm->pnlTop->width(), narrower);
        const int shrink = panelWidth - panel->width();
        QRect expected = before;
        if (moveWithWidth == 1) expected.translate(-shrink, 0);
        if (moveWithWidth == 2) expected.setWidth(expected.width() - shrink);
        QCOMPARE(control->geometry().x(), expected.x());
        QCOMPARE(control->geometry().width(), expected.width());
        QVERIFY(panel->rect().contains(control->geometry()));
    }

    // The panels tile the window: the top band over the track panel, the
    // splitter and the viewer side by side, the status line at the bottom.
    void thePanelsTileTheWindow() {
        TTestForm& f = *FForm;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        for (const QSize size : {f.size(), QSize(f.width() - 180, f.height() - 60)}) {
            f.resize(size);
            QTRY_COMPARE(f.pnlStatus->geometry().bottom(), f.height() - 1);
            const QRect top = f.pnlTop->geometry(), left = f.pnlLeft->geometry(), split = f.Splitter->geometry(),
                        viewer = f.pnlViewer->geometry(), status = f.pnlStatus->geometry();
            QCOMPARE(top.topLeft(), QPoint(0, 0));
            QCOMPARE(top.width(), f.width());
            QCOMPARE(status.width(), f.width());
            for (const QRect& middle : {left, split, viewer}) {
                QCOMPARE(middle.top(), top.bottom() + 1);
                QCOMPARE(middle.bottom() + 1, status.top());
            }
            QCOMPARE(left.left(), 0);
            QCOMPARE(split.left(), left.right() + 1);
            QCOMPARE(viewer.left(), split.right() + 1);
            QCOMPARE(viewer.right(), f.width() - 1);
        }
    }

    // Within the track panel the list, the settings and the new-key panel
    // stand one below the other, and the buttons of a band do not overlap.
    void theTrackPanelStacksWithoutOverlap() {
        TTestForm& f = *FForm;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        QCOMPARE(f.lvTracks->geometry().top(), 0);
        QCOMPARE(f.pnlTrackSettings->geometry().top(), f.lvTracks->geometry().bottom() + 1);
        QCOMPARE(f.pnlMidiSettings->geometry().top(), f.pnlTrackSettings->geometry().bottom() + 1);
        QCOMPARE(f.pnlMidiSettings->geometry().bottom(), f.pnlLeft->height() - 1);
        for (QWidget* panel : {static_cast<QWidget*>(f.pnlTop), static_cast<QWidget*>(f.pnlTrackSettings),
                               static_cast<QWidget*>(f.pnlMidiSettings), static_cast<QWidget*>(f.pnlViewerTools)}) {
            QList<QWidget*> shown;
            for (QWidget* child : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (child->isVisible()) shown << child;
            for (qsizetype i = 0; i < shown.size(); ++i)
                for (qsizetype j = i + 1; j < shown.size(); ++j)
                    QVERIFY2(
                        !shown[i]->geometry().intersects(shown[j]->geometry()),
                        qPrintable(shown[i]->objectName() + QStringLiteral(" overlaps ") + shown[j]->objectName()));
        }
        QVERIFY(f.btnZoomOut->geometry().right() < f.btnCollapseViewer->geometry().left());
        QVERIFY(f.btnRecent->geometry().right() < f.edtFileName->geometry().left());
        QVERIFY(f.edtFileName->geometry().right() < f.btnOpen->geometry().left());
    }

    void aViewerWidgetFillsThePanelBelowTheToolBand() {
        // The window places its own score view there at start-up.
        QWidget* view = FForm->findChild<TStandInViewer*>()->View();
        QVERIFY(view != nullptr);
        QCOMPARE(view->objectName(), QStringLiteral("EdgeBrowser"));
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        QCOMPARE(view->parentWidget(), static_cast<QWidget*>(FForm->pnlViewer));
        const auto fillsBelowTheBand = [this, view] {
            const QRect band = FForm->pnlViewerTools->geometry();
            return view->geometry() == QRect(0, band.bottom() + 1, FForm->pnlViewer->width(),
                                             FForm->pnlViewer->height() - band.bottom() - 1);
        };
        QTRY_VERIFY(fillsBelowTheBand());
        FForm->resize(FForm->width() - 180, FForm->height() - 60);
        QTRY_VERIFY(fillsBelowTheBand());
    }

    // --- Opening a file ---

    void openFormatOneFile_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("tempo");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("clef");
        QTest::newRow("Russian") << false
                                 << QStringLiteral(
                                        "Формат 1 · PPQN 480 · размер 3/4 · партий: 2 · служебных дорожек: 1")
                                 << QStringLiteral("Темп: 100.0 BPM")
                                 << QStringLiteral("Тональность: B minor (из файла)")
                                 << QStringLiteral("Автоматически");
        QTest::newRow("English") << true
                                 << QStringLiteral("Format 1 · PPQN 480 · time 3/4 · parts: 2 · service tracks: 1")
                                 << QStringLiteral("Tempo: 100.0 BPM") << QStringLiteral("Key: B minor (from file)")
                                 << QStringLiteral("Automatic");
    }

    void openFormatOneFile() {
        QFETCH(bool, english);
        QFETCH(QString, status);
        QFETCH(QString, tempo);
        QFETCH(QString, key);
        QFETCH(QString, clef);
        TTestForm& f = *FForm;
        SetEnglish(english);
        const QString path = WriteMidi("duet.mid", ConductorAndTwoParts(true));
        f.OpenAnswers << path;
        f.btnOpen->click();

        QCOMPARE(f.OpenDialogs, 1);
        QCOMPARE(f.LastOpenDialog.DefaultExt, QStringLiteral("mid"));
        QVERIFY(f.LastOpenDialog.FileMustExist);
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(f.FSourceMidiFile, path);
        QCOMPARE(f.edtFileName->text(), path);
        QCOMPARE(f.lvTracks->topLevelItemCount(), 2);
        const QStringList first{"2", "Flute", "3", "C5 – G5", clef};
        const QStringList second{"3", "Cello", "2", "E2 – G3", clef};
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(Row(0)->text(column), first[column]);
            QCOMPARE(Row(1)->text(column), second[column]);
        }
        QCOMPARE(Row(0)->checkState(0), Qt::Checked);
        QCOMPARE(Row(1)->checkState(0), Qt::Checked);
        QCOMPARE(f.Tracks().SelectedRow(), Row(0));
        QCOMPARE(f.lvTracks->currentItem(), Row(0));
        QCOMPARE(f.lblStatus->text(), status);
        QCOMPARE(f.lblTempo->text(), tempo);
        QCOMPARE(f.lblKeySignature->text(), key);

        QVERIFY(f.pnlTrackSettings->isEnabled());
        QCOMPARE(f.edtPartName->text(), QStringLiteral("Flute"));
        QCOMPARE(f.cbClef->currentIndex(), 0);
        QVERIFY(f.pnlMidiSettings->isEnabled());
        QCOMPARE(f.cbNewKey->count(), 15);
        QCOMPARE(f.cbNewKey->itemText(0), QStringLiteral("Ab minor"));
        QCOMPARE(f.cbNewKey->currentText(), QStringLiteral("B minor"));
        QCOMPARE(f.edtNewTempo->text(), QStringLiteral("100"));
    }

    void openingRegionalDecimalSeparator() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        FForm->OpenMidiFile(WriteMidi("duet.mid", ConductorAndTwoParts(true)), QString());
        QCOMPARE(FForm->lblTempo->text(), QStringLiteral("Темп: 100,0 BPM"));
    }

    void openFileWithoutNotes() {
        TTestForm& f = *FForm;
        SetEnglish(true);
        MidiBuilder midi(1, 96);
        midi.Track().Tempo(0, 500000).End();
        midi.Track().Name("Empty").Text(0, 0x01, "nothing here").End();
        f.OpenMidiFile(WriteMidi("silent.mid", midi.Bytes()), QString());
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(f.lvTracks->topLevelItemCount(), 0);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Format 1 · PPQN 96 · time 4/4 · parts: 0 · service tracks: 2"));
        QCOMPARE(f.lblKeySignature->text(), QStringLiteral("Key: not detected"));
        QVERIFY(!f.btnPreview->isEnabled());
        QVERIFY(!f.btnExport->isEnabled());
        QVERIFY(!f.pnlTrackSettings->isEnabled());
        QVERIFY(!f.pnlMidiSettings->isEnabled());
        QCOMPARE(f.cbNewKey->currentIndex(), -1);
        QVERIFY(f.edtPartName->text().isEmpty());
    }

    void openFileWithEstimatedKey() {
        TTestForm& f = *FForm;
        SetEnglish(true);
        MidiBuilder midi(0, 480);
        auto& track = midi.Track();
        for (const int pitch : {57, 59, 60, 62, 64, 65, 68, 69, 64, 57}) track.Note(0, 480, 0, pitch);
        track.End();
        f.OpenMidiFile(WriteMidi("tune.mid", midi.Bytes()), QString());
        QVERIFY(f.FMidi->KeyWasEstimated);
        const QString name = QString::fromStdString(f.FMidi->KeyName());
        QCOMPARE(f.lblKeySignature->text(), "Key: " + name + " (estimated from notes)");
        QCOMPARE(f.lblTempo->text(), QStringLiteral("Tempo: not specified"));
        QVERIFY(f.pnlMidiSettings->isEnabled());
        QCOMPARE(f.cbNewKey->currentText(), name);
        QCOMPARE(f.cbNewKey->currentIndex(), f.FMidi->KeyFifths + 7);
        QCOMPARE(f.edtNewTempo->text(), QStringLiteral("120"));
        QCOMPARE(f.lvTracks->topLevelItemCount(), 1);
        QCOMPARE(Row(0)->text(0), QStringLiteral("1"));
    }

    void refusedFileAfterAGoodOne_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("lead");
        QTest::addColumn<QString>("tempo");
        QTest::addColumn<QString>("key");
        QTest::newRow("Russian") << false << QStringLiteral("Не удалось прочитать файл.")
                                 << QStringLiteral("Ошибка открытия MIDI:") << QStringLiteral("Темп: —")
                                 << QStringLiteral("Тональность: —");
        QTest::newRow("English") << true << QStringLiteral("Could not read the file.")
                                 << QStringLiteral("Error opening MIDI:") << QStringLiteral("Tempo: —")
                                 << QStringLiteral("Key: —");
    }

    void refusedFileAfterAGoodOne() {
        QFETCH(bool, english);
        QFETCH(QString, status);
        QFETCH(QString, lead);
        QFETCH(QString, tempo);
        QFETCH(QString, key);
        TTestForm& f = *FForm;
        SetEnglish(english);
        const QString good = WriteMidi("good.mid", ConductorAndTwoParts(true));
        f.OpenMidiFile(good, QString());
        QCOMPARE(f.lvTracks->topLevelItemCount(), 2);

        const QString bad = WriteFile("bad.mid", QByteArray("this is certainly not a MIDI file"));
        f.OpenMidiFile(bad, QString());
        QCOMPARE(f.edtFileName->text(), good);
        QCOMPARE(f.lvTracks->topLevelItemCount(), 0);
        QVERIFY(f.FSourceMidiFile.isEmpty());
        QCOMPARE(f.lblTempo->text(), tempo);
        QCOMPARE(f.lblKeySignature->text(), key);
        QCOMPARE(f.lblStatus->text(), status);
        QVERIFY(!f.btnPreview->isEnabled());
        QVERIFY(!f.btnExport->isEnabled());
        QVERIFY(!f.pnlMidiSettings->isEnabled());
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QCOMPARE(f.Shown[0].Text, lead + "\nMThd header was not found");
    }

    void missingFileIsReportedWithTheSystemReason() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(FFiles->filePath("gone.mid"), QString());
        QCOMPARE(f.Shown.size(), 1);
        QVERIFY(f.Shown[0].Text.startsWith(QStringLiteral("Ошибка открытия MIDI:\n")));
        QVERIFY(f.Shown[0].Text.size() > QStringLiteral("Ошибка открытия MIDI:\n").size());
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Не удалось прочитать файл."));
    }

    void aDisplayNameIsShownInsteadOfThePath() {
        TTestForm& f = *FForm;
        const QString copy = WriteMidi("Korvalin-drop-1.mid", ConductorAndTwoParts(true));
        f.OpenMidiFile(copy, QStringLiteral("Fugue.MID"));
        QCOMPARE(f.edtFileName->text(), QStringLiteral("Fugue.MID"));
        QCOMPARE(f.FSourceMidiFile, copy);
    }

    void majorFileOffersMajorKeys() {
        TTestForm& f = *FForm;
        MidiBuilder midi(0, 480);
        midi.Track().KeySig(0, -3, false).Tempo(0, 628272).Note(0, 480, 0, 63).End();
        f.OpenMidiFile(WriteMidi("eb.mid", midi.Bytes()), QString());
        QCOMPARE(f.cbNewKey->count(), 15);
        QCOMPARE(f.cbNewKey->itemText(0), QStringLiteral("Cb major"));
        QCOMPARE(f.cbNewKey->itemText(14), QStringLiteral("C# major"));
        QCOMPARE(f.cbNewKey->currentText(), QStringLiteral("Eb major"));
        QCOMPARE(f.edtNewTempo->text(), QStringLiteral("96"));
        QCOMPARE(f.lblTempo->text(), QStringLiteral("Темп: 95.5 BPM"));
    }

    void enterPressesTheFocusedButton() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("three.mid", ThreeParts()), QString());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.btnSelectNone->setFocus();
        QTest::keyClick(f.btnSelectNone, Qt::Key_Return);
        QVERIFY(f.Tracks().TickedTracks().empty());
        // In an edit box Enter goes to the default button, Show score, which
        // finds no ticked track; the edit and the tracks stay as they were.
        f.edtPartName->setFocus();
        QTest::keyClick(f.edtPartName, Qt::Key_Return);
        QCOMPARE(f.edtPartName->text(), QStringLiteral("One"));
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Отметьте хотя бы одну музыкальную дорожку."));
    }

    void aFailingCommandReportsInsteadOfLeavingTheHandler() {
        FForm->FailOpenDialog = true;
        FForm->btnOpen->click();
        QCOMPARE(FForm->Shown.size(), 1);
        QCOMPARE(FForm->Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QCOMPARE(FForm->Shown[0].Text, QStringLiteral("the dialog broke"));
    }

    void cancelledOpenDialogChangesNothing() {
        FForm->btnOpen->click();
        QCOMPARE(FForm->OpenDialogs, 1);
        QVERIFY(FForm->Shown.isEmpty());
        QCOMPARE(FForm->lblStatus->text(), QStringLiteral("Откройте MIDI-файл, чтобы увидеть музыкальные дорожки."));
    }

    // --- Language ---

    void switchingLanguageWithoutAFile() {
        TTestForm& f = *FForm;
        SetEnglish(true);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Open a MIDI file to see its musical tracks."));
        QCOMPARE(f.lblTempo->text(), QStringLiteral("Tempo: —"));
        QCOMPARE(f.lblKeySignature->text(), QStringLiteral("Key: —"));
        QCOMPARE(f.btnOpen->text(), QStringLiteral("Open..."));
        QCOMPARE(f.btnPlayAll->text(), QStringLiteral("▶ Original MIDI"));
        QCOMPARE(f.lvTracks->headerItem()->text(2), QStringLiteral("Notes"));
        QCOMPARE(f.OpenDialog.Filter, QStringLiteral("MIDI files (*.mid;*.midi)|*.mid;*.midi|All files (*.*)|*.*"));
        QCOMPARE(f.MidiSaveDialog.Filter, QStringLiteral("MIDI files (*.mid)|*.mid|All files (*.*)|*.*"));
        QCOMPARE(f.rbRussian->text(), QStringLiteral("Русский"));
        QCOMPARE(f.windowTitle(), QStringLiteral("Korvalin 0.5.0"));
        QCOMPARE(f.cbGrid->itemText(1), QStringLiteral("1/16"));

        SetEnglish(false);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Откройте MIDI-файл, чтобы увидеть музыкальные дорожки."));
        QCOMPARE(f.btnOpen->text(), QStringLiteral("Открыть..."));
    }

    void qtsOwnDialogsSpeakTheInterfaceLanguage() {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ru.qm")))
            QSKIP("Qt's Russian translations are not installed (Debian: qt6-translations-l10n)");
        const auto standardTexts = [] {
            QDialogButtonBox buttons(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
            QFileDialog dialog;
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            const auto* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
            return QStringList{buttons.button(QDialogButtonBox::Cancel)->text(),
                               buttons.button(QDialogButtonBox::Open)->text(), lookIn ? lookIn->text() : QString()};
        };
        const QStringList russian = standardTexts();
        QCOMPARE(russian.value(0), QStringLiteral("Отмена"));
        SetEnglish(true);
        const QStringList english = standardTexts();
        QCOMPARE(english.value(0), QStringLiteral("Cancel"));
        for (qsizetype i = 0; i < english.size(); ++i) QVERIFY2(russian[i] != english[i], qPrintable(english[i]));
        SetEnglish(false);
        QCOMPARE(standardTexts(), russian);
    }

    void switchingLanguageWithAFileKeepsTheClefAndRewritesTheStatus() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("duet.mid", ConductorAndTwoParts(false)), QString());
        f.cbClef->setCurrentIndex(2);
        f.lblStatus->setText(QStringLiteral("something else"));

        SetEnglish(true);
        QCOMPARE(f.cbClef->currentIndex(), 2);
        QCOMPARE(f.cbClef->currentText(), QStringLiteral("Bass"));
        QCOMPARE(f.cbClef->itemText(0), QStringLiteral("Automatic"));
        QCOMPARE(f.FMidi->Tracks()[1]->ClefMode, TClefMode::cmBass);
        QCOMPARE(Row(0)->text(4), QStringLiteral("Bass"));
        QCOMPARE(Row(1)->text(4), QStringLiteral("Automatic"));
        QCOMPARE(f.lblStatus->text(), QStringLiteral("MIDI file loaded."));
        QCOMPARE(f.lblTempo->text(), QStringLiteral("Tempo: 100.0 BPM"));
        QVERIFY(f.lblKeySignature->text().startsWith(QStringLiteral("Key: ")));
        QVERIFY(f.lblKeySignature->text().endsWith(QStringLiteral(" (estimated from notes)")));
        QVERIFY(!f.Tracks().Editing());

        SetEnglish(false);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("MIDI-файл загружен."));
        QCOMPARE(Row(0)->text(4), QStringLiteral("Басовый"));
    }

    void clefDisplayNames_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("name");
        QTest::newRow("auto ru") << 0 << false << QStringLiteral("Автоматически");
        QTest::newRow("treble ru") << 1 << false << QStringLiteral("Скрипичный");
        QTest::newRow("bass ru") << 2 << false << QStringLiteral("Басовый");
        QTest::newRow("auto en") << 0 << true << QStringLiteral("Automatic");
        QTest::newRow("treble en") << 1 << true << QStringLiteral("Treble");
        QTest::newRow("bass en") << 2 << true << QStringLiteral("Bass");
        QTest::newRow("unknown value en") << 7 << true << QStringLiteral("Automatic");
    }

    void clefDisplayNames() {
        QFETCH(int, mode);
        QFETCH(bool, english);
        QFETCH(QString, name);
        QCOMPARE(TTrackList::ClefDisplayName(static_cast<TClefMode>(mode), english), name);
    }

    // --- Track settings ---

    void typingANameUpdatesTheRowOnEveryKeystroke() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("duet.mid", ConductorAndTwoParts(true)), QString());
        f.edtPartName->clear();
        QCOMPARE(Row(0)->text(1), QString());
        QCOMPARE(f.FMidi->Tracks()[1]->ExportName, std::string());
        QString typed;
        for (const QChar c : QStringLiteral("Соло 1 ")) {
            // A typed key as the keyboard delivers it, Cyrillic included.
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(f.edtPartName, &press);
            typed += c;
            QCOMPARE(Row(0)->text(1), typed);
        }
        QCOMPARE(QString::fromStdString(f.FMidi->Tracks()[1]->ExportName), typed);
        QCOMPARE(f.FMidi->Tracks()[1]->Name, std::string("Flute"));

        // Showing another row's settings writes nothing back.
        f.lvTracks->setCurrentItem(Row(1));
        QCOMPARE(f.edtPartName->text(), QStringLiteral("Cello"));
        QCOMPARE(Row(0)->text(1), typed);
        f.lvTracks->setCurrentItem(Row(0));
        QCOMPARE(f.edtPartName->text(), typed);
        QCOMPARE(QString::fromStdString(f.FMidi->Tracks()[2]->ExportName), QStringLiteral("Cello"));
    }

    void controlCharactersInNamesAreNotShown() {
        TTestForm& f = *FForm;
        MidiBuilder midi(1, 480);
        midi.Track().Tempo(0, 500000).End();
        midi.Track().Name(std::string("Piccolo\0", 8)).Note(0, 480, 0, 84).End();
        midi.Track().Name("Oboe\r\x01 1\x7f").Note(0, 480, 1, 72).End();
        f.OpenMidiFile(WriteMidi("names.mid", midi.Bytes()), QString());
        QCOMPARE(Row(0)->text(1), QStringLiteral("Piccolo"));
        QCOMPARE(Row(1)->text(1), QStringLiteral("Oboe 1"));
        QCOMPARE(f.edtPartName->text(), QStringLiteral("Piccolo"));
        // The model keeps what the file says until the user renames the part.
        QCOMPARE(f.FMidi->Tracks()[1]->Name, std::string("Piccolo\0", 8));
        QCOMPARE(f.FMidi->Tracks()[1]->ExportName, std::string("Piccolo\0", 8));
        f.lvTracks->setCurrentItem(Row(1));
        QCOMPARE(f.edtPartName->text(), QStringLiteral("Oboe 1"));
        QCOMPARE(f.FMidi->Tracks()[2]->ExportName, std::string("Oboe\r\x01 1\x7f"));
        f.edtPartName->setText(QStringLiteral("Oboe 2"));
        QCOMPARE(f.FMidi->Tracks()[2]->ExportName, std::string("Oboe 2"));
        QCOMPARE(Row(1)->text(1), QStringLiteral("Oboe 2"));
    }

    void choosingAClefChangesTheTrackAndItsRow() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("duet.mid", ConductorAndTwoParts(true)), QString());
        f.lvTracks->setCurrentItem(Row(1));
        f.cbClef->setCurrentIndex(1);
        QCOMPARE(f.FMidi->Tracks()[2]->ClefMode, TClefMode::cmTreble);
        QCOMPARE(Row(1)->text(4), QStringLiteral("Скрипичный"));
        QCOMPARE(f.FMidi->Tracks()[1]->ClefMode, TClefMode::cmAuto);
        f.lvTracks->setCurrentItem(Row(0));
        QCOMPARE(f.cbClef->currentIndex(), 0);
        f.lvTracks->setCurrentItem(Row(1));
        QCOMPARE(f.cbClef->currentIndex(), 1);
    }

    void editsWithoutASelectedRowChangeNoTrack() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("duet.mid", ConductorAndTwoParts(true)), QString());
        f.lvTracks->clearSelection();
        QVERIFY(f.pnlTrackSettings->isEnabled());
        f.edtPartName->setText(QStringLiteral("nobody"));
        f.cbClef->setCurrentIndex(2);
        QCOMPARE(Row(0)->text(1), QStringLiteral("Flute"));
        QCOMPARE(f.FMidi->Tracks()[1]->ClefMode, TClefMode::cmAuto);
        QCOMPARE(f.FMidi->Tracks()[2]->ClefMode, TClefMode::cmAuto);
    }

    void selectAllAndNoneKeepTheSelection() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("three.mid", ThreeParts()), QString());
        f.lvTracks->setCurrentItem(Row(1));
        Row(0)->setCheckState(0, Qt::Unchecked);

        QTest::mouseClick(f.btnSelectNone, Qt::LeftButton);
        QVERIFY(f.Tracks().TickedTracks().empty());
        QCOMPARE(f.Tracks().SelectedRow(), Row(1));
        QCOMPARE(f.edtPartName->text(), QStringLiteral("Two"));

        QTest::mouseClick(f.btnSelectAll, Qt::LeftButton);
        QCOMPARE(f.Tracks().TickedTracks().size(), std::size_t{3});
        QCOMPARE(f.Tracks().SelectedRow(), Row(1));
        QVERIFY(f.pnlTrackSettings->isEnabled());
    }

    void tickedTracksFollowTheListOrder() {
        TTestForm& f = *FForm;
        f.OpenMidiFile(WriteMidi("three.mid", ThreeParts()), QString());
        Row(1)->setCheckState(0, Qt::Unchecked);
        const auto ticked = f.Tracks().TickedTracks();
        QCOMPARE(ticked.size(), std::size_t{2});
        QCOMPARE(ticked[0], static_cast<const korvalin::TMidiTrack*>(f.FMidi->Tracks()[1].get()));
        QCOMPARE(ticked[1], static_cast<const korvalin::TMidiTrack*>(f.FMidi->Tracks()[3].get()));
    }

    void selectedGrid_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("grid");
        QTest::newRow("1/8") << 0 << 8;
        QTest::newRow("1/16") << 1 << 16;
        QTest::newRow("1/32") << 2 << 32;
        QTest::newRow("none chosen") << -1 << 16;
    }

    void selectedGrid() {
        QFETCH(int, index);
        QFETCH(int, grid);
        FForm->cbGrid->setCurrentIndex(index);
        QCOMPARE(FForm->SelectedGrid(), grid);
    }

    // --- Files on the command line ---

    void commandLineOpensTheFirstFileAndSaysTheOthersWereIgnored_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("status");
        QTest::newRow("Russian") << false
                                 << QStringLiteral(
                                        "Формат 1 · PPQN 480 · размер 3/4 · партий: 2 · служебных дорожек: 1"
                                        " · остальные файлы пропущены: 2");
        QTest::newRow("English") << true
                                 << QStringLiteral(
                                        "Format 1 · PPQN 480 · time 3/4 · parts: 2 · service tracks: 1"
                                        " · other files ignored: 2");
    }

    void commandLineOpensTheFirstFileAndSaysTheOthersWereIgnored() {
        QFETCH(bool, english);
        QFETCH(QString, status);
        TTestForm& f = *FForm;
        SetEnglish(english);
        const QString first = WriteMidi("first.mid", ConductorAndTwoParts(true));
        const QString second = WriteMidi("second.mid", ThreeParts());
        // A shell passes names relative to where the program started; the window keeps the full path.
        const QString started = QDir::currentPath();
        QDir::setCurrent(FFiles->path());
        f.OpenCommandLineFiles({QStringLiteral("first.mid"), second, QStringLiteral("missing.mid")});
        QDir::setCurrent(started);
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(f.FSourceMidiFile, first);
        QCOMPARE(f.edtFileName->text(), first);
        QCOMPARE(f.lvTracks->topLevelItemCount(), 2);
        QCOMPARE(f.lblStatus->text(), status);
    }

    void aCommandLineFileThatCannotBeLoadedShowsTheErrorBox() {
        TTestForm& f = *FForm;
        f.OpenCommandLineFiles({WriteFile("bad.mid", QByteArray("this is certainly not a MIDI file"))});
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkError);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Ошибка открытия MIDI:\nMThd header was not found"));
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Не удалось прочитать файл."));
        QVERIFY(f.FSourceMidiFile.isEmpty());
    }

    // --- Drops ---

    void dropOpensTheFirstMidiFileOnly() {
        TTestForm& f = *FForm;
        const QString text = WriteFile("notes.txt", QByteArray("hello"));
        const QString second = WriteMidi("SECOND.MID", ConductorAndTwoParts(true));
        const QString third = WriteMidi("third.mid", ThreeParts());
        Drop({text, second, third});
        QVERIFY(f.Shown.isEmpty());
        QCOMPARE(f.FSourceMidiFile, second);
        QCOMPARE(f.edtFileName->text(), second);
        QCOMPARE(f.lvTracks->topLevelItemCount(), 2);
    }

    void droppingATextFileAloneExplains() {
        TTestForm& f = *FForm;
        Drop({WriteFile("notes.txt", QByteArray("hello"))});
        QCOMPARE(f.Shown.size(), 1);
        QCOMPARE(f.Shown[0].Kind, TTestForm::TMessageKind::mkInformation);
        QCOMPARE(f.Shown[0].Text, QStringLiteral("Перетащите MIDI-файл с расширением .mid или .midi."));
        QVERIFY(f.FSourceMidiFile.isEmpty());

        SetEnglish(true);
        f.WMDropFiles({FFiles->filePath("notes.txt")});
        QCOMPARE(f.Shown.last().Text, QStringLiteral("Drag a MIDI file with the .mid or .midi extension."));
    }

    void dragWithoutFilesIsRefused() {
        QMimeData mime;
        mime.setText(QStringLiteral("just text"));
        QDragEnterEvent enter(QPoint(600, 300), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FForm.get(), &enter);
        QVERIFY(!enter.isAccepted());
    }

    // --- Shutdown ---

    void shutdownDeletesTheTemporaryFilesThatExist() {
        TTestForm& f = *FForm;
        f.FDroppedMidiFile = QDir(QFileInfo(FTemp->path()).canonicalFilePath()).filePath("Korvalin-drop-1.mid");
        const QStringList written{f.FPlaybackTempFile, f.FPreparedPlaybackFile, f.FDroppedMidiFile};
        for (const QString& path : written) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        // The preview name is taken by something that cannot be deleted as a
        // file; the transposed file was never written.
        QVERIFY(QDir().mkpath(f.FPreviewFile));
        QFile blocker(f.FPreviewFile + "/inside");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString preview = f.FPreviewFile;

        FForm.reset();
        for (const QString& path : written) QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
        QVERIFY(QFileInfo(preview).isDir());
        QCOMPARE(QDir(QFileInfo(preview).path()).entryList(QDir::Files).size(), 0);
    }
};

KORVALIN_WINDOW_TEST_MAIN(TMainFormTest)
#include "MainFormTest.moc"
