// The viewer page in the real web engine: its four functions, its message bar
// and its drop handling, read back from the document.
#include "TestScores.h"
#include "WebEngineTestSupport.h"

#include "FileIO.h"

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace korvalin::test {
namespace {

const QString InitialText = QStringLiteral("Выберите нужные дорожки и нажмите «Показать партитуру».");

class ViewerPage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FViewer.StartAndWait()) << FViewer.Host().ErrorText().toStdString(); }

    QVariant Eval(const QString& script) { return test::Eval(FViewer.Page(), script); }
    QVariant Await(const QString& expression) { return test::Await(FViewer.Page(), expression); }

    QVariant Render(const QString& base64) {
        return Await(QStringLiteral("window.renderMusicXmlBase64('") + base64 + QStringLiteral("')"));
    }
    QString Message() { return Eval(QStringLiteral("document.getElementById('message').textContent")).toString(); }
    bool MessageIsError() {
        return Eval(QStringLiteral("document.getElementById('message').className === 'error'")).toBool();
    }
    int SvgCount() { return Eval(QStringLiteral("document.querySelectorAll('#score svg').length")).toInt(); }
    QString SvgText() {
        return Eval(QStringLiteral(
                        "Array.from(document.querySelectorAll('#score svg')).map(s => s.textContent).join('|')"))
            .toString();
    }
    double SvgHeight() {
        return Eval(QStringLiteral("document.querySelector('#score svg').getBoundingClientRect().height")).toDouble();
    }

    TStartedHost FViewer;
};

TEST_F(ViewerPage, StartsWithItsDocumentAndInitialMessage) {
    EXPECT_EQ(Eval(QStringLiteral("document.title")).toString(), QStringLiteral("Korvalin Preview"));
    EXPECT_EQ(Eval(QStringLiteral("document.documentElement.lang")).toString(), QStringLiteral("ru"));
    EXPECT_EQ(Eval(QStringLiteral("document.characterSet")).toString(), QStringLiteral("UTF-8"));
    EXPECT_EQ(Message(), InitialText);
    EXPECT_FALSE(MessageIsError());
    EXPECT_EQ(Eval(QStringLiteral("getComputedStyle(document.getElementById('message')).position")).toString(),
              QStringLiteral("sticky"));
    EXPECT_EQ(
        Eval(QStringLiteral("document.getElementById('page').contains(document.getElementById('score'))")).toBool(),
        true);
    EXPECT_EQ(Eval(QStringLiteral("typeof opensheetmusicdisplay.OpenSheetMusicDisplay")).toString(),
              QStringLiteral("function"));
}

TEST_F(ViewerPage, RendersAScoreAsSvgAndSaysItIsReady) {
    EXPECT_EQ(Render(ScoreBase64(QStringLiteral("Etude"), {QStringLiteral("Piano")})), QVariant(true));
    EXPECT_GE(SvgCount(), 1);
    EXPECT_EQ(Message(), QStringLiteral("Партитура готова."));
    EXPECT_FALSE(MessageIsError());
    EXPECT_TRUE(SvgText().contains(QStringLiteral("Etude")));
}

TEST_F(ViewerPage, NonAsciiTitleAndPartTextsComeThroughAsUtf8) {
    const QString title = QStringLiteral("Этюд № 3 — «Весна»");
    EXPECT_EQ(Render(ScoreBase64(title, {QStringLiteral("Скрипка"), QStringLiteral("Flöte")})), QVariant(true));
    const QString text = SvgText();
    EXPECT_TRUE(text.contains(title)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Скрипка"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Flöte"))) << text.toStdString();
}

TEST_F(ViewerPage, AByteOrderMarkBeforeTheDocumentIsDropped) {
    const QByteArray withMark =
        QByteArray("\xEF\xBB\xBF") + ScoreDocument(QStringLiteral("Mark"), {QStringLiteral("Oboe")});
    EXPECT_EQ(Render(QString::fromLatin1(withMark.toBase64())), QVariant(true));
    EXPECT_TRUE(SvgText().contains(QStringLiteral("Mark")));
}

