// The workflow end to end: the real main window offscreen, the real table driver and the
// control stand-in over a schema store built for each test, boxes answered by the test responder.
#include <QLineEdit>
#include <QTest>

#include <optional>

#include "window_fixture.h"

namespace {

using mainwin::ZorbaneWin;
using wftest::Compared;
using wftest::FailingProxy;
using wftest::flagsOf;
using wftest::TableHolder;
using wftest::v15;
using wftest::Workflow;

// ---------------------------------------------------------------- start-up

TEST_F(Workflow, StartUpWithoutIndexFileListsVersionsInRecordOrderThenBuildsIt) {
  {
    model::Mpdms seed;
    wftest::appendRow(seed, "2.0", "K", "");
    wftest::appendRow(seed, "1.0", "K", "");
    wftest::appendRow(seed, "2.0", "L", "");  // interleaved: still listed once
  }
  win = std::make_unique<ZorbaneWin>(nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.indexFile()));
  ASSERT_EQ(win->oBaseModel->ItemCount(), 2);
  EXPECT_EQ(win->oBaseModel->GetItemValue(itemOf(win->oBaseModel, v15("2.0"))).asLong(), 1);
  EXPECT_EQ(win->oBaseModel->GetItemValue(itemOf(win->oBaseModel, v15("1.0"))).asLong(), 2);
  EXPECT_EQ(win->oRefModel->ItemCount(), 2);
  EXPECT_EQ(win->oBaseModel->CurrentItemNo(), 0);
  EXPECT_EQ(win->oRefModel->CurrentItemNo(), 0);
  win->InitialIndexBuild(false);
  EXPECT_TRUE(std::filesystem::exists(dir.indexFile()));
  EXPECT_EQ(table().orderCount(), 2);
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(Workflow, StartUpWithIndexFileKeepsItAndListsInIndexOrder) {
  {
    model::Mpdms seed;
    wftest::appendRow(seed, "2.0", "K", "");
    wftest::appendRow(seed, "1.0", "K", "");
    (void)workflow::buildIndexes(seed, false);
  }
  const auto stamp = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24);
  std::filesystem::last_write_time(dir.indexFile(), stamp);
  start();
  EXPECT_EQ(std::filesystem::last_write_time(dir.indexFile()), stamp);  // not rebuilt
  EXPECT_EQ(win->oBaseModel->GetItemValue(itemOf(win->oBaseModel, v15("1.0"))).asLong(), 1);
  EXPECT_EQ(table().orderCount(), 2);
}

TEST_F(Workflow, FamiliesAreListedSortedAndTrimmedWithNothingPicked) {
  start();
  std::vector<std::string> shown;
  for (int i = 1; i <= win->oClassFamilyName->ItemCount(); ++i) shown.push_back(win->oClassFamilyName->GetItem(i));
  EXPECT_EQ(shown, (std::vector<std::string>{"A Family Name Longer Than Fifteen", "Base Fam", "Empty Family",
                                             "Multi", "Ref Fam"}));
  EXPECT_EQ(win->oClassFamilyName->CurrentItemNo(), 1);
  EXPECT_EQ(win->oClassFamilyName->GetItemValue(itemOf(win->oClassFamilyName, "Ref Fam")).asLong(), 2);
  EXPECT_TRUE(win->ChosenFamily.empty());
  EXPECT_FALSE(win->oPbExecute->IsEnabled());
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());
  EXPECT_EQ(win->Pointer(), gui::Pointer::Arrow);
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(Workflow, EmptyStoreGivesAnEmptyFamilyList) {
  win.reset();
  wftest::WorkDir empty("");
  ole::setStorageDirectories({empty.path().string()});
  start();
  EXPECT_EQ(win->oClassFamilyName->ItemCount(), 0);
  EXPECT_EQ(win->oBaseModel->ItemCount(), 0);
  EXPECT_TRUE(errors.errors.empty());
}

// ---------------------------------------------------------------- enabling rules

TEST_F(Workflow, ReadFollowsPickAndVersionCompareNeedsTwoDifferentVersions) {
  start();
  win->oClassFamilyName->pick(itemOf(win->oClassFamilyName, "Multi"));
  EXPECT_FALSE(win->oPbExecute->IsEnabled());  // no version typed
  load("Multi", "1.0");
  load("Multi", "2.0");
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());  // lists refilled: nothing chosen
  win->oBaseModel->pick(itemOf(win->oBaseModel, v15("1.0")));
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());
  win->oRefModel->pick(itemOf(win->oRefModel, v15("1.0")));
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());
  win->oRefModel->pick(itemOf(win->oRefModel, v15("2.0")));
  EXPECT_TRUE(win->oPbCompareModels->IsEnabled());
  win->ModelName("");
  win->oClassFamilyName->pick(itemOf(win->oClassFamilyName, "Base Fam"));
  EXPECT_FALSE(win->oPbExecute->IsEnabled());
}

