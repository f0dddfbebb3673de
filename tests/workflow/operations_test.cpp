// The workflow's operations as every front end runs them: how each ends, what it leaves in the
// table, and when a compare announces that it has finished.
#include <gtest/gtest.h>

#include "rdd/env.h"
#include "workflow/operations.h"
#include "workflow_support.h"

namespace {

using model::Field;
using wftest::appendRow;
using wftest::flagsOf;
using Outcome = workflow::CompareOutcome;

// Records the order of the compare's last two steps, and whether the table had its orders at
// the announcement: they are deleted when the rows are compared, so only the rebuild can bring
// them back.
class StepLog : public workflow::CompareObserver {
 public:
  explicit StepLog(model::Mpdms& table) : table_(table) {}
  void rowsCompared() override {
    steps += "compared ";
    while (table_.orderCount() > 0) table_.deleteOrder(1);
  }
  void finished(const workflow::ComparedPair& pair) override {
    steps += "finished(" + workflow::trimmedText(pair.base) + "," + workflow::trimmedText(pair.reference) + ")";
    indexAtAnnouncement = table_.orderCount() == 2;
  }
  std::string steps;
  bool indexAtAnnouncement = false;

 private:
  model::Mpdms& table_;
};

// A working directory whose table holds versions 1.0 and 2.0 of one class, and a row of 3.0
// with a flag left over from an earlier compare; its writes can be made to fail.
struct Scene {
  Scene() {
    model::Mpdms::Args args;
    args.shared = true;
    args.options.env = &faults;
    table = std::make_unique<model::Mpdms>(args);
    EXPECT_TRUE(table->used());
    appendRow(*table, "1.0", "K", "");
    appendRow(*table, "1.0", "K", "", "P", "a", "Integer", "I");
    appendRow(*table, "2.0", "K", "");
    appendRow(*table, "2.0", "K", "", "P", "a", "Real", "I");
    appendRow(*table, "3.0", "Old", "");
    table->setFlag(Field::COMPARED, true);
    (void)workflow::buildIndexes(*table, true);
  }
  wftest::WorkDir dir{""};
  rdd::FaultEnv faults{rdd::defaultEnv()};
  std::unique_ptr<model::Mpdms> table;
};

TEST(Operations, CompareEndsAsItsInputsAllowAndResetsOnlyWhenItCompares) {
  wftest::ErrorRecorder errors;
  const struct {
    const char* base;
    const char* reference;
    bool failFirstWrite;
    Outcome outcome;
    const char* withoutRows;
    const char* steps;
    const char* oldRowFlags;  // of the third version's row: reset or as it was
  } cases[] = {
      {"1.0", "1.0      ", false, Outcome::SameVersion, "", "", "FFFFTFF"},
      {"1.0", "9.9", false, Outcome::NoRows, "9.9", "", "FFFFTFF"},
      {"1.0", "2.0", true, Outcome::Stopped, "", "", "FTFFFTT"},
      {"1.0", "2.0", false, Outcome::Done, "", "compared finished(1.0,2.0)", "FTFFFTT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " against " + c.reference);
    Scene scene;
    model::Mpdms& table = *scene.table;
    StepLog log(table);
    if (c.failFirstWrite) scene.faults.failWriteNumber(1);
    const workflow::CompareResult result = workflow::runCompare(table, c.base, c.reference, true, log);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(workflow::trimmedText(result.versionWithoutRows), c.withoutRows);
    EXPECT_EQ(log.steps, c.steps);
    EXPECT_EQ(log.indexAtAnnouncement, c.outcome == Outcome::Done);
    if (c.outcome == Outcome::Stopped) continue;  // the table takes no more writes nor reads
    EXPECT_EQ(flagsOf(table, "3.0", "Old"), c.oldRowFlags);
    if (c.outcome == Outcome::Done) {
      EXPECT_EQ(flagsOf(table, "1.0", "K", "a"), "FFTFTTT");
    }
  }
}

TEST(Operations, NoRowsRebuildsTheIndexAllTheSame) {
  wftest::ErrorRecorder errors;
  Scene scene;
  model::Mpdms& table = *scene.table;
  while (table.orderCount() > 0) table.deleteOrder(1);  // no order: no version is found
  workflow::CompareObserver quiet;
  EXPECT_EQ(workflow::runCompare(table, "1.0", "2.0", false, quiet).outcome, Outcome::NoRows);
  EXPECT_EQ(table.orderCount(), 2);
  EXPECT_EQ(workflow::runCompare(table, "1.0", "2.0", false, quiet).outcome, Outcome::Done);
}

TEST(Operations, ZapEmptiesTheTableOnlyWhenNoOtherOpenHoldsIt) {
  wftest::ErrorRecorder errors;
  Scene scene;
  std::shared_ptr<model::Mpdms> server = std::move(scene.table);
  {
    model::Mpdms::Args args;
    args.shared = true;
    model::Mpdms other(args);  // a second open of the file, as another process would hold it
    EXPECT_EQ(workflow::runZap(server), workflow::ZapOutcome::HeldElsewhere);
    EXPECT_TRUE(server->used());
    EXPECT_EQ(server->lastRec(), 5u);
  }
  errors.errors.clear();
  EXPECT_EQ(workflow::runZap(server), workflow::ZapOutcome::Zapped);
  ASSERT_TRUE(server->used());
  EXPECT_EQ(server->lSharedMode(), std::optional<bool>(true));
  EXPECT_EQ(server->lastRec(), 0u);
  EXPECT_EQ(server->orderCount(), 2);
  EXPECT_TRUE(errors.errors.empty());

  server->close();
  std::filesystem::remove(scene.dir.path() / model::kTableName);
  EXPECT_EQ(workflow::runZap(server), workflow::ZapOutcome::NotOpened);
  EXPECT_FALSE(server->used());
  EXPECT_FALSE(std::filesystem::exists(scene.dir.path() / model::kTableName));
}

}  // namespace
