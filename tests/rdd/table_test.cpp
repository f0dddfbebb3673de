#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "harness.h"

using namespace rddtest;

namespace {

std::unique_ptr<rdd::Table> freshTable(const ScratchDir& dir, rdd::OpenOptions opt = {}) {
  EXPECT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  return rdd::Table::open("t", dir.str(), opt);
}

}  // namespace

// ---- records: what is stored and read back ----

TEST(TableRecords, EmptyTableOpensAtEndWithNoRecords) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir);
  ASSERT_TRUE(t && t->used());
  t->goTop();
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->lastRec(), 0u);
  EXPECT_EQ(t->recNo(), 1u);
  EXPECT_TRUE(log.empty());
}

TEST(TableRecords, AppendedRowIsCurrentBlankAndReadsFalseInLogicals) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir);
  t->append();
  EXPECT_FALSE(t->eof());
  EXPECT_EQ(t->recNo(), 1u);
  EXPECT_EQ(t->get("NAME").asString(), std::string(10, ' '));
  rt::Value ok = t->get("OK");
  EXPECT_TRUE(ok.isLogical());
  EXPECT_FALSE(ok.asLogical());
}

TEST(TableRecords, CharacterValuesAreStoredBlankPaddedAndReadAtFullWidth) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir);
  addRow(*t, "Ann", "Oslo-and-more");  // longer than 8: cut to the width
  t->put("OK", rt::Value(true));
  t->close();
  auto bytes = readBytes(dir.file("t.dbf"));
  // header 32 + 3*32 + 1 = 129; record length 20; one record; EOF marker.
  ASSERT_EQ(bytes.size(), 129u + 20u + 1u);
  std::string rec(bytes.begin() + 129, bytes.begin() + 149);
  EXPECT_EQ(rec, " Ann       Oslo-andT");
  EXPECT_EQ(bytes.back(), 0x1A);
  EXPECT_EQ(bytes[4], 1);  // record count
  auto again = rdd::Table::open("t.dbf", dir.str());
  EXPECT_EQ(again->get("CITY").asString(), "Oslo-and");
  EXPECT_TRUE(again->get("OK").asLogical());
}

TEST(TableRecords, HeaderDateIsTodayInYearsSince1900) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir);
  addRow(*t, "a", "b");
  t->close();
  auto bytes = readBytes(dir.file("t.dbf"));
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  EXPECT_EQ(bytes[1], tm.tm_year);
  EXPECT_EQ(bytes[2], tm.tm_mon + 1);
  EXPECT_EQ(bytes[3], tm.tm_mday);
}

TEST(TableRecords, NavigationInNaturalOrder) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir);
  for (int i = 0; i < 5; ++i) addRow(*t, "n" + std::to_string(i), "c");
  t->goTop();
  EXPECT_EQ(t->recNo(), 1u);
  t->skip(3);
  EXPECT_EQ(t->recNo(), 4u);
  t->skip();
  t->skip();
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->recNo(), 6u);
  t->goTo(2);
  EXPECT_EQ(t->get("NAME").asString(), pad("n1", 10));
  t->goTo(99);
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->get("NAME").asString(), std::string(10, ' '));
}

TEST(TableRecords, DeletedRowsAreHiddenWhileTheSettingIsOn) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir);
  for (int i = 0; i < 3; ++i) addRow(*t, "n" + std::to_string(i), "c");
  t->goTo(2);
  t->deleteRecord();
  rdd::registerFunctions();
  EXPECT_TRUE(rt::callFunction(rt::Symbol("DELETED"), {}).asLogical());
  rt::setDeleted(true);
  t->goTop();
  t->skip();
  EXPECT_EQ(t->recNo(), 3u);
  rt::setDeleted(false);
  t->goTop();
  t->skip();
  EXPECT_EQ(t->recNo(), 2u);
  EXPECT_EQ(t->lastRec(), 3u);
}

