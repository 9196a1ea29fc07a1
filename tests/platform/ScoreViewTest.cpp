// A score shown a piece at a time in the real web engine: the first piece
// before the rest, nothing left of a score that was replaced or cleared, the
// page's texts in the window's language, names on every system, and a page
// whose render process died.
#include "TestScores.h"
#include "WebEngineTestSupport.h"

#include "ScoreEngraver.h"
#include "ScoreView.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sys/types.h>

namespace korvalin::test {
namespace {

const QString ReadyText = QStringLiteral("Партитура готова.");

class ScoreView : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FViewer.StartAndWait()) << FViewer.Host().ErrorText().toStdString();
        // Every text the message bar shows, in order, from now on.
        Eval(
            QStringLiteral("window.__messages = [];"
                           "new MutationObserver(() => window.__messages.push("
                           "document.getElementById('message').textContent))"
                           ".observe(document.getElementById('message'), { childList: true, characterData: true,"
                           " subtree: true }); 0"));
    }

    QVariant Eval(const QString& script) { return test::Eval(FViewer.Page(), script); }
    QString Message() { return Eval(QStringLiteral("document.getElementById('message').textContent")).toString(); }
    QStringList Messages() { return Eval(QStringLiteral("window.__messages")).toStringList(); }
    QString ScoreText() { return Eval(QStringLiteral("document.getElementById('score').textContent")).toString(); }

    void Show(const QString& name, const QByteArray& document) {
        const QString file = FViewer.Folder() + QLatin1Char('/') + name;
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(document);
        out.close();
        FViewer.Host().SendScoreFile(file);
    }
    bool WaitForMessage(const QString& text, int milliseconds = 120000) {
        return WaitFor([&] { return Message() == text; }, milliseconds);
    }
    // The measures of the drawn pieces, as [first, end) pairs in page order.
    QVariantList Pieces() {
        return Eval(QStringLiteral("Array.from(document.querySelectorAll('#score .piece'))"
                                   ".map(p => [Number(p.dataset.first), Number(p.dataset.end)])"))
            .toList();
    }

    TStartedHost FViewer;
};

const QList<QPair<QString, QString>> Duo{{QStringLiteral("Violin"), QStringLiteral("Vln.")},
                                         {QStringLiteral("Cello"), QStringLiteral("Vc.")}};

TEST_F(ScoreView, ALongScoreShowsItsFirstPieceBeforeTheRestAndEndsWhole) {
    Show(QStringLiteral("long.musicxml"), LongScoreDocument(QStringLiteral("Long"), Duo, 90));
    ASSERT_TRUE(WaitForMessage(ReadyText));

    // The bar said how far the drawing had come, with measures still to come.
    const QStringList messages = Messages();
    const qsizetype ready = messages.lastIndexOf(ReadyText);
    const QRegularExpression progress(QStringLiteral("^Строим партитуру… такты 1–(\\d+) из 90$"));
    qsizetype partial = -1;
    for (qsizetype i = 0; i < ready; ++i) {
        const QRegularExpressionMatch match = progress.match(messages[i]);
        if (match.hasMatch() && match.captured(1).toInt() < 90) partial = i;
    }
    EXPECT_GE(partial, 0) << messages.join(QLatin1Char('|')).toStdString();

    // The pieces follow each other over the whole score, and nothing is left to come.
    const QVariantList pieces = Pieces();
    ASSERT_GE(pieces.size(), 2);
    int expected = 0;
    for (const QVariant& piece : pieces) {
        EXPECT_EQ(piece.toList().at(0).toInt(), expected);
        expected = piece.toList().at(1).toInt();
    }
    EXPECT_EQ(expected, 90);
    EXPECT_EQ(Eval(QStringLiteral("document.querySelectorAll('#score .gap').length")).toInt(), 0);
    EXPECT_EQ(Eval(QStringLiteral("document.querySelector('#heading .title').textContent")).toString(),
              QStringLiteral("Long"));

    // Another zoom lays the score out anew; the bar says so at once, not
    // only when the first piece of the new layout is there.
    Eval(QStringLiteral("window.__messages = []; window.setScoreZoom(0.8); 0"));
    ASSERT_TRUE(WaitFor([&] { return Messages().contains(ReadyText); }, 120000));
    EXPECT_EQ(Messages().value(0).toStdString(), "Строим партитуру…") << Messages().join('|').toStdString();
}

