// rpDrawText through its parameter blocks: layout, the last-line row and drawing.
#include <gtest/gtest.h>

#include "reportengine/reportengine.h"

namespace {

struct Block {
  gdi::Handle output = gdi::createRecordingDc(2550, 3300, 300, 300);
  gdi::Handle printer = gdi::createMeasuringDc(300, 300);
  gdi::Handle font = 0;
  Block() {
    gdi::LogFont lf;
    lf.height = -50;
    lf.faceName = "Arial";
    font = gdi::createFont(lf);
    gdi::selectObject(output, font);
    gdi::selectObject(printer, font);
    rpt::TextBlock& b = rpt::rpTextBlock();
    b.clear();
    b.set(rpt::tb::kOutputDc, static_cast<std::int32_t>(output));
    b.set(rpt::tb::kPrinterDc, static_cast<std::int32_t>(printer));
    b.set(rpt::tb::kParagraph, rpt::kParagraphBlockRef);
    rpt::rpParagraphBlock().clear();
  }
  ~Block() {
    gdi::deleteDc(output);
    gdi::deleteDc(printer);
    gdi::deleteObject(font);
  }
  int lineHeight() const {
    gdi::TextMetrics tm;
    gdi::textMetrics(printer, tm);
    return tm.height + tm.externalLeading;
  }
  // Lays `text` out in the rectangle; returns the last-line row.
  int run(const std::string& text, int left, int top, int right, int pass, int alignment = 0) {
    rpt::PinnedText pin(text);
    rpt::TextBlock& b = rpt::rpTextBlock();
    b.set(rpt::tb::kText, pin.ref());
    b.set(rpt::tb::kLength, static_cast<std::int32_t>(text.size()));
    b.set(rpt::tb::kLeft, left);
    b.set(rpt::tb::kTop, top);
    b.set(rpt::tb::kRight, right);
    b.set(rpt::tb::kBottom, top + 60);
    b.set(rpt::tb::kPass, pass);
    rpt::rpParagraphBlock().set(rpt::pb::kAlignment, alignment);
    rpt::rpDrawText(b);
    return b.get(rpt::tb::kLastLineRow);
  }
  std::vector<std::string> drawnLines() const {
    std::vector<std::string> out;
    for (const auto& r : gdi::recordedPage(output)->records)
      if (r.kind == gdi::Record::TextOut) out.push_back(r.text);
    return out;
  }
  std::vector<int> drawnX() const {
    std::vector<int> out;
    for (const auto& r : gdi::recordedPage(output)->records)
      if (r.kind == gdi::Record::TextOut) out.push_back(r.a);
    return out;
  }
};

TEST(ParamBlocks, FieldsAreLittleEndianAtTheirOffsets) {
  rpt::TextBlock b;
  b.set(84, 0x01020304);
  EXPECT_EQ(b.bytes()[84], 0x04);
  EXPECT_EQ(b.bytes()[87], 0x01);
  EXPECT_EQ(b.get(84), 0x01020304);
  b.set(4, -2);
  EXPECT_EQ(b.get(4), -2);
  EXPECT_EQ(b.bytes()[7], 0xFF);
}

TEST(ParamBlocks, OffsetsPastTheEndAreIgnored) {
  rpt::CharacterBlock b;
  b.set(rpt::CharacterBlock::size() - 2, 7);
  EXPECT_EQ(b.get(rpt::CharacterBlock::size() - 2), 0);
  for (auto byte : b.bytes()) EXPECT_EQ(byte, 0);
}

TEST(ParamBlocks, ProcessWideBlocksStartZeroFilled) {
  // Another test may have used them already; the paragraph block's far end is never written.
  EXPECT_EQ(rpt::rpCharacterBlock().get(60), 0);
  EXPECT_EQ(rpt::rpParagraphBlock().get(120), 0);
}

TEST(DrawTextLayout, OneLineThatFitsEndsOnTheTopRow) {
  Block b;
  EXPECT_EQ(b.run("short", 100, 200, 2000, 0), 200);
  EXPECT_TRUE(b.drawnLines().empty());  // measuring draws nothing
}

TEST(DrawTextLayout, LongTextWrapsAtSpacesAndReportsItsLastRow) {
  Block b;
  const int width = gdi::textExtent(b.printer, "alpha beta").cx + 2;
  EXPECT_EQ(b.run("alpha beta alpha beta", 0, 100, width, 1), 100 + b.lineHeight());
  EXPECT_EQ(b.drawnLines(), (std::vector<std::string>{"alpha beta", "alpha beta"}));
}

TEST(DrawTextLayout, LineFeedsStartNewLinesAndBlankLinesCount) {
  Block b;
  EXPECT_EQ(b.run("one\r\n\ntwo", 0, 0, 2000, 1), 2 * b.lineHeight());
  EXPECT_EQ(b.drawnLines(), (std::vector<std::string>{"one", "two"}));
}

TEST(DrawTextLayout, AWordWiderThanTheRectangleIsBrokenAtCharacters) {
  Block b;
  const int width = gdi::textExtent(b.printer, "abcd").cx;
  b.run("abcdefghij", 0, 0, width, 1);
  std::string joined;
  for (const auto& l : b.drawnLines()) {
    EXPECT_LE(gdi::textExtent(b.printer, l).cx, width);
    joined += l;
  }
  EXPECT_EQ(joined, "abcdefghij");
}

TEST(DrawTextLayout, MultiByteCharactersAreNeverSplit) {
  Block b;
  const std::string text = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";  // six e-acute
  b.run(text, 0, 0, gdi::textExtent(b.printer, "\xC3\xA9").cx + 1, 1);
  for (const auto& l : b.drawnLines()) EXPECT_EQ(l.size() % 2, 0u) << l;
}

TEST(DrawTextLayout, AlignmentCodesPlaceTheLine) {
  for (int alignment : {0, 1, 2}) {
    Block b;
    const int w = gdi::textExtent(b.printer, "word").cx;
    b.run("word", 100, 0, 1100, 1, alignment);
    const int expected = alignment == 0 ? 100 : alignment == 1 ? 100 + (1000 - w) / 2 : 1100 - w;
    ASSERT_EQ(b.drawnX().size(), 1u);
    EXPECT_EQ(b.drawnX()[0], expected) << alignment;
  }
}

TEST(DrawTextLayout, JustifiedLinesSpanTheWidthExceptTheLast) {
  Block b;
  const int width = gdi::textExtent(b.printer, "aa bb cc dd").cx + 40;
  b.run("aa bb cc dd ee ff gg hh", 0, 0, width, 1, 4);
  const auto& records = gdi::recordedPage(b.output)->records;
  // The first line's last word ends at the right edge.
  int firstLineEnd = 0;
  for (const auto& r : records)
    if (r.kind == gdi::Record::TextOut && r.b == 0)
      firstLineEnd = std::max(firstLineEnd, r.a + gdi::textExtent(b.printer, r.text).cx);
  EXPECT_EQ(firstLineEnd, width);
}

TEST(DrawTextLayout, LengthFieldLimitsTheTextAndCannotOverrun) {
  Block b;
  std::string text = "visible hidden";
  rpt::PinnedText pin(text);
  rpt::TextBlock& block = rpt::rpTextBlock();
  block.set(rpt::tb::kText, pin.ref());
  block.set(rpt::tb::kLength, 7);
  block.set(rpt::tb::kRight, 3000);
  block.set(rpt::tb::kPass, 1);
  rpt::rpDrawText(block);
  block.set(rpt::tb::kLength, 1 << 30);
  rpt::rpDrawText(block);
  EXPECT_EQ(b.drawnLines(), (std::vector<std::string>{"visible", "visible hidden"}));
}

TEST(DrawTextLayout, AnUnknownTextReferenceOrContextLaysOutNothing) {
  Block b;
  rpt::TextBlock& block = rpt::rpTextBlock();
  block.set(rpt::tb::kText, 999999);
  block.set(rpt::tb::kTop, 77);
  block.set(rpt::tb::kPass, 1);
  rpt::rpDrawText(block);
  EXPECT_EQ(block.get(rpt::tb::kLastLineRow), 77);
  std::string text = "x";
  rpt::PinnedText pin(text);
  block.set(rpt::tb::kText, pin.ref());
  block.set(rpt::tb::kOutputDc, 0);
  block.set(rpt::tb::kPrinterDc, 0);
  rpt::rpDrawText(block);
  EXPECT_TRUE(b.drawnLines().empty());
}

TEST(DrawTextLayout, DrawingRestoresTheContextsAlignmentAndMode) {
  Block b;
  gdi::setTextAlign(b.output, gdi::TA_RIGHT);
  gdi::setBkMode(b.output, gdi::OPAQUE);
  b.run("text", 0, 0, 1000, 1);
  EXPECT_EQ(gdi::textAlign(b.output), gdi::TA_RIGHT);
  const std::string dump = gdi::dump(*gdi::recordedPage(b.output));
  EXPECT_NE(dump.find("text 0 0 \"text\"\nalign 2\nbkmode 2\n"), std::string::npos) << dump;
}

}  // namespace
