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

// An image large enough that its pages queue up for the writer: a write failing at any point of a
// flush stops the threads that lay the pages out (none waits for room that never comes), the
// failure is raised, and the next open finds orders that agree with the records.
TEST(Durability, AWriteFailingWhileIndexPagesQueueUpIsRaisedAndRepairedAtTheNextOpen) {
  constexpr int kRows = 200000;  // an image of some twenty pieces: many more than the queue holds
  ScratchDir kept, dir;
  {
    ASSERT_TRUE(rdd::createTable(kept.file("t.dbf"), smallLayout()));
    auto t = rdd::Table::open("t", kept.str());
    for (long long i = 0; i < kRows; ++i) addRow(*t, "n" + std::to_string(i * 7919 % kRows), "c");  // names unique
    t->createOrder("name", "idx", "NAME", nullptr, false);
    t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
  }
  // Round 0 counts the writes of a key change flushed and closed; each round after it starts from
  // the same files and fails one of those writes: the mark, the first piece, one half-way, the
  // header that ends the image, the cut after it.
  std::vector<int> failAt{0};
  for (std::size_t round = 0; round < failAt.size(); ++round) {
    SCOPED_TRACE(failAt[round]);
    for (const char* name : {"t.dbf", "idx.cdx"}) {  // as they were, their times too: the index is trusted
      std::filesystem::copy_file(kept.file(name), dir.file(name), std::filesystem::copy_options::overwrite_existing);
      std::filesystem::last_write_time(dir.file(name), std::filesystem::last_write_time(kept.file(name)));
    }
    {
      ErrorLog log;
      rdd::FaultEnv faults(rdd::defaultEnv());
      rdd::OpenOptions opt;
      opt.env = &faults;
      opt.shared = false;
      auto t = rdd::Table::open("t", dir.str(), opt);
      ASSERT_TRUE(t->openIndex("idx"));
      t->goTo(1);
      t->put("NAME", rt::Value("moved"));
      const int before = faults.writesSeen();
      faults.failWriteNumber(failAt[round]);
      faults.failEveryWriteAfterFirstFault(failAt[round] > 0);
      t->flush();
      t->close();
      if (round == 0) {
        const int writes = faults.writesSeen() - before;
        ASSERT_GT(writes, 16) << "the image was written in too few pieces";
        failAt.insert(failAt.end(), {1, 3, writes / 2, writes - 1, writes});
      }
      EXPECT_EQ(log.empty(), failAt[round] == 0) << "a failed write was not raised, or one that did not fail was";
    }
    ErrorLog log;
    auto t = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(t->openIndex("idx"));
    ASSERT_EQ(t->orderCount(), 2);
    EXPECT_EQ(checkOrderMatchesTable(*t), kRows);
    t->setOrder(2);
    int walked = 0;
    for (t->goTop(); !t->eof(); t->skip()) ++walked;
    EXPECT_EQ(walked, kRows);
    EXPECT_TRUE(log.empty());
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

// Each write goes over the image before it: the file holds its header and one image, as long as
// a file built from scratch over the same records, whether the images before it were smaller or
// larger.
TEST(IndexFileSize, EveryWriteLeavesOneImageAsLongAsAFreshBuild) {
  ScratchDir dir, fresh;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  rdd::OpenOptions exclusive;  // images are written at each flush only
  exclusive.shared = false;
  auto t = rdd::Table::open("t", dir.str(), exclusive);
  appendRows(*t, 0, 4000, 0);
  t->createOrder("name", "idx", "NAME", nullptr, false);
  t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"grown", [&] { appendRows(*t, 4000, 4000, 0); }},
      {"grown more", [&] { appendRows(*t, 8000, 12000, 0); }},
      {"an order fewer", [&] { t->deleteOrder(2); }},
      {"keys rewritten", [&] {
         for (std::uint32_t r = 1; r <= 20000; r += 2) {
           t->goTo(r);
           t->put("NAME", rt::Value("k" + std::to_string(r)));
         }
       }},
  };
  for (const auto& [what, step] : steps) {
    step();
    t->flush();
    std::filesystem::copy_file(dir.file("t.dbf"), fresh.file("t.dbf"), std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(fresh.file("idx.cdx"));
    {
      auto built = rdd::Table::open("t", fresh.str());
      for (int n = 1; n <= t->orderCount(); ++n) built->createOrder(t->orderName(n), "idx", t->orderKey(n), nullptr, false);
    }
    const auto size = std::filesystem::file_size(dir.file("idx.cdx"));
    EXPECT_EQ(size, std::filesystem::file_size(fresh.file("idx.cdx"))) << what;
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("idx.cdx").c_str(), &st), 0);
    EXPECT_LE(static_cast<std::uint64_t>(st.st_blocks) * 512, size + 4096) << what;
  }
  t->close();
  t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  EXPECT_EQ(checkOrderMatchesTable(*t), 20000);
  EXPECT_TRUE(log.empty());
}

