// One page with every kind of drawing: replayed from its recording onto an image and a PDF it
// matches drawing directly; its dump is kept as the golden reference.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "rpprinter_fixture.h"

namespace {
using rpprinter_test::color;

// Draws the reference page on a device whose output context is already attached.
void drawReferencePage(reports::RpPrinter& p, const std::string& bitmap, const std::string& richText) {
  p.CallPrintSetPage(rt::Value(1));
  p.SetFont("Arial", 20, true);
  p.TextOut(0.5, 0.5, "Reference page", 0, color(0, 0, 128));
  p.SetFont("Arial", 11);
  p.TextOut(1.0, 0.5, "left aligned");
  p.TextOut(1.0, 4.25, "centred", 1, color(128, 0, 0));
  p.TextOut(1.0, 8.0, "right aligned", 2, {}, color(255, 255, 0));
  p.DrawText(1.4, 0.5, "A text block wraps its words inside the rectangle it is given and draws every line.", 0.6,
             3.0, 0, {}, color(230, 240, 255));
  p.DrawText(1.4, 4.5, "Centred text block, also wrapped onto more than one line.", 0.6, 3.5, 1);
  for (int style = 0; style <= 4; ++style)
    p.DrawLine(2.3 + style * 0.15, 0.5, 2.3 + style * 0.15, 4.0, 1, style, color(0, 0, 0));
  p.DrawLine(2.3, 4.5, 3.0, 8.0, 6, 0, color(0, 128, 0));
  for (int hatch = 0; hatch <= 5; ++hatch)
    p.DrawRectangle(3.3, 0.5 + hatch * 1.25, 4.3, 1.5 + hatch * 1.25, 1, 0, color(0, 0, 0), hatch,
                    color(0, 0, 200));
  p.DrawRectangle(4.6, 0.5, 5.6, 2.0, 3, 0, color(200, 0, 0), -1, color(255, 220, 220));
  p.DrawRectangle(4.6, 2.3, 5.6, 3.8, 1, 1, color(0, 0, 0), -2, color(0, 0, 0));
  p.DrawEllipse(4.6, 4.1, 5.6, 5.6, 2, 0, color(0, 100, 0), -1, color(200, 255, 200));
  p.DrawEllipse(4.6, 5.9, 5.6, 7.9, 1, 2, color(0, 0, 0));
  p.DrawRectangle(5.8, 0.5, 6.8, 2.0, 1, 0, color(0, 0, 0), 7);
  p.DrawBmp(5.9, 2.3, bitmap, 0.8, 1.6);
  p.DrawRtf(5.9, 4.1, richText, 1.5, 3.8, 1);
  p.UnitOfMeasure(3);
  p.TextOut(190, 12.7, "Positioned in millimetres", 0, color(90, 90, 90));
}

struct Assets {
  QTemporaryDir dir;
  std::string bitmap;
  std::string richText;
  Assets() {
    QImage img(64, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 64; ++x) img.setPixel(x, y, qRgb(x * 4, y * 8, 255 - x * 4));
    bitmap = (dir.path() + "/gradient.bmp").toStdString();
    img.save(QString::fromStdString(bitmap), "BMP");
    richText = (dir.path() + "/note.rtf").toStdString();
    QFile f(QString::fromStdString(richText));
    f.open(QIODevice::WriteOnly);
    f.write("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\fs22 Rich text: {\\b bold}, {\\i italic}, {\\ul underlined},"
            " {\\fs32 large} and caf\\'e9 \\u8364? signs.\\par\\qc A centred second paragraph\\tab with a tab.}");
  }
};

struct Device {
  std::shared_ptr<reports::RpPrinter> p = std::make_shared<reports::RpPrinter>(rt::Value(), rt::Value());
  gdi::Handle printer = gdi::createMeasuringDc(150, 150);
  explicit Device(gdi::Handle output) {
    p->setResolution(150, 150);
    p->setPrinterDc(printer, true);
    p->setOutputDc(output, true);
    p->setActivity(false, true, false);
  }
};

constexpr int kWidth = 1275, kHeight = 1650, kDpi = 150;  // letter paper at 150 dpi

TEST(RpPrinterReference, RecordedPageReplaysOntoAnImageAsDrawnDirectly) {
  Assets assets;
  const gdi::Handle recording = gdi::createRecordingDc(kWidth, kHeight, kDpi, kDpi);
  Device recorded(recording);
  drawReferencePage(*recorded.p, assets.bitmap, assets.richText);

  const gdi::Handle direct = gdi::createImageDc(kWidth, kHeight, kDpi);
  Device drawn(direct);
  drawReferencePage(*drawn.p, assets.bitmap, assets.richText);

  const gdi::Handle replayed = gdi::createImageDc(kWidth, kHeight, kDpi);
  ASSERT_TRUE(gdi::replay(*gdi::recordedPage(recording), replayed));
  EXPECT_TRUE(*gdi::imageOf(direct) == *gdi::imageOf(replayed));

  // The reference files are written next to the test binary for whoever wants to look.
  const QString besideBinary = QCoreApplication::applicationDirPath() + "/";
  gdi::imageOf(replayed)->save(besideBinary + "reference-page.png");
  const gdi::Handle pdf =
      gdi::createPdfDc((besideBinary + "reference-page.pdf").toStdString(), kWidth, kHeight, kDpi);
  ASSERT_TRUE(gdi::replay(*gdi::recordedPage(recording), pdf));
  gdi::deleteDc(pdf);
  QFile written(besideBinary + "reference-page.pdf");
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.read(5).startsWith("%PDF-"));
  gdi::deleteDc(replayed);

  // The page also replays onto a recording with the same dump.
  const gdi::Handle copy = gdi::createRecordingDc(kWidth, kHeight, kDpi, kDpi);
  gdi::replay(*gdi::recordedPage(recording), copy);
  const std::string original = gdi::dump(*gdi::recordedPage(recording));
  EXPECT_EQ(gdi::dump(*gdi::recordedPage(copy)).substr(0, original.size()), original);
  gdi::deleteDc(copy);
}

TEST(RpPrinterReference, DumpMatchesTheGoldenFile) {
  Assets assets;
  const gdi::Handle recording = gdi::createRecordingDc(kWidth, kHeight, kDpi, kDpi);
  Device recorded(recording);
  drawReferencePage(*recorded.p, assets.bitmap, assets.richText);
  const std::string dump = gdi::dump(*gdi::recordedPage(recording));
  const QString goldenPath = QString(ZMC_GOLDEN_DIR) + "/reference-page.dump";
  if (qEnvironmentVariableIsSet("ZMC_UPDATE_GOLDEN")) {
    QFile out(goldenPath);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(dump.data(), static_cast<qint64>(dump.size()));
  }
  QFile golden(goldenPath);
  ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << "missing " << goldenPath.toStdString();
  EXPECT_EQ(dump, golden.readAll().toStdString());
}

}  // namespace
