// The viewer's side of a long score shown in pieces.

#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "ScoreEngraver.h"

namespace korvalin {

class TMusicXmlPieceCutter;

// Feeds the viewer page a score a piece at a time. The pieces are laid out by
// an engraver of their own and sent to the page as drawings of whole systems;
// the page reports where the user looks and at what width and zoom, and what
// is near the view is drawn first. A new layout (another width or zoom)
// starts where the user looks. Everything runs on the window's thread.
class TScoreView : public QObject {
    Q_OBJECT

public:
    // runScript runs a script in the page, without waiting for it.
    explicit TScoreView(std::function<void(const QString&)> runScript, QObject* parent = nullptr);
    ~TScoreView() override;

    // Starts the first engraver, so that the first score need not wait for
    // it; only once the web engine is known to be there.
    void Prepare();

    // Shows a MusicXML document in place of what was shown; a document that
    // cannot be cut into pieces is reported on the page.
    void Show(const QByteArray& document);
    // Forgets the score: nothing more of it is drawn or sent.
    void Clear();
    // The page's report ("score-view" message) of its width, zoom and view.
    void ViewChanged(const QJsonObject& report);

    // The page's id of the score shown; -1 while none is.
    int ShownScore() const { return FCutter ? FScore : -1; }
    // Whether a score is being shown and still has parts to draw.
    bool IsBuilding() const;
    // Whether every engraver has started and waits for work.
    bool IsIdle() const;

signals:
    // Every measure of the current layout has been drawn (or failed).
    void Finished();

private:
    struct TSegment {
        std::size_t End = 0;
        bool Failed = false;
    };
    struct TJob {
        int Score = 0;
        int Layout = 0;
        std::size_t First = 0;
        std::size_t End = 0;
        std::size_t Limit = 0;  // where the gap it fills ends
        bool Redraw = false;    // a piece drawn before, sent again
        bool Opening = false;   // the first piece of a layout, small to come at once
    };

    // An engraver and the piece it is laying out, if any.
    struct TWorker {
        TScoreEngraver* Engraver = nullptr;
        std::optional<TJob> Job;
    };

    void Pump();
    std::optional<TJob> NextJob();
    void AbandonAll();
    void ForgetDrawn();
    void StartLayout(double width, double zoom, double anchor);
    void Engraved(std::size_t worker, const TJob& job, const TEngraving& engraving);
    void SendPiece(const TJob& job, std::size_t end, const std::vector<TEngravedSystem>& systems);
    void Remember(std::size_t first, const QString& script);
    std::vector<std::pair<std::size_t, std::size_t>> Gaps() const;
    std::size_t PieceEndFor(std::size_t first, std::size_t limit) const;

    std::function<void(const QString&)> FRunScript;
    // Pieces are laid out side by side in separate processes: the first
    // from where the user looks, the others further on.
    std::vector<TWorker> FWorkers;
    std::size_t FWorkerCount = 1;
    std::shared_ptr<const TMusicXmlPieceCutter> FCutter;
    int FScore = 0;
    int FLayout = -1;
    double FWidth = 0;
    double FZoom = 1;
    double FViewTop = 0;
    double FViewBottom = 0;
    std::vector<std::size_t> FNeed;
    std::map<std::size_t, TSegment> FSegments;
    bool FFinished = false;
    // Measures per system seen so far in this layout, for sizing pieces.
    double FMeasuresPerSystem = 0;
    // Drawings sent, kept for when the page asks for them again; the oldest
    // go first once they take too much room.
    std::map<std::size_t, QString> FSent;
    std::list<std::size_t> FSentOrder;
    qsizetype FSentBytes = 0;
};

}  // namespace korvalin
