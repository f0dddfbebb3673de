// The change list on generated histories: two versions of a small schema each, one kind of change
// between them, and the entries and rename suggestions that the pair must give.
#include <gtest/gtest.h>

#include <map>
#include <fstream>
#include <set>
#include <stdexcept>

#include "workflow/changes.h"
#include "workflow/differences.h"
#include "workflow/history.h"
#include "workflow/ignore_rules.h"
#include "workflow/workflow.h"
#include "workflow_support.h"

namespace {

// A version as rows: "Class<Parent" is a class row, "Class.K.L.Name:Type" a member of kind K
// (P or M) and level L (C or I); a member row carries its class's parent.
using Rows = std::vector<std::string>;

void store(model::Mpdms& table, const std::string& version, const Rows& rows) {
  std::map<std::string, std::string> parents;
  for (const std::string& row : rows)
    if (const auto lt = row.find('<'); lt != std::string::npos) parents[row.substr(0, lt)] = row.substr(lt + 1);
  for (const std::string& row : rows) {
    if (const auto lt = row.find('<'); lt != std::string::npos) {
      wftest::appendRow(table, version, row.substr(0, lt), row.substr(lt + 1));
      continue;
    }
    const std::string className = row.substr(0, row.find('.'));
    const std::string kind = row.substr(className.size() + 1, 1), level = row.substr(className.size() + 3, 1);
    const std::string rest = row.substr(className.size() + 5);
    const std::string name = rest.substr(0, rest.find(':')), type = rest.substr(rest.find(':') + 1);
    wftest::appendRow(table, version, className, parents[className], kind, name, type, level);
  }
}

struct History {
  const char* name;
  Rows base, reference;
  std::vector<std::string> changes, suggestions;
};

const History kHistories[] = {
    {"a member pulled up stays reachable",
     {"Item<", "Book<Item", "Book.P.I.Isbn:String"},
     {"Item<", "Item.P.I.Isbn:String", "Book<Item"},
     {"Book.Isbn  pulled up  Book -> Item  [review]"},
     {}},
    {"a member pushed down leaves its class",
     {"Item<", "Item.P.I.Isbn:String", "Book<Item"},
     {"Item<", "Book<Item", "Book.P.I.Isbn:String"},
     {"Item.Isbn  pushed down  Item -> Book  [breaking]"},
     {}},
    {"a member moved to an unrelated class",
     {"A<", "A.M.I.Run:Void", "B<"},
     {"A<", "B<", "B.M.I.Run:Void"},
     {"A.Run  moved  A -> B  [breaking]"},
     {}},
    {"two classes gaining the member is no move",
     {"A<", "A.P.I.x:Integer", "B<", "C<"},
     {"A<", "B<", "B.P.I.x:Integer", "C<", "C.P.I.x:Integer"},
     {"A.x  member removed  Integer  [breaking]", "B.x  member added  Integer  [additive]",
      "C.x  member added  Integer  [additive]"},
     {}},
    {"a member renamed",
     {"Book<", "Book.P.I.Pages:Integer", "Book.P.I.Title:String"},
     {"Book<", "Book.P.I.PageCnt:Integer", "Book.P.I.Title:String"},
     {"Book.PageCnt  member added  Integer  [additive]", "Book.Pages  member removed  Integer  [breaking]"},
     {"Book.Pages  member renamed to PageCnt?  similarity 0.57  [breaking]"}},
    {"a rename with two equal candidates is not suggested",
     {"Book<", "Book.P.I.Name1:String"},
     {"Book<", "Book.P.I.Name2:String", "Book.P.I.Name3:String"},
     {"Book.Name1  member removed  String  [breaking]", "Book.Name2  member added  String  [additive]",
      "Book.Name3  member added  String  [additive]"},
     {}},
    {"a rename needs the same type",
     {"Book<", "Book.P.I.Pages:Integer"},
     {"Book<", "Book.P.I.Pagez:String"},
     {"Book.Pages  member removed  Integer  [breaking]", "Book.Pagez  member added  String  [additive]"},
     {}},
    {"a class renamed",
     {"Item<", "Film<Item", "Film.P.I.Reel:Integer", "Film.M.I.Rewind:Void", "Film.P.I.Length:Integer"},
     {"Item<", "Movie<Item", "Movie.P.I.Reel:Integer", "Movie.M.I.Rewind:Void", "Movie.P.I.Length:Integer",
      "Movie.P.I.Rating:Real"},
     {"Film  class removed  [breaking]", "Movie  class added  [additive]"},
     {"Film  class renamed to Movie?  similarity 0.75  [breaking]"}},
    {"a type and a level change of one member are one entry",
     {"Item<", "Item.P.C.Count:Integer", "Item.P.I.Id:Integer", "Item.M.C.Size:Integer"},
     {"Item<", "Item.P.I.Count:Decimal", "Item.P.I.Id:Decimal", "Item.M.I.Size:Integer"},
     {"Item.Count  type and level changed  Integer, Class -> Decimal, Instance  [breaking]",
      "Item.Id  type changed  Integer -> Decimal  [breaking]", "Item.Size  level changed  Class -> Instance  [breaking]"},
     {}},
    {"a new superclass between keeps what was inherited",
     {"Item<", "Item.P.I.Title:String", "Mag<Item", "Mag.P.I.Issue:Integer"},
     {"Item<", "Item.P.I.Title:String", "Per<Item", "Mag<Per", "Mag.P.I.Issue:Integer"},
     {"Mag  superclass changed  Item -> Per  [review]", "Per  class added  [additive]"},
     {}},
    {"another superclass that loses an inherited member",
     {"A<", "A.P.I.x:Integer", "B<", "C<A"},
     {"A<", "A.P.I.x:Integer", "B<", "C<B"},
     {"C  superclass changed  A -> B  [breaking]"},
     {}},
};

// A working folder whose table holds a history's two versions as "1" and "2".
struct StoredPair : wftest::ScratchTable {
  explicit StoredPair(const History& history) {
    store(table, "1", history.base);
    store(table, "2", history.reference);
  }
  workflow::PairVerdicts verdicts() {
    return workflow::computePairVerdicts(table, workflow::fullWidthVersion("1"), workflow::fullWidthVersion("2"));
  }
};

TEST(ChangeList, EachGeneratedHistoryGivesItsEntriesAndSuggestions) {
  for (const History& history : kHistories) {
    SCOPED_TRACE(history.name);
    StoredPair pair(history);
    ASSERT_TRUE(pair.table.used());
    (void)workflow::buildIndexes(pair.table, true);
    const workflow::ChangeList list = workflow::changeListOf(pair.verdicts());
    std::vector<std::string> changes, suggestions;
    for (const workflow::ChangeEntry& e : list.changes) changes.push_back(workflow::changeLine(e));
    for (const workflow::RenameSuggestion& s : list.suggestions) suggestions.push_back(workflow::suggestionLine(s));
    EXPECT_EQ(changes, history.changes);
    EXPECT_EQ(suggestions, history.suggestions);
    EXPECT_EQ(list.counts.total, static_cast<long>(history.changes.size()));
    EXPECT_TRUE(pair.errors.errors.empty());
  }
}

}  // namespace

