#include <random>

#include "harness.h"

using namespace rddtest;

namespace {

// A table with NAME/CITY rows and two orders: NAMECITY (NAME+CITY) and CITY.
std::unique_ptr<rdd::Table> indexedTable(const ScratchDir& dir, const std::vector<std::pair<std::string, std::string>>& rows,
                                         rdd::OpenOptions opt = {}) {
  EXPECT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str(), opt);
  for (const auto& [n, c] : rows) addRow(*t, n, c);
  t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
  t->createOrder("city", "idx", "CITY", nullptr, false);
  return t;
}

// A NAME/CITY table of `rows` rows opened on `env`: names spread over the rows, cities taken in
// turn from c0 to c<cities - 1>, the first row's being c<firstCity>.
std::unique_ptr<rdd::Table> tableOfSpreadRows(const ScratchDir& dir, rdd::Env* env, int rows, int cities,
                                              int firstCity = 0) {
  EXPECT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  rdd::OpenOptions opt;
  opt.env = env;
  auto t = rdd::Table::open("t", dir.str(), opt);
  for (int i = 0; i < rows; ++i)
    addRow(*t, "n" + std::to_string(i * 7919 % rows), "c" + std::to_string((i + firstCity) % cities));
  return t;
}

std::vector<std::uint32_t> walk(rdd::Table& t) {
  std::vector<std::uint32_t> out;
  for (t.goTop(); !t.eof(); t.skip()) out.push_back(t.recNo());
  return out;
}

}  // namespace

// ---- orders: numbering, key order, seeks ----

TEST(IndexOrders, OrdersAreNumberedInCreationOrderAndWalkInKeyOrder) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"pear", "b"}, {"apple", "c"}, {"Zed", "a"}});
  ASSERT_EQ(t->orderCount(), 2);
  EXPECT_EQ(t->orderName(1), "NAMECITY");
  EXPECT_EQ(t->orderName(2), "CITY");
  t->setOrder(1);
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{3, 2, 1}));  // byte order: upper case first
  t->setOrder(2);
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{3, 1, 2}));
  t->setOrder(0);
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_TRUE(log.empty());
}

TEST(IndexOrders, SeekFindsFirstRowWithPrefixAndNeverANearMiss) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"ab", "x"}, {"abc", "y"}, {"abc", "a"}, {"b", "z"}});
  t->setOrder(1);
  EXPECT_TRUE(t->seek("abc"));
  EXPECT_EQ(t->recNo(), 3u);  // "abc       a" before "abc       y"
  EXPECT_TRUE(t->seek(pad("ab", 10)));
  EXPECT_EQ(t->recNo(), 1u);
  EXPECT_FALSE(t->seek("abd"));
  EXPECT_TRUE(t->eof());
  EXPECT_FALSE(t->seek("aa"));
  EXPECT_TRUE(t->seek(pad("b", 10) + pad("z", 8)));
  EXPECT_FALSE(t->seek(pad("b", 10) + pad("z", 8) + "!"));
}

TEST(IndexOrders, IdenticalKeysAreAllKeptAndSeekLandsOnTheFirst) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"same", "c"}, {"same", "c"}, {"same", "c"}});
  t->setOrder(1);
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_TRUE(t->seek("same"));
  EXPECT_EQ(t->recNo(), 1u);
}

TEST(IndexOrders, KeyFieldWrittenAfterAppendIsInEveryOrderBeforeTheNextPositioning) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"m", "m"}});
  t->setOrder(1);
  t->append();
  t->put("NAME", rt::Value("a"));
  t->put("CITY", rt::Value("z"));
  EXPECT_TRUE(t->seek("a"));
  EXPECT_EQ(t->recNo(), 2u);
  t->setOrder(2);
  EXPECT_TRUE(t->seek("z"));
  EXPECT_EQ(t->recNo(), 2u);
  // A key change moves the row; a logical write changes no key.
  t->put("CITY", rt::Value("b"));
  t->put("OK", rt::Value(true));
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{2, 1}));
}

