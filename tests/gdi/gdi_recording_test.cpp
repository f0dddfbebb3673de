// Recorded pages: order, dump, comments, replay onto images and PDF.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "gdi/gdi.h"

namespace {

// Draws one of everything on `dc`.
void drawSample(gdi::Handle dc) {
  gdi::LogFont lf;
  lf.height = -24;
  lf.faceName = "Arial";
  lf.underline = 255;
  const gdi::Handle font = gdi::createFont(lf);
  gdi::selectObject(dc, font);
  gdi::setTextColor(dc, gdi::rgb(0, 0, 128));
  gdi::setBkMode(dc, gdi::TRANSPARENT);
  gdi::setTextAlign(dc, gdi::TA_LEFT);
  gdi::gdiComment(dc, {0xFE, 0xFF, 0, 0});
  gdi::textOut(dc, 10, 10, "Sample");
  const gdi::Handle pen = gdi::createPen(gdi::PS_DASH, 0, gdi::rgb(200, 0, 0));
  gdi::selectObject(dc, pen);
  gdi::moveTo(dc, 10, 60);
  gdi::lineTo(dc, 190, 60);
  const gdi::Handle brush = gdi::createBrushIndirect({gdi::BS_HATCHED, gdi::rgb(0, 120, 0), gdi::HS_DIAGCROSS});
  gdi::selectObject(dc, brush);
  gdi::rectangle(dc, 10, 70, 90, 140);
  gdi::ellipse(dc, 100, 70, 190, 140);
  QImage tile(4, 4, QImage::Format_ARGB32);
  tile.fill(QColor(255, 200, 0));
  gdi::stretchImage(dc, 150, 5, 40, 40, tile);
  gdi::selectObject(dc, gdi::stockObject(gdi::BLACK_PEN));
  gdi::selectObject(dc, gdi::stockObject(gdi::WHITE_BRUSH));
  gdi::deleteObject(pen);
  gdi::deleteObject(brush);
  gdi::deleteObject(font);
}

TEST(GdiRecording, DumpKeepsEveryCallInOrder) {
  const gdi::Handle dc = gdi::createRecordingDc(200, 150, 96, 96);
  drawSample(dc);
  const std::string expected =
      "page 200x150 @96x96\n"
      "font h=-24 w=0 esc=0 weight=400 i=0 u=255 s=0 face=\"Arial\"\n"
      "textcolor #000080\n"
      "bkmode 1\n"
      "align 0\n"
      "comment FE FF 00 00\n"
      "text 10 10 \"Sample\"\n"
      "pen style=1 width=0 color=#C80000\n"
      "moveto 10 60\n"
      "lineto 190 60\n"
      "brush style=2 color=#007800 hatch=5\n"
      "rectangle 10 70 90 140\n"
      "ellipse 100 70 190 140\n"
      "image 150 5 40 40 4x4 md5=";
  const std::string dump = gdi::dump(*gdi::recordedPage(dc));
  EXPECT_EQ(dump.substr(0, expected.size()), expected);
  EXPECT_NE(dump.find("\npen style=0 width=0 color=#000000\nbrush style=0 color=#FFFFFF hatch=0\n"),
            std::string::npos);
  gdi::deleteDc(dc);
}

TEST(GdiRecording, DumpQuotesControlCharactersAndQuotes) {
  const gdi::Handle dc = gdi::createRecordingDc(10, 10, 96, 96);
  gdi::textOut(dc, 0, 0, std::string("a\"b\\c\n\x01", 7));
  EXPECT_NE(gdi::dump(*gdi::recordedPage(dc)).find("text 0 0 \"a\\\"b\\\\c\\x0A\\x01\""), std::string::npos);
  gdi::deleteDc(dc);
}

TEST(GdiRecording, CommentsAreKeptByteForByteOnlyOnRecordings) {
  const gdi::Handle dc = gdi::createRecordingDc(10, 10, 96, 96);
  std::vector<std::uint8_t> bytes(24);
  for (int i = 0; i < 24; ++i) bytes[i] = static_cast<std::uint8_t>(i * 11);
  gdi::gdiComment(dc, bytes);
  gdi::gdiComment(dc, {});
  const auto kept = gdi::comments(*gdi::recordedPage(dc));
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0], bytes);
  EXPECT_TRUE(kept[1].empty());
  gdi::deleteDc(dc);
}

TEST(GdiRecording, ReplayOntoAnImageMatchesDrawingDirectly) {
  const gdi::Handle rec = gdi::createRecordingDc(200, 150, 96, 96);
  drawSample(rec);
  const gdi::Handle direct = gdi::createImageDc(200, 150, 96);
  drawSample(direct);
  const gdi::Handle replayed = gdi::createImageDc(200, 150, 96);
  const int objectsBefore = gdi::liveObjectCount();
  ASSERT_TRUE(gdi::replay(*gdi::recordedPage(rec), replayed));
  EXPECT_EQ(gdi::liveObjectCount(), objectsBefore);
  EXPECT_EQ(*gdi::imageOf(direct), *gdi::imageOf(replayed));
  gdi::deleteDc(rec);
  gdi::deleteDc(direct);
  gdi::deleteDc(replayed);
}

TEST(GdiRecording, ReplayOntoARecordingReproducesTheDump) {
  const gdi::Handle rec = gdi::createRecordingDc(200, 150, 96, 96);
  drawSample(rec);
  const gdi::Handle copy = gdi::createRecordingDc(200, 150, 96, 96);
  gdi::replay(*gdi::recordedPage(rec), copy);
  // The replay adds the final reset to stock objects; everything before it is identical.
  const std::string original = gdi::dump(*gdi::recordedPage(rec));
  const std::string replayed = gdi::dump(*gdi::recordedPage(copy));
  EXPECT_EQ(replayed.substr(0, original.size()), original);
  EXPECT_FALSE(gdi::replay(*gdi::recordedPage(rec), 0));
  gdi::deleteDc(rec);
  gdi::deleteDc(copy);
}

TEST(GdiRecording, ReplayOntoAPdfWritesAPdfFile) {
  QTemporaryDir dir;
  const std::string path = (dir.path() + "/page.pdf").toStdString();
  const gdi::Handle rec = gdi::createRecordingDc(200, 150, 96, 96);
  drawSample(rec);
  const gdi::Handle pdf = gdi::createPdfDc(path, 200, 150, 96);
  ASSERT_NE(pdf, 0u);
  ASSERT_TRUE(gdi::replay(*gdi::recordedPage(rec), pdf));
  ASSERT_TRUE(gdi::deleteDc(pdf));
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.read(5).startsWith("%PDF-"));
  EXPECT_GT(file.size(), 500);
  gdi::deleteDc(rec);
}

}  // namespace
