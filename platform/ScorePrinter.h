// Putting a score on paper: the printer, where its pages go, and the paper.

#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPageLayout>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ScoreEngraver.h"

class QBuffer;
class QPagedPaintDevice;
class QPainter;
class QSvgGenerator;

namespace korvalin {

class TMusicXmlPieceCutter;
struct TMusicXmlHeading;

// Where printed pages go: a painter for each page in turn, in points (1/72
// inch) from the paper's top left corner.
class TPageSink {
public:
    virtual ~TPageSink() = default;
    virtual QPainter& NextPage() = 0;
    // After the last page; false when the pages could not be completed.
    virtual bool Finish() = 0;
};

// Pages on a printer or a PDF writer, one after another.
class TPagedDeviceSink : public TPageSink {
public:
    explicit TPagedDeviceSink(QPagedPaintDevice& device);
    ~TPagedDeviceSink() override;
    QPainter& NextPage() override;
    bool Finish() override;

private:
    QPagedPaintDevice& FDevice;
    std::unique_ptr<QPainter> FPainter;
};

// Every page an SVG document of its own, kept in memory.
class TSvgPagesSink : public TPageSink {
public:
    explicit TSvgPagesSink(const QPageLayout& layout);
    ~TSvgPagesSink() override;
    QPainter& NextPage() override;
    bool Finish() override;
    const QList<QByteArray>& Pages() const { return FPages; }

private:
    void EndPage();

    QPageLayout FLayout;
    std::unique_ptr<QBuffer> FBuffer;
    std::unique_ptr<QSvgGenerator> FGenerator;
    std::unique_ptr<QPainter> FPainter;
    QList<QByteArray> FPages;
};

// The score library hides what only keeps the staves of a system aligned (a
// clef change drawn on the other staves too) by a colour with an alpha part,
// "#12345600", which Qt's SVG renderer does not read and paints black. The
// drawing with every such colour as a plain colour and an opacity.
QByteArray SvgWithPlainColours(const QString& svg);

// The paper for a new print: A4, or Letter where the locale measures in
// inches; portrait, with margins of 15 millimetres.
QPageLayout DefaultPageLayout();

// Lays a whole score out on pages: the title on the first, the systems
// (names on every one) kept whole, page numbers from the second page on. The
// pieces are laid out by an engraver of the printer's own, one after another;
// each page is painted as soon as it is full. Runs with the event loop.
class TScorePrinter : public QObject {
    Q_OBJECT

public:
    explicit TScorePrinter(QObject* parent = nullptr);
    ~TScorePrinter() override;

    // Starts printing a MusicXML document (only the measures numbered from..to
    // when either is set) onto the sink; Finished follows, also for a document
    // that cannot be printed. The sink must outlive the job.
    void Start(const QByteArray& document, TPageSink& sink, const QPageLayout& layout,
               std::optional<std::int64_t> from = std::nullopt, std::optional<std::int64_t> to = std::nullopt);
    // Stops the job: Finished(false) follows with an empty error.
    void Cancel();

    int PageCount() const { return FPageNumber; }

signals:
    void Progress(int measuresDone, int measuresTotal);
    // ok false: error is the reason, or empty when the job was cancelled.
    void Finished(bool ok, const QString& error);

private:
    struct TPlacedSystem {
        TEngravedSystem System;
        double Scale = 1;  // points per pixel of the drawing
    };

    void EngraveNext();
    void EngraveRange(std::size_t first, std::size_t end, bool stretchLast);
    void Engraved(std::size_t first, std::size_t end, bool stretched, const TEngraving& engraving);
    void Place(TEngravedSystem system);
    void PaintPage(bool last);
    void PaintHeading(QPainter& painter, double top) const;
    double HeadingHeight() const;
    void Fail(const QString& error);
    void Done(bool ok, const QString& error);

    TScoreEngraver* FEngraver = nullptr;
    std::unique_ptr<TMusicXmlPieceCutter> FCutter;
    TPageSink* FSink = nullptr;
    QPageLayout FLayout;
    bool FRunning = false;
    std::size_t FFirst = 0;
    std::size_t FEnd = 0;
    std::size_t FAt = 0;
    double FWidth = 0;  // pixels the systems span when engraved
    double FMeasuresPerSystem = 0;
    bool FPlacedAny = false;
    std::vector<TPlacedSystem> FPageSystems;
    double FPageUsed = 0;
    int FPageNumber = 0;
};

}  // namespace korvalin