TEST(TableRecords, WritesOfTheWrongTypeAreRaisedAndNotStored) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir);
  t->append();
  t->put("OK", rt::Value("yes"));
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.last().genCode, rt::EG_DATATYPE);
  t->put("NOSUCH", rt::Value("x"));
  EXPECT_EQ(log.last().genCode, rt::EG_NOVAR);
  EXPECT_NE(log.last().description.find("NOSUCH"), std::string::npos);
  EXPECT_FALSE(t->get("OK").asLogical());
}

TEST(TableRecords, ZapNeedsExclusiveAndEmptiesTheFile) {
  ScratchDir dir;
  ErrorLog log;
  {
    auto t = freshTable(dir);
    for (int i = 0; i < 3; ++i) addRow(*t, "n", "c");
    t->zap();
    EXPECT_EQ(log.last().genCode, rt::EG_SHARED);
    EXPECT_EQ(t->lastRec(), 3u);
  }
  rdd::OpenOptions ex;
  ex.shared = false;
  auto t = rdd::Table::open("t", dir.str(), ex);
  t->zap();
  EXPECT_EQ(t->lastRec(), 0u);
  t->close();
  EXPECT_EQ(readBytes(dir.file("t.dbf")).size(), 130u);
}

// ---- bad input: each refused with the file and the fault named ----

struct BadTable {
  const char* what;
  std::function<void(std::vector<unsigned char>&)> damage;
  const char* expected;
};

TEST(TableBadInput, DamagedHeadersAreRefusedWithFileNameAndReason) {
  const BadTable cases[] = {
      {"version", [](auto& b) { b[0] = 0x30; }, "not a dBASE III table"},
      {"truncated", [](auto& b) { b.resize(20); }, "truncated"},
      {"header length", [](auto& b) { b[8] = 0xFF; b[9] = 0x7F; }, "header length"},
      {"record length", [](auto& b) { b[10] = 30; }, "record length"},
      {"count", [](auto& b) { b[4] = 9; }, "promises 9 records"},
      {"terminator", [](auto& b) { b[128] = 'X'; }, "run past the header"},
      {"logical width", [](auto& b) { b[32 + 64 + 16] = 2; }, "unsupported type"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    ErrorLog log;
    ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
    {
      auto t = rdd::Table::open("t", dir.str());
      addRow(*t, "x", "y");
    }
    auto bytes = readBytes(dir.file("t.dbf"));
    c.damage(bytes);
    writeBytes(dir.file("t.dbf"), bytes);
    auto before = readBytes(dir.file("t.dbf"));
    auto t = rdd::Table::open("t", dir.str());
    EXPECT_FALSE(t) << c.what;
    ASSERT_FALSE(log.empty()) << c.what;
    EXPECT_NE(log.last().description.find(c.expected), std::string::npos) << c.what << ": " << log.last().description;
    EXPECT_NE(log.last().description.find(dir.file("t.dbf")), std::string::npos) << c.what;
    EXPECT_EQ(readBytes(dir.file("t.dbf")), before) << c.what << ": nothing may be written";
  }
}

// An emptying stopped between cutting the file and writing its header (as earlier builds could)
// leaves a bare header that still counts records: the table opens empty, with a warning, and the
// header is corrected where the table may be written.
TEST(TableBadInput, ATableCutToItsHeaderWhileItStillCountsRecordsOpensEmptyWithAWarning) {
  for (bool readOnly : {false, true}) {
    ScratchDir dir;
    ErrorLog log;
    ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
    {
      auto t = rdd::Table::open("t", dir.str());
      for (int i = 0; i < 5; ++i) addRow(*t, "x", "y");
    }
    auto bytes = readBytes(dir.file("t.dbf"));
    bytes.resize(32 + 3 * 32 + 1 + (readOnly ? 1 : 0));  // the header, with or without the end mark
    writeBytes(dir.file("t.dbf"), bytes);
    rdd::OpenOptions opt;
    opt.readOnly = readOnly;
    auto t = rdd::Table::open("t", dir.str(), opt);
    ASSERT_TRUE(t) << "read-only " << readOnly;
    EXPECT_EQ(t->lastRec(), 0u);
    EXPECT_TRUE(log.errors.empty());  // the emptying was asked for: a warning in the log only
    ASSERT_EQ(log.warnings.size(), 1u);
    EXPECT_NE(log.warnings[0]->description.find("counted 5 records"), std::string::npos) << log.warnings[0]->description;
    t.reset();
    EXPECT_EQ(readBytes(dir.file("t.dbf"))[4], readOnly ? 5 : 0) << "read-only " << readOnly;
  }
}

TEST(TableBadInput, MissingTableNamesFileAndDirectory) {
  ScratchDir dir;
  ErrorLog log;
  auto t = rdd::Table::open("Mpdms.dbf", dir.str());
  EXPECT_FALSE(t);
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.last().genCode, rt::EG_OPEN);
  EXPECT_TRUE(log.last().canDefault);
  EXPECT_NE(log.last().description.find("Mpdms.dbf"), std::string::npos);
  EXPECT_NE(log.last().description.find(dir.str()), std::string::npos);
}

