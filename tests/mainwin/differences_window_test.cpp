// The differences window driven through the real main window offscreen: the menu command, the
// preset pair, filters, search and sorting, the refresh after a comparison, the exports, and
// the command-line program working beside the open window.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeView>
#include <chrono>
#include <set>
#include <fstream>
#include <sstream>
#include <thread>

#include "diffwin/diffwin.h"
#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "reports/reports.h"
#include "resources/resources.h"
#include "window_fixture.h"
#include "workflow_support.h"
#include "zorbanectl/zorbanectl.h"

namespace {

using workflow::Verdict;

constexpr int kDifferencesCommand = 19202;

class DifferencesWin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::registerWindowClasses();
    ASSERT_TRUE(res::InstallResources());
    zctl::registerControl();
  }
  // The schema store of the working directory.
  virtual std::string storeSql() const { return wftest::kStoreSql; }
  virtual void loadBoth() {
    load("Base Fam", "1.0");
    load("Ref Fam", "2.0");
  }
  void SetUp() override {
    dir = std::make_unique<wftest::WorkDir>(storeSql());
    ole::setStorageDirectories({dir->path().string()});
    win = std::make_unique<mainwin::ZorbaneWin>(nullptr);
    win->InitialIndexBuild(false);
    win->Menu(std::make_shared<reports::ReportAppMenu>(win.get()));
    win->Show();
    loadBoth();
  }
  void TearDown() override {
    win.reset();
    ole::setStorageDirectories({});
    dir.reset();
  }
  static int itemOf(const gui::ListControl* list, const std::string& text) { return wftest::itemOf(list, text); }
  void load(const std::string& family, const std::string& version) { wftest::loadThroughWindow(*win, family, version); }
  void compare(const std::string& base, const std::string& ref) {
    win->oBaseModel->pick(itemOf(win->oBaseModel, workflow::fullWidthVersion(base)));
    win->oRefModel->pick(itemOf(win->oRefModel, workflow::fullWidthVersion(ref)));
    win->oPbCompareModels->click();
    settle();
  }
  // Lets the event loop run the timers the windows set (a refresh waits for idle time).
  static void settle() {
    for (int i = 0; i < 20; ++i) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  diffwin::DifferencesWindow* openFromMenu() {
    EXPECT_TRUE(win->Menu()->choose(kDifferencesCommand));
    return diffwin::differencesWindowOf(*win);
  }
  static QString cell(const diffwin::DifferencesWindow* w, int row, int column) {
    return w->table->model()->index(row, column).data().toString();
  }

  std::unique_ptr<wftest::WorkDir> dir;
  wftest::ErrorRecorder errors;
  gui::TestResponder responder;
  std::unique_ptr<mainwin::ZorbaneWin> win;
};

TEST_F(DifferencesWin, TheReportsMenuOffersTheCommandAfterExistingReports) {
  const gui::MenuTemplate* menu = gui::resources().menu("ReportAppMenu");
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->items[0].items.size(), 2u);
  EXPECT_EQ(menu->items[0].items[0].caption, "Existing Reports");
  EXPECT_EQ(menu->items[0].items[1].id, kDifferencesCommand);
  EXPECT_EQ(menu->items[0].items[1].caption, "Differences\u2026");
  ASSERT_NE(win->Menu()->itemLabel(kDifferencesCommand), nullptr);
  EXPECT_EQ(win->Menu()->itemLabel(kDifferencesCommand)->name, "TwDifferences");
}

TEST_F(DifferencesWin, OpensPresetToTheLastCompareWithItsCountsAndRows) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->baseList->currentText(), "1.0");
  EXPECT_EQ(w->referenceList->currentText(), "2.0");
  const workflow::Differences& d = w->differences();
  ASSERT_FALSE(d.rows.empty());
  EXPECT_EQ(w->table->model()->rowCount(), static_cast<int>(d.rows.size()));
  EXPECT_NE(w->summary->text().indexOf("Rows compared " + QString::number(d.summary.compared)), -1)
      << w->summary->text().toStdString();
  EXPECT_EQ(w->verdictBoxes[static_cast<std::size_t>(Verdict::ClassMissing)]->text(),
            QString("class missing (%1)").arg(d.summary.count(Verdict::ClassMissing)));
  EXPECT_TRUE(w->exportCsv->isEnabled());
  // A second choice of the command raises the same window.
  EXPECT_EQ(openFromMenu(), w);
}

