// What the score library leaves hidden in a drawing stays hidden on paper.
#include "ScorePrinter.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

namespace korvalin {
namespace {

// The grey of the middle of a square painted with `paint` (an attribute or a style).
int PaintedGrey(const QString& paint) {
    const QString svg = QStringLiteral(
                            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\">"
                            "<path d=\"M0 0 H10 V10 H0 Z\" %1/></svg>")
                            .arg(paint);
    QSvgRenderer drawing(SvgWithPlainColours(svg));
    QImage image(10, 10, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    drawing.render(&painter);
    painter.end();
    return qGray(image.pixel(5, 5));
}

TEST(SvgColours, TransparentStaysHiddenHalfTransparentHalfShownPlainAsItWas) {
    EXPECT_EQ(PaintedGrey(QStringLiteral("fill=\"#12345600\" stroke=\"#12345600\"")), 255);
    EXPECT_EQ(PaintedGrey(QStringLiteral("style=\"fill: #12345600; stroke:#12345600\"")), 255);
    EXPECT_NEAR(PaintedGrey(QStringLiteral("fill=\"#00000080\" stroke=\"none\"")), 127, 3);
    EXPECT_NEAR(PaintedGrey(QStringLiteral("style=\"fill:#00000080;stroke:none\"")), 127, 3);
    EXPECT_EQ(PaintedGrey(QStringLiteral("fill=\"#000000ff\" stroke=\"none\"")), 0);
    EXPECT_EQ(PaintedGrey(QStringLiteral("fill=\"#000000\" stroke-width=\"1\"")), 0);
    EXPECT_EQ(SvgWithPlainColours(QStringLiteral("<text fill=\"#000\">fill=#12345600</text>")),
              QByteArray("<text fill=\"#000\">fill=#12345600</text>"));
}

}  // namespace
}  // namespace korvalin