// ---------------------------------------------------------------- load

TEST_F(Workflow, LoadWritesClassThenMembersInWalkOrder) {
  start();
  load("Base Fam", "1.0");
  const std::vector<std::string> expected = {
      "1.0|Shape||||||Base Fam",
      "1.0|Shape||M|Make|Reference to Object|C|Base Fam",
      "1.0|Shape||M|Draw|Void|I|Base Fam",
      "1.0|Shape||P|Count|Integer|C|Base Fam",
      "1.0|Shape||P|Area|Real|I|Base Fam",
      "1.0|Shape||P|Label|String|I|Base Fam",
      "1.0|Circle|Shape|||||Base Fam",
      "1.0|Circle|Shape|M|OnlyBase|Boolean|I|Base Fam",
      "1.0|Circle|Shape|P|Radius|Real|I|Base Fam",
      "1.0|Circle|Shape|P|Tags|Value Collection (Se|I|Base Fam",
      "1.0|Circle|Shape|P|Blob||I|Base Fam",
      "1.0|Square|Shape|||||Base Fam",
      "1.0|Square|Shape|P|Side|Integer|I|Base Fam",
      "1.0|Gone|Shape|||||Base Fam",
      "1.0|Gone|Shape|P|X|Integer|I|Base Fam",
      "1.0|Plain||||||Base Fam",
  };
  EXPECT_EQ(wftest::rowsInRecordOrder(table()), expected);
  table().goTo(1);
  for (model::Field f : {model::Field::NO_MATCH, model::Field::ALL_OK, model::Field::COMPARED, model::Field::CLASSFOUND})
    EXPECT_FALSE(table().flag(f));
  EXPECT_EQ(lastBox().caption, "Finished");
  EXPECT_EQ(lastBox().text, "We have loaded the Base Fam class information into the database!");
  EXPECT_EQ(win->oProgressGroupBox->Caption(), "Progress of Reviewing Class Family");
  EXPECT_EQ(win->oProgressBar->RangeHigh(), 5);
  expectUsable();
  EXPECT_EQ(win->oBaseModel->ItemCount(), 1);
  EXPECT_EQ(win->oBaseModel->GetItem(1), v15("1.0"));
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(Workflow, LoadCutsLongValuesAndKeepsOnlyTheFirstParent) {
  start();
  load("Multi", "123456789012345678");
  load("A Family Name Longer Than Fifteen", "v");
  const auto rows = wftest::rowsInRecordOrder(table());
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[2], "123456789012345|C|B|||||Multi");
  EXPECT_EQ(rows[3], "123456789012345|C|B|P|Weight|Real|I|Multi");
  EXPECT_EQ(rows[4], "v|Widget||||||A Family Name L");
  EXPECT_EQ(rows[5], "v|Widget||P|Knob|Date|C|A Family Name L");
  EXPECT_EQ(lastBox().text, "We have loaded the A Family Name Longer Than Fifteen class information into the database!");
  EXPECT_EQ(win->oBaseModel->ItemCount(), 2);
  EXPECT_GT(itemOf(win->oBaseModel, "123456789012345"), 0);
}

TEST_F(Workflow, LoadingAFamilyAgainUnderItsVersionAsksFirstAndNoIsTheDefault) {
  start();
  load("Multi", "1.0");
  const auto once = wftest::rowsInRecordOrder(table());
  ASSERT_EQ(once.size(), 4u);
  struct Case {
    const char* family;
    const char* version;
    std::optional<int> answer;  // none: the box's default button
    bool asked;
    std::size_t rowsAfter;
  };
  const Case cases[] = {
      {"Multi", "1.0", std::nullopt, true, 4},   // the default keeps the table as it was
      {"Multi", "1.0 ", gui::kIdNo, true, 4},    // the same version at the stored width
      {"Multi", "1.0", gui::kIdYes, true, 8},    // appending stays possible
      {"Multi", "2.0", std::nullopt, false, 12},  // another version: nothing to ask
      {"Base Fam", "1.0", std::nullopt, false, 28},
  };
  for (const Case& c : cases) {
    responder.clear();
    if (c.answer) responder.queueAnswer(*c.answer);
    load(c.family, c.version);
    const bool asked = !responder.records().empty() && responder.records().front().caption == "Read Class Structure";
    EXPECT_EQ(asked, c.asked) << c.family << " as " << c.version;
    if (asked) {
      const gui::BoxRecord& box = responder.records().front();
      EXPECT_EQ(box.text, "Version 1.0 already holds 4 rows of Multi. Add them again?");
      EXPECT_EQ(box.style, gui::kBoxYesNo | gui::kBoxIconQuestion | gui::kBoxDefaultSecond);
    }
    EXPECT_EQ(table().lastRec(), c.rowsAfter) << c.family << " as " << c.version;
    expectUsable();
  }
  const auto rows = wftest::rowsInRecordOrder(table());
  EXPECT_EQ(std::vector<std::string>(rows.begin() + 4, rows.begin() + 8), once);  // the Yes appended a copy
}

