// The score viewer in Qt WebEngine: the page's folder and profile, the
// scripts it runs, its messages, and MIDI files dropped onto it.

#include "WebViewHost.h"

#include "FileIO.h"
#include "PrivateFolder.h"
#include "ScoreView.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLibraryInfo>
#include <QMenu>
#include <QUrl>
#include <QWebChannel>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>
#include <span>
#include <utility>

// The resources live in a static library, where nothing refers to their
// registration by name; registering them here keeps them in every program.
static void RegisterViewerResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(viewer);
        return true;
    }();
    (void)registered;
}

namespace korvalin {

// Receives what the page posts through window.chrome.webview.postMessage; the
// script injected into every document hands it JSON.stringify(value).
class TWebMessageBridge : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE void postMessage(const QString& json) { emit MessagePosted(json); }

signals:
    void MessagePosted(const QString& json);
};

// The web view shows our viewer page and nothing else: a link dropped onto it,
// a script or a reload cannot take it elsewhere (the score and the page's
// bridge to the window would go with it), and it opens no other windows.
class TViewerPage : public QWebEnginePage {
    Q_OBJECT

public:
    TViewerPage(QWebEngineProfile* profile, QUrl viewerUrl, QObject* parent)
        : QWebEnginePage(profile, parent), FViewerUrl(std::move(viewerUrl)) {}

    bool IsViewerUrl(const QUrl& url) const {
        return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments) == FViewerUrl;
    }

protected:
    // Only the host's own load of the page (a "typed" navigation) passes.
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        return isMainFrame && type == NavigationTypeTyped && IsViewerUrl(url);
    }
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    const QUrl FViewerUrl;
};

// Lets the page load what lies in the viewer folder and what it makes itself
// (data: and blob: URLs), nothing from the network or elsewhere on the disk.
class TViewerRequestGuard : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT

public:
    TViewerRequestGuard(const QString& viewerFolder, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), FPrefix(QDir::cleanPath(viewerFolder) + QLatin1Char('/')) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const QUrl url = info.requestUrl();
        const QString scheme = url.scheme();
        const bool allowed = scheme == QLatin1String("data") || scheme == QLatin1String("blob") ||
                             (url.isLocalFile() && QDir::cleanPath(url.toLocalFile()).startsWith(FPrefix));
        if (!allowed) info.block(true);
    }

private:
    const QString FPrefix;
};

namespace {

const QString ViewerFolderName = QStringLiteral("Korvalin-Viewer-0.5.0");
const QString WebDataFolderName = QStringLiteral("Korvalin-WebView2");
const QString BridgeObjectName = QStringLiteral("korvalinHost");

// A dropped file travels as Base64 inside one message; a longer text (more
// than about 96 MiB of file) is refused.
constexpr qsizetype MaxDropDataLength = 134217728;

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

// Qt WebEngine aborts the whole program when it cannot find its helper
// process, so look for it first, where Qt WebEngine itself looks: only the
// variable QTWEBENGINEPROCESS_PATH when it is set, else beside the program and
// in Qt's helper-program folder.
bool WebEngineProcessFound() {
    const QString fromEnvironment = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    QStringList candidates;
    if (!fromEnvironment.isEmpty()) {
        candidates << fromEnvironment;
    } else {
        const QString name = QStringLiteral("QtWebEngineProcess");
        candidates << QCoreApplication::applicationDirPath() + QLatin1Char('/') + name
                   << QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + QLatin1Char('/') + name;
    }
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return true;
    }
    return false;
}

// The page is written as if the native bridge existed; this script, run at
// document creation, gives it window.chrome.webview.postMessage over a
// WebChannel. Messages posted before the channel is connected wait for it.
QString BridgeScriptSource() {
    QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    if (!channelScript.open(QIODevice::ReadOnly)) {
        throw EViewerError("The Qt WebChannel client script is missing from the program");
    }
    const QString channelSource = QString::fromUtf8(channelScript.readAll());
    return QStringLiteral("(function () {\n") + channelSource +
           QStringLiteral(
               "\n"
               "var host = null;\n"
               "var waiting = [];\n"
               "window.chrome = window.chrome || {};\n"
               "window.chrome.webview = {\n"
               "  postMessage: function (value) {\n"
               "    var json = JSON.stringify(value);\n"
               "    if (host) { host.postMessage(json); } else { waiting.push(json); }\n"
               "  }\n"
               "};\n"
               "new QWebChannel(qt.webChannelTransport, function (channel) {\n"
               "  host = channel.objects.") +
           BridgeObjectName +
           QStringLiteral(
               ";\n"
               "  waiting.splice(0).forEach(function (json) { host.postMessage(json); });\n"
               "});\n"
               "})();\n");
}

}  // namespace