TEST(IndexOrders, SkipFollowsTheRowWhoseKeyJustChanged) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"a", ""}, {"b", ""}, {"c", ""}});
  t->setOrder(1);
  t->goTop();
  t->put("NAME", rt::Value("bb"));  // "a" becomes "bb": now between b and c
  t->skip();
  EXPECT_EQ(t->recNo(), 3u);
}

TEST(IndexOrders, DeleteOrderMovesTheNextOrderUp) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"a", "b"}});
  t->deleteOrder(1);
  ASSERT_EQ(t->orderCount(), 1);
  EXPECT_EQ(t->orderName(1), "CITY");
  t->deleteOrder(1);
  EXPECT_EQ(t->orderCount(), 0);
  t->createOrder("again", "idx", "NAME", nullptr, false);
  EXPECT_EQ(t->orderCount(), 1);
  t->close();
  auto re = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(re->openIndex("idx"));
  EXPECT_EQ(re->orderCount(), 1);
  EXPECT_EQ(re->orderName(1), "AGAIN");
}

TEST(IndexOrders, UniqueOrderShowsOneRowPerKeyAndConditionFiltersRows) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"x", "1"}, {"x", "2"}, {"y", "3"}});
  t->createOrder("uname", "idx", "NAME", nullptr, true);
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{1, 3}));
  t->setOrderCondition("CITY >= \"2\"", rt::compile("CITY >= \"2\""));
  t->createOrder("forcity", "idx", "CITY", nullptr, false);
  t->setOrderCondition();
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{2, 3}));
  EXPECT_EQ(t->orderFor(t->orderCount()), "CITY >= \"2\"");
}

TEST(IndexOrders, ZapEmptiesTheOpenOrders) {
  ScratchDir dir;
  ErrorLog log;
  rdd::OpenOptions ex;
  ex.shared = false;
  auto t = indexedTable(dir, {{"a", "b"}, {"c", "d"}}, ex);
  t->zap();
  t->setOrder(1);
  t->goTop();
  EXPECT_TRUE(t->eof());
  EXPECT_FALSE(t->seek("a"));
  addRow(*t, "e", "f");
  EXPECT_TRUE(t->seek("e"));
}

// ---- the file: written trees read back the same, at any node size ----

TEST(IndexFile, SmallNodesSplitIntoSeveralLevelsAndReadBackInOrder) {
  ScratchDir dir;
  ErrorLog log;
  rdd::OpenOptions opt;
  opt.maxLeafKeys = 3;
  opt.maxInteriorKeys = 2;
  opt.memoryBlockEntries = 4;
  std::vector<std::pair<std::string, std::string>> rows;
  for (int i = 0; i < 40; ++i) rows.push_back({"k" + std::to_string((i * 17) % 40), "c" + std::to_string(i % 3)});
  auto t = indexedTable(dir, rows, opt);
  for (int i = 0; i < 10; ++i) addRow(*t, "k" + std::to_string(100 + i), "z");
  t->flush();
  std::string dump = t->dumpIndexFile(1);
  EXPECT_NE(dump.find("L3 node"), std::string::npos) << dump;  // 50 keys, 3 per leaf, 2 per node
  t->setOrder(1);
  auto expected = walk(*t);
  t->close();
  auto re = rdd::Table::open("t", dir.str(), opt);
  ASSERT_TRUE(re->openIndex("idx"));
  re->setOrder(1);
  EXPECT_EQ(walk(*re), expected);
  EXPECT_EQ(expected.size(), 50u);
}