// ---------------------------------------------------------------- ignore rules and history

namespace {

workflow::ChangeList listWithRules(const History& history, const std::string& ruleText) {
  StoredPair pair(history);
  const workflow::IgnoreRules rules = workflow::parseIgnoreRules(ruleText, "rules");
  workflow::ChangeList list = workflow::differencesOf(pair.verdicts(), &rules).changes;
  EXPECT_TRUE(pair.errors.errors.empty());
  return list;
}

std::vector<std::string> linesOf(const std::vector<workflow::ChangeEntry>& changes) {
  std::vector<std::string> out;
  for (const workflow::ChangeEntry& e : changes) out.push_back(workflow::changeLine(e));
  return out;
}

const History& historyNamed(std::string_view name) {
  for (const History& h : kHistories)
    if (h.name == name) return h;
  throw std::logic_error("no such history");
}

}  // namespace

TEST(IgnoreRules, EachFormHidesWhatItNamesAndNothingElse) {
  const History& typeAndLevel = historyNamed("a type and a level change of one member are one entry");
  const History& renamed = historyNamed("a member renamed");
  const History& classRenamed = historyNamed("a class renamed");
  struct Case {
    const char* rules;
    const History& history;
    std::vector<std::string> shown;
    std::size_t hidden;
  } cases[] = {
      {"It?m.Co*", typeAndLevel, {"Item.Id  type changed  Integer -> Decimal  [breaking]", "Item.Size  level changed  Class -> Instance  [breaking]"}, 1},
      {"Item kind=method", typeAndLevel, {"Item.Count  type and level changed  Integer, Class -> Decimal, Instance  [breaking]", "Item.Id  type changed  Integer -> Decimal  [breaking]"}, 1},
      {"* change=type-changed level=instance", typeAndLevel, {"Item.Count  type and level changed  Integer, Class -> Decimal, Instance  [breaking]", "Item.Size  level changed  Class -> Instance  [breaking]"}, 1},
      {"Book severity=additive", renamed, {"Book.Pages  member removed  Integer  [breaking]"}, 1},
      {"rename Book.Pages Book.PageCnt", renamed, {"Book.PageCnt  renamed  Pages -> PageCnt  [breaking]"}, 0},
      {"rename Film Movie", classRenamed, {"Movie  renamed  Film -> Movie  [breaking]", "Movie.Rating  member added  Real  [additive]"}, 0},
      {"rename Film Movie\nMovie", classRenamed, {}, 2},
      {"Book.* sevrity=additive\nrename Book.Pages", renamed, {"Book.PageCnt  member added  Integer  [additive]", "Book.Pages  member removed  Integer  [breaking]"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules);
    const workflow::ChangeList list = listWithRules(c.history, c.rules);
    EXPECT_EQ(linesOf(list.changes), c.shown);
    EXPECT_EQ(list.hidden.size(), c.hidden);
    EXPECT_EQ(list.counts.total, static_cast<long>(c.shown.size()));
    // An accepted rename is a change, never also a suggestion.
    if (std::string_view(c.rules).starts_with("rename")) {
      EXPECT_TRUE(list.suggestions.empty());
    }
  }
}

TEST(IgnoreRules, MalformedLinesAreRefusedWithTheirNumberAndTheRestApply) {
  const workflow::IgnoreRules rules = workflow::parseIgnoreRules(
      "# comment\n\nBook.Pages   # trailing comment\nkind=method\nBook severity=fatal\nrename A.x B.y\n"
      "rename Film\nBook.\nrename Film Movie\nItem change=moved change=renamed\n* level=class\n",
      "zorbane-compare.ignore");
  std::vector<int> refused;
  for (const workflow::RuleProblem& p : rules.problems) refused.push_back(p.line);
  EXPECT_EQ(refused, (std::vector<int>{4, 5, 6, 7, 8, 10}));
  ASSERT_EQ(rules.rules.size(), 2u);
  EXPECT_EQ(rules.rules[0].text, "Book.Pages");
  EXPECT_EQ(rules.rules[1].line, 11);
  ASSERT_EQ(rules.renames.size(), 1u);
  EXPECT_EQ(workflow::problemText(rules, rules.problems[1]),
            "zorbane-compare.ignore line 5: unknown severity 'fatal' (breaking, review, additive); the line is not applied");
}

TEST(History, NaturalOrderReadsDigitRunsAsNumbers) {
  const std::pair<const char*, const char*> ordered[] = {
      {"1.9", "1.10"}, {"1.2", "1.10"}, {"v2", "v10"}, {"1.0", "1.0a"}, {"alpha", "Beta"}, {"1.01", "1.1"}, {"2", "10.0"}};
  for (const auto& [a, b] : ordered) {
    EXPECT_TRUE(workflow::naturalLess(a, b)) << a << " < " << b;
    EXPECT_FALSE(workflow::naturalLess(b, a)) << b << " < " << a;
  }
}

// The history reads only the rows a class's changes can involve; each class's steps must still
// be exactly what the whole pair's change list says of that class.
TEST(History, EachClassGetsWhatTheWholePairsListSaysOfIt) {
  for (const History& history : kHistories) {
    SCOPED_TRACE(history.name);
    StoredPair pair(history);
    std::set<std::string> classes;
    for (const Rows* rows : {&history.base, &history.reference})
      for (const std::string& row : *rows) classes.insert(row.substr(0, row.find_first_of("<.")));
    // Read in record order, then through the index.
    for (const bool indexed : {false, true}) {
      if (indexed) (void)workflow::buildIndexes(pair.table, true);
      const workflow::ChangeList whole = workflow::changeListOf(pair.verdicts());
      for (const std::string& name : classes) {
        const workflow::ClassHistory h = workflow::classHistory(pair.table, name);
        ASSERT_EQ(h.steps.size(), 1u);
        std::vector<std::string> expected;
        for (const workflow::ChangeEntry& e : whole.changes) {
          const auto concerned = e.classes();
          if (std::find(concerned.begin(), concerned.end(), name) != concerned.end()) expected.push_back(workflow::changeLine(e));
        }
        EXPECT_EQ(linesOf(h.steps[0].changes), expected) << name << (indexed ? " through the index" : "");
      }
    }
    EXPECT_TRUE(pair.errors.errors.empty());
  }
}

TEST(IgnoreRules, OnlyALineTheFileReadsBackAsThatRuleIsAppended) {
  wftest::WorkDir dir{""};
  const std::filesystem::path file = dir.path() / workflow::kIgnoreFileName;
  std::ofstream(file) << "Gen*";  // no line end after the last rule
  const std::pair<std::string, bool> lines[] = {
      {"Book.Pages", true},
      {"rename Film Movie", true},
      {"Book.My Member", false},             // a blank would end the pattern
      {"Book.Pages\nrename A B", false},     // one rule a call
      {"Book #1 change=moved", false},       // '#' starts a comment
  };
  for (const auto& [line, written] : lines) {
    SCOPED_TRACE(line);
    wftest::ErrorRecorder errors;
    EXPECT_EQ(workflow::appendIgnoreRule(file, line), written);
    EXPECT_EQ(errors.count(rt::EG_ARG), written ? 0 : 1);
  }
  EXPECT_EQ(wftest::readFile(file), "Gen*\nBook.Pages\nrename Film Movie\n");
}

TEST(History, ARenamedClassCarriesOnUnderItsNewName) {
  wftest::ErrorRecorder errors;
  StoredPair pair(historyNamed("a class renamed"));
  const workflow::IgnoreRules rules = workflow::parseIgnoreRules("rename Film Movie", "rules");
  workflow::HistoryOptions options;
  options.rules = &rules;
  const workflow::ClassHistory h = workflow::classHistory(pair.table, "Film", options);
  EXPECT_EQ(h.names, (std::vector<std::string>{"Film", "Movie"}));
  ASSERT_EQ(h.steps.size(), 1u);
  EXPECT_EQ(linesOf(h.steps[0].changes), (std::vector<std::string>{"Movie  renamed  Film -> Movie  [breaking]",
                                                                    "Movie.Rating  member added  Real  [additive]"}));
  ASSERT_EQ(h.rules.size(), 1u);
  EXPECT_EQ(h.rules[0].entries, 1);
  // Without the rename the class simply goes.
  EXPECT_EQ(linesOf(workflow::classHistory(pair.table, "Film").steps[0].changes),
            (std::vector<std::string>{"Film  class removed  [breaking]"}));
  EXPECT_TRUE(errors.errors.empty());
}
