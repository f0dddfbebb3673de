// The index file agrees with the table whenever another process can look: after each append
// burst of a live loader, after outside writers, after a restore from a backup, after a failed
// write on a full disk; and a table cut short under an open reader is an error, not a crash.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "harness.h"

using namespace rddtest;

namespace {

// Entries of order 1 walked from the top (every record once, in key order) against lastRec().
struct Walk {
  std::uint32_t entries = 0, records = 0;
  bool ordered = true;
};

Walk walkOrder(rdd::Table& t) {
  Walk w;
  w.records = t.lastRec();
  t.setOrder(1);
  std::string last;
  std::set<std::uint32_t> seen;
  for (t.goTop(); !t.eof(); t.skip()) {
    std::string key(t.rawField(0));
    w.ordered = w.ordered && key >= last && seen.insert(t.recNo()).second;
    last = key;
    ++w.entries;
  }
  return w;
}

std::unique_ptr<rdd::Table> indexedTable(const ScratchDir& dir, int rows, const std::string& prefix = "r") {
  EXPECT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str());
  for (int i = 0; i < rows; ++i) addRow(*t, prefix + std::to_string(i * 7919 % 10007), "c");
  t->createOrder("name", "idx", "NAME", nullptr, false);
  return t;
}

void reopen(std::unique_ptr<rdd::Table>& t, const ScratchDir& dir, const rdd::OpenOptions& opt = {}) {
  t.reset();
  t = rdd::Table::open("t", dir.str(), opt);
  ASSERT_TRUE(t);
  ASSERT_TRUE(t->openIndex("idx"));
}

}  // namespace

// ---- a live loader and the processes that share its table ----

TEST(IndexAgreement, EveryReleaseOfTheLockLeavesTheIndexComplete) {
  ScratchDir dir;
  ErrorLog log;
  indexedTable(dir, 0).reset();
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const int rounds = 4, perRound = 3000;
  pid_t loader = fork();
  if (loader == 0) {
    rdd::OpenOptions opt;
    opt.appendBurstMs = 2;
    auto t = rdd::Table::open("t", dir.str(), opt);
    if (!t || !t->openIndex("idx")) _exit(2);
    char c = 0;
    for (int r = 0; r < rounds; ++r) {
      for (int i = 0; i < perRound; ++i) addRow(*t, "L" + std::to_string(r * perRound + i), "load");
      t->goTo(t->recNo());  // the burst ends: the loader releases the lock and stays open
      if (write(toParent[1], "x", 1) != 1 || read(toChild[0], &c, 1) != 1) _exit(3);
    }
    _exit(0);  // no close: what others saw was on disk before
  }
  auto early = rdd::Table::open("t", dir.str());  // open from the start, reading as it goes
  ASSERT_TRUE(early && early->openIndex("idx"));
  char c = 0;
  for (int r = 1; r <= rounds; ++r) {
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    std::uint32_t rows = static_cast<std::uint32_t>(r * perRound);
    auto late = rdd::Table::open("t", dir.str());  // a second instance started now
    ASSERT_TRUE(late && late->openIndex("idx"));
    Walk w = walkOrder(*late);
    EXPECT_EQ(w.records, rows) << "round " << r;
    EXPECT_EQ(w.entries, rows) << "round " << r << ": a new opener finds every row through the index";
    EXPECT_TRUE(w.ordered);
    w = walkOrder(*early);
    EXPECT_EQ(w.entries, rows) << "round " << r << ": an open reader rereads the changed index";
    EXPECT_TRUE(early->seek("L" + std::to_string(rows - 1)));
    auto [keys, records] = independentCounts(dir);
    if (keys >= 0) {
      EXPECT_EQ(keys, static_cast<long>(rows)) << "round " << r << ": index_dump";
      EXPECT_EQ(records, static_cast<long>(rows)) << "round " << r << ": dbfread";
    }
    ASSERT_EQ(write(toChild[1], "x", 1), 1);
  }
  int status = 0;
  waitpid(loader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(log.empty());
}

// ---- outside writers and restores ----

TEST(IndexAgreement, AnInPlaceRewriteByAnotherProgramIsNoticedAtTheNextOpen) {
  for (int rec : {2, 1}) {  // a middle record (time and size tell) and the first (the hash tells too)
    ScratchDir dir;
    ErrorLog log;
    indexedTable(dir, 3).reset();
    usleep(20000);  // past the file system's clock tick
    auto bytes = readBytes(dir.file("t.dbf"));
    std::uint32_t headerLen = bytes[8] | bytes[9] << 8, recordLen = bytes[10] | bytes[11] << 8;
    std::string fresh = pad("outside", 10);
    std::copy(fresh.begin(), fresh.end(), bytes.begin() + headerLen + (rec - 1) * recordLen + 1);
    writeBytes(dir.file("t.dbf"), bytes);  // same size, same count
    std::unique_ptr<rdd::Table> t;
    reopen(t, dir);
    t->setOrder(1);
    EXPECT_TRUE(t->seek("outside")) << "record " << rec;
    EXPECT_EQ(t->recNo(), static_cast<std::uint32_t>(rec));
    Walk w = walkOrder(*t);
    EXPECT_EQ(w.entries, 3u);
    EXPECT_TRUE(w.ordered) << "record " << rec;
    EXPECT_TRUE(log.empty());
    t.reset();
    auto [keys, records] = independentCounts(dir);
    if (keys >= 0) {
      EXPECT_EQ(keys, 3);
      EXPECT_EQ(records, 3);
      EXPECT_NE(commandOutput("index_dump --type=char " + dir.file("idx.cdx") + " NAME").find("outside " + std::to_string(rec)),
                std::string::npos);
    }
  }
}

TEST(IndexAgreement, AnIndexWrittenForMoreRecordsOrAnotherTableIsRebuilt) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, 10);
  t.reset();
  auto backup = readBytes(dir.file("t.dbf"));
  reopen(t, dir);
  for (int i = 0; i < 10; ++i) addRow(*t, "later" + std::to_string(i), "");
  t.reset();
  writeBytes(dir.file("t.dbf"), backup);  // the table restored from a backup; the index is newer
  reopen(t, dir);
  Walk w = walkOrder(*t);
  EXPECT_EQ(w.records, 10u);
  EXPECT_EQ(w.entries, 10u);
  t->setOrder(1);
  EXPECT_FALSE(t->seek("later"));
  EXPECT_TRUE(log.errors.empty());  // the records hold every key: nothing to decide
  ASSERT_EQ(log.warnings.size(), 1u);
  EXPECT_NE(log.warnings[0]->description.find("written for 20 records, the table holds 10"), std::string::npos)
      << log.warnings[0]->description;
  t.reset();
  // Another table of the same layout and count: its index names the wrong records.
  ScratchDir other;
  indexedTable(other, 10, "x").reset();
  std::filesystem::copy_file(other.file("idx.cdx"), dir.file("idx.cdx"), std::filesystem::copy_options::overwrite_existing);
  reopen(t, dir);
  t->setOrder(1);
  EXPECT_FALSE(t->seek("x"));
  w = walkOrder(*t);
  EXPECT_EQ(w.entries, 10u);
  EXPECT_TRUE(w.ordered);
}

