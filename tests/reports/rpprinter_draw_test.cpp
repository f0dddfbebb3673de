// Drawing through the device: markers, pens, brushes, the print position, activity rules.
#include <QFile>
#include <QTemporaryDir>

#include "rpprinter_fixture.h"

namespace {
using rpprinter_test::color;
using rpprinter_test::marker;
using rpprinter_test::Page;

TEST(RpPrinterTextOut, MarkerRecordsSurroundTheTextByteForByte) {
  Page page;
  page.p->TextOut(1.0, 1.0, "abc");
  const int w = page.p->avgWidthDevice() * 3 + 1;
  const int h = 2 * page.p->charHeightDevice() + 1;
  const auto comments = gdi::comments(page.page());
  ASSERT_EQ(comments.size(), 2u);
  EXPECT_EQ(comments[0], marker(0xFFFE, 0, 300, 300, w, h));
  EXPECT_EQ(comments[1], marker(0xFFFF, 0, 300, 300, w, h));
  // Order: opening marker, the text, closing marker.
  const std::string dump = page.dump();
  const auto open = dump.find("comment FE FF 00 00");
  const auto text = dump.find("text 300 300 \"abc\"");
  const auto close = dump.find("comment FF FF 00 00");
  EXPECT_LT(open, text);
  EXPECT_LT(text, close);
  EXPECT_NE(close, std::string::npos);
}

TEST(RpPrinterTextOut, MarkerWidthCountsCharactersNotBytes) {
  Page page;
  page.p->TextOut(1.0, 1.0, "Größe €");  // 7 characters, 11 bytes
  const int w = page.p->avgWidthDevice() * 7 + 1;
  const int h = 2 * page.p->charHeightDevice() + 1;
  const auto comments = gdi::comments(page.page());
  ASSERT_EQ(comments.size(), 2u);
  EXPECT_EQ(comments[0], marker(0xFFFE, 0, 300, 300, w, h));
  EXPECT_NE(page.dump().find("text 300 300 \"Größe €\""), std::string::npos) << page.dump();
}

TEST(RpPrinterTextOut, AlignmentCodesMapToTheContextsFlags) {
  for (auto [code, flags] : {std::pair{0, 0}, std::pair{1, 6}, std::pair{2, 2}, std::pair{7, 0}}) {
    Page page;
    page.p->TextOut(0, 0, "x", code);
    EXPECT_EQ(gdi::textAlign(page.out), flags) << code;
    EXPECT_EQ(gdi::comments(page.page())[0][4], flags) << code;
  }
}

TEST(RpPrinterTextOut, PColMovesPastTheTextAndPRowStays) {
  Page page;
  page.p->TextOut(2.0, 1.0, "abc");
  const int measured = gdi::textExtent(page.printer, "abc").cx;
  EXPECT_EQ(page.p->printColumnDevice(), 300 + measured);
  EXPECT_DOUBLE_EQ(page.p->PCol(), 1.0 + measured / 300.0);
  EXPECT_DOUBLE_EQ(page.p->PRow(), 2.0);
}

TEST(RpPrinterTextOut, ColoursAndBackgroundModes) {
  Page page;
  page.p->TextOut(0, 0, "plain");
  page.p->TextOut(0, 0, "on yellow", 0, color(255, 0, 0), color(255, 255, 0));
  const std::string dump = page.dump();
  EXPECT_NE(dump.find("textcolor #000000\nbkmode 1\n"), std::string::npos);
  EXPECT_NE(dump.find("textcolor #FF0000\nbkcolor #FFFF00\nbkmode 2\n"), std::string::npos);
  EXPECT_EQ(gdi::dump(page.page()).rfind("bkmode 1"), dump.size() - std::string("bkmode 1\n").size());
}

TEST(RpPrinterTextOut, MissingPositionUsesThePrintPosition) {
  Page page;
  page.p->PRow(1);
  page.p->PCol(2);
  page.p->TextOut({}, {}, "here");
  EXPECT_NE(page.dump().find("text 600 300 \"here\""), std::string::npos);
}

TEST(RpPrinterDrawText, ParameterBlocksCarryTheFixedFields) {
  Page page;
  page.p->DrawText(1.0, 0.5, "block", 0.5, 2.0, 2);
  const rpt::TextBlock& b = rpt::rpTextBlock();
  EXPECT_EQ(b.get(8), 1);
  EXPECT_EQ(b.get(12), 150);
  EXPECT_EQ(b.get(16), 300);
  EXPECT_EQ(b.get(20), 150 + 601);
  EXPECT_EQ(b.get(24), 300 + 151);
  EXPECT_EQ(b.get(28), static_cast<std::int32_t>(page.out));
  EXPECT_EQ(b.get(32), static_cast<std::int32_t>(page.printer));
  EXPECT_EQ(b.get(40), 1);
  EXPECT_EQ(b.get(44), 1);
  EXPECT_EQ(b.get(48), 0);
  EXPECT_EQ(b.get(52), 0);
  EXPECT_EQ(b.get(56), rpt::kParagraphBlockRef);
  EXPECT_EQ(b.get(60), rpt::kCharacterBlockRef);
  EXPECT_EQ(b.get(64), 0);
  EXPECT_EQ(rpt::rpParagraphBlock().get(12), 2);
  EXPECT_EQ(rpt::rpParagraphBlock().get(112), 99999);
  EXPECT_EQ(rpt::rpCharacterBlock().get(32), 1);
  page.p->DrawText(1.0, 0.5, "block", 0.5, 2.0, 3, {}, {}, true);
  EXPECT_EQ(b.get(44), 0);
  EXPECT_EQ(rpt::rpParagraphBlock().get(12), 0);  // codes other than 1, 2, 4 become 0
}

TEST(RpPrinterDrawText, MarkerHeightComesFromTheMeasuringPass) {
  Page page;
  const int ch = page.p->charHeightDevice();
  // Narrow enough to wrap onto three lines.
  page.p->UnitOfMeasure(5);
  const int width = gdi::textExtent(page.printer, "word").cx + 5;
  page.p->DrawText(100, 200, "word word word", ch, width);
  gdi::TextMetrics tm;
  gdi::textMetrics(page.printer, tm);
  const int lastRow = 100 + 2 * (tm.height + tm.externalLeading);
  const auto comments = gdi::comments(page.page());
  ASSERT_EQ(comments.size(), 2u);
  EXPECT_EQ(comments[0], marker(0xFFFE, 0, 200, 100, width + 1, (lastRow - 100) + ch));
  EXPECT_EQ(comments[1], marker(0xFFFF, 0, 200, 100, width + 1, (lastRow - 100) + ch));
  EXPECT_EQ(page.recordsOf(gdi::Record::TextOut).size(), 3u);
}

TEST(RpPrinterDrawText, PrintPositionEndsAtTheRectanglesLastLine) {
  Page page;
  page.p->UnitOfMeasure(5);
  page.p->DrawText(100, 200, "abc", 80, 400);
  EXPECT_EQ(page.p->printRowDevice(), (100 + 81) - page.p->charHeightDevice() - 1);
  EXPECT_EQ(page.p->printColumnDevice(), 200 + 401 - 1);
}

TEST(RpPrinterDrawText, DefaultsAreOneLineAsWideAsTheText) {
  Page page;
  page.p->PRow(1);
  page.p->PCol(1);
  page.p->DrawText({}, {}, "abcd");
  const rpt::TextBlock& b = rpt::rpTextBlock();
  EXPECT_EQ(b.get(24) - b.get(16), page.p->charHeightDevice() + 1);
  EXPECT_EQ(b.get(20) - b.get(12), 4 * page.p->avgWidthDevice() + 1);
  EXPECT_EQ(page.p->printRowDevice(), 300);
}

TEST(RpPrinterDrawText, DefaultWidthCountsCharactersNotBytes) {
  Page page;
  page.p->PRow(1);
  page.p->PCol(1);
  page.p->DrawText({}, {}, "Ängel €");  // 7 characters, 10 bytes
  const rpt::TextBlock& b = rpt::rpTextBlock();
  EXPECT_EQ(b.get(20) - b.get(12), 7 * page.p->avgWidthDevice() + 1);
  EXPECT_EQ(b.get(4), 10);  // the text's length in bytes of UTF-8, for the layout to read it whole
}

TEST(RpPrinterDrawText, BackgroundColourFillsTheRectangleFirst) {
  Page page;
  page.p->UnitOfMeasure(5);
  page.p->DrawText(100, 200, "abc", 50, 300, 0, {}, color(0, 0, 255));
  const std::string dump = page.dump();
  const auto fill = dump.find("brush style=0 color=#0000FF hatch=0\nrectangle 200 100 501 151\n");
  ASSERT_NE(fill, std::string::npos) << dump;
  EXPECT_LT(fill, dump.find("comment FE FF"));
}

TEST(RpPrinterLines, NonSolidPenOfWidthOneBecomesWidthZero) {
  Page page;
  page.p->DrawLine(0, 0, 1, 1, 1, 2);
  page.p->DrawLine(0, 0, 1, 1, 3, 2);
  page.p->DrawLine(0, 0, 1, 1, 1, 0);
  page.p->DrawLine(0, 0, 1, 1);
  std::vector<std::pair<int, int>> pens;
  for (const auto& r : page.recordsOf(gdi::Record::SelectPen))
    if (!(r.pen == gdi::LogPen{0, 0, 0})) pens.emplace_back(r.pen.style, r.pen.width);
  EXPECT_EQ(pens, (std::vector<std::pair<int, int>>{{2, 0}, {2, 3}, {0, 1}, {0, 1}}));
}

TEST(RpPrinterLines, LineRunsBetweenTheConvertedPointsAndRestoresTheStockPen) {
  Page page;
  page.p->PRow(3);
  page.p->PCol(4);
  const int before = gdi::liveObjectCount();
  page.p->DrawLine(1.0, 0.5, {}, 2.0, 1, 0, color(9, 8, 7));
  EXPECT_EQ(gdi::liveObjectCount(), before);
  const std::string dump = page.dump();
  EXPECT_NE(dump.find("pen style=0 width=1 color=#090807\nmoveto 150 300\nlineto 600 900\n"
                      "pen style=0 width=0 color=#000000\n"),
            std::string::npos)
      << dump;
  EXPECT_EQ(page.p->printRowDevice(), 900);
}

TEST(RpPrinterShapes, RectangleBottomAndRightGainOne) {
  Page page;
  page.p->DrawRectangle(1.0, 1.0, 2.0, 3.0);
  EXPECT_NE(page.dump().find("rectangle 300 300 901 601"), std::string::npos);
}

TEST(RpPrinterShapes, MissingBrushCodeLeavesTheShapeUnfilledAndDeletesNoBrush) {
  Page page;
  const int before = gdi::liveObjectCount();
  page.p->DrawEllipse(1.0, 1.0, 2.0, 2.0);
  EXPECT_EQ(gdi::liveObjectCount(), before);
  const std::string dump = page.dump();
  EXPECT_NE(dump.find("brush style=1 color=#000000 hatch=0\nellipse 300 300 601 601\n"
                      "pen style=0 width=0 color=#000000\nbrush style=0 color=#FFFFFF hatch=0\n"),
            std::string::npos)
      << dump;
}

TEST(RpPrinterShapes, HollowBrushCodeGivesAnOutlineOnly) {
  Page page;
  const int before = gdi::liveObjectCount();
  page.p->DrawRectangle(1.0, 1.0, 2.0, 2.0, 1, 0, {}, -2, color(255, 0, 0));
  EXPECT_EQ(gdi::liveObjectCount(), before);
  EXPECT_NE(page.dump().find("brush style=1 color=#FF0000 hatch=0\nrectangle"), std::string::npos);
}

TEST(RpPrinterShapes, SolidHatchedAndDefaultColouredBrushes) {
  Page page;
  page.p->DrawRectangle(0, 0, 1, 1, 1, 0, {}, -1, color(1, 2, 3));
  page.p->DrawRectangle(0, 0, 1, 1, 1, 0, {}, 4, color(1, 2, 3));
  page.p->DrawRectangle(0, 0, 1, 1, 1, 0, {}, 3);
  const std::string dump = page.dump();
  EXPECT_NE(dump.find("brush style=0 color=#010203 hatch=0\nrectangle"), std::string::npos);
  EXPECT_NE(dump.find("brush style=2 color=#010203 hatch=4\nrectangle"), std::string::npos);
  EXPECT_NE(dump.find("brush style=2 color=#C0C0C0 hatch=3\nrectangle"), std::string::npos);
}

TEST(RpPrinterShapes, BrushFromCodeAndColourNumber) {
  const gdi::Handle b = reports::_RpCreateBrush(5, static_cast<long long>(gdi::rgb(10, 20, 30)));
  gdi::LogBrush lb;
  ASSERT_TRUE(gdi::brushOf(b, lb));
  EXPECT_EQ(lb.style, gdi::BS_HATCHED);
  EXPECT_EQ(lb.hatch, 5);
  EXPECT_EQ(lb.color, gdi::rgb(10, 20, 30));
  gdi::deleteObject(b);
}

TEST(RpPrinterActivity, InactiveDeviceDrawsNothingAndMeasuresZero) {
  Page page(false, false, false);
  const std::size_t before = page.recordCount();
  page.p->TextOut(1, 1, "x");
  page.p->DrawText(1, 1, "x");
  page.p->DrawLine(0, 0, 1, 1);
  page.p->DrawRectangle(0, 0, 1, 1, 1, 0, {}, -1);
  page.p->DrawEllipse(0, 0, 1, 1);
  page.p->DrawBmp(0, 0, "whatever.bmp");
  page.p->DrawRtf(0, 0, "whatever.rtf");
  EXPECT_EQ(page.recordCount(), before);
  EXPECT_EQ(page.p->GetTextLength("abc"), 0);
  EXPECT_EQ(page.p->printColumnDevice(), 0);
}

TEST(RpPrinterActivity, ExportingOnlyDrawsButHasNoTextFace) {
  Page page(false, false, true);
  EXPECT_EQ(page.p->GetTextFace(), "");
  page.p->TextOut(1, 1, "x");
  EXPECT_EQ(page.recordsOf(gdi::Record::TextOut).size(), 1u);
  EXPECT_GT(page.p->GetTextLength("abc"), 0);
}

TEST(RpPrinterActivity, PrintingOrPreviewingReportsTheFace) {
  Page printing(true, false, false), previewing(false, true, false);
  EXPECT_EQ(printing.p->GetTextFace(), gdi::textFace(printing.printer));
  EXPECT_FALSE(previewing.p->GetTextFace().empty());
}

TEST(RpPrinterActivity, MeasuringWorksBeforeAPrinterContextExists) {
  reports::RpPrinter p;
  p.setActivity(false, true, false);
  EXPECT_GT(p.GetTextLength("abc"), 0);
  EXPECT_FALSE(p.GetTextFace().empty());
}

TEST(RpPrinterPages, PageEventsResetThePrintPositionAndReselectTheFont) {
  Page page;
  page.p->PRow(2);
  page.p->PCol(3);
  EXPECT_TRUE(page.p->CallPrintPageHeader().asLogical());
  EXPECT_EQ(page.p->printRowDevice(), 0);
  EXPECT_EQ(page.p->printColumnDevice(), 0);
  page.p->PRow(2);
  page.p->PCol(3);
  const gdi::Handle other = gdi::createFont(gdi::LogFont{});
  gdi::selectObject(page.out, other);
  gdi::selectObject(page.printer, other);
  EXPECT_TRUE(page.p->CallPrintSetPage(rt::Value(2)).asLogical());
  EXPECT_EQ(page.p->printRowDevice(), 0);
  EXPECT_EQ(page.p->printColumnDevice(), 0);
  EXPECT_EQ(gdi::currentObject(page.out, 1), page.p->fontHandle());
  EXPECT_EQ(gdi::currentObject(page.printer, 1), page.p->fontHandle());
  EXPECT_EQ(page.p->pagesStarted(), 2);
  gdi::deleteObject(other);
}

struct TempFiles {
  QTemporaryDir dir;
  std::string png() {
    QImage img(30, 20, QImage::Format_RGB32);
    img.fill(QColor(200, 50, 50));
    const QString path = dir.path() + "/pic.png";
    img.save(path, "PNG");
    return path.toStdString();
  }
  std::string rtf(const char* content) {
    QFile f(dir.path() + "/doc.rtf");
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return f.fileName().toStdString();
  }
};

TEST(RpPrinterBitmaps, BitmapMarkerPrecedesTheImage) {
  Page page;
  TempFiles files;
  page.p->DrawBmp(1.0, 0.5, files.png(), 1.0, 2.0);
  const auto comments = gdi::comments(page.page());
  ASSERT_EQ(comments.size(), 1u);
  EXPECT_EQ(comments[0], (std::vector<std::uint8_t>{0x3F, 0x42, 0x0F, 0x00, 0x2C, 0x01, 0x00, 0x00}));
  const auto images = page.recordsOf(gdi::Record::Image);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].a, 150);
  EXPECT_EQ(images[0].b, 300);
  EXPECT_EQ(images[0].c, 600);
  EXPECT_EQ(images[0].d, 300);
}

