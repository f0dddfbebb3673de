#include <sys/wait.h>
#include <unistd.h>

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
