// The viewer host: its folder, the score that waits for the page, the page's
// messages and its failures.
#include "TestScores.h"
#include "WebEngineTestSupport.h"

#include "FileIO.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

namespace korvalin::test {
namespace {

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString DropMessage(const QString& name, const QString& data, const QString& type = QStringLiteral("midi-drop")) {
    QJsonObject message;
    message.insert(QStringLiteral("type"), type);
    message.insert(QStringLiteral("name"), name);
    message.insert(QStringLiteral("data"), data);
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

TEST(ViewerFolder, IsRewrittenFromTheResourcesAtEveryStart) {
    TTestFolder temp;
    TWebViewHost host(temp.path(), {});
    host.PrepareViewerFolder();
    EXPECT_EQ(host.ViewerFolder(), temp.path() + QStringLiteral("/Korvalin-Viewer-0.5.0"));
    const QByteArray page = ReadAll(host.ViewerFolder() + QStringLiteral("/viewer.html"));
    const QByteArray library = ReadAll(host.ViewerFolder() + QStringLiteral("/opensheetmusicdisplay.min.js"));
    EXPECT_TRUE(page.contains("renderMusicXmlBase64"));
    EXPECT_GT(library.size(), 500000);
    EXPECT_EQ(page, ReadAll(QStringLiteral(":/korvalin/VIEWER_HTML")));

    WriteAll(host.ViewerFolder() + QStringLiteral("/viewer.html"), "stale");
    host.PrepareViewerFolder();
    EXPECT_EQ(ReadAll(host.ViewerFolder() + QStringLiteral("/viewer.html")), page);
}

TEST(ViewerFolder, AMissingResourceIsAnError) {
    TTestFolder temp;
    EXPECT_THROW(
        TWebViewHost::SaveResourceToFile(QStringLiteral("WEBVIEW2_LOADER"), temp.path() + QStringLiteral("/x")),
        EViewerError);
    EXPECT_FALSE(QFile::exists(temp.path() + QStringLiteral("/x")));
}

TEST(ViewerStart, AFolderThatCannotBeWrittenFailsTheStart) {
    TTestFolder temp;
    WriteAll(temp.path() + QStringLiteral("/Korvalin-Viewer-0.5.0"), "a file where the folder should be");
    TWebViewHost host(temp.path(), {});
    EXPECT_THROW(host.Start(), EFileError);
    EXPECT_FALSE(host.ErrorText().isEmpty());
    EXPECT_FALSE(host.IsReady());
}

TEST(ViewerStart, AMissingWebEngineProcessFailsWithTheLoadText) {
    qputenv("QTWEBENGINEPROCESS_PATH", "/nonexistent/QtWebEngineProcess");
    TTestFolder temp;
    TWebViewHost host(temp.path(), [](const QString&, const QString& english) { return english; });
    EXPECT_THROW(host.Start(), EViewerError);
    EXPECT_EQ(host.ErrorText(), QStringLiteral("Could not load the Qt WebEngine web view"));
    EXPECT_FALSE(host.IsReady());
    qunsetenv("QTWEBENGINEPROCESS_PATH");
}

TEST(ViewerStart, LoadsFromAFolderWhoseNameNeedsEscapingInAUrl) {
    TStartedHost viewer({}, QStringLiteral("temp #1 50% ü"));
    ASSERT_TRUE(viewer.StartAndWait()) << viewer.Host().ErrorText().toStdString();
    EXPECT_TRUE(viewer.Host().ErrorText().isEmpty());
    EXPECT_EQ(Eval(viewer.Page(), QStringLiteral("typeof window.renderMusicXmlBase64")).toString(),
              QStringLiteral("function"));
}

TEST(ViewerStart, AFailedNavigationMakesTheViewerUnavailableForGood) {
    TTestFolder temp;
    TWebViewHost host(temp.path(), [](const QString& russian, const QString&) { return russian; });
    QSignalSpy failed(&host, &TWebViewHost::NavigationFailed);
    host.EdgeBrowserNavigationCompleted(false, -6);
    EXPECT_FALSE(host.IsReady());
    EXPECT_EQ(host.ErrorText(), QStringLiteral("Ошибка навигации Qt WebEngine: -6"));
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), host.ErrorText());

