// A table or index name that leads to a named pipe or a device: refused at the open, for shared,
// exclusive and read-only opens alike, with an error naming the file, and no open waits on it.
#include "../support/fifo.h"
#include "harness.h"

namespace {

using rddtest::ErrorLog;
using rddtest::ScratchDir;

TEST(SpecialFiles, TableThatIsAPipeIsRefusedWhateverTheOpenMode) {
  ScratchDir dir;
  Fifo fifo(dir.file("pipe.dbf"));
  ASSERT_TRUE(fifo.made());
  for (const auto& [shared, readOnly] : {std::pair{true, true}, std::pair{true, false}, std::pair{false, false}}) {
    ErrorLog log;
    rdd::OpenOptions options;
    options.shared = shared;
    options.readOnly = readOnly;
    EXPECT_EQ(rdd::Table::open("pipe", dir.str(), options), nullptr);
    ASSERT_EQ(log.errors.size(), 1u);
    EXPECT_EQ(log.last().genCode, rt::EG_OPEN);
    EXPECT_NE(log.last().description.find("pipe.dbf is not a regular file"), std::string::npos)
        << log.last().description;
  }
  EXPECT_FALSE(fifo.blockedAReader());
}

TEST(SpecialFiles, IndexThatIsAPipeOrAFolderIsRefused) {
  ScratchDir dir;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), rddtest::smallLayout()));
  Fifo fifo(dir.file("t.cdx"));
  ASSERT_TRUE(fifo.made());
  ErrorLog log;
  rdd::OpenOptions options;
  auto table = rdd::Table::open("t", dir.str(), options);
  ASSERT_NE(table, nullptr);
  EXPECT_FALSE(table->openIndex(dir.file("t.cdx")));
  std::filesystem::create_directories(dir.file("d.cdx"));
  EXPECT_FALSE(table->openIndex(dir.file("d.cdx")));
  ASSERT_EQ(log.errors.size(), 2u);
  EXPECT_NE(log.errors[0]->description.find("not a regular file"), std::string::npos) << log.errors[0]->description;
  EXPECT_NE(log.errors[1]->description.find("d.cdx"), std::string::npos) << log.errors[1]->description;
  EXPECT_FALSE(fifo.blockedAReader());
}

}  // namespace
