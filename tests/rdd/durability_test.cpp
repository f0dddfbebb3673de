// An index file never silently disagrees with its table: after a kill between writes, after a
// failed write, after the table was changed without the index. And index files stay compact.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "harness.h"

using namespace rddtest;

namespace {

// Walks order 1 and checks it holds every record once, in key order, with the record's key.
// Answers the number of entries walked (or -1 after a reported fault).
int checkOrderMatchesTable(rdd::Table& t) {
  t.setOrder(1);
  std::string last;
  std::set<std::uint32_t> seen;
  for (t.goTop(); !t.eof(); t.skip()) {
    std::string key(t.rawField(0));
    if (key < last) {
      ADD_FAILURE() << "keys out of order at record " << t.recNo();
      return -1;
    }
    last = key;
    if (!seen.insert(t.recNo()).second) {
      ADD_FAILURE() << "record " << t.recNo() << " twice";
      return -1;
    }
    if (!t.seek(key)) {
      ADD_FAILURE() << "key of record " << t.recNo() << " not found by seek";
      return -1;
    }
  }
  EXPECT_EQ(seen.size(), t.lastRec());
  return static_cast<int>(seen.size());
}

std::string rowName(int i) { return "n" + std::to_string((i * 7919) % 100000); }

// Opens t.dbf with index idx (order NAME), appends `rows`, flushing after `flushAfter` of them.
void appendRows(rdd::Table& t, int from, int rows, int flushAfter) {
  for (int i = 0; i < rows; ++i) {
    addRow(t, rowName(from + i), "c");
    if (i + 1 == flushAfter) t.flush();
  }
}

}  // namespace

// ---- a writer killed between flushes ----

TEST(Durability, IndexOfAWriterKilledBetweenFlushesIsRebuiltAtTheNextOpen) {
  for (bool shared : {false, true}) {
    ScratchDir dir;
    ErrorLog log;
    ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
    {
      auto t = rdd::Table::open("t", dir.str());
      appendRows(*t, 0, 50, 0);
      t->createOrder("name", "idx", "NAME", nullptr, false);
    }
    pid_t kid = fork();
    if (kid == 0) {
      rdd::OpenOptions opt;
      opt.shared = shared;
      auto t = rdd::Table::open("t", dir.str(), opt);
      if (!t || !t->openIndex("idx")) _exit(2);
      appendRows(*t, 50, 300, 100);  // flushed after 100, then 200 more only in memory
      t->goTop();                    // the last row committed to the table
      raise(SIGKILL);
    }
    int status = 0;
    waitpid(kid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "shared " << shared;
    auto t = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(t->openIndex("idx"));
    std::uint32_t rows = t->lastRec();
    EXPECT_GE(rows, 150u) << "shared " << shared;  // what the killed writer had flushed at least
    if (shared) {
      EXPECT_EQ(rows, 350u);  // shared appends reach the table at once
    }
    EXPECT_EQ(checkOrderMatchesTable(*t), static_cast<int>(rows)) << "shared " << shared;
    EXPECT_TRUE(log.empty());
  }
}

TEST(Durability, TableChangedWithoutItsIndexGetsTheIndexRebuilt) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    appendRows(*t, 0, 20, 0);
    t->createOrder("name", "idx", "NAME", nullptr, false);
  }
  {
    auto t = rdd::Table::open("t", dir.str());  // index not opened: its orders are not kept
    appendRows(*t, 20, 30, 0);
  }
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  EXPECT_EQ(checkOrderMatchesTable(*t), 50);
  EXPECT_TRUE(t->seek(rowName(45)));
  EXPECT_TRUE(log.empty());
}

TEST(Durability, ALiveWriterIsNotTakenForAStoppedOne) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    appendRows(*t, 0, 10, 0);
    t->createOrder("name", "idx", "NAME", nullptr, false);
  }
  auto a = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(a->openIndex("idx"));
  appendRows(*a, 10, 5, 0);  // unwritten changes: a counts itself in the stamp
  a->goTop();
  auto before = readBytes(dir.file("idx.cdx"));
  auto b = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(b->openIndex("idx"));
  EXPECT_EQ(readBytes(dir.file("idx.cdx")), before);  // b trusted the file: no rebuild written
  a->close();                                          // a writes its rows
  b->close();
  auto c = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(c->openIndex("idx"));
  EXPECT_EQ(checkOrderMatchesTable(*c), 15);
  EXPECT_TRUE(log.empty());
}

TEST(Durability, SharedAppendsAreInTheTableFileBeforeTheNextPositioningEnds) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto a = rdd::Table::open("t", dir.str());
  auto b = rdd::Table::open("t", dir.str());
  a->append();
  EXPECT_EQ(b->lastRec(), 1u);  // the new row is on disk at once
  a->put("NAME", rt::Value("first"));
  a->goTop();  // commits the row's fields
  b->goTo(1);
  EXPECT_EQ(b->get("NAME").asString(), pad("first", 10));
  EXPECT_TRUE(log.empty());
}

