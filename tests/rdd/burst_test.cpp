// Shared appends hold the table's header lock across a burst of appends. What can go wrong: the
// lock stays held while the program positions, waits for the user or sits idle (others wait
// forever), two openers in one process deadlock, or rows and the header count are lost between
// two processes appending at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "harness.h"

using namespace rddtest;

namespace {

constexpr off_t kHeaderLockByte = 0x7FFFFFFE;

// True when some open of the file holds the header lock byte (asked through a separate open of
// the file, which conflicts with every other open as another process would).
bool headerLocked(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl{};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kHeaderLockByte;
  fl.l_len = 1;
  bool held = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

// Holds the table open as another process does (a shared lock on the open byte through a separate
// open of the file); answers the descriptor, which the caller closes.
int openElsewhere(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  struct flock fl{};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0x7FFFFFFF;
  fl.l_len = 1;
  EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &fl), 0);
  return fd;
}

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The table file as a foreign reader sees it: the header count, every counted record live, and
// the end-of-file byte right after the last one. `killed`: a writer stopped between writing
// records and the count that covers them, so uncounted bytes may follow the counted ones.
// Answers the count.
std::uint32_t checkFileComplete(const std::string& path, bool killed = false) {
  std::vector<unsigned char> b = readBytes(path);
  std::uint32_t count = le32(b, 4), headerLen = b[8] | b[9] << 8, recordLen = b[10] | b[11] << 8;
  std::size_t end = headerLen + static_cast<std::size_t>(count) * recordLen;
  if (killed && b.size() > end + 1) {
    // The records of the burst in progress may follow, uncounted; the next burst cuts them off.
  } else {
    EXPECT_EQ(b.size(), end + 1) << "the file ends right after the last record";
    if (b.size() == end + 1) {
      EXPECT_EQ(b[end], 0x1A);
    }
  }
  for (std::uint32_t r = 0; r < count && end < b.size(); ++r)
    EXPECT_EQ(b[headerLen + static_cast<std::size_t>(r) * recordLen], ' ') << "record " << r + 1;
  return count;
}

}  // namespace

// ---- what ends a burst ----

TEST(AppendBurst, EveryPositioningFlushAndCloseReleasesTheHeaderLock) {
  ScratchDir dir;
  ErrorLog log;
  const std::string path = dir.file("t.dbf");
  ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  auto t = rdd::Table::open("t", dir.str());
  t->createOrder("name", "idx", "NAME", nullptr, false);
  EXPECT_FALSE(headerLocked(path));
  auto burst = [&](const char* name) {
    addRow(*t, name, "c");
    addRow(*t, name, "d");
    EXPECT_TRUE(headerLocked(path)) << "held after the appends before " << name;
  };
  burst("goTop");
  t->goTop();
  EXPECT_FALSE(headerLocked(path)) << "goTop";
  burst("skip");
  t->skip();
  EXPECT_FALSE(headerLocked(path)) << "skip";
  burst("goTo");
  t->goTo(1);
  EXPECT_FALSE(headerLocked(path)) << "goTo";
  burst("goBottom");
  t->goBottom();
  EXPECT_FALSE(headerLocked(path)) << "goBottom";
  burst("seek");
  EXPECT_TRUE(t->seek("seek"));
  EXPECT_FALSE(headerLocked(path)) << "seek";
  burst("setOrder");
  t->setOrder(0);
  EXPECT_FALSE(headerLocked(path)) << "setOrder";
  burst("flush");
  t->flush();
  EXPECT_FALSE(headerLocked(path)) << "flush";
  burst("close");
  t->close();
  EXPECT_FALSE(headerLocked(path)) << "close";
  EXPECT_EQ(checkFileComplete(path), 16u);
  EXPECT_TRUE(log.empty());
}

TEST(AppendBurst, TheTimeBudgetEndsABurstAndZeroReleasesAfterEveryAppend) {
  ScratchDir dir;
  ErrorLog log;
  const std::string path = dir.file("t.dbf");
  ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  std::int64_t now = 1000;
  rdd::FaultEnv clocked(rdd::defaultEnv());
  clocked.setClock([&now] { return now; });
  rdd::OpenOptions opt;
  opt.env = &clocked;
  opt.appendBurstMs = 25;
  const int other = openElsewhere(path);  // the budget is for the other openers of the table
  {
    auto t = rdd::Table::open("t", dir.str(), opt);
    addRow(*t, "a", "");
    now += 24;
    addRow(*t, "b", "");
    EXPECT_TRUE(headerLocked(path)) << "within the budget";
    now += 1;
    addRow(*t, "c", "");
    EXPECT_FALSE(headerLocked(path)) << "the append that reached the budget releases";
    addRow(*t, "d", "");
    EXPECT_TRUE(headerLocked(path)) << "the next append starts a new burst";
    now += 100;
    addRow(*t, "e", "");
    EXPECT_FALSE(headerLocked(path));
  }
  ::close(other);
  opt.appendBurstMs = 0;
  auto t = rdd::Table::open("t", dir.str(), opt);
  addRow(*t, "f", "");
  EXPECT_FALSE(headerLocked(path));
  EXPECT_EQ(t->lastRec(), 6u);
  t->close();
  EXPECT_EQ(checkFileComplete(path), 6u);
  EXPECT_TRUE(log.empty());
}

