// Reports run end to end through the RpPrinter device: page breaks, page numbers, groups, the
// activity flags, bad layouts and data, and a PDF export of each demo layout.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "report_support.h"
#include "reports/reports.h"

namespace {

using reporttest::TempFolder;

std::vector<std::string> textsOf(const gdi::RecordedPage& page) {
  std::vector<std::string> out;
  for (const gdi::Record& r : page.records)
    if (r.kind == gdi::Record::TextOut) out.push_back(r.text);
  return out;
}

bool pageHas(const gdi::RecordedPage& page, const std::string& text) {
  const auto texts = textsOf(page);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

int countText(const rpt::RenderedReport& report, const std::string& text) {
  int n = 0;
  for (const auto& page : report.pages)
    for (const auto& t : textsOf(page)) n += t == text;
  return n;
}

// A 4 x 4 inch page: 2.4 inches between header and footer, so four 0.5 inch rows fit.
std::string smallPageLayout(const std::string& detailHeight, const std::string& extra = "") {
  return R"~({"format": "zmc-report", "version": 1,
    "page": {"paper": "Custom", "width": 4, "length": 4, "margins": {"top": 0.5, "left": 0.5, "bottom": 0.5, "right": 0.5}},
    "data": {"table": "Mpdms.dbf"},
    "bands": {
      "title": {"height": 0, "objects": [{"type": "text", "text": "TITLE"}]},
      "pageHeader": {"height": 0.3, "objects": [{"type": "text", "text": "HEADER"}]},
      "detail": {"height": )~" + detailHeight + R"~(, "objects": [{"type": "field", "expression": "CLASSNAME"}]},
      "pageFooter": {"height": 0.3, "objects": [{"type": "field", "width": 3,
        "expression": "'Page ' + NumTrim(PgNo()) + ' of ' + NumTrim(PgCount())"}]},
      "summary": {"height": 0.2, "objects": [{"type": "field", "expression": "'END ' + NumTrim(rpVarValue('n', 0))"}]}
    },
    "aggregates": [{"name": "n", "function": "count"}])~" + extra + "}";
}

class ReportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    rpt::InitRpFunctionLibraries();
    reports::registerRpPrinter();
    reporttest::writeModelTable(folder.file("Mpdms.dbf"), reporttest::comparedDemoRows());
  }
  std::optional<rpt::RenderedReport> run(const std::string& layout, rpt::Activity activity = rpt::Activity::Previewing) {
    folder.write("t.rpt", layout);
    rpt::RpReport report(nullptr, folder.file("t.rpt"));
    EXPECT_TRUE(report.IsValid()) << report.errorText();
    auto pages = report.render(activity);
    report.Close();
    return pages;
  }
  TempFolder folder;
};

// ---- Page flow -----------------------------------------------------------------------------

TEST_F(ReportRun, RowsBreakIntoPagesThatKnowTheirNumberAndTheCount) {
  const auto pages = run(smallPageLayout("0.5"));
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->pages.size(), 4u);  // 14 rows, 4 a page
  for (int p = 1; p <= 4; ++p)
    EXPECT_TRUE(pageHas(pages->pages[p - 1], "Page " + std::to_string(p) + " of 4")) << p;
  EXPECT_EQ(countText(*pages, "HEADER"), 4);
  EXPECT_EQ(countText(*pages, "TITLE"), 1);
  EXPECT_TRUE(pageHas(pages->pages[0], "TITLE"));
  EXPECT_TRUE(pageHas(pages->pages[3], "END 14"));
  EXPECT_EQ(pages->widthPx, 1200);  // 4 inches at the device's 300 per inch
}

TEST_F(ReportRun, PagesAreDrawnWithTextMarkersOfTheDevice) {
  const auto pages = run(smallPageLayout("0.5"));
  ASSERT_TRUE(pages);
  const auto comments = gdi::comments(pages->pages[0]);
  ASSERT_FALSE(comments.empty());
  EXPECT_EQ(comments.size() % 2, 0u);  // an opening and a closing marker around each text
  EXPECT_EQ(comments[0][0], 0xFE);
}

TEST_F(ReportRun, ABandTallerThanThePageIsDrawnOncePerRowWithoutLooping) {
  const auto pages = run(smallPageLayout("3.5"));  // higher than the 2.4 inches between header and footer
  ASSERT_TRUE(pages);
  EXPECT_EQ(pages->pages.size(), 15u);  // one a row, and the summary on a page of its own
}