TEST(IndexAgreement, ClosingAfterWritesThatChangeNoKeyKeepsTheIndexTrusted) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, 20);
  t.reset();
  reopen(t, dir);
  usleep(20000);
  for (std::uint32_t r = 1; r <= 20; ++r) {
    t->goTo(r);
    t->putLogical(2, true);  // a flag, as the compare writes them
  }
  t.reset();
  auto before = readBytes(dir.file("idx.cdx"));
  reopen(t, dir);
  t.reset();
  auto after = readBytes(dir.file("idx.cdx"));
  EXPECT_EQ(before, after) << "the index was trusted, not rebuilt";
  EXPECT_TRUE(log.empty());
}

// A compare flags every row in place. Written in a run, under the header lock, the flags are known
// to be this opener's own, and taking the lock afterwards reads no record; outside a run they
// cannot be told from another program's writes, and every record is read to check the order.
// Another opener of the same thread that needs the lock meanwhile gets it, and the run goes on.
TEST(IndexAgreement, FlagsWrittenInARunAreKnownAsOwnAndNeedNoCheckOfTheRecords) {
  struct Case {
    const char* what;
    bool inRun, otherAppends;
  };
  const Case cases[] = {
      {"in a run", true, false}, {"outside a run", false, false}, {"in a run while another opener appends", true, true}};
  constexpr std::uint32_t kRows = 2000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ErrorLog log;
    indexedTable(dir, kRows).reset();
    rdd::FaultEnv counting(rdd::defaultEnv());
    rdd::OpenOptions shared;
    shared.shared = true;
    shared.env = &counting;
    std::unique_ptr<rdd::Table> t;
    reopen(t, dir, shared);
    auto other = rdd::Table::open("t", dir.str(), shared);
    ASSERT_TRUE(other->openIndex("idx"));
    usleep(20000);  // past the file system's clock tick
    if (c.inRun) t->beginWrites();
    for (std::uint32_t r = 1; r <= kRows; ++r) {
      t->goTo(r);
      t->putLogical(2, true);
      if (c.otherAppends && r == kRows / 2) addRow(*other, "zz", "c");
    }
    t->endWrites();
    const std::uint64_t readBefore = counting.bytesAskedToRead();
    t->flush();
    const std::uint64_t read = counting.bytesAskedToRead() - readBefore;
    if (!c.otherAppends) {
      if (c.inRun) EXPECT_LT(read, kRows * 20u) << "the records were read to check the order";
      else EXPECT_GE(read, kRows * 20u) << "the order was trusted after writes that could be another program's";
    }
    other.reset();
    Walk w = walkOrder(*t);
    EXPECT_EQ(w.entries, kRows + (c.otherAppends ? 1 : 0));
    EXPECT_TRUE(w.ordered);
    std::uint32_t flagged = 0;
    for (std::uint32_t r = 1; r <= kRows; ++r) {
      t->goTo(r);
      flagged += t->logical(2);
    }
    EXPECT_EQ(flagged, kRows);
    t.reset();
    reopen(t, dir, shared);  // the stamp describes the table: nothing to repair
    EXPECT_EQ(walkOrder(*t).entries, w.entries);
    EXPECT_TRUE(log.empty());
  }
}