// Alone on the table nobody can wait for the lock or read the index, so a load is one burst with
// one index write; an opener that comes meanwhile ends it within one budget.
TEST(AppendBurst, ALoneOpenerKeepsItsBurstUntilAnotherOpensTheTable) {
  ScratchDir dir;
  ErrorLog log;
  const std::string path = dir.file("t.dbf");
  ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  std::int64_t now = 1000;
  rdd::FaultEnv clocked(rdd::defaultEnv());
  clocked.setClock([&now] { return now; });
  rdd::OpenOptions opt;
  opt.env = &clocked;
  opt.appendBurstMs = 25;
  auto t = rdd::Table::open("t", dir.str(), opt);
  t->createOrder("name", "idx", "NAME", nullptr, false);
  addRow(*t, "a", "");
  for (int i = 0; i < 5; ++i) {
    now += 100;
    addRow(*t, "b" + std::to_string(i), "");
    EXPECT_TRUE(headerLocked(path)) << "budget " << i << " spent with nobody else there: the burst goes on";
  }
  const int other = openElsewhere(path);
  now += 24;
  addRow(*t, "c", "");
  EXPECT_TRUE(headerLocked(path)) << "the budget begun at the last look is not spent yet";
  now += 1;
  addRow(*t, "d", "");
  EXPECT_FALSE(headerLocked(path)) << "the next look sees the other opener and ends the burst";
  EXPECT_EQ(checkFileComplete(path), 8u);
  auto reader = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(reader->openIndex("idx"));
  reader->setOrder(1);
  EXPECT_TRUE(reader->seek("c")) << "the index holds the burst's rows at its release";
  ::close(other);
  EXPECT_TRUE(log.empty());
}

TEST(AppendBurst, ARaisedErrorReleasesTheLockBeforeTheErrorBlockRuns) {
  ScratchDir dir;
  const std::string path = dir.file("t.dbf");
  {
    ErrorLog quiet;
    ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  }
  std::vector<bool> heldWhileAsked;
  rt::setErrorBlock([&](const rt::ErrorPtr&) {
    heldWhileAsked.push_back(headerLocked(path));
    return rt::Value(false);
  });
  auto t = rdd::Table::open("t", dir.str());
  addRow(*t, "a", "");
  ASSERT_TRUE(headerLocked(path));
  t->put("OK", rt::Value("not a logical"));  // raised by the driver itself
  addRow(*t, "b", "");
  ASSERT_TRUE(headerLocked(path));
  (void)rt::raise(rt::makeError(rt::EG_ARG, "TEST", "raised elsewhere in the program"));
  ASSERT_EQ(heldWhileAsked.size(), 2u);
  EXPECT_FALSE(heldWhileAsked[0]);
  EXPECT_FALSE(heldWhileAsked[1]);
  EXPECT_FALSE(headerLocked(path));
  addRow(*t, "c", "");  // appending goes on after the error
  t->close();
  rt::setErrorBlock({});
  EXPECT_EQ(checkFileComplete(path), 3u);
}

// ---- openers in one process ----

TEST(AppendBurst, OpenersInOneProcessTakeTheLockFromEachOtherWithoutClobberingRecords) {
  ScratchDir dir;
  ErrorLog log;
  const std::string path = dir.file("t.dbf");
  ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  auto a = rdd::Table::open("t", dir.str());
  auto b = rdd::Table::open("t", dir.str());
  a->append();
  a->put("NAME", rt::Value("a1"));
  b->append();  // a's burst ends here instead of b waiting for it
  b->put("NAME", rt::Value("b1"));
  EXPECT_EQ(a->lastRec(), 2u);
  a->goTop();  // writes a1 after b1 was appended: b1's record stays intact
  std::vector<unsigned char> bytes = readBytes(path);
  std::uint32_t headerLen = bytes[8] | bytes[9] << 8, recordLen = bytes[10] | bytes[11] << 8;
  EXPECT_EQ(bytes[headerLen + recordLen], ' ') << "record 2's deletion flag";
  b->goTop();
  b->goTo(1);
  EXPECT_EQ(b->get("NAME").asString(), pad("a1", 10));
  a->goTo(2);
  EXPECT_EQ(a->get("NAME").asString(), pad("b1", 10));
  a->close();
  b->close();
  EXPECT_EQ(checkFileComplete(path), 2u);
  EXPECT_TRUE(log.empty());
}

// ---- two processes ----

