// The preview as the user works it: Print... on a PDF printer (paper, orientation, pages, text,
// size), the zoom modes and keys, the names suggested for the files it writes and the status line
// that says where they went, and the first page shown before the report is laid out.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "report_support.h"
#include "reports/reports.h"
#include "resources/resources.h"

namespace {

using reporttest::TempFolder;

std::string commandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

QPushButton* buttonOf(QWidget* window, const QString& text) {
  for (QPushButton* b : window->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

class ReportPreview : public ::testing::Test {
 protected:
  void SetUp() override {
    gui::ensureToolkit();
    ASSERT_TRUE(res::InstallResources());
    rpt::InitRpFunctionLibraries();
    reports::registerRpPrinter();
    reporttest::writeModelTable(folder.file("Mpdms.dbf"), reporttest::comparedFamilyRows(12, 12));
    std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Differences.rpt", folder.file("Differences.rpt"));
  }
  void TearDown() override {
    rpt::setPreviewDriver({});
    rpt::setPrintDialogDriver({});
    rpt::setFileNameChooser({});
  }
  // Picks Differences.rpt in the report list and presses "Print It"; `work` gets the preview.
  void preview(const std::function<void(rpt::PreviewWindow&)>& work) {
    reporttest::WorkingDirectory cwd(folder.path());
    int shown = 0;
    rpt::setPreviewDriver([&](rpt::PreviewWindow& window) {
      ++shown;
      work(window);
    });
    reports::ExistingReportsWin dialog(nullptr, {}, {}, rt::Value::array(rt::Array{rt::Value("Differences.rpt")}));
    dialog.oDCAvailableReports->pick(1);
    dialog.oCCPrintButton->click();
    EXPECT_EQ(shown, 1);
  }
  gui::TestResponder boxes;
  TempFolder folder;
};

TEST_F(ReportPreview, PrintPrintsTheReportsOwnLandscapeLetterPagesAsVectorText) {
  const std::string printed = folder.file("printed.pdf"), exported = folder.file("exported.pdf");
  int dialogs = 0;
  rpt::setPrintDialogDriver([&](QPrintDialog& dialog) {
    QPrinter& printer = *dialog.printer();
    ++dialogs;
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);  // set before the dialog shows
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::Letter);
    printer.setPageSize(QPageSize(QPageSize::A4));  // a default the report must not take
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(printed));
    return true;
  });
  int pages = 0;
  preview([&](rpt::PreviewWindow& window) {
    pages = window.pageCount();
    buttonOf(window.widget(), "Print...")->click();
    EXPECT_EQ(window.statusText(), "Printed on " + printed);
    ASSERT_TRUE(window.exportPdf(exported));
  });
  EXPECT_EQ(dialogs, 1);
  ASSERT_GE(pages, 2);
  const std::string info = commandOutput("pdfinfo '" + printed + "'");
  EXPECT_NE(info.find("792 x 612 pts (letter)"), std::string::npos) << info;
  EXPECT_NE(info.find("Pages:           " + std::to_string(pages) + "\n"), std::string::npos) << info;
  const std::string text = commandOutput("pdftotext -layout '" + printed + "' -");
  EXPECT_NE(text.find("Model Differences"), std::string::npos);
  EXPECT_NE(text.find("Type match"), std::string::npos);
  EXPECT_NE(text.find("Class1011"), std::string::npos);
  EXPECT_NE(text.find("Page " + std::to_string(pages) + " of " + std::to_string(pages)), std::string::npos);
  const auto printedSize = std::filesystem::file_size(printed), exportedSize = std::filesystem::file_size(exported);
  EXPECT_LT(printedSize, exportedSize * 3) << printedSize << " against " << exportedSize;
  EXPECT_GT(printedSize * 3, exportedSize) << printedSize << " against " << exportedSize;
}

// The page numbers of a printed PDF, as its pages' footers "Page N of M" give them, in order.
std::vector<int> printedPageNumbers(const std::string& pdf) {
  std::vector<int> numbers;
  std::istringstream pages(commandOutput("pdftotext -layout '" + pdf + "' -"));
  for (std::string page; std::getline(pages, page, '\f');) {
    const auto at = page.find("Page ");
    if (at != std::string::npos) numbers.push_back(std::atoi(page.c_str() + at + 5));
  }
  return numbers;
}