// ---- faults injected under the driver ----

TEST(TableFaults, AFailedWriteIsRaisedAndTheFilesStillOpen) {
  for (int n = 1, reached = 1; reached >= n; ++n) {  // until the fault is not reached
    auto mem = rdd::newMemEnv();
    rdd::FaultEnv faulty(mem.get());
    ErrorLog log;
    ASSERT_TRUE(rdd::createTable("t.dbf", smallLayout(), mem.get()));
    rdd::OpenOptions opt;
    opt.env = &faulty;
    opt.shared = false;
    {
      auto t = rdd::Table::open("t.dbf", "", opt);
      ASSERT_TRUE(t);
      for (int i = 0; i < 3; ++i) addRow(*t, "r" + std::to_string(i), "c");
      t->createOrder("NAME", "t2", "NAME", nullptr, false);
      faulty.failWriteNumber(n);
      const int before = faulty.writesSeen();
      for (int i = 0; i < 3; ++i) addRow(*t, "s" + std::to_string(i), "c");
      t->close();
      reached = faulty.writesSeen() - before;
    }
    rdd::OpenOptions clean;
    clean.env = mem.get();
    log.errors.clear();
    auto t = rdd::Table::open("t.dbf", "", clean);
    ASSERT_TRUE(t) << "after write fault " << n;
    EXPECT_TRUE(t->openIndex("t2")) << "after write fault " << n << ": "
                                    << (log.empty() ? "" : log.last().description);
    EXPECT_GE(t->lastRec(), 3u);
  }
}

// A change to a record that cannot be read is refused: written over the unread record, it would
// blank that record's other fields.
TEST(TableFaults, AChangeToARecordThatCannotBeReadIsRaisedAndLeavesTheRecordWhole) {
  auto mem = rdd::newMemEnv();
  rdd::FaultEnv faulty(mem.get());
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable("t.dbf", smallLayout(), mem.get()));
  rdd::OpenOptions opt;
  opt.env = &faulty;
  {
    auto t = rdd::Table::open("t.dbf", "", opt);
    for (const char* name : {"ann", "bob", "cy"}) addRow(*t, name, "town");
    t->goTo(2);
    faulty.failReadNumber(1);
    t->put("CITY", rt::Value(std::string("moved")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.last().genCode, rt::EG_READ);
    EXPECT_NE(log.last().description.find("record 2"), std::string::npos) << log.last().description;
    EXPECT_NE(log.last().description.find("field CITY not written"), std::string::npos) << log.last().description;
    t->goTo(3);
    faulty.failReadNumber(1);
    t->deleteRecord();
    EXPECT_NE(log.last().description.find("not marked deleted"), std::string::npos) << log.last().description;
    t->goTo(1);
    t->putLogical(2, true);  // a readable record still takes changes
    t->close();
  }
  const std::size_t raised = log.errors.size();
  rdd::OpenOptions clean;
  clean.env = mem.get();
  auto t = rdd::Table::open("t.dbf", "", clean);
  t->goTo(2);
  EXPECT_EQ(rtrim(t->get("NAME").asString()), "bob");
  EXPECT_EQ(rtrim(t->get("CITY").asString()), "town");
  t->goTo(3);
  EXPECT_FALSE(t->deleted());
  EXPECT_EQ(rtrim(t->get("NAME").asString()), "cy");
  t->goTo(1);
  EXPECT_TRUE(t->logical(2));
  EXPECT_EQ(log.errors.size(), raised);
}

