// A load that reaches the most a table file or an index file may take stops there with a clear
// error, before any of the refused record is written: both files stay whole for other programs
// and the next open trusts them as they are.
#include <sys/stat.h>

#include "cdx_file.h"
#include "harness.h"

using namespace rddtest;

namespace {

std::uint64_t sizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// smallLayout(): a 129-byte header and 20-byte records; the table limit leaves room for 500.
constexpr std::uint64_t kTableRoomFor500 = 129 + 500 * 20 + 1;

struct LimitCase {
  const char* what;
  bool shared;
  rdd::FileLimits limits;
  const char* fullFile;  // the file the error names
  bool rising = false;   // keys arrive in key order (the image is sized again from its last leaf)
};

const LimitCase kLimitCases[] = {
    {"table, shared", true, {kTableRoomFor500, 0}, "t.dbf"},
    {"table, exclusive", false, {kTableRoomFor500, 0}, "t.dbf"},
    {"index, shared", true, {0, 96 * 1024}, "idx.cdx"},
    {"index, exclusive", false, {0, 96 * 1024}, "idx.cdx"},
    {"index, shared, rising keys", true, {0, 96 * 1024}, "idx.cdx", true},
    {"index, exclusive, rising keys", false, {0, 96 * 1024}, "idx.cdx", true},
};

std::uint32_t entriesInOrder(rdd::Table& t) {
  std::uint32_t n = 0;
  t.setOrder(1);
  for (t.goTop(); !t.eof(); t.skip()) ++n;
  return n;
}

}  // namespace

TEST(FormatLimits, ALoadStopsAtAFilesLimitWithBothFilesWholeAndTrusted) {
  for (const LimitCase& c : kLimitCases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
    rdd::FaultEnv limited(rdd::defaultEnv());
    limited.setLimits(c.limits);
    rdd::OpenOptions opt;
    opt.env = &limited;
    opt.shared = c.shared;
    std::uint32_t stored = 0;
    {
      ErrorLog log;
      auto t = rdd::Table::open("t", dir.str(), opt);
      ASSERT_TRUE(t);
      t->createOrder("name", "idx", "NAME");
      for (int i = 0; i < 200000; ++i) {
        t->append();
        if (t->writeFailed()) break;
        const int n = c.rising ? 100000 + i : i * 7919 % 200003;
        t->put("NAME", rt::Value("r" + std::to_string(n)));
      }
      ASSERT_TRUE(t->writeFailed()) << "the limit was never reached";
      stored = t->lastRec();
      ASSERT_EQ(log.errors.size(), 1u);
      const rt::Error& e = log.last();
      EXPECT_EQ(e.genCode, rt::EG_LIMIT);
      const std::uint64_t limit = c.limits.tableBytes ? c.limits.tableBytes : c.limits.indexBytes;
      for (const std::string& named : {dir.file(c.fullFile), std::to_string(limit), std::to_string(stored)})
        EXPECT_NE(e.description.find(named), std::string::npos) << e.description << " lacks " << named;
      if (c.limits.tableBytes) EXPECT_EQ(stored, 500u) << "every record that fits is stored";
      else EXPECT_GT(stored, 1000u) << "the index stops near its limit, not far before it";
      t->goTop();
      t->put("CITY", rt::Value("x"));  // a later write is refused, naming the limit
      t->flush();
      EXPECT_EQ(log.errors.size(), 2u);
      EXPECT_NE(log.last().description.find("is full"), std::string::npos);
    }
    EXPECT_LE(sizeOf(dir.file("t.dbf")), c.limits.tableBytes ? c.limits.tableBytes : ~0ull);
    EXPECT_LE(sizeOf(dir.file("idx.cdx")), c.limits.indexBytes ? c.limits.indexBytes : ~0ull);
    auto [keys, records] = independentCounts(dir);
    if (keys >= 0) {
      EXPECT_EQ(keys, static_cast<long>(stored)) << "index_dump";
      EXPECT_EQ(records, static_cast<long>(stored)) << "dbfread";
    }
    // A new open under the same limits refuses the next record and leaves both files as they are.
    const auto table = readBytes(dir.file("t.dbf")), index = readBytes(dir.file("idx.cdx"));
    {
      ErrorLog log;
      auto t = rdd::Table::open("t", dir.str(), opt);
      ASSERT_TRUE(t && t->openIndex("idx"));
      t->append();
      EXPECT_TRUE(t->writeFailed());
      EXPECT_EQ(log.errors.size(), 1u);
      EXPECT_EQ(t->lastRec(), stored);
    }
    EXPECT_EQ(readBytes(dir.file("t.dbf")), table) << "a refused record leaves the table as it was";
    EXPECT_EQ(readBytes(dir.file("idx.cdx")), index) << "a refused record leaves the index as it was";
    // Without limits the next open finds nothing to repair: the index file is not written again.
    ErrorLog log;
    auto t = rdd::Table::open("t", dir.str());
    ASSERT_TRUE(t && t->openIndex("idx"));
    EXPECT_EQ(entriesInOrder(*t), stored);
    t.reset();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(readBytes(dir.file("idx.cdx")), index) << "the next open rebuilt the index";
  }
}

// The writer itself refuses an image whose pages would lie past 32-bit offsets, before writing
// any page, whatever its caller worked out.
TEST(FormatLimits, AnIndexImagePastThirtyTwoBitOffsetsIsRefusedBeforeAnyPage) {
  ScratchDir dir;
  std::unique_ptr<rdd::File> file;
  ASSERT_TRUE(rdd::defaultEnv()->open(dir.file("x.cdx"), rdd::OpenMode::CreateReadWrite, &file).ok());
  std::string entries;
  for (int i = 0; i < 400; ++i) entries += pad("k" + std::to_string(1000 + i), 10) + std::string("\0\0\0", 3) + char(1);
  rdd::TagOut tag{"K", "K", "", 10, false, [&](const rdd::EntryRun& run) { run(entries.data(), 400); }, nullptr, {}};
  rdd::CdxWriter writer({&tag}, 400, {});
  std::vector<std::uint8_t> header;
  for (std::uint64_t base : {0x100000000ull - writer.regionSize() + 512, 0x100000000ull, 0x7FFFFFFFull * 3 + 1}) {
    writer.placeWhole(base / 512 * 512);
    rdd::Status s = writer.writeRegion(*file, 1, {}, &header);
    EXPECT_FALSE(s.ok()) << base;
    EXPECT_NE(s.message.find("4294967296"), std::string::npos) << s.message;
  }
  std::uint64_t size = 1;
  ASSERT_TRUE(file->size(&size).ok());
  EXPECT_EQ(size, 0u) << "no page was written";
  writer.placeWhole(0x100000000ull - writer.regionSize() / 512 * 512 - 512);
  EXPECT_TRUE(writer.writeRegion(*file, 1, {}, &header).ok())
      << "an image ending within the offsets is written";
}
