// The workflow's screen-free units on tables built by hand: type texts and version widths,
// the comparison's bookkeeping beyond the edge cases the window tests cover, the version list
// and the index build.
#include <gtest/gtest.h>

#include "workflow/workflow.h"
#include "workflow_support.h"

namespace {

using model::Field;
using wftest::appendRow;
using wftest::flagsOf;

class SilentCompare : public workflow::CompareObserver {
 public:
  void started(std::uint32_t records) override { this->records = records; }
  void rowPassed() override { ++passed; }
  std::uint32_t records = 0;
  long passed = 0;
};

class Units : public ::testing::Test {
 protected:
  void SetUp() override {
    model::Mpdms::Args args;
    args.shared = true;
    table = std::make_unique<model::Mpdms>(args);
    ASSERT_TRUE(table->used());
  }
  void indexAndCompare(const std::string& base, const std::string& ref) {
    (void)workflow::buildIndexes(*table, true);
    (void)workflow::compareVersions(*table, workflow::fullWidthVersion(base), workflow::fullWidthVersion(ref),
                                    observer);
  }
  wftest::WorkDir dir{""};
  wftest::ErrorRecorder errors;
  std::unique_ptr<model::Mpdms> table;
  SilentCompare observer;
};

// ---------------------------------------------------------------- type texts and versions

TEST(TypeTexts, EveryCodeHasItsTextAndOthersAreEmpty) {
  const char* texts[] = {"Void", "Boolean", "Integer", "Decimal", "Real", "String", "ByteSequence",
                         "Reference to Object", "Value Collection (Set)", "Multimedia", "Date"};
  for (int code = 0; code <= 10; ++code) EXPECT_EQ(workflow::ZorbaneType2String(code), texts[code]);
  EXPECT_EQ(workflow::ZorbaneType2String(11), "");
  EXPECT_EQ(workflow::ZorbaneType2String(-1), "");
}

TEST(TypeTexts, OnlyWholeNumbersAreCodes) {
  EXPECT_EQ(workflow::typeText(rt::Value(8)), "Value Collection (Set)");
  EXPECT_EQ(workflow::typeText(rt::Value(5.0)), "String");
  EXPECT_EQ(workflow::typeText(rt::Value(5.5)), "");
  EXPECT_EQ(workflow::typeText(rt::Value()), "");  // nil is not Void
  EXPECT_EQ(workflow::typeText(rt::Value("5")), "");
  EXPECT_EQ(workflow::typeText(rt::Value(1LL << 40)), "");
}

TEST(TypeTexts, VersionsArePaddedAndCutToTheFieldWidth) {
  EXPECT_EQ(workflow::fullWidthVersion("1.0"), "1.0            ");
  EXPECT_EQ(workflow::fullWidthVersion(""), std::string(15, ' '));
  EXPECT_EQ(workflow::fullWidthVersion("123456789012345678"), "123456789012345");
}

// ---------------------------------------------------------------- comparison bookkeeping

TEST_F(Units, RecordNumbersPast65535AreNotWrapped) {
  // Fillers take records 1..65535, so the compared rows sit at 65536 and beyond, where a 16-bit
  // record number would wrap onto the first fillers.
  for (int i = 0; i < 65535; ++i) appendRow(*table, "FILL", "F" + std::to_string(i % 7), "");
  appendRow(*table, "B", "X", "");
  appendRow(*table, "B", "X", "", "P", "m", "Integer", "I");
  appendRow(*table, "R", "X", "");
  appendRow(*table, "R", "X", "", "P", "m", "Real", "I");
  ASSERT_EQ(table->lastRec(), 65539u);
  indexAndCompare("B", "R");
  EXPECT_EQ(flagsOf(*table, "B", "X", "m"), "FFTFTTT");
  EXPECT_EQ(flagsOf(*table, "R", "X", "m"), "FFTFTTT");
  EXPECT_EQ(flagsOf(*table, "B", "X"), "FTFFTTT");
  for (std::uint32_t r : {1u, 2u, 3u, 4u}) {
    table->goTo(r);
    EXPECT_FALSE(table->flag(Field::COMPARED)) << r;
    EXPECT_FALSE(table->flag(Field::TYPEPROBLM)) << r;
  }
  EXPECT_EQ(observer.records, 65539u);
  EXPECT_EQ(observer.passed, 4);
}

TEST_F(Units, ReferenceRowMatchedTwiceKeepsTheLastVerdict) {
  appendRow(*table, "B", "K", "");
  appendRow(*table, "B", "K", "", "P", "v", "Integer", "I");
  appendRow(*table, "B", "K", "", "P", "v", "Real", "I");  // same member again, other type
  appendRow(*table, "R", "K", "");
  appendRow(*table, "R", "K", "", "P", "v", "Real", "I");
  indexAndCompare("B", "R");
  // Index order puts the "Integer" row first; the "Real" row's match comes last.
  EXPECT_EQ(flagsOf(*table, "R", "K", "v"), "FTFFTTT");
}

TEST_F(Units, RowsComparedEarlierStayOutOfPassTwoWithoutReset) {
  appendRow(*table, "B", "K", "");
  appendRow(*table, "R", "K", "");
  appendRow(*table, "R", "K", "", "M", "extra", "Void", "I");
  indexAndCompare("B", "R");
  EXPECT_EQ(flagsOf(*table, "R", "K", "extra"), "TFFFTTT");
  // Mark the row as compared and clean: a second run without reset leaves it alone.
  for (std::uint32_t r = 1; r <= table->lastRec(); ++r) {
    table->goTo(r);
    if (table->str(Field::ATTRIBUTE).starts_with("extra")) table->setFlag(Field::NO_MATCH, false);
  }
  SilentCompare second;
  (void)workflow::compareVersions(*table, workflow::fullWidthVersion("B"), workflow::fullWidthVersion("R"), second);
  EXPECT_EQ(flagsOf(*table, "R", "K", "extra"), "FFFFTTT");
}

TEST_F(Units, MissingVersionHasNoRowsAndPassesNothing) {
  appendRow(*table, "B", "K", "");
  (void)workflow::buildIndexes(*table, true);
  EXPECT_TRUE(workflow::versionHasRows(*table, workflow::fullWidthVersion("B")));
  EXPECT_FALSE(workflow::versionHasRows(*table, "B"));  // not at full width
  EXPECT_FALSE(workflow::versionHasRows(*table, workflow::fullWidthVersion("Z")));
  const auto counts =
      workflow::compareVersions(*table, workflow::fullWidthVersion("Z"), workflow::fullWidthVersion("B"), observer);
  EXPECT_EQ(counts.baseRows, 0);
  EXPECT_EQ(counts.referenceRows, 1);
  EXPECT_EQ(flagsOf(*table, "B", "K"), "TFFFTFF");  // its class is missing from "Z"
}

TEST_F(Units, ClearingResetsEveryRowOfEveryVersion) {
  appendRow(*table, "B", "K", "");
  appendRow(*table, "C", "K", "");
  for (std::uint32_t r = 1; r <= 2; ++r) {
    table->goTo(r);
    table->setFlag(Field::NO_MATCH, true);
    table->setFlag(Field::TYPEPROBLM, true);
    table->setFlag(Field::COMPARED, true);
  }
  workflow::clearComparisons(*table);
  EXPECT_EQ(flagsOf(*table, "B", "K"), "FTFFFTT");
  EXPECT_EQ(flagsOf(*table, "C", "K"), "FTFFFTT");
}

// ---------------------------------------------------------------- version list

TEST_F(Units, InterleavedVersionsAreListedOnceInFirstMetOrder) {
  appendRow(*table, "2.0", "K", "");
  appendRow(*table, "1.0", "K", "");
  appendRow(*table, "2.0", "L", "");
  appendRow(*table, "1.0", "L", "");
  appendRow(*table, "single", "L", "");
  table->setOrder(0);
  const auto versions = workflow::storedVersions(*table);
  ASSERT_EQ(versions.size(), 3u);
  EXPECT_EQ(versions[0], std::make_pair(workflow::fullWidthVersion("2.0"), 1L));
  EXPECT_EQ(versions[1], std::make_pair(workflow::fullWidthVersion("1.0"), 2L));
  EXPECT_EQ(versions[2], std::make_pair(workflow::fullWidthVersion("single"), 3L));
  (void)workflow::buildIndexes(*table, true);
  table->setOrder(1);
  EXPECT_EQ(workflow::storedVersions(*table)[0].first, workflow::fullWidthVersion("1.0"));
}

// Through an order keyed by version first, versions come in key order, one look-up each: versions
// that begin alike and characters above ASCII are told apart, and the table ends at its end.
TEST_F(Units, VersionsThroughTheVersionOrderAreListedOnceInKeyOrder) {
  for (const char* cls : {"K", "L", "M"})
    for (const char* version : {"2.0", "\u00e4pfel", "1.0.1", "10", "1.0"}) appendRow(*table, version, cls, "");
  (void)workflow::buildIndexes(*table, true);
  table->setOrder(1);
  std::vector<std::string> listed;
  for (const auto& [version, number] : workflow::storedVersions(*table)) {
    EXPECT_EQ(number, static_cast<long>(listed.size()) + 1);
    listed.push_back(version);
  }
  std::vector<std::string> expected;
  for (const char* version : {"1.0", "1.0.1", "10", "2.0", "\u00e4pfel"})
    expected.push_back(workflow::fullWidthVersion(version));
  EXPECT_EQ(listed, expected);
  EXPECT_TRUE(table->eof());
}

TEST_F(Units, EmptyTableListsNoVersion) { EXPECT_TRUE(workflow::storedVersions(*table).empty()); }

// ---------------------------------------------------------------- index build

TEST_F(Units, MissingIndexFileIsBuiltWithBothOrdersInSequence) {
  ASSERT_FALSE(std::filesystem::exists(dir.indexFile()));
  const auto built = workflow::buildIndexes(*table, false);
  EXPECT_TRUE(built.rebuilt);
  EXPECT_EQ(built.ordersDeleted, 0);
  EXPECT_EQ(built.ordersCreated, 2);
  EXPECT_TRUE(std::filesystem::exists(dir.indexFile()));
  ASSERT_EQ(table->orderCount(), 2);
  EXPECT_EQ(rt::toUpper(table->orderName(1)), "MPDMS1");
  EXPECT_EQ(rt::toUpper(table->orderName(2)), "MPDMS2");
  EXPECT_EQ(table->orderKey(1), "MODELVERS+CLASSNAME+PARENTNAME+PROP_METHO+ATTRIBUTE+INS_CLASS");
  EXPECT_EQ(table->orderKey(2), "MODELVERS+CLASSNAME+PROP_METHO+ATTRIBUTE+INS_CLASS");
}

TEST_F(Units, ExistingIndexFileIsLeftAloneUnlessForced) {
  (void)workflow::buildIndexes(*table, false);
  const auto again = workflow::buildIndexes(*table, false);
  EXPECT_FALSE(again.rebuilt);
  EXPECT_EQ(table->orderCount(), 2);
  const auto forced = workflow::buildIndexes(*table, true);
  EXPECT_TRUE(forced.rebuilt);
  EXPECT_EQ(forced.ordersDeleted, 2);
  EXPECT_EQ(forced.ordersCreated, 2);
  EXPECT_EQ(table->orderCount(), 2);
  EXPECT_EQ(rt::toUpper(table->orderName(1)), "MPDMS1");
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(Units, RebuiltIndexFindsRowsWrittenBeforeIt) {
  appendRow(*table, "1.0", "Kettle", "Pot");
  (void)workflow::buildIndexes(*table, false);
  table->setOrder(1);
  EXPECT_TRUE(table->seek(workflow::fullWidthVersion("1.0") + "Kettle" + std::string(44, ' ') + "Pot"));
  table->setOrder(2);
  EXPECT_TRUE(table->seek(workflow::fullWidthVersion("1.0") + "Kettle"));
}

TEST_F(Units, ClosedTableBuildsNothing) {
  table->close();
  EXPECT_FALSE(workflow::buildIndexes(*table, true).rebuilt);
  EXPECT_TRUE(workflow::storedVersions(*table).empty());
}

}  // namespace
