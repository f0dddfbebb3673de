// An index file rewritten as its table grows takes about one image of disk space, and a process
// reading it while another rewrites it again and again reads whole images, never an error.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "harness.h"

using namespace rddtest;

namespace {

// Bytes the file takes on disk, and the bytes of the pages its current image uses (the dump
// lists each tree header, the directory's being the file header, and each node).
std::uint64_t diskBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_blocks) * 512 : 0;
}

std::uint64_t livePageBytes(const std::string& dump) {
  std::uint64_t bytes = 0;
  std::istringstream lines(dump);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("tag ")) bytes += 1024;
    if (line.starts_with("  L")) bytes += 512;
  }
  return bytes;
}

}  // namespace

TEST(IndexSpace, AGrowingIndexTakesAboutOneImageOnDisk) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  auto t = rdd::Table::open("t", dir.str());
  t->createOrder("name", "idx", "NAME");
  t->createOrder("city", "idx", "CITY+NAME");
  std::uint64_t worst = 0, worstLive = 0;
  for (int round = 0; round < 30; ++round) {
    for (int i = 0; i < 400; ++i) addRow(*t, "k" + std::to_string((round * 400 + i) * 7919 % 100003), "c" + std::to_string(i % 97));
    t->flush();  // a new image, larger than the one before
    const std::uint64_t live = livePageBytes(t->dumpIndexFile(1)), disk = diskBytes(dir.file("idx.cdx"));
    if (disk * worstLive > worst * live) worst = disk, worstLive = live;
  }
  EXPECT_LE(worst, worstLive * 12 / 10 + 8192) << "live pages " << worstLive;
  EXPECT_TRUE(log.empty());
}

TEST(IndexSpace, AReaderWhileAnotherProcessRewritesTheIndexReadsWholeImages) {
  ScratchDir dir;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  {
    auto t = rdd::Table::open("t", dir.str());
    t->createOrder("name", "idx", "NAME");
  }
  const int rounds = 150, perRound = 40;
  const pid_t writer = fork();
  if (writer == 0) {
    rdd::OpenOptions opt;
    opt.appendBurstMs = 0;
    auto t = rdd::Table::open("t", dir.str(), opt);
    if (!t || !t->openIndex("idx")) _exit(2);
    for (int r = 0; r < rounds; ++r) {
      for (int i = 0; i < perRound; ++i) addRow(*t, "w" + std::to_string((r * perRound + i) * 7919 % 10007), "x");
      t->flush();
    }
    _exit(t->writeFailed() ? 3 : 0);
  }
  auto t = rdd::Table::open("t", dir.str());
  ASSERT_TRUE(t && t->openIndex("idx"));
  t->setOrder(1);
  int status = 0;
  while (waitpid(writer, &status, WNOHANG) == 0) {
    t->goTop();
    (void)t->seek("w5");
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::uint32_t entries = 0;
  for (t->goTop(); !t->eof(); t->skip()) ++entries;
  EXPECT_EQ(entries, static_cast<std::uint32_t>(rounds * perRound));
  for (const auto& e : log.errors) ADD_FAILURE() << e->description;
}
