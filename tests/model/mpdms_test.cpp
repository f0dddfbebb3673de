#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "model/model.h"

using model::Field;
using model::Mpdms;

namespace {

struct ErrorLog {
  std::vector<rt::ErrorPtr> errors;
  ErrorLog() {
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      errors.push_back(e);
      return rt::Value(false);
    });
  }
  ~ErrorLog() { rt::setErrorBlock({}); }
};

struct Dir {
  std::filesystem::path path;
  Dir() {
    char tmpl[] = "/tmp/mpdmstestXXXXXX";
    path = mkdtemp(tmpl);
  }
  ~Dir() { std::filesystem::remove_all(path); }
  std::string str() const { return path.string() + "/"; }
};

std::string pad(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

Mpdms::Args at(const Dir& d, std::optional<bool> shared = std::nullopt) {
  Mpdms::Args a;
  a.dbfPath = d.str();
  a.shared = shared;
  return a;
}

// The forced index build of the maintenance workflow, driven by IndexList.
void buildIndex(Mpdms& m) {
  int open = m.orderCount();
  for (int i = 0; i < open; ++i) m.deleteOrder(1, "");
  for (const auto& idx : model::indexList())
    for (const auto& o : idx.orders) {
      m.setOrderCondition();
      m.setOrder(0);
      m.goTop();
      m.createOrder(o.tag, m.tablePath() + idx.stem, o.keyExpr, rt::compile("{||" + o.keyExpr + "}"),
                    !o.duplicatesAllowed);
    }
}

void addRow(Mpdms& m, const std::string& vers, const std::string& cls, const std::string& parent,
            const std::string& pm = "", const std::string& attr = "", const std::string& ic = "") {
  m.append();
  m.setStr(Field::MODELVERS, vers);
  m.setStr(Field::CLASSNAME, cls);
  m.setStr(Field::PARENTNAME, parent);
  m.setStr(Field::PROP_METHO, pm);
  m.setStr(Field::ATTRIBUTE, attr);
  m.setStr(Field::INS_CLASS, ic);
  m.setStr(Field::FAMILYNAME, "Fam");
}

class MpdmsTable : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rdd::createTable(dir.str() + "Mpdms.dbf", model::tableLayout()));
  }
  Dir dir;
  ErrorLog log;
};

}  // namespace

// ---- the descriptors ----

TEST(MpdmsLayout, FieldDescListsFifteenFieldsWithSpecClassesAndRecordIs210) {
  const auto& fd = model::fieldDesc();
  ASSERT_EQ(fd.size(), 15u);
  EXPECT_EQ(fd[0].name, "MODELVERS");
  EXPECT_EQ(fd[0].fieldSpec->className(), "MPDMS_MODELVERS");
  EXPECT_EQ(fd[4].fieldSpec->caption, "Ins Class");
  EXPECT_EQ(fd[14].fieldSpec->helpContext, "Mpdms_CLASSFOUND");
  int len = 1;
  for (const auto& d : fd) len += d.fieldSpec->length;
  EXPECT_EQ(len, model::kRecordLength);
  const auto& il = model::indexList();
  ASSERT_EQ(il.size(), 1u);
  EXPECT_EQ(il[0].stem, "mpdms1");
  ASSERT_EQ(il[0].orders.size(), 2u);
  EXPECT_EQ(il[0].orders[1].keyExpr, "MODELVERS+CLASSNAME+PROP_METHO+ATTRIBUTE+INS_CLASS");
}

// ---- opening ----

TEST_F(MpdmsTable, EmptyTableOpensWithEofAtTopAndNoRecords) {
  Mpdms m(at(dir));
  ASSERT_TRUE(m.used());
  EXPECT_EQ(*m.lSharedMode(), true);  // exclusive setting off: shared
  m.goTop();
  EXPECT_TRUE(m.eof());
  EXPECT_EQ(m.lastRec(), 0u);
  EXPECT_EQ(m.orderCount(), 0);  // no index file yet: natural order
  EXPECT_TRUE(log.errors.empty());
  EXPECT_EQ(m.get(rt::Symbol("cName")).asString(), "Mpdms.dbf");
  EXPECT_EQ(m.get(rt::Symbol("xDriver")).asString(), "DBFCDX");
  EXPECT_EQ(m.get(rt::Symbol("nOrder")).asLong(), 1);
}

