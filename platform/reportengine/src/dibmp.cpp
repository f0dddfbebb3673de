// DIBMP: load a bitmap file and draw it into a rectangle.
#include <QBuffer>
#include <QImageReader>
#include <cmath>

#include "reportengine/dibmp.h"

namespace rpt {

constexpr std::size_t kMaxBitmapBytes = 256u << 20;

bool DIBMP::LoadDIBFromFile(const std::string& fileName) {
  image_ = QImage();
  std::string bytes, why;
  if (!rt::readRegularFile(fileName, kMaxBitmapBytes, bytes, why)) return false;
  QByteArray data = QByteArray::fromStdString(bytes);
  QBuffer buffer(&data);
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  QImage loaded;
  if (!reader.read(&loaded) || loaded.isNull()) return false;
  image_ = loaded.convertToFormat(QImage::Format_ARGB32);
  if (image_.dotsPerMeterX() <= 0) image_.setDotsPerMeterX(3780);  // 96 dpi
  if (image_.dotsPerMeterY() <= 0) image_.setDotsPerMeterY(3780);
  return true;
}

bool DIBMP::DrawDIB(gdi::Handle dc, const rt::Value& row, const rt::Value& column, const rt::Value& height,
                    const rt::Value& width, const rt::Value&, const rt::Value&, const rt::Value& option) {
  if (image_.isNull() || !gdi::isDc(dc)) return false;
  const double dpiX = gdi::deviceCaps(dc, gdi::LOGPIXELSX);
  const double dpiY = gdi::deviceCaps(dc, gdi::LOGPIXELSY);
  const double naturalW = image_.width() * dpiX / (image_.dotsPerMeterX() * 0.0254);
  const double naturalH = image_.height() * dpiY / (image_.dotsPerMeterY() * 0.0254);
  double w = width.isNumber() ? width.asNumber() : 0;
  double h = height.isNumber() ? height.asNumber() : 0;
  if (w <= 0 && h <= 0) {
    w = naturalW;
    h = naturalH;
  } else if (w <= 0) {
    w = h * naturalW / naturalH;
  } else if (h <= 0) {
    h = w * naturalH / naturalW;
  }
  double x = column.asNumber();
  double y = row.asNumber();
  if (option.asLogical()) {
    // Keep the aspect ratio: fit inside the rectangle, anchored at its top left.
    const double scale = std::min(w / naturalW, h / naturalH);
    w = naturalW * scale;
    h = naturalH * scale;
  }
  const int iw = static_cast<int>(std::lround(w));
  const int ih = static_cast<int>(std::lround(h));
  if (iw <= 0 || ih <= 0) return false;
  return gdi::stretchImage(dc, static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), iw, ih, image_);
}

rt::Value DIBMP::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : rt::Value(); };
  const std::string& name = member.name();
  if (name == "LOADDIBFROMFILE") return LoadDIBFromFile(arg(0).asString());
  if (name == "DRAWDIB")
    return DrawDIB(static_cast<gdi::Handle>(arg(0).asLong()), arg(1), arg(2), arg(3), arg(4), arg(5), arg(6), arg(7));
  if (name == "DESTROY") {
    Destroy();
    return rt::Value();
  }
  return noMethod(member);
}

}  // namespace rpt