TEST(IndexFile, DumpOfAOneLeafTagMatchesTheLayout) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("f.dbf"), {{"FRUIT", 'C', 10, 0, 0}}));
  auto t = rdd::Table::open("f", dir.str());
  for (const char* f : {"PEAR", "APPLE", "APRICOT"}) {
    t->append();
    t->put("FRUIT", rt::Value(f));
  }
  t->createOrder("fruit", "f", "FRUIT", nullptr, false);
  EXPECT_EQ(t->dumpIndexFile(1),
            "tag (directory) key \"\" for \"\" keylen 10 options 0xe0\n"
            "  L0 node 1024 attr 3 keys 1\n"
            "    \"FRUIT\" 1536\n"
            "tag FRUIT key \"FRUIT\" for \"\" keylen 10 options 0x60\n"
            "  L0 node 2560 attr 3 keys 3\n"
            "    \"APPLE\" 2\n"
            "    \"APRICOT\" 3\n"
            "    \"PEAR\" 1\n");
  t->close();
  // The leaf bytes of the worked example: entries 02 50 | 03 32 | 01 60, keys from the end.
  auto b = readBytes(dir.file("f.cdx"));
  ASSERT_GE(b.size(), 3072u);
  const unsigned char* leaf = b.data() + 2560;
  EXPECT_EQ(leaf[12] | leaf[13] << 8, 468);
  EXPECT_EQ(std::vector<unsigned char>(leaf + 20, leaf + 30),
            (std::vector<unsigned char>{8, 4, 4, 2, 0x02, 0x50, 0x03, 0x32, 0x01, 0x60}));
  EXPECT_EQ(std::string(leaf + 0x1F2, leaf + 512), "PEARRICOTAPPLE");
}

// ---- damaged index files: reported, never trusted, rebuilt ----

TEST(IndexBadInput, DamagedIndexFilesAreReportedAndRebuilt) {
  struct Case {
    const char* what;
    std::function<void(std::vector<unsigned char>&)> damage;
    const char* expected;
    bool tagsReadable;  // the tag definitions survive: the driver rebuilds the orders itself
  };
  const Case cases[] = {
      {"foreign header", [](auto& b) { b[12] = 7; }, "not a compound index", false},
      {"root outside", [](auto& b) { b[0] = 0; b[1] = 0; b[2] = 0; b[3] = 0x10; }, "outside the file", false},
      {"too short", [](auto& b) { b.resize(700); }, "too short", false},
      {"garbage", [](auto& b) { for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 37 + 11); }, "index file", false},
      {"no tags", [](auto& b) { b[1024 + 2] = 0; }, "", false},
      {"leaf layout", [](auto& b) { b[2560 + 20] = 40; }, "layout", true},
      {"sibling cycle", [](auto& b) { b[2560 + 8] = 0x00; b[2560 + 9] = 0x0A; b[2560 + 10] = 0; b[2560 + 11] = 0; }, "cycle", true},
      {"page out of range", [](auto& b) { b[1536] = 0; b[1537] = 0; b[1538] = 0; b[1539] = 0x40; }, "outside the file", true},
      {"key count", [](auto& b) { b[2560 + 2] = 0xF0; }, "overlap", true},
      {"record beyond the count", [](auto& b) { b[2560 + 24] ^= 0x07; }, "beyond the table", true},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    ErrorLog log;
    {
      ASSERT_TRUE(rdd::createTable(dir.file("f.dbf"), {{"FRUIT", 'C', 10, 0, 0}}));
      auto t = rdd::Table::open("f", dir.str());
      for (const char* f : {"PEAR", "APPLE", "APRICOT"}) {
        t->append();
        t->put("FRUIT", rt::Value(f));
      }
      t->createOrder("fruit", "f", "FRUIT", nullptr, false);
    }
    auto bytes = readBytes(dir.file("f.cdx"));
    c.damage(bytes);
    writeBytes(dir.file("f.cdx"), bytes);
    auto t = rdd::Table::open("f", dir.str());
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->openIndex("f")) << c.what;
    EXPECT_EQ(t->orderCount(), c.tagsReadable ? 1 : 0) << c.what;
    if (!c.tagsReadable) t->createOrder("fruit", "f", "FRUIT", nullptr, false);  // what the program's index build does
    // A damaged tree is found when its pages are read: by the look-up, or by the change after it.
    t->setOrder(1);
    EXPECT_TRUE(t->seek("APRICOT")) << c.what;
    EXPECT_EQ(t->recNo(), 3u) << c.what;
    t->append();
    t->put("FRUIT", rt::Value("BANANA"));
    EXPECT_TRUE(log.errors.empty()) << c.what << ": nothing is lost, nothing to decide";
    if (*c.expected) {
      ASSERT_EQ(log.warnings.size(), 1u) << c.what;
      const rt::Error& warning = *log.warnings.back();
      EXPECT_EQ(warning.severity, 1) << c.what;
      EXPECT_NE(warning.description.find(c.expected), std::string::npos) << c.what << ": " << warning.description;
      EXPECT_NE(warning.fileName.find("f.cdx"), std::string::npos) << c.what;
    }
    t->close();
    std::size_t reported = log.warnings.size();
    t = rdd::Table::open("f", dir.str());
    ASSERT_TRUE(t->openIndex("f")) << c.what;
    EXPECT_EQ(log.warnings.size(), reported) << c.what << ": the repaired file opens without a note";
    t->setOrder(1);
    std::string walk;
    for (t->goTop(); !t->eof(); t->skip()) walk += std::string(t->rawField(0)).substr(0, 2);
    EXPECT_EQ(walk, "APAPBAPE") << c.what;
  }
}

