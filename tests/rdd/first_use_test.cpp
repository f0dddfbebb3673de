// Orders read at their first use: a start's look-ups answered from the index file's pages, and
// everything after them, give what a table whose orders were read whole gives.
#include <functional>

#include "harness.h"

using namespace rddtest;

namespace {

constexpr int kRows = 20000;

void buildTable(const ScratchDir& dir) {
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str());
  for (int i = 0; i < kRows; ++i) addRow(*t, "r" + std::to_string(i * 7919 % 10007), i % 3 ? "c" : "d");
  t->createOrder("name", "idx", "NAME", nullptr, false);
  t->goTo(5);
  t->deleteRecord();  // with deleted rows hidden, a look-up that lands on it reads the order
}

// Where a table stands: a transcript of the record, the ends and whether the seek found.
std::string where(rdd::Table& t) {
  return std::to_string(t.recNo()) + (t.eof() ? " eof" : "") + (t.bof() ? " bof" : "") + (t.found() ? " found" : "") + ";";
}

}  // namespace

TEST(FirstUse, AStartsLookUpsReadAFewPagesAndAnswerAsAWholeReadDoes) {
  ScratchDir dir;
  buildTable(dir);
  const auto indexBytes = std::filesystem::file_size(dir.file("idx.cdx"));
  using Steps = std::function<std::string(rdd::Table&)>;
  struct Case {
    const char* what;
    bool readsTheOrder;
    Steps steps;
  };
  const Case cases[] = {
      {"top", false, [](rdd::Table& t) { return t.goTop(), where(t); }},
      {"bottom, two back and past the end", false,
       [](rdd::Table& t) {
         std::string s;
         t.goBottom();
         for (long n : {-1, -1, 1, 1, 1}) s += (t.skip(n), where(t));
         return s;
       }},
      {"top and back before it", false, [](rdd::Table& t) { return t.goTop(), t.skip(-1), where(t); }},
      {"seek found, then on", false, [](rdd::Table& t) { return t.seek("r5"), where(t) + (t.skip(), where(t)); }},
      {"seek between keys", false, [](rdd::Table& t) { return t.seek("r50000"), where(t); }},
      {"seek past the last", false, [](rdd::Table& t) { return t.seek("s"), where(t); }},
      {"seek onto a deleted row", true, [](rdd::Table& t) {
         rt::setDeleted(true);
         std::string s = (t.seek("r1655"), where(t));
         rt::setDeleted(false);
         return s;
       }},
      {"first entry of a scan, then every one", true,
       [](rdd::Table& t) {
         std::string s;
         t.scanOrder(1, "r9", [&](std::string_view key, std::uint32_t r) {
           s += std::string(key) + std::to_string(r) + ";";
           return false;
         });
         int after = 0;
         t.scanOrder(1, "r9", [&](std::string_view, std::uint32_t) { return ++after, true; });
         return s + std::to_string(after);
       }},
  };
  for (const auto& [what, readsTheOrder, steps] : cases) {
    ErrorLog log;
    auto whole = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(whole->openIndex("idx"));
    whole->setOrder(1);
    for (whole->goTop(); !whole->eof(); whole->skip()) {
    }
    const std::string expected = steps(*whole);
    whole.reset();

    rdd::FaultEnv counted(rdd::defaultEnv());
    rdd::OpenOptions opt;
    opt.env = &counted;
    auto t = rdd::Table::open("t", dir.str(), opt);
    ASSERT_TRUE(t->openIndex("idx"));
    t->setOrder(1);
    const auto readAtOpen = counted.bytesAskedToRead();
    EXPECT_EQ(steps(*t), expected) << what;
    EXPECT_EQ(counted.bytesAskedToRead() - readAtOpen >= indexBytes / 2, readsTheOrder) << what;
    EXPECT_TRUE(log.empty()) << what;
    // Everything after the look-ups sees what a whole read sees.
    std::uint32_t walked = 0;
    for (t->goTop(); !t->eof(); t->skip()) ++walked;
    EXPECT_EQ(walked, static_cast<std::uint32_t>(kRows)) << what;
  }
}

TEST(FirstUse, RowsAnotherOpenerIndexedBeforeTheFirstLookUpAreSeen) {
  ScratchDir dir;
  buildTable(dir);
  ErrorLog log;
  auto first = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(first->openIndex("idx"));
  first->setOrder(1);
  {
    auto other = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(other->openIndex("idx"));
    addRow(*other, "a", "x");
    addRow(*other, "zz", "x");
  }
  first->goTop();
  EXPECT_EQ(where(*first), std::to_string(kRows + 1) + ";");
  first->goBottom();
  EXPECT_EQ(where(*first), std::to_string(kRows + 2) + ";");
  std::uint32_t walked = 0;
  for (first->goTop(); !first->eof(); first->skip()) ++walked;
  EXPECT_EQ(walked, static_cast<std::uint32_t>(kRows + 2));
  EXPECT_TRUE(log.empty());
}
