// The main window never reports a failure as success: a load into a table that is not open, a
// read without a family, a read whose calls fail, a version blank or compared with itself; and
// its rough edges: the progress bar after an empty family and through a long comparison, Reset
// Flags after a break, the zap of a missing table, and the call stack of the report list.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>
#include <set>
#include <unistd.h>

#include "reports/reports.h"
#include "runtime/callstack.h"
#include "window_fixture.h"

namespace {

using wftest::Compared;
using wftest::FailingProxy;
using wftest::v15;
using wftest::Workflow;

bool anyBoxCaptioned(const gui::TestResponder& responder, const std::string& caption) {
  for (const auto& box : responder.records())
    if (box.caption == caption) return true;
  return false;
}

// ---------------------------------------------------------------- load

TEST_F(Workflow, LoadIntoATableThatIsNotOpenIsAnErrorNamingTheTable) {
  std::filesystem::remove(dir.path() / model::kTableName);
  start();
  ASSERT_EQ(errors.count(rt::EG_OPEN), 1);  // start-up reports the missing table, answered Default
  responder.clear();
  load("Base Fam", "1.0");
  ASSERT_EQ(errors.count(rt::EG_NOTABLE), 1);
  EXPECT_EQ(errors.errors.back()->fileName, model::kTableName);
  EXPECT_FALSE(anyBoxCaptioned(responder, "Finished"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / model::kTableName));  // nothing created either
  EXPECT_EQ(win->Pointer(), gui::Pointer::Arrow);
  EXPECT_TRUE(win->oPbExecute->IsEnabled());
}

TEST_F(Workflow, LoadWithNoFamilyPickedIsRefusedBeforeAnythingIsAsked) {
  start();
  win->ModelName("1.0");
  win->oPbExecute->Enable();  // as the end of a comparison leaves it
  win->oPbExecute->click();
  EXPECT_TRUE(errors.errors.empty());
  ASSERT_EQ(responder.records().size(), 1u);
  EXPECT_EQ(lastBox().caption, "Read Class Structure");
  EXPECT_EQ(lastBox().text, "No class family is picked; nothing was loaded.");
  EXPECT_EQ(table().lastRec(), 0u);
  expectUsable();
}

TEST_F(Workflow, ReadWhoseCallsFailIsNotReportedAsFinished) {
  start();
  // The third Methods call fails and is answered Default: the read goes on, but incomplete.
  win->DbControl = std::make_shared<FailingProxy>(win->DbControl, "METHODS", std::make_shared<int>(3));
  load("Base Fam", "1.0");
  ASSERT_GE(errors.count(rt::EG_OLE), 1);
  EXPECT_FALSE(anyBoxCaptioned(responder, "Finished"));
  EXPECT_EQ(lastBox().caption, "Read Class Structure");
  EXPECT_NE(lastBox().text.find("The class family Base Fam was not read completely"), std::string::npos)
      << lastBox().text;
  EXPECT_GT(table().lastRec(), 0u);  // what was written stays, and is listed
  EXPECT_EQ(win->oBaseModel->ItemCount(), 1);
  expectUsable();
}

TEST_F(Workflow, EmptyOrBlankVersionIsRefusedWithNothingWritten) {
  start();
  for (const char* version : {"", "   "}) {
    responder.clear();
    win->ModelName("1.0");
    win->oClassFamilyName->pick(itemOf(win->oClassFamilyName, "Base Fam"));
    ASSERT_TRUE(win->oPbExecute->IsEnabled());
    win->ModelName(version);  // cleared after the button was enabled
    win->oPbExecute->click();
    ASSERT_EQ(responder.records().size(), 1u) << '"' << version << '"';
    EXPECT_EQ(lastBox().caption, "Read Class Structure");
    EXPECT_EQ(lastBox().text, "The model version is empty; nothing was loaded. Enter a model version first.");
  }
  EXPECT_EQ(table().lastRec(), 0u);
  EXPECT_EQ(win->oBaseModel->ItemCount(), 0);
  EXPECT_TRUE(errors.errors.empty());
  expectUsable();
}

// Another user's folder: as root the test looks at it with an unprivileged effective user, so
// that permissions hold.
class OtherUser {
 public:
  OtherUser() : switched_(::geteuid() == 0 && ::seteuid(65534) == 0) {}
  ~OtherUser() {
    if (switched_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
  }

 private:
  bool switched_;
};

TEST_F(Workflow, AReadOnlyFolderIsListedButLoadCompareAndZapAreRefusedWithNothingWritten) {
  start();
  load("Base Fam", "1.0");
  load("Ref Fam", "2.0");
  win.reset();
  namespace fs = std::filesystem;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
    fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const std::string before = wftest::readFile(dir.path() / model::kTableName);
  responder.clear();
  {
    OtherUser other;
    start();
    ASSERT_TRUE(table().used());
    EXPECT_EQ(win->oBaseModel->ItemCount(), 2);
    load("Base Fam", "3.0");
    compare("1.0", "2.0");
    win->oPbZapDbf->click();
    win.reset();
  }
  ASSERT_EQ(responder.records().size(), 3u);
  for (const auto& box : responder.records()) {
    EXPECT_EQ(box.caption, "Model Table Read-Only");
    EXPECT_NE(box.text.find("is read-only for this user; nothing was changed."), std::string::npos) << box.text;
  }
  EXPECT_TRUE(errors.errors.empty()) << errors.errors.front()->description;
  EXPECT_EQ(wftest::readFile(dir.path() / model::kTableName), before);
  fs::permissions(dir.path(), fs::perms::owner_all);
}

TEST_F(Workflow, TypeCodesOutsideZeroToTenAreStoredAsNoTypeAtAnyWidth) {
  const struct {
    const char* name;
    const char* code;
    const char* stored;
  } cases[] = {
      {"TwoToThe32", "4294967296", ""},          {"TwoToThe32Plus5", "4294967301", ""},
      {"TwoToThe62Plus2", "4611686018427387906", ""}, {"MinusOne", "-1", ""},
      {"Eleven", "11", ""},                      {"Ten", "10", "Date"},
      {"Lowest", "-9223372036854775808", ""},    {"MinusTwoToThe32", "-4294967296", ""},
  };
  std::string sql =
      "INSERT INTO zfamily (family_id, name, position) VALUES (1, 'Codes', 1);\n"
      "INSERT INTO zclass (class_id, family_id, name, position) VALUES (10, 1, 'K', 1);\n";
  int position = 0;
  for (const auto& c : cases) {
    ++position;
    sql += "INSERT INTO zproperty (property_id, class_id, name, position, level, type_code) VALUES (" +
           std::to_string(100 + position) + ", 10, '" + c.name + "', " + std::to_string(position) + ", 'I', " +
           c.code + ");\n";
  }
  win.reset();
  wftest::WorkDir codes(sql);
  ole::setStorageDirectories({codes.path().string()});
  start();
  load("Codes", "1.0");
  const std::vector<std::string> rows = wftest::rowsInRecordOrder(table());
  ASSERT_EQ(rows.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(rows[i + 1], std::string("1.0|K||P|") + cases[i].name + "|" + cases[i].stored + "|I|Codes") << cases[i].code;
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(Workflow, ProgressBarIsEmptyNotBusyAfterAFamilyWithoutClasses) {
  start();
  load("Multi", "1.0");
  load("Empty Family", "1.0");
  auto* bar = static_cast<QProgressBar*>(win->oProgressBar->widget());
  // What the bar draws is shown once the event loop has run past the bar's pacing interval.
  QElapsedTimer loop;
  loop.start();
  while (loop.elapsed() < 4 * gui::ProgressBar::kShowInterval.count()) QCoreApplication::processEvents();
  EXPECT_EQ(win->oProgressBar->RangeHigh(), 0);
  EXPECT_LT(bar->minimum(), bar->maximum());  // a range of (0, 0) is the toolkit's busy animation
  EXPECT_EQ(bar->value(), bar->minimum());
}

// ---------------------------------------------------------------- a long run

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
  int paints = 0;
};

TEST_F(Workflow, LongComparisonMovesTheBarWithPaintsBoundedByItsWidth) {
  {
    model::Mpdms seed;
    for (int c = 0; c < 2000; ++c) {
      const std::string cls = "Class" + std::to_string(c);
      for (const char* version : {"1.0", "2.0"}) {
        wftest::appendRow(seed, version, cls, "");
        for (int m = 0; m < 4; ++m) wftest::appendRow(seed, version, cls, "", "P", "A" + std::to_string(m), "Integer", "I");
      }
    }
  }
  start();
  auto* bar = static_cast<QProgressBar*>(win->oProgressBar->widget());
  PaintCounter counter(bar);
  // The clock the bar paces itself by moves past the interval whenever the bar asks it; what the
  // widget shows at each of those moments is noted.
  std::set<int> shown;
  gui::ProgressBar::TimePoint now{};
  win->oProgressBar->UseClock([&] {
    shown.insert(bar->value());
    now += gui::ProgressBar::kShowInterval + std::chrono::milliseconds(1);
    return now;
  });
  compare("1.0", "2.0");
  EXPECT_EQ(lastBox().caption, "Finished");
  EXPECT_GE(shown.size(), 50u);                             // it moved all along the 20,000 rows
  EXPECT_GE(counter.paints, 10);                            // drawn as it goes
  EXPECT_LE(counter.paints, 2 * bar->width() + 20);         // not once per row
  EXPECT_TRUE(errors.errors.empty());
}

// ---------------------------------------------------------------- compare

TEST_F(Compared, VersionTypedOverTheOtherSideIsNotComparedWithItself) {
  for (const char* typed : {"1.0", "1.0      "}) {
    responder.clear();
    pickVersions("1.0", "2.0");
    ASSERT_TRUE(win->oPbCompareModels->IsEnabled());
    win->RefModel(rt::Value(typed));  // typed over the picked reference
    win->oPbCompareModels->click();
    ASSERT_EQ(responder.records().size(), 1u);
    EXPECT_EQ(lastBox().caption, "Compare Above Models");
    EXPECT_EQ(lastBox().text, "Base and reference are the same model version \"1.0\"; nothing was compared.");
  }
  EXPECT_EQ(wftest::flagsOf(table(), "1.0", "Shape", "Area"), "FFFFFFF");  // no flag written
  expectUsable();
}

TEST_F(Compared, ResetFlagsIsUncheckedAfterABreakOutOfAComparison) {
  pickVersions("1.0", "2.0");
  table().deleteOrder(1);
  table().deleteOrder(1);  // selecting order 1 now fails
  win->oResetToggles->Checked(true);
  errors.breakOnError = true;
  win->oPbCompareModels->click();
  ASSERT_GE(errors.count(rt::EG_ARG), 1);
  EXPECT_FALSE(win->oResetToggles->Checked());
  expectUsable();
}

// ---------------------------------------------------------------- zap

TEST_F(Workflow, ZapWithTheTableMissingSaysSoAndNamesIt) {
  std::filesystem::remove(dir.path() / model::kTableName);
  start();
  errors.errors.clear();
  responder.clear();
  responder.queueAnswer(gui::kIdYes);
  win->oPbZapDbf->click();
  EXPECT_EQ(errors.count(rt::EG_OPEN), 1);  // the one failed open, not a second one for a retry
  EXPECT_EQ(lastBox().caption, "Zapped Failed");
  EXPECT_EQ(lastBox().text, "Unable to open the model table Mpdms.dbf, server has not been zapped!");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / model::kTableName));
  EXPECT_EQ(win->oBaseModel->ItemCount(), 0);
}

// ---------------------------------------------------------------- call stack

TEST_F(Workflow, ReportListCommandIsOneRoutineInTheCallStack) {
  std::ofstream(dir.path() / "Listing.rpt") << "";
  start();
  std::vector<std::string> stack;
  reports::setReportListDriver([&](reports::ExistingReportsWin&) {
    for (int level = 0; level < rt::callDepth(); ++level) stack.push_back(rt::procName(level));
  });
  (void)win->dispatch(rt::Symbol("TwExistingReports"));
  reports::setReportListDriver({});
  ASSERT_FALSE(stack.empty());
  EXPECT_EQ(std::count(stack.begin(), stack.end(), "ZorbaneWin:TwExistingReports"), 1);
}

}  // namespace