// ---- failed writes ----

TEST(Durability, AFailedWriteAtAnyPointLeavesFilesThatAgreeAfterReopening) {
  for (int failAt = 1, reached = 1; reached >= failAt; ++failAt) {  // until the fault is not reached
    auto mem = rdd::newMemEnv();
    rdd::FaultEnv faults(mem.get());
    rdd::OpenOptions opt;
    opt.env = &faults;
    opt.shared = false;
    opt.maxLeafKeys = 4;
    {
      ErrorLog log;
      ASSERT_TRUE(rdd::createTable("t.dbf", smallLayout(), mem.get()));
      auto t = rdd::Table::open("t", "", opt);
      appendRows(*t, 0, 30, 0);
      t->createOrder("name", "idx", "NAME", nullptr, false);
      t->flush();
      faults.failWriteNumber(failAt);
      faults.failEveryWriteAfterFirstFault(true);
      const int before = faults.writesSeen();
      appendRows(*t, 30, 40, 20);
      t->close();
      reached = faults.writesSeen() - before;
    }
    ErrorLog log;
    opt.env = mem.get();
    auto t = rdd::Table::open("t", "", opt);
    ASSERT_TRUE(t) << "fail at " << failAt;
    ASSERT_TRUE(t->openIndex("idx")) << "fail at " << failAt;
    EXPECT_EQ(checkOrderMatchesTable(*t), static_cast<int>(t->lastRec())) << "fail at " << failAt;
    EXPECT_TRUE(log.empty()) << "fail at " << failAt;
  }
}

// ---- the index file's size ----

TEST(IndexFileSize, RebuildingEveryOrderLeavesACompactFile) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  rdd::OpenOptions opt;
  opt.shared = false;
  auto t = rdd::Table::open("t", dir.str(), opt);
  appendRows(*t, 0, 3000, 0);
  t->createOrder("name", "idx", "NAME", nullptr, false);
  t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
  t->close();
  auto fresh = std::filesystem::file_size(dir.file("idx.cdx"));
  for (int round = 0; round < 3; ++round) {
    t = rdd::Table::open("t", dir.str(), opt);
    ASSERT_TRUE(t->openIndex("idx"));
    t->deleteOrder(1);
    t->deleteOrder(1);
    t->createOrder("name", "idx", "NAME", nullptr, false);
    t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
    t->close();
    EXPECT_LE(std::filesystem::file_size(dir.file("idx.cdx")), fresh + 2048) << "round " << round;
  }
  t = rdd::Table::open("t", dir.str(), opt);
  ASSERT_TRUE(t->openIndex("idx"));
  EXPECT_EQ(checkOrderMatchesTable(*t), 3000);
  EXPECT_TRUE(log.empty());
}

TEST(IndexFileSize, RepeatedFlushesKeepTheFileWithinThreeImages) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str());
  appendRows(*t, 0, 2000, 0);
  t->createOrder("name", "idx", "NAME", nullptr, false);
  t->flush();
  auto image = std::filesystem::file_size(dir.file("idx.cdx"));
  for (int round = 0; round < 20; ++round) {
    appendRows(*t, 2000 + round * 10, 10, 0);
    t->flush();
    EXPECT_LE(std::filesystem::file_size(dir.file("idx.cdx")), 3 * image + 8192) << "round " << round << " image " << image;
  }
  EXPECT_EQ(checkOrderMatchesTable(*t), 2200);
  EXPECT_TRUE(log.empty());
}

// Each flush writes a larger image behind the previous one: the disk space of the images before
// that one goes back, while the previous image stays whole for a reader that read the old header.
TEST(IndexFileSize, ImagesOlderThanThePreviousOneGiveBackTheirDiskSpace) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str());
  appendRows(*t, 0, 4000, 0);
  t->createOrder("name", "idx", "NAME", nullptr, false);
  t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
  t->flush();
  std::vector<std::uint64_t> ends{std::filesystem::file_size(dir.file("idx.cdx"))};
  for (int round = 1; round <= 3; ++round) {
    appendRows(*t, round * 4000, 4000, 0);
    t->flush();
    ends.push_back(std::filesystem::file_size(dir.file("idx.cdx")));
    ASSERT_GT(ends.back(), ends[ends.size() - 2]) << "round " << round << ": the image was meant to go behind";
  }
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("idx.cdx").c_str(), &st), 0);
  const std::uint64_t allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
  // The header's block, the previous image and the current one.
  EXPECT_LE(allocated, 4096 + (ends[3] - ends[1]) + 8192) << "file size " << ends[3];
  t->close();
  t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  EXPECT_EQ(checkOrderMatchesTable(*t), 16000);
  EXPECT_TRUE(log.empty());
}

