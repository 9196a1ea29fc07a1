// The score shown a piece at a time: which pieces to lay out first, how
// large, and keeping the page in step as the user scrolls and zooms.

#include "ScoreView.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <exception>

#include "MusicXmlPieces.h"

namespace korvalin {
namespace {

// The first piece of a layout is small, so that the first screen comes at
// once; later pieces are larger, since each costs a fixed price besides its
// measures. A piece of a large ensemble still gets a few measures, and dense
// music fewer (the layout's cost grows with the notes).
constexpr std::int64_t kFirstStaffMeasures = 32;
constexpr std::int64_t kFirstNotes = 120;
constexpr std::int64_t kStaffMeasures = 120;
constexpr std::int64_t kNotes = 900;

// Drawings kept for the page's return visits.
constexpr qsizetype kSentBytes = 64 * 1024 * 1024;

QString Json(const QJsonValue& value) {
    if (value.isObject()) return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray()) return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    // A lone string: inside an array, then without the brackets.
    const QString array = QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    return array.mid(1, array.size() - 2);
}

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

TScoreView::TScoreView(std::function<void(const QString&)> runScript, QObject* parent)
    : QObject(parent), FRunScript(std::move(runScript)) {
    const int cores = QThread::idealThreadCount();
    FWorkerCount = cores >= 2 ? static_cast<std::size_t>(std::clamp(cores - 1, 2, 3)) : 1;
}

void TScoreView::Prepare() {
    if (FWorkers.empty()) FWorkers.push_back({new TScoreEngraver(this), std::nullopt});
}

TScoreView::~TScoreView() = default;

bool TScoreView::IsBuilding() const { return FCutter != nullptr && !FFinished; }

bool TScoreView::IsIdle() const {
    return !FWorkers.empty() &&
           std::all_of(FWorkers.begin(), FWorkers.end(), [](const TWorker& w) { return w.Engraver->IsReady(); });
}

// What was drawn or sent belongs to one layout of one score.
void TScoreView::ForgetDrawn() {
    FSegments.clear();
    FNeed.clear();
    FSent.clear();
    FSentOrder.clear();
    FSentBytes = 0;
    FFinished = false;
}

void TScoreView::Clear() {
    ++FScore;
    FCutter.reset();
    FLayout = -1;
    ForgetDrawn();
    AbandonAll();
}

void TScoreView::AbandonAll() {
    for (TWorker& worker : FWorkers) {
        if (!worker.Job) continue;
        worker.Job.reset();
        worker.Engraver->Abandon();
    }
}

void TScoreView::Show(const QByteArray& document) {
    // The width and zoom the page had for the last score are most likely
    // what it has now: the first piece starts without waiting to hear.
    const double width = FWidth;
    const double zoom = FZoom;
    Clear();
    FMeasuresPerSystem = 0;
    FWidth = 0;
    try {
        FCutter = std::make_shared<const TMusicXmlPieceCutter>(document.toStdString());
    } catch (const std::exception& error) {
        FRunScript(QStringLiteral("window.failScore(%1, %2);").arg(FScore).arg(Json(QString::fromUtf8(error.what()))));
        return;
    }
    const TMusicXmlHeading& heading = FCutter->Heading();
    QJsonArray numbers;
    for (std::size_t i = 0; i < FCutter->MeasureCount(); ++i) numbers.append(Utf8(FCutter->Measure(i).Number));
    const QJsonObject info{
        {QStringLiteral("id"), FScore},
        {QStringLiteral("heading"), QJsonObject{{QStringLiteral("title"), Utf8(heading.Title)},
                                                {QStringLiteral("subtitle"), Utf8(heading.Subtitle)},
                                                {QStringLiteral("composer"), Utf8(heading.Composer)}}},
        {QStringLiteral("numbers"), numbers},
        {QStringLiteral("staves"), FCutter->StaffCount()}};
    // The page answers with its width and zoom; a layout begun on the old
    // ones is begun again if they differ.
    FRunScript(QStringLiteral("window.beginScore(") + Json(info) + QStringLiteral(");"));
    if (width > 0) {
        FViewTop = FViewBottom = 0;
        StartLayout(width, zoom, 0);
        Pump();
    }
}

void TScoreView::ViewChanged(const QJsonObject& report) {
    if (!FCutter || report.value(QStringLiteral("score")).toInt(-1) != FScore) return;
    const double width = report.value(QStringLiteral("width")).toDouble();
    const double zoom = report.value(QStringLiteral("zoom")).toDouble(1);
    if (width < 1 || zoom <= 0) return;
    FViewTop = report.value(QStringLiteral("top")).toDouble();
    FViewBottom = std::max(FViewTop, report.value(QStringLiteral("bottom")).toDouble());
    if (FLayout < 0 || std::abs(width - FWidth) >= 1 || std::abs(zoom - FZoom) > 1e-6) {
        StartLayout(width, zoom, FLayout < 0 ? 0 : FViewTop);
    } else if (report.value(QStringLiteral("layout")).toInt(-2) == FLayout) {
        FNeed.clear();
        for (const QJsonValue first : report.value(QStringLiteral("need")).toArray())
            if (first.toInteger(-1) >= 0) FNeed.push_back(static_cast<std::size_t>(first.toInteger()));
    }
    Pump();
}

void TScoreView::StartLayout(double width, double zoom, double anchor) {
    // A line of the new layout holds as many measures as its width in the
    // drawing's units allows, as far as the old one tells.
    if (FMeasuresPerSystem > 0 && FWidth > 0 && FZoom > 0) FMeasuresPerSystem *= (width / zoom) / (FWidth / FZoom);
    ++FLayout;
    FWidth = width;
    FZoom = zoom;
    ForgetDrawn();
    // The new layout starts where the user looks: near the top, at the top,
    // so that its first lines break as the music does.
    FViewTop = anchor < 2 * std::max(1.0, FMeasuresPerSystem) ? 0 : anchor;
    AbandonAll();
}

std::vector<std::pair<std::size_t, std::size_t>> TScoreView::Gaps() const {
    std::vector<std::pair<std::size_t, std::size_t>> gaps;
    std::size_t at = 0;
    for (const auto& [first, segment] : FSegments) {
        if (first > at) gaps.emplace_back(at, first);
        at = std::max(at, segment.End);
    }
    if (at < FCutter->MeasureCount()) gaps.emplace_back(at, FCutter->MeasureCount());
    return gaps;
}

std::size_t TScoreView::PieceEndFor(std::size_t first, std::size_t limit) const {
    const std::int64_t staves = std::max(1, FCutter->Measure(first).Staves);
    if (FSegments.empty() && FMeasuresPerSystem <= 0)
        return FCutter->PieceEnd(first, limit, std::max(kFirstStaffMeasures, 2 * staves), kFirstNotes);
    // Enough for a system and the start of the next, so that pieces break
    // where the music would.
    const double perSystem = FMeasuresPerSystem > 0 ? FMeasuresPerSystem : 4;
    const auto measures = static_cast<std::int64_t>(std::ceil(perSystem)) + 1;
    return FCutter->PieceEnd(first, limit, std::max(kStaffMeasures, staves * measures), kNotes);
}

void TScoreView::Pump() {
    if (!FCutter || FLayout < 0) return;
    Prepare();
    // The first piece of a layout has the machine to itself; the other
    // engravers join once it is on the page.
    if (!FSegments.empty() || FMeasuresPerSystem > 0)
        while (FWorkers.size() < FWorkerCount) FWorkers.push_back({new TScoreEngraver(this), std::nullopt});
    // An engraver that is up and idle takes the next piece before one that
    // is still starting (after a score was dropped in the middle of a piece).
    std::vector<std::size_t> order(FWorkers.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_partition(order.begin(), order.end(),
                          [this](std::size_t i) { return FWorkers[i].Engraver->IsReady(); });
    // Counted before any is given work: an idle engraver ahead of a busy
    // one in the order must not start a second piece beside the opening one.
    const std::size_t allowed = FSegments.empty() ? 1 : FWorkers.size();
    auto working = static_cast<std::size_t>(
        std::count_if(FWorkers.begin(), FWorkers.end(), [](const TWorker& w) { return w.Job.has_value(); }));
    for (const std::size_t index : order) {
        if (FWorkers[index].Job) continue;
        if (working >= allowed) break;
        ++working;
        const std::optional<TJob> job = NextJob();
        if (!job) break;
        TEngraveRequest request;
        try {
            request.Xml = QByteArray::fromStdString(FCutter->Piece(job->First, job->End, job->First == 0).Xml);
        } catch (const std::exception& error) {
            TEngraving failed;
            failed.Error = QString::fromUtf8(error.what());
            Engraved(index, *job, failed);
            return;
        }
        request.Width = FWidth;
        request.Zoom = FZoom;
        request.StretchLast = job->End < FCutter->MeasureCount();
        FWorkers[index].Job = job;
        const TJob taken = *job;
        FWorkers[index].Engraver->Engrave(
            request, [this, index, taken](const TEngraving& engraving) { Engraved(index, taken, engraving); });
    }
    if (!FFinished && Gaps().empty() &&
        std::none_of(FWorkers.begin(), FWorkers.end(), [](const TWorker& w) { return w.Job.has_value(); })) {
        FFinished = true;
        FRunScript(QStringLiteral("window.finishScore(%1, %2);").arg(FScore).arg(FLayout));
        emit Finished();
    }
}

std::optional<TScoreView::TJob> TScoreView::NextJob() {
    auto inFlight = [this](std::size_t first) {
        return std::any_of(FWorkers.begin(), FWorkers.end(),
                           [first](const TWorker& w) { return w.Job && w.Job->First == first; });
    };
    // Pieces near the view whose drawings the page let go come back first.
    while (!FNeed.empty()) {
        const std::size_t first = FNeed.back();
        FNeed.pop_back();
        const auto segment = FSegments.find(first);
        if (segment == FSegments.end() || segment->second.Failed || inFlight(first)) continue;
        if (const auto sent = FSent.find(first); sent != FSent.end()) {
            FRunScript(sent->second);
            FSentOrder.remove(first);
            FSentOrder.push_back(first);
            continue;
        }
        return TJob{FScore, FLayout, first, segment->second.End, segment->second.End, true, false};
    }

    // What is still to draw, less what is being drawn. A gap that starts where
    // a piece being drawn ends is that piece's to go on with; another engraver
    // takes it only from its middle on, so that the score breaks into systems
    // where the music does and not where two engravers met.
    std::vector<std::pair<std::size_t, std::size_t>> busy;
    for (const TWorker& worker : FWorkers)
        if (worker.Job) busy.emplace_back(worker.Job->First, worker.Job->End);
    std::sort(busy.begin(), busy.end());
    const std::size_t typical =
        FMeasuresPerSystem > 0 ? static_cast<std::size_t>(std::ceil(FMeasuresPerSystem)) * 4 : 16;
    std::vector<std::pair<std::size_t, std::size_t>> candidates;
    auto offer = [&](std::size_t first, std::size_t end) {
        const bool continues =
            std::any_of(busy.begin(), busy.end(), [first](const auto& b) { return b.second == first; });
        if (continues) {
            if (end - first < 2 * typical) return;
            first += (end - first) / 2;
        }
        candidates.emplace_back(first, end);
    };
    for (const auto& [gapFirst, gapEnd] : Gaps()) {
        std::size_t cursor = gapFirst;
        for (const auto& [busyFirst, busyEnd] : busy) {
            if (busyEnd <= cursor || busyFirst >= gapEnd) continue;
            if (busyFirst > cursor) offer(cursor, busyFirst);
            cursor = std::max(cursor, busyEnd);
        }
        if (cursor < gapEnd) offer(cursor, gapEnd);
    }
    if (candidates.empty()) return std::nullopt;

    // The gap nearest to what the user sees; inside it, from where the view
    // starts (the measures before it come later).
    const double top = FViewTop;
    const double bottom = std::max(FViewBottom, top);
    auto distance = [&](const std::pair<std::size_t, std::size_t>& gap) {
        if (static_cast<double>(gap.second) <= top) return top - static_cast<double>(gap.second) + 1;
        if (static_cast<double>(gap.first) > bottom) return static_cast<double>(gap.first) - bottom;
        return 0.0;
    };
    const auto gap = *std::min_element(candidates.begin(), candidates.end(),
                                       [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    std::size_t first = gap.first;
    const auto viewFirst = static_cast<std::size_t>(std::max(0.0, std::floor(top)));
    if (gap.first < viewFirst && viewFirst < gap.second) first = viewFirst;
    const bool opening = FSegments.empty() && FMeasuresPerSystem <= 0;
    return TJob{FScore, FLayout, first, PieceEndFor(first, gap.second), gap.second, false, opening};
}

void TScoreView::Engraved(std::size_t worker, const TJob& job, const TEngraving& engraving) {
    if (worker < FWorkers.size()) FWorkers[worker].Job.reset();
    if (job.Score != FScore || job.Layout != FLayout) return;
    if (!engraving.Ok) {
        if (!job.Redraw) {
            FSegments[job.First] = {job.End, true};
            const QJsonObject piece{{QStringLiteral("id"), FScore},
                                    {QStringLiteral("layout"), FLayout},
                                    {QStringLiteral("first"), static_cast<qint64>(job.First)},
                                    {QStringLiteral("end"), static_cast<qint64>(job.End)},
                                    {QStringLiteral("error"), engraving.Error}};
            FRunScript(QStringLiteral("window.failScorePiece(") + Json(piece) + QStringLiteral(");"));
        }
        Pump();
        return;
    }

    std::vector<TEngravedSystem> systems = engraving.Systems;
    if (job.Redraw) {
        SendPiece(job, job.End, systems);
        Pump();
        return;
    }
    const TSystemChoice choice = ChooseSystems(systems, job.End - job.First, job.End >= job.Limit);
    if (choice.Capacity > 0)
        FMeasuresPerSystem = FMeasuresPerSystem > 0 ? (FMeasuresPerSystem + choice.Capacity) / 2 : choice.Capacity;
    systems.resize(choice.Keep);
    const std::size_t end = job.First + systems.back().End;
    // The opening piece comes first whatever it looks like; when its line is
    // far from full its measures stay to draw again, now that the engraver
    // knows how many a line holds, and the new piece takes its place.
    if (!(choice.Provisional && job.Opening)) FSegments[job.First] = {end, false};
    SendPiece(job, end, systems);
    Pump();
}

void TScoreView::SendPiece(const TJob& job, std::size_t end, const std::vector<TEngravedSystem>& systems) {
    QJsonArray drawn;
    for (const TEngravedSystem& system : systems) {
        // The page counts measures in the whole score.
        QJsonArray bars;
        for (const QJsonValue bar : system.Bars) {
            QJsonArray shifted = bar.toArray();
            if (shifted.size() == 3) shifted[0] = static_cast<qint64>(job.First) + shifted[0].toInteger();
            bars.append(shifted);
        }
        drawn.append(QJsonObject{{QStringLiteral("svg"), system.Svg},
                                 {QStringLiteral("height"), system.Height},
                                 {QStringLiteral("bars"), bars},
                                 {QStringLiteral("first"), static_cast<qint64>(job.First + system.First)},
                                 {QStringLiteral("end"), static_cast<qint64>(job.First + system.End)}});
    }
    const QJsonObject piece{{QStringLiteral("id"), FScore},
                            {QStringLiteral("layout"), FLayout},
                            {QStringLiteral("first"), static_cast<qint64>(job.First)},
                            {QStringLiteral("end"), static_cast<qint64>(end)},
                            {QStringLiteral("systems"), drawn}};
    const QString script = QStringLiteral("window.showScorePiece(") + Json(piece) + QStringLiteral(");");
    FRunScript(script);
    Remember(job.First, script);
}

void TScoreView::Remember(std::size_t first, const QString& script) {
    if (const auto known = FSent.find(first); known != FSent.end()) {
        FSentBytes -= known->second.size();
        FSentOrder.remove(first);
    }
    FSent[first] = script;
    FSentOrder.push_back(first);
    FSentBytes += script.size();
    while (FSentBytes > kSentBytes / 2 && FSentOrder.size() > 1) {
        const std::size_t oldest = FSentOrder.front();
        FSentOrder.pop_front();
        FSentBytes -= FSent[oldest].size();
        FSent.erase(oldest);
    }
}

}  // namespace korvalin