TWebViewHost::TWebViewHost(const QString& tempFolder, TLocalizer localized, QObject* parent)
    : QObject(parent), FTempFolder(tempFolder), FLocalized(std::move(localized)) {
    RegisterViewerResources();
    if (!FLocalized) {
        FLocalized = [](const QString& russian, const QString&) { return russian; };
    }
    FView = new QWebEngineView();
    FView->setObjectName(QStringLiteral("EdgeBrowser"));
    FScoreView = new TScoreView([this](const QString& script) { RunScript(script); }, this);
}

TWebViewHost::~TWebViewHost() {
    // The page must go before its profile; the view goes with its parent
    // widget, or here when the window never took it.
    delete FPage;
    if (FView && !FView->parent()) delete FView;
    delete FProfile;
}

QWebEngineView* TWebViewHost::View() const { return FView; }

void TWebViewHost::Start() {
    try {
        PrepareViewerFolder();
        StartWebEngine();
        NavigateToViewer();
    } catch (const std::exception& error) {
        FViewerReady = false;
        FViewerError = QString::fromUtf8(error.what());
        throw;
    }
}

void TWebViewHost::PrepareViewerFolder() {
    FViewerFolder = FTempFolder + QLatin1Char('/') + ViewerFolderName;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(ToUtf8(FViewerFolder)), error);
    if (error) {
        throw EFileError("Cannot create folder \"" + ToUtf8(FViewerFolder) + "\": " + error.message());
    }
    for (const auto& [resource, name] :
         {std::pair{QStringLiteral("VIEWER_HTML"), QStringLiteral("/viewer.html")},
          std::pair{QStringLiteral("OSMD_JS"), QStringLiteral("/opensheetmusicdisplay.min.js")}}) {
        const TPrivateFileMode privateMode(FViewerFolder + name);
        SaveResourceToFile(resource, FViewerFolder + name);
    }
}

void TWebViewHost::SaveResourceToFile(const QString& resourceName, const QString& fileName) {
    RegisterViewerResources();
    QFile resource(QStringLiteral(":/korvalin/") + resourceName);
    if (!resource.open(QIODevice::ReadOnly)) {
        throw EViewerError("The resource " + ToUtf8(resourceName) + " is missing from the program");
    }
    const QByteArray bytes = resource.readAll();
    WriteFileAtomically(ToUtf8(fileName),
                        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                                      static_cast<std::size_t>(bytes.size())));
}

void TWebViewHost::StartWebEngine() {
    if (!WebEngineProcessFound()) {
        throw EViewerError(ToUtf8(FLocalized(QStringLiteral("Не удалось загрузить веб-движок Qt WebEngine"),
                                             QStringLiteral("Could not load the Qt WebEngine web view"))));
    }

    const QString dataFolder = FTempFolder + QLatin1Char('/') + WebDataFolderName;
    FProfile = new QWebEngineProfile(QStringLiteral("Korvalin"));
    FProfile->setPersistentStoragePath(dataFolder);
    FProfile->setCachePath(dataFolder + QStringLiteral("/Cache"));

    FProfile->setUrlRequestInterceptor(new TViewerRequestGuard(FViewerFolder, FProfile));

    auto* page = new TViewerPage(FProfile, ViewerUrl(), FView);
    FPage = page;
    QWebEngineSettings* settings = FPage->settings();
    settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    InstallMessageBridge();
    FScoreView->Prepare();

    // The engine's own menu offers Back, Reload, View source and Save page,
    // each of which loses the score or leaves the page; ours keeps what is
    // harmless.
    FView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FView, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        if (QMenu* menu = CreateContextMenu()) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(FView->mapToGlobal(position));
        }
    });

    connect(FPage, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        switch (info.status()) {
            case QWebEngineLoadingInfo::LoadSucceededStatus: EdgeBrowserNavigationCompleted(true, 0); break;
            case QWebEngineLoadingInfo::LoadFailedStatus:
            case QWebEngineLoadingInfo::LoadStoppedStatus:
                EdgeBrowserNavigationCompleted(false, info.errorCode());
                break;
            case QWebEngineLoadingInfo::LoadStartedStatus: break;
        }
    });
    connect(
        FPage, &QWebEnginePage::renderProcessTerminated, this,
        [this](QWebEnginePage::RenderProcessTerminationStatus, int exitCode) { RenderProcessTerminated(exitCode); });

    FView->setPage(FPage);
}

