// The report list: the menu, finding the layouts, the dialog's list, "Print It" enabling, the
// preview from "Print It", printing to the print file, and the "No Reports" box.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QTest>
#include <QWidget>

#include <fstream>

#include "../support/fifo.h"
#include "report_support.h"
#include "reports/reports.h"
#include "resources/resources.h"

namespace {

using reporttest::TempFolder;

class ReportList : public ::testing::Test {
 protected:
  void SetUp() override {
    gui::ensureToolkit();
    ASSERT_TRUE(res::InstallResources());
    rpt::InitRpFunctionLibraries();
    reports::registerRpPrinter();
  }
  void TearDown() override {
    reports::setReportListDriver({});
    rpt::setPreviewDriver({});
    rpt::setFileNameChooser({});
  }
  gui::TestResponder boxes;
  TempFolder folder;
};

rt::Value names(std::initializer_list<const char*> list) {
  rt::Array a;
  for (const char* n : list) a.emplace_back(n);
  return rt::Value::array(std::move(a));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// ---- Menu ----------------------------------------------------------------------------------

TEST_F(ReportList, MenuBindsTheCommandToTwExistingReportsWithItsHelpText) {
  reports::ReportAppMenu menu(nullptr);
  const gui::HyperLabel* command = menu.itemLabel(19201);
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->name, "TwExistingReports");
  EXPECT_EQ(command->caption, "Existing Reports");
  EXPECT_EQ(command->description, "Print or view existing reports, no changes.");
  ASSERT_NE(menu.itemLabel(19200), nullptr);
  EXPECT_EQ(menu.itemLabel(19200)->name, "_Reports");
}

// ---- Finding the layouts -------------------------------------------------------------------

TEST_F(ReportList, OnlyVisibleRptFilesAreListedByNameWithoutPath) {
  folder.write("b.rpt", "x");
  folder.write(".b.rpt", "x");  // hidden, like an editor's lock file
  folder.write("A.RPT", "x");
  folder.write("notes.txt", "x");
  folder.write("rpt", "x");
  std::filesystem::create_directory(folder.path() / "dir.rpt");
  auto found = reports::ListReportFiles(folder.path().string());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"A.RPT", "b.rpt"}));
}

TEST_F(ReportList, AFolderWithoutLayoutsShowsOnlyTheNoReportsBox) {
  reporttest::WorkingDirectory cwd(folder.path());
  bool dialogShown = false;
  reports::setReportListDriver([&](reports::ExistingReportsWin&) { dialogShown = true; });
  reports::ShowExistingReports(nullptr);
  EXPECT_FALSE(dialogShown);
  ASSERT_EQ(boxes.records().size(), 1u);
  EXPECT_EQ(boxes.records()[0].caption, "No Reports");
  EXPECT_EQ(boxes.records()[0].text, "No Reports were found.");
}

TEST_F(ReportList, TheDialogListsTheLayoutsAlphabeticallyWhateverTheListingOrder) {
  for (const char* n : {"b.rpt", "A.rpt", "c.rpt"}) folder.write(n, "x");
  reporttest::WorkingDirectory cwd(folder.path());
  std::vector<std::string> shown;
  reports::setReportListDriver([&](reports::ExistingReportsWin& dialog) {
    for (int i = 1; i <= dialog.oDCAvailableReports->ItemCount(); ++i)
      shown.push_back(dialog.oDCAvailableReports->GetItem(i));
  });
  reports::ShowExistingReports(nullptr);
  EXPECT_TRUE(boxes.records().empty());
  EXPECT_EQ(shown, (std::vector<std::string>{"A.rpt", "b.rpt", "c.rpt"}));
}

// ---- The dialog ----------------------------------------------------------------------------

TEST_F(ReportList, DialogIsBuiltFromItsTemplateWithCaptionAndToolTip) {
  reports::ExistingReportsWin dialog(nullptr, {}, {}, names({"x.rpt"}));
  EXPECT_EQ(dialog.Caption(), "Existing Reports");
  EXPECT_EQ(dialog.HyperLabel().description, "Listing of existing reports available for print.");
  ASSERT_NE(dialog.oDCAvailableReports, nullptr);
  EXPECT_EQ(dialog.oDCAvailableReports->widget()->toolTip().toStdString(),
            "Pick one report for previewing and / or printing.");
  EXPECT_EQ(dialog.oCCPrintButton->Caption(), "Print It");
  EXPECT_EQ(dialog.oCCCancelButton->Caption(), "Cancel");
  EXPECT_EQ(dialog.reportNames().asArray()->size(), 1u);
}