TEST(IndexBadInput, KeyThatCannotBeEvaluatedIsRaised) {
  ScratchDir dir;
  ErrorLog log;
  auto t = indexedTable(dir, {{"a", "b"}});
  t->createOrder("bad", "idx", "NOSUCHFN(NAME)", nullptr, false);
  EXPECT_FALSE(log.empty());
  EXPECT_EQ(t->orderCount(), 2);
}

// An order in which no record is visible (here: every record deleted and deleted records
// hidden): stepping back from its end finds the beginning instead of reading an empty cursor.
TEST(IndexBadInput, StepBackFromTheEndOfAnOrderThatShowsNoRecordFindsTheBeginning) {
  ScratchDir dir;
  auto t = indexedTable(dir, {{"a", "x"}, {"b", "y"}, {"c", "z"}});
  for (t->goTop(); !t->eof(); t->skip()) t->deleteRecord();
  rt::setDeleted(true);
  t->setOrder(1);
  t->goTop();
  EXPECT_TRUE(t->eof());
  t->skip(-1);
  EXPECT_TRUE(t->bof());
  rt::setDeleted(false);
}

// ---- the build: many rows, long keys, bytes above 0x7F ----

TEST(IndexBuild, OrderBuiltFromManyRowsWalksInUnsignedByteOrderThenRecordNumber) {
  ScratchDir dir;
  ErrorLog log;
  // Each symbol as the program is given it and as the table stores it (Windows-1252).
  const std::vector<std::pair<std::string, char>> symbols = {{"a", 'a'}, {"z", 'z'}, {"é", '\xE9'}, {"€", '\x80'}};
  std::vector<std::pair<std::string, std::string>> rows;
  std::vector<std::string> stored;  // NAME+CITY on disk, per row
  unsigned seed = 7;
  auto word = [&](std::size_t most, std::size_t width, std::string* text, std::string* bytes) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t len = (seed >> 16) % (most + 1);
    for (std::size_t i = 0; i < len; ++i) {
      seed = seed * 1103515245u + 12345u;
      const auto& s = symbols[(seed >> 16) % symbols.size()];
      *text += s.first;
      *bytes += s.second;
    }
    bytes->append(width - len, ' ');
  };
  for (int i = 0; i < 600; ++i) {
    std::string name, city, bytes;
    word(i % 3 == 0 ? 2 : 10, 10, &name, &bytes);  // short names: long runs of equal leading bytes
    word(8, 8, &city, &bytes);
    rows.push_back({name, city});
    stored.push_back(bytes);
  }
  EXPECT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str(), {});
  for (const auto& [n, c] : rows) addRow(*t, n, c);
  // A 36-byte key: the sort must look past its first 24 bytes and into a partial last word.
  t->createOrder("twice", "idx", "NAME+CITY+NAME+CITY", nullptr, false);
  std::vector<std::uint32_t> expected(rows.size());
  for (std::uint32_t i = 0; i < expected.size(); ++i) expected[i] = i + 1;
  std::stable_sort(expected.begin(), expected.end(), [&](std::uint32_t a, std::uint32_t b) {
    const std::string ka = stored[a - 1] + stored[a - 1], kb = stored[b - 1] + stored[b - 1];
    return std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end(),
                                        [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
  });
  t->setOrder(1);
  EXPECT_EQ(walk(*t), expected);
  t->close();
  auto re = rdd::Table::open("t", dir.str(), {});
  ASSERT_TRUE(re->openIndex("idx"));
  re->setOrder(1);
  EXPECT_EQ(walk(*re), expected);
  EXPECT_TRUE(log.empty());
}