TEST_F(ReportPreview, CtrlPPrintsThePagesCopiesAndCollationChosenInTheDialog) {
  struct Case {
    const char* chosen;
    QPrinter::PrintRange range;
    int from, to, copies;
    bool collate;
    std::vector<int> pages;
  };
  const Case cases[] = {
      {"pages 2 to 2", QPrinter::PageRange, 2, 2, 1, true, {2}},
      {"the page shown (3)", QPrinter::CurrentPage, 0, 0, 1, true, {3}},
      {"every page", QPrinter::AllPages, 0, 0, 1, true, {1, 2, 3, 4, 5}},
      {"pages 1 to 2, two copies collated", QPrinter::PageRange, 1, 2, 2, true, {1, 2, 1, 2}},
      {"pages 1 to 2, two copies uncollated", QPrinter::PageRange, 1, 2, 2, false, {1, 1, 2, 2}},
      {"pages 4 to 99, past the end", QPrinter::PageRange, 4, 99, 1, true, {4, 5}},
  };
  for (const Case& c : cases) {
    const std::string printed = folder.file("range.pdf");
    std::filesystem::remove(printed);
    int pageCount = 0;
    rpt::setPrintDialogDriver([&](QPrintDialog& dialog) {
      EXPECT_EQ(dialog.minPage(), 1);
      EXPECT_EQ(dialog.maxPage(), pageCount);
      EXPECT_TRUE(dialog.testOption(QAbstractPrintDialog::PrintPageRange));
      EXPECT_FALSE(dialog.testOption(QAbstractPrintDialog::PrintSelection));  // not honoured: not offered
      QPrinter& printer = *dialog.printer();
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(printed));
      printer.setPrintRange(c.range);
      printer.setFromTo(c.from, c.to);
      printer.setCopyCount(c.copies);
      printer.setCollateCopies(c.collate);
      return true;
    });
    preview([&](rpt::PreviewWindow& window) {
      QWidget* w = window.widget();
      w->show();
      QApplication::setActiveWindow(w);
      window.finishLayout();
      pageCount = window.pageCount();
      window.showPage(3);
      QTest::keyClick(w, Qt::Key_P, Qt::ControlModifier);
    });
    ASSERT_EQ(pageCount, 5) << "the cases are written for the five pages of this report";
    EXPECT_EQ(printedPageNumbers(printed), c.pages) << c.chosen;
  }
}

TEST_F(ReportPreview, ACancelledPrintDialogPrintsNothing) {
  rpt::setPrintDialogDriver([](QPrintDialog&) { return false; });
  preview([&](rpt::PreviewWindow& window) {
    EXPECT_FALSE(window.printWithDialog());
    EXPECT_EQ(window.statusText(), "Ready");
  });
}

TEST_F(ReportPreview, OpensFittingTheWidthAndOffersWholePageAndPercentages) {
  preview([&](rpt::PreviewWindow& window) {
    window.widget()->show();
    QApplication::processEvents();
    EXPECT_EQ(window.zoomMode(), rpt::PreviewWindow::ZoomMode::FitWidth);
    auto* scroll = window.widget()->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    const QSize room = scroll->viewport()->size();
    const QImage fitted = window.shownImage();
    EXPECT_LE(fitted.width(), room.width());
    EXPECT_GT(fitted.width(), room.width() - 40);  // the whole width: no column is hidden

    window.setZoomMode(rpt::PreviewWindow::ZoomMode::WholePage);
    const QImage whole = window.shownImage();
    EXPECT_LE(whole.height(), room.height());
    EXPECT_LE(whole.width(), room.width());
    EXPECT_GT(whole.height(), room.height() - 40);

    window.setZoom(100);
    EXPECT_EQ(window.zoomMode(), rpt::PreviewWindow::ZoomMode::Percent);
    EXPECT_EQ(window.shownImage().width(), 1056);  // 11 inches at 96 per inch

    auto* box = window.widget()->findChild<QComboBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->currentText(), "100%");
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    EXPECT_EQ(items.mid(0, 2), (QStringList{"Fit Width", "Whole Page"}));
    EXPECT_TRUE(items.contains("50%") && items.contains("200%"));
  });
}