// ---- a table cut short under an open reader ----

TEST(IndexAgreement, ATableThatShrinksWhileOpenIsAnErrorNotACrash) {
  for (bool writeFirst : {false, true}) {  // met first by a read, or by a write through the view
    ScratchDir dir;
    {
      ErrorLog quiet;
      indexedTable(dir, 2000).reset();
    }
    pid_t kid = fork();
    if (kid == 0) {
      ErrorLog log;
      auto t = rdd::Table::open("t", dir.str());
      if (!t || !t->openIndex("idx")) _exit(2);
      t->goTo(1500);
      (void)t->get("NAME");
      if (::truncate(dir.file("t.dbf").c_str(), 4096) != 0) _exit(3);  // an older backup copied over it
      if (writeFirst) {
        t->put("NAME", rt::Value("changed"));
        t->goTo(1);  // the write of record 1500 meets the cut
      } else {
        t->goTo(1500);
        (void)t->get("NAME");
      }
      if (log.empty() || log.last().description.find("shrank while open") == std::string::npos) _exit(4);
      std::size_t seen = log.errors.size();
      t->goTo(1);
      t->put("NAME", rt::Value("changed"));
      t->append();  // refused: nothing is written with the old length
      if (log.errors.size() <= seen) _exit(5);
      t->createOrder("again", "idx", "NAME", nullptr, false);
      t->close();
      if (std::filesystem::file_size(dir.file("t.dbf")) != 4096) _exit(6);
      _exit(0);
    }
    int status = 0;
    waitpid(kid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "write first " << writeFirst;
  }
}

// ---- a full disk ----

TEST(IndexAgreement, AFullDiskStopsTheLoadOnceAndLeavesAConsistentTable) {
  for (bool shared : {true, false}) {
    auto mem = rdd::newMemEnv(3 << 20);
    rdd::OpenOptions opt;
    opt.env = mem.get();
    opt.shared = shared;
    ErrorLog log;
    std::unique_ptr<rdd::File> filler;
    ASSERT_TRUE(mem->open("filler", rdd::OpenMode::CreateReadWrite, &filler).ok());
    ASSERT_TRUE(filler->write(0, std::string(2 << 20, 'x').data(), 2 << 20).ok());  // 1 MB left
    filler.reset();
    ASSERT_TRUE(rdd::createTable("t.dbf", smallLayout(), mem.get()));
    auto t = rdd::Table::open("t", "", opt);
    t->createOrder("name", "idx", "NAME", nullptr, false);
    int appended = 0;
    for (; appended < 100000; ++appended) {
      t->append();
      if (t->writeFailed()) break;  // as the program's load does: it stops at the first failure
      t->put("NAME", rt::Value("n" + std::to_string(appended)));
    }
    ASSERT_TRUE(t->writeFailed()) << "shared " << shared;
    ASSERT_EQ(log.errors.size(), 1u) << "shared " << shared;
    EXPECT_EQ(log.last().genCode, rt::EG_WRITE);
    EXPECT_EQ(log.last().osCode, 28);
    EXPECT_NE(log.last().description.find("No space left"), std::string::npos) << log.last().description;
    t->append();  // a later write is refused, and says why
    EXPECT_EQ(log.errors.size(), 2u);
    EXPECT_NE(log.last().description.find("earlier write"), std::string::npos);
    t->close();
    EXPECT_EQ(log.errors.size(), 2u) << "closing adds no error";
    // The file: the header counts exactly the records it holds, then the end mark.
    std::unique_ptr<rdd::File> f;
    ASSERT_TRUE(mem->open("t.dbf", rdd::OpenMode::ReadOnly, &f).ok());
    std::uint64_t size = 0;
    ASSERT_TRUE(f->size(&size).ok());
    std::vector<unsigned char> b(size);
    std::size_t got = 0;
    ASSERT_TRUE(f->read(0, b.data(), size, &got).ok());
    std::uint32_t count = b[4] | b[5] << 8 | b[6] << 16, headerLen = b[8] | b[9] << 8, recordLen = b[10] | b[11] << 8;
    EXPECT_EQ(size, headerLen + std::uint64_t{count} * recordLen + 1) << "shared " << shared;
    EXPECT_EQ(b.back(), 0x1A);
    EXPECT_GT(count, 0u);
    EXPECT_LE(count, static_cast<std::uint32_t>(appended));  // the failed append left no blank row
    // Once the user made room, it opens without a complaint and its index agrees.
    ASSERT_TRUE(mem->remove("filler").ok());
    ErrorLog after;
    auto again = rdd::Table::open("t", "", opt);
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->openIndex("idx")) << after.last().description;
    Walk w = walkOrder(*again);
    EXPECT_EQ(w.entries, count) << "shared " << shared;
    EXPECT_TRUE(after.empty()) << after.last().description;
  }
}