// Rows reach an order build in every arrival order a table can hold them in: the entries are
// sorted where they lie, piece by piece, and the leaves built from them take later changes.
TEST(IndexBuild, AnOrderBuiltOverRowsInAnyArrivalOrderWalksInKeyOrderAndTakesLaterChanges) {
  constexpr int kRows = 1500;
  std::mt19937 random(5);
  auto shuffled = [&random](std::vector<int> v) {
    std::shuffle(v.begin(), v.end(), random);
    return v;
  };
  std::vector<int> rising(kRows);
  for (int i = 0; i < kRows; ++i) rising[static_cast<std::size_t>(i)] = i;
  std::vector<int> groupsShuffledWithin, lastLowest(rising.begin() + 1, rising.end());
  for (int g = 0; g < kRows; g += 30) {
    std::vector<int> group(rising.begin() + g, rising.begin() + std::min(g + 30, kRows));
    for (int k : shuffled(group)) groupsShuffledWithin.push_back(k);
  }
  lastLowest.push_back(0);
  const std::pair<const char*, std::vector<int>> arrivals[] = {
      {"in key order", rising},
      {"reversed", std::vector<int>(rising.rbegin(), rising.rend())},
      {"one key for all", std::vector<int>(kRows, 7)},
      {"groups rising, shuffled within", groupsShuffledWithin},
      {"rising but for a lowest last", lastLowest},
      {"random", shuffled(rising)},
  };
  for (std::size_t leafEntries : {std::size_t{3}, std::size_t{0}}) {
    for (const auto& [what, keys] : arrivals) {
      SCOPED_TRACE(std::string(what) + ", leaf entries " + std::to_string(leafEntries));
      ScratchDir dir;
      ErrorLog log;
      rdd::OpenOptions opt;
      opt.memoryBlockEntries = leafEntries;
      ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
      auto t = rdd::Table::open("t", dir.str(), opt);
      std::vector<std::string> stored;  // NAME+CITY per row; keys sharing long prefixes, as a class's rows do
      for (int k : keys) {
        const std::string name = "n" + std::to_string(k / 100), city = "c" + std::to_string(k % 100);
        addRow(*t, name, city);
        stored.push_back(pad(name, 10) + pad(city, 8));
      }
      t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
      t->setOrder(1);
      auto expected = [&stored] {
        std::vector<std::uint32_t> order(stored.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i + 1;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return stored[a - 1] < stored[b - 1]; });
        return order;
      };
      EXPECT_EQ(walk(*t), expected());
      // Keys rewritten into the middle and the front: entries go into leaves the build laid out.
      for (std::uint32_t r : {std::uint32_t{1}, std::uint32_t{kRows / 2}, std::uint32_t{kRows}}) {
        t->goTo(r);
        t->put("NAME", rt::Value("n7"));
        t->put("CITY", rt::Value(r == 1 ? "a" : "c50x"));
        stored[r - 1] = pad("n7", 10) + pad(r == 1 ? "a" : "c50x", 8);
      }
      t->flush();
      EXPECT_EQ(walk(*t), expected());
      EXPECT_TRUE(log.empty());
    }
  }
}

