// The rich-text reader and drawing.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "reportengine/reportengine.h"

namespace {

rpt::RtfDocument read(std::string_view text) {
  rpt::RtfDocument doc;
  EXPECT_TRUE(rpt::parseRtf(text, doc));
  return doc;
}

TEST(RtfReader, ParagraphsAndPlainText) {
  EXPECT_EQ(read("{\\rtf1\\ansi Hello\\par World\\par}").plainText(), "Hello\nWorld\n");
  EXPECT_EQ(read("  {\\rtf1 a}").plainText(), "a\n");
}

TEST(RtfReader, StylesMakeSeparateRuns) {
  const auto doc = read("{\\rtf1 plain {\\b bold}{\\i italic}\\ul under\\ulnone{\\fs48 big} \\b1x\\b0 y}");
  const auto& runs = doc.paragraphs.at(0).runs;
  ASSERT_GE(runs.size(), 7u);
  EXPECT_EQ(runs[0].text, "plain ");
  EXPECT_TRUE(runs[1].bold);
  EXPECT_EQ(runs[1].text, "bold");
  EXPECT_TRUE(runs[2].italic);
  EXPECT_FALSE(runs[2].bold);
  EXPECT_TRUE(runs[3].underline);
  EXPECT_EQ(runs[4].halfPoints, 48);
  EXPECT_EQ(runs[4].text, "big");
  EXPECT_EQ(runs[5].halfPoints, 24);
  EXPECT_TRUE(runs[6].bold);
  EXPECT_EQ(doc.plainText(), "plain bolditalicunderbig xy\n");
}

TEST(RtfReader, TabsAndLineBreaks) {
  EXPECT_EQ(read("{\\rtf1 a\\tab b\\line c}").plainText(), "a\tb\nc\n");
}

TEST(RtfReader, EscapedAndUnicodeCharacters) {
  EXPECT_EQ(read("{\\rtf1 caf\\'e9 \\'80 \\{x\\} \\\\}").plainText(), "caf\xC3\xA9 \xE2\x82\xAC {x} \\\n");
  EXPECT_EQ(read("{\\rtf1 \\u8364?euro}").plainText(), "\xE2\x82\xAC" "euro\n");
  EXPECT_EQ(read("{\\rtf1\\uc2 \\u-3913XYz}").plainText(), "\xEF\x82\xB7z\n");  // negative: +65536
  EXPECT_EQ(read("{\\rtf1\\uc0 \\u55357\\u56832 ok}").plainText(), "\xF0\x9F\x98\x80ok\n");
  EXPECT_EQ(read("{\\rtf1\\uc0 \\u55357 lone}").plainText(), "\xEF\xBF\xBDlone\n");
}

TEST(RtfReader, UnknownAndIgnorableGroupsAreSkipped) {
  const auto doc = read(
      "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255;}{\\*\\generator Writer;}"
      "{\\info{\\title T}}{\\*\\unknowndest junk}{\\pict 0123abcd}{\\unknownword kept}Body}");
  EXPECT_EQ(doc.plainText(), "keptBody\n");
}

TEST(RtfReader, AlignmentFollowsParagraphControls) {
  const auto doc = read("{\\rtf1\\qc centred\\par still\\par\\pard left\\par\\qr right}");
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  EXPECT_EQ(doc.paragraphs[0].alignment, 1);
  EXPECT_EQ(doc.paragraphs[1].alignment, 1);
  EXPECT_EQ(doc.paragraphs[2].alignment, 0);
  EXPECT_EQ(doc.paragraphs[3].alignment, 2);
}

TEST(RtfReader, NotRichTextIsRefused) {
  rpt::RtfDocument doc;
  EXPECT_FALSE(rpt::parseRtf("Hello", doc));
  EXPECT_FALSE(rpt::parseRtf("", doc));
  EXPECT_FALSE(rpt::parseRtf("{\\rt", doc));
}

TEST(RtfReader, MalformedInputReadsAsFarAsItMakesSense) {
  EXPECT_EQ(read("{\\rtf1 open {\\b never closed").plainText(), "open never closed\n");
  EXPECT_EQ(read("{\\rtf1 x}} after").plainText(), "x\n");
  EXPECT_EQ(read("{\\rtf1 bad\\'zz hex\\'4").plainText(), "badzz hex\n");
  EXPECT_EQ(read("{\\rtf1 trailing\\").plainText(), "trailing\n");
  EXPECT_EQ(read("{\\rtf1 \\fs99999999999999999 big}").paragraphs[0].runs[0].halfPoints, 3276);
  EXPECT_EQ(read("{\\rtf1 \\averyveryveryveryveryverylongcontrolwordthatkeepsgoing x}").plainText().back(), '\n');
}

TEST(RtfReader, DeepNestingDoesNotExhaustTheStack) {
  std::string deep = "{\\rtf1 ";
  deep += std::string(200000, '{');
  deep += "deep";
  deep += std::string(200000, '}');
  deep += " tail}";
  EXPECT_EQ(read(deep).plainText(), "deep tail\n");
}

TEST(RtfFile, MissingOrForeignFilesDoNotLoad) {
  QTemporaryDir dir;
  rpt::RTF rtf;
  EXPECT_FALSE(rtf.LoadRTFFromFile((dir.path() + "/none.rtf").toStdString()));
  QFile f(dir.path() + "/plain.rtf");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("just text");
  f.close();
  EXPECT_FALSE(rtf.LoadRTFFromFile(f.fileName().toStdString()));
}

struct RtfPage {
  rpt::PtrDevice device{rt::Value(), rt::Value()};
  gdi::Handle dc = gdi::createRecordingDc(2550, 3300, 300, 300);
  RtfPage() { device.setOutputDc(dc, true); }
  std::vector<gdi::Record> texts() const {
    std::vector<gdi::Record> out;
    for (const auto& r : gdi::recordedPage(dc)->records)
      if (r.kind == gdi::Record::TextOut) out.push_back(r);
    return out;
  }
};

TEST(RtfDrawing, WordsWrapInsideTheWidth) {
  RtfPage page;
  rpt::RTF rtf;
  ASSERT_TRUE(rtf.loadFromMemory("{\\rtf1 one two three four five six seven eight nine ten}"));
  const int bottom = rtf.DrawText(page.device, 100, 200, 3000, 600, 1, true);
  const auto texts = page.texts();
  ASSERT_EQ(texts.size(), 10u);
  std::set<int> rows;
  for (const auto& t : texts) {
    rows.insert(t.b);
    EXPECT_GE(t.a, 200);
    EXPECT_LE(t.a, 800);
  }
  EXPECT_GT(rows.size(), 1u);
  EXPECT_GT(bottom, *rows.rbegin());
}

TEST(RtfDrawing, StopsAtTheBottomOnlyWhenAsked) {
  const std::string text = "{\\rtf1 a\\par b\\par c\\par d\\par e}";
  RtfPage clipped, full;
  rpt::RTF rtf;
  ASSERT_TRUE(rtf.loadFromMemory(text));
  rtf.DrawText(clipped.device, 0, 0, 130, 2000, 1, true);
  rtf.DrawText(full.device, 0, 0, 130, 2000, 1, false);
  EXPECT_LT(clipped.texts().size(), 5u);
  EXPECT_GE(clipped.texts().size(), 1u);
  EXPECT_EQ(full.texts().size(), 5u);
}

TEST(RtfDrawing, OptionZeroMeasuresWithoutDrawing) {
  RtfPage page;
  rpt::RTF rtf;
  ASSERT_TRUE(rtf.loadFromMemory("{\\rtf1 a\\par b}"));
  const int bottom = rtf.DrawText(page.device, 10, 0, 1000, 2000, 0, true);
  EXPECT_TRUE(page.texts().empty());
  EXPECT_GT(bottom, 10);
}

TEST(RtfDrawing, TabsMoveToHalfInchStops) {
  RtfPage page;
  rpt::RTF rtf;
  ASSERT_TRUE(rtf.loadFromMemory("{\\rtf1 a\\tab b}"));
  rtf.DrawText(page.device, 0, 100, 1000, 2000, 1, true);
  const auto texts = page.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1].a, 100 + 150);
}

TEST(RtfDrawing, FontsMadeForStylesAreReleasedAndTheContextRestored) {
  RtfPage page;
  rpt::RTF rtf;
  ASSERT_TRUE(rtf.loadFromMemory("{\\rtf1 {\\b b}{\\i i}{\\fs40 big}}"));
  const int before = gdi::liveObjectCount();
  rtf.DrawText(page.device, 0, 0, 1000, 2000, 1, true);
  EXPECT_EQ(gdi::liveObjectCount(), before);
}

TEST(RtfDrawing, NoOutputContextDrawsNothing) {
  rpt::PtrDevice device{rt::Value(), rt::Value()};
  rpt::RTF rtf;
  ASSERT_TRUE(rtf.loadFromMemory("{\\rtf1 a}"));
  EXPECT_EQ(rtf.DrawText(device, 42, 0, 100, 100, 1, true), 42);
}

}  // namespace