TEST_F(DifferencesWin, VerdictBoxesSearchAndSortingNarrowAndOrderTheTable) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  const workflow::Differences& d = w->differences();
  QAbstractItemModel* view = w->table->model();

  for (QCheckBox* box : w->verdictBoxes) box->setChecked(false);
  EXPECT_EQ(view->rowCount(), 0);
  w->verdictBoxes[static_cast<std::size_t>(Verdict::TypeDiffers)]->setChecked(true);
  EXPECT_EQ(view->rowCount(), d.summary.count(Verdict::TypeDiffers));
  for (int row = 0; row < view->rowCount(); ++row) EXPECT_NE(cell(w, row, 9).indexOf("type differs"), -1);

  for (QCheckBox* box : w->verdictBoxes) box->setChecked(true);
  w->search->setText("ONLYREF");
  ASSERT_EQ(view->rowCount(), 1);
  EXPECT_EQ(cell(w, 0, 3), "OnlyRef");
  EXPECT_EQ(cell(w, 0, 1), "added");
  EXPECT_NE(w->summary->text().indexOf("Showing 1 of"), -1);
  w->search->clear();
  EXPECT_EQ(view->rowCount(), static_cast<int>(d.rows.size()));

  w->table->sortByColumn(2, Qt::DescendingOrder);  // Class
  for (int row = 1; row < view->rowCount(); ++row)
    EXPECT_GE(cell(w, row - 1, 2).compare(cell(w, row, 2), Qt::CaseInsensitive), 0);
}

TEST_F(DifferencesWin, RefreshesAfterEachCompareWhileOpen) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  ASSERT_FALSE(w->differences().rows.empty());
  load("Base Fam", "1.1");
  compare("1.0", "1.1");
  EXPECT_EQ(w->baseList->currentText(), "1.0");
  EXPECT_EQ(w->referenceList->currentText(), "1.1");
  EXPECT_EQ(w->referenceList->count(), 3);
  EXPECT_TRUE(w->differences().rows.empty());
  EXPECT_EQ(w->table->model()->rowCount(), 0);
  EXPECT_GT(w->differences().summary.compared, 0);
}

// The compare announces its end once its flags are published and the index is rebuilt: the
// window reads the table at once, with no wait for the main window's operation to end.
TEST_F(DifferencesWin, ReadsACompareWhenItIsAnnouncedInsideTheMainWindowsOperation) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  load("Base Fam", "1.1");
  (void)rt::withRecovery([&] {
    win->oBaseModel->pick(itemOf(win->oBaseModel, workflow::fullWidthVersion("1.0")));
    win->oRefModel->pick(itemOf(win->oRefModel, workflow::fullWidthVersion("1.1")));
    win->oPbCompareModels->click();
    EXPECT_EQ(w->referenceList->currentText(), "1.1");
    EXPECT_GT(w->differences().summary.compared, 0);
  });
}

TEST_F(DifferencesWin, PickingAnotherPairShowsItsOwnDifferences) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  const int rows = w->table->model()->rowCount();
  w->referenceList->setCurrentIndex(w->referenceList->findText("1.0"));
  w->refresh();
  EXPECT_EQ(w->table->model()->rowCount(), 0);  // the same version twice shows nothing
  EXPECT_FALSE(w->exportCsv->isEnabled());
  w->baseList->setCurrentIndex(w->baseList->findText("2.0"));
  w->refresh();
  EXPECT_EQ(w->table->model()->rowCount(), rows);  // the same rows differ in either direction
}