TEST(MpdmsOpen, MissingTableSaysWhichFileInWhichDirectoryAndIsNotUsed) {
  Dir dir;
  ErrorLog log;
  Mpdms m(at(dir, true));
  EXPECT_FALSE(m.used());
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_NE(log.errors[0]->description.find("Mpdms.dbf"), std::string::npos);
  EXPECT_NE(log.errors[0]->description.find(dir.str()), std::string::npos);
  EXPECT_EQ(m.orderCount(), 0);
}

TEST(MpdmsOpen, MissingTableInTheCurrentDirectoryNamesThatDirectory) {
  Dir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path);
  ErrorLog log;
  Mpdms::Args args;
  args.shared = true;
  Mpdms m(args);
  std::filesystem::current_path(previous);
  EXPECT_FALSE(m.used());
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_NE(log.errors[0]->description.find("Mpdms.dbf not found in the current directory " + dir.str()),
            std::string::npos)
      << log.errors[0]->description;
}

TEST_F(MpdmsTable, ExclusiveOpenWhileSharedFailsSilentlyAndIsNotUsed) {
  Mpdms shared(at(dir, true));
  Mpdms exclusive(at(dir, false));
  EXPECT_FALSE(exclusive.used());
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.errors[0]->genCode, rt::EG_OPEN);
  EXPECT_EQ(log.errors[0]->osCode, 32);
  EXPECT_TRUE(log.errors[0]->canDefault);
}

TEST_F(MpdmsTable, IndexFileIsOpenedAndOrderOneControlsAfterReopening) {
  {
    Mpdms m(at(dir));
    addRow(m, "V2", "B", "Obj");
    addRow(m, "V1", "A", "Obj");
    buildIndex(m);
    EXPECT_EQ(m.orderCount(), 2);
    m.close();
  }
  EXPECT_TRUE(std::filesystem::exists(dir.path / "mpdms1.cdx"));
  Mpdms m(at(dir));
  EXPECT_EQ(m.orderCount(), 2);
  EXPECT_EQ(m.controllingOrder(), 1);
  EXPECT_EQ(m.orderName(1), "MPDMS1");
  EXPECT_EQ(m.recNo(), 2u);  // at the top of order 1: version V1 first
}

// ---- the edge cases of the model table ----

TEST_F(MpdmsTable, ShortVersionIsStoredPaddedAndFoundWithPaddedClassName) {
  Mpdms m(at(dir));
  addRow(m, "v1", "Customer", "Object");
  addRow(m, "v1", "Customer", "Object", "P", "Name", "I");
  buildIndex(m);
  m.goTo(1);
  EXPECT_EQ(m.fieldGet("MODELVERS").asString(), pad("v1", 15));
  m.setOrder(1);
  EXPECT_TRUE(m.seek(pad("v1", 15) + pad("Customer", 50)));
  EXPECT_EQ(m.recNo(), 1u);
  EXPECT_FALSE(m.seek(pad("v1", 15) + pad("Custom", 50)));
}

TEST_F(MpdmsTable, TwoVersionsSortAsSeparateContiguousGroupsInBothOrders) {
  Mpdms m(at(dir));
  for (const char* cls : {"B", "A", "C"}) {
    addRow(m, "new", cls, "Obj");
    addRow(m, "old", cls, "Obj");
  }
  buildIndex(m);
  for (int order : {1, 2}) {
    m.setOrder(order);
    std::string seen;
    for (m.goTop(); !m.eof(); m.skip()) seen += std::string(m.str(Field::MODELVERS).substr(0, 3)) + ",";
    EXPECT_EQ(seen, "new,new,new,old,old,old,") << "order " << order;
  }
}

TEST_F(MpdmsTable, IdenticalKeysAreBothKeptAndSeekLandsOnTheFirst) {
  Mpdms m(at(dir));
  addRow(m, "v", "A", "Obj", "P", "x", "I");
  addRow(m, "v", "A", "Obj", "P", "x", "I");
  buildIndex(m);
  m.setOrder(2);
  EXPECT_TRUE(m.seek(pad("v", 15) + pad("A", 50) + "P"));
  EXPECT_EQ(m.recNo(), 1u);
  m.skip();
  EXPECT_EQ(m.recNo(), 2u);
}

