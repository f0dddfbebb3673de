// Names that lead the engine to a named pipe or a device instead of a file: the layout itself,
// the table it reads, and the bitmap and rich-text files its objects show. Each is refused with
// an error naming it, and no reader waits on the pipe.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "../support/error_recorder.h"
#include "../support/fifo.h"
#include "reportengine/reportengine.h"

namespace {

struct SpecialFiles : ::testing::Test {
  QTemporaryDir dir;
  std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
};

TEST_F(SpecialFiles, LayoutThatIsAPipeOrADeviceIsRefusedNamingIt) {
  Fifo fifo(path("pipe.rpt"));
  ASSERT_TRUE(fifo.made());
  const rpt::LayoutResult fromPipe = rpt::readLayoutFile(fifo.path());
  EXPECT_FALSE(fromPipe.ok());
  EXPECT_EQ(fromPipe.error, fifo.path() + ": is not a regular file");
  EXPECT_FALSE(fifo.blockedAReader());

  const rpt::LayoutResult fromDevice = rpt::readLayoutFile("/dev/zero");
  EXPECT_EQ(fromDevice.error, "/dev/zero: is not a regular file");
  const rpt::LayoutResult fromFolder = rpt::readLayoutFile(dir.path().toStdString());
  EXPECT_FALSE(fromFolder.ok());
}

TEST_F(SpecialFiles, TableThatIsAPipeIsRaisedNamingItAndGivesNoRows) {
  Fifo fifo(path("rows.dbf"));
  ASSERT_TRUE(fifo.made());
  std::ofstream(path("t.rpt")) << R"({"format": "zmc-report", "version": 1, "data": {"table": "rows.dbf"}})";
  const rpt::LayoutResult layout = rpt::readLayoutFile(path("t.rpt"));
  ASSERT_TRUE(layout.ok()) << layout.error;
  ErrorRecorder errors;
  EXPECT_FALSE(rpt::loadRows(*layout.layout).has_value());
  EXPECT_FALSE(fifo.blockedAReader());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_NE(errors.last()->description.find("not a regular file"), std::string::npos) << errors.last()->description;
  EXPECT_NE(errors.last()->fileName.find("rows.dbf"), std::string::npos) << errors.last()->fileName;
}

TEST_F(SpecialFiles, BitmapAndRichTextThatArePipesDoNotLoad) {
  Fifo bitmap(path("logo.bmp")), text(path("note.rtf"));
  ASSERT_TRUE(bitmap.made() && text.made());
  rpt::DIBMP dib;
  EXPECT_FALSE(dib.LoadDIBFromFile(bitmap.path()));
  rpt::RTF rtf;
  EXPECT_FALSE(rtf.LoadRTFFromFile(text.path()));
  EXPECT_FALSE(rtf.LoadRTFFromFile("/dev/zero"));
  EXPECT_FALSE(bitmap.blockedAReader());
  EXPECT_FALSE(text.blockedAReader());
}

}  // namespace
