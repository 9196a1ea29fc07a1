// Times the score viewer in the real window: from Show score to the first
// piece drawn on the page, and to the whole score drawn. Prints one line of
// JSON per file; each file is shown from a viewer at rest. Usage:
//   bench_viewer [--whole] [--shots DIR] FILE.mid... [SCORE.musicxml...]
// --whole waits for every file to be drawn completely; otherwise the next file
// is opened as soon as the first piece of the last one is on the page (which
// also stops the drawing of the last one). --shots saves a picture of the
// window when the first piece is there and when the score is ready.
// A .musicxml file is the reference: the whole document drawn at once in
// the page, with the options the viewer had before it drew in pieces.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QScreen>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <cstdio>
#include <optional>

#include "MainForm.h"
#include "ScoreView.h"
#include "WebViewHost.h"

namespace {

class TBenchForm : public TfrmMain {
public:
    // The engravers have started and wait for work.
    bool EngraversIdle() const { return WebViewHost() != nullptr && WebViewHost()->ScoreView()->IsIdle(); }

protected:
    void ShowMessage(TMessageKind, const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool AskQuestion(const QString&) override { return false; }
};

QVariant Eval(QWebEnginePage* page, const QString& script) {
    std::optional<QVariant> result;
    page->runJavaScript(script, [&result](const QVariant& value) { result = value; });
    QElapsedTimer waited;
    waited.start();
    while (!result && waited.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return result.value_or(QVariant());
}

// Polls the page until the condition holds; the time it took, or -1.
qint64 WaitFor(QWebEnginePage* page, const QString& condition, const QElapsedTimer& clock, qint64 limit) {
    while (clock.elapsed() < limit) {
        if (Eval(page, condition).toBool()) return clock.elapsed();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return -1;
}

void Shot(QWidget& window, const QString& folder, const QString& name) {
    if (folder.isEmpty()) return;
    QScreen* screen = window.screen();
    const QPixmap picture = screen != nullptr ? screen->grabWindow(window.winId()) : window.grab();
    picture.save(QDir(folder).filePath(name));
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    bool whole = false;
    QString shots;
    QStringList files;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--whole")) whole = true;
        else if (arguments[i] == QStringLiteral("--shots") && i + 1 < arguments.size()) shots = arguments[++i];
        else files << arguments[i];
    }

    TBenchForm form;
    form.resize(1400, 900);
    form.show();
    QWebEnginePage* page = form.EdgeBrowser()->page();
    QElapsedTimer start;
    start.start();
    while (!form.FViewerReady() && start.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    const QString drawn = QStringLiteral("document.querySelector('#score .piece svg') !== null");
    const QString ready = QStringLiteral(
        "['Партитура готова.', 'The score is ready.'].includes("
        "document.getElementById('message').textContent)");
    for (const QString& file : files) {
        if (file.endsWith(QStringLiteral(".musicxml"))) {
            QFile score(file);
            if (!score.open(QIODevice::ReadOnly)) continue;
            const QString base64 = QString::fromLatin1(score.readAll().toBase64());
            Eval(page, QStringLiteral("window.clearScore(); window.__reference = null;"
                                      "(async () => { const box = document.getElementById('score');"
                                      "const renderer = new opensheetmusicdisplay.OpenSheetMusicDisplay(box, {"
                                      "autoResize: true, backend: 'svg', drawTitle: true,"
                                      " drawingParameters: 'compacttight' });"
                                      "const t0 = performance.now();"
                                      "const bytes = Uint8Array.from(atob('%1'), c => c.charCodeAt(0));"
                                      "await renderer.load(new TextDecoder().decode(bytes)); renderer.render();"
                                      "window.__reference = performance.now() - t0;"
                                      "renderer.AutoResizeEnabled = false; })(); 0")
                           .arg(base64));
            QElapsedTimer clock;
            clock.start();
            WaitFor(page, QStringLiteral("window.__reference !== null"), clock, 30 * 60 * 1000);
            std::printf("{\"file\": \"%s\", \"reference_whole_ms\": %lld}\n", qPrintable(file),
                        static_cast<long long>(Eval(page, QStringLiteral("window.__reference")).toDouble()));
            std::fflush(stdout);
            Eval(page, QStringLiteral("window.clearScore(); 0"));
            continue;
        }
        form.OpenMidiFile(file, QString());
        // Each file from a viewer at rest: an engraver that was dropped in
        // the middle of the last file's piece has started again.
        QElapsedTimer settle;
        settle.start();
        while (!form.EngraversIdle() && settle.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!form.btnPreview->isEnabled()) {
            std::printf("{\"file\": \"%s\", \"skipped\": \"no musical tracks\"}\n", qPrintable(file));
            continue;
        }
        QElapsedTimer clock;
        clock.start();
        form.btnPreview->click();
        const qint64 sent = clock.elapsed();
        qint64 first =
            WaitFor(page, drawn + QStringLiteral(" || document.getElementById('message').className === 'error'"), clock,
                    120000);
        if (first >= 0 && !Eval(page, drawn).toBool()) {
            std::printf("{\"file\": \"%s\", \"error\": \"%s\"}\n", qPrintable(file),
                        qPrintable(Eval(page, QStringLiteral("document.getElementById('message').textContent"))
                                       .toString()
                                       .replace(QLatin1Char('"'), QLatin1Char('\''))));
            continue;
        }
        const QString base = QFileInfo(file).completeBaseName();
        Shot(form, shots, base + QStringLiteral("-first.png"));
        qint64 done = -1;
        if (whole) {
            done = WaitFor(page, ready, clock, 30 * 60 * 1000);
            Shot(form, shots, base + QStringLiteral("-ready.png"));
        }
        std::printf("{\"file\": \"%s\", \"sent_ms\": %lld, \"first_piece_ms\": %lld, \"whole_ms\": %lld}\n",
                    qPrintable(file), static_cast<long long>(sent), static_cast<long long>(first),
                    static_cast<long long>(done));
        std::fflush(stdout);
    }
    return 0;
}
