// Pages laid out once and drawn when wanted: a page drawn from its recorded start is the page the
// whole report draws in one walk, the first pass can run in slices, continuation pages repeat the
// group header, and a stopped export leaves nothing at the chosen name.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <iterator>

#include "report_support.h"
#include "reports/reports.h"

namespace {

using reporttest::TempFolder;

std::vector<std::string> textsOf(const gdi::RecordedPage& page) {
  std::vector<std::string> out;
  for (const gdi::Record& r : page.records)
    if (r.kind == gdi::Record::TextOut && !r.text.empty()) out.push_back(r.text);
  return out;
}

bool pageHas(const gdi::RecordedPage& page, const std::string& text) {
  const auto texts = textsOf(page);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class ReportPages : public ::testing::Test {
 protected:
  void SetUp() override {
    rpt::InitRpFunctionLibraries();
    reports::registerRpPrinter();
    // 40 classes of 12 properties in two versions: 4 differing rows a class, some 20 pages.
    reporttest::writeModelTable(folder.file("Mpdms.dbf"), reporttest::comparedFamilyRows(40, 12));
    reporttest::copyDemoLayoutWithoutClock("Differences.rpt", folder.file("Differences.rpt"));
  }
  rpt::RpReport report() { return rpt::RpReport(nullptr, folder.file("Differences.rpt")); }
  TempFolder folder;
};

TEST_F(ReportPages, EachPageDrawnFromItsStartIsThePageOfTheOneWalk) {
  rpt::RpReport whole(nullptr, folder.file("Differences.rpt"));
  const auto all = whole.render(rpt::Activity::Previewing);
  ASSERT_TRUE(all);
  ASSERT_GE(all->pages.size(), 10u);

  rpt::RpReport lazy(nullptr, folder.file("Differences.rpt"));
  const auto pages = lazy.open(rpt::Activity::Previewing);
  ASSERT_TRUE(pages);
  ASSERT_TRUE(pages->layOut());
  ASSERT_EQ(pages->pageCount(), static_cast<int>(all->pages.size()));
  // Backwards, so that no page can lean on the one drawn before it.
  for (int i = pages->pageCount() - 1; i >= 0; --i)
    EXPECT_EQ(gdi::dump(pages->drawPage(i)), gdi::dump(all->pages[i])) << "page " << i + 1;

  // What the comparison covered: a class header continued on a new page, the totals at the end.
  int continued = 0;
  for (const auto& page : all->pages)
    for (const std::string& text : textsOf(page)) continued += text.find(" (continued)") != std::string::npos;
  EXPECT_GT(continued, 0);
  EXPECT_TRUE(pageHas(all->pages.back(), "320 of 1040 compared rows differ."));
  const std::string last = "Page " + std::to_string(all->pages.size()) + " of " + std::to_string(all->pages.size());
  EXPECT_TRUE(pageHas(all->pages.back(), last));
}

TEST_F(ReportPages, EveryPageOfOneRunPrintsTheSameTimeHoweverLateItIsDrawn) {
  std::filesystem::copy_file(std::filesystem::path(ZMC_DEMO_DIR) / "Differences.rpt", folder.file("Clock.rpt"));
  rpt::RpReport clocked(nullptr, folder.file("Clock.rpt"));
  const auto pages = clocked.open(rpt::Activity::Previewing);
  ASSERT_TRUE(pages);
  ASSERT_TRUE(pages->layOut());
  const auto printed = [&](int index) {
    for (const std::string& text : textsOf(pages->drawPage(index)))
      if (text.rfind("Printed ", 0) == 0) return text;
    return std::string();
  };
  const std::string first = printed(0);
  ASSERT_FALSE(first.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // the clock's seconds move on
  EXPECT_EQ(printed(pages->pageCount() - 1), first);
  EXPECT_EQ(printed(0), first);
}

TEST_F(ReportPages, TheFirstPassInSlicesFindsTheSameStartsAndKeepsNoDrawnPage) {
  rpt::RpReport a(nullptr, folder.file("Differences.rpt")), b(nullptr, folder.file("Differences.rpt"));
  const auto atOnce = a.open(rpt::Activity::Previewing);
  const auto sliced = b.open(rpt::Activity::Previewing);
  ASSERT_TRUE(atOnce && sliced);
  ASSERT_TRUE(atOnce->layOut());
  int slices = 1;
  while (!sliced->layOut(7)) {
    EXPECT_EQ(sliced->pageCount(), 0);  // not known before the pass ends
    EXPECT_GE(sliced->knownPages(), 1);
    ++slices;
  }
  EXPECT_GT(slices, 100);
  EXPECT_EQ(sliced->pageStarts(), atOnce->pageStarts());
  EXPECT_LE(sizeof(rpt::PageStart), 8u);  // the whole record a page keeps
}

TEST_F(ReportPages, APageDrawnBeforeTheCountIsKnownIsThePageWithACountOfZero) {
  rpt::RpReport r(nullptr, folder.file("Differences.rpt"));
  const auto pages = r.open(rpt::Activity::Previewing);
  ASSERT_TRUE(pages);
  ASSERT_FALSE(pages->layOut(50));
  const gdi::RecordedPage early = pages->drawPage(0);
  EXPECT_TRUE(pageHas(early, "Page 1 of 0"));
  EXPECT_TRUE(pageHas(early, "Model Differences"));
  EXPECT_TRUE(pages->drawPage(pages->knownPages()).records.empty());  // not laid out yet
  ASSERT_TRUE(pages->layOut());
  EXPECT_TRUE(pageHas(pages->drawPage(0), "Page 1 of " + std::to_string(pages->pageCount())));
}

TEST_F(ReportPages, AContinuationPageRepeatsTheClassHeaderAsContinued) {
  rpt::RpReport r(nullptr, folder.file("Differences.rpt"));
  const auto pages = r.open(rpt::Activity::Previewing);
  ASSERT_TRUE(pages && pages->layOut());
  // Page 2 starts inside a class of version 1.0: both headers come back, marked as continued.
  const auto texts = textsOf(pages->drawPage(1));
  ASSERT_GE(texts.size(), 12u);
  const auto version = std::find(texts.begin(), texts.end(), "1.0 (continued)");
  ASSERT_NE(version, texts.end());
  const auto cls = std::find_if(version, texts.end(), [](const std::string& t) {
    return t.rfind("Class1", 0) == 0 && t.find(" (continued)") != std::string::npos;
  });
  EXPECT_NE(cls, texts.end());
  // Headers of classes that start on the page itself are not marked.
  EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return t.find("(continued)") != std::string::npos; }),
            2);
}

