#include <gtest/gtest.h>

#include <sqlite3.h>

#include "../support/fifo.h"

#include "control_test_support.h"

namespace {

void raiseOnConnect(StateDir& dir, ErrorRecorder& errors) {
  auto control = dir.create();
  ASSERT_TRUE(control);
  call(control, "Connect");
  ASSERT_EQ(errors.errors.size(), 1u);
}

TEST(ControlBadInput, MissingStoreIsAnOpenErrorNamingTheFile) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeState("Database = absent.db\n");
  raiseOnConnect(dir, errors);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OPEN);
  EXPECT_EQ(errors.last()->fileName, (dir.dir / "absent.db").string());
  EXPECT_NE(errors.last()->description.find("absent.db"), std::string::npos);
}

TEST(ControlBadInput, StateWithoutStoreIsAnOpenError) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeState("");
  raiseOnConnect(dir, errors);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OPEN);
}

TEST(ControlBadInput, TextFileIsNotASchemaStore) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeFile("notes.db", "this is not a database at all, just some words in a file\n");
  dir.writeState("Database = notes.db\n");
  raiseOnConnect(dir, errors);
  EXPECT_EQ(errors.last()->genCode, rt::EG_CORRUPTION);
  EXPECT_NE(errors.last()->description.find("not a Zorbane schema store"), std::string::npos);
}

TEST(ControlBadInput, DatabaseWithoutTheStoreTablesIsRefused) {
  StateDir dir;
  ErrorRecorder errors;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.dir / "other.db").string().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  dir.writeState("Database = other.db\n");
  raiseOnConnect(dir, errors);
  EXPECT_EQ(errors.last()->genCode, rt::EG_CORRUPTION);
  EXPECT_NE(errors.last()->description.find("zstore_info"), std::string::npos);
}

TEST(ControlBadInput, DirectoryInPlaceOfTheStoreIsRefused) {
  StateDir dir;
  ErrorRecorder errors;
  std::filesystem::create_directories(dir.dir / "store.db");
  dir.writeState("Database = store.db\n");
  raiseOnConnect(dir, errors);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OPEN);
}

TEST(ControlBadInput, FifoInPlaceOfTheStoreIsRefusedWithoutBlocking) {
  StateDir dir;
  ErrorRecorder errors;
  Fifo fifo((dir.dir / "pipe.db").string());
  ASSERT_TRUE(fifo.made());
  dir.writeState("Database = pipe.db\n");
  raiseOnConnect(dir, errors);
  EXPECT_FALSE(fifo.blockedAReader());
  EXPECT_EQ(errors.last()->genCode, rt::EG_OPEN);
  EXPECT_NE(errors.last()->description.find("not a file"), std::string::npos);
}

int openDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Each way a file can fail the store's checks after SQLite has opened it.
TEST(ControlBadInput, RefusedStoresLeaveNoOpenDescriptor) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeFile("notes.db", std::string(4096, 'x'));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.dir / "other.db").string().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  std::string schema;
  {
    std::ifstream in(std::string(ZMC_DEMO_DIR) + "/zorbane-schema.sql");
    schema.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_EQ(sqlite3_open((dir.dir / "nomarker.db").string().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, (schema + "DELETE FROM zstore_info;").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  for (const char* name : {"notes.db", "other.db", "nomarker.db"}) {
    dir.writeState(std::string("Database = ") + name + "\n");
    auto control = dir.create();
    ASSERT_TRUE(control);
    const int before = openDescriptors();
    errors.errors.clear();
    call(control, "Connect");
    ASSERT_EQ(errors.errors.size(), 1u) << name;
    EXPECT_EQ(errors.last()->genCode, rt::EG_CORRUPTION) << name;
    EXPECT_EQ(openDescriptors(), before) << name << " left its descriptor open";
  }
}

TEST(ControlBadInput, UnknownStateKeyIsRaisedNamingKeyAndFile) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeState("HostNmae = typo\n");
  EXPECT_FALSE(dir.create());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_CORRUPTION);
  EXPECT_NE(errors.last()->description.find("HostNmae"), std::string::npos);
  EXPECT_NE(errors.last()->fileName.find("OLE29.ctlstate"), std::string::npos);
}

TEST(ControlBadInput, LogicalStateValueMustBeTrueOrFalse) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeState("ShowLogon = maybe\n");
  EXPECT_FALSE(dir.create());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_NE(errors.last()->description.find("maybe"), std::string::npos);
}

