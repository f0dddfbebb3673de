// Fonts, metrics and text output.
#include <gtest/gtest.h>

#include "gdi/gdi.h"

namespace {

gdi::Handle selectFont(gdi::Handle dc, int height, const char* face, int weight = gdi::FW_NORMAL) {
  gdi::LogFont lf;
  lf.height = height;
  lf.weight = weight;
  lf.faceName = face;
  const gdi::Handle f = gdi::createFont(lf);
  gdi::selectObject(dc, f);
  return f;
}

// Leftmost and rightmost columns that hold a non-white pixel; -1 when none.
std::pair<int, int> inkColumns(const QImage& img) {
  int lo = -1, hi = -1;
  for (int x = 0; x < img.width(); ++x)
    for (int y = 0; y < img.height(); ++y)
      if (img.pixel(x, y) != qRgb(255, 255, 255)) {
        if (lo < 0) lo = x;
        hi = x;
        break;
      }
  return {lo, hi};
}

TEST(GdiFonts, NegativeHeightIsTheCharacterHeightInPixels) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  const gdi::Handle f = selectFont(dc, -50, "Arial");
  gdi::TextMetrics tm;
  ASSERT_TRUE(gdi::textMetrics(dc, tm));
  EXPECT_GE(tm.height, 50);
  EXPECT_LE(tm.height, 65);
  EXPECT_EQ(tm.height, tm.ascent + tm.descent);
  EXPECT_GE(tm.externalLeading, 0);
  EXPECT_GT(tm.aveCharWidth, 10);
  gdi::deleteObject(f);
  gdi::deleteDc(dc);
}

TEST(GdiFonts, PositiveHeightIsTheCellHeight) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  const gdi::Handle f = selectFont(dc, 60, "Arial");
  gdi::TextMetrics tm;
  ASSERT_TRUE(gdi::textMetrics(dc, tm));
  EXPECT_NEAR(tm.height, 60, 3);
  gdi::deleteObject(f);
  gdi::deleteDc(dc);
}

TEST(GdiFonts, VariablePitchBitIsSetOnlyForProportionalFaces) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  gdi::TextMetrics tm;
  gdi::Handle f = selectFont(dc, -40, "Arial");
  ASSERT_TRUE(gdi::textMetrics(dc, tm));
  EXPECT_EQ(tm.pitchAndFamily & gdi::kVariablePitchBit, gdi::kVariablePitchBit);
  gdi::deleteObject(f);
  f = selectFont(dc, -40, "DejaVu Sans Mono");
  ASSERT_TRUE(gdi::textMetrics(dc, tm));
  EXPECT_EQ(tm.pitchAndFamily & gdi::kVariablePitchBit, 0);
  EXPECT_EQ(gdi::textExtent(dc, "iii").cx, gdi::textExtent(dc, "WWW").cx);
  gdi::deleteObject(f);
  gdi::deleteDc(dc);
}

TEST(GdiFonts, BoldIsReportedAndWidensText) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  gdi::Handle f = selectFont(dc, -50, "Arial");
  const int regular = gdi::textExtent(dc, "Bold text here").cx;
  gdi::deleteObject(f);
  f = selectFont(dc, -50, "Arial", gdi::FW_BOLD);
  gdi::TextMetrics tm;
  ASSERT_TRUE(gdi::textMetrics(dc, tm));
  EXPECT_EQ(tm.weight, gdi::FW_BOLD);
  EXPECT_GT(gdi::textExtent(dc, "Bold text here").cx, regular);
  gdi::deleteObject(f);
  gdi::deleteDc(dc);
}

TEST(GdiFonts, FaceNameIsTheResolvedFamily) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  const gdi::Handle f = selectFont(dc, -50, "DejaVu Sans Mono");
  EXPECT_EQ(gdi::textFace(dc), "DejaVu Sans Mono");
  gdi::deleteObject(f);
  gdi::deleteDc(dc);
}

TEST(GdiText, AlignmentPutsTheReferencePointLeftRightOrCentre) {
  for (int align : {gdi::TA_LEFT, gdi::TA_RIGHT, gdi::TA_CENTER}) {
    const gdi::Handle dc = gdi::createImageDc(400, 100, 96);
    const gdi::Handle f = selectFont(dc, -30, "Arial");
    gdi::setBkMode(dc, gdi::TRANSPARENT);
    gdi::setTextAlign(dc, align);
    gdi::textOut(dc, 200, 20, "MMMM");
    const int w = gdi::textExtent(dc, "MMMM").cx;
    const auto [lo, hi] = inkColumns(*gdi::imageOf(dc));
    ASSERT_GE(lo, 0);
    const int expectedLeft = align == gdi::TA_LEFT ? 200 : align == gdi::TA_RIGHT ? 200 - w : 200 - w / 2;
    EXPECT_NEAR(lo, expectedLeft, 4) << "align " << align;
    EXPECT_NEAR(hi, expectedLeft + w, 4) << "align " << align;
    gdi::deleteObject(f);
    gdi::deleteDc(dc);
  }
}

TEST(GdiText, OpaqueModeFillsTheBackgroundTransparentDoesNot) {
  for (int mode : {gdi::OPAQUE, gdi::TRANSPARENT}) {
    const gdi::Handle dc = gdi::createImageDc(200, 60, 96);
    const gdi::Handle f = selectFont(dc, -30, "Arial");
    gdi::setBkColor(dc, gdi::rgb(0, 255, 0));
    gdi::setBkMode(dc, mode);
    gdi::textOut(dc, 10, 10, "a");
    const QImage& img = *gdi::imageOf(dc);
    int green = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) green += img.pixel(x, y) == qRgb(0, 255, 0);
    if (mode == gdi::OPAQUE) EXPECT_GT(green, 50);
    else EXPECT_EQ(green, 0);
    gdi::deleteObject(f);
    gdi::deleteDc(dc);
  }
}

TEST(GdiText, TextColourIsUsed) {
  const gdi::Handle dc = gdi::createImageDc(200, 60, 96);
  const gdi::Handle f = selectFont(dc, -40, "Arial", gdi::FW_BOLD);
  gdi::setBkMode(dc, gdi::TRANSPARENT);
  gdi::setTextColor(dc, gdi::rgb(255, 0, 0));
  gdi::textOut(dc, 10, 5, "H");
  const QImage& img = *gdi::imageOf(dc);
  bool red = false;
  for (int y = 0; y < img.height() && !red; ++y)
    for (int x = 0; x < img.width() && !red; ++x) red = img.pixel(x, y) == qRgb(255, 0, 0);
  EXPECT_TRUE(red);
  gdi::deleteObject(f);
  gdi::deleteDc(dc);
}

TEST(GdiText, MeasuringContextMeasuresButDrawsNothing) {
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  EXPECT_TRUE(gdi::textOut(dc, 0, 0, "abc"));
  EXPECT_EQ(gdi::recordedPage(dc), nullptr);
  EXPECT_EQ(gdi::imageOf(dc), nullptr);
  EXPECT_GT(gdi::textExtent(dc, "abc").cx, 0);
  EXPECT_EQ(gdi::textExtent(dc, "").cx, 0);
  gdi::deleteDc(dc);
}

}  // namespace
