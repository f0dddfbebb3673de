// Objects and handles: stock objects, selection, deletion and stale handles.
#include <gtest/gtest.h>

#include "gdi/gdi.h"

namespace {

TEST(GdiObjects, StockObjectsAreTheDocumentedOnesAndSurviveDeletion) {
  gdi::LogPen pen;
  ASSERT_TRUE(gdi::penOf(gdi::stockObject(gdi::BLACK_PEN), pen));
  EXPECT_EQ(pen.style, gdi::PS_SOLID);
  EXPECT_EQ(pen.color, gdi::rgb(0, 0, 0));
  gdi::LogBrush brush;
  ASSERT_TRUE(gdi::brushOf(gdi::stockObject(gdi::NULL_BRUSH), brush));
  EXPECT_EQ(brush.style, gdi::BS_NULL);
  ASSERT_TRUE(gdi::brushOf(gdi::stockObject(gdi::WHITE_BRUSH), brush));
  EXPECT_EQ(brush.style, gdi::BS_SOLID);
  EXPECT_EQ(brush.color, gdi::rgb(255, 255, 255));

  EXPECT_TRUE(gdi::deleteObject(gdi::stockObject(gdi::BLACK_PEN)));
  EXPECT_TRUE(gdi::isObject(gdi::stockObject(gdi::BLACK_PEN)));
  EXPECT_EQ(gdi::stockObject(3), 0u);
  EXPECT_EQ(gdi::stockObject(-1), 0u);
}

TEST(GdiObjects, DeletedAndUnknownHandlesAreRefusedNotReused) {
  const int before = gdi::liveObjectCount();
  const gdi::Handle pen = gdi::createPen(gdi::PS_DOT, 2, gdi::rgb(1, 2, 3));
  EXPECT_EQ(gdi::liveObjectCount(), before + 1);
  EXPECT_TRUE(gdi::deleteObject(pen));
  EXPECT_FALSE(gdi::deleteObject(pen));
  EXPECT_FALSE(gdi::isObject(pen));
  EXPECT_EQ(gdi::liveObjectCount(), before);
  const gdi::Handle next = gdi::createPen(gdi::PS_DOT, 2, 0);
  EXPECT_NE(next, pen);
  gdi::deleteObject(next);
  EXPECT_FALSE(gdi::deleteObject(0));
}

TEST(GdiObjects, OutOfRangeStylesAreMadeSoundInsteadOfStoredRaw) {
  gdi::LogPen pen;
  const gdi::Handle p = gdi::createPen(99, -4, 0xFF123456);
  ASSERT_TRUE(gdi::penOf(p, pen));
  EXPECT_EQ(pen.style, gdi::PS_SOLID);
  EXPECT_EQ(pen.width, 0);
  EXPECT_EQ(pen.color, 0x123456u);
  gdi::deleteObject(p);
}

TEST(GdiObjects, SelectReturnsThePreviousObjectOfTheSameKind) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  const gdi::Handle pen = gdi::createPen(gdi::PS_SOLID, 3, 0);
  const gdi::Handle brush = gdi::createBrushIndirect({gdi::BS_HATCHED, 0, gdi::HS_CROSS});
  EXPECT_EQ(gdi::selectObject(dc, pen), gdi::stockObject(gdi::BLACK_PEN));
  EXPECT_EQ(gdi::selectObject(dc, brush), gdi::stockObject(gdi::WHITE_BRUSH));
  EXPECT_EQ(gdi::selectObject(dc, gdi::stockObject(gdi::BLACK_PEN)), pen);
  EXPECT_EQ(gdi::currentObject(dc, 3), brush);
  EXPECT_EQ(gdi::selectObject(dc, 123456789u), 0u);
  EXPECT_EQ(gdi::selectObject(987654321u, pen), 0u);
  gdi::deleteObject(pen);
  gdi::deleteObject(brush);
  gdi::deleteDc(dc);
}

TEST(GdiObjects, DeletingASelectedFontLeavesTheContextMeasuring) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  gdi::LogFont lf;
  lf.height = -50;
  lf.faceName = "Arial";
  const gdi::Handle font = gdi::createFont(lf);
  gdi::selectObject(dc, font);
  gdi::TextMetrics before, after;
  ASSERT_TRUE(gdi::textMetrics(dc, before));
  gdi::deleteObject(font);
  ASSERT_TRUE(gdi::textMetrics(dc, after));
  EXPECT_EQ(before.height, after.height);
  EXPECT_GT(gdi::textExtent(dc, "abc").cx, 0);
  gdi::deleteDc(dc);
}

TEST(GdiContexts, UnknownOrDeletedContextsFailEveryCall) {
  const gdi::Handle dc = gdi::createRecordingDc(100, 100, 300, 300);
  ASSERT_TRUE(gdi::deleteDc(dc));
  EXPECT_FALSE(gdi::deleteDc(dc));
  EXPECT_FALSE(gdi::textOut(dc, 0, 0, "x"));
  EXPECT_FALSE(gdi::rectangle(dc, 0, 0, 1, 1));
  EXPECT_FALSE(gdi::gdiComment(dc, {1, 2}));
  gdi::TextMetrics tm;
  EXPECT_FALSE(gdi::textMetrics(dc, tm));
  EXPECT_EQ(gdi::textExtent(dc, "abc").cx, 0);
  EXPECT_EQ(gdi::recordedPage(dc), nullptr);
  EXPECT_EQ(gdi::deviceCaps(dc, gdi::LOGPIXELSX), 0);
}

TEST(GdiContexts, ImpossibleSizesMakeNoContext) {
  EXPECT_EQ(gdi::createImageDc(0, 10, 300), 0u);
  EXPECT_EQ(gdi::createImageDc(10, -1, 300), 0u);
  EXPECT_EQ(gdi::createImageDc(100000, 100000, 300), 0u);
  EXPECT_EQ(gdi::createPdfDc("/nonexistent-dir/x.pdf", 0, 0, 300), 0u);
  EXPECT_EQ(gdi::createPaintDeviceDc(nullptr), 0u);
}

TEST(GdiContexts, CapsReportSizeAndResolution) {
  const gdi::Handle dc = gdi::createImageDc(200, 100, 150);
  EXPECT_EQ(gdi::deviceCaps(dc, gdi::HORZRES), 200);
  EXPECT_EQ(gdi::deviceCaps(dc, gdi::VERTRES), 100);
  EXPECT_EQ(gdi::deviceCaps(dc, gdi::LOGPIXELSX), 150);
  EXPECT_EQ(gdi::deviceCaps(dc, gdi::LOGPIXELSY), 150);
  gdi::deleteDc(dc);
}

}  // namespace