void TWebViewHost::InstallMessageBridge() {
    auto* bridge = new TWebMessageBridge(FPage);
    // What the page posts is acted on (a file written, a file opened) only
    // while the page is ours.
    connect(bridge, &TWebMessageBridge::MessagePosted, this, [this](const QString& json) {
        if (FPage && static_cast<TViewerPage*>(FPage.data())->IsViewerUrl(FPage->url()))
            EdgeBrowserWebMessageReceived(json);
    });
    auto* channel = new QWebChannel(FPage);
    channel->registerObject(BridgeObjectName, bridge);
    FPage->setWebChannel(channel, QWebEngineScript::MainWorld);

    QWebEngineScript script;
    script.setName(QStringLiteral("korvalin-webview-bridge"));
    script.setSourceCode(BridgeScriptSource());
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    FPage->scripts().insert(script);
}

// Qt WebEngine creates its view at once; what the design's asynchronous
// creation result stands for here is a render process that dies before the
// page has loaded.
void TWebViewHost::EdgeBrowserCreateWebViewCompleted(int exitCode) {
    if (FNavigationDone) return;
    FNavigationDone = true;
    FViewerReady = false;
    FViewerError = FLocalized(QStringLiteral("Qt WebEngine не запустился (код %1)."),
                              QStringLiteral("Qt WebEngine failed to start (code %1)."))
                       .arg(exitCode);
    emit CreationFailed(FViewerError);
}

void TWebViewHost::RenderProcessTerminated(int exitCode) {
    if (!FNavigationDone) {
        EdgeBrowserCreateWebViewCompleted(exitCode);
        return;
    }
    // Only a page that was working can die; one that never loaded stays
    // unavailable for good.
    if (!FViewerReady) return;
    FViewerReady = false;
    FPageDead = true;
    FScoreView->Clear();
    emit PageDied(FLocalized(QStringLiteral("Просмотрщик партитуры остановился (код %1); «Показать партитуру» запустит "
                                            "его снова."),
                             QStringLiteral("The score viewer stopped (code %1); Show score starts it again."))
                      .arg(exitCode));
}

QUrl TWebViewHost::ViewerUrl() const {
    // QUrl::fromLocalFile percent-encodes what a URL cannot carry as it is
    // ("#", "%", spaces), so any temporary folder gives a working address.
    return QUrl::fromLocalFile(QDir::cleanPath(FViewerFolder + QStringLiteral("/viewer.html")));
}

void TWebViewHost::NavigateToViewer() { FPage->load(ViewerUrl()); }

QMenu* TWebViewHost::CreateContextMenu() const {
    if (!FView || !FPage) return nullptr;
    QMenu* standard = FView->createStandardContextMenu();
    if (standard == nullptr) return nullptr;
    QList<QAction*> kept;
    for (QAction* action : standard->actions()) {
        for (const QWebEnginePage::WebAction harmless :
             {QWebEnginePage::Copy, QWebEnginePage::SelectAll, QWebEnginePage::Unselect,
              QWebEnginePage::CopyImageToClipboard})
            if (action == FPage->action(harmless) && action->isEnabled()) kept << action;
    }
    delete standard;
    if (kept.isEmpty()) return nullptr;
    auto* menu = new QMenu(FView);
    menu->setObjectName(QStringLiteral("EdgeBrowserMenu"));
    menu->addActions(kept);
    return menu;
}

void TWebViewHost::EdgeBrowserNavigationCompleted(bool success, int webErrorStatus) {
    // There is no retry: once the viewer has started or failed, later load
    // events (a reload of the page, say) do not change its state.
    if (FNavigationDone) return;
    FNavigationDone = true;
    FViewerReady = success;
    if (success) {
        FViewerError.clear();
        SetPageLanguage(FEnglish);
        SendPendingScore();
        emit ViewerReady();
    } else {
        FViewerError = FLocalized(QStringLiteral("Ошибка навигации Qt WebEngine: %1"),
                                  QStringLiteral("Qt WebEngine navigation error: %1"))
                           .arg(webErrorStatus);
        emit NavigationFailed(FViewerError);
    }
}

void TWebViewHost::RunScript(const QString& script) {
    if (!FViewerReady || !FPage) return;
    FPage->runJavaScript(script);
}

void TWebViewHost::SendScoreFile(const QString& fileName) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(ToUtf8(fileName));
    const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    FPendingXmlBase64 = QString::fromLatin1(raw.toBase64());
    if (FPageDead && FPage) {
        // A fresh page; the score goes to it once it has loaded.
        FPageDead = false;
        FNavigationDone = false;
        NavigateToViewer();
        return;
    }
    SendPendingScore();
}

void TWebViewHost::SendPendingScore() {
    if (!FViewerReady || FPendingXmlBase64.isEmpty()) return;
    FScoreView->Show(QByteArray::fromBase64(FPendingXmlBase64.toLatin1()));
    FPendingXmlBase64.clear();
}

void TWebViewHost::ClearScore() {
    DropPendingScore();
    FScoreView->Clear();
    RunScript(QStringLiteral("window.clearScore();"));
}