TEST(AppendBurst, AProcessAppendingWhileAnotherLoadsInBurstsLosesNoRows) {
  ScratchDir dir;
  ErrorLog log;
  const std::string path = dir.file("t.dbf");
  ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    t->createOrder("name", "idx", "NAME", nullptr, false);
  }
  const int loaded = 20000, single = 200;
  pid_t loader = fork();
  if (loader == 0) {
    rdd::OpenOptions opt;
    opt.appendBurstMs = 5;
    auto t = rdd::Table::open("t", dir.str(), opt);
    if (!t || !t->openIndex("idx")) _exit(2);
    for (int i = 0; i < loaded; ++i) addRow(*t, "L" + std::to_string(i), "load");
    t->close();
    _exit(0);
  }
  pid_t other = fork();
  if (other == 0) {
    rdd::OpenOptions opt;
    opt.appendBurstMs = 0;
    auto t = rdd::Table::open("t", dir.str(), opt);
    if (!t || !t->openIndex("idx")) {
      std::fprintf(stderr, "other: %s\n", log.empty() ? "?" : log.last().description.c_str());
      _exit(2);
    }
    std::uint32_t seen = 0;
    for (int i = 0; i < single; ++i) {
      addRow(*t, "S" + std::to_string(i), "one");
      t->goTo(t->recNo());  // a positioning: the row is complete on disk
      std::uint32_t now = t->lastRec();
      if (now < seen) _exit(3);  // the count a reader sees never goes back
      seen = now;
    }
    t->close();
    _exit(0);
  }
  for (pid_t p : {loader, other}) {
    int status = 0;
    waitpid(p, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (p == loader ? "loader" : "other") << " status " << status;
  }
  EXPECT_EQ(checkFileComplete(path), static_cast<std::uint32_t>(loaded + single));
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  std::set<std::string> names;
  for (std::uint32_t r = 1; r <= t->lastRec(); ++r) {
    t->goTo(r);
    names.insert(t->get("NAME").asString());
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(loaded + single));
  t->setOrder(1);
  int n = 0;
  for (t->goTop(); !t->eof(); t->skip()) ++n;
  EXPECT_EQ(n, loaded + single);
  EXPECT_TRUE(log.empty());
}

// A lone loader's burst may last the whole load, but its records reach the file in chunks with
// the header that counts them: a kill loses only the last chunk, and the next open builds the
// index again over every counted row.
TEST(AppendBurst, AKilledLoneLoaderKeepsItsWrittenChunksAndTheirIndex) {
  ScratchDir dir;
  ErrorLog log;
  const std::string path = dir.file("t.dbf");
  ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    t->createOrder("name", "idx", "NAME", nullptr, false);
  }
  const int chunkRows = (256 << 10) / 20;  // records of 20 bytes per written chunk
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t loader = fork();
  if (loader == 0) {
    rdd::OpenOptions opt;
    opt.appendBurstMs = 1;
    auto t = rdd::Table::open("t", dir.str(), opt);
    if (!t || !t->openIndex("idx")) _exit(2);
    for (int i = 0;; ++i) {
      addRow(*t, "L" + std::to_string(i), "load");
      if (i == 4 * chunkRows) (void)!write(ready[1], "x", 1);  // three chunks written at least
    }
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(loader, SIGKILL);
  waitpid(loader, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  const std::uint32_t counted = checkFileComplete(path, true);
  EXPECT_GE(counted, static_cast<std::uint32_t>(3 * chunkRows));
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  t->setOrder(1);
  std::uint32_t indexed = 0;
  for (t->goTop(); !t->eof(); t->skip()) ++indexed;
  EXPECT_EQ(indexed, counted);
  EXPECT_TRUE(t->seek("L" + std::to_string(3 * chunkRows - 1)));
  EXPECT_TRUE(log.empty()) << log.last().description;
}

TEST(AppendBurst, AKilledLoaderLeavesACompleteFileAndTheLockFree) {
  ScratchDir dir;
  ErrorLog log;
  const std::string path = dir.file("t.dbf");
  ASSERT_TRUE(rdd::createTable(path, smallLayout()));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t loader = fork();
  if (loader == 0) {
    rdd::OpenOptions opt;
    opt.appendBurstMs = 1000000;  // never ends by time
    auto t = rdd::Table::open("t", dir.str(), opt);
    if (!t) _exit(2);
    for (int i = 0;; ++i) {
      addRow(*t, "L" + std::to_string(i % 100000), "load");
      if (i == 500) {
        t->goTo(t->recNo());  // a positioning ends the burst: 501 rows are on disk
        (void)!write(ready[1], "x", 1);
      }
    }
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  for (int i = 0; i < 200 && !headerLocked(path); ++i) usleep(1000);
  EXPECT_TRUE(headerLocked(path));  // the next burst is under way
  kill(loader, SIGKILL);
  waitpid(loader, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  std::uint32_t before = checkFileComplete(path, true);
  EXPECT_GT(before, 500u);
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t);
  addRow(*t, "after", "");
  t->close();
  EXPECT_EQ(checkFileComplete(path), before + 1);
  EXPECT_TRUE(log.empty());
}