TEST_F(ReportRun, GroupHeadersRepeatAtEachBreakAndFootersSeeTheirGroupsAggregates) {
  const auto pages = run(smallPageLayout("0", R"~(,
    "groups": [{"name": "Version", "expression": "MODELVERS",
      "header": {"height": 0.2, "objects": [{"type": "field", "expression": "'Version ' + TRIM(MODELVERS)"}]},
      "footer": {"height": 0.2, "objects": [{"type": "field",
        "expression": "TRIM(MODELVERS) + ' has ' + NumTrim(rpVarValue('perVersion', 0)) + '/' + NumTrim(GroupMembers('Version'))"}]}}],
    "aggregates": [{"name": "n", "function": "count"},
                   {"name": "perVersion", "function": "count", "condition": "!ALL_OK", "group": "Version"}])~"));
  ASSERT_TRUE(pages);
  // The table's natural order: V1 x4, V2 x4, then V1 and V2 alternate for the six differing rows.
  EXPECT_EQ(countText(*pages, "Version V1"), 4);
  EXPECT_EQ(countText(*pages, "V1 has 0/4"), 1);
  EXPECT_EQ(countText(*pages, "V1 has 1/1"), 3);
  EXPECT_EQ(countText(*pages, "V2 has 1/1"), 3);
}

TEST_F(ReportRun, AnEmptyFilterResultStillGivesOnePageWithTitleAndSummary) {
  std::string layout = smallPageLayout("0.5");
  const std::string table = R"~("table": "Mpdms.dbf")~";
  layout.replace(layout.find(table), table.size(), R"~("table": "Mpdms.dbf", "filter": ".F.")~");
  const auto pages = run(layout);
  ASSERT_TRUE(pages);
  ASSERT_EQ(pages->pages.size(), 1u);
  EXPECT_TRUE(pageHas(pages->pages[0], "TITLE"));
  EXPECT_TRUE(pageHas(pages->pages[0], "END 0"));
  EXPECT_TRUE(pageHas(pages->pages[0], "Page 1 of 1"));
}

// ---- Activity flags ------------------------------------------------------------------------

struct SeenFlags {
  bool printing = false, previewing = false, exporting = false;
  int pages = 0;
};
SeenFlags seen;

class ProbePrinter : public reports::RpPrinter {
 public:
  using reports::RpPrinter::RpPrinter;
  rt::Value CallPrintSetPage(const rt::Value& setup) override {
    seen = {printing(), previewing(), exporting(), seen.pages + 1};
    return reports::RpPrinter::CallPrintSetPage(setup);
  }
};

TEST_F(ReportRun, TheDeviceCarriesTheFlagOfWhatThePagesAreFor) {
  rpt::registerDeviceClass("RpPrinter", [](const rt::Value& a, const rt::Value& b) {
    return std::make_shared<ProbePrinter>(a, b);
  });
  const std::string layout = smallPageLayout("0.5");
  seen = {};
  ASSERT_TRUE(run(layout, rpt::Activity::Previewing));
  EXPECT_TRUE(seen.previewing && !seen.printing && !seen.exporting);
  EXPECT_EQ(seen.pages, 4);  // the first pass draws nothing: four pages drawn once
  ASSERT_TRUE(run(layout, rpt::Activity::Printing));
  EXPECT_TRUE(seen.printing && !seen.previewing && !seen.exporting);
  ASSERT_TRUE(run(layout, rpt::Activity::Exporting));
  EXPECT_TRUE(seen.exporting && !seen.printing && !seen.previewing);
  reports::registerRpPrinter();
}

// ---- Bad layouts and data ------------------------------------------------------------------

TEST_F(ReportRun, AnUnreadableLayoutMakesAnInvalidReportThatClosesQuietly) {
  int raised = 0;
  const rt::ErrorBlock saved = rt::errorBlock();
  rt::setErrorBlock([&](const rt::ErrorPtr&) {
    ++raised;
    return rt::Value(false);
  });
  folder.write("broken.rpt", "{\"format\": \"zmc-report\", \"version\": 1, \"bands\": {");
  rpt::RpReport report(nullptr, folder.file("broken.rpt"));
  EXPECT_FALSE(report.IsValid());
  EXPECT_NE(report.errorText().find("broken.rpt"), std::string::npos);
  EXPECT_FALSE(report.render(rpt::Activity::Previewing));
  EXPECT_FALSE(report.PrintPreview("c", "PRINT.PRN", "broken.rpt", "m", true));
  report.Close();
  report.Close();
  rt::setErrorBlock(saved);
  EXPECT_EQ(raised, 0);
}

TEST_F(ReportRun, AMissingTableIsRaisedNamingItAndProducesNoPages) {
  std::vector<rt::ErrorPtr> raised;
  const rt::ErrorBlock saved = rt::errorBlock();
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    raised.push_back(e);
    return rt::Value(false);
  });
  std::string layout = smallPageLayout("0.5");
  layout.replace(layout.find("Mpdms.dbf"), 9, "Gone.dbf");
  folder.write("gone.rpt", layout);
  rpt::RpReport report(nullptr, folder.file("gone.rpt"));
  EXPECT_TRUE(report.IsValid());
  EXPECT_FALSE(report.render(rpt::Activity::Previewing));
  rt::setErrorBlock(saved);
  ASSERT_FALSE(raised.empty());
  EXPECT_EQ(raised[0]->genCode, rt::EG_OPEN);
  EXPECT_NE((raised[0]->description + raised[0]->fileName).find("Gone"), std::string::npos);
}

// ---- The demo layouts ----------------------------------------------------------------------

