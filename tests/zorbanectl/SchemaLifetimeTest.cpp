// How long the control keeps a family's schema in memory: shared by every object while any of
// them holds it, and given back once none does (the next use reads the store again).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>

#include "ControlTestSupport.h"

namespace {

void runSql(const std::filesystem::path& store, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(store.string().c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
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