TEST_F(ReportPreview, KeysTurnPagesZoomPrintAndClose) {
  int printDialogs = 0;
  rpt::setPrintDialogDriver([&](QPrintDialog&) {
    ++printDialogs;
    return false;
  });
  preview([&](rpt::PreviewWindow& window) {
    QWidget* w = window.widget();
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_GE(window.pageCount(), 3);
    QTest::keyClick(w, Qt::Key_PageDown);
    QTest::keyClick(w, Qt::Key_PageDown);
    EXPECT_EQ(window.currentPage(), 3);
    QTest::keyClick(w, Qt::Key_PageUp);
    EXPECT_EQ(window.currentPage(), 2);
    QTest::keyClick(w, Qt::Key_End);
    EXPECT_EQ(window.currentPage(), window.pageCount());
    QTest::keyClick(w, Qt::Key_Home);
    EXPECT_EQ(window.currentPage(), 1);
    const int fitted = window.zoom();
    QTest::keyClick(w, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_GT(window.zoom(), fitted);
    EXPECT_EQ(window.zoomMode(), rpt::PreviewWindow::ZoomMode::Percent);
    const int larger = window.zoom();
    QTest::keyClick(w, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_LT(window.zoom(), larger);
    QTest::keyClick(w, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(printDialogs, 1);
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
  });
}

TEST_F(ReportPreview, FilesGetTheNamesTheUserChoosesAndTheStatusLineSaysWhere) {
  std::vector<std::pair<std::string, std::string>> asked;
  const std::string chosen = folder.file("chosen.prn");
  rpt::setFileNameChooser([&](const std::string& caption, const std::string& suggested) {
    asked.emplace_back(caption, suggested);
    return caption == "Print to File" ? chosen : suggested;
  });
  preview([&](rpt::PreviewWindow& window) {
    buttonOf(window.widget(), "Export PDF...")->click();
    EXPECT_EQ(window.statusText(), "Exported to " + asked.back().second);
    buttonOf(window.widget(), "Print to File...")->click();
    EXPECT_EQ(window.statusText(), "Printed to " + chosen);
  });
  ASSERT_EQ(asked.size(), 2u);
  const std::string cwd = std::filesystem::canonical(folder.path()).string();
  EXPECT_EQ(asked[0], (std::pair<std::string, std::string>{"Export to PDF", cwd + "/Differences.pdf"}));
  EXPECT_EQ(asked[1], (std::pair<std::string, std::string>{"Print to File", cwd + "/PRINT.PRN"}));
  EXPECT_TRUE(std::filesystem::exists(folder.file("Differences.pdf")));
  EXPECT_TRUE(std::filesystem::exists(chosen));
  EXPECT_FALSE(std::filesystem::exists(folder.file("PRINT.PRN")));

  rpt::setFileNameChooser([](const std::string&, const std::string&) { return std::string(); });
  preview([&](rpt::PreviewWindow& window) {
    EXPECT_FALSE(window.printToFile());
    EXPECT_FALSE(window.exportPdfAsked());
    EXPECT_EQ(window.statusText(), "Ready");
  });
}

TEST_F(ReportPreview, ALargeReportShowsPageOneBeforeItsPageCountIsKnown) {
  reporttest::writeModelTable(folder.file("Mpdms.dbf"), reporttest::comparedFamilyRows(700, 15));
  preview([&](rpt::PreviewWindow& window) {
    EXPECT_EQ(window.pageLabel(), "Page 1 of \u2026");
    EXPECT_EQ(window.pageCount(), 0);
    EXPECT_FALSE(window.shownImage().isNull());
    for (int i = 0; i < 100000 && window.pageCount() == 0; ++i) QApplication::processEvents();
    ASSERT_GT(window.pageCount(), 100);
    EXPECT_EQ(window.pageLabel(), "Page 1 of " + std::to_string(window.pageCount()));
    window.showPage(window.pageCount());
    EXPECT_EQ(window.currentPage(), window.pageCount());
  });
}

}  // namespace