TEST_F(DifferencesWin, ExportButtonsWriteWhatTheTableShows) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  std::filesystem::path target;
  w->chooseExportFile = [&](workflow::ExportFormat format) {
    target = dir->path() / (format == workflow::ExportFormat::Json ? "shown.json" : "shown.other");
    return target.string();
  };
  w->search->setText("Shape");
  const int shown = w->table->model()->rowCount();
  ASSERT_GT(shown, 0);
  w->exportJson->click();
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(wftest::readFile(target)));
  ASSERT_TRUE(doc.isObject());
  EXPECT_EQ(doc.object()["rows"].toArray().size(), shown);
  EXPECT_EQ(doc.object()["summary"].toObject()["differing"].toInt(), shown);

  w->exportCsv->click();
  std::istringstream csv(wftest::readFile(target));
  int lines = 0;
  for (std::string line; std::getline(csv, line);) ++lines;
  EXPECT_EQ(lines, shown + 1);

  // A cancelled choice writes nothing.
  std::filesystem::remove(target);
  w->chooseExportFile = [](workflow::ExportFormat) { return std::string(); };
  w->exportHtml->click();
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(DifferencesWin, AfterARestartItOpensOnTwoDifferentVersions) {
  compare("1.0", "2.0");
  win.reset();  // the program ends; the next one has compared nothing yet
  win = std::make_unique<mainwin::ZorbaneWin>(nullptr);
  win->Menu(std::make_shared<reports::ReportAppMenu>(win.get()));
  win->Show();
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->baseList->currentText(), "1.0");
  EXPECT_EQ(w->referenceList->currentText(), "2.0");
  EXPECT_GT(w->table->model()->rowCount(), 0);
}

TEST_F(DifferencesWin, ExportOntoAFileTheProgramWorksOnIsRefusedAndTheTableKeepsWorking) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  std::filesystem::create_symlink(dir->path() / "OLE29.ctlstate", dir->path() / "state.csv");
  for (const char* name : {"Mpdms.dbf", "store.db", "state.csv"}) {
    const std::string before = wftest::readFile(dir->path() / name);
    w->chooseExportFile = [&](workflow::ExportFormat) { return (dir->path() / name).string(); };
    responder.clear();
    w->exportCsv->click();
    ASSERT_EQ(responder.records().size(), 1u) << name;
    EXPECT_EQ(responder.records().front().caption, "Export Failed");
    EXPECT_NE(responder.records().front().text.find("which the program works on"), std::string::npos) << name;
    EXPECT_EQ(wftest::readFile(dir->path() / name), before) << name;
  }
  // The window's table is the one on disk still: a new load and compare reach the file.
  load("Base Fam", "3.0");
  compare("1.0", "3.0");
  model::Mpdms::Args args;
  args.shared = true;
  model::Mpdms other(args);
  EXPECT_EQ(other.lastRec(), win->ModelServer->lastRec());
}

TEST_F(DifferencesWin, AnExportThatCannotBeWrittenIsToldInASentenceWithOnlyOk) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  std::filesystem::create_directory(dir->path() / "a folder");
  struct Case {
    std::filesystem::path target;
    std::string reason;
  };
  const Case cases[] = {
      {dir->path() / "no such folder" / "out.csv", "No such file or directory"},
      {dir->path() / "a folder", "Is a directory"},
  };
  for (const Case& c : cases) {
    responder.clear();
    w->chooseExportFile = [&](workflow::ExportFormat) { return c.target.string(); };
    w->exportCsv->click();
    ASSERT_EQ(responder.records().size(), 1u) << c.target;
    const gui::BoxRecord& box = responder.records().front();
    EXPECT_EQ(box.kind, gui::BoxRecord::Kind::Message);
    EXPECT_EQ(box.caption, "Export Failed");
    EXPECT_EQ(box.style, gui::kBoxOk | gui::kBoxIconExclamation);
    EXPECT_EQ(box.text.rfind("The differences were not exported to " + c.target.string() + ": " + c.reason + ".", 0),
              0u)
        << box.text;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir->path() / "a folder"));
  EXPECT_TRUE(errors.errors.empty());  // nothing went to the error handler's box
}