TEST_F(ViewerPage, TextThatIsNotBase64ShowsTheErrorBarAndFails) {
    EXPECT_EQ(Render(QStringLiteral("not base64 at all!")), QVariant(false));
    EXPECT_TRUE(Message().startsWith(QStringLiteral("Ошибка отображения: "))) << Message().toStdString();
    EXPECT_GT(Message().size(), QStringLiteral("Ошибка отображения: ").size());
    EXPECT_TRUE(MessageIsError());

    // The page stays usable: the next score renders.
    EXPECT_EQ(Render(ScoreBase64(QStringLiteral("Again"), {QStringLiteral("Piano")})), QVariant(true));
    EXPECT_FALSE(MessageIsError());
}

TEST_F(ViewerPage, TextTheRendererCannotReadFails) {
    EXPECT_EQ(Render(QString::fromLatin1(QByteArray("<html>no score</html>").toBase64())), QVariant(false));
    EXPECT_TRUE(Message().startsWith(QStringLiteral("Ошибка отображения: ")));
    EXPECT_TRUE(MessageIsError());
}

TEST_F(ViewerPage, ZoomIsClampedAndFallsBackToOne) {
    EXPECT_EQ(Eval(QStringLiteral("window.setScoreZoom(3)")).toDouble(), 2.5);
    EXPECT_EQ(Eval(QStringLiteral("window.setScoreZoom(0.1)")).toDouble(), 0.35);
    EXPECT_EQ(Eval(QStringLiteral("window.setScoreZoom('many')")).toDouble(), 1.0);
    EXPECT_EQ(Eval(QStringLiteral("window.setScoreZoom(0)")).toDouble(), 1.0);
    EXPECT_EQ(Eval(QStringLiteral("window.setScoreZoom('1.5')")).toDouble(), 1.5);
    EXPECT_EQ(SvgCount(), 0);
}

TEST_F(ViewerPage, ZoomChosenBeforeTheFirstScoreIsUsedByIt) {
    const QString score = ScoreBase64(QStringLiteral("Zoom"), {QStringLiteral("Piano")});
    ASSERT_EQ(Render(score), QVariant(true));
    const double normal = SvgHeight();
    Eval(QStringLiteral("window.clearScore()"));
    EXPECT_EQ(Eval(QStringLiteral("window.setScoreZoom(2)")).toDouble(), 2.0);
    ASSERT_EQ(Render(score), QVariant(true));
    EXPECT_GT(SvgHeight(), normal * 1.5);

    // Fit width returns to 1 and redraws at it.
    EXPECT_EQ(Eval(QStringLiteral("window.fitScoreWidth()")).toInt(), 1);
    EXPECT_NEAR(SvgHeight(), normal, normal * 0.05);
}

TEST_F(ViewerPage, ClearBeforeAnyScoreShowsTheInitialText) {
    Eval(
        QStringLiteral("document.getElementById('message').textContent = 'x';"
                       "document.getElementById('message').className = 'error'; 0"));
    EXPECT_EQ(Eval(QStringLiteral("window.clearScore() === undefined")).toBool(), true);
    EXPECT_EQ(Message(), InitialText);
    EXPECT_FALSE(MessageIsError());
    EXPECT_EQ(Eval(QStringLiteral("document.getElementById('score').childNodes.length")).toInt(), 0);
}

TEST_F(ViewerPage, ClearAfterAScoreEmptiesTheContainerAndKeepsTheZoom) {
    const QString score = ScoreBase64(QStringLiteral("Gone"), {QStringLiteral("Piano")});
    Eval(QStringLiteral("window.setScoreZoom(0.5)"));
    ASSERT_EQ(Render(score), QVariant(true));
    const double small = SvgHeight();
    Eval(QStringLiteral("window.clearScore()"));
    EXPECT_EQ(Eval(QStringLiteral("document.getElementById('score').childNodes.length")).toInt(), 0);
    EXPECT_EQ(Message(), InitialText);
    EXPECT_FALSE(MessageIsError());

    ASSERT_EQ(Render(score), QVariant(true));
    EXPECT_NEAR(SvgHeight(), small, small * 0.05);
}

