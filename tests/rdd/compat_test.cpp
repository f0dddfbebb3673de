// Files written by this driver read by independent readers, and the other way round.
#include <cstdio>
#include <sstream>

#include "harness.h"

using namespace rddtest;

namespace {

const char* kPython = "/usr/bin/python3";

bool havePython(const char* module) {
  std::string cmd = std::string(kPython) + " -c 'import " + module + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

bool haveIndexDump() { return std::system("command -v index_dump >/dev/null 2>&1") == 0; }

// A table with repeated, prefix-sharing and blank keys, over several leaves.
std::unique_ptr<rdd::Table> writeSample(const ScratchDir& dir, int rows) {
  EXPECT_TRUE(rdd::createTable(dir.file("s.dbf"), smallLayout()));
  auto t = rdd::Table::open("s", dir.str());
  for (int i = 0; i < rows; ++i) {
    t->append();
    if (i % 7) t->put("NAME", rt::Value("N" + std::to_string(i % 23)));
    t->put("CITY", rt::Value(i % 3 ? "Bergen" : "Oslo"));
    t->put("OK", rt::Value(i % 2 == 0));
  }
  t->createOrder("byname", "s2", "NAME+CITY", nullptr, false);
  t->createOrder("bycity", "s2", "CITY", nullptr, false);
  t->close();
  auto re = rdd::Table::open("s", dir.str());
  EXPECT_TRUE(re->openIndex("s2"));
  return re;
}

// Our own listing of an order in index_dump's format: "key recno" with trailing blanks removed.
std::string ourListing(rdd::Table& t, int order) {
  std::ostringstream os;
  t.setOrder(order);
  for (t.goTop(); !t.eof(); t.skip()) {
    std::string key;
    std::string expr = t.orderKey(order);
    for (std::size_t start = 0;;) {
      std::size_t plus = expr.find('+', start);
      key += t.get(expr.substr(start, plus == std::string::npos ? std::string::npos : plus - start)).asString();
      if (plus == std::string::npos) break;
      start = plus + 1;
    }
    key.erase(key.find_last_not_of(' ') + 1);
    os << key << " " << t.recNo() << "\n";
  }
  return os.str();
}

}  // namespace

TEST(Compatibility, IndependentReaderReadsOurRows) {
  if (!havePython("dbfread")) GTEST_SKIP() << "python3-dbfread is not installed (scripts/setup installs it)";
  ScratchDir dir;
  ErrorLog log;
  auto t = writeSample(dir, 300);
  t->close();
  std::string out = commandOutput(std::string(kPython) + " -c \"import dbfread\nfor r in dbfread.DBF('" + dir.file("s.dbf") +
                        "', char_decode_errors='strict'):\n print(r['NAME'] + '|' + r['CITY'] + '|' + str(r['OK']))\"");
  std::ostringstream expect;
  auto re = rdd::Table::open("s", dir.str());
  for (re->goTop(); !re->eof(); re->skip()) {
    std::string n = re->get("NAME").asString(), c = re->get("CITY").asString();
    n.erase(n.find_last_not_of(' ') + 1);
    c.erase(c.find_last_not_of(' ') + 1);
    expect << n << "|" << c << "|" << (re->get("OK").asLogical() ? "True" : "False") << "\n";
  }
  EXPECT_EQ(out, expect.str());
}

TEST(Compatibility, IndependentIndexReaderListsOurTagsInOurOrder) {
  if (!haveIndexDump()) GTEST_SKIP() << "index_dump (libdbd-xbase-perl) is not installed (scripts/setup installs it)";
  ScratchDir dir;
  ErrorLog log;
  auto t = writeSample(dir, 2000);  // several leaves and an interior level per tag
  std::string dump = t->dumpIndexFile(1);
  EXPECT_NE(dump.find("L1 node"), std::string::npos);
  for (int order : {1, 2}) {
    std::string theirs = commandOutput("index_dump --type=char " + dir.file("s2.cdx") + " " + t->orderName(order) + " 2>&1");
    std::string ours = ourListing(*t, order);
    EXPECT_EQ(std::count(theirs.begin(), theirs.end(), '\n'), 2000) << theirs.substr(0, 300);
    EXPECT_TRUE(theirs == ours) << "tag " << t->orderName(order) << " first difference at byte "
                                << (std::mismatch(theirs.begin(), theirs.end(), ours.begin(), ours.end()).first - theirs.begin())
                                << "\n" << theirs.substr(0, 300) << "\n---\n" << ours.substr(0, 300);
  }
}

TEST(Compatibility, TableWrittenByIndependentWriterOpensAndReads) {
  if (!havePython("dbf")) GTEST_SKIP() << "python3-dbf is not installed (scripts/setup installs it)";
  ScratchDir dir;
  ErrorLog log;
  std::string script =
      "import dbf\n"
      "t = dbf.Table('" + dir.file("w.dbf") + "', 'NAME C(12); FLAG L', dbf_type='db3')\n"
      "t.open(dbf.READ_WRITE)\n"
      "t.append(('Alpha', True))\n"
      "t.append(('Beta', False))\n"
      "t.append(('Gamma', None))\n"
      "t.close()\n";
  std::string cmd = std::string(kPython) + " - <<'PYEOF'\n" + script + "PYEOF\n";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  auto t = rdd::Table::open("w", dir.str());
  ASSERT_TRUE(t) << (log.empty() ? "" : log.last().description);
  EXPECT_EQ(t->lastRec(), 3u);
  t->goTop();
  EXPECT_EQ(t->get("NAME").asString(), pad("Alpha", 12));
  EXPECT_TRUE(t->get("FLAG").asLogical());
  t->skip();
  EXPECT_FALSE(t->get("FLAG").asLogical());
  t->skip();
  EXPECT_EQ(t->get("NAME").asString(), pad("Gamma", 12));
  t->createOrder("name", "w", "NAME", nullptr, false);
  EXPECT_TRUE(t->seek("Beta"));
  EXPECT_EQ(t->recNo(), 2u);
}

TEST(Compatibility, IndependentReadersReadAccentedNamesExactlyAtTheirDefaults) {
  const bool haveDbfread = havePython("dbfread"), haveDbf = havePython("dbf");
  if (!haveDbfread && !haveDbf)
    GTEST_SKIP() << "neither python3-dbfread nor python3-dbf is installed (scripts/setup installs them)";
  ScratchDir dir;
  ErrorLog log;
  const std::vector<std::string> names = {"Café", "Größe", "Ángel", "€uro", "äpfel-Birnen-öü", "Œuvre «ß» – “x”",
                                          kUpperHalf1252};
  ASSERT_TRUE(rdd::createTable(dir.file("a.dbf"), {{"NAME", 'C', 200, 0, 0}}));
  {
    auto t = rdd::Table::open("a", dir.str());
    for (const auto& n : names) {
      t->append();
      t->put("NAME", rt::Value(n));
    }
  }
  ASSERT_TRUE(log.empty()) << log.last().description;
  std::string expect;
  for (const auto& n : names) expect += n + "\n";
  // Python writes its output as UTF-8 whatever the locale; the reader picks the code page from
  // the table's header, as it does by default.
  const std::string python = "PYTHONIOENCODING=utf-8 " + std::string(kPython);
  if (haveDbfread) {
    std::string out = commandOutput(python + " -c \"import dbfread\nfor r in dbfread.DBF('" + dir.file("a.dbf") +
                          "'):\n print(r['NAME'].rstrip(' '))\" 2>&1");
    EXPECT_EQ(out, expect) << "dbfread";
  }
  if (haveDbf) {
    std::string out = commandOutput(python + " -c \"import dbf\nt = dbf.Table('" + dir.file("a.dbf") +
                          "')\nt.open(dbf.READ_ONLY)\nfor r in t:\n print(r[0].rstrip(' '))\" 2>&1");
    EXPECT_EQ(out, expect) << "dbf";
  }
}

TEST(Compatibility, IndependentReaderReadsAccentsWrittenIntoATableThatDeclaredNoCodePage) {
  if (!havePython("dbfread")) GTEST_SKIP() << "python3-dbfread is not installed (scripts/setup installs it)";
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("n.dbf"), {{"NAME", 'C', 20, 0, 0}}));
  std::vector<unsigned char> bytes = readBytes(dir.file("n.dbf"));
  bytes[29] = 0x00;  // as tables written by some other programs say
  writeBytes(dir.file("n.dbf"), bytes);
  {
    auto t = rdd::Table::open("n", dir.str());
    t->append();
    t->put("NAME", rt::Value("Größe €"));
  }
  std::string out = commandOutput("PYTHONIOENCODING=utf-8 " + std::string(kPython) + " -c \"import dbfread\nfor r in dbfread.DBF('" +
                        dir.file("n.dbf") + "'):\n print(r['NAME'].rstrip(' '))\" 2>&1");
  EXPECT_EQ(out, "Größe €\n");
  EXPECT_TRUE(log.empty());
}