// An order deleted and built again in one batch takes its old record sequence as a first guess.
// Whatever another opener did to the rows meanwhile (a key rewritten in place, rows appended),
// the order built is the rows' key order, in memory and in the file.
TEST(IndexBuild, AnOrderBuiltAgainInOneBatchFollowsWhatOthersChangedMeanwhile) {
  ScratchDir dir;
  ErrorLog log;
  rdd::OpenOptions shared;
  shared.shared = true;
  EXPECT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str(), shared);
  for (int i = 0; i < 300; ++i) addRow(*t, "n" + std::to_string(i * 7919 % 300), "c" + std::to_string(i % 5));
  t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
  auto other = rdd::Table::open("t", dir.str(), shared);  // changes the rows without the index
  auto keyOrder = [&t] {
    std::vector<std::pair<std::string, std::uint32_t>> keys;
    t->setOrder(0);
    for (t->goTop(); !t->eof(); t->skip()) keys.push_back({std::string(t->rawField(0)) + std::string(t->rawField(1)), t->recNo()});
    std::sort(keys.begin(), keys.end());
    std::vector<std::uint32_t> out;
    for (const auto& k : keys) out.push_back(k.second);
    return out;
  };
  auto rebuild = [&t] {
    t->beginOrderChanges();
    t->deleteOrder(1);
    t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
    t->endOrderChanges();
    t->setOrder(1);
    return walk(*t);
  };
  const std::vector<std::uint32_t> unchanged = keyOrder();
  EXPECT_EQ(rebuild(), unchanged);
  other->goTo(1);
  other->put("NAME", rt::Value("zz"));  // first row moves to the end of the order
  other->goTo(250);
  other->put("NAME", rt::Value("a"));  // and another to its front
  other->flush();
  const std::vector<std::uint32_t> rewritten = keyOrder();
  ASSERT_NE(rewritten, unchanged);
  EXPECT_EQ(rebuild(), rewritten);
  addRow(*other, "m", "x");
  other->flush();
  const std::vector<std::uint32_t> appended = keyOrder();
  ASSERT_EQ(appended.size(), 301u);
  EXPECT_EQ(rebuild(), appended);
  t->close();
  other->close();
  auto re = rdd::Table::open("t", dir.str(), {});
  ASSERT_TRUE(re->openIndex("idx"));
  re->setOrder(1);
  EXPECT_EQ(walk(*re), appended);
  EXPECT_TRUE(log.empty());
}

// The rebuild that closes a compare deletes and creates the same orders in one batch. After
// writes that changed no key, or keys this opener changed in its orders as it wrote them, it
// reads no record and leaves the image as it is, the stamp taking the table as it now is; after
// a program without the index wrote a key, the orders are built from the records again. Either
// way the orders agree with the records and the next open trusts the file.
TEST(IndexBuild, ARebuildOverKeysThisOpenerKeptReadsNoRecordAndKeepsTheImage) {
  struct Case {
    const char* what;
    const char* field;  // written in record 5 (and a flag in every tenth record)
    bool byOther;
    bool kept;
  };
  const Case cases[] = {
      {"a flag outside the key", "OK", false, true},
      {"a key by this opener", "NAME", false, true},
      {"a key by a program without the index", "NAME", true, false},
  };
  constexpr int kRows = 3000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ErrorLog log;
    rdd::FaultEnv counting(rdd::defaultEnv());
    auto t = tableOfSpreadRows(dir, &counting, kRows, 5);
    t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
    auto other = rdd::Table::open("t", dir.str());  // opens no index
    rdd::Table& writer = c.byOther ? *other : *t;
    for (std::uint32_t r = 10; r <= kRows; r += 10) {
      writer.goTo(r);
      writer.putLogical(2, true);
    }
    writer.goTo(5);
    if (std::string(c.field) == "OK") writer.putLogical(2, true);
    else writer.put(c.field, rt::Value("zz"));
    writer.flush();
    const auto counterBefore = readBytes(dir.file("idx.cdx"));
    const std::uint64_t readBefore = counting.bytesAskedToRead();
    t->beginOrderChanges();
    t->deleteOrder(1);
    t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
    t->endOrderChanges();
    const std::uint64_t read = counting.bytesAskedToRead() - readBefore;
    if (c.kept) {
      EXPECT_LT(read, kRows * 20u) << "the records were read again";
      const auto after = readBytes(dir.file("idx.cdx"));
      EXPECT_TRUE(std::equal(after.begin() + 8, after.begin() + 12, counterBefore.begin() + 8)) << "the image was written";
    } else {
      EXPECT_GE(read, kRows * 20u) << "the orders were not built from the records";
    }
    std::vector<std::pair<std::string, std::uint32_t>> keys;
    t->setOrder(0);
    for (t->goTop(); !t->eof(); t->skip()) keys.push_back({std::string(t->rawField(0)) + std::string(t->rawField(1)), t->recNo()});
    std::sort(keys.begin(), keys.end());
    std::vector<std::uint32_t> expected;
    for (const auto& k : keys) expected.push_back(k.second);
    t->setOrder(1);
    EXPECT_EQ(walk(*t), expected);
    t.reset();
    other.reset();
    const auto closed = readBytes(dir.file("idx.cdx"));
    auto re = rdd::Table::open("t", dir.str(), {});
    ASSERT_TRUE(re->openIndex("idx"));
    re->setOrder(1);
    EXPECT_EQ(walk(*re), expected);
    re.reset();
    EXPECT_EQ(readBytes(dir.file("idx.cdx")), closed) << "the next open built the index again";
    EXPECT_TRUE(log.empty());
  }
}

