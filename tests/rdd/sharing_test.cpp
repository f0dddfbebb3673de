#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "harness.h"

using namespace rddtest;

TEST(Sharing, ExclusiveOpenWhileSharedIsRefusedAsSharingViolation) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto a = rdd::Table::open("t", dir.str());
  auto b = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(a && b);  // shared opens coexist
  EXPECT_TRUE(log.empty());
  rdd::OpenOptions ex;
  ex.shared = false;
  auto c = rdd::Table::open("t", dir.str(), ex);
  EXPECT_FALSE(c);
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.last().genCode, rt::EG_OPEN);
  EXPECT_EQ(log.last().osCode, 32);
  EXPECT_TRUE(log.last().canDefault);
  a.reset();
  b.reset();
  auto d = rdd::Table::open("t", dir.str(), ex);
  EXPECT_TRUE(d && d->used());
  EXPECT_FALSE(rdd::Table::open("t", dir.str()));  // and a shared open while exclusive
}

TEST(Sharing, SharedAppendsOfTwoOpenersInterleaveWithoutLoss) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto a = rdd::Table::open("t", dir.str());
  auto b = rdd::Table::open("t", dir.str());
  a->createOrder("name", "idx", "NAME", nullptr, false);
  ASSERT_TRUE(b->openIndex("idx"));
  for (int i = 0; i < 5; ++i) {
    addRow(*a, "a" + std::to_string(i), "");
    addRow(*b, "b" + std::to_string(i), "");
  }
  a->close();
  b->close();
  auto c = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(c->openIndex("idx"));
  EXPECT_EQ(c->lastRec(), 10u);
  c->setOrder(1);
  int n = 0;
  for (c->goTop(); !c->eof(); c->skip()) ++n;
  EXPECT_EQ(n, 10);
  EXPECT_TRUE(c->seek("b4"));
}

// The opener that opens the index later counts fewer records than the index now holds: the rows
// the other appended meanwhile are news to it, not damage, and stay in the index it writes.
TEST(Sharing, AnIndexOpenedAfterAnotherOpenerAppendedKeepsThatOpenersRows) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    t->createOrder("name", "idx", "NAME", nullptr, false);
    for (const char* name : {"c", "a", "b"}) addRow(*t, name, "");
  }
  rdd::OpenOptions opt;
  opt.appendBurstMs = 0;
  auto late = rdd::Table::open("t", dir.str(), opt);
  auto early = rdd::Table::open("t", dir.str(), opt);
  ASSERT_TRUE(early->openIndex("idx"));
  for (int i = 0; i < 5; ++i) addRow(*early, "e" + std::to_string(i), "");
  ASSERT_TRUE(late->openIndex("idx"));
  addRow(*late, "late", "");
  late.reset();
  early.reset();
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  t->setOrder(1);
  std::vector<std::string> names;
  for (t->goTop(); !t->eof(); t->skip()) names.push_back(t->get("NAME").asString());
  EXPECT_EQ(names.size(), 9u);
  EXPECT_EQ(names.front(), "a         ");
  EXPECT_EQ(names.back(), "late      ");
  for (const auto& e : log.errors) ADD_FAILURE() << e->description;
}

TEST(Sharing, TwoProcessesAppendingAtOnceLoseNoRows) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    t->createOrder("name", "idx", "NAME", nullptr, false);
  }
  const int perChild = 200;
  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = fork();
    if (kids[k] == 0) {
      auto t = rdd::Table::open("t", dir.str());
      if (!t || !t->openIndex("idx")) _exit(2);
      for (int i = 0; i < perChild; ++i) addRow(*t, std::string(1, char('a' + k)) + std::to_string(i), "");
      t->close();
      _exit(0);
    }
  }
  for (pid_t p : kids) {
    int status = 0;
    waitpid(p, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t->openIndex("idx"));
  EXPECT_EQ(t->lastRec(), 2u * perChild);
  std::set<std::string> names;
  for (std::uint32_t r = 1; r <= t->lastRec(); ++r) {
    t->goTo(r);
    names.insert(t->get("NAME").asString());
  }
  EXPECT_EQ(names.size(), 2u * perChild);
  t->setOrder(1);
  int n = 0;
  for (t->goTop(); !t->eof(); t->skip()) ++n;
  EXPECT_EQ(n, 2 * perChild);
  EXPECT_TRUE(log.empty());
}

// Another writer may write its closing header between a reader's second read of the change
// counter and its read of the stamp. A reader that read the mark's counter both times must not take
// what it read under the mark: here the mark stands over a leaf left unreadable, and the closing
// header, which comes with the leaf whole again, reaches the file just before the reader reads the
// stamp, after it walked that leaf.
TEST(Sharing, AnImageReadUnderAWritersMarkIsReadAgainThoughItsCloseCameBeforeTheStamp) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  const int rows = 60000;
  {
    auto t = rdd::Table::open("t", dir.str());
    for (int i = 0; i < rows; ++i) addRow(*t, "n" + std::to_string(1000000 + i * 7919 % 1000003), "c");
    t->createOrder("name", "idx", "NAME");
  }
  const std::string index = dir.file("idx.cdx");
  const std::vector<unsigned char> closed = readBytes(index);
  // A leaf past the first 256 KB: only a walk of the leaves reads it.
  std::size_t leaf = 300 * 1024;
  while (leaf + 512 <= closed.size() && !(closed[leaf] == 2 && closed[leaf + 1] == 0)) leaf += 512;
  ASSERT_LT(leaf + 512, closed.size()) << "no leaf past 300 KB";
  auto putLe32 = [](std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  const std::uint32_t counter = closed[8] | closed[9] << 8 | closed[10] << 16 | static_cast<std::uint32_t>(closed[11]) << 24;
  // The mark: the counter (bytes 8-11) moved on, the stamp's magic (472) DSTW, the leaf half written.
  std::vector<unsigned char> marked = closed;
  putLe32(marked, 8, counter + 1);
  std::memcpy(&marked[472], "DSTW", 4);
  std::fill(marked.begin() + leaf, marked.begin() + leaf + 512, 0);
  // The close: the counter and the stamp's copy of it (476) moved on again.
  std::vector<unsigned char> done = closed;
  putLe32(done, 8, counter + 2);
  putLe32(done, 476, counter + 2);
  auto overwrite = [&](const std::vector<unsigned char>& bytes) {
    std::fstream f(index, std::ios::in | std::ios::out | std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };

  rdd::FaultEnv env(rdd::defaultEnv());
  rdd::OpenOptions opt;
  opt.env = &env;
  auto t = rdd::Table::open("t", dir.str(), opt);
  ASSERT_TRUE(t && t->openIndex("idx"));
  t->setOrder(1);
  int walked = 0;
  for (t->goTop(); !t->eof(); t->skip()) ++walked;  // the order is read whole
  ASSERT_EQ(walked, rows);
  overwrite(marked);
  bool leafRead = false, closedNow = false;
  env.beforeEachRead([&](const std::string& path, std::uint64_t offset, std::size_t n) {
    if (path != index || closedNow) return;
    if (offset <= leaf && leaf < offset + n) leafRead = true;
    if (leafRead && offset == 0 && n == 488) {  // the stamp
      overwrite(done);
      closedNow = true;
    }
  });
  walked = 0;
  for (t->goTop(); !t->eof(); t->skip()) ++walked;
  EXPECT_TRUE(closedNow) << "the stamp was never read after the leaf";
  EXPECT_EQ(walked, rows);
  for (const auto& e : log.errors) ADD_FAILURE() << e->description;
}
