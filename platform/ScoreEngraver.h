// Laying out score pieces in a hidden web page of their own.

#pragma once

#include <QByteArray>
#include <QColor>
#include <QJsonArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <functional>
#include <vector>

class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

namespace korvalin {

// A text of a system, for a printer to draw as text; its place is in the
// system drawing's pixels, the baseline's left end.
struct TSystemText {
    QString Text;
    double X = 0;
    double Y = 0;
    QString Family;
    double PixelSize = 12;
    bool Bold = false;
    bool Italic = false;
    QColor Color;
};

// One system of an engraved piece: the measures it holds (indices into the
// piece) and its drawing, an SVG document of Width x Height pixels.
struct TEngravedSystem {
    std::size_t First = 0;
    std::size_t End = 0;
    // How much of its line the measures take at their natural widths.
    double Fill = 1;
    double Height = 0;
    QString Svg;
    std::vector<TSystemText> Texts;  // only when asked to keep them apart
    // The measures across the system: [measure, x, width], the measure an
    // index into the piece, x and width in pixels of the drawing.
    QJsonArray Bars;
};

struct TEngraving {
    bool Ok = false;
    QString Error;
    double Width = 0;
    std::vector<TEngravedSystem> Systems;
};

struct TEngraveRequest {
    QByteArray Xml;      // a complete MusicXML document, UTF-8
    double Width = 800;  // pixels the systems span
    double Zoom = 1;
    bool StretchLast = false;  // justify the last system like the others
    bool SeparateTexts = false;
};

// Lays out pieces of a score with the score library in a web page of its own
// that is never shown, in a render process of its own: a long layout there
// holds up neither the window nor the page the user looks at, and a layout no
// longer wanted is dropped by dropping that page. One piece at a time.
class TScoreEngraver : public QObject {
    Q_OBJECT

public:
    using TDone = std::function<void(const TEngraving&)>;

    explicit TScoreEngraver(QObject* parent = nullptr);
    ~TScoreEngraver() override;

    bool IsBusy() const { return static_cast<bool>(FDone); }
    // Ready to start a piece at once: its page has loaded and it is idle.
    bool IsReady() const { return FLoaded && !FDone; }

    // Engraves a piece; `done` is called on this thread with the result, a
    // failure included (a piece the library cannot read, or the engraver's
    // render process dying on it). A request while busy replaces the piece in
    // hand, whose result is dropped.
    void Engrave(const TEngraveRequest& request, TDone done);

    // Drops the piece in hand: its result never comes. A layout still running
    // is cut short by starting the engraver afresh.
    void Abandon();

    // The render process of the page in use (0 while there is none), and
    // whether a layout runs in it now.
    qint64 RenderProcessPid() const;
    bool IsRunning() const { return FRunning; }

private:
    void CreatePage();
    void DropPage();
    void RunPending();
    void Finish(const TEngraving& result);

    QWebEngineProfile* FProfile = nullptr;
    QPointer<QWebEnginePage> FPage;
    QWebEngineView* FView = nullptr;
    // A dropped page whose render process is being ended; no page is made
    // until it has gone.
    QPointer<QWebEnginePage> FEnding;
    bool FLoaded = false;
    bool FRunning = false;
    // Counts requests, so that a late answer to an abandoned one is known.
    quint64 FTicket = 0;
    TEngraveRequest FRequest;
    TDone FDone;
};

// The text of a failed engraving when the render process died on it.
QString EngraverStoppedText(int exitCode);

// Which systems of an engraved piece to keep when pieces follow each other.
struct TSystemChoice {
    std::size_t Keep = 0;      // the first Keep systems
    bool Provisional = false;  // the only system is short: worth laying out again with more measures
    double Capacity = 0;       // measures a full system holds, as far as this piece tells (0: unknown)
};

// A piece's last system that holds little of its line broke only because the
// piece ended there; unless the piece had to end there (atLimit), it is left
// for the next piece, which starts with its measures and can fill the line.
TSystemChoice ChooseSystems(const std::vector<TEngravedSystem>& systems, std::size_t pieceMeasures, bool atLimit);

}  // namespace korvalin
