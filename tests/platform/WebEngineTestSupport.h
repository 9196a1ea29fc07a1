#pragma once

#include "WebViewHost.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

namespace korvalin::test {

// Runs the event loop until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 30000) {
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The value of a script expression, read back from the page.
inline QVariant Eval(QWebEnginePage* page, const QString& script, int milliseconds = 30000) {
    std::optional<QVariant> result;
    page->runJavaScript(script, [&result](const QVariant& value) { result = value; });
    EXPECT_TRUE(WaitFor([&] { return result.has_value(); }, milliseconds)) << script.toStdString();
    return result.value_or(QVariant());
}

// The settled value of a script expression that may give a promise. The
// expression runs in a task of its own, so that starting it returns at once
// however long its synchronous part takes; `milliseconds` bounds the wait.
inline QVariant Await(QWebEnginePage* page, const QString& expression, int milliseconds = 30000) {
    Eval(page, QStringLiteral("window.__korvalinAwait = undefined;"
                              "new Promise(r => setTimeout(r, 0)).then(() => (") +
                   expression +
                   QStringLiteral(")).then(v => { window.__korvalinAwait = { value: v }; },"
                                  " e => { window.__korvalinAwait = { error: String(e) }; }); 0"));
    // The page answers nothing while the expression's synchronous part runs.
    EXPECT_TRUE(WaitFor(
        [&] { return Eval(page, QStringLiteral("window.__korvalinAwait !== undefined"), milliseconds).toBool(); },
        milliseconds))
        << expression.toStdString();
    const QVariantMap settled = Eval(page, QStringLiteral("window.__korvalinAwait")).toMap();
    EXPECT_FALSE(settled.contains(QStringLiteral("error")))
        << settled.value(QStringLiteral("error")).toString().toStdString();
    return settled.value(QStringLiteral("value"));
}

// A folder of one test, left for the test program's own temporary folder to
// remove once the web engine has stopped writing into it.
class TTestFolder {
public:
    TTestFolder() { FFolder.setAutoRemove(false); }
    QString path() const { return QDir(FFolder.path()).canonicalPath(); }

private:
    QTemporaryDir FFolder;
};

// A host started in a temporary folder of its own, its view shown.
class TStartedHost {
public:
    explicit TStartedHost(TLocalizer localized = {}, const QString& subFolder = {}) {
        FFolder = FTemp.path();
        if (!subFolder.isEmpty()) {
            QDir(FFolder).mkpath(subFolder);
            FFolder += QLatin1Char('/') + subFolder;
        }
        FHost = std::make_unique<TWebViewHost>(FFolder, std::move(localized));
        FHost->View()->resize(1000, 760);
        FHost->View()->show();
    }

    TWebViewHost& Host() { return *FHost; }
    QWebEnginePage* Page() { return FHost->View()->page(); }
    const QString& Folder() const { return FFolder; }

    // Starts the viewer and waits until the page has loaded.
    bool StartAndWait() {
        FHost->Start();
        return WaitFor([this] { return FHost->IsReady(); });
    }

private:
    TTestFolder FTemp;
    QString FFolder;
    std::unique_ptr<TWebViewHost> FHost;
};

}  // namespace korvalin::test
