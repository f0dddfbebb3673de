// The differences of a pair: verdicts, changes, counterpart types, counts, order, and the filters
// over them, on tables built by hand and compared by the real unit.
#include <gtest/gtest.h>

#include "workflow/differences.h"
#include "workflow/workflow.h"
#include "workflow_support.h"

namespace {

using workflow::Change;
using workflow::Verdict;
using model::Field;
using wftest::appendRow;

class QuietCompare : public workflow::CompareObserver {};

std::string v15(const std::string& version) { return workflow::fullWidthVersion(version); }

// One state of each verdict between 1.0 and 2.0, and a third version left alone.
class DifferencesOfACompare : public ::testing::Test {
 protected:
  void SetUp() override {
    model::Mpdms::Args args;
    args.shared = true;
    table = std::make_unique<model::Mpdms>(args);
    ASSERT_TRUE(table->used());
    appendRow(*table, "1.0", "Shape", "");
    appendRow(*table, "1.0", "Shape", "", "P", "Area", "Real", "I");
    appendRow(*table, "1.0", "Shape", "", "P", "Count", "Integer", "C");
    appendRow(*table, "1.0", "Circle", "Shape");
    appendRow(*table, "1.0", "Circle", "Shape", "P", "Radius", "Real", "I");
    appendRow(*table, "1.0", "Circle", "Shape", "M", "OnlyBase", "Boolean", "I");
    appendRow(*table, "1.0", "Square", "Shape");
    appendRow(*table, "1.0", "Gone", "Shape");
    appendRow(*table, "1.0", "Gone", "Shape", "P", "X", "Integer", "I");
    appendRow(*table, "2.0", "Shape", "");
    appendRow(*table, "2.0", "Shape", "", "P", "Area", "Decimal", "I");
    appendRow(*table, "2.0", "Shape", "", "P", "Count", "Integer", "I");
    appendRow(*table, "2.0", "Circle", "Shape");
    appendRow(*table, "2.0", "Circle", "Shape", "P", "Radius", "Real", "I");
    appendRow(*table, "2.0", "Circle", "Shape", "M", "OnlyRef", "Boolean", "I");
    appendRow(*table, "2.0", "Square", "Circle");
    appendRow(*table, "2.0", "NewOne", "Shape");
    appendRow(*table, "3.0", "Other", "");
    table->fieldPut("FAMILYNAME", rt::Value("Third"));
    for (std::uint32_t r = 1; r <= 17; ++r) {
      table->goTo(r);
      table->fieldPut("FAMILYNAME", rt::Value(r <= 9 ? "Shapes" : "Shapes Two"));
    }
    (void)workflow::buildIndexes(*table, true);
  }
  workflow::Differences compare(const std::string& base = "1.0", const std::string& ref = "2.0") {
    QuietCompare quiet;
    (void)workflow::compareVersions(*table, v15(base), v15(ref), quiet);
    return workflow::readDifferences(*table, v15(base), v15(ref));
  }
  static std::string line(const workflow::DifferenceRow& row) {
    std::string verdicts;
    for (const std::string& v : row.verdictTexts()) verdicts += (verdicts.empty() ? "" : ",") + v;
    return row.version + " " + std::string(workflow::changeText(row.change)) + " " + row.className + "." + row.member +
           " [" + row.kind + "/" + row.level + "/" + row.type + (row.counterpartType.empty() ? "" : "->") +
           row.counterpartType + "] " + verdicts;
  }
  static std::vector<std::string> lines(const workflow::Differences& d) {
    std::vector<std::string> out;
    for (const auto& row : d.rows) out.push_back(line(row));
    return out;
  }