// ---- a batch of order changes ----

namespace {

std::uint32_t changeCounter(const std::string& indexPath) {
  std::vector<unsigned char> b = readBytes(indexPath);
  return b.size() < 12 ? 0 : b[8] | b[9] << 8 | b[10] << 16 | static_cast<std::uint32_t>(b[11]) << 24;
}

// Deletes every order of idx and creates NAME and CITY again, inside one batch.
void rebuildInBatch(rdd::Table& t) {
  t.beginOrderChanges();
  while (t.orderCount() > 0) t.deleteOrder(1);
  t.createOrder("name", "idx", "NAME", nullptr, false);
  t.createOrder("city", "idx", "CITY", nullptr, false);
}

// Everything of an index file behind its header page (which holds the stamp).
std::vector<unsigned char> pagesOf(const std::string& indexPath) {
  auto bytes = readBytes(indexPath);
  bytes.erase(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 1024));
  return bytes;
}

}  // namespace

// Inside the batch the first record changes: its key (the orders come out different and the file
// is written once, at the end) or only a field no order keys on (the orders come out as they were:
// the pages stay, and only the stamp learns the table's new state).
TEST(Durability, BatchOfOrderChangesWritesTheIndexOnceAtItsEndAndOnlyWhenItsOrdersChanged) {
  for (bool shared : {false, true}) {
    for (bool keyChanged : {true, false}) {
      SCOPED_TRACE(std::string(shared ? "shared" : "exclusive") + (keyChanged ? ", key changed" : ", key kept"));
      ScratchDir dir;
      ErrorLog log;
      ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
      {
        auto t = rdd::Table::open("t", dir.str());
        appendRows(*t, 0, 40, 0);
        t->createOrder("name", "idx", "NAME", nullptr, false);
        t->createOrder("city", "idx", "CITY", nullptr, false);
      }
      rdd::OpenOptions opt;
      opt.shared = shared;
      auto t = rdd::Table::open("t", dir.str(), opt);
      ASSERT_TRUE(t->openIndex("idx"));
      const std::uint32_t before = changeCounter(dir.file("idx.cdx"));
      const auto pagesBefore = pagesOf(dir.file("idx.cdx"));
      t->beginOrderChanges();
      t->goTo(1);
      if (keyChanged) t->put("NAME", rt::Value("zzz"));
      else t->putLogical(t->fieldIndex("OK"), !t->logical(t->fieldIndex("OK")));
      while (t->orderCount() > 0) t->deleteOrder(1);
      t->createOrder("name", "idx", "NAME", nullptr, false);
      t->createOrder("city", "idx", "CITY", nullptr, false);
      EXPECT_EQ(changeCounter(dir.file("idx.cdx")), before);
      t->endOrderChanges();
      EXPECT_EQ(changeCounter(dir.file("idx.cdx")), keyChanged ? before + 1 : before);
      if (!keyChanged) {
        EXPECT_EQ(pagesOf(dir.file("idx.cdx")), pagesBefore);
      }
      if (shared) addRow(*t, "after", "x");  // the header lock was released: appends go on
      t.reset();
      auto again = rdd::Table::open("t", dir.str());
      ASSERT_TRUE(again->openIndex("idx"));
      EXPECT_EQ(again->orderCount(), 2);
      EXPECT_EQ(again->orderName(2), "CITY");
      EXPECT_EQ(checkOrderMatchesTable(*again), shared ? 41 : 40);
      EXPECT_EQ(changeCounter(dir.file("idx.cdx")), (keyChanged ? before + 1 : before) + (shared ? 1 : 0))
          << "the index was rebuilt at the open";
      for (const auto& e : log.errors) ADD_FAILURE() << e->description;
    }
  }
}

TEST(Durability, WriterKilledInsideABatchOfOrderChangesLeavesAnIndexRebuiltAtTheNextOpen) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    appendRows(*t, 0, 60, 0);
    t->createOrder("name", "idx", "NAME", nullptr, false);
  }
  pid_t kid = fork();
  if (kid == 0) {
    auto t = rdd::Table::open("t", dir.str());
    if (!t || !t->openIndex("idx")) _exit(2);
    rebuildInBatch(*t);
    raise(SIGKILL);
  }
  int status = 0;
  waitpid(kid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  // The lock died with the writer: another opener appends and finds every row through the index.
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  addRow(*t, "late", "x");
  t->flush();
  EXPECT_EQ(checkOrderMatchesTable(*t), 61);
  EXPECT_TRUE(t->seek("late"));
  EXPECT_TRUE(log.empty());
}
