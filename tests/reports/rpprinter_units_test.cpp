// Construction, units of measure, conversions, font metrics and margins.
#include "rpprinter_fixture.h"

namespace {
using rpprinter_test::Page;

TEST(RpPrinterInit, FieldsStartAsDocumentedWithAFontAlreadyMade) {
  reports::RpPrinter p;
  EXPECT_EQ(p.unitCode(), 1);
  EXPECT_EQ(p.fontName(), "Arial");
  EXPECT_EQ(p.fontSize(), 12);
  EXPECT_NE(p.fontHandle(), 0u);
  EXPECT_GT(p.avgWidthDevice(), 0);
  EXPECT_GT(p.charHeightDevice(), 0);
  EXPECT_EQ(p.printRowDevice(), 0);
  EXPECT_EQ(p.printColumnDevice(), 0);
  EXPECT_TRUE(p.NoSelection());
  gdi::LogFont lf;
  ASSERT_TRUE(gdi::fontOf(p.fontHandle(), lf));
  EXPECT_EQ(lf.height, -50);  // 12 points at 300 units per inch
  EXPECT_EQ(lf.weight, 400);
  EXPECT_EQ(lf.charSet, 1);
  EXPECT_EQ(lf.outPrecision, 4);
  EXPECT_EQ(lf.clipPrecision, 32);
  EXPECT_EQ(lf.faceName, "Arial");
}

TEST(RpPrinterInit, TheTwoValuesReachTheBaseUnchanged) {
  reports::RpPrinter p("first", 2);
  EXPECT_EQ(p.initArgument(0).asString(), "first");
  EXPECT_EQ(p.initArgument(1).asLong(), 2);
}

TEST(RpPrinterInit, FontsAreReleasedByAxitAndBySetFont) {
  const int before = gdi::liveObjectCount();
  {
    reports::RpPrinter p;
    EXPECT_EQ(gdi::liveObjectCount(), before + 1);
    p.SetFont("Arial", 20, true);
    p.SetFont("Arial", 8);
    EXPECT_EQ(gdi::liveObjectCount(), before + 1);
    p.Axit();
    EXPECT_EQ(p.fontHandle(), 0u);
    EXPECT_EQ(gdi::liveObjectCount(), before);
  }
  EXPECT_EQ(gdi::liveObjectCount(), before);
}

TEST(RpPrinterUnits, InchesAt300UnitsPerInch) {
  Page page;
  EXPECT_EQ(page.p->PRow(1.5), 450);
  EXPECT_EQ(page.p->printRowDevice(), 450);
  EXPECT_DOUBLE_EQ(page.p->PRow(), 1.5);
}

TEST(RpPrinterUnits, MillimetresRoundToWholeDeviceUnits) {
  Page page;
  page.p->UnitOfMeasure(3);
  EXPECT_EQ(page.p->PCol(10), 118);
  EXPECT_NEAR(page.p->PCol(), 118 * 25.4 / 300, 1e-12);
  page.p->UnitOfMeasure(2);
  EXPECT_EQ(page.p->PRow(2.54), 300);
}

TEST(RpPrinterUnits, DeviceUnitsStoreWholeValues) {
  Page page;
  page.p->UnitOfMeasure(5);
  EXPECT_EQ(page.p->PRow(12.6), 13);
  EXPECT_EQ(page.p->PRow(), 13);
  EXPECT_EQ(page.p->PCol(-2.5), -3);  // half away from zero
  EXPECT_DOUBLE_EQ(page.p->_XlateHInches2UnitOfMeasure(1.001), 300);
  EXPECT_DOUBLE_EQ(page.p->_XlateVUnitOfMeasure2Inches(150), 0.5);
}

TEST(RpPrinterUnits, UnknownCodePassesValuesThroughAndMarginsStayInches) {
  Page page;
  EXPECT_TRUE(page.p->UnitOfMeasure(0));
  EXPECT_EQ(page.p->PRow(7.4), 7);
  EXPECT_DOUBLE_EQ(page.p->PRow(), 7);
  EXPECT_DOUBLE_EQ(page.p->_XlateHLogical2UnitOfMeasure(123.5), 123.5);
  page.p->TopMargin(0.75);
  EXPECT_DOUBLE_EQ(page.p->PtrDevice::TopMargin(), 0.75);
  EXPECT_DOUBLE_EQ(page.p->TopMargin(), 0.75);
  page.p->UnitOfMeasure(99);
  EXPECT_DOUBLE_EQ(page.p->LeftMargin(), 0.5);
}

TEST(RpPrinterUnits, CharacterUnitsFollowTheFontMetrics) {
  Page page;
  page.p->UnitOfMeasure(4);
  const int w = page.p->avgWidthDevice(), h = page.p->charHeightDevice();
  EXPECT_DOUBLE_EQ(page.p->AvgCharWidth(), 1);
  EXPECT_DOUBLE_EQ(page.p->AvgCharHeight(), 1);
  EXPECT_EQ(page.p->PCol(10), 10 * w);
  EXPECT_DOUBLE_EQ(page.p->_XlateVUnitOfMeasure2Inches(3), 3.0 * h / 300);
  EXPECT_DOUBLE_EQ(page.p->_XlateHInches2UnitOfMeasure(1), 300.0 / w);
  page.p->SetFont("Arial", 24);
  EXPECT_GT(page.p->avgWidthDevice(), w);
  EXPECT_EQ(page.p->PCol(10), 10 * page.p->avgWidthDevice());
}

TEST(RpPrinterUnits, MarginsConvertFromAndToInches) {
  Page page;
  page.p->UnitOfMeasure(3);
  page.p->LeftMargin(25.4);
  EXPECT_DOUBLE_EQ(page.p->PtrDevice::LeftMargin(), 1.0);
  EXPECT_DOUBLE_EQ(page.p->LeftMargin(), 25.4);
  page.p->UnitOfMeasure(5);
  EXPECT_DOUBLE_EQ(page.p->BottomMargin(), 150);
  page.p->RightMargin(600);
  EXPECT_DOUBLE_EQ(page.p->PtrDevice::RightMargin(), 2.0);
}

TEST(RpPrinterUnits, PrintAreaIsTheBasesAreaInTheUnit) {
  Page page;
  EXPECT_DOUBLE_EQ(page.p->PrintAreaWidth(), 7.5);
  EXPECT_DOUBLE_EQ(page.p->PrintAreaLength(), 10.0);
  page.p->UnitOfMeasure(5);
  EXPECT_DOUBLE_EQ(page.p->PrintAreaWidth(), 2250);
}

TEST(RpPrinterUnits, NextPRowIsOneLineBelow) {
  Page page;
  page.p->PRow(1);
  EXPECT_DOUBLE_EQ(page.p->NextPRow(), 1 + page.p->charHeightDevice() / 300.0);
}

TEST(RpPrinterUnits, HugeValuesAreClampedNotWrapped) {
  Page page;
  page.p->UnitOfMeasure(5);
  EXPECT_EQ(page.p->PRow(1e300), 2147483647);
  EXPECT_EQ(page.p->PRow(-1e300), -2147483648LL);
}

TEST(RpPrinterFont, VariablePitchWidthAddsHalfRoundedDown) {
  // Find a size whose proportional font reports an average width of 9 device units.
  const gdi::Handle dc = gdi::createMeasuringDc(300, 300);
  double points = 0;
  for (double pt = 1; pt < 12 && points == 0; pt += 0.25) {
    gdi::LogFont lf;
    lf.height = -static_cast<int>(std::lround(pt * 300 / 72));
    lf.faceName = "Arial";
    const gdi::Handle f = gdi::createFont(lf);
    gdi::selectObject(dc, f);
    gdi::TextMetrics tm;
    gdi::textMetrics(dc, tm);
    if (tm.aveCharWidth == 9 && (tm.pitchAndFamily & 1)) points = pt;
    gdi::deleteObject(f);
  }
  gdi::deleteDc(dc);
  if (points == 0) GTEST_SKIP() << "no font size measures 9 units wide here";
  Page page;
  page.p->SetFont("Arial", points);
  EXPECT_EQ(page.p->avgWidthDevice(), 13);
}

TEST(RpPrinterFont, FixedPitchWidthIsTakenAsMeasured) {
  Page page;
  page.p->SetFont("DejaVu Sans Mono", 12);
  gdi::TextMetrics tm;
  gdi::textMetrics(page.printer, tm);
  EXPECT_EQ(page.p->avgWidthDevice(), tm.aveCharWidth);
  EXPECT_EQ(page.p->charHeightDevice(), tm.height + tm.externalLeading);
}

TEST(RpPrinterFont, SetFontStoresEveryFieldAndMissingOnesAreOff) {
  Page page;
  page.p->SetFont("Arial", 10, true, true, true, 900, 450);
  gdi::LogFont lf;
  ASSERT_TRUE(gdi::fontOf(page.p->fontHandle(), lf));
  EXPECT_EQ(lf.weight, 700);
  EXPECT_EQ(lf.italic, 255);
  EXPECT_EQ(lf.underline, 255);
  EXPECT_EQ(lf.orientation, 900);
  EXPECT_EQ(lf.escapement, 450);
  page.p->SetFont("Arial", 10);
  ASSERT_TRUE(gdi::fontOf(page.p->fontHandle(), lf));
  EXPECT_EQ(lf.weight, 400);
  EXPECT_EQ(lf.italic, 0);
  EXPECT_EQ(lf.escapement, 0);
  // The new font went into both contexts.
  EXPECT_EQ(gdi::currentObject(page.printer, 1), page.p->fontHandle());
  EXPECT_EQ(gdi::currentObject(page.out, 1), page.p->fontHandle());
}

}  // namespace
