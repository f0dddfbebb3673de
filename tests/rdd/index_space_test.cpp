// An index file rewritten as its table grows takes about one image of disk space, and a process
// reading it while another rewrites it again and again reads whole images, never an error.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
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

// Keys spread over the order make the writer lay each image out whole; rising keys make it write
// each over the one before, rewriting pages in place.
TEST(IndexSpace, AReaderWhileAnotherProcessRewritesTheIndexReadsWholeImages) {
  for (const bool rising : {false, true}) {
    SCOPED_TRACE(rising ? "rising keys" : "spread keys");
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
        for (int i = 0; i < perRound; ++i) {
          const int n = r * perRound + i;
          const std::string name = "w" + std::to_string(rising ? 100000 + n : n * 7919 % 10007);
          const std::pair<int, std::string_view> row[] = {{0, name}, {1, "x"}};
          t->appendRecord(row);  // whole: no blank key comes and goes below the others
        }
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
}

// An image written over the one before keeps the pages whose entries did not change: a later
// version's rows, sorting after every key of both orders, leave nearly every page of the file as
// it was, whether this opener wrote the image before or the table was opened again over one laid
// out whole. Rows sorting first, a key rewritten among the others, record numbers grown wider and
// an image read that was not laid out whole change most of them. After each write the file,
// opened afresh, walks both orders in key order without a repair, index_dump lists the same, and
// the file stays within an eighth of its live pages.
TEST(IndexSpace, AnImageWrittenOverTheLastKeepsThePagesWhoseEntriesDidNotChange) {
  ScratchDir dir, fresh;
  ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), smallLayout()));
  rdd::OpenOptions opt;
  opt.shared = false;  // an image at each flush
  opt.maxLeafKeys = 6;  // deep trees over a few thousand rows
  opt.maxInteriorKeys = 3;
  auto t = rdd::Table::open("t", dir.str(), opt);
  t->createOrder("name", "idx", "NAME", nullptr, false);
  t->createOrder("city", "idx", "CITY+NAME", nullptr, false);
  std::vector<std::pair<std::string, std::string>> rows;  // NAME and CITY of each record
  auto addVersion = [&](char version, int count) {
    for (int i = 0; i < count; ++i) {
      rows.emplace_back(version + std::to_string(100000 + (rows.size() * 7919) % 99991), version + std::to_string(i % 50));
      addRow(*t, rows.back().first, rows.back().second);
    }
  };
  struct Step {
    const char* what;
    std::function<void()> change;
    bool reopen, keepsNearlyAll;
  };
  const Step steps[] = {
      {"a first version", [&] { addVersion('b', 3000); }, false, false},
      {"a later version", [&] { addVersion('c', 3000); }, false, true},
      {"another later one", [&] { addVersion('d', 1000); }, false, true},
      {"a later one opened again over an image not laid out whole", [&] { addVersion('e', 1000); }, true, false},
      {"an earlier version", [&] { addVersion('a', 1000); }, false, false},
      {"a later one opened again over an image laid out whole", [&] { addVersion('f', 1000); }, true, true},
      {"a key rewritten among the others", [&] {
         t->goTo(10);
         t->put("NAME", rt::Value(rows[9].first = "b000000"));
       }, false, false},
      {"a later version past 16,383 records", [&] { addVersion('g', 9000); }, true, false},
  };
  const std::string index = dir.file("idx.cdx");
  for (const Step& step : steps) {
    if (step.reopen) {
      t.reset();
      t = rdd::Table::open("t", dir.str(), opt);
      ASSERT_TRUE(t && t->openIndex("idx")) << step.what;
    }
    const std::vector<unsigned char> before = readBytes(index);
    step.change();
    t->flush();
    const std::vector<unsigned char> after = readBytes(index);
    std::size_t changed = 0;
    for (std::size_t at = 0; at + 512 <= std::min(before.size(), after.size()); at += 512)
      changed += std::memcmp(&before[at], &after[at], 512) != 0;
    if (step.keepsNearlyAll) {
      EXPECT_LE(changed * 20, before.size() / 512) << step.what << ": pages changed " << changed;
    }
    EXPECT_LE(after.size() * 8, livePageBytes(t->dumpIndexFile(1)) * 9) << step.what;

    for (const char* name : {"t.dbf", "idx.cdx"}) {
      std::filesystem::copy_file(dir.file(name), fresh.file(name), std::filesystem::copy_options::overwrite_existing);
      std::filesystem::last_write_time(fresh.file(name), std::filesystem::last_write_time(dir.file(name)));
    }
    for (int order : {1, 2}) {
      std::vector<std::pair<std::string, std::uint32_t>> expected;
      for (std::uint32_t r = 1; r <= rows.size(); ++r)
        expected.emplace_back(order == 1 ? pad(rows[r - 1].first, 10) : pad(rows[r - 1].second, 8) + pad(rows[r - 1].first, 10), r);
      std::sort(expected.begin(), expected.end());
      std::string listing;
      for (const auto& [key, r] : expected) listing += rtrim(key) + " " + std::to_string(r) + "\n";
      {
        auto copy = rdd::Table::open("t", fresh.str());
        ASSERT_TRUE(copy && copy->openIndex("idx")) << step.what;
        copy->setOrder(order);
        std::size_t at = 0;
        for (copy->goTop(); !copy->eof() && at < expected.size(); copy->skip(), ++at)
          ASSERT_EQ(copy->recNo(), expected[at].second) << step.what << ", order " << order << ", entry " << at;
        EXPECT_TRUE(copy->eof() && at == expected.size()) << step.what << ", order " << order;
      }
      EXPECT_TRUE(readBytes(fresh.file("idx.cdx")) == after) << step.what << ": the open repaired the index";
      if (std::system("command -v index_dump >/dev/null 2>&1") == 0) {
        EXPECT_TRUE(commandOutput("index_dump --type=char " + index + (order == 1 ? " NAME" : " CITY")) == listing)
            << step.what << ", order " << order;
      }
    }
  }
  for (const auto& e : log.errors) ADD_FAILURE() << e->description;
}
