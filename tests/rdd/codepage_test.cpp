// Character fields in the table's code page: the bytes that reach the file, the text that comes
// back, widths in characters, characters the code page lacks, keys and seeks in byte order, and
// tables that declare another code page.
#include "harness.h"

using namespace rddtest;

namespace {

// NAME C(200), CITY C(8).
std::vector<rdd::FieldInfo> wideLayout() { return {{"NAME", 'C', 200, 0, 0}, {"CITY", 'C', 8, 0, 0}}; }

std::unique_ptr<rdd::Table> freshTable(const ScratchDir& dir, const std::vector<rdd::FieldInfo>& layout) {
  EXPECT_TRUE(rdd::createTable(dir.file("t.dbf"), layout));
  return rdd::Table::open("t", dir.str());
}

// Bytes of the first field of record `recno` as the file holds them.
std::string fileBytes(const std::string& path, std::uint32_t recno, std::size_t length) {
  std::vector<unsigned char> b = readBytes(path);
  const std::size_t headerLen = b[8] | b[9] << 8, recordLen = b[10] | b[11] << 8;
  const std::size_t at = headerLen + (recno - 1) * recordLen + 1;
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + length));
}

// A one-row table whose header declares `languageDriver` and whose NAME starts with `stored`.
void writeTableWithByte(const ScratchDir& dir, std::uint8_t languageDriver, unsigned char stored) {
  {
    auto t = freshTable(dir, smallLayout());
    addRow(*t, "x", "y");
  }
  std::vector<unsigned char> b = readBytes(dir.file("t.dbf"));
  const std::size_t headerLen = b[8] | b[9] << 8;
  b[29] = languageDriver;
  b[headerLen + 1] = stored;
  writeBytes(dir.file("t.dbf"), b);
}

struct BreakingErrorBlock {
  BreakingErrorBlock() {
    rt::setErrorBlock([](const rt::ErrorPtr& e) -> rt::Value { rt::breakToRecovery(rt::Value(e)); });
  }
  ~BreakingErrorBlock() { rt::setErrorBlock({}); }
};

}  // namespace

// ---------------------------------------------------------------- round trip

TEST(CodePageText, EveryWindows1252CharacterIsStoredAsItsOneByteAndReadBack) {
  ScratchDir dir;
  ErrorLog log;
  {
    auto t = freshTable(dir, wideLayout());
    t->append();
    t->put("NAME", rt::Value(kUpperHalf1252));
  }
  std::string expected;
  for (int b = 0x80; b <= 0xFF; ++b)
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) expected += static_cast<char>(b);
  ASSERT_EQ(expected.size(), 123u);
  EXPECT_EQ(fileBytes(dir.file("t.dbf"), 1, 200), pad(expected, 200));
  EXPECT_EQ(readBytes(dir.file("t.dbf"))[29], 0x03);  // the header says Windows-1252

  auto t = rdd::Table::open("t", dir.str());
  EXPECT_EQ(t->get("NAME").asString(), kUpperHalf1252 + std::string(200 - 123, ' '));
  EXPECT_EQ(t->text(0), t->get("NAME").asString());
  EXPECT_EQ(t->rawField(0), pad(expected, 200));
  // An order over it finds the row by the whole text and by any prefix.
  t->createOrder("byname", "t2", "NAME", nullptr, false);
  EXPECT_TRUE(t->seek(kUpperHalf1252));
  EXPECT_TRUE(t->seek(rt::leftChars(kUpperHalf1252, 70)));
  EXPECT_EQ(t->recNo(), 1u);
  EXPECT_TRUE(log.empty());
}

// The reading side tells plain ASCII fields from the others several bytes at a time: one
// character above ASCII is found and decoded wherever it lies in the field, head, middle or tail.
TEST(CodePageText, OneCharacterAboveAsciiIsReadBackAtEveryPlaceInTheField) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir, wideLayout());
  for (std::size_t place = 0; place < 200; ++place) {
    std::string name(place, 'a');
    name += "\u00E9";
    t->append();
    t->put("NAME", rt::Value(name));
    t->goTo(t->recNo());
    EXPECT_EQ(rtrim(std::string(t->text(0))), name) << "at " << place;
  }
  EXPECT_TRUE(log.empty());
}