TEST_F(DifferencesWin, EscClosesTheWindowAndEveryMenuItemHasAMnemonicOfItsOwn) {
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  QApplication::setActiveWindow(w);
  QTest::keyClick(w, Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());

  auto* bar = win->widget()->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  std::vector<QList<QAction*>> levels{bar->actions()};
  for (QAction* top : bar->actions())
    if (top->menu()) levels.push_back(top->menu()->actions());
  const std::set<QString> specified{"Reports", "Existing Reports", "Differences\u2026"};
  for (const QList<QAction*>& level : levels) {
    std::set<QString> keys;
    for (const QAction* action : level) {
      const QString key = QKeySequence::mnemonic(action->text()).toString();
      EXPECT_FALSE(key.isEmpty()) << action->text().toStdString();
      EXPECT_TRUE(keys.insert(key).second) << "shared by " << action->text().toStdString();
      EXPECT_TRUE(specified.count(QString(action->text()).remove('&'))) << action->text().toStdString();
    }
  }
}

TEST_F(DifferencesWin, TheCommandLineProgramComparesWhileTheWindowHoldsTheTable) {
  const std::string command = std::string(ZMC_CLI) + " -C " + dir->path().string() +
                              " compare 1.0 2.0 --format json --output " + (dir->path() / "cli.json").string() +
                              " 2>" + (dir->path() / "cli.err").string();
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << wftest::readFile(dir->path() / "cli.err");
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(wftest::readFile(dir->path() / "cli.json")));
  EXPECT_GT(doc.object()["rows"].toArray().size(), 0);
  // The window reads the flags the other process wrote.
  diffwin::DifferencesWindow* w = diffwin::ShowDifferences(*win, [this] { return win->ModelServer.get(); },
                                                           workflow::fullWidthVersion("1.0"),
                                                           workflow::fullWidthVersion("2.0"));
  EXPECT_EQ(w->table->model()->rowCount(), doc.object()["rows"].toArray().size());
}

// The demo's two states of the Library schema, as the user guide walks through them.
class DemoDifferencesWin : public DifferencesWin {
 protected:
  std::string storeSql() const override { return wftest::readFile(std::filesystem::path(ZMC_DEMO_DIR) / "zorbane-demo.sql"); }
  void loadBoth() override {
    load("Library", "1.0");
    load("Library Revised Edition", "2.0");
  }
};

TEST_F(DemoDifferencesWin, ShowsEachChangeOfTheDemoSchema) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  const workflow::DifferenceSummary& s = w->differences().summary;
  EXPECT_EQ(s.count(Verdict::TypeDiffers), 4);   // ItemId and Rating, on both sides
  EXPECT_EQ(s.count(Verdict::LevelDiffers), 4);  // ItemCount and Fine
  EXPECT_EQ(s.count(Verdict::ClassMissing), 5);  // Microfilm's three rows, Periodical's two
  EXPECT_EQ(s.count(Verdict::MemberMissing), 2); // Book.Pages and Book.Edition
  EXPECT_EQ(s.count(Verdict::ParentDiffers), 6); // Magazine's three rows on both sides
}

// A newcomer compares 1.0 with 2.0, loads the family again as 1.1 and compares 1.0 with 1.1: the
// flags of 1.0 now belong to the second compare, and the window must still show 1.0 against 2.0
// as a compare of exactly that pair finds it.
TEST_F(DemoDifferencesWin, APairPickedAfterAnotherCompareShowsItsOwnDifferences) {
  compare("1.0", "2.0");
  load("Library", "1.1");
  compare("1.0", "1.1");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->differences().summary.differing, 0);  // preset to the last compare
  w->referenceList->setCurrentIndex(w->referenceList->findText("2.0"));
  w->refresh();
  EXPECT_EQ(w->differences().summary.differing, 21);
  EXPECT_NE(w->summary->text().indexOf("differing 21: added 3, removed 4, changed 14"), -1)
      << w->summary->text().toStdString();
}

