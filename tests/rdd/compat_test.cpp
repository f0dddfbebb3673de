// Files written by this driver read by independent readers, and the other way round.
#include <cstdio>
#include <sstream>
#include <string>

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

// Every language-driver byte the independent tools know, both ways: a table the independent
// writer made in that code page is read here, and one this driver writes is read back by both
// independent readers. The sample is every character of the page's upper half (a few words on
// the double-byte pages), less three Macintosh bytes where Python's codecs and the C library
// map differently: 0xC6 and 0xF0 of Standard Macintosh, 0xFF of Russian Macintosh. The readers
// are the Debian packages python3-dbfread and python3-dbf.
TEST(Compatibility, EveryCodePageOfTheLanguageDriverTableIsReadAndWrittenAsTheIndependentToolsDo) {
  if (!havePython("dbfread") || !havePython("dbf")) GTEST_SKIP() << "python3-dbfread and python3-dbf are needed";
  ScratchDir dir;
  ErrorLog log;
  const std::string python = "cd " + dir.str() + " && PYTHONIOENCODING=utf-8 " + std::string(kPython) + " - <<'PYEOF'\n";
  const std::string samples =
      "import dbf, dbfread\n"
      "from dbfread.codepages import codepages\n"
      "words = {'cp932': '日本語のテキスト', 'cp936': '中文文本', 'cp949': '한국어 텍스트', 'cp950': '中文字體'}\n"
      "apart = {'mac_roman': (0xC6, 0xF0), 'mac_cyrillic': (0xFF,)}\n"
      "def sample(codec):\n"
      "    if codec in words: return words[codec]\n"
      "    out = ''\n"
      "    for b in range(0x80, 0x100):\n"
      "        if b in apart.get(codec, ()): continue\n"
      "        try: out += bytes([b]).decode(codec)\n"
      "        except UnicodeDecodeError: pass\n"
      "    return out + '.'\n"  // the writer strips trailing white space, a no-break space too
      "pages = [(b, c) for b, (c, _) in sorted(codepages.items()) if c and b != 0]\n";
  const std::string manifest = commandOutput(
      python + samples +
      "for b, c in pages:\n"
      "    t = dbf.Table('p%02X.dbf' % b, 'NAME C(254)', dbf_type='db3', codepage=c)\n"
      "    t.open(dbf.READ_WRITE); t.append((sample(c),)); t.close()\n"
      "    print('%02X %s %s' % (b, c, sample(c).encode('utf-8').hex()))\n"
      "PYEOF\n");
  std::istringstream lines(manifest);
  int pages = 0;
  for (std::string hexByte, codec, hexText; lines >> hexByte >> codec >> hexText; ++pages) {
    std::string text;
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2)
      text += static_cast<char>(std::stoi(hexText.substr(i, 2), nullptr, 16));
    const auto byte = static_cast<std::uint8_t>(std::stoi(hexByte, nullptr, 16));
    auto theirs = rdd::Table::open("p" + hexByte, dir.str());
    if (codec == "mac_greek") {  // no converter for it in the C library: refused, saying so
      EXPECT_FALSE(theirs);
      EXPECT_NE(log.last().description.find("Greek Macintosh"), std::string::npos) << log.last().description;
      continue;
    }
    ASSERT_TRUE(theirs) << codec << ": " << log.last().description;
    EXPECT_EQ(theirs->text(0).substr(0, text.size()), text) << codec;
    ASSERT_TRUE(rdd::createTable(dir.file("o" + hexByte + ".dbf"), {{"NAME", 'C', 254, 0, 0}}));
    std::vector<unsigned char> header = readBytes(dir.file("o" + hexByte + ".dbf"));
    header[29] = byte;
    writeBytes(dir.file("o" + hexByte + ".dbf"), header);
    auto ours = rdd::Table::open("o" + hexByte, dir.str());
    ASSERT_TRUE(ours) << codec;
    ours->append();
    ours->put("NAME", rt::Value(text));
    ours->close();
  }
  EXPECT_GT(pages, 50);
  ASSERT_EQ(log.errors.size(), 1u);  // the Greek Macintosh refusal alone
  const std::string readBack = commandOutput(
      python + samples +
      "for b, c in pages:\n"
      "    if c == 'mac_greek': continue\n"
      "    name = 'o%02X.dbf' % b\n"
      "    a = [r['NAME'] for r in dbfread.DBF(name)][0].rstrip(' ')\n"
      "    t = dbf.Table(name); t.open(dbf.READ_ONLY); d = t[0][0].rstrip(' '); t.close()\n"
      "    if a != sample(c) or d != sample(c): print('%02X %s differs' % (b, c))\n"
      "print('checked')\n"
      "PYEOF\n");
  EXPECT_EQ(readBack, "checked\n");
}