TEST(TableFaults, AFailedOpenLockIsRaisedAndLeavesTheTableUnused) {
  auto mem = rdd::newMemEnv();
  rdd::FaultEnv faulty(mem.get());
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable("t.dbf", smallLayout(), mem.get()));
  rdd::OpenOptions opt;
  opt.env = &faulty;
  faulty.failLockNumber(1);
  EXPECT_FALSE(rdd::Table::open("t.dbf", "", opt));
  EXPECT_EQ(log.last().genCode, rt::EG_OPEN);
}

namespace {

// Loads rows until a write fails, as the program's load does; answers whether the one error
// raised named the appending.
bool loadUntilFull(rdd::Env* env, const std::string& dir, bool shared) {
  ErrorLog log;
  rdd::OpenOptions opt;
  opt.env = env;
  opt.shared = shared;
  auto t = rdd::Table::open("t", dir, opt);
  for (int i = 0; t && i < 15000; ++i) {
    t->append();
    if (t->writeFailed()) break;
    t->put("NAME", rt::Value("n" + std::to_string(i)));
  }
  t->goTop();
  t->close();
  const bool named = log.errors.size() == 1 && log.last().operation == "DBAPPEND";
  for (const auto& e : log.errors)
    if (!named) ADD_FAILURE() << e->operation << ": " << e->description;
  return named;
}

}  // namespace

// A full disk or a limit on the file's size (ulimit -f) stops a load part-way: every row whose
// bytes reached the file stays, counted by the header, and the error names the appending rather
// than the positioning that happened to write the rows.
TEST(TableFaults, ALimitOnTheFileKeepsEveryRowThatReachedItAndTheErrorNamesTheAppend) {
  constexpr std::uint64_t kHeader = 32 + 3 * 32 + 1, kRecord = 20;
  for (bool processLimit : {false, true}) {
    for (bool shared : {false, true}) {
      for (std::uint64_t limit : {std::uint64_t{6144}, kHeader + 300 * kRecord}) {
        const std::string where = std::string(processLimit ? "file-size limit " : "full disk at ") +
                                  std::to_string(limit) + (shared ? ", shared" : ", exclusive");
        ScratchDir dir;
        auto mem = rdd::newMemEnv(limit);
        rdd::Env* env = processLimit ? rdd::defaultEnv() : mem.get();
        std::string tableDir = processLimit ? dir.str() : "";
        ASSERT_TRUE(rdd::createTable(tableDir + "t.dbf", smallLayout(), env));
        if (processLimit) {
          pid_t kid = fork();
          if (kid == 0) {
            rlimit lim{limit, limit};  // as ulimit -f sets it; the signal it sends is the driver's to handle
            setrlimit(RLIMIT_FSIZE, &lim);
            _exit(loadUntilFull(env, tableDir, shared) ? 0 : 3);
          }
          int status = 0;
          waitpid(kid, &status, 0);
          EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << where;
        } else {
          EXPECT_TRUE(loadUntilFull(env, tableDir, shared)) << where;
        }
        ErrorLog log;
        rdd::OpenOptions opt;
        opt.env = env;
        auto t = rdd::Table::open("t", tableDir, opt);
        ASSERT_TRUE(t) << where;
        EXPECT_EQ(t->lastRec(), (limit - kHeader) / kRecord) << where;
        t->goBottom();
        EXPECT_EQ(rtrim(std::string(t->rawField(0))), "n" + std::to_string(t->lastRec() - 1)) << where;
        EXPECT_TRUE(log.empty()) << where;
      }
    }
  }
}