  wftest::WorkDir dir{""};
  wftest::ErrorRecorder errors;
  std::unique_ptr<model::Mpdms> table;
};

TEST_F(DifferencesOfACompare, EveryDifferingRowOfBothVersionsWithItsVerdictsInClassOrder) {
  const workflow::Differences d = compare();
  EXPECT_EQ(lines(d), (std::vector<std::string>{
                          "1.0 removed Circle.OnlyBase [Method/Instance/Boolean] member missing",
                          "1.0 removed Gone. [Class//] class missing",
                          "1.0 removed Gone.X [Property/Instance/Integer] class missing",
                          "1.0 changed Shape.Count [Property/Class/Integer] level differs",
                          "1.0 changed Shape.Area [Property/Instance/Real->Decimal] type differs",
                          "1.0 changed Square. [Class//] parent differs",
                          "2.0 added Circle.OnlyRef [Method/Instance/Boolean] member missing",
                          "2.0 added NewOne. [Class//] class missing",
                          "2.0 changed Shape.Area [Property/Instance/Decimal->Real] type differs",
                          "2.0 changed Shape.Count [Property/Instance/Integer] level differs",
                          "2.0 changed Square. [Class//] parent differs",
                      }));
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(DifferencesOfACompare, SummaryCountsEachVerdictAndChangeOverTheTwoVersionsOnly) {
  const workflow::Differences d = compare();
  EXPECT_EQ(d.base, "1.0");
  EXPECT_EQ(d.reference, "2.0");
  EXPECT_EQ(d.baseFamily, "Shapes");
  EXPECT_EQ(d.referenceFamily, "Shapes Two");
  EXPECT_EQ(d.summary.compared, 17);  // the third version's row has no verdict
  EXPECT_EQ(d.summary.same, 6);
  EXPECT_EQ(d.summary.differing, 11);
  EXPECT_EQ(d.summary.added, 2);
  EXPECT_EQ(d.summary.removed, 3);
  EXPECT_EQ(d.summary.changed, 6);
  EXPECT_EQ(d.summary.count(Verdict::ClassMissing), 3);
  EXPECT_EQ(d.summary.count(Verdict::MemberMissing), 2);
  EXPECT_EQ(d.summary.count(Verdict::ParentDiffers), 2);
  EXPECT_EQ(d.summary.count(Verdict::TypeDiffers), 2);
  EXPECT_EQ(d.summary.count(Verdict::LevelDiffers), 2);
}

TEST_F(DifferencesOfACompare, TypeAndLevelFlagsLeftByAnEarlierRunDoNotMarkARowWithoutCounterpart) {
  // Without "Reset Flags" a row that finds no counterpart keeps TYPEPROBLM and LEVELPROB from
  // before; they describe another comparison.
  (void)compare();
  for (std::uint32_t r = 1; r <= table->lastRec(); ++r) {
    table->goTo(r);
    if (table->str(Field::ATTRIBUTE).starts_with("OnlyBase")) {
      table->setFlag(Field::TYPEPROBLM, true);
      table->setFlag(Field::LEVELPROB, true);
    }
  }
  const workflow::Differences d = compare();
  ASSERT_FALSE(d.rows.empty());
  EXPECT_EQ(line(d.rows.front()), "1.0 removed Circle.OnlyBase [Method/Instance/Boolean] member missing");
  EXPECT_EQ(d.summary.count(Verdict::TypeDiffers), 2);
}

// The differences of a pair are its own, whatever compares wrote the flags: none, the pair
// itself, or others that share one of its versions.
TEST_F(DifferencesOfACompare, APairShowsItsOwnVerdictsWhateverCompareWroteTheFlags) {
  const std::vector<std::string> own = lines(workflow::readDifferences(*table, v15("1.0"), v15("2.0")));
  EXPECT_EQ(own.size(), 11u);
  EXPECT_EQ(lines(compare("1.0", "2.0")), own);
  (void)compare("3.0", "2.0");
  (void)compare("1.0", "3.0");
  EXPECT_EQ(lines(workflow::readDifferences(*table, v15("1.0"), v15("2.0"))), own);
  const workflow::Differences none = workflow::readDifferences(*table, v15("9.9"), v15("8.8"));
  EXPECT_TRUE(none.rows.empty());
  EXPECT_EQ(none.baseFamily, "");
}

TEST_F(DifferencesOfACompare, IdenticalVersionsHaveNoDifferences) {
  appendRow(*table, "4.0", "Other", "");
  (void)workflow::buildIndexes(*table, true);
  const workflow::Differences d = compare("3.0", "4.0");
  EXPECT_TRUE(d.rows.empty());
  EXPECT_EQ(d.summary.compared, 2);
  EXPECT_EQ(d.summary.same, 2);
}

// ---------------------------------------------------------------- filters

TEST_F(DifferencesOfACompare, FiltersNarrowByVerdictKindClassAndTextAndRecount) {
  const workflow::Differences all = compare();
  workflow::DifferenceFilter filter;
  filter.verdicts = {Verdict::TypeDiffers, Verdict::ClassMissing};
  workflow::Differences some = filter.apply(all);
  EXPECT_EQ(some.rows.size(), 5u);
  EXPECT_EQ(some.summary.differing, 5);
  EXPECT_EQ(some.summary.count(Verdict::LevelDiffers), 0);
  EXPECT_EQ(some.summary.compared, all.summary.compared);

  filter = {};
  filter.kinds = {"Class"};
  EXPECT_EQ(filter.apply(all).rows.size(), 4u);

  filter = {};
  filter.classPattern = "s*e";  // Shape and Square, not Circle
  EXPECT_EQ(filter.apply(all).rows.size(), 6u);
  filter.classPattern = "QUAR";  // no wildcard: contained, any case
  EXPECT_EQ(filter.apply(all).rows.size(), 2u);

  filter = {};
  filter.text = "decimal";  // the counterpart's type counts too
  EXPECT_EQ(lines(filter.apply(all)),
            (std::vector<std::string>{"1.0 changed Shape.Area [Property/Instance/Real->Decimal] type differs",
                                      "2.0 changed Shape.Area [Property/Instance/Decimal->Real] type differs"}));
  filter.text = "ADDED";
  EXPECT_EQ(filter.apply(all).rows.size(), 2u);
  filter.text = "nothing like it";
  EXPECT_TRUE(filter.apply(all).rows.empty());
}

TEST(Wildcards, StarsAndQuestionMarksMatchWithoutRegardToCase) {
  EXPECT_TRUE(workflow::wildcardMatch("*", ""));
  EXPECT_TRUE(workflow::wildcardMatch("Book*", "BookCopy"));
  EXPECT_TRUE(workflow::wildcardMatch("b?ok", "BOOK"));
  EXPECT_TRUE(workflow::wildcardMatch("*o*y", "BookCopy"));
  EXPECT_TRUE(workflow::wildcardMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(workflow::wildcardMatch("a*b*c", "aXbYbZ"));
  EXPECT_FALSE(workflow::wildcardMatch("Book", "BookCopy"));
  EXPECT_FALSE(workflow::wildcardMatch("?", ""));
}

}  // namespace