TEST_F(Workflow, EmptyFamilyFinishesAndSaysNoRowsWereWritten) {
  start();
  load("Empty Family", "1.0");
  EXPECT_EQ(table().lastRec(), 0u);
  ASSERT_EQ(responder.records().size(), 2u);
  EXPECT_EQ(responder.records()[0].caption, "Finished");
  EXPECT_EQ(lastBox().caption, "Read Class Structure");
  EXPECT_EQ(lastBox().text,
            "No rows were written: the class family Empty Family has no classes, so the lists of model versions are "
            "unchanged.");
  EXPECT_EQ(win->oProgressBar->RangeHigh(), 0);
  expectUsable();
}

// ---------------------------------------------------------------- compare

TEST_F(Compared, EveryVerdictOfTheTwoVersions) {
  compare("1.0", "2.0");
  // Flags: NO_MATCH ALL_OK TYPEPROBLM LEVELPROB COMPARED PARENTOK CLASSFOUND.
  const std::string ok = "FTFFTTT";
  for (const char* v : {"1.0", "2.0"}) {
    EXPECT_EQ(flagsOf(table(), v, "Shape"), ok) << v;
    EXPECT_EQ(flagsOf(table(), v, "Shape", "Label"), ok) << v;
    EXPECT_EQ(flagsOf(table(), v, "Shape", "Draw"), ok) << v;
    EXPECT_EQ(flagsOf(table(), v, "Circle", "Tags"), ok) << v;
    EXPECT_EQ(flagsOf(table(), v, "Circle", "Blob"), ok) << v;  // both types empty (code 11)
    EXPECT_EQ(flagsOf(table(), v, "Shape", "Area"), "FFTFTTT") << v;   // type differs
    EXPECT_EQ(flagsOf(table(), v, "Shape", "Count"), "FFFTTTT") << v;  // C here, I there
    EXPECT_EQ(flagsOf(table(), v, "Square"), "FFFFTFT") << v;          // parent changed
    EXPECT_EQ(flagsOf(table(), v, "Square", "Side"), "FFFFTFT") << v;
    EXPECT_EQ(flagsOf(table(), v, "Plain"), ok) << v;
  }
  EXPECT_EQ(flagsOf(table(), "1.0", "Circle", "OnlyBase"), "TFFFTTT");  // member only in base
  EXPECT_EQ(flagsOf(table(), "2.0", "Circle", "OnlyRef"), "TFFFTTT");   // member only in reference
  EXPECT_EQ(flagsOf(table(), "1.0", "Gone"), "TFFFTFF");                // class only in base
  EXPECT_EQ(flagsOf(table(), "1.0", "Gone", "X"), "TFFFTFF");
  EXPECT_EQ(flagsOf(table(), "2.0", "NewOne"), "TFFFTFF");              // class only in reference
  EXPECT_EQ(flagsOf(table(), "2.0", "NewOne", "Y"), "TFFFTFF");
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(Compared, StateAfterTheRun) {
  win->ResetToggles(true);
  responder.clear();
  win->ChosenFamily.clear();
  compare("1.0", "2.0");
  ASSERT_EQ(responder.records().size(), 1u);
  EXPECT_EQ(lastBox().caption, "Finished");
  EXPECT_EQ(lastBox().text, "We have finished comparing the two model structures!");
  EXPECT_EQ(win->oProgressBar->Position(), 0);
  EXPECT_EQ(win->oProgressBar->RangeHigh(), static_cast<int>(table().lastRec()));
  EXPECT_EQ(win->oProgressGroupBox->Caption(), "Progress of Comparing Models");
  EXPECT_FALSE(win->oResetToggles->Checked());
  EXPECT_TRUE(win->oPbCompareModels->IsEnabled());
  EXPECT_TRUE(win->oPbExecute->IsEnabled());  // even with no family picked
  expectUsable();
  EXPECT_EQ(table().orderCount(), 2);  // rebuilt
}

TEST_F(Compared, ResetFlagsClearsAThirdVersion) {
  load("Multi", "3.0");
  compare("1.0", "3.0");
  EXPECT_EQ(flagsOf(table(), "3.0", "A"), "TFFFTFF");
  compare("1.0", "2.0");  // without reset: the third version keeps its flags
  EXPECT_EQ(flagsOf(table(), "3.0", "A"), "TFFFTFF");
  win->oResetToggles->Checked(true);
  compare("1.0", "2.0");
  for (const char* cls : {"A", "B", "C"}) EXPECT_EQ(flagsOf(table(), "3.0", cls), "FTFFFTT") << cls;
  EXPECT_EQ(flagsOf(table(), "3.0", "C", "Weight"), "FTFFFTT");
  EXPECT_EQ(flagsOf(table(), "1.0", "Shape", "Area"), "FFTFTTT");
  EXPECT_FALSE(win->oResetToggles->Checked());
}

TEST_F(Compared, VersionTypedByHandIsComparedAtFieldWidth) {
  pickVersions("1.0", "2.0");
  win->BaseModel(rt::Value("1.0"));  // typed over the picked entry, without the stored blanks
  ASSERT_EQ(win->oBaseModel->CurrentText(), "1.0");
  win->oPbCompareModels->click();
  EXPECT_EQ(lastBox().caption, "Finished");
  EXPECT_EQ(flagsOf(table(), "1.0", "Shape", "Area"), "FFTFTTT");
}

TEST_F(Compared, VersionWithoutRowsIsReportedByNameAndNothingChanges) {
  pickVersions("1.0", "2.0");
  win->RefModel(rt::Value("9.9"));
  win->oResetToggles->Checked(true);
  win->oPbCompareModels->click();
  EXPECT_EQ(lastBox().caption, "Compare Above Models");
  EXPECT_NE(lastBox().text.find("\"9.9\""), std::string::npos) << lastBox().text;
  for (const auto& box : responder.records()) EXPECT_NE(box.text, "We have finished comparing the two model structures!");
  EXPECT_EQ(flagsOf(table(), "1.0", "Shape"), "FFFFFFF");
  expectUsable();
  EXPECT_TRUE(win->oPbCompareModels->IsEnabled());
}

// A compare that compared nothing did not reset either: "Reset Flags" keeps its tick for the
// run that will; one that compared clears it.
TEST_F(Compared, ResetFlagsStaysTickedWhenNothingWasCompared) {
  const struct {
    const char* typedReference;
    const char* caption;
    bool stillTicked;
  } cases[] = {{"1.0", "Compare Above Models", true}, {"9.9", "Compare Above Models", true}, {"2.0", "Finished", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typedReference);
    pickVersions("1.0", "2.0");
    win->RefModel(rt::Value(c.typedReference));
    win->oResetToggles->Checked(true);
    win->oPbCompareModels->click();
    EXPECT_EQ(lastBox().caption, c.caption);
    EXPECT_EQ(win->oResetToggles->Checked(), c.stillTicked);
  }
}

// ---------------------------------------------------------------- zap

TEST_F(Compared, ZapAnsweredNoChangesNothing) {
  const auto before = wftest::rowsInRecordOrder(table());
  model::Mpdms* server = win->ModelServer.get();
  responder.queueAnswer(gui::kIdNo);
  win->oPbZapDbf->click();
  EXPECT_EQ(lastBox().caption, "Zap DBF Database");
  EXPECT_EQ(lastBox().text, "Are you sure you want to empty the DBF (not the Zorbane) database of records?");
  EXPECT_EQ(lastBox().style, 0x24u);
  EXPECT_EQ(win->ModelServer.get(), server);
  EXPECT_EQ(wftest::rowsInRecordOrder(table()), before);
  EXPECT_EQ(win->oBaseModel->ItemCount(), 2);
}

TEST_F(Compared, ZapAnsweredYesEmptiesTableAndLists) {
  responder.queueAnswer(gui::kIdYes);
  win->oPbZapDbf->click();
  ASSERT_GE(responder.records().size(), 2u);
  EXPECT_EQ(lastBox().caption, "Zapped Success");
  EXPECT_EQ(lastBox().text, "Server was zapped!");
  EXPECT_EQ(table().lastRec(), 0u);
  EXPECT_EQ(win->oBaseModel->ItemCount(), 0);
  EXPECT_EQ(win->oRefModel->ItemCount(), 0);
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());
  EXPECT_TRUE(std::filesystem::exists(dir.indexFile()));
  EXPECT_EQ(table().orderCount(), 2);
  expectUsable();
}