// ---- long read-only scans ----

namespace {

// The table file's pages mapped into this process, in MB.
double mappedFileMb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("RssFile:", 0) == 0) return std::atof(line.c_str() + 8) / 1024.0;
  return 0;
}

// A table of one field, NAME C(250), of `count` records, each holding its record number.
void writeLongTable(const std::string& path, std::uint32_t count) {
  std::string header(32 + 32 + 1, '\0');
  header[0] = 0x03;
  const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) header[at + i] = static_cast<char>(v >> (8 * i));
  };
  put(4, count, 4);
  put(8, static_cast<std::uint32_t>(header.size()), 2);
  put(10, 251, 2);
  std::memcpy(&header[32], "NAME", 4);
  header[32 + 11] = 'C';
  header[32 + 16] = static_cast<char>(250);
  header.back() = 0x0D;
  std::ofstream out(path, std::ios::binary);
  out << header;
  for (std::uint32_t r = 1; r <= count; ++r) out << ' ' << pad("row " + std::to_string(r), 250);
  out.put(0x1A);
}

}  // namespace

// A read-only open lets go of the pages it has read through: opening a 50 MB table (which reads
// every deletion mark) and scanning it, front to back and then in strides, keeps well under the
// file's size mapped, and every row reads right.
TEST(TableReadOnlyScan, PagesReadThroughAreNotKeptResident) {
  ScratchDir dir;
  ErrorLog log;
  const std::uint32_t count = 200000;
  writeLongTable(dir.file("long.dbf"), count);
  const double before = mappedFileMb();
  rdd::OpenOptions options;
  options.readOnly = true;
  auto t = rdd::Table::open("long", dir.str(), options);
  ASSERT_TRUE(t && t->used());
  double most = 0;
  std::uint32_t wrong = 0, read = 0;
  const auto check = [&](std::uint32_t r) {
    wrong += rtrim(std::string(t->text(0))) != "row " + std::to_string(r);
    if (++read % 5000 == 0) most = std::max(most, mappedFileMb() - before);
  };
  for (t->goTop(); !t->eof(); t->skip(1)) check(t->recNo());
  for (std::uint32_t start = 1; start <= 7; ++start)
    for (std::uint32_t r = start; r <= count; r += 7) {
      t->goTo(r);
      check(r);
    }
  EXPECT_EQ(read, 2 * count);
  EXPECT_EQ(wrong, 0u);
  EXPECT_LT(most, 24.0) << "MB of the table mapped at once";
  EXPECT_TRUE(log.empty());
}

// A long run of reads and writes through the table's shared view lets go of its pages as it goes;
// every byte written is still there for the next open, in both modes.
TEST(TableFile, RowsRewrittenAcrossManyMegabytesKeepEveryWrite) {
  for (bool shared : {false, true}) {
    ScratchDir dir;
    ErrorLog log;
    ASSERT_TRUE(rdd::createTable(dir.file("w.dbf"), {{"TEXT", 'C', 250, 0, 0}}));
    rdd::OpenOptions opt;
    opt.shared = shared;
    constexpr std::uint32_t kRows = 60000;  // 15 MB
    {
      auto t = rdd::Table::open("w", dir.str(), opt);
      for (std::uint32_t r = 0; r < kRows; ++r) t->append();
      for (std::uint32_t r = 1; r <= kRows; ++r) {
        t->goTo(r);
        t->putStr(0, "row " + std::to_string(r));
      }
    }
    auto t = rdd::Table::open("w", dir.str(), opt);
    std::uint32_t wrong = 0;
    for (std::uint32_t r = 1; r <= kRows; ++r) {
      t->goTo(r);
      wrong += rtrim(std::string(t->rawField(0))) != "row " + std::to_string(r);
    }
    EXPECT_EQ(wrong, 0u) << (shared ? "shared" : "exclusive");
    EXPECT_TRUE(log.empty());
  }
}