TEST_F(ReportRun, EachDemoLayoutExportsAReadablePdf) {
  for (const char* name : {"Differences.rpt", "Model Versions.rpt", "Class Listing.rpt"}) {
    std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/" + name, folder.file(name),
                               std::filesystem::copy_options::overwrite_existing);
    rpt::RpReport report(nullptr, folder.file(name));
    ASSERT_TRUE(report.IsValid()) << report.errorText();
    const std::string pdf = folder.file(std::string(name) + ".pdf");
    ASSERT_TRUE(report.exportPdf(pdf)) << name;
    std::ifstream in(pdf, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes.rfind("%PDF", 0), 0u) << name;
    EXPECT_GT(bytes.size(), 2000u) << name;
    report.Close();
  }
}

TEST_F(ReportRun, AccentedNamesFromTheTableArePrintedAndExportedExactly) {
  std::vector<reporttest::ModelRow> rows;
  for (const char* name : {"Größe", "Ángel", "Café €", "Œuvre «ß»"})
    rows.push_back({"äpfel-Birnen-öü", name, "Ωbject", "", "", ' ', ' '});
  std::vector<rt::ErrorPtr> raised;
  const rt::ErrorBlock saved = rt::errorBlock();
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    raised.push_back(e);
    return rt::Value(false);
  });
  reporttest::writeModelTable(folder.file("Mpdms.dbf"), rows);
  rt::setErrorBlock(saved);
  ASSERT_EQ(raised.size(), 4u);  // the parent's Ω, once per row: stored as "?bject"

  const auto pages = run(smallPageLayout("0.5"));
  ASSERT_TRUE(pages);
  for (const char* name : {"Größe", "Ángel", "Café €", "Œuvre «ß»"}) EXPECT_EQ(countText(*pages, name), 1) << name;

  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Class Listing.rpt", folder.file("c.rpt"));
  rpt::RpReport report(nullptr, folder.file("c.rpt"));
  ASSERT_TRUE(report.IsValid()) << report.errorText();
  ASSERT_TRUE(report.exportPdf(folder.file("c.pdf")));
  report.Close();
  if (std::system("command -v pdftotext >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
  ASSERT_EQ(std::system(("pdftotext -enc UTF-8 '" + folder.file("c.pdf") + "' '" + folder.file("c.txt") + "'").c_str()), 0);
  std::ifstream in(folder.file("c.txt"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  for (const char* expected : {"Größe", "Ángel", "Café €", "Œuvre «ß»", "?bject", "Model version äpfel-Birnen-öü"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST_F(ReportRun, DifferencesCountsEachVerdictAndListsOnlyDifferingRows) {
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Differences.rpt", folder.file("d.rpt"));
  rpt::RpReport report(nullptr, folder.file("d.rpt"));
  const auto pages = report.render(rpt::Activity::Previewing);
  ASSERT_TRUE(pages);
  EXPECT_EQ(countText(*pages, "6 of 14 compared rows differ."), 1);
  EXPECT_EQ(countText(*pages, "weight"), 2);  // differing rows of both versions
  EXPECT_EQ(countText(*pages, "name"), 0);    // rows that are all OK are left out
  EXPECT_EQ(countText(*pages, "Missing"), 1);
  EXPECT_EQ(countText(*pages, "Page 1 of 1"), 1);
}

TEST_F(ReportRun, DifferencesNamesEachClassParentOrSaysThereIsNone) {
  std::vector<reporttest::ModelRow> rows = reporttest::comparedDemoRows();
  reporttest::ModelRow root{"V1", "Root", "", "size", "Integer", 'P', 'I'};
  root.compared = true;
  root.typeProblem = true;
  rows.push_back(root);
  reporttest::writeModelTable(folder.file("Mpdms.dbf"), rows);
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Differences.rpt", folder.file("d.rpt"));
  rpt::RpReport report(nullptr, folder.file("d.rpt"));
  const auto pages = report.render(rpt::Activity::Previewing);
  ASSERT_TRUE(pages);
  EXPECT_EQ(countText(*pages, "no parent"), 1);       // Root
  EXPECT_EQ(countText(*pages, "Parent   Item"), 2);   // Stock in both versions
}

TEST_F(ReportRun, ModelVersionsCountsClassesPropertiesAndMethodsPerVersion) {
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Model Versions.rpt", folder.file("m.rpt"));
  rpt::RpReport report(nullptr, folder.file("m.rpt"));
  const auto pages = report.render(rpt::Activity::Previewing);
  ASSERT_TRUE(pages);
  const auto texts = textsOf(pages->pages[0]);
  // V1: Item, Stock, Supplier = 3 classes; name, count, weight = 3 properties; reorder = 1 method.
  auto v1 = std::find(texts.begin(), texts.end(), "V1");
  ASSERT_NE(v1, texts.end());
  ASSERT_GE(texts.end() - v1, 5);
  EXPECT_EQ(v1[2], "3");
  EXPECT_EQ(v1[3], "3");
  EXPECT_EQ(v1[4], "1");
}

}  // namespace