TEST_F(MpdmsTable, NewRowReadsFalseInAllSevenFlags) {
  Mpdms m(at(dir));
  m.append();
  for (int f = static_cast<int>(Field::NO_MATCH); f <= static_cast<int>(Field::CLASSFOUND); ++f) {
    rt::Value v = m.fieldGet(model::fieldDesc()[f].name);
    EXPECT_TRUE(v.isLogical());
    EXPECT_FALSE(v.asLogical()) << model::fieldDesc()[f].name;
  }
}

TEST_F(MpdmsTable, FlagWritesReachTheFileAndKeepTheKeys) {
  {
    Mpdms m(at(dir));
    addRow(m, "v", "A", "Obj");
    addRow(m, "v", "B", "Obj");
    buildIndex(m);
    m.setOrder(1);
    ASSERT_TRUE(m.seek(pad("v", 15) + pad("B", 50)));
    m.put(rt::Symbol("COMPARED"), rt::Value(true));
    m.setFlag(Field::ALL_OK, true);
    m.goTo(1);
    m.setFlag(Field::NO_MATCH, true);
    m.close();
  }
  Mpdms m(at(dir));
  m.goTo(2);
  EXPECT_TRUE(m.flag(Field::COMPARED));
  EXPECT_TRUE(m.get(rt::Symbol("ALL_OK")).asLogical());
  m.goTo(1);
  EXPECT_TRUE(m.flag(Field::NO_MATCH));
  EXPECT_TRUE(m.seek(pad("v", 15) + "B"));
  EXPECT_EQ(m.recNo(), 2u);
}

// A flag written again with the value it holds leaves the row as it is; a changed one, and a
// short text over a longer one, reach the file whole (the rest of the field blank). A closed
// server's typed accessors answer blank and write nothing, raising nothing.
TEST_F(MpdmsTable, FieldWritesStoreWhatChangedAndAClosedServerAnswersBlank) {
  {
    Mpdms m(at(dir));
    addRow(m, "v", "LongClassName", "Obj");
    m.setFlag(Field::ALL_OK, true);
    m.goTo(1);
    m.setFlag(Field::ALL_OK, true);
    m.setFlag(Field::NO_MATCH, false);
    m.setFlag(Field::COMPARED, true);
    m.setStr(Field::CLASSNAME, "Short");
    m.setStr(Field::INS_CLASS, "");
    m.close();
    m.setStr(Field::CLASSNAME, "Lost");
    m.setFlag(Field::COMPARED, false);
    EXPECT_EQ(m.str(Field::CLASSNAME), "");
    EXPECT_FALSE(m.flag(Field::COMPARED));
  }
  Mpdms m(at(dir));
  m.goTo(1);
  EXPECT_TRUE(m.flag(Field::ALL_OK));
  EXPECT_FALSE(m.flag(Field::NO_MATCH));
  EXPECT_TRUE(m.flag(Field::COMPARED));
  EXPECT_EQ(m.str(Field::CLASSNAME), pad("Short", 50));
  EXPECT_EQ(m.str(Field::INS_CLASS), " ");
  EXPECT_EQ(m.str(Field::PARENTNAME), pad("Obj", 50));
  EXPECT_TRUE(log.errors.empty());
}

TEST_F(MpdmsTable, ZapOnExclusiveServerEmptiesTableAndIndex) {
  {
    Mpdms m(at(dir));
    addRow(m, "v", "A", "Obj");
    buildIndex(m);
  }
  Mpdms m(at(dir, false));
  ASSERT_TRUE(m.used());
  m.zap();
  EXPECT_EQ(m.lastRec(), 0u);
  m.close();
  Mpdms again(at(dir, true));
  EXPECT_EQ(again.orderCount(), 2);
  again.goTop();
  EXPECT_TRUE(again.eof());
  EXPECT_TRUE(log.errors.empty());
  EXPECT_EQ(std::filesystem::file_size(dir.path / "Mpdms.dbf"), 514u);
}

TEST(MpdmsDemo, ShippedEmptyTableMatchesTheLayoutByteForByte) {
  Dir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.str() + "Mpdms.dbf", model::tableLayout()));
  std::string shipped = std::string(ZMC_DEMO_DIR) + "/Mpdms.dbf";
  ASSERT_TRUE(std::filesystem::exists(shipped));
  auto read = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string a = read(shipped), b = read(dir.str() + "Mpdms.dbf");
  ASSERT_EQ(a.size(), 514u);
  EXPECT_EQ(a.substr(4), b.substr(4));  // all but the date of last update
  EXPECT_EQ(a[10], char(210));
  EXPECT_EQ(a[8] | a[9] << 8, 513);
}