TEST_F(ScoreView, ANewScoreOrAClearLeavesNothingOfTheOneBeingDrawn) {
    Show(QStringLiteral("old.musicxml"), LongScoreDocument(QStringLiteral("Old score"), Duo, 200));
    ASSERT_TRUE(WaitFor([&] { return !Pieces().isEmpty(); }, 120000));
    ASSERT_TRUE(FViewer.Host().ScoreView()->IsBuilding());

    Show(QStringLiteral("new.musicxml"), ScoreDocument(QStringLiteral("New score"), {QStringLiteral("Flute")}));
    ASSERT_TRUE(WaitForMessage(ReadyText));
    WaitFor([] { return false; }, 1000);
    const QString text = ScoreText();
    EXPECT_TRUE(text.contains(QStringLiteral("New score"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Old score"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Vln."))) << text.toStdString();
    EXPECT_EQ(Pieces(), (QVariantList{QVariantList{0, 2}}));
    EXPECT_EQ(Message(), ReadyText);

    // A clear in the middle of a drawing empties the page at once, for good.
    Show(QStringLiteral("old.musicxml"), LongScoreDocument(QStringLiteral("Old score"), Duo, 200));
    ASSERT_TRUE(WaitFor([&] { return !Pieces().isEmpty(); }, 120000));
    FViewer.Host().ClearScore();
    EXPECT_EQ(Eval(QStringLiteral("document.getElementById('score').childNodes.length")).toInt(), 0);
    EXPECT_EQ(Message(), QStringLiteral("Выберите нужные дорожки и нажмите «Показать партитуру»."));
    EXPECT_FALSE(FViewer.Host().ScoreView()->IsBuilding());
    WaitFor([] { return false; }, 3000);
    EXPECT_EQ(Eval(QStringLiteral("document.getElementById('score').childNodes.length")).toInt(), 0);
    EXPECT_EQ(Message(), QStringLiteral("Выберите нужные дорожки и нажмите «Показать партитуру»."));

    // With several engravers at rest, the next score opens at its first
    // measure: the others wait for the opening piece.
    Show(QStringLiteral("old.musicxml"), LongScoreDocument(QStringLiteral("Old score"), Duo, 200));
    ASSERT_TRUE(WaitFor([&] { return Pieces().size() >= 2; }, 120000));
    FViewer.Host().ClearScore();
    ASSERT_TRUE(WaitFor([&] { return FViewer.Host().ScoreView()->IsIdle(); }, 60000));
    Show(QStringLiteral("next.musicxml"), LongScoreDocument(QStringLiteral("Next score"), Duo, 200));
    ASSERT_TRUE(WaitFor([&] { return !Pieces().isEmpty(); }, 120000));
    EXPECT_EQ(Pieces().at(0).toList().at(0).toInt(), 0) << ScoreText().left(200).toStdString();
}

TEST_F(ScoreView, ThePageSpeaksTheLanguageItIsTold) {
    FViewer.Host().SetPageLanguage(true);
    EXPECT_EQ(Message(), QStringLiteral("Tick the tracks you need and press \u201cShow score\u201d."));
    EXPECT_EQ(Eval(QStringLiteral("document.documentElement.lang")).toString(), QStringLiteral("en"));
    Show(QStringLiteral("one.musicxml"), LongScoreDocument(QStringLiteral("One"), Duo, 40));
    ASSERT_TRUE(WaitForMessage(QStringLiteral("The score is ready.")));
    EXPECT_TRUE(Messages().contains(QStringLiteral("Building the score\u2026"))) << Messages().join('|').toStdString();

    FViewer.Host().SetPageLanguage(false);
    EXPECT_EQ(Message(), ReadyText);
    EXPECT_EQ(Eval(QStringLiteral("document.documentElement.lang")).toString(), QStringLiteral("ru"));
    // An error keeps its own words and changes its lead.
    Show(QStringLiteral("broken.musicxml"), QByteArray("<score-timewise/>"));
    ASSERT_TRUE(WaitFor([&] { return Message().startsWith(QStringLiteral("Ошибка отображения: ")); }));
    const QString reason = Message().mid(QStringLiteral("Ошибка отображения: ").size());
    EXPECT_FALSE(reason.isEmpty());
    FViewer.Host().SetPageLanguage(true);
    EXPECT_EQ(Message(), QStringLiteral("Display error: ") + reason);
}