TEST_F(ReportPages, AStoppedExportLeavesNoFileAndKeepsAnOlderOne) {
  const std::string pdf = folder.file("out.pdf");
  rpt::RpReport r(nullptr, folder.file("Differences.rpt"));
  EXPECT_FALSE(r.exportPdf(pdf, [](int, int count) { return count == 0; }));  // stops at the first page drawn
  EXPECT_FALSE(std::filesystem::exists(pdf));

  std::ofstream(pdf) << "older";
  std::vector<std::pair<int, int>> seen;
  EXPECT_FALSE(r.exportPdf(pdf, [&](int page, int count) {
    seen.emplace_back(page, count);
    return !(count > 0 && page == 3);
  }));
  std::ifstream in(pdf);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "older");
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().first, 3);
  EXPECT_GE(seen.back().second, 10);  // page N of M, M known

  ASSERT_TRUE(r.exportPdf(pdf));
  std::ifstream done(pdf, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(done)), {}).rfind("%PDF", 0), 0u);
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++files;
  EXPECT_EQ(files, 3);  // the table, the layout and the PDF: no partial file is left behind
}

// Sort keys are kept without trailing blanks when that cannot change their order; with a byte
// below the blank in one key they are compared whole. Either way the order is the one of the
// whole, blank-padded keys.
TEST_F(ReportPages, RowsSortOnTheirWholeKeysWhateverBlanksAndControlBytesTheyHold) {
  const std::string layout = R"~({"format": "zmc-report", "version": 1,
    "page": {"paper": "Custom", "width": 8, "length": 30},
    "data": {"table": "Mpdms.dbf", "sort": "ATTRIBUTE + CLASSNAME"},
    "bands": {"detail": {"height": 0.2, "objects": [{"type": "field", "width": 7,
      "expression": "'<' + TRIM(ATTRIBUTE) + '|' + TRIM(CLASSNAME) + '>'"}]}}})~";
  folder.write("sorted.rpt", layout);
  for (const std::string& odd : {std::string("b!"), std::string("b\x01")}) {
    std::vector<reporttest::ModelRow> rows;
    for (const std::string& attribute : {std::string("b"), std::string("a"), odd, std::string("b "),
                                         std::string("a~"), std::string("")})
      for (const char* cls : {"Y", "X"}) rows.push_back({"V1", cls, "", attribute, "", 'P', 'I'});
    reporttest::writeModelTable(folder.file("Mpdms.dbf"), rows);
    std::vector<std::pair<std::string, std::string>> expected;  // whole keys, in table order
    for (const auto& r : rows) {
      std::string key = r.member;
      key.resize(50, ' ');
      std::string cls = r.className;
      cls.resize(50, ' ');
      expected.emplace_back(key + cls, "<" + r.member.substr(0, r.member.find_last_not_of(' ') + 1) + "|" +
                                           r.className + ">");
    }
    std::stable_sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    rpt::RpReport r(nullptr, folder.file("sorted.rpt"));
    const auto pages = r.render(rpt::Activity::Previewing);
    ASSERT_TRUE(pages && pages->pages.size() == 1u);
    std::vector<std::string> shown, wanted;
    for (const auto& e : expected) wanted.push_back(e.second);
    for (const std::string& t : textsOf(pages->pages[0])) shown.push_back(t);
    EXPECT_EQ(shown, wanted) << "with the key " << odd;
  }
}

}  // namespace