TEST(CodePageText, NamesThatFitTheCodePageRaiseNothingAndComeBackExactly) {
  ScratchDir dir;
  ErrorLog log;
  const std::vector<std::string> names = {"Café", "Größe", "Ángel", "€uro", "Œuvre «ß»", "äpfel-Birnen-öü", "naïve – “x”"};
  {
    auto t = freshTable(dir, wideLayout());
    for (const auto& n : names) addRow(*t, n, "Zürich");
  }
  auto t = rdd::Table::open("t", dir.str());
  std::vector<std::string> back;
  for (t->goTop(); !t->eof(); t->skip()) {
    back.push_back(rtrim(t->get("NAME").asString()));
    EXPECT_EQ(t->get("CITY").asString(), "Zürich  ");  // 8 characters, 9 bytes of UTF-8
  }
  EXPECT_EQ(back, names);
  EXPECT_TRUE(log.empty()) << log.last().description;
}

// ---------------------------------------------------------------- widths

TEST(CodePageText, WidthsCountCharactersAndACutFallsBetweenThem) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir, smallLayout());  // NAME C(10)
  t->append();
  t->put("NAME", rt::Value("ÄÖÜäöüßéèêxyz"));
  EXPECT_EQ(t->get("NAME").asString(), "ÄÖÜäöüßéèê");
  EXPECT_EQ(t->rawField(0).size(), 10u);
  t->putStr(0, "abcdefghi€Z");  // the cut leaves the euro sign whole
  EXPECT_EQ(t->get("NAME").asString(), "abcdefghi€");
  t->putStr(0, "Größe");
  EXPECT_EQ(t->get("NAME").asString(), "Größe     ");

  // Fifty accented characters fill a 50-character field (100 bytes of UTF-8).
  ScratchDir wide;
  auto w = freshTable(wide, {{"NAME", 'C', 50, 0, 0}});
  std::string fifty;
  for (int i = 0; i < 25; ++i) fifty += "äß";
  w->append();
  w->put("NAME", rt::Value(fifty + "tail"));
  EXPECT_EQ(w->get("NAME").asString(), fifty);
  EXPECT_TRUE(log.empty());
}

// ---------------------------------------------------------------- characters the page lacks

TEST(CodePageText, CharacterThePageLacksIsRaisedNamingFieldValueAndCharacter) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir, smallLayout());
  t->append();
  t->put("NAME", rt::Value("Ωmega"));
  ASSERT_EQ(log.errors.size(), 1u);
  const rt::Error& e = log.last();
  EXPECT_EQ(e.genCode, rt::EG_DATATYPE);
  EXPECT_TRUE(e.canDefault);
  EXPECT_FALSE(e.canRetry);
  EXPECT_EQ(e.operation, "FIELDPUT");
  EXPECT_EQ(e.fileName, dir.file("t.dbf"));
  EXPECT_NE(e.description.find("field NAME"), std::string::npos) << e.description;
  EXPECT_NE(e.description.find("\"Ωmega\""), std::string::npos) << e.description;
  EXPECT_NE(e.description.find("\"Ω\" (U+03A9)"), std::string::npos) << e.description;
  EXPECT_NE(e.description.find("Windows-1252"), std::string::npos) << e.description;
  EXPECT_NE(e.description.find("Default stores \"?\" in its place"), std::string::npos) << e.description;
  // Default: a question mark for that character, the rest as given.
  EXPECT_EQ(t->get("NAME").asString(), pad("?mega", 10));
}

TEST(CodePageText, EveryLackingCharacterIsNamedOnceAndEachBecomesAQuestionMark) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir, smallLayout());
  t->append();
  t->putStr(0, "ΩΩ Я ok");
  ASSERT_EQ(log.errors.size(), 1u);
  const std::string& d = log.last().description;
  EXPECT_NE(d.find("holds \"Ω\" (U+03A9), \"Я\" (U+042F), which"), std::string::npos) << d;
  EXPECT_NE(d.find("in their place"), std::string::npos) << d;
  EXPECT_EQ(t->get("NAME").asString(), pad("?? ? ok", 10));
}