TEST(ControlBadInput, SchemaCallsBeforeConnectAreRaised) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeState("Database = x.db\n");
  auto control = dir.create();
  EXPECT_TRUE(control->get(rt::Symbol("ClassFamilies")).isNil());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_NE(errors.last()->description.find("not connected"), std::string::npos);
}

TEST(ControlProperties, StoredStateSetsPersistentProperties) {
  StateDir dir;
  dir.writeState("HostName = atlas\nShowToolTip = yes\nEnvironment = \" test \"\n");
  auto control = dir.create();
  ASSERT_TRUE(control);
  EXPECT_EQ(control->get(rt::Symbol("hostname")).asString(), "atlas");
  EXPECT_TRUE(control->get(rt::Symbol("ShowToolTip")).asLogical());
  EXPECT_EQ(control->get(rt::Symbol("Environment")).asString(), " test ");
  control->put(rt::Symbol("ShowLogon"), rt::Value(false));
  EXPECT_FALSE(control->get(rt::Symbol("ShowLogon")).asLogical());
}

TEST(ControlProperties, PropertyPutOfTheWrongTypeIsRefused) {
  StateDir dir;
  ErrorRecorder errors;
  dir.writeState("");
  auto control = dir.create();
  control->put(rt::Symbol("ShowLogon"), rt::Value("no"));
  control->put(rt::Symbol("SessionHandle"), rt::Value(3));
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_ARG);
  EXPECT_EQ(errors.errors[1]->genCode, rt::EG_READONLY);
}

// A superclass cycle in a store must not hang the inherited-member walk.
TEST(ControlStoreShapes, SuperclassCycleEndsTheInheritedWalk) {
  StateDir dir;
  std::string db = (dir.dir / "cycle.db").string();
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  std::string sql;
  {
    std::ifstream in(std::string(ZMC_DEMO_DIR) + "/zorbane-schema.sql");
    sql.assign(std::istreambuf_iterator<char>(in), {});
  }
  sql += "INSERT INTO zfamily VALUES (1, 'Loop', 1);"
         "INSERT INTO zclass VALUES (1, 1, 'A', 1), (2, 1, 'B', 2);"
         "INSERT INTO zsuperclass VALUES (1, 2, 1), (2, 1, 1);"
         "INSERT INTO zmethod (method_id, class_id, name, level, type_code) VALUES (1, 1, 'Ma', 'I', 1), (2, 2, 'Mb', 'I', 2);";
  ASSERT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(h);
  dir.writeState("Database = cycle.db\n");
  auto control = dir.create();
  call(control, "Connect");
  rt::Value a = call(control, "GetClassObject", {rt::Value("Loop"), rt::Value("A")});
  EXPECT_EQ(call(call(a, "Methods", {rt::Value(true)}), "Count").asLong(), 2);
  EXPECT_EQ(call(call(call(control, "ClassFamily", {rt::Value("Loop")}), "TopClasses"), "Count").asLong(), 0);
}

// A chain of superclasses far longer than any call stack could follow one frame per class.
TEST(ControlStoreShapes, LongSuperclassChainIsWalkedToItsEnd) {
  StateDir dir;
  std::string db = (dir.dir / "chain.db").string();
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
  std::string sql;
  {
    std::ifstream in(std::string(ZMC_DEMO_DIR) + "/zorbane-schema.sql");
    sql.assign(std::istreambuf_iterator<char>(in), {});
  }
  constexpr int kClasses = 200000;
  sql += "INSERT INTO zfamily VALUES (1, 'Chain', 1);"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kClasses) + ") "
         "INSERT INTO zclass SELECT i, 1, 'C' || i, i FROM n;"
         "INSERT INTO zsuperclass SELECT class_id, class_id + 1, 1 FROM zclass WHERE class_id < " +
         std::to_string(kClasses) + ";"
         "INSERT INTO zmethod (method_id, class_id, name, level, type_code) VALUES (1, " + std::to_string(kClasses) +
         ", 'Root', 'I', 1);";
  ASSERT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
  sqlite3_close(h);
  dir.writeState("Database = chain.db\n");
  auto control = dir.create();
  call(control, "Connect");
  rt::Value first = call(control, "GetClassObject", {rt::Value("Chain"), rt::Value("C1")});
  EXPECT_EQ(call(call(first, "Methods", {rt::Value(true)}), "Count").asLong(), 1);
}

}  // namespace