TEST_F(Compared, ZapRefusedWhileAnotherProcessHoldsTheTable) {
  const auto before = wftest::rowsInRecordOrder(table());
  {
    TableHolder holder(dir.path());
    responder.queueAnswer(gui::kIdYes);
    win->oPbZapDbf->click();
  }
  EXPECT_EQ(lastBox().caption, "Zapped Failed");
  EXPECT_EQ(lastBox().text, "Unable to open server exclusively, server has not been zapped!");
  EXPECT_GE(errors.count(rt::EG_OPEN), 1);
  EXPECT_EQ(wftest::rowsInRecordOrder(table()), before);
  EXPECT_EQ(win->oBaseModel->ItemCount(), 2);
  expectUsable();
}

// ---------------------------------------------------------------- a break out of a long operation

TEST_F(Workflow, BreakOutOfALoadLeavesTheWindowUsableAndKeepsTheRows) {
  start();
  win->DbControl = std::make_shared<FailingProxy>(win->DbControl, "METHODS", std::make_shared<int>(3));
  errors.breakOnError = true;
  load("Base Fam", "1.0");
  ASSERT_EQ(errors.count(rt::EG_OLE), 1);
  expectUsable();
  EXPECT_EQ(table().lastRec(), 7u);  // Shape's six rows and Circle's class row
  EXPECT_EQ(wftest::rowsInRecordOrder(table()).back(), "1.0|Circle|Shape|||||Base Fam");
  for (const auto& box : responder.records()) EXPECT_NE(box.caption, "Finished");
}

