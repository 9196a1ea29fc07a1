// The hidden page that lays out score pieces with the score library, and
// what it hands back: each system's drawing and its measures.

#include "ScoreEngraver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>
#include <csignal>

#include <sys/types.h>

static void RegisterEngraverResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(viewer);
        return true;
    }();
    (void)registered;
}

namespace korvalin {
namespace {

QString ResourceText(const QString& name) {
    QFile file(QStringLiteral(":/korvalin/") + name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

QWebEngineScript DocumentScript(const QString& name, const QString& source) {
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    return script;
}

TEngraving ParseEngraving(const QString& json) {
    TEngraving result;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        result.Error = QStringLiteral("The engraver gave no answer");
        return result;
    }
    const QJsonObject object = document.object();
    result.Ok = object.value(QStringLiteral("ok")).toBool();
    result.Error = object.value(QStringLiteral("error")).toString();
    result.Width = object.value(QStringLiteral("width")).toDouble();
    for (const QJsonValue value : object.value(QStringLiteral("systems")).toArray()) {
        const QJsonObject system = value.toObject();
        TEngravedSystem engraved;
        engraved.First = static_cast<std::size_t>(std::max(0, system.value(QStringLiteral("first")).toInt()));
        engraved.End = static_cast<std::size_t>(std::max(0, system.value(QStringLiteral("end")).toInt()));
        engraved.Fill = system.value(QStringLiteral("fill")).toDouble(1);
        engraved.Height = system.value(QStringLiteral("height")).toDouble();
        engraved.Svg = system.value(QStringLiteral("svg")).toString();
        engraved.Bars = system.value(QStringLiteral("bars")).toArray();
        for (const QJsonValue textValue : system.value(QStringLiteral("texts")).toArray()) {
            const QJsonObject text = textValue.toObject();
            engraved.Texts.push_back(
                {text.value(QStringLiteral("text")).toString(), text.value(QStringLiteral("x")).toDouble(),
                 text.value(QStringLiteral("y")).toDouble(), text.value(QStringLiteral("family")).toString(),
                 text.value(QStringLiteral("size")).toDouble(12), text.value(QStringLiteral("bold")).toBool(),
                 text.value(QStringLiteral("italic")).toBool(),
                 QColor(text.value(QStringLiteral("color")).toString())});
        }
        result.Systems.push_back(std::move(engraved));
    }
    if (result.Ok && result.Systems.empty()) {
        result.Ok = false;
        result.Error = QStringLiteral("The score library drew no system");
    }
    return result;
}

}  // namespace

TSystemChoice ChooseSystems(const std::vector<TEngravedSystem>& systems, std::size_t pieceMeasures, bool atLimit) {
    // Less than this share of its line, and a system looks unfinished.
    constexpr double kShortFill = 0.6;
    // A full line holds measures up to about this share of it.
    constexpr double kFullFill = 0.85;
    TSystemChoice choice;
    choice.Keep = systems.size();
    bool contiguous = !systems.empty() && systems.front().First == 0 && systems.back().End == pieceMeasures;
    for (std::size_t i = 1; contiguous && i < systems.size(); ++i)
        contiguous = systems[i].First == systems[i - 1].End && systems[i].End > systems[i].First;
    if (!contiguous) return choice;

    const TEngravedSystem& last = systems.back();
    const auto lastMeasures = static_cast<double>(last.End - last.First);
    if (systems.size() >= 2) {
        choice.Capacity = static_cast<double>(last.First) / static_cast<double>(systems.size() - 1);
    } else if (last.Fill > 0) {
        choice.Capacity = std::max(1.0, lastMeasures * kFullFill / last.Fill);
    }
    if (!atLimit && last.Fill < kShortFill) {
        if (systems.size() >= 2) choice.Keep = systems.size() - 1;
        else choice.Provisional = true;
    }
    return choice;
}

QString EngraverStoppedText(int exitCode) { return QStringLiteral("The engraver stopped (code %1)").arg(exitCode); }

TScoreEngraver::TScoreEngraver(QObject* parent) : QObject(parent) {
    RegisterEngraverResources();
    // Off the record: the engraver keeps nothing on disk.
    FProfile = new QWebEngineProfile(this);
    FProfile->scripts()->insert(
        DocumentScript(QStringLiteral("korvalin-score-library"), ResourceText(QStringLiteral("OSMD_JS"))));
    FProfile->scripts()->insert(
        DocumentScript(QStringLiteral("korvalin-engraver"), ResourceText(QStringLiteral("ENGRAVER_JS"))));
    // The page lives in a view that counts as shown but never reaches the
    // screen: the web engine lowers the priority of a page nobody sees, and
    // the engraver's work is what the user waits for.
    FView = new QWebEngineView();
    FView->setAttribute(Qt::WA_DontShowOnScreen);
    FView->resize(800, 600);
    CreatePage();
    FView->show();
}

TScoreEngraver::~TScoreEngraver() {
    // A page going down still answers the scripts it was given, with nothing;
    // no one is to hear of that any more.
    ++FTicket;
    FDone = nullptr;
    // The view, then the pages (also those dropped but not yet gone), then
    // their profile.
    delete FView;
    for (QWebEnginePage* page : findChildren<QWebEnginePage*>(Qt::FindDirectChildrenOnly)) {
        page->disconnect(this);
        delete page;
    }
    delete FProfile;
}

void TScoreEngraver::CreatePage() {
    FLoaded = false;
    FRunning = false;
    FPage = new QWebEnginePage(FProfile, this);
    FView->setPage(FPage);
    connect(FPage, &QWebEnginePage::loadFinished, this, [this](bool) {
        FLoaded = true;
        RunPending();
    });
    connect(FPage, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus, int exitCode) {
                // Whatever the page was doing is lost. A fresh page comes with
                // the next piece, not at once: a process that cannot start
                // would otherwise be started again and again.
                const bool wasRunning = FRunning;
                DropPage();
                if (wasRunning) {
                    TEngraving failed;
                    failed.Error = EngraverStoppedText(exitCode);
                    Finish(failed);
                }
            });
    FPage->setHtml(QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body></body></html>"),
                   QUrl(QStringLiteral("about:blank")));
}

// Also called from the page's own signals, so the page goes later; its render
// process goes with it.
void TScoreEngraver::DropPage() {
    ++FTicket;
    if (FPage) {
        FPage->disconnect(this);
        FPage->deleteLater();
        FPage = nullptr;
    }
    FLoaded = false;
    FRunning = false;
}

void TScoreEngraver::Engrave(const TEngraveRequest& request, TDone done) {
    if (FRunning) Abandon();
    ++FTicket;
    FRequest = request;
    FDone = std::move(done);
    RunPending();
}

qint64 TScoreEngraver::RenderProcessPid() const { return FPage ? FPage->renderProcessPid() : 0; }

void TScoreEngraver::Abandon() {
    ++FTicket;
    FDone = nullptr;
    if (!FRunning) return;
    // A page dropped while its script runs leaves its render process behind
    // for good, one more with every score left in the middle. The process is
    // this engraver's alone (a profile of its own, one page at a time), so it
    // is ended here, and the next page waits until it has gone: a page made
    // at once could be placed in the dying process.
    const qint64 pid = FPage ? FPage->renderProcessPid() : 0;
    if (pid <= 0) {
        DropPage();
        CreatePage();
        return;
    }
    QPointer<QWebEnginePage> page = FPage.data();
    page->disconnect(this);
    FPage = nullptr;
    FLoaded = false;
    FRunning = false;
    FEnding = page;
    QWebEnginePage* const ending = page.data();
    const auto gone = [this, page, ending] {
        if (page) page->deleteLater();
        if (FEnding.data() != ending) return;
        FEnding = nullptr;
        if (!FPage) CreatePage();
        RunPending();
    };
    connect(page, &QWebEnginePage::renderProcessTerminated, this, gone);
    // Should the end go unnoticed, the engraver does not wait for ever.
    QTimer::singleShot(3000, this, gone);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
}

void TScoreEngraver::RunPending() {
    if (!FDone || FRunning || FEnding) return;
    if (!FPage) CreatePage();
    if (!FLoaded) return;
    FRunning = true;
    QJsonObject options;
    options.insert(QStringLiteral("width"), FRequest.Width);
    options.insert(QStringLiteral("zoom"), FRequest.Zoom);
    options.insert(QStringLiteral("stretchLast"), FRequest.StretchLast);
    options.insert(QStringLiteral("separateTexts"), FRequest.SeparateTexts);
    const QString script =
        QStringLiteral("window.engravePiece('") + QString::fromLatin1(FRequest.Xml.toBase64()) + QStringLiteral("', ") +
        QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Compact)) + QStringLiteral(")");
    FRequest.Xml.clear();
    const quint64 ticket = FTicket;
    QPointer<TScoreEngraver> self(this);
    FPage->runJavaScript(script, [self, ticket](const QVariant& value) {
        if (!self || ticket != self->FTicket) return;
        self->FRunning = false;
        self->Finish(ParseEngraving(value.toString()));
    });
}

void TScoreEngraver::Finish(const TEngraving& result) {
    TDone done = std::move(FDone);
    FDone = nullptr;
    if (done) done(result);
}

}  // namespace korvalin
