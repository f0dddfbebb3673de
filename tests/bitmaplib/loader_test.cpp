// Loading the bitmap support library by name, and the availability flag in every outcome.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <filesystem>

#include "bitmaplib/bitmaplib.h"

namespace {

class Loader : public ::testing::Test {
 protected:
  void TearDown() override { bmp::unloadSupportLibrary(); }
};

QByteArray pngBytes(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

}  // namespace

TEST_F(Loader, LoadsByNameAndResolvesAllTenEntryPoints) {
  ASSERT_TRUE(bmp::loadSupportLibrary("zmcbitmap", {ZMC_BITMAP_DIR})) << bmp::lastLoadError();
  EXPECT_TRUE(bmp::available());
  EXPECT_EQ(bmp::lastLoadError(), "");
  const bmp::EntryPoints& e = bmp::entryPoints();
  for (const void* p : {(const void*)e.createFromFile, (const void*)e.createFromMemory, (const void*)e.deleteDib,
                        (const void*)e.stretchDraw, (const void*)e.show, (const void*)e.getInfo,
                        (const void*)e.saveAs, (const void*)e.lastErrorMessage, (const void*)e.lastError,
                        (const void*)e.showErrors})
    EXPECT_NE(p, nullptr);
}

TEST_F(Loader, LoadsByFullPath) {
  std::string path = std::string(ZMC_BITMAP_DIR) + "/libzmcbitmap.so";
  EXPECT_TRUE(bmp::loadSupportLibrary(path)) << bmp::lastLoadError();
}

TEST_F(Loader, MissingLibraryLeavesFlagFalse) {
  EXPECT_FALSE(bmp::loadSupportLibrary("zmcbitmap_nowhere", {ZMC_BITMAP_DIR}));
  EXPECT_FALSE(bmp::available());
  EXPECT_NE(bmp::lastLoadError().find("zmcbitmap_nowhere"), std::string::npos);
  EXPECT_EQ(bmp::entryPoints().createFromFile, nullptr);
}

TEST_F(Loader, MissingEntryPointLeavesFlagFalseAndNamesIt) {
  ASSERT_TRUE(bmp::loadSupportLibrary("zmcbitmap", {ZMC_BITMAP_DIR}));
  EXPECT_FALSE(bmp::loadSupportLibrary("zmcbitmap_partial", {ZMC_PARTIAL_DIR}));
  EXPECT_FALSE(bmp::available());
  EXPECT_NE(bmp::lastLoadError().find("ZmcDibShowErrors"), std::string::npos);
  EXPECT_EQ(bmp::entryPoints().createFromFile, nullptr);
}

TEST_F(Loader, BitmapRoundTripThroughTheEntryPoints) {
  ASSERT_TRUE(bmp::loadSupportLibrary("zmcbitmap", {ZMC_BITMAP_DIR}));
  const bmp::EntryPoints& e = bmp::entryPoints();
  QByteArray bytes = pngBytes(4, 3);
  ZmcDibHandle dib = e.createFromMemory(bytes.constData(), static_cast<size_t>(bytes.size()));
  ASSERT_NE(dib, nullptr) << e.lastErrorMessage();
  ZmcDibInfo info{};
  ASSERT_EQ(e.getInfo(dib, &info), 1);
  EXPECT_EQ(info.width, 4);
  EXPECT_EQ(info.height, 3);

  QImage canvas(8, 6, QImage::Format_RGB32);
  canvas.fill(Qt::white);
  {
    QPainter painter(&canvas);
    EXPECT_EQ(e.stretchDraw(dib, &painter, 0, 0, 8, 6), 1);
  }
  EXPECT_EQ(canvas.pixelColor(7, 5), QColor(Qt::red));

  std::string file = (std::filesystem::temp_directory_path() / "zmc_bitmap_roundtrip.bmp").string();
  ASSERT_EQ(e.saveAs(dib, file.c_str()), 1);
  ZmcDibHandle again = e.createFromFile(file.c_str());
  ASSERT_NE(again, nullptr);
  e.deleteDib(again);
  e.deleteDib(dib);
  std::filesystem::remove(file);
}

TEST_F(Loader, BadInputIsReportedThroughLastError) {
  ASSERT_TRUE(bmp::loadSupportLibrary("zmcbitmap", {ZMC_BITMAP_DIR}));
  const bmp::EntryPoints& e = bmp::entryPoints();
  static std::string shown;
  e.showErrors([](const char* message) { shown = message; });
  EXPECT_EQ(e.createFromFile("/no/such/picture.bmp"), nullptr);
  EXPECT_EQ(e.lastError(), ZMCDIB_NOT_FOUND);
  EXPECT_NE(std::string(e.lastErrorMessage()).find("/no/such/picture.bmp"), std::string::npos);
  EXPECT_EQ(shown, e.lastErrorMessage());
  const char garbage[] = "not an image";
  EXPECT_EQ(e.createFromMemory(garbage, sizeof garbage), nullptr);
  EXPECT_EQ(e.lastError(), ZMCDIB_BAD_FORMAT);
  EXPECT_EQ(e.getInfo(nullptr, nullptr), 0);
  EXPECT_EQ(e.lastError(), ZMCDIB_BAD_ARGUMENT);
  e.showErrors(nullptr);
}