    host.EdgeBrowserNavigationCompleted(true, 0);
    EXPECT_FALSE(host.IsReady());
    EXPECT_FALSE(host.ErrorText().isEmpty());
}

TEST(ViewerStart, ARenderProcessThatDiesBeforeTheLoadIsAFailedStart) {
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --renderer-cmd-prefix=/bin/false");
    TTestFolder temp;
    TWebViewHost host(temp.path(), [](const QString&, const QString& english) { return english; });
    QSignalSpy failed(&host, &TWebViewHost::CreationFailed);
    host.View()->show();
    host.Start();
    ASSERT_TRUE(WaitFor([&] { return failed.count() > 0; }));
    EXPECT_FALSE(host.IsReady());
    EXPECT_TRUE(host.ErrorText().startsWith(QStringLiteral("Qt WebEngine failed to start (code ")))
        << host.ErrorText().toStdString();
    EXPECT_EQ(failed.at(0).at(0).toString(), host.ErrorText());
}

// The window owns the view as a child widget and the host as a member; either
// may go first at shutdown.
TEST(ViewerLifetime, TheHostAndTheWindowMayBeDestroyedInEitherOrder) {
    for (const bool hostFirst : {true, false}) {
        TTestFolder temp;
        auto window = std::make_unique<QWidget>();
        auto host = std::make_unique<TWebViewHost>(temp.path(), TLocalizer{});
        host->View()->setParent(window.get());
        window->resize(600, 400);
        window->show();
        host->Start();
        ASSERT_TRUE(WaitFor([&] { return host->IsReady(); }));
        if (hostFirst) {
            host.reset();
            WaitFor([] { return false; }, 200);
            window.reset();
        } else {
            window.reset();
            WaitFor([] { return false; }, 200);
            host.reset();
        }
        WaitFor([] { return false; }, 200);
    }
}

TEST(PendingScore, ScoresSentBeforeTheLoadWaitAndOnlyTheLatestIsShown) {
    TStartedHost viewer;
    const QString first = viewer.Folder() + QStringLiteral("/first.musicxml");
    const QString second = viewer.Folder() + QStringLiteral("/second.musicxml");
    WriteAll(first, ScoreDocument(QStringLiteral("First score"), {QStringLiteral("Alto")}));
    WriteAll(second, ScoreDocument(QStringLiteral("Second score"), {QStringLiteral("Tenor")}));

    viewer.Host().Start();
    viewer.Host().SendScoreFile(first);
    viewer.Host().SendScoreFile(second);
    EXPECT_FALSE(viewer.Host().IsReady());
    EXPECT_EQ(viewer.Host().PendingXmlBase64(), QString::fromLatin1(ReadAll(second).toBase64()));

    ASSERT_TRUE(WaitFor([&] { return viewer.Host().IsReady(); }));
    EXPECT_TRUE(viewer.Host().PendingXmlBase64().isEmpty());
    ASSERT_TRUE(WaitFor([&] {
        return Eval(viewer.Page(), QStringLiteral("document.getElementById('message').textContent")).toString() ==
               QStringLiteral("Партитура готова.");
    }));
    const QString text = Eval(viewer.Page(), QStringLiteral("document.getElementById('score').textContent")).toString();
    EXPECT_TRUE(text.contains(QStringLiteral("Second score"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("First score"))) << text.toStdString();
}

TEST(PendingScore, AMissingFileIsTheCallersErrorAndKeepsTheWaitingScore) {
    TTestFolder temp;
    TWebViewHost host(temp.path(), {});
    const QString score = temp.path() + QStringLiteral("/score.musicxml");
    WriteAll(score, "<score-partwise/>");
    host.SendScoreFile(score);
    EXPECT_THROW(host.SendScoreFile(temp.path() + QStringLiteral("/missing.musicxml")), EFileError);
    EXPECT_EQ(host.PendingXmlBase64(), QStringLiteral("PHNjb3JlLXBhcnR3aXNlLz4="));
    host.DropPendingScore();
    EXPECT_TRUE(host.PendingXmlBase64().isEmpty());
}

// Messages as the page's bridge delivers them, handed to the host directly.
class WebMessages : public ::testing::Test {
protected:
    WebMessages()
        : FHost(FTemp.path(),
                [this](const QString& russian, const QString& english) { return FEnglish ? english : russian; }),
          FDropped(&FHost, &TWebViewHost::MidiFileDropped), FErrors(&FHost, &TWebViewHost::ErrorMessage),
          FStops(&FHost, &TWebViewHost::StopPlaybackRequested) {}

    bool NothingHappened() const { return FDropped.isEmpty() && FErrors.isEmpty() && FStops.isEmpty(); }

    TTestFolder FTemp;
    bool FEnglish = false;
    TWebViewHost FHost;
    QSignalSpy FDropped;
    QSignalSpy FErrors;
    QSignalSpy FStops;
};

const QString SomeMidi = QStringLiteral("TVRoZAAAAAYAAAABAGA=");

TEST_F(WebMessages, ForeignOrMalformedMessagesAreIgnoredSilently) {
    FHost.EdgeBrowserWebMessageReceived(DropMessage(QStringLiteral("a.mid"), SomeMidi, QStringLiteral("MIDI-drop")));
    FHost.EdgeBrowserWebMessageReceived(DropMessage(QStringLiteral("a.mid"), SomeMidi, QStringLiteral("midi-drop ")));
    FHost.EdgeBrowserWebMessageReceived(QStringLiteral("{\"type\":\"midi-drop\",\"name\":\"a.mid\""));
    FHost.EdgeBrowserWebMessageReceived(QStringLiteral("{\"type\":\"midi-drop\",\"name\":\"a.mid\"}"));
    FHost.EdgeBrowserWebMessageReceived(QStringLiteral("{\"type\":\"midi-drop\",\"name\":\"a.mid\",\"data\":5}"));
    FHost.EdgeBrowserWebMessageReceived(QStringLiteral("[\"midi-drop\"]"));
    FHost.EdgeBrowserWebMessageReceived(QStringLiteral("\"midi-drop\""));
    FHost.EdgeBrowserWebMessageReceived(QString());
    EXPECT_TRUE(NothingHappened());
    EXPECT_TRUE(FHost.DroppedMidiFile().isEmpty());
}

TEST_F(WebMessages, ANameWithAFolderOpensUnderItsLastComponent) {
    FHost.EdgeBrowserWebMessageReceived(DropMessage(QStringLiteral("C:\\Music\\Piano/Étude.MID"), SomeMidi));
    ASSERT_EQ(FDropped.count(), 1);
    EXPECT_EQ(FStops.count(), 1);
    EXPECT_TRUE(FErrors.isEmpty());
    const QString path = FDropped.at(0).at(0).toString();
    EXPECT_EQ(FDropped.at(0).at(1).toString(), QStringLiteral("Piano/Étude.MID"));
    EXPECT_EQ(path, FTemp.path() + QStringLiteral("/Korvalin-drop-%1.mid").arg(QCoreApplication::applicationPid()));
    EXPECT_EQ(FHost.DroppedMidiFile(), path);
    EXPECT_EQ(ReadAll(path), QByteArray::fromBase64(SomeMidi.toLatin1()));

    FHost.EdgeBrowserWebMessageReceived(DropMessage(QStringLiteral("D:song.midi"), QStringLiteral("AQID")));
    ASSERT_EQ(FDropped.count(), 2);
    EXPECT_EQ(FDropped.at(1).at(0).toString(), path);
    EXPECT_EQ(FDropped.at(1).at(1).toString(), QStringLiteral("song.midi"));
    EXPECT_EQ(ReadAll(path), QByteArray("\x01\x02\x03"));
}

TEST_F(WebMessages, EmptyDataIsReportedInTheCurrentLanguage) {
    FHost.EdgeBrowserWebMessageReceived(DropMessage(QStringLiteral("a.mid"), QString()));
    FEnglish = true;
    FHost.EdgeBrowserWebMessageReceived(DropMessage(QStringLiteral("a.mid"), QStringLiteral("====")));
    ASSERT_EQ(FErrors.count(), 2);
    EXPECT_EQ(FErrors.at(0).at(0).toString(),
              QStringLiteral("Не удалось открыть перетащенный MIDI-файл:\nПеретащенный MIDI-файл пуст."));
    EXPECT_EQ(FErrors.at(1).at(0).toString(),
              QStringLiteral("Could not open the dropped MIDI file:\nThe dropped MIDI file is empty."));
    EXPECT_TRUE(FDropped.isEmpty());
    EXPECT_TRUE(FStops.isEmpty());
}

TEST_F(WebMessages, OnlyMidiExtensionsAreAccepted) {
    FEnglish = true;
    for (const QString& name : {QStringLiteral("song.txt"), QStringLiteral("song.mid.txt"), QStringLiteral("mid"),
                                QStringLiteral("song.mi"), QStringLiteral("C:\\song.mid\\x")}) {
        FHost.EdgeBrowserWebMessageReceived(DropMessage(name, SomeMidi));
    }
    ASSERT_EQ(FErrors.count(), 5);
    for (const QList<QVariant>& error : FErrors) {
        EXPECT_EQ(error.at(0).toString(),
                  QStringLiteral("Could not open the dropped MIDI file:\nOnly .mid and .midi files are supported."));
    }
    EXPECT_TRUE(FDropped.isEmpty());
    EXPECT_TRUE(FStops.isEmpty());
}

TEST_F(WebMessages, AFileThatCannotBeWrittenIsReportedAfterPlaybackStopped) {
    TWebViewHost host(FTemp.path() + QStringLiteral("/no such folder"), {});
    QSignalSpy errors(&host, &TWebViewHost::ErrorMessage);
    QSignalSpy stops(&host, &TWebViewHost::StopPlaybackRequested);
    QSignalSpy dropped(&host, &TWebViewHost::MidiFileDropped);
    host.EdgeBrowserWebMessageReceived(DropMessage(QStringLiteral("a.mid"), SomeMidi));
    EXPECT_EQ(stops.count(), 1);
    ASSERT_EQ(errors.count(), 1);
    EXPECT_TRUE(
        errors.at(0).at(0).toString().startsWith(QStringLiteral("Не удалось открыть перетащенный MIDI-файл:\n")));
    EXPECT_TRUE(dropped.isEmpty());
}

TEST(WebMessageBridge, APagePostDeliversItsValueAsJson) {
    TStartedHost viewer;
    ASSERT_TRUE(viewer.StartAndWait());
    QSignalSpy dropped(&viewer.Host(), &TWebViewHost::MidiFileDropped);
    Eval(viewer.Page(),
         QStringLiteral("window.chrome.webview.postMessage({ type: 'midi-drop', name: 'Фуга.mid', data: '") + SomeMidi +
             QStringLiteral("' }); 0"));
    ASSERT_TRUE(WaitFor([&] { return dropped.count() == 1; }));
    EXPECT_EQ(dropped.at(0).at(1).toString(), QStringLiteral("Фуга.mid"));
}

}  // namespace
}  // namespace korvalin::test