// ---- keys over fields other than text ----

TEST(IndexOrders, DateFieldsAreDatesInKeysAndConditionsAndKeyInTheirStoredForm) {
  rt::registerGeneralLibrary();
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("d.dbf"), {{"NAME", 'C', 6, 0, 0}, {"BORN", 'D', 8, 0, 0}}));
  auto t = rdd::Table::open("d", dir.str());
  const rt::Date blank{};
  for (auto [name, born] : {std::pair{"ann", rt::makeDate(2001, 12, 31)}, {"bob", rt::makeDate(1999, 11, 5)},
                            {"cy", blank}, {"dee", rt::makeDate(2001, 1, 2)}}) {
    t->append();
    t->put("NAME", rt::Value(name));
    t->put("BORN", rt::Value(born));
  }
  t->setOrderCondition("YEAR(BORN) >= 2000");
  t->createOrder("recent", "d", "DTOS(BORN)+NAME", nullptr, false);
  t->setOrderCondition();
  t->createOrder("born", "d", "BORN", nullptr, false);
  for (const auto& e : log.errors) ADD_FAILURE() << e->operation << ": " << e->description;
  t->setOrder(1);
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{4, 1}));
  t->setOrder(2);
  EXPECT_EQ(walk(*t), (std::vector<std::uint32_t>{3, 2, 4, 1}));  // the blank date first
  EXPECT_TRUE(t->seek("2001"));
  EXPECT_EQ(t->recNo(), 4u);
  EXPECT_EQ(rt::dtos(t->get("BORN").asDate()), "20010102");
}

// Keys of appended rows wait in a batch until the order is read: every read between appends, by
// this opener or by another one of the same file, must see all of them, in any arrival order.
TEST(IndexOrders, RowsAppendedInAnyKeyOrderAreSeenByEveryReadThatFollows) {
  for (bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "shared" : "exclusive");
    ScratchDir dir;
    ErrorLog log;
    rdd::OpenOptions opt;
    opt.shared = shared;
    auto t = indexedTable(dir, {}, opt);
    std::unique_ptr<rdd::Table> other;
    if (shared) {
      other = rdd::Table::open("t", dir.str(), opt);
      ASSERT_TRUE(other->openIndex("idx"));
      other->setOrder(1);
    }
    t->setOrder(1);
    constexpr int kRows = 9000;  // more than one batch is merged while nothing reads
    std::vector<std::string> names;
    for (int i = 0; i < kRows; ++i) {
      names.push_back("n" + std::to_string((i * 7919) % kRows));
      addRow(*t, names.back(), "c" + std::to_string(i % 13));
      if (i % 997 != 0) continue;
      const std::uint32_t appended = t->recNo();
      ASSERT_TRUE(t->seek(names.back())) << i;
      EXPECT_EQ(t->recNo(), appended);
      if (other) {
        ASSERT_TRUE(other->seek(names.back())) << i;
        EXPECT_EQ(other->recNo(), appended);
      }
    }
    std::sort(names.begin(), names.end());
    for (rdd::Table* reader : {t.get(), other.get()}) {
      if (!reader) continue;
      std::vector<std::string> walked;
      for (reader->goTop(); !reader->eof(); reader->skip()) walked.push_back(rtrim(reader->get("NAME").asString()));
      EXPECT_EQ(walked, names);
    }
    for (const auto& e : log.errors) ADD_FAILURE() << e->description;
  }
}

