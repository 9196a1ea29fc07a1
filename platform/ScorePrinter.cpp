// Printed pages: the score laid out at the paper's width, a piece at a time,
// and its systems placed on pages under the score's heading.

#include "ScorePrinter.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>
#include <exception>

#include "MusicXmlPieces.h"

namespace korvalin {
namespace {

// A staff of five lines is 40 pixels high in the drawing; on paper it gets
// 7 millimetres, the size of most printed parts, unless a system of a large
// ensemble needs less to fit on the page.
constexpr double kStaffPixels = 40;
constexpr double kStaffPoints = 7.0 / 25.4 * 72;
constexpr double kWidestDrawing = 4000;
// Between systems, in the drawing's pixels.
constexpr double kSystemGap = 28;
// What a staff takes in a system, its distance to the next included, and what
// a system takes beyond its staves: enough to guess whether a system of many
// staves fits a page before it is laid out.
constexpr double kPixelsPerStaff = 80;
constexpr double kPixelsPerSystem = 120;
// A last line taking less of its width than this is not spread over all of it.
constexpr double kJustifiedFill = 0.3;
// A page whose systems fill less than this share is left with space at the
// foot rather than spread thin.
constexpr double kSpreadWhenFilled = 0.6;

const QString kSerif = QStringLiteral("Times New Roman");

QFont PixelFont(const QString& family, double size, bool bold = false, bool italic = false) {
    QFont font(family);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// The part of the score's heading at each line: title, subtitle, composer.
struct THeadingLine {
    QString Text;
    QFont Font;
    int Flags;  // alignment and word wrap
    double SpaceAfter;
};

std::vector<THeadingLine> HeadingLines(const TMusicXmlHeading& heading) {
    std::vector<THeadingLine> lines;
    if (!heading.Title.empty())
        lines.push_back(
            {QString::fromStdString(heading.Title), PixelFont(kSerif, 22), Qt::AlignHCenter | Qt::TextWordWrap, 6});
    if (!heading.Subtitle.empty())
        lines.push_back(
            {QString::fromStdString(heading.Subtitle), PixelFont(kSerif, 14), Qt::AlignHCenter | Qt::TextWordWrap, 6});
    if (!heading.Composer.empty())
        lines.push_back(
            {QString::fromStdString(heading.Composer), PixelFont(kSerif, 11), Qt::AlignRight | Qt::TextWordWrap, 6});
    return lines;
}

void PaintSystem(QPainter& painter, const TEngravedSystem& system, double width, double x, double y, double scale) {
    painter.save();
    painter.translate(x, y);
    painter.scale(scale, scale);
    QSvgRenderer drawing(SvgWithPlainColours(system.Svg));
    drawing.render(&painter, QRectF(0, 0, width, system.Height));
    // The texts go in as text, so that a PDF can be searched and copied from.
    for (const TSystemText& text : system.Texts) {
        painter.save();
        painter.translate(text.X, text.Y);
        painter.scale(text.PixelSize / 100, text.PixelSize / 100);
        painter.setFont(PixelFont(text.Family, 100, text.Bold, text.Italic));
        painter.setPen(text.Color.isValid() ? text.Color : QColor(Qt::black));
        painter.drawText(QPointF(0, 0), text.Text);
        painter.restore();
    }
    painter.restore();
}

}  // namespace

QByteArray SvgWithPlainColours(const QString& svg) {
    // fill="#rrggbbaa" or stroke as attributes, fill:#rrggbbaa or stroke in a style.
    static const QRegularExpression colour(
        QStringLiteral("(fill|stroke)(?:=\"#([0-9a-fA-F]{6})([0-9a-fA-F]{2})\"|(\\s*:\\s*)#([0-9a-fA-F]{6})([0-9a-fA-F]"
                       "{2})(?![0-9a-fA-F]))"));
    QString plain;
    plain.reserve(svg.size());
    qsizetype done = 0;
    for (auto it = colour.globalMatch(svg); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        plain += QStringView(svg).mid(done, match.capturedStart() - done);
        done = match.capturedEnd();
        const QString property = match.captured(1);
        const bool attribute = match.capturedLength(2) > 0;
        const QString rgb = attribute ? match.captured(2) : match.captured(5);
        const int alpha = (attribute ? match.captured(3) : match.captured(6)).toInt(nullptr, 16);
        const QString value = alpha == 0 ? QStringLiteral("none") : QLatin1Char('#') + rgb;
        const QString opacity = QString::number(alpha / 255.0, 'g', 3);
        const bool partial = alpha != 0 && alpha != 255;
        if (attribute)
            plain += QStringLiteral("%1=\"%2\"").arg(property, value) +
                     (partial ? QStringLiteral(" %1-opacity=\"%2\"").arg(property, opacity) : QString());
        else
            plain += property + match.captured(4) + value +
                     (partial ? QStringLiteral(";%1-opacity:%2").arg(property, opacity) : QString());
    }
    plain += QStringView(svg).mid(done);
    return plain.toUtf8();
}

QPageLayout DefaultPageLayout() {
    const QPageSize size(QLocale().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                                    : QPageSize::A4);
    const double margin = 15.0 / 25.4 * 72;
    return QPageLayout(size, QPageLayout::Portrait, QMarginsF(margin, margin, margin, margin), QPageLayout::Point);
}

// ---------------------------------------------------------------------------
// Sinks

TPagedDeviceSink::TPagedDeviceSink(QPagedPaintDevice& device) : FDevice(device) {}

TPagedDeviceSink::~TPagedDeviceSink() = default;

QPainter& TPagedDeviceSink::NextPage() {
    if (!FPainter) {
        FPainter = std::make_unique<QPainter>();
        FPainter->begin(&FDevice);
    } else {
        FDevice.newPage();
    }
    FPainter->resetTransform();
    FPainter->scale(FDevice.logicalDpiX() / 72.0, FDevice.logicalDpiY() / 72.0);
    FPainter->setRenderHint(QPainter::Antialiasing);
    return *FPainter;
}

bool TPagedDeviceSink::Finish() {
    if (!FPainter) return false;
    const bool active = FPainter->isActive();
    return FPainter->end() && active;
}

TSvgPagesSink::TSvgPagesSink(const QPageLayout& layout) : FLayout(layout) {}

TSvgPagesSink::~TSvgPagesSink() = default;

QPainter& TSvgPagesSink::NextPage() {
    EndPage();
    const QSizeF size = FLayout.fullRect(QPageLayout::Point).size();
    FBuffer = std::make_unique<QBuffer>();
    FBuffer->open(QIODevice::WriteOnly);
    FGenerator = std::make_unique<QSvgGenerator>();
    FGenerator->setOutputDevice(FBuffer.get());
    FGenerator->setResolution(72);
    FGenerator->setSize(size.toSize());
    FGenerator->setViewBox(QRectF(QPointF(0, 0), size));
    FPainter = std::make_unique<QPainter>(FGenerator.get());
    FPainter->setRenderHint(QPainter::Antialiasing);
    return *FPainter;
}

void TSvgPagesSink::EndPage() {
    if (!FPainter) return;
    FPainter->end();
    FPainter.reset();
    FGenerator.reset();
    FPages.append(FBuffer->data());
    FBuffer.reset();
}

bool TSvgPagesSink::Finish() {
    EndPage();
    return !FPages.isEmpty();
}

// ---------------------------------------------------------------------------
// The printer

TScorePrinter::TScorePrinter(QObject* parent) : QObject(parent), FEngraver(new TScoreEngraver(this)) {}

TScorePrinter::~TScorePrinter() = default;

void TScorePrinter::Start(const QByteArray& document, TPageSink& sink, const QPageLayout& layout,
                          std::optional<std::int64_t> from, std::optional<std::int64_t> to) {
    FSink = &sink;
    FLayout = layout;
    FRunning = true;
    FPageSystems.clear();
    FPageUsed = 0;
    FPageNumber = 0;
    FPlacedAny = false;
    FMeasuresPerSystem = 0;
    try {
        FCutter = std::make_unique<TMusicXmlPieceCutter>(document.toStdString());
        FFirst = 0;
        FEnd = FCutter->MeasureCount();
        if (from || to) std::tie(FFirst, FEnd) = FCutter->MeasuresNumbered(from, to);
    } catch (const std::exception& error) {
        Fail(QString::fromUtf8(error.what()));
        return;
    }
    FAt = FFirst;
    // The staff size of most printed music, or smaller when a system of all
    // the staves would not fit the page.
    const QRectF content = FLayout.paintRect(QPageLayout::Point);
    const double systemPixels = FCutter->StaffCount() * kPixelsPerStaff + kPixelsPerSystem;
    const double scale =
        std::min(kStaffPoints / kStaffPixels, (content.height() - HeadingHeight()) * 0.9 / systemPixels);
    FWidth = std::min(kWidestDrawing, content.width() / scale);
    emit Progress(0, static_cast<int>(FEnd - FFirst));
    EngraveNext();
}

void TScorePrinter::Cancel() {
    if (!FRunning) return;
    FEngraver->Abandon();
    Done(false, QString());
}

void TScorePrinter::EngraveNext() {
    if (!FRunning) return;
    if (FAt >= FEnd) {
        PaintPage(true);
        Done(FSink->Finish(), QString());
        return;
    }
    // About two lines a piece once the lines' length is known; a first piece
    // large enough for a line of most music.
    const std::int64_t staves = std::max(1, FCutter->Measure(FAt).Staves);
    const std::size_t end =
        FMeasuresPerSystem > 0
            ? FCutter->PieceEnd(FAt, FEnd, staves * (2 * static_cast<std::int64_t>(std::ceil(FMeasuresPerSystem)) + 1),
                                2000)
            : FCutter->PieceEnd(FAt, FEnd, std::max<std::int64_t>(300, 8 * staves), 1200);
    EngraveRange(FAt, end, true);
}

void TScorePrinter::EngraveRange(std::size_t first, std::size_t end, bool stretchLast) {
    TEngraveRequest request;
    request.Xml = QByteArray::fromStdString(FCutter->Piece(first, end, first == FFirst).Xml);
    request.Width = FWidth;
    request.Zoom = 1;
    request.StretchLast = stretchLast;
    request.SeparateTexts = true;
    FEngraver->Engrave(request, [this, first, end, stretchLast](const TEngraving& engraving) {
        Engraved(first, end, stretchLast, engraving);
    });
}

void TScorePrinter::Engraved(std::size_t first, std::size_t end, bool stretched, const TEngraving& engraving) {
    if (!FRunning) return;
    if (!engraving.Ok) {
        Fail(engraving.Error);
        return;
    }
    // Every line is justified, the score's last too, unless it holds too
    // little for that after lines that are full: then it keeps its natural
    // spacing. A score of one line fills it.
    const bool oneLine = !FPlacedAny && engraving.Systems.size() == 1;
    if (stretched && end >= FEnd && !oneLine && !engraving.Systems.empty() &&
        engraving.Systems.back().Fill < kJustifiedFill) {
        EngraveRange(first, end, false);
        return;
    }
    const TSystemChoice choice = ChooseSystems(engraving.Systems, end - first, end >= FEnd);
    const double known = FMeasuresPerSystem;
    if (choice.Capacity > 0)
        FMeasuresPerSystem = FMeasuresPerSystem > 0 ? (FMeasuresPerSystem + choice.Capacity) / 2 : choice.Capacity;
    // A lone short line from a piece too small for it: once more, longer.
    if (choice.Provisional && known <= 0 && FMeasuresPerSystem > 0) {
        EngraveNext();
        return;
    }

    // A system of a large ensemble may be taller than the page at the usual
    // staff size: then every system is drawn wider and printed smaller.
    if (!FPlacedAny) {
        double tallest = 0;
        for (const TEngravedSystem& system : engraving.Systems) tallest = std::max(tallest, system.Height);
        const double scale = FLayout.paintRect(QPageLayout::Point).width() / FWidth;
        const double room = (FLayout.paintRect(QPageLayout::Point).height() - HeadingHeight()) * 0.95;
        if (tallest * scale > room && FWidth < kWidestDrawing) {
            const double wider = std::min(kWidestDrawing, FWidth * tallest * scale / room);
            if (wider > FWidth * 1.05) {
                if (FMeasuresPerSystem > 0) FMeasuresPerSystem *= wider / FWidth;
                FWidth = wider;
                EngraveNext();
                return;
            }
        }
    }

    for (std::size_t i = 0; i < choice.Keep; ++i) {
        TEngravedSystem system = engraving.Systems[i];
        system.First += first;
        system.End += first;
        Place(std::move(system));
    }
    FAt = first + engraving.Systems[choice.Keep - 1].End;
    emit Progress(static_cast<int>(FAt - FFirst), static_cast<int>(FEnd - FFirst));
    EngraveNext();
}

void TScorePrinter::Place(TEngravedSystem system) {
    const QRectF content = FLayout.paintRect(QPageLayout::Point);
    double scale = content.width() / FWidth;
    // A system taller than a whole page is made to fit it.
    const double room = content.height() - (FPageNumber == 0 ? HeadingHeight() : 0);
    if (system.Height * scale > room) scale = room / system.Height;
    const double height = system.Height * scale;
    const double gap = kSystemGap * content.width() / FWidth;
    if (!FPageSystems.empty() && FPageUsed + gap + height > room) PaintPage(false);
    FPageUsed += (FPageSystems.empty() ? 0 : gap) + height;
    FPageSystems.push_back({std::move(system), scale});
    FPlacedAny = true;
}

double TScorePrinter::HeadingHeight() const {
    if (!FCutter) return 0;
    const double width = FLayout.paintRect(QPageLayout::Point).width();
    double height = 0;
    for (const THeadingLine& line : HeadingLines(FCutter->Heading())) {
        const QFontMetricsF metrics(line.Font);
        height += metrics.boundingRect(QRectF(0, 0, width, 1e6), line.Flags, line.Text).height() + line.SpaceAfter;
    }
    return height > 0 ? height + 12 : 0;
}

void TScorePrinter::PaintHeading(QPainter& painter, double top) const {
    const QRectF content = FLayout.paintRect(QPageLayout::Point);
    double y = top;
    painter.setPen(Qt::black);
    for (const THeadingLine& line : HeadingLines(FCutter->Heading())) {
        painter.setFont(line.Font);
        QRectF used;
        painter.drawText(QRectF(content.left(), y, content.width(), 1e6), line.Flags, line.Text, &used);
        y += used.height() + line.SpaceAfter;
    }
}

void TScorePrinter::PaintPage(bool last) {
    if (FPageSystems.empty() && (FPageNumber > 0 || !last)) return;
    QPainter& painter = FSink->NextPage();
    ++FPageNumber;
    const QRectF content = FLayout.paintRect(QPageLayout::Point);
    double top = content.top();
    if (FPageNumber == 1) {
        PaintHeading(painter, top);
        top += HeadingHeight();
    }
    const double room = content.bottom() - top;
    const double gap = kSystemGap * content.width() / FWidth;
    // Full pages spread their systems down to the foot; the last keeps its
    // systems together at the top.
    double spread = 0;
    if (!last && FPageSystems.size() >= 2 && FPageUsed >= room * kSpreadWhenFilled)
        spread = (room - FPageUsed) / static_cast<double>(FPageSystems.size() - 1);
    double y = top;
    for (const TPlacedSystem& placed : FPageSystems) {
        const double width = FWidth * placed.Scale;
        PaintSystem(painter, placed.System, FWidth, content.left() + (content.width() - width) / 2, y, placed.Scale);
        y += placed.System.Height * placed.Scale + gap + spread;
    }
    if (FPageNumber >= 2) {
        const QRectF full = FLayout.fullRect(QPageLayout::Point);
        painter.setFont(PixelFont(kSerif, 10));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(content.left(), content.bottom(), content.width(), full.bottom() - content.bottom()),
                         Qt::AlignCenter, QString::number(FPageNumber));
    }
    FPageSystems.clear();
    FPageUsed = 0;
}

void TScorePrinter::Fail(const QString& error) { Done(false, error.isEmpty() ? QStringLiteral("?") : error); }

void TScorePrinter::Done(bool ok, const QString& error) {
    if (!FRunning) return;
    FRunning = false;
    FEngraver->Abandon();
    emit Finished(ok, ok ? QString() : error);
}

}  // namespace korvalin