TEST_F(ScoreView, EverySystemStartsWithItsPartNames) {
    Show(QStringLiteral("duo.musicxml"), LongScoreDocument(QStringLiteral("Duo"), Duo, 48));
    ASSERT_TRUE(WaitForMessage(ReadyText));
    const QStringList systems =
        Eval(QStringLiteral("Array.from(document.querySelectorAll('#score .piece svg')).map(s => "
                            "Array.from(s.querySelectorAll('text')).map(t => t.textContent).join('|'))"))
            .toStringList();
    ASSERT_GE(systems.size(), 3);
    for (qsizetype i = 0; i < systems.size(); ++i) {
        const QStringList texts = systems[i].split(QLatin1Char('|'));
        const QStringList names = i == 0 ? QStringList{QStringLiteral("Violin"), QStringLiteral("Cello")}
                                         : QStringList{QStringLiteral("Vln."), QStringLiteral("Vc.")};
        for (const QString& name : names) EXPECT_TRUE(texts.contains(name)) << i << ": " << systems[i].toStdString();
    }
}

TEST_F(ScoreView, ALongTitleWrapsInANarrowView) {
    const QString title =
        QStringLiteral("Fantasia and Fugue on a Theme Nobody Remembers, for Two Unlikely Instruments");
    FViewer.Host().View()->resize(420, 700);
    Show(QStringLiteral("title.musicxml"), ScoreDocument(title, {QStringLiteral("Oboe")}));
    ASSERT_TRUE(WaitForMessage(ReadyText));
    EXPECT_EQ(Eval(QStringLiteral("document.querySelector('#heading .title').textContent")).toString(), title);
    const QVariantList box =
        Eval(QStringLiteral("(() => { const t = document.querySelector('#heading .title');"
                            "const r = t.getBoundingClientRect(); const s = document"
                            ".getElementById('score').getBoundingClientRect();"
                            "return [r.left - s.left, s.right - r.right, t.scrollWidth - t.clientWidth,"
                            " r.height]; })()"))
            .toList();
    ASSERT_EQ(box.size(), 4);
    EXPECT_GE(box[0].toDouble(), 0);
    EXPECT_GE(box[1].toDouble(), 0);
    EXPECT_LE(box[2].toDouble(), 0);
    EXPECT_GT(box[3].toDouble(), 60);  // more than one line
}

TEST_F(ScoreView, APageWhoseRenderProcessDiedIsStartedAgainByTheNextScore) {
    QSignalSpy died(&FViewer.Host(), &TWebViewHost::PageDied);
    Show(QStringLiteral("first.musicxml"), ScoreDocument(QStringLiteral("First"), {QStringLiteral("Oboe")}));
    ASSERT_TRUE(WaitForMessage(ReadyText));
    const qint64 pid = FViewer.Page()->renderProcessPid();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return died.count() == 1; }));
    EXPECT_FALSE(FViewer.Host().IsReady());
    EXPECT_TRUE(died.at(0).at(0).toString().startsWith(QStringLiteral("Просмотрщик партитуры остановился (код ")))
        << died.at(0).at(0).toString().toStdString();

    Show(QStringLiteral("second.musicxml"), ScoreDocument(QStringLiteral("Second"), {QStringLiteral("Horn")}));
    ASSERT_TRUE(WaitFor([&] { return FViewer.Host().IsReady(); }));
    ASSERT_TRUE(WaitForMessage(ReadyText));
    EXPECT_TRUE(ScoreText().contains(QStringLiteral("Second")));
    EXPECT_NE(FViewer.Page()->renderProcessPid(), pid);
}

// A piece left in the middle takes its render process with it, and the
// engraver goes on with the next piece.
TEST(ScoreEngraver, APieceLeftInTheMiddleLeavesNoRenderProcessBehind) {
    TScoreEngraver engraver;
    QList<QPair<QString, QString>> band;
    for (int i = 1; i <= 24; ++i) band.append({QStringLiteral("Part %1").arg(i), QStringLiteral("P%1").arg(i)});
    TEngraveRequest large;
    large.Xml = LongScoreDocument(QStringLiteral("Large"), band, 120);
    bool largeDone = false;
    engraver.Engrave(large, [&](const TEngraving&) { largeDone = true; });
    ASSERT_TRUE(WaitFor([&] { return engraver.IsRunning() && engraver.RenderProcessPid() > 0; }, 60000));
    ASSERT_FALSE(largeDone);
    const qint64 pid = engraver.RenderProcessPid();
    engraver.Abandon();
    EXPECT_TRUE(WaitFor([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); }, 20000)) << pid;

    TEngraveRequest small;
    small.Xml = ScoreDocument(QStringLiteral("Small"), {QStringLiteral("Oboe")});
    std::optional<TEngraving> result;
    engraver.Engrave(small, [&](const TEngraving& engraving) { result = engraving; });
    ASSERT_TRUE(WaitFor([&] { return result.has_value(); }, 60000));
    EXPECT_TRUE(result->Ok) << result->Error.toStdString();
    EXPECT_FALSE(largeDone);
}

}  // namespace
}  // namespace korvalin::test