void TWebViewHost::SetPageLanguage(bool english) {
    FEnglish = english;
    RunScript(english ? QStringLiteral("window.setViewerLanguage('en');")
                      : QStringLiteral("window.setViewerLanguage('ru');"));
}

void TWebViewHost::EdgeBrowserWebMessageReceived(const QString& json) {
    if (json.isEmpty()) return;

    QJsonObject message;
    try {
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) return;
        message = document.object();
    } catch (const std::exception& error) {
        emit ErrorMessage(FLocalized(QStringLiteral("Не удалось обработать перетащенный файл:"),
                                     QStringLiteral("Could not process the dropped file:")) +
                          QLatin1Char('\n') + QString::fromUtf8(error.what()));
        return;
    }

    // Where the user looks in the score, and at what width and zoom.
    if (message.value(QStringLiteral("type")).toString() == QStringLiteral("score-view")) {
        FScoreView->ViewChanged(message);
        return;
    }

    // A click on a measure of the score shown, not of one shown before.
    if (message.value(QStringLiteral("type")).toString() == QStringLiteral("measure-click")) {
        const int measure = message.value(QStringLiteral("measure")).toInt(-1);
        if (measure >= 0 && message.value(QStringLiteral("score")).toInt(-2) == FScoreView->ShownScore())
            emit MeasureClicked(measure);
        return;
    }

    // Anything else the page might post is not ours to act on; a name or data
    // that is not text is no drop of ours either.
    const QJsonValue type = message.value(QStringLiteral("type"));
    const QJsonValue name = message.value(QStringLiteral("name"));
    const QJsonValue data = message.value(QStringLiteral("data"));
    if (!type.isString() || type.toString() != QStringLiteral("midi-drop")) return;
    if (!name.isString() || !data.isString()) return;

    OpenDroppedFile(name.toString(), data.toString());
}

void TWebViewHost::OpenDroppedFile(const QString& name, const QString& data) {
    const auto fail = [this](const QString& reason) {
        emit ErrorMessage(FLocalized(QStringLiteral("Не удалось открыть перетащенный MIDI-файл:"),
                                     QStringLiteral("Could not open the dropped MIDI file:")) +
                          QLatin1Char('\n') + reason);
    };

    // The name is shown as the page gave it, without any folder part.
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char(':')));
    const QString fileName = name.mid(cut + 1);

    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? fileName.mid(dot).toLower() : QString();
    if (extension != QStringLiteral(".mid") && extension != QStringLiteral(".midi")) {
        fail(FLocalized(QStringLiteral("Поддерживаются только файлы .mid и .midi."),
                        QStringLiteral("Only .mid and .midi files are supported.")));
        return;
    }
    if (data.size() > MaxDropDataLength) {
        fail(FLocalized(QStringLiteral("MIDI-файл слишком большой."), QStringLiteral("The MIDI file is too large.")));
        return;
    }
    const QByteArray bytes = QByteArray::fromBase64(data.toLatin1());
    if (bytes.isEmpty()) {
        fail(FLocalized(QStringLiteral("Перетащенный MIDI-файл пуст."),
                        QStringLiteral("The dropped MIDI file is empty.")));
        return;
    }

    emit StopPlaybackRequested();
    try {
        if (FDroppedMidiFile.isEmpty()) {
            FDroppedMidiFile =
                FTempFolder + QStringLiteral("/Korvalin-drop-%1.mid").arg(QCoreApplication::applicationPid());
        }
        const TPrivateFileMode privateMode(FDroppedMidiFile);
        WriteFileAtomically(ToUtf8(FDroppedMidiFile),
                            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                                          static_cast<std::size_t>(bytes.size())));
    } catch (const std::exception& error) {
        fail(QString::fromUtf8(error.what()));
        return;
    }
    emit MidiFileDropped(FDroppedMidiFile, fileName);
}

void TWebViewHost::ShowPlaybackCursor(std::size_t measure, double fraction) {
    if (FScoreView == nullptr || FScoreView->ShownScore() < 0) return;
    RunScript(QStringLiteral("window.showPlaybackCursor(%1, %2, %3);")
                  .arg(FScoreView->ShownScore())
                  .arg(static_cast<qulonglong>(measure))
                  .arg(QString::number(fraction, 'f', 4)));
}

void TWebViewHost::HidePlaybackCursor() { RunScript(QStringLiteral("window.hidePlaybackCursor();")); }

void TWebViewHost::ShowPlaybackStart(std::size_t measure) {
    if (FScoreView == nullptr || FScoreView->ShownScore() < 0) return;
    RunScript(QStringLiteral("window.setPlaybackStart(%1, %2);")
                  .arg(FScoreView->ShownScore())
                  .arg(static_cast<qulonglong>(measure)));
}

}  // namespace korvalin

#include "WebViewHost.moc"
