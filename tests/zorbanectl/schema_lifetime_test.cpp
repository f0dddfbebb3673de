// How long the control keeps a family's schema in memory: shared by every object while any of
// them holds it, and given back once none does (the next use reads the store again). A member's
// details are read from the store when asked for, through a connection the family keeps open.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>

#include "control_test_support.h"

namespace {

void runSql(const std::filesystem::path& store, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store.string().c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

int openDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// A store with family "Fam": class A with property P (id 10) and method M (id 20), both with details.
void writeDetailedStore(const std::filesystem::path& store) {
  std::ifstream schema(std::filesystem::path(ZMC_DEMO_DIR) / "zorbane-schema.sql");
  std::stringstream sql;
  sql << schema.rdbuf()
      << "INSERT INTO zfamily (family_id, name, position) VALUES (1, 'Fam', 1);"
         "INSERT INTO zclass (class_id, family_id, name, position) VALUES (10, 1, 'A', 1);"
         "INSERT INTO zproperty (property_id, class_id, name, position, level, type_code, is_set, is_mandatory,"
         " is_unique, description, precision, scale, default_value)"
         " VALUES (10, 10, 'P', 1, 'I', 3, 1, 0, 1, 'the price', 9, 2, '0.00');"
         "INSERT INTO zmethod (method_id, class_id, name, position, level, type_code, is_set, description,"
         " precision, scale) VALUES (20, 10, 'M', 1, 'C', 4, 1, 'recomputes', 7, 1);";
  runSql(store, sql.str());
}

long classCount(const ole::AutoObjectPtr& control, const char* family) {
  return call(call(call(control, "ClassFamily", {rt::Value(family)}), "Classes"), "Count").asLong();
}

}  // namespace

TEST(ControlSchemaLifetime, AFamilyIsSharedWhileHeldAndReadAgainOnceNothingHoldsIt) {
  StateDir dir;
  ErrorRecorder errors;
  std::ifstream schema(std::filesystem::path(ZMC_DEMO_DIR) / "zorbane-schema.sql");
  std::stringstream sql;
  sql << schema.rdbuf()
      << "INSERT INTO zfamily (family_id, name, position) VALUES (1, 'Fam', 1), (2, 'Other', 2);"
         "INSERT INTO zclass (class_id, family_id, name, position) VALUES (10, 1, 'A', 1), (11, 1, 'B', 2),"
         " (20, 2, 'Z', 1);";
  runSql(dir.dir / "store.db", sql.str());
  dir.writeState("Database = store.db\n");
  auto control = dir.create();
  ASSERT_TRUE(control);
  control->put(rt::Symbol("ShowLogon"), rt::Value(false));
  call(control, "Connect");

  rt::Value held = call(call(control, "ClassFamily", {rt::Value("Fam")}), "Classes");
  ASSERT_EQ(call(held, "Count").asLong(), 2);
  runSql(dir.dir / "store.db", "INSERT INTO zclass (class_id, family_id, name, position) VALUES (12, 1, 'C', 3);");
  // Held: every new object shares the schema already read, another family is read on its own.
  EXPECT_EQ(classCount(control, "Fam"), 2);
  EXPECT_EQ(classCount(control, "Other"), 1);
  EXPECT_EQ(call(call(held, "Item", {rt::Value(2)}), "Name").asString(), "B");

  held = rt::Value();
  EXPECT_EQ(classCount(control, "Fam"), 3);  // nothing held it: read again
  EXPECT_TRUE(errors.errors.empty());
}

TEST(ControlSchemaLifetime, MemberDetailsAreReadWhenAskedEvenAfterDisconnect) {
  StateDir dir;
  ErrorRecorder errors;
  writeDetailedStore(dir.dir / "store.db");
  dir.writeState("Database = store.db\n");
  const int before = openDescriptors();
  {
    auto control = dir.create();
    ASSERT_TRUE(control);
    call(control, "Connect");
    rt::Value cls = call(control, "GetClassObject", {rt::Value("Fam"), rt::Value("A")});
    rt::Value property = call(call(cls, "Properties"), "Item", {rt::Value(1)});
    rt::Value method = call(call(cls, "Methods"), "Item", {rt::Value(1)});
    call(control, "Disconnect");
    // The objects handed out still answer everything, details included.
    EXPECT_EQ(call(property, "Name").asString(), "P");
    EXPECT_EQ(call(property, "Description").asString(), "the price");
    EXPECT_TRUE(call(property, "IsSet").asLogical());
    EXPECT_FALSE(call(property, "IsMandatory").asLogical());
    EXPECT_TRUE(call(property, "IsUnique").asLogical());
    EXPECT_EQ(call(property, "Precision").asLong(), 9);
    EXPECT_EQ(call(property, "Scale").asLong(), 2);
    EXPECT_EQ(call(property, "DefaultValue").asString(), "0.00");
    EXPECT_EQ(call(method, "Description").asString(), "recomputes");
    EXPECT_TRUE(call(method, "IsSet").asLogical());
    EXPECT_EQ(call(method, "Precision").asLong(), 7);
    EXPECT_EQ(call(method, "Scale").asLong(), 1);
    EXPECT_TRUE(errors.errors.empty());
    EXPECT_GT(openDescriptors(), before);  // held open for those details
  }
  EXPECT_EQ(openDescriptors(), before) << "the store stayed open once nothing held its families";
}

TEST(ControlSchemaLifetime, DetailsOfARowRemovedSinceTheLoadAreAnErrorNamingTableAndRow) {
  StateDir dir;
  ErrorRecorder errors;
  writeDetailedStore(dir.dir / "store.db");
  dir.writeState("Database = store.db\n");
  auto control = dir.create();
  call(control, "Connect");
  rt::Value cls = call(control, "GetClassObject", {rt::Value("Fam"), rt::Value("A")});
  rt::Value property = call(call(cls, "Properties"), "Item", {rt::Value(1)});
  rt::Value method = call(call(cls, "Methods"), "Item", {rt::Value(1)});
  runSql(dir.dir / "store.db", "DELETE FROM zproperty; DELETE FROM zmethod;");
  EXPECT_EQ(call(property, "Name").asString(), "P");  // what the load read stays
  EXPECT_TRUE(errors.errors.empty());
  const std::pair<rt::Value*, std::vector<std::string>> cases[] = {
      {&property, {"zproperty", "property_id 10", "property P"}}, {&method, {"zmethod", "method_id 20", "method M"}}};
  for (const auto& [object, named] : cases) {
    errors.errors.clear();
    EXPECT_TRUE(call(*object, "Description").isNil());
    ASSERT_EQ(errors.errors.size(), 1u);
    EXPECT_EQ(errors.last()->genCode, rt::EG_READ);
    EXPECT_NE(errors.last()->fileName.find("store.db"), std::string::npos);
    for (const std::string& part : named)
      EXPECT_NE(errors.last()->description.find(part), std::string::npos) << part << " in " << errors.last()->description;
  }
}