// The tree of the Changes tab, one line a node: name, change, before, after, severity and the
// member counts of a class; members indented beneath their class.
std::vector<std::string> treeLines(const QTreeView* tree) {
  std::vector<std::string> lines;
  const QAbstractItemModel* m = tree->model();
  const auto line = [m](const QModelIndex& parent, int row) {
    QStringList cells;
    for (int column = 0; column < diffwin::ChangesView::ColumnCount; ++column)
      cells << m->index(row, column, parent).data().toString();
    while (!cells.isEmpty() && cells.back().isEmpty()) cells.removeLast();
    return cells.join(" | ").toStdString();
  };
  for (int row = 0; row < m->rowCount(); ++row) {
    lines.push_back(line({}, row));
    const QModelIndex node = m->index(row, 0);
    for (int child = 0; child < m->rowCount(node); ++child) lines.push_back("  " + line(node, child));
  }
  return lines;
}

TEST_F(DemoDifferencesWin, TheChangesTabListsEachChangeOfTheDemoByClass) {
  compare("1.0", "2.0");
  diffwin::DifferencesWindow* w = openFromMenu();
  ASSERT_NE(w, nullptr);
  std::vector<std::string> listed;
  for (const workflow::ChangeEntry& c : w->differences().changes.changes) listed.push_back(workflow::changeLine(c));
  EXPECT_EQ(listed, (std::vector<std::string>{
                        "Book.Edition  member added  Integer  [additive]",
                        "Book.Pages  member removed  Integer  [breaking]",
                        "LibraryItem.ItemCount  level changed  Class -> Instance  [breaking]",
                        "LibraryItem.ItemId  type changed  Integer -> Decimal  [breaking]",
                        "Magazine  superclass changed  LibraryItem -> Periodical  [review]",
                        "Member.Fine  level changed  Instance -> Class  [breaking]",
                        "Member.Rating  type changed  Decimal -> Real  [breaking]",
                        "Microfilm  class removed  [breaking]",
                        "Periodical  class added  [additive]",
                    }));
  EXPECT_TRUE(w->differences().changes.suggestions.empty());  // Pages and Edition are too unlike

  w->views->setCurrentWidget(w->changesView);
  QTreeView* tree = w->changesView->tree;
  EXPECT_EQ(treeLines(tree), (std::vector<std::string>{
                                 "Book |  |  |  |  | 2 changes: 1 breaking, 1 additive",
                                 "  Edition (Property, Instance) | member added |  | Integer | additive",
                                 "  Pages (Property, Instance) | member removed | Integer |  | breaking",
                                 "LibraryItem |  |  |  |  | 2 changes: 2 breaking",
                                 "  ItemCount (Property, Instance) | level changed | Class | Instance | breaking",
                                 "  ItemId (Property, Instance) | type changed | Integer | Decimal | breaking",
                                 "Magazine | superclass changed | LibraryItem | Periodical | review",
                                 "Member |  |  |  |  | 2 changes: 2 breaking",
                                 "  Fine (Method, Class) | level changed | Instance | Class | breaking",
                                 "  Rating (Property, Instance) | type changed | Decimal | Real | breaking",
                                 "Microfilm | class removed |  |  | breaking",
                                 "Periodical | class added |  |  | additive",
                             }));
  // Severity is an icon beside its word.
  EXPECT_FALSE(tree->model()->index(2, diffwin::ChangesView::Severity).data(Qt::DecorationRole).isNull());

  // The keyboard walks the tree from its first node.
  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_Down);
  EXPECT_EQ(tree->currentIndex().data().toString(), "Edition (Property, Instance)");
  QTest::keyClick(tree, Qt::Key_End);
  EXPECT_EQ(tree->currentIndex().data().toString(), "Periodical");

  // Filters by severity and kind, and the window's search.
  w->changesView->severityBoxes[0]->setChecked(false);  // breaking
  EXPECT_EQ(treeLines(tree).size(), 4u);  // Book with Edition, Magazine, Periodical
  w->changesView->severityBoxes[0]->setChecked(true);
  w->changesView->kindList->setCurrentIndex(w->changesView->kindList->findText("type changed"));
  EXPECT_EQ(treeLines(tree).size(), 4u);
  w->changesView->kindList->setCurrentIndex(0);
  w->search->setText("itemid");
  EXPECT_EQ(treeLines(tree), (std::vector<std::string>{
                                 "LibraryItem |  |  |  |  | 1 change: 1 breaking",
                                 "  ItemId (Property, Instance) | type changed | Integer | Decimal | breaking",
                             }));

  // Export writes the view shown: the changes that pass.
  std::filesystem::path target = dir->path() / "changes.csv";
  w->chooseExportFile = [&](workflow::ExportFormat) { return target.string(); };
  w->exportCsv->click();
  EXPECT_EQ(wftest::readFile(target),
            "class,member,member_kind,level,change,before,after,from_class,to_class,severity,similarity\r\n"
            "LibraryItem,ItemId,Property,Instance,type changed,Integer,Decimal,,,breaking,\r\n");
  EXPECT_TRUE(errors.errors.empty());
}