// A writer whose write fails part-way through an image leaves the file marked: another opener
// that holds the table finds every row through its order (built from the records), writes the
// file anew at its next change, and the next open finds nothing to repair.
TEST(IndexFileSize, AnImageLeftHalfWrittenIsRebuiltByTheOtherOpener) {
  int marked = 0;
  for (int failing = 1; failing <= 12; ++failing) {
    SCOPED_TRACE("write " + std::to_string(failing) + " fails");
    ScratchDir dir;
    ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
    {
      auto t = rdd::Table::open("t", dir.str());
      appendRows(*t, 0, 3000, 0);
      t->createOrder("name", "idx", "NAME", nullptr, false);
    }
    ErrorLog log;
    auto other = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(other->openIndex("idx"));
    EXPECT_EQ(checkOrderMatchesTable(*other), 3000);
    rdd::FaultEnv faults(rdd::defaultEnv());
    rdd::OpenOptions opt;
    opt.env = &faults;
    auto writer = rdd::Table::open("t", dir.str(), opt);
    ASSERT_TRUE(writer->openIndex("idx"));
    writer->setOrder(1);
    writer->goTop();
    faults.failWriteNumber(failing);
    writer->put("NAME", rt::Value("aaa"));
    writer->goBottom();  // the key change and the image are written here
    const auto bytes = readBytes(dir.file("idx.cdx"));
    if (bytes.size() < 476 || std::string(bytes.begin() + 472, bytes.begin() + 476) != "DSTW") continue;
    ++marked;
    ASSERT_FALSE(log.errors.empty()) << "the failed write is raised";
    const std::size_t raised = log.errors.size();
    // The other opener reads the records as they are: the first record's name was written or not.
    EXPECT_EQ(checkOrderMatchesTable(*other), 3000);
    EXPECT_EQ(log.errors.size(), raised) << log.errors.back()->description;
    ASSERT_FALSE(log.warnings.empty());
    EXPECT_NE(log.warnings.back()->description.find("half written"), std::string::npos);
    addRow(*other, "later", "c");
    writer.reset();
    other.reset();
    ErrorLog reopened;
    auto t = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(t->openIndex("idx"));
    EXPECT_EQ(checkOrderMatchesTable(*t), 3001);
    EXPECT_TRUE(reopened.warnings.empty()) << reopened.warnings.front()->description;
  }
  EXPECT_GT(marked, 0) << "no failing write left the file marked";
}

// ---- a batch of order changes ----

namespace {

// Each image written moves the change counter on twice: at its mark and at its header.
constexpr std::uint32_t kOneWrite = 2;

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
      EXPECT_EQ(changeCounter(dir.file("idx.cdx")), keyChanged ? before + kOneWrite : before);
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
      EXPECT_EQ(changeCounter(dir.file("idx.cdx")), (keyChanged ? before + kOneWrite : before) + (shared ? kOneWrite : 0))
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