TEST_F(ReportList, PrintItIsDisabledUntilAnEntryIsPicked) {
  reports::ExistingReportsWin dialog(nullptr, {}, {}, names({"one.rpt", "two.rpt"}));
  EXPECT_FALSE(dialog.oCCPrintButton->IsEnabled());
  dialog.oDCAvailableReports->pick(2);
  EXPECT_TRUE(dialog.oCCPrintButton->IsEnabled());
  EXPECT_EQ(dialog.AvailableReports().asString(), "two.rpt");
}

TEST_F(ReportList, DoubleClickOrEnterOnAPickedLayoutPrintsItAndEnterWithNonePickedCancels) {
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Differences.rpt", folder.file("Differences.rpt"));
  reporttest::writeModelTable(folder.file("Mpdms.dbf"), reporttest::comparedDemoRows());
  reporttest::WorkingDirectory cwd(folder.path());
  int previews = 0;
  rpt::setPreviewDriver([&](rpt::PreviewWindow&) { ++previews; });
  enum class Key { DoubleClick, EnterOnList, EnterOnPrintIt };
  struct Case {
    const char* done;
    bool picked;
    Key key;
    int previews;
    bool cancelled;
  };
  const Case cases[] = {
      {"double-click on a layout", false, Key::DoubleClick, 1, false},
      {"Enter on the picked layout", true, Key::EnterOnList, 1, false},
      {"Enter on a focused Print It", true, Key::EnterOnPrintIt, 1, false},
      {"Enter with no layout picked", false, Key::EnterOnList, 0, true},
  };
  for (const Case& c : cases) {
    previews = 0;
    reports::ExistingReportsWin dialog(nullptr, {}, {}, names({"Differences.rpt"}));
    dialog.widget()->show();
    auto* list = qobject_cast<QListWidget*>(dialog.oDCAvailableReports->widget());
    ASSERT_NE(list, nullptr);
    if (c.picked) dialog.oDCAvailableReports->pick(1);
    switch (c.key) {
      case Key::DoubleClick: {
        const QPoint at = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        break;
      }
      case Key::EnterOnList: QTest::keyClick(list, Qt::Key_Return); break;
      case Key::EnterOnPrintIt: QTest::keyClick(dialog.oCCPrintButton->widget(), Qt::Key_Return); break;
    }
    EXPECT_EQ(previews, c.previews) << c.done;
    EXPECT_EQ(dialog.ended(), c.cancelled) << c.done;
  }
  EXPECT_TRUE(boxes.records().empty());
}

TEST_F(ReportList, ARejectedLayoutSaysWhyGivesNoPreviewAndLeavesTheDialogUsable) {
  folder.write("bad.rpt", "not a layout");
  reporttest::WorkingDirectory cwd(folder.path());
  int previews = 0;
  rpt::setPreviewDriver([&](rpt::PreviewWindow&) { ++previews; });
  reports::ExistingReportsWin dialog(nullptr, {}, {}, names({"bad.rpt"}));
  dialog.oDCAvailableReports->pick(1);
  dialog.oCCPrintButton->click();
  EXPECT_EQ(previews, 0);
  ASSERT_EQ(boxes.records().size(), 1u);
  const gui::BoxRecord& box = boxes.records()[0];
  EXPECT_EQ(box.owner, &dialog);
  EXPECT_EQ(box.caption, "Report Not Loaded");
  EXPECT_EQ(box.text.rfind("The report layout \"bad.rpt\" cannot be previewed.\n\nbad.rpt: ", 0), 0u) << box.text;
  rpt::RpReport reference(nullptr, "bad.rpt");
  EXPECT_NE(box.text.find(reference.errorText()), std::string::npos);  // the engine's own reason
  EXPECT_FALSE(dialog.ended());
  EXPECT_TRUE(dialog.oCCPrintButton->IsEnabled());
}