TEST(RpPrinterBitmaps, AFileThatDoesNotLoadIsSkippedSilently) {
  Page page;
  TempFiles files;
  const std::size_t before = page.recordCount();
  page.p->DrawBmp(1.0, 1.0, files.rtf("not a bitmap"));
  page.p->DrawBmp(1.0, 1.0, "/nonexistent/pic.bmp");
  EXPECT_EQ(page.recordCount(), before);
}

TEST(RpPrinterBitmaps, LoadedBitmapDrawsAtThePrintPositionWithItsOwnSize) {
  Page page;
  TempFiles files;
  auto bitmap = std::make_shared<rpt::DIBMP>();
  ASSERT_TRUE(bitmap->LoadDIBFromFile(files.png()));
  page.p->PRow(1);
  page.p->_DrawBmp({}, {}, rt::Value(bitmap));
  const auto images = page.recordsOf(gdi::Record::Image);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0].b, 300);
  EXPECT_EQ(images[0].c, 94);  // 30 pixels at 96 dpi, rounded at 300
}

TEST(RpPrinterRichText, DrawRtfDrawsTheDocumentAndSkipsFilesThatDoNotLoad) {
  Page page;
  TempFiles files;
  page.p->DrawRtf(1.0, 1.0, files.rtf("{\\rtf1 Hello {\\b rich} text}"), 1.0, 3.0);
  std::string texts;
  for (const auto& r : page.recordsOf(gdi::Record::TextOut)) texts += r.text + "|";
  EXPECT_EQ(texts, "Hello|rich|text|");
  EXPECT_EQ(page.recordsOf(gdi::Record::TextOut)[0].b, 300);
  const std::size_t before = page.recordCount();
  page.p->DrawRtf(1.0, 1.0, files.rtf("plain"));
  page.p->DrawRtf(1.0, 1.0, "/nonexistent/doc.rtf");
  EXPECT_EQ(page.recordCount(), before);
  EXPECT_EQ(page.p->printRowDevice(), 0);  // the print position is unchanged
}

TEST(RpPrinterRichText, MissingSizeRunsToTheEndOfThePrintArea) {
  Page page;
  auto doc = std::make_shared<rpt::RTF>();
  std::string many = "{\\rtf1 ";
  for (int i = 0; i < 400; ++i) many += "line\\par ";
  many += "}";
  ASSERT_TRUE(doc->loadFromMemory(many));
  page.p->_DrawRtf(9.0, 0, rt::Value(doc));
  const auto texts = page.recordsOf(gdi::Record::TextOut);
  ASSERT_FALSE(texts.empty());
  EXPECT_LT(texts.size(), 400u);
  for (const auto& t : texts) EXPECT_LE(t.b, page.p->LogPrintAreaLength());
}

}  // namespace