// The demo's three states stored as four versions: 1.0 and 1.1 (Library), 2.0 (Revised Edition)
// and 10.0 (the third state, with a rename and a pull-up).
class HistoryWin : public DemoDifferencesWin {
 protected:
  void loadBoth() override {
    load("Library", "1.0");
    load("Library", "1.1");
    load("Library Revised Edition", "2.0");
    load("Library Third", "10.0");
  }
  diffwin::DifferencesWindow* changesOf(const std::string& base, const std::string& reference) {
    diffwin::DifferencesWindow* w = diffwin::ShowDifferences(*win, [this] { return win->ModelServer.get(); },
                                                             workflow::fullWidthVersion(base),
                                                             workflow::fullWidthVersion(reference));
    w->views->setCurrentWidget(w->changesView);
    return w;
  }
  // The command line's exit code on the test's folder, beside the open window.
  int run(const std::vector<std::string>& args) {
    std::string command = std::string(ZMC_CLI) + " -C " + dir->path().string();
    for (const std::string& arg : args) command += " " + arg;
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static QModelIndex nodeNamed(const QTreeView* tree, const QString& name) {
    const QModelIndexList found =
        tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? QModelIndex() : found.front();
  }
};

TEST_F(HistoryWin, DoubleClickingAClassShowsItThroughEveryVersion) {
  diffwin::DifferencesWindow* w = changesOf("2.0", "10.0");
  QTreeView* tree = w->changesView->tree;
  const QModelIndex magazine = nodeNamed(tree, "Magazine");
  ASSERT_TRUE(magazine.isValid());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  tree->scrollTo(magazine);
  settle();
  const QPoint at = tree->visualRect(magazine).center();
  // A double-click as the mouse gives it: a click, then the second press.
  QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
  diffwin::HistoryWindow* h = w->historyWindow();
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(h->isVisible());
  QStringList columns, rows;
  for (int c = 0; c < h->grid->columnCount(); ++c) columns << h->grid->horizontalHeaderItem(c)->text();
  EXPECT_EQ(columns, (QStringList{"1.0", "1.1", "2.0", "10.0"}));
  for (int r = 0; r < h->grid->rowCount(); ++r) {
    QStringList cells{h->grid->verticalHeaderItem(r)->text()};
    for (int c = 0; c < h->grid->columnCount(); ++c) cells << h->grid->item(r, c)->text();
    rows << cells.join(" | ");
  }
  EXPECT_EQ(rows, (QStringList{"Cover (Property) | present | present | present | present",
                               "IssueNo (Property) | present | present | present | - gone"}));
  EXPECT_EQ(h->grid->item(1, 3)->toolTip(), "Magazine.IssueNo  pulled up  Magazine -> Periodical  [review]");
  // The same text as the command line's history of the class.
  EXPECT_EQ(h->steps->toPlainText().toStdString(), wftest::readFile(std::filesystem::path(ZMC_GOLDEN_DIR) / "magazine-history.txt"));

  // "History..." shows the class of the current member.
  tree->setCurrentIndex(nodeNamed(tree, "JoinedOn (Property, Instance)"));
  w->changesView->historyButton->click();
  EXPECT_EQ(h->windowTitle(), "History of Member");
  EXPECT_EQ(h->history().members.size(), 5u);
  EXPECT_TRUE(errors.errors.empty());
}

// Each form of rule, added through the view's menu where it offers one: what the Changes view
// counts, what an export holds, and what the command line's --fail-on answers on the same folder.
TEST_F(HistoryWin, EachRuleFormShowsInTheCountsTheExportAndTheExitCode) {
  diffwin::DifferencesWindow* w = changesOf("2.0", "10.0");
  diffwin::ChangesView* view = w->changesView;
  EXPECT_FALSE(view->hiddenCount->isVisible());
  EXPECT_EQ(w->differences().changes.counts.total, 3);  // Joined removed, JoinedOn added, IssueNo pulled up

  const auto menuRule = [&](const QString& node, const std::string& title) {
    for (const auto& [offered, rule] : view->menuFor(nodeNamed(view->tree, node)))
      if (offered == title) return rule;
    ADD_FAILURE() << "no '" << title << "' for " << node.toStdString();
    return std::string();
  };
  struct Case {
    std::string rule;  // alone in the file, appended through the view as its menu does
    long shown, hidden;
    int exitBreaking;
  };
  const std::vector<Case> cases = {
      {menuRule("Member.Joined", "Accept rename"), 2, 0, 1},  // one "renamed" change
      {menuRule("IssueNo (Property, Instance)", "Ignore this kind of change in this class"), 2, 1, 1},
      {"Mem*", 1, 3, 0},                 // a pattern: both members and the suggestion
      {"* severity=breaking", 2, 2, 0},  // the removal and the suggestion
      {"Periodical level=sideways", 3, 0, 1},  // refused: nothing hidden, the line told
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    std::filesystem::remove(w->ignoreFile());
    const bool refused = c.rule.find("sideways") != std::string::npos;
    if (refused) {  // the view only appends lines it can read back: a typing error comes from an editor
      std::ofstream(w->ignoreFile()) << c.rule << "\n";
      w->refresh();
    } else {
      view->addRule(c.rule);
    }
    EXPECT_EQ(w->differences().changes.counts.total, c.shown);
    EXPECT_EQ(view->hiddenCount->isVisibleTo(w), !refused);
    if (!refused) {
      EXPECT_EQ(view->hiddenCount->text().toStdString(),
                std::to_string(c.hidden) + (c.hidden == 1 ? " change" : " changes") + " hidden by rules");
    }
    EXPECT_EQ(view->ruleProblems->isVisibleTo(w), refused);
    // The rows of the hidden changes leave the Rows tab too, and its summary says so.
    EXPECT_EQ(w->differences().rowsHiddenByRules > 0, c.hidden > 0);
    EXPECT_EQ(w->summary->text().contains(QString::number(w->differences().rowsHiddenByRules) + " hidden by rules)"), c.hidden > 0);
    const std::filesystem::path target = dir->path() / "changes.json";
    w->chooseExportFile = [&](workflow::ExportFormat) { return target.string(); };
    w->exportJson->click();
    const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(wftest::readFile(target))).object();
    EXPECT_EQ(doc["changeCounts"].toObject()["total"].toInt(), c.shown);
    EXPECT_EQ(doc["hiddenByRules"].toInt(), c.hidden);
    EXPECT_EQ(doc["ignoreRules"].toArray().isEmpty(), refused);
    EXPECT_EQ(run({"diff", "2.0", "10.0", "--fail-on", "breaking"}), c.exitBreaking);
  }
  EXPECT_NE(view->ruleProblems->text().indexOf("line 1: unknown level 'sideways'"), -1)
      << view->ruleProblems->text().toStdString();
  EXPECT_EQ(wftest::readFile(w->ignoreFile()), "Periodical level=sideways\n");

  view->addRule("Magazine change=pulled-up");
  // "Show ignored" lists what the rules hid, set apart in words.
  view->showIgnored->setChecked(true);
  EXPECT_EQ(nodeNamed(view->tree, "IssueNo (Property, Instance)").siblingAtColumn(diffwin::ChangesView::Change).data().toString(),
            "pulled up (ignored)");
  EXPECT_TRUE(nodeNamed(view->tree, "JoinedOn (Property, Instance)").isValid());
  EXPECT_TRUE(errors.errors.empty());
}

}  // namespace