TEST_F(ReportList, ALayoutOrItsTableThatIsAPipeIsRefusedWithoutWaitingOnIt) {
  Fifo layoutPipe(folder.file("pipe.rpt")), tablePipe(folder.file("Rows.dbf"));
  ASSERT_TRUE(layoutPipe.made() && tablePipe.made());
  folder.write("rows.rpt", R"({"format": "zmc-report", "version": 1, "data": {"table": "Rows.dbf"}})");
  reporttest::WorkingDirectory cwd(folder.path());
  int previews = 0;
  rpt::setPreviewDriver([&](rpt::PreviewWindow&) { ++previews; });
  std::vector<rt::ErrorPtr> raised;
  const rt::ErrorBlock saved = rt::errorBlock();
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    raised.push_back(e);
    return rt::Value(false);
  });
  reports::ExistingReportsWin dialog(nullptr, {}, {}, names({"pipe.rpt", "rows.rpt"}));
  dialog.oDCAvailableReports->pick(1);
  dialog.oCCPrintButton->click();
  dialog.oDCAvailableReports->pick(2);
  dialog.oCCPrintButton->click();
  rt::setErrorBlock(saved);
  EXPECT_FALSE(layoutPipe.blockedAReader());
  EXPECT_FALSE(tablePipe.blockedAReader());
  EXPECT_EQ(previews, 0);
  EXPECT_FALSE(dialog.ended());
  ASSERT_EQ(raised.size(), 1u);  // the table; a layout that cannot be read only gives no preview
  EXPECT_NE(raised[0]->description.find("Rows.dbf is not a regular file"), std::string::npos) << raised[0]->description;
}

TEST_F(ReportList, PrintItPreviewsTheLayoutAgainAndAgainAndPrintsToThePrintFile) {
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Differences.rpt", folder.file("Differences.rpt"));
  reporttest::writeModelTable(folder.file("Mpdms.dbf"), reporttest::comparedDemoRows());
  reporttest::WorkingDirectory cwd(folder.path());
  std::vector<std::string> captions;
  std::string message;
  bool printed = false;
  rpt::setFileNameChooser([](const std::string&, const std::string& suggested) { return suggested; });
  rpt::setPreviewDriver([&](rpt::PreviewWindow& preview) {
    captions.push_back(preview.caption());
    EXPECT_EQ(preview.pageCount(), 1);
    preview.setZoom(50);
    EXPECT_EQ(preview.zoom(), 50);
    EXPECT_FALSE(preview.shownImage().isNull());
    if (!printed) {
      printed = preview.printToFile();
      message = preview.lastMessageShown();
    }
  });
  reports::ExistingReportsWin dialog(nullptr, {}, {}, names({"Differences.rpt"}));
  dialog.oDCAvailableReports->pick(1);
  dialog.oCCPrintButton->click();
  dialog.oCCPrintButton->click();
  EXPECT_EQ(captions, (std::vector<std::string>{"Report Preview & Print", "Report Preview & Print"}));
  EXPECT_TRUE(printed);
  EXPECT_EQ(message, "Please Wait...Printing IN Progress");
  EXPECT_EQ(readFile(folder.file("PRINT.PRN")).rfind("%PDF", 0), 0u);
  EXPECT_TRUE(boxes.records().empty());
}

TEST_F(ReportList, PreviewNavigationStaysWithinThePages) {
  folder.write("long.rpt", R"~({"format": "zmc-report", "version": 1,
    "page": {"paper": "Custom", "width": 3, "length": 3},
    "data": {"table": "Mpdms.dbf"},
    "bands": {"detail": {"height": 0.6, "objects": [{"type": "field", "expression": "CLASSNAME"}]}}})~");
  reporttest::writeModelTable(folder.file("Mpdms.dbf"), reporttest::comparedDemoRows());
  rpt::RpReport report(nullptr, folder.file("long.rpt"));
  rpt::setPreviewDriver([&](rpt::PreviewWindow& preview) {
    EXPECT_EQ(preview.pageCount(), 5);  // 2 inches of body: three rows a page, fourteen rows
    preview.previousPage();
    EXPECT_EQ(preview.currentPage(), 1);
    preview.showPage(99);
    EXPECT_EQ(preview.currentPage(), 5);
    preview.nextPage();
    EXPECT_EQ(preview.currentPage(), 5);
    preview.setZoom(1000);
    EXPECT_EQ(preview.zoom(), 400);
    EXPECT_TRUE(preview.exportPdf(folder.file("out.pdf")));
  });
  EXPECT_TRUE(report.PrintPreview("Preview", "PRINT.PRN", "long.rpt", "wait", true));
  EXPECT_EQ(readFile(folder.file("out.pdf")).rfind("%PDF", 0), 0u);
}

}  // namespace
