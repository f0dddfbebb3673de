// Pens, brushes, lines and shapes as they land on an image.
#include <gtest/gtest.h>

#include "gdi/gdi.h"

namespace {

const QRgb kWhite = qRgb(255, 255, 255);

struct Canvas {
  gdi::Handle dc = gdi::createImageDc(100, 100, 96);
  ~Canvas() { gdi::deleteDc(dc); }
  const QImage& image() const { return *gdi::imageOf(dc); }
  int count(QRgb colour) const {
    int n = 0;
    for (int y = 0; y < image().height(); ++y)
      for (int x = 0; x < image().width(); ++x) n += image().pixel(x, y) == colour;
    return n;
  }
};

void withPen(gdi::Handle dc, int style, int width, gdi::ColorRef colour, const std::function<void()>& draw) {
  const gdi::Handle pen = gdi::createPen(style, width, colour);
  gdi::selectObject(dc, pen);
  draw();
  gdi::selectObject(dc, gdi::stockObject(gdi::BLACK_PEN));
  gdi::deleteObject(pen);
}

TEST(GdiPens, WidthZeroIsOnePixelAndWidthGrowsTheLine) {
  Canvas thin, thick;
  withPen(thin.dc, gdi::PS_SOLID, 0, 0, [&] { gdi::moveTo(thin.dc, 10, 50); gdi::lineTo(thin.dc, 90, 50); });
  withPen(thick.dc, gdi::PS_SOLID, 5, 0, [&] { gdi::moveTo(thick.dc, 10, 50); gdi::lineTo(thick.dc, 90, 50); });
  EXPECT_EQ(thin.count(qRgb(0, 0, 0)), 80);
  EXPECT_EQ(thick.count(qRgb(0, 0, 0)), 80 * 5);
}

TEST(GdiPens, DottedLineHasGapsAndNullPenDrawsNothing) {
  Canvas dotted, none;
  withPen(dotted.dc, gdi::PS_DOT, 0, 0, [&] { gdi::moveTo(dotted.dc, 10, 50); gdi::lineTo(dotted.dc, 90, 50); });
  withPen(none.dc, gdi::PS_NULL, 3, 0, [&] { gdi::moveTo(none.dc, 10, 50); gdi::lineTo(none.dc, 90, 50); });
  const int ink = dotted.count(qRgb(0, 0, 0));
  EXPECT_GT(ink, 10);
  EXPECT_LT(ink, 80);
  EXPECT_EQ(none.count(kWhite), 100 * 100);
}

TEST(GdiBrushes, HollowBrushLeavesTheInsideAndSolidFillsIt) {
  Canvas hollow, solid;
  for (Canvas* c : {&hollow, &solid}) {
    const gdi::Handle brush = gdi::createBrushIndirect(
        {c == &hollow ? gdi::BS_NULL : gdi::BS_SOLID, gdi::rgb(0, 0, 255), 0});
    gdi::selectObject(c->dc, brush);
    gdi::rectangle(c->dc, 10, 10, 50, 50);
    gdi::selectObject(c->dc, gdi::stockObject(gdi::WHITE_BRUSH));
    gdi::deleteObject(brush);
  }
  EXPECT_EQ(hollow.image().pixel(30, 30), kWhite);
  EXPECT_EQ(hollow.image().pixel(10, 30), qRgb(0, 0, 0));  // outline
  EXPECT_EQ(solid.image().pixel(30, 30), qRgb(0, 0, 255));
  // The shape covers [left, right) x [top, bottom).
  EXPECT_EQ(solid.image().pixel(49, 30), qRgb(0, 0, 0));
  EXPECT_EQ(solid.image().pixel(50, 30), kWhite);
}

TEST(GdiBrushes, EveryHatchLeavesGapsWhileAnUnknownHatchFillsSolid) {
  for (int hatch = 0; hatch <= 6; ++hatch) {
    Canvas c;
    gdi::setBkMode(c.dc, gdi::TRANSPARENT);
    const gdi::Handle brush = gdi::createBrushIndirect({gdi::BS_HATCHED, gdi::rgb(255, 0, 0), hatch});
    withPen(c.dc, gdi::PS_NULL, 0, 0, [&] {
      gdi::selectObject(c.dc, brush);
      gdi::rectangle(c.dc, 0, 0, 100, 100);
    });
    gdi::selectObject(c.dc, gdi::stockObject(gdi::WHITE_BRUSH));
    gdi::deleteObject(brush);
    const int red = c.count(qRgb(255, 0, 0));
    if (hatch <= 5) {
      EXPECT_GT(red, 300) << hatch;
      EXPECT_GT(c.count(kWhite), 3000) << hatch;
    } else {
      EXPECT_GT(red, 9000) << hatch;
    }
  }
}

TEST(GdiShapes, EllipseStaysInsideItsBoundingBox) {
  Canvas c;
  const gdi::Handle brush = gdi::createBrushIndirect({gdi::BS_SOLID, gdi::rgb(0, 128, 0), 0});
  gdi::selectObject(c.dc, brush);
  gdi::ellipse(c.dc, 20, 20, 80, 60);
  gdi::selectObject(c.dc, gdi::stockObject(gdi::WHITE_BRUSH));
  gdi::deleteObject(brush);
  EXPECT_EQ(c.image().pixel(50, 40), qRgb(0, 128, 0));
  EXPECT_EQ(c.image().pixel(21, 21), kWhite);  // the corner of the box is outside the ellipse
  for (int x = 0; x < 100; ++x) {
    EXPECT_EQ(c.image().pixel(x, 10), kWhite);
    EXPECT_EQ(c.image().pixel(x, 70), kWhite);
  }
}

TEST(GdiShapes, ReversedCornersDrawTheSameRectangle) {
  Canvas a, b;
  gdi::rectangle(a.dc, 10, 10, 50, 40);
  gdi::rectangle(b.dc, 50, 40, 10, 10);
  EXPECT_EQ(a.image(), b.image());
}

}  // namespace