TEST(CodePageText, BytesThatAreNotUtf8AndUndefinedCharactersAreNotStoredSilently) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir, smallLayout());
  t->append();
  t->put("NAME", rt::Value(std::string("caf\xE9")));  // Latin-1 bytes handed in as text
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_NE(log.last().description.find("byte 0xE9 (not UTF-8)"), std::string::npos) << log.last().description;
  EXPECT_NE(log.last().description.find("\"caf\\xE9\""), std::string::npos) << log.last().description;
  EXPECT_EQ(t->get("NAME").asString(), pad("caf?", 10));

  // U+0081 has no byte that other readers accept in Windows-1252.
  t->put("NAME", rt::Value("a\u0081b"));
  ASSERT_EQ(log.errors.size(), 2u);
  EXPECT_NE(log.last().description.find("(U+0081)"), std::string::npos) << log.last().description;
  EXPECT_EQ(t->rawField(0), pad("a?b", 10));
}

TEST(CodePageText, CharactersBeyondTheWidthAreCutBeforeTheyAreChecked) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir, smallLayout());
  t->append();
  t->put("NAME", rt::Value("0123456789Ω"));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(t->get("NAME").asString(), "0123456789");
}

TEST(CodePageText, BreakingOutOfTheErrorLeavesTheFieldAsItWas) {
  ScratchDir dir;
  auto t = freshTable(dir, smallLayout());
  addRow(*t, "Alpha", "Oslo");
  {
    BreakingErrorBlock breaking;
    rt::ErrorPtr e = rt::withRecovery([&] { t->put("NAME", rt::Value("Ωmega")); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->genCode, rt::EG_DATATYPE);
  }
  EXPECT_EQ(t->get("NAME").asString(), pad("Alpha", 10));
  t->close();
  auto re = rdd::Table::open("t", dir.str());
  EXPECT_EQ(re->get("NAME").asString(), pad("Alpha", 10));
}

// ---------------------------------------------------------------- keys and seeks

TEST(CodePageKeys, OrderFollowsTheStoredBytesAndSeekConvertsItsPrefix) {
  ScratchDir dir;
  ErrorLog log;
  auto t = freshTable(dir, smallLayout());
  for (const char* n : {"Über", "Zebra", "Ängel", "€uro", "Apfel", "Éclair"}) addRow(*t, n, "c");
  t->createOrder("byname", "t2", "NAME", nullptr, false);
  std::vector<std::string> order;
  for (t->goTop(); !t->eof(); t->skip()) order.push_back(rtrim(t->get("NAME").asString()));
  // Windows-1252 byte order: A 0x41, Z 0x5A, € 0x80, Ä 0xC4, É 0xC9, Ü 0xDC.
  EXPECT_EQ(order, (std::vector<std::string>{"Apfel", "Zebra", "€uro", "Ängel", "Éclair", "Über"}));

  EXPECT_TRUE(t->seek("Än"));
  EXPECT_EQ(rtrim(t->get("NAME").asString()), "Ängel");
  EXPECT_TRUE(t->seek(pad("Éclair", 10)));
  EXPECT_EQ(t->recNo(), 6u);
  EXPECT_TRUE(t->seek("€"));
  EXPECT_EQ(t->recNo(), 4u);
  // No stored key can hold a character the code page lacks: not found, and nothing raised.
  EXPECT_FALSE(t->seek("Ωmega"));
  EXPECT_TRUE(t->eof());
  EXPECT_TRUE(log.empty());

  // The index file keeps the keys after a reopen, still in byte order.
  t->close();
  auto re = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(re->openIndex("t2"));
  re->setOrder(1);
  EXPECT_TRUE(re->seek("Üb"));
  EXPECT_EQ(re->recNo(), 1u);
}

TEST(CodePageKeys, ARowHoldingAnUndefinedByteIsFoundByItsOwnText) {
  ScratchDir dir;
  ErrorLog log;
  writeTableWithByte(dir, 0x03, 0x81);
  auto t = rdd::Table::open("t", dir.str());
  const std::string name = t->get("NAME").asString();
  EXPECT_EQ(name, pad("\u0081", 11));  // the control character of the same number, 2 bytes of UTF-8
  t->createOrder("byname", "t2", "NAME", nullptr, false);
  EXPECT_TRUE(t->seek(name));
  EXPECT_EQ(t->recNo(), 1u);
  EXPECT_TRUE(log.empty());
}

// ---------------------------------------------------------------- other code pages

TEST(LanguageDriver, EachKnownByteReadsAndWritesItsCodePage) {
  struct Case {
    std::uint8_t languageDriver;
    unsigned char stored;
    const char* text;
  };
  const Case cases[] = {
      {0x01, 0x81, "ü"}, {0x01, 0x9B, "¢"}, {0x01, 0xE1, "ß"},  // CP437
      {0x02, 0x9B, "ø"}, {0x02, 0xB5, "Á"}, {0x02, 0xD5, "ı"},  // CP850
      {0x03, 0x80, "€"}, {0x57, 0x80, "€"}, {0x00, 0x80, "€"},  // Windows-1252, ANSI, none
      {0x64, 0x88, "ł"}, {0xC8, 0xB3, "ł"}, {0x65, 0x86, "Ж"},  // CP852, Windows-1250, CP866
      {0xC9, 0xC6, "Ж"}, {0x04, 0xDB, "€"}, {0x7D, 0xE0, "א"},  // Windows-1251, Macintosh, Windows-1255
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    ErrorLog log;
    writeTableWithByte(dir, c.languageDriver, c.stored);
    auto t = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(t) << int(c.languageDriver);
    EXPECT_EQ(t->get("NAME").asString(), c.text + std::string(9, ' ')) << int(c.languageDriver);
    t->put("NAME", rt::Value(std::string(c.text) + "!"));
    EXPECT_EQ(static_cast<unsigned char>(t->rawField(0)[0]), c.stored) << int(c.languageDriver);
    EXPECT_TRUE(log.empty()) << int(c.languageDriver);
  }
}

TEST(LanguageDriver, TableDeclaringNoCodePageDeclaresWindows1252WhenItFirstHoldsSuchAByte) {
  ScratchDir dir;
  ErrorLog log;
  writeTableWithByte(dir, 0x00, 'x');
  {
    auto t = rdd::Table::open("t", dir.str());
    t->put("NAME", rt::Value("plain"));
    t->flush();
    EXPECT_EQ(readBytes(dir.file("t.dbf"))[29], 0x00);  // ASCII is the same in every reading
    t->put("NAME", rt::Value("Café"));
  }
  EXPECT_EQ(readBytes(dir.file("t.dbf"))[29], 0x03);
  auto t = rdd::Table::open("t", dir.str());
  EXPECT_EQ(t->get("NAME").asString(), pad("Café", 11));
  EXPECT_TRUE(log.empty());
}

TEST(LanguageDriver, CharacterOneDosPageLacksIsRaisedThere) {
  ScratchDir dir;
  ErrorLog log;
  writeTableWithByte(dir, 0x01, 'x');
  auto t = rdd::Table::open("t", dir.str());
  t->put("NAME", rt::Value("5 €"));
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_NE(log.last().description.find("code page CP437"), std::string::npos) << log.last().description;
  EXPECT_EQ(t->rawField(0), pad("5 ?", 10));
}

TEST(LanguageDriver, DoubleBytePagesStoreTwoBytesACharacterAndCutBetweenCharacters) {
  ScratchDir dir;
  ErrorLog log;
  writeTableWithByte(dir, 0x7B, 'x');  // Japanese Windows, CP932
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t);
  t->put("NAME", rt::Value("日本語のテキスト"));  // 16 bytes in CP932; NAME holds 10
  EXPECT_EQ(t->rawField(0), "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65");
  EXPECT_EQ(t->get("NAME").asString(), "日本語のテ");
  EXPECT_TRUE(log.empty());
}

TEST(LanguageDriver, AByteThatNamesNoConvertibleCodePageRefusesTheOpenSayingWhyAndChangesNothing) {
  const struct {
    std::uint8_t byte;
    const char* says;
  } cases[] = {{0x05, "0x05, which names no code page"}, {0x98, "Greek Macintosh, which the C library cannot convert"}};
  for (const auto& c : cases) {
    ScratchDir dir;
    ErrorLog log;
    writeTableWithByte(dir, c.byte, 'x');
    const auto before = readBytes(dir.file("t.dbf"));
    auto t = rdd::Table::open("t", dir.str());
    EXPECT_FALSE(t);
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.last().genCode, rt::EG_UNSUPPORTED);
    EXPECT_NE(log.last().description.find(dir.file("t.dbf")), std::string::npos) << log.last().description;
    EXPECT_NE(log.last().description.find(c.says), std::string::npos) << log.last().description;
    EXPECT_EQ(readBytes(dir.file("t.dbf")), before);
  }
}
