#include "workflow_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace wftest {

const char* const kStoreSql = R"sql(
INSERT INTO zfamily (family_id, name, position) VALUES
  (1, 'Base Fam', 1), (2, '  Ref Fam  ', 2), (3, 'Multi', 3),
  (4, 'A Family Name Longer Than Fifteen', 4), (5, 'Empty Family', 5);
INSERT INTO zclass (class_id, family_id, name, position) VALUES
  (10, 1, 'Shape', 1), (11, 1, 'Circle', 2), (12, 1, 'Square', 3), (13, 1, 'Gone', 4), (14, 1, 'Plain', 5),
  (20, 2, 'Shape', 1), (21, 2, 'Circle', 2), (22, 2, 'Square', 3), (23, 2, 'NewOne', 4), (24, 2, 'Plain', 5),
  (30, 3, 'A', 1), (31, 3, 'B', 2), (32, 3, 'C', 3),
  (40, 4, 'Widget', 1);
INSERT INTO zsuperclass (class_id, super_id, position) VALUES
  (11, 10, 1), (12, 10, 1), (13, 10, 1),
  (21, 20, 1), (22, 21, 1), (23, 20, 1),
  (32, 31, 1), (32, 30, 2);
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code) VALUES
  (100, 10, 'Area', 1, 'I', 4), (101, 10, 'Label', 2, 'I', 5), (102, 10, 'Count', 3, 'C', 2),
  (103, 11, 'Radius', 1, 'I', 4), (104, 11, 'Tags', 2, 'I', 8), (105, 11, 'Blob', 3, 'I', 11),
  (106, 12, 'Side', 1, 'I', 2), (107, 13, 'X', 1, 'I', 2),
  (110, 20, 'Area', 1, 'I', 3), (111, 20, 'Label', 2, 'I', 5), (112, 20, 'Count', 3, 'I', 2),
  (113, 21, 'Radius', 1, 'I', 4), (114, 21, 'Tags', 2, 'I', 8), (115, 21, 'Blob', 3, 'I', 11),
  (116, 22, 'Side', 1, 'I', 2), (117, 23, 'Y', 1, 'I', 2),
  (130, 32, 'Weight', 1, 'I', 4), (140, 40, 'Knob', 1, 'C', 10);
INSERT INTO zmethod (method_id, class_id, name, position, level, type_code) VALUES
  (200, 10, 'Draw', 1, 'I', 0), (201, 11, 'OnlyBase', 1, 'I', 1), (202, 10, 'Make', 2, 'C', 7),
  (210, 20, 'Draw', 1, 'I', 0), (211, 21, 'OnlyRef', 1, 'I', 1), (212, 20, 'Make', 2, 'C', 7);
)sql";

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

namespace {

std::string rtrim(std::string_view text) {
  const auto last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

}  // namespace

WorkDir::WorkDir(const std::string& storeSql) {
  char pattern[] = "/tmp/zmc-workflow-XXXXXX";
  dir_ = ::mkdtemp(pattern);
  EXPECT_TRUE(rdd::createTable((dir_ / model::kTableName).string(), model::tableLayout()));
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open((dir_ / "store.db").string().c_str(), &db), SQLITE_OK);
  const std::string sql = readFile(std::filesystem::path(ZMC_DEMO_DIR) / "zorbane-schema.sql") + storeSql;
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
  std::ofstream(dir_ / "OLE29.ctlstate") << "[ZorbaneWin.Zorbane]\nClass = Zorbane.Control\nDatabase = store.db\n";
  previous_ = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
}

WorkDir::~WorkDir() {
  std::filesystem::current_path(previous_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

ErrorRecorder::ErrorRecorder() {
  rt::setErrorBlock([this](const rt::ErrorPtr& e) -> rt::Value {
    errors.push_back(e);
    if (breakOnError) rt::breakToRecovery(rt::Value(e));
    return rt::Value(false);
  });
  rt::setWarningLog([this](const rt::ErrorPtr& e) { warnings.push_back(e); });
}
ErrorRecorder::~ErrorRecorder() {
  rt::setErrorBlock({});
  rt::setWarningLog({});
}

int ErrorRecorder::count(int genCode) const {
  int n = 0;
  for (const auto& e : errors) n += e->genCode == genCode;
  return n;
}

std::vector<std::string> rowsInRecordOrder(model::Mpdms& table) {
  using model::Field;
  std::vector<std::string> rows;
  for (std::uint32_t r = 1; r <= table.lastRec(); ++r) {
    table.goTo(r);
    std::string line;
    for (Field f : {Field::MODELVERS, Field::CLASSNAME, Field::PARENTNAME, Field::PROP_METHO, Field::ATTRIBUTE,
                    Field::TYPE, Field::INS_CLASS, Field::FAMILYNAME}) {
      if (!line.empty()) line += '|';
      line += rtrim(table.str(f));
    }
    rows.push_back(line);
  }
  return rows;
}

std::string flagsOf(model::Mpdms& table, const std::string& version, const std::string& className,
                    const std::string& attribute) {
  using model::Field;
  std::string flags;
  int matches = 0;
  for (std::uint32_t r = 1; r <= table.lastRec(); ++r) {
    table.goTo(r);
    if (rtrim(table.str(Field::MODELVERS)) != version || rtrim(table.str(Field::CLASSNAME)) != className ||
        rtrim(table.str(Field::ATTRIBUTE)) != attribute)
      continue;
    ++matches;
    flags.clear();
    for (Field f : {Field::NO_MATCH, Field::ALL_OK, Field::TYPEPROBLM, Field::LEVELPROB, Field::COMPARED,
                    Field::PARENTOK, Field::CLASSFOUND})
      flags += table.flag(f) ? 'T' : 'F';
  }
  EXPECT_EQ(matches, 1) << version << " " << className << "." << attribute;
  return matches == 1 ? flags : std::string();
}

void appendRow(model::Mpdms& table, const std::string& version, const std::string& className,
               const std::string& parent, const std::string& kind, const std::string& attribute,
               const std::string& type, const std::string& level) {
  using model::Field;
  table.append();
  table.setStr(Field::MODELVERS, version);
  table.setStr(Field::CLASSNAME, className);
  table.setStr(Field::PARENTNAME, parent);
  table.setStr(Field::PROP_METHO, kind);
  table.setStr(Field::ATTRIBUTE, attribute);
  table.setStr(Field::TYPE, type);
  table.setStr(Field::INS_CLASS, level);
}

}  // namespace wftest
