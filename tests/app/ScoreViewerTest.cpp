// The score viewer and its zoom without a window, over a stand-in viewer.

#include <QLabel>
#include <QTest>

#include <memory>

#include "ScoreViewer.h"
#include "StandInViewer.h"
#include "WindowTestSupport.h"

class TScoreViewerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QLabel> FZoomLabel;
    std::unique_ptr<TScoreViewer> FViewer;

    TStandInViewer* StandIn() const { return qobject_cast<TStandInViewer*>(FViewer->Port()); }
    TStandInViewer* CreateAndStart() {
        FViewer->Create(QStringLiteral("/nowhere"), {});
        StandIn()->Start();
        return StandIn();
    }

private slots:
    void init() {
        FZoomLabel = std::make_unique<QLabel>();
        FViewer = std::make_unique<TScoreViewer>(TStandInViewer::Factory(), FZoomLabel.get(), nullptr);
    }
    void cleanup() {
        FViewer.reset();
        FZoomLabel.reset();
    }

    void withoutAViewerEveryCallIsSafe() {
        QVERIFY(FViewer->Port() == nullptr);
        QVERIFY(!FViewer->IsReady());
        QCOMPARE(FViewer->ErrorText(QStringLiteral("no folder")), QStringLiteral("no folder"));
        QVERIFY(!FViewer->ShowScore(QStringLiteral("/a.musicxml")));
        FViewer->ClearScore();
        FViewer->SetLanguage(true);
        FViewer->ShowPlaybackCursor(1, 0.5);
        FViewer->ZoomIn();
        QCOMPARE(FZoomLabel->text(), QStringLiteral("110%"));
        QVERIFY(FViewer->EngineView() == nullptr);
        QVERIFY(FViewer->WebViewHost() == nullptr);
    }

    void theZoomStaysInItsRangeAndReachesOnlyAReadyPage() {
        FViewer->Create(QStringLiteral("/nowhere"), {});
        FViewer->ZoomIn();
        QVERIFY(StandIn()->Scripts.isEmpty());  // the page is not ready yet
        StandIn()->Start();
        FViewer->ZoomIn();
        QCOMPARE(FViewer->Zoom(), 1.2);
        QCOMPARE(StandIn()->Scripts.last(), QStringLiteral("window.setScoreZoom(1.200);"));
        for (int i = 0; i < 30; ++i) FViewer->ZoomIn();
        QCOMPARE(FViewer->Zoom(), TScoreViewer::kMaxZoom);
        QCOMPARE(FZoomLabel->text(), QStringLiteral("250%"));
        for (int i = 0; i < 30; ++i) FViewer->ZoomOut();
        QCOMPARE(FViewer->Zoom(), TScoreViewer::kMinZoom);
        QCOMPARE(FZoomLabel->text(), QStringLiteral("35%"));
        // A half percent goes to the even neighbour.
        FViewer->SetZoom(1.125);
        QCOMPARE(FZoomLabel->text(), QStringLiteral("112%"));
        QCOMPARE(StandIn()->Scripts.last(), QStringLiteral("window.setScoreZoom(1.125);"));
        FViewer->FitWidth();
        QCOMPARE(FViewer->Zoom(), 1.0);
        QCOMPARE(FZoomLabel->text(), QStringLiteral("100%"));
        QCOMPARE(StandIn()->Scripts.last(), QStringLiteral("window.fitScoreWidth();"));
    }

    void scoresAndTheCursorGoToTheViewer() {
        TStandInViewer* viewer = CreateAndStart();
        QVERIFY(FViewer->IsReady());
        QVERIFY(FViewer->ShowScore(QStringLiteral("/a.musicxml")));
        QCOMPARE(viewer->SentFiles, QStringList{QStringLiteral("/a.musicxml")});
        FViewer->ShowPlaybackStart(3);
        QCOMPARE(viewer->StartMark, std::size_t{3});
        FViewer->ShowPlaybackCursor(2, 0.25);
        QVERIFY(viewer->CursorShown);
        QCOMPARE(viewer->CursorMeasure, std::size_t{2});
        FViewer->HidePlaybackCursor();
        QVERIFY(!viewer->CursorShown);
        FViewer->SetLanguage(true);
        QVERIFY(viewer->English);
        FViewer->ClearScore();
        QCOMPARE(viewer->Cleared, 1);
    }

    void aViewerThatFailedSaysWhy() {
        FViewer = std::make_unique<TScoreViewer>(TStandInViewer::Factory("no engine"), FZoomLabel.get(), nullptr);
        FViewer->Create(QStringLiteral("/nowhere"), {});
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, StandIn()->Start());
        QVERIFY(!FViewer->IsReady());
        QCOMPARE(FViewer->ErrorText(QStringLiteral("no folder")), QStringLiteral("no engine"));
    }
};

KORVALIN_WINDOW_TEST_MAIN(TScoreViewerTest)
#include "ScoreViewerTest.moc"