TEST_F(ViewerPage, ARenderOvertakenByAClearDrawsNothing) {
    const QString score = ScoreBase64(QStringLiteral("Late"), {QStringLiteral("Piano")});
    const QVariant result = Await(QStringLiteral("(() => { const p = window.renderMusicXmlBase64('") + score +
                                  QStringLiteral("'); window.clearScore(); return p; })()"));
    EXPECT_EQ(result, QVariant(false));
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(SvgCount(), 0);
    EXPECT_EQ(Message(), InitialText);
}

// Drops are simulated with a real DataTransfer holding File objects, the way
// the engine hands a drop from the desktop to the document.
QString DropScript(const QString& filesExpression) {
    return QStringLiteral(
               "(() => { const transfer = new DataTransfer();"
               "for (const f of ") +
           filesExpression +
           QStringLiteral(
               ") transfer.items.add(f);"
               "const event = new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true });"
               "document.getElementById('score').dispatchEvent(event);"
               "return event.defaultPrevented; })()");
}

TEST_F(ViewerPage, DropOfATextFileOnlySaysSoAndPostsNothing) {
    QSignalSpy dropped(&FViewer.Host(), &TWebViewHost::MidiFileDropped);
    QSignalSpy errors(&FViewer.Host(), &TWebViewHost::ErrorMessage);
    EXPECT_EQ(Eval(DropScript(QStringLiteral("[new File(['hello'], 'notes.txt', { type: 'text/plain' })]"))).toBool(),
              true);
    EXPECT_EQ(Message(), QStringLiteral("Перетащите MIDI-файл с расширением .mid или .midi."));
    EXPECT_TRUE(MessageIsError());
    WaitFor([] { return false; }, 500);
    EXPECT_EQ(dropped.count(), 0);
    EXPECT_EQ(errors.count(), 0);
}

TEST_F(ViewerPage, DropOfATextAndACapitalisedMidiFilePostsTheMidiFile) {
    QSignalSpy dropped(&FViewer.Host(), &TWebViewHost::MidiFileDropped);
    EXPECT_EQ(
        Eval(QStringLiteral("document.dispatchEvent(new DragEvent('dragover', { bubbles: true, cancelable: true }))"))
            .toBool(),
        false);  // default prevented
    Eval(
        DropScript(QStringLiteral("[new File(['hello'], 'notes.txt'), new File([new Uint8Array([77, 84, 104, 100, 0, "
                                  "255, 128])], 'SONG.MID')]")));
    ASSERT_TRUE(WaitFor([&] { return dropped.count() == 1; }));
    EXPECT_EQ(Message(), QStringLiteral("Открываем MIDI-файл…"));
    EXPECT_FALSE(MessageIsError());
    const QList<QVariant> arguments = dropped.takeFirst();
    EXPECT_EQ(arguments.at(1).toString(), QStringLiteral("SONG.MID"));
    const std::vector<std::uint8_t> bytes = ReadWholeFile(arguments.at(0).toString().toStdString());
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{77, 84, 104, 100, 0, 255, 128}));
}

// A real desktop drop: the files arrive as local URLs through the view's Qt
// drag-and-drop events, and the engine hands them to the page.
TEST_F(ViewerPage, AFileDroppedOntoTheViewReachesTheHost) {
    const QString midi = FViewer.Folder() + QStringLiteral("/Dropped Song.MIDI");
    {
        QFile file(midi);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromBase64("TVRoZAAAAAYAAAABAGA="));
    }
    QSignalSpy dropped(&FViewer.Host(), &TWebViewHost::MidiFileDropped);
    QWidget* target = FViewer.Host().View()->focusProxy() ? FViewer.Host().View()->focusProxy() : FViewer.Host().View();
    const auto data = std::make_unique<QMimeData>();
    data->setUrls({QUrl::fromLocalFile(midi)});
    const QPoint where(300, 300);
    QDragEnterEvent enter(where, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    WaitFor([] { return false; }, 300);
    QDragMoveEvent move(where, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    WaitFor([] { return false; }, 300);
    QDropEvent drop(where, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    ASSERT_TRUE(WaitFor([&] { return dropped.count() == 1; }, 10000)) << Message().toStdString();
    EXPECT_EQ(dropped.at(0).at(1).toString(), QStringLiteral("Dropped Song.MIDI"));
}

}  // namespace
}  // namespace korvalin::test