TEST_F(Workflow, LoadNamesItsProcessBeforeCountingTheClasses) {
  start();
  win->DbControl = std::make_shared<FailingProxy>(win->DbControl, "COUNT", std::make_shared<int>(1));
  errors.breakOnError = true;
  load("Base Fam", "1.0");
  ASSERT_EQ(errors.count(rt::EG_OLE), 1);
  EXPECT_EQ(win->oProgressGroupBox->Caption(), "Progress of Reviewing Class Family");
  EXPECT_EQ(table().lastRec(), 0u);
  expectUsable();
}

TEST_F(Compared, BreakOutOfAComparisonLeavesTheWindowUsable) {
  pickVersions("1.0", "2.0");
  table().deleteOrder(1);
  table().deleteOrder(1);  // selecting order 1 now fails
  const auto before = wftest::rowsInRecordOrder(table());
  errors.breakOnError = true;
  win->oPbCompareModels->click();
  EXPECT_GE(errors.count(rt::EG_ARG), 1);
  expectUsable();
  EXPECT_TRUE(win->oPbCompareModels->IsEnabled());
  EXPECT_EQ(wftest::rowsInRecordOrder(table()), before);
}

TEST_F(Compared, BreakOutOfARefusedZapReopensTheTableShared) {
  const auto before = wftest::rowsInRecordOrder(table());
  {
    TableHolder holder(dir.path());
    errors.breakOnError = true;
    responder.queueAnswer(gui::kIdYes);
    win->oPbZapDbf->click();
  }
  errors.breakOnError = false;
  expectUsable();
  EXPECT_EQ(wftest::rowsInRecordOrder(table()), before);
}

// ---------------------------------------------------------------- exit

TEST_F(Workflow, ExitClosesTheTableAndEndsTheWindow) {
  start();
  win->oPbExit->click();
  EXPECT_FALSE(win->ModelServer->used());
  EXPECT_TRUE(win->ended());
}

// ---------------------------------------------------------------- keyboard

TEST_F(Workflow, EnterInTheVersionFieldReadsTheFamilyAndEnterPressesTheFocusedButton) {
  start();
  QWidget* version = win->oModelName->widget();
  // Without a family picked, Enter has nothing to read.
  QTest::keyClicks(version, "1.0");
  QTest::keyClick(version, Qt::Key_Return);
  EXPECT_TRUE(responder.records().empty());
  EXPECT_FALSE(win->oPbExecute->IsEnabled());
  // Picked first, typed and entered without leaving the field: the family is read.
  win->ModelName("");
  win->oClassFamilyName->pick(itemOf(win->oClassFamilyName, "Multi"));
  QTest::keyClicks(version, "1.0");
  QTest::keyClick(version, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(lastBox().caption, "Finished");
  EXPECT_EQ(table().lastRec(), 4u);
  expectUsable();
  // Enter on a button presses it, as Space does.
  QTest::keyClick(win->oPbExit->widget(), Qt::Key_Return);
  EXPECT_TRUE(win->ended());
}

}  // namespace
