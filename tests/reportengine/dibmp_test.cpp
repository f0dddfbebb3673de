// Bitmaps: loading BMP and PNG files, refusing others, drawing into a rectangle.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "reportengine/reportengine.h"

namespace {

struct Files {
  QTemporaryDir dir;
  std::string make(const char* name, const char* format, int w = 20, int h = 10) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(10, 20, 30));
    img.setDotsPerMeterX(3780);
    img.setDotsPerMeterY(3780);
    const QString path = dir.path() + "/" + name;
    img.save(path, format);
    return path.toStdString();
  }
  std::string raw(const char* name, const QByteArray& bytes) {
    QFile f(dir.path() + "/" + name);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName().toStdString();
  }
};

const gdi::Record* imageRecord(gdi::Handle dc) {
  for (const auto& r : gdi::recordedPage(dc)->records)
    if (r.kind == gdi::Record::Image) return &r;
  return nullptr;
}

TEST(DibLoading, BmpAndPngLoad) {
  Files files;
  rpt::DIBMP bmp, png;
  EXPECT_TRUE(bmp.LoadDIBFromFile(files.make("a.bmp", "BMP")));
  EXPECT_TRUE(png.LoadDIBFromFile(files.make("a.png", "PNG")));
  EXPECT_EQ(bmp.image().size(), QSize(20, 10));
  EXPECT_EQ(png.image().pixel(0, 0), qRgb(10, 20, 30));
}

TEST(DibLoading, MissingTruncatedAndForeignFilesDoNotLoad) {
  Files files;
  rpt::DIBMP d;
  EXPECT_FALSE(d.LoadDIBFromFile(files.dir.path().toStdString() + "/missing.bmp"));
  EXPECT_FALSE(d.LoadDIBFromFile(files.raw("text.bmp", "not an image at all")));
  QFile good(QString::fromStdString(files.make("t.png", "PNG", 200, 200)));
  good.open(QIODevice::ReadOnly);
  EXPECT_FALSE(d.LoadDIBFromFile(files.raw("cut.png", good.read(40))));
  EXPECT_FALSE(d.LoadDIBFromFile(files.raw("cut.bmp", QByteArray("BM\x10\x00\x00\x00", 6))));
  EXPECT_FALSE(d.loaded());
}

TEST(DibDrawing, MissingSizeFollowsTheBitmapAtTheContextResolution) {
  Files files;
  rpt::DIBMP d;
  ASSERT_TRUE(d.LoadDIBFromFile(files.make("a.png", "PNG", 96, 48)));
  const gdi::Handle dc = gdi::createRecordingDc(2550, 3300, 300, 300);
  ASSERT_TRUE(d.DrawDIB(dc, 10, 20, {}, {}, {}, {}, {}));
  const gdi::Record* r = imageRecord(dc);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->a, 20);
  EXPECT_EQ(r->b, 10);
  EXPECT_EQ(r->c, 300);  // one inch at 96 dpi is 300 pixels at 300 dpi
  EXPECT_EQ(r->d, 150);
  gdi::deleteDc(dc);
}

TEST(DibDrawing, OneGivenSideKeepsTheAspectAndTheOptionFitsInside) {
  Files files;
  rpt::DIBMP d;
  ASSERT_TRUE(d.LoadDIBFromFile(files.make("a.bmp", "BMP", 40, 20)));
  const gdi::Handle dc = gdi::createRecordingDc(2550, 3300, 300, 300);
  d.DrawDIB(dc, 0, 0, {}, 400, {}, {}, {});
  d.DrawDIB(dc, 0, 0, 100, 400, {}, {}, true);
  std::vector<std::pair<int, int>> sizes;
  for (const auto& r : gdi::recordedPage(dc)->records)
    if (r.kind == gdi::Record::Image) sizes.emplace_back(r.c, r.d);
  EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{400, 200}, {200, 100}}));
  gdi::deleteDc(dc);
}

TEST(DibDrawing, NothingLoadedOrNoContextDrawsNothing) {
  rpt::DIBMP d;
  const gdi::Handle dc = gdi::createRecordingDc(100, 100, 300, 300);
  EXPECT_FALSE(d.DrawDIB(dc, 0, 0, 10, 10, {}, {}, {}));
  EXPECT_EQ(imageRecord(dc), nullptr);
  gdi::deleteDc(dc);
  Files files;
  ASSERT_TRUE(d.LoadDIBFromFile(files.make("a.png", "PNG")));
  EXPECT_FALSE(d.DrawDIB(dc, 0, 0, 10, 10, {}, {}, {}));
  d.Destroy();
  EXPECT_FALSE(d.loaded());
}

}  // namespace
