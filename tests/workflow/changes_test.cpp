// The change list on generated histories: two versions of a small schema each, one kind of change
// between them, and the entries and rename suggestions that the pair must give.
#include <gtest/gtest.h>

#include <map>

#include "workflow/changes.h"
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

TEST(ChangeList, EachGeneratedHistoryGivesItsEntriesAndSuggestions) {
  for (const History& history : kHistories) {
    SCOPED_TRACE(history.name);
    wftest::ScratchTable scratch;
    model::Mpdms& table = scratch.table;
    ASSERT_TRUE(table.used());
    store(table, "1", history.base);
    store(table, "2", history.reference);
    (void)workflow::buildIndexes(table, true);
    const workflow::ChangeList list = workflow::changeListOf(
        workflow::computePairVerdicts(table, workflow::fullWidthVersion("1"), workflow::fullWidthVersion("2")));
    std::vector<std::string> changes, suggestions;
    for (const workflow::ChangeEntry& e : list.changes) changes.push_back(workflow::changeLine(e));
    for (const workflow::RenameSuggestion& s : list.suggestions) suggestions.push_back(workflow::suggestionLine(s));
    EXPECT_EQ(changes, history.changes);
    EXPECT_EQ(suggestions, history.suggestions);
    EXPECT_EQ(list.counts.total, static_cast<long>(history.changes.size()));
    EXPECT_TRUE(scratch.errors.errors.empty());
  }
}

}  // namespace
