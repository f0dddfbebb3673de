// The real main window when its table's files are in trouble: an index file broken by a kill
// during the closing rebuild or by garbage, and a disk that fills up during a load.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "resources/resources.h"
#include "window_fixture.h"
#include "workflow_support.h"
#include "zorbanectl/zorbanectl.h"

namespace {


class TableTrouble : public wftest::Workflow {
 protected:
  // Two loaded versions, the window closed again: the table and its index on disk.
  void seedTwoVersions() {
    start();
    load("Base Fam", "1.0");
    load("Ref Fam", "2.0");
    win.reset();
    errors.errors.clear();
  }
  int comparesFinished() const {
    int n = 0;
    for (const auto& b : responder.records()) n += b.text == "We have finished comparing the two model structures!";
    return n;
  }
  int boxes(const std::string& caption) const {
    int n = 0;
    for (const auto& b : responder.records()) n += b.caption == caption;
    return n;
  }
  // Keys of order 1 walked from the top, against the record count.
  static std::pair<std::uint32_t, std::uint32_t> entriesAndRecords(model::Mpdms& table) {
    table.setOrder(1);
    std::uint32_t n = 0;
    for (table.goTop(); !table.eof(); table.skip()) ++n;
    return {n, table.lastRec()};
  }
};

TEST_F(TableTrouble, AKillDuringTheClosingRebuildIsRepairedAtTheNextStart) {
  seedTwoVersions();
  pid_t kid = fork();
  if (kid == 0) {
    model::Mpdms::Args args;
    args.shared = true;
    model::Mpdms table(args);
    if (table.orderCount() != 2) _exit(2);
    table.deleteOrder(1);  // the rebuild's first step, written at once: a file without tags
    table.deleteOrder(1);
    raise(SIGKILL);
  }
  int status = 0;
  waitpid(kid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  start();
  EXPECT_EQ(win->ModelServer->orderCount(), 2) << "the start-up build made the missing orders";
  EXPECT_TRUE(errors.errors.empty());  // nothing for the user to decide: a warning in the log
  ASSERT_EQ(errors.warnings.size(), 1u);
  EXPECT_NE(errors.warnings[0]->description.find("lacks 2 of its orders"), std::string::npos);
  auto [entries, records] = entriesAndRecords(*win->ModelServer);
  EXPECT_EQ(entries, records);
  compare("1.0", "2.0");
  EXPECT_EQ(comparesFinished(), 1);
  EXPECT_EQ(wftest::flagsOf(*win->ModelServer, "1.0", "Shape"), "FTFFTTT");
}

TEST_F(TableTrouble, AGarbageIndexFileIsRebuiltAtStartUp) {
  seedTwoVersions();
  {
    std::ofstream out(dir.indexFile(), std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 4096; ++i) out.put(static_cast<char>(i * 131 + 7));
  }
  start();
  EXPECT_EQ(win->ModelServer->orderCount(), 2);
  EXPECT_TRUE(errors.errors.empty());
  EXPECT_GE(errors.warnings.size(), 1u);
  auto [entries, records] = entriesAndRecords(*win->ModelServer);
  EXPECT_EQ(entries, records);
  EXPECT_GT(records, 0u);
  compare("1.0", "2.0");
  EXPECT_EQ(comparesFinished(), 1);
}

TEST_F(TableTrouble, ATruncatedIndexFileIsOneWarningBeforeTheWindowAppears) {
  seedTwoVersions();
  const auto whole = std::filesystem::file_size(dir.indexFile());
  const std::string saved = wftest::readFile(dir.indexFile());
  for (const std::uintmax_t size : {whole / 2, std::uintmax_t{600}, std::uintmax_t{100}}) {
    std::ofstream(dir.indexFile(), std::ios::binary | std::ios::trunc) << saved;
    std::filesystem::resize_file(dir.indexFile(), size);
    errors.errors.clear();
    errors.warnings.clear();
    start();
    EXPECT_TRUE(errors.errors.empty()) << size << " bytes";
    ASSERT_EQ(errors.warnings.size(), 1u) << size << " bytes";
    EXPECT_NE(errors.warnings[0]->description.find("it holds no usable order"), std::string::npos);
    EXPECT_EQ(win->ModelServer->orderCount(), 2);
    auto [entries, records] = entriesAndRecords(*win->ModelServer);
    EXPECT_EQ(entries, records);
    win.reset();
  }
}

TEST_F(TableTrouble, ACompareOfAVersionWithoutRowsStillRebuildsTheIndex) {
  seedTwoVersions();
  start();
  win->ModelServer->deleteOrder(1);  // as a kill during the closing rebuild leaves it
  win->ModelServer->deleteOrder(1);
  win->oBaseModel->pick(itemOf(win->oBaseModel, workflow::fullWidthVersion("1.0")));
  win->oRefModel->pick(itemOf(win->oRefModel, workflow::fullWidthVersion("2.0")));
  win->oPbCompareModels->click();  // no order: the versions are not found
  EXPECT_EQ(boxes("Compare Above Models"), 1);
  EXPECT_EQ(win->ModelServer->orderCount(), 2);
  compare("1.0", "2.0");  // the next compare finds the rows again
  EXPECT_EQ(comparesFinished(), 1);
}

TEST_F(TableTrouble, ARowRewrittenInPlaceByAnotherProgramIsComparedAsItNowIs) {
  seedTwoVersions();
  // Where MODELVERS of the first row lies, then another program stamps that row 9.9 in place.
  std::uint64_t at = 0;
  std::string className;
  {
    rdd::OpenOptions readOnly;
    readOnly.readOnly = true;
    auto t = rdd::Table::open("Mpdms", dir.path().string(), readOnly);
    ASSERT_TRUE(t);
    int vers = t->fieldIndex("MODELVERS");
    at = static_cast<std::uint64_t>(t->field(vers).offset);  // within record 1, after the header
    std::ifstream in(dir.path() / "Mpdms.dbf", std::ios::binary);
    std::vector<unsigned char> head(12);
    in.read(reinterpret_cast<char*>(head.data()), 12);
    at += head[8] | head[9] << 8;
    t->goTo(1);
    ASSERT_EQ(t->get("MODELVERS").asString(), workflow::fullWidthVersion("1.0"));
    className = std::string(t->rawField(t->fieldIndex("CLASSNAME")));
  }
  usleep(20000);  // past the file system's clock tick
  {
    std::fstream io(dir.path() / "Mpdms.dbf", std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(static_cast<std::streamoff>(at));
    io.write(workflow::fullWidthVersion("9.9").data(), 15);
  }
  start();
  EXPECT_TRUE(errors.errors.empty()) << "a stale index is rebuilt without a word";
  compare("1.0", "2.0");
  EXPECT_EQ(comparesFinished(), 1);
  className.erase(className.find_last_not_of(' ') + 1);
  EXPECT_EQ(wftest::flagsOf(*win->ModelServer, "9.9", className), "FFFFFFF") << "a row of another version";
  auto [entries, records] = entriesAndRecords(*win->ModelServer);
  EXPECT_EQ(entries, records);
}

TEST_F(TableTrouble, AnotherProcessLoadingWhileTheWindowListsAndCompares) {
  start();
  load("Base Fam", "1.0");
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  pid_t loader = fork();
  if (loader == 0) {
    // A second instance's load: the rows of version 1.0 again, stamped 3.0, in two parts.
    model::Mpdms::Args args;
    args.shared = true;
    model::Mpdms other(args);
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : wftest::rowsInRecordOrder(other)) {
      std::vector<std::string> f;
      std::size_t at = 0;
      for (std::size_t bar; (bar = line.find('|', at)) != std::string::npos; at = bar + 1) f.push_back(line.substr(at, bar - at));
      f.push_back(line.substr(at));
      if (f[0] == "1.0") rows.push_back(f);
    }
    char c = 0;
    for (int part = 0; part < 2; ++part) {
      for (std::size_t i = part; i < rows.size(); i += 2) {
        const auto& f = rows[i];
        wftest::appendRow(other, "3.0", f[1], f[2], f[3], f[4], f[5], f[6]);
      }
      other.goTop();  // the burst ends
      if (write(toParent[1], "x", 1) != 1 || read(toChild[0], &c, 1) != 1) _exit(3);
    }
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  win->UpdateModelList();
  EXPECT_GT(itemOf(win->oBaseModel, workflow::fullWidthVersion("3.0")), 0) << "half of 3.0 is listed";
  ASSERT_EQ(write(toChild[1], "x", 1), 1);
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  win->UpdateModelList();
  compare("1.0", "3.0");  // the other instance is still open
  EXPECT_EQ(comparesFinished(), 1);
  EXPECT_EQ(wftest::flagsOf(*win->ModelServer, "1.0", "Shape"), "FTFFTTT");
  EXPECT_EQ(wftest::flagsOf(*win->ModelServer, "3.0", "Shape", "Area"), "FTFFTTT");
  auto [entries, records] = entriesAndRecords(*win->ModelServer);
  EXPECT_EQ(entries, records);
  ASSERT_EQ(write(toChild[1], "x", 1), 1);
  int status = 0;
  waitpid(loader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(TableTrouble, AFullDiskStopsTheLoadWithOneErrorAndTellsTheRowsStored) {
  start();
  load("Base Fam", "1.0");
  const auto table = dir.path() / "Mpdms.dbf";
  const std::uint64_t before = std::filesystem::file_size(table);
  errors.errors.clear();
  // The files may not grow past a few rows: writes beyond that fail as on a full disk.
  struct rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = before + 3 * model::kRecordLength;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  load("Ref Fam", "2.0");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(errors.count(rt::EG_WRITE), 1) << "one error, not one per row";
  EXPECT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(boxes("Finished"), 1) << "only the first load finished";
  ASSERT_EQ(boxes("Load Stopped"), 1);
  EXPECT_NE(responder.records().back().text.find("rows were stored"), std::string::npos)
      << responder.records().back().text;
  EXPECT_TRUE(win->oPbExecute->IsEnabled());
  EXPECT_TRUE(win->ModelServer->used());
  win.reset();
  // The table holds what its header counts, then the end mark; the next start says nothing.
  std::ifstream in(table, std::ios::binary);
  std::vector<unsigned char> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::uint32_t count = b[4] | b[5] << 8 | b[6] << 16, headerLen = b[8] | b[9] << 8, recordLen = b[10] | b[11] << 8;
  EXPECT_EQ(b.size(), headerLen + std::uint64_t{count} * recordLen + 1);
  EXPECT_EQ(b.back(), 0x1A);
  errors.errors.clear();
  start();
  EXPECT_TRUE(errors.errors.empty()) << errors.errors.front()->description;
  auto [entries, records] = entriesAndRecords(*win->ModelServer);
  EXPECT_EQ(entries, records);
  EXPECT_EQ(records, count);
}

}  // namespace
