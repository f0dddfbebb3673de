#include <gtest/gtest.h>

#include <map>

#include "control_test_support.h"

namespace {

// The control connected to the demo store, through the stored state shipped in demo/.
struct DemoStore : ::testing::Test {
  void SetUp() override {
    ole::setStorageDirectories({ZMC_DEMO_DIR});
    zctl::registerControl();
    control = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
    ASSERT_TRUE(control);
    control->put(rt::Symbol("UseConnectionManager"), rt::Value(false));
    control->put(rt::Symbol("ShowLogon"), rt::Value(false));
    control->put(rt::Symbol("Environment"), rt::Value(""));
    call(control, "Connect");
  }
  void TearDown() override { ole::setStorageDirectories({}); }

  // One row per class as the load reads it: name, parent, then each member as
  // "<M|P><C|I> name type".
  std::vector<std::string> walk(const std::string& family) {
    std::vector<std::string> rows;
    rt::Value fam = call(control, "ClassFamily", {rt::Value(family)});
    rt::Value classes = call(fam, "Classes");
    for (long i = 1; i <= call(classes, "Count").asLong(); ++i) {
      rt::Value cls = call(classes, "Item", {rt::Value(i)});
      rt::Value supers = call(cls, "SuperClasses");
      std::string parent = call(supers, "Count").asLong() > 0
                               ? call(call(supers, "Item", {rt::Value(1)}), "Name").asString()
                               : "";
      rows.push_back(call(cls, "Name").asString() + " < " + parent);
      const std::pair<const char*, int> passes[] = {{"Methods", 1}, {"Methods", 4}, {"Properties", 1}, {"Properties", 2}};
      for (auto [what, filter] : passes) {
        rt::Value members = call(cls, what, {rt::Value(false), rt::Value(filter)});
        bool method = std::string(what) == "Methods";
        for (long j = 1; j <= call(members, "Count").asLong(); ++j) {
          rt::Value m = call(members, "Item", {rt::Value(j)});
          rt::Value type = call(m, method ? "MethodType" : "PropertyType");
          EXPECT_TRUE(type.isLong());
          rows.push_back(std::string("  ") + (method ? "M" : "P") + (filter == 1 ? "C " : "I ") +
                         call(m, "Name").asString() + " " + std::to_string(type.asLong()));
        }
      }
    }
    return rows;
  }
  ole::AutoObjectPtr control;
};

TEST_F(DemoStore, FamiliesAreListedInStoreOrderWithNamesAsStored) {
  rt::Value families = control->get(rt::Symbol("CLASSFAMILIES"));
  ASSERT_EQ(call(families, "Count").asLong(), 5);
  std::vector<std::string> names;
  for (long i = 1; i <= 5; ++i) names.push_back(call(call(families, "Item", {rt::Value(i)}), "Name").asString());
  EXPECT_EQ(names, (std::vector<std::string>{"Library", "Library Revised Edition", "  Fleet  ", "Empty Family",
                                             "Library Third"}));
}

TEST_F(DemoStore, WalkingTheFirstStateGivesClassesParentsLevelsAndTypes) {
  std::vector<std::string> expected = {
      "LibraryItem < ",       "  MC Count 2",      "  MI Describe 5",   "  PC ItemCount 2",  "  PI Title 5",
      "  PI ItemId 2",        "  PI Created 10",   "Book < LibraryItem", "  MI Borrow 1",     "  PI Isbn 5",
      "  PI Pages 2",         "  PI Authors 8",    "  PI Checksum 11",  "Magazine < LibraryItem", "  PI IssueNo 2",
      "  PI Cover 9",         "Microfilm < LibraryItem", "  MI Rewind 0", "  PI Reel 2",       "Member < ",
      "  MI Fine 4",          "  PI Name 5",       "  PI Joined 10",    "  PI Rating 3",     "Loan < ",
      "  MI Renew 1",         "  MI Overdue 1",    "  PI Item 7",       "  PI Borrower 7",   "  PI DueDate 10",
      "Archive < ",           "RareBook < Book"};
  EXPECT_EQ(walk("Library"), expected);
}

TEST_F(DemoStore, SecondStateDiffersAsTheDemoPromises) {
  auto rows = walk("Library Revised Edition");
  auto has = [&](const std::string& r) { return std::find(rows.begin(), rows.end(), r) != rows.end(); };
  EXPECT_TRUE(has("  PI ItemId 3"));          // type changed
  EXPECT_TRUE(has("  PI ItemCount 2"));       // class level -> instance level
  EXPECT_TRUE(has("  MC Fine 4"));            // instance level -> class level
  EXPECT_TRUE(has("Magazine < Periodical"));  // parent changed
  EXPECT_TRUE(has("Periodical < LibraryItem"));
  EXPECT_TRUE(has("  PI Edition 2"));
  EXPECT_FALSE(has("Microfilm < LibraryItem"));
  EXPECT_FALSE(has("  PI Pages 2"));
}

TEST_F(DemoStore, FamilyNameWithBlanksIsFoundUnderItsTrimmedName) {
  rt::Value fam = call(control, "ClassFamily", {rt::Value("Fleet")});
  ASSERT_TRUE(fam.as<ole::OLEAutoObject>());
  EXPECT_EQ(call(fam, "Name").asString(), "  Fleet  ");
  EXPECT_EQ(call(call(fam, "Classes"), "Count").asLong(), 3);
}

TEST_F(DemoStore, FamilyCanBeChosenByPosition) {
  EXPECT_EQ(call(call(control, "ClassFamily", {rt::Value(2)}), "Name").asString(), "Library Revised Edition");
}

TEST_F(DemoStore, FamilyWithoutClassesHasAnEmptyCollection) {
  rt::Value classes = call(call(control, "ClassFamily", {rt::Value("Empty Family")}), "Classes");
  EXPECT_EQ(call(classes, "Count").asLong(), 0);
}

TEST_F(DemoStore, SeveralSuperclassesKeepTheirOrder) {
  rt::Value cls = call(call(control, "ClassFamily", {rt::Value("Library")}), "ClassFromName", {rt::Value("RareBook")});
  rt::Value supers = call(cls, "SuperClasses");
  ASSERT_EQ(call(supers, "Count").asLong(), 2);
  EXPECT_EQ(call(call(supers, "Item", {rt::Value(1)}), "Name").asString(), "Book");
  EXPECT_EQ(call(call(supers, "Item", {rt::Value(2)}), "Name").asString(), "Archive");
}

TEST_F(DemoStore, InheritedMembersOnlyWhenAsked) {
  rt::Value book = call(call(control, "ClassFamily", {rt::Value("Library")}), "ClassFromName", {rt::Value("Book")});
  EXPECT_EQ(call(call(book, "Methods", {rt::Value(false), rt::Value(4)}), "Count").asLong(), 1);
  rt::Value all = call(book, "Methods", {rt::Value(true), rt::Value(4)});
  ASSERT_EQ(call(all, "Count").asLong(), 2);
  EXPECT_EQ(call(call(all, "Item", {rt::Value(2)}), "Name").asString(), "Describe");
  // Without a filter both levels come back.
  EXPECT_EQ(call(call(book, "Properties"), "Count").asLong(), 4);
}

TEST_F(DemoStore, MemberDetailsAreReported) {
  rt::Value fam = call(control, "ClassFamily", {rt::Value("Library")});
  rt::Value authors = call(call(fam, "ClassFromName", {rt::Value("Book")}), "PropertyFromName",
                           {rt::Value("authors"), rt::Value(false), rt::Value(0)});
  EXPECT_TRUE(call(authors, "IsSet").asLogical());
  EXPECT_FALSE(call(authors, "IsClass").asLogical());
  EXPECT_EQ(call(authors, "ClassName").asString(), "Book");
  EXPECT_EQ(call(authors, "ClassFamilyName").asString(), "Library");
  rt::Value borrow = call(call(fam, "ClassFromName", {rt::Value("Book")}), "MethodFromName",
                          {rt::Value("Borrow"), rt::Value(false), rt::Value(0)});
  rt::Value params = call(borrow, "Parameters_");
  ASSERT_EQ(call(params, "Count").asLong(), 2);
  rt::Value days = call(params, "Item", {rt::Value(2)});
  EXPECT_EQ(call(days, "Name").asString(), "Days");
  EXPECT_EQ(call(days, "DefaultValue").asString(), "14");
  EXPECT_EQ(call(days, "ParameterType").asLong(), 2);
}

TEST_F(DemoStore, LookupsThatFindNothingGiveTheNullObject) {
  rt::Value fam = call(control, "ClassFamily", {rt::Value("Library")});
  EXPECT_TRUE(call(fam, "ClassFromName", {rt::Value("Nope")}).isNil());
  rt::Value book = call(fam, "ClassFromName", {rt::Value("Book")});
  EXPECT_TRUE(call(book, "MethodFromName", {rt::Value("Nope"), rt::Value(false), rt::Value(0)}).isNil());
}

TEST_F(DemoStore, StoredQueryRunsItsExpression) {
  rt::Value query = control->get(rt::Symbol("Query"));
  EXPECT_EQ(call(query, "GetQueryText", {rt::Value("Books")}).asString(), "Library : *Book*");
  rt::Value found = call(query, "Execute", {rt::Value(1)});
  ASSERT_EQ(call(found, "Count").asLong(), 2);
  EXPECT_EQ(call(call(found, "Item", {rt::Value(2)}), "Name").asString(), "RareBook");
}

TEST_F(DemoStore, InstanceMembersFindTheirClassAndFamily) {
  rt::Value cls = call(control, "GetClassObject", {rt::Value("Library"), rt::Value("Member")});
  rt::Value instance = call(cls, "NewInstance");
  EXPECT_EQ(call(call(control, "ClassFromInstance", {instance}), "Name").asString(), "Member");
  EXPECT_EQ(call(call(control, "ClassFamilyFromInstance", {instance}), "Name").asString(), "Library");
  EXPECT_EQ(call(call(control, "MethodsFromInstance", {instance, rt::Value(false), rt::Value(1)}), "Count").asLong(), 0);
}

TEST_F(DemoStore, ConnectionStateFollowsConnectAndDisconnect) {
  EXPECT_EQ(control->get(rt::Symbol("ConnectionState")).asLong(), 1);
  call(control, "Disconnect");
  EXPECT_EQ(control->get(rt::Symbol("ConnectionState")).asLong(), 0);
}

TEST_F(DemoStore, EnumeratorWalksEveryElement) {
  rt::Value families = control->get(rt::Symbol("ClassFamilies"));
  auto holder = call(families, "_NewEnum").as<ole::IUnknown>();
  ASSERT_TRUE(holder);
  auto* e = dynamic_cast<ole::EnumVariantInterface*>(holder->pInterface.get());
  ASSERT_TRUE(e);
  ole::Variant item;
  int n = 0;
  while (e->Next(item)) ++n;
  EXPECT_EQ(n, 5);
}

TEST_F(DemoStore, MemberNamesResolveWithoutRegardToCaseAndOnlyWhole) {
  rt::Value fam = call(control, "ClassFamily", {rt::Value("Library")});
  const ole::DispatchPtr family = fam.as<ole::OLEAutoObject>()->dispatch();
  ASSERT_TRUE(family);
  const std::pair<const char*, ole::DispId> known[] = {
      {"Classes", 2}, {"classes", 2}, {"CLASSES", 2}, {"cLaSsEs", 2}, {"Class_", 5}, {"name", 1}};
  for (auto [name, wanted] : known) {
    ole::DispId id = ole::DISPID_UNKNOWN;
    EXPECT_EQ(family->GetIDsOfNames(name, id), ole::S_OK) << name;
    EXPECT_EQ(id, wanted) << name;
  }
  for (const char* name : {"Class", "Classe", "ClassesX", "Classes_", "", "Class-", "NAME "}) {
    ole::DispId id = 0;
    EXPECT_EQ(family->GetIDsOfNames(name, id), ole::DISP_E_UNKNOWNNAME) << name;
    EXPECT_EQ(id, ole::DISPID_UNKNOWN) << name;
  }
}

// ---- what goes wrong ----

TEST_F(DemoStore, UnknownFamilyIsRaisedNamingIt) {
  ErrorRecorder errors;
  EXPECT_TRUE(call(control, "ClassFamily", {rt::Value("Warehouse")}).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_NE(errors.last()->description.find("Warehouse"), std::string::npos);
  EXPECT_NE(errors.last()->fileName.find("zorbane-demo.db"), std::string::npos);
}

TEST_F(DemoStore, IndexOutsideTheCollectionIsABoundError) {
  ErrorRecorder errors;
  rt::Value families = control->get(rt::Symbol("ClassFamilies"));
  EXPECT_TRUE(call(families, "Item", {rt::Value(0)}).isNil());
  EXPECT_TRUE(call(families, "Item", {rt::Value(6)}).isNil());
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_BOUND);
  EXPECT_NE(errors.last()->description.find("outside 1 to 5"), std::string::npos);
}

TEST_F(DemoStore, SchemaIsReadOnly) {
  ErrorRecorder errors;
  rt::Value fam = call(control, "ClassFamily", {rt::Value("Library")});
  fam.asObject()->put(rt::Symbol("Name"), rt::Value("Renamed"));
  call(control, "ExecuteStatement", {rt::Value("DELETE FROM zclass")});
  ASSERT_EQ(errors.errors.size(), 2u);
  for (const auto& e : errors.errors) EXPECT_EQ(e->genCode, rt::EG_READONLY);
  EXPECT_EQ(call(fam, "Name").asString(), "Library");
}

TEST_F(DemoStore, WrongArgumentTypeIsRaisedNamingTheMember) {
  ErrorRecorder errors;
  rt::Value book = call(call(control, "ClassFamily", {rt::Value("Library")}), "ClassFromName", {rt::Value("Book")});
  call(book, "Methods", {rt::Value("yes"), rt::Value(1)});
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_NE(errors.last()->description.find("IncludeInherited"), std::string::npos);
}

}  // namespace