// Orders created in one batch are built when it ends: those keyed on plain fields share one scan
// of the table, an order with a condition or a computed key is built at once, with a scan of its
// own. A look at a new order within the batch builds the ones waiting then. Every order agrees with the records,
// the record pointer ends at the top of the last one created, and the file opens trusted.
TEST(IndexBuild, OrdersCreatedInOneBatchAreBuiltTogetherWhateverTheirKeys) {
  struct Case {
    const char* what;
    bool lookWithinTheBatch;
    int scans;  // of the table, by the batch
  };
  const Case cases[] = {{"built at the batch's end", false, 3}, {"a seek within the batch", true, 4}};
  constexpr int kRows = 120000;  // the scan reads the table in three chunks
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ErrorLog log;
    rdd::FaultEnv counting(rdd::defaultEnv());
    auto t = tableOfSpreadRows(dir, &counting, kRows, 7, 3);
    t->flush();
    t->goTo(kRows / 2);
    const std::uint64_t readBefore = counting.bytesAskedToRead();
    t->beginOrderChanges();
    t->setOrderCondition("CITY >= \"c4\"", rt::compile("CITY >= \"c4\""));
    t->createOrder("forcity", "idx", "CITY", nullptr, false);
    t->setOrderCondition();
    t->createOrder("cityslash", "idx", "CITY+\"/\"+NAME", rt::compile("CITY+\"/\"+NAME"), false);
    t->createOrder("namecity", "idx", "NAME+CITY", nullptr, false);
    if (c.lookWithinTheBatch) {
      t->setOrder(3);
      EXPECT_TRUE(t->seek("n1"));
    }
    t->createOrder("citynm", "idx", "CITY+NAME", nullptr, false);
    t->endOrderChanges();
    const auto tableBytes = static_cast<std::uint64_t>(kRows) * 20;
    EXPECT_LT(counting.bytesAskedToRead() - readBefore, c.scans * tableBytes + tableBytes / 2) << "more scans than needed";
    // What each order must show, worked out from the records.
    struct Row {
      std::string name, city;
      std::uint32_t recno;
    };
    std::vector<Row> rows;
    const std::uint32_t top = t->recNo();
    t->setOrder(0);
    for (t->goTop(); !t->eof(); t->skip()) rows.push_back({std::string(t->rawField(0)), std::string(t->rawField(1)), t->recNo()});
    auto expected = [&](auto key, auto keep) {
      std::vector<std::pair<std::string, std::uint32_t>> keys;
      for (const Row& r : rows)
        if (keep(r)) keys.push_back({key(r), r.recno});
      std::sort(keys.begin(), keys.end());
      std::vector<std::uint32_t> out;
      for (const auto& k : keys) out.push_back(k.second);
      return out;
    };
    auto all = [](const Row&) { return true; };
    const std::vector<std::vector<std::uint32_t>> orders = {
        expected([](const Row& r) { return r.city; }, [](const Row& r) { return r.city >= "c4"; }),
        expected([](const Row& r) { return r.city + "/" + r.name; }, all),
        expected([](const Row& r) { return r.name + r.city; }, all),
        expected([](const Row& r) { return r.city + r.name; }, all)};
    EXPECT_EQ(top, orders[3].front()) << "the record pointer is not at the top of the last order";
    t->close();
    auto re = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(re->openIndex("idx"));
    ASSERT_EQ(re->orderCount(), 4);
    for (int n = 1; n <= 4; ++n) {
      re->setOrder(n);
      EXPECT_EQ(walk(*re), orders[static_cast<std::size_t>(n - 1)]) << "order " << n;
    }
    EXPECT_TRUE(log.empty());
  }
}
