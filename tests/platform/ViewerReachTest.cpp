// The viewer's reach in the real web engine: our page and nothing else, no
// remote content, a context menu that cannot reload or leave the page, and a
// dropped copy kept private.
#include "WebEngineTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

namespace korvalin::test {
namespace {

void Idle(int milliseconds) {
    WaitFor([] { return false; }, milliseconds);
}

TEST(ViewerReach, ThePageCannotBeTakenElsewhere) {
    TStartedHost viewer;
    ASSERT_TRUE(viewer.StartAndWait());
    const QUrl page = viewer.Page()->url();
    QFile other(viewer.Folder() + QStringLiteral("/other.html"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("<html><body>elsewhere</body></html>");
    other.close();
    const QString otherUrl = QUrl::fromLocalFile(other.fileName()).toString();

    // Each attempt: by script, by a reload, by a new window, by the view itself.
    const QStringList attempts{
        QStringLiteral("location.href = '%1'; 0").arg(otherUrl),
        QStringLiteral("location.href = 'https://example.com/'; 0"),
        QStringLiteral("location.reload(); 0"),
        QStringLiteral("window.open('%1'); 0").arg(otherUrl),
        QStringLiteral("document.body.insertAdjacentHTML('beforeend', '<iframe id=\"f\" src=\"%1\"></iframe>'); 0")
            .arg(otherUrl),
    };
    for (const QString& attempt : attempts) {
        Eval(viewer.Page(), QStringLiteral("window.__stay = 42; 0"));
        Eval(viewer.Page(), attempt);
        Idle(700);
        EXPECT_EQ(viewer.Page()->url(), page) << attempt.toStdString();
        EXPECT_EQ(Eval(viewer.Page(), QStringLiteral("window.__stay")).toInt(), 42) << attempt.toStdString();
    }
    viewer.Page()->triggerAction(QWebEnginePage::Reload);
    viewer.Page()->load(QUrl(otherUrl));
    Idle(700);
    EXPECT_EQ(Eval(viewer.Page(), QStringLiteral("window.__stay")).toInt(), 42);
    EXPECT_EQ(Eval(viewer.Page(), QStringLiteral("document.getElementById('f').contentDocument === null || "
                                                 "!document.getElementById('f').contentDocument.body.textContent"
                                                 ".includes('elsewhere')"))
                  .toBool(),
              true);
    EXPECT_TRUE(viewer.Host().IsReady());
}

TEST(ViewerReach, NothingIsLoadedFromTheNetworkOrFromOutsideTheViewerFolder) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    TStartedHost viewer;
    ASSERT_TRUE(viewer.StartAndWait());
    QFile secret(viewer.Folder() + QStringLiteral("/secret.txt"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();

    const QString remote = QStringLiteral("http://127.0.0.1:%1/x").arg(server.serverPort());
    EXPECT_EQ(Await(viewer.Page(), QStringLiteral("fetch('%1').then(() => 'loaded', () => 'refused')").arg(remote))
                  .toString(),
              QStringLiteral("refused"));
    EXPECT_EQ(Await(viewer.Page(), QStringLiteral("new Promise(done => { const i = new Image(); "
                                                  "i.onload = () => done('loaded'); i.onerror = () => done('refused'); "
                                                  "i.src = '%1'; })")
                                       .arg(remote))
                  .toString(),
              QStringLiteral("refused"));
    EXPECT_EQ(
        Await(viewer.Page(), QStringLiteral("new Promise(done => { const r = new XMLHttpRequest(); "
                                            "r.onload = () => done(r.responseText); r.onerror = () => done('refused'); "
                                            "r.open('GET', '%1'); r.send(); })")
                                 .arg(QUrl::fromLocalFile(secret.fileName()).toString()))
            .toString(),
        QStringLiteral("refused"));
    Idle(200);
    EXPECT_FALSE(server.hasPendingConnections());
    // The page's own library still loaded from beside it.
    EXPECT_EQ(Eval(viewer.Page(), QStringLiteral("typeof opensheetmusicdisplay")).toString(), QStringLiteral("object"));
}

// The menu the view shows for a right click, once the engine has asked for
// one; null when it shows none.
QMenu* RightClickMenu(TStartedHost& viewer) {
    QWebEngineView* view = viewer.Host().View();
    QSignalSpy requested(view, &QWidget::customContextMenuRequested);
    QTest::mouseClick(view->focusProxy(), Qt::RightButton, Qt::NoModifier, QPoint(40, 15));
    EXPECT_TRUE(WaitFor([&] { return !requested.isEmpty() || QApplication::activePopupWidget() != nullptr; }, 10000));
    Idle(100);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

TEST(ViewerReach, TheContextMenuOffersNothingThatReloadsOrLeavesThePage) {
    TStartedHost viewer;
    ASSERT_TRUE(viewer.StartAndWait());
    QWebEnginePage* page = viewer.Page();
    const auto offersNothingHarmful = [page](const QMenu* menu) {
        for (const QWebEnginePage::WebAction harmful :
             {QWebEnginePage::Back, QWebEnginePage::Forward, QWebEnginePage::Reload, QWebEnginePage::ViewSource,
              QWebEnginePage::SavePage, QWebEnginePage::ReloadAndBypassCache, QWebEnginePage::InspectElement})
            EXPECT_FALSE(menu->actions().contains(page->action(harmful))) << static_cast<int>(harmful);
    };

    // On the bare page the engine would offer only page commands: no menu.
    if (QMenu* menu = RightClickMenu(viewer)) {
        offersNothingHarmful(menu);
        menu->close();
    }

    // Over a selection, copying is still offered.
    Eval(page, QStringLiteral("window.getSelection().selectAllChildren(document.getElementById('message')); 0"));
    QMenu* menu = RightClickMenu(viewer);
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->actions().contains(page->action(QWebEnginePage::Copy)));
    offersNothingHarmful(menu);
    menu->close();
}

TEST(ViewerReach, TheViewerFilesAndTheDroppedCopyAreTheUsersAlone) {
    TTestFolder temp;
    TWebViewHost host(temp.path(), {});
    QSignalSpy dropped(&host, &TWebViewHost::MidiFileDropped);
    host.PrepareViewerFolder();
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("midi-drop")},
                        {QStringLiteral("name"), QStringLiteral("a.mid")},
                        {QStringLiteral("data"), QStringLiteral("TVRoZAAAAAYAAAABAGA=")}};
    host.EdgeBrowserWebMessageReceived(QString::fromUtf8(QJsonDocument(message).toJson()));
    ASSERT_EQ(dropped.count(), 1);
    const QFileDevice::Permissions ownerOnly =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
    for (const QString& file :
         {host.ViewerFolder() + QStringLiteral("/viewer.html"),
          host.ViewerFolder() + QStringLiteral("/opensheetmusicdisplay.min.js"), host.DroppedMidiFile()})
        EXPECT_EQ(QFile::permissions(file), ownerOnly) << file.toStdString();
}

}  // namespace
}  // namespace korvalin::test
