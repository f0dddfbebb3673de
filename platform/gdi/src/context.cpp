// Device contexts: creation, selection, state and drawing onto Qt paint devices or a recording.
#include <QFontInfo>
#include <QFontMetrics>
#include <QPageSize>
#include <QPen>
#include <cmath>

#include "gdi_internal.h"

namespace gdi::detail {
Handle addContext(std::unique_ptr<DeviceContext> dc);
std::unique_ptr<DeviceContext> removeContext(Handle h);
}  // namespace gdi::detail

namespace gdi {
using namespace detail;

namespace {

Record makeRecord(Record::Kind kind, int a, int b, int c = 0, int d = 0) {
  Record r;
  r.kind = kind;
  r.a = a;
  r.b = b;
  r.c = c;
  r.d = d;
  return r;
}

QColor qtColor(ColorRef c) { return QColor(redOf(c), greenOf(c), blueOf(c)); }

QPen qtPen(const LogPen& p) {
  if (p.style == PS_NULL) return QPen(Qt::NoPen);
  QPen pen(qtColor(p.color));
  pen.setWidth(p.width);  // 0 is Qt's cosmetic one-pixel line as well
  static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                        Qt::DashDotDotLine};
  pen.setStyle(styles[std::clamp(p.style, 0, 4)]);
  pen.setCapStyle(Qt::FlatCap);
  pen.setJoinStyle(Qt::MiterJoin);
  return pen;
}

QBrush qtBrush(const LogBrush& b) {
  if (b.style == BS_NULL) return QBrush(Qt::NoBrush);
  if (b.style == BS_HATCHED && b.hatch >= HS_HORIZONTAL && b.hatch <= HS_DIAGCROSS) {
    static const Qt::BrushStyle hatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                             Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    return QBrush(qtColor(b.color), hatches[b.hatch]);
  }
  return QBrush(qtColor(b.color));
}

std::unique_ptr<DeviceContext> newContext(DeviceContext::Target target, int w, int h, int dpiX, int dpiY) {
  auto dc = std::make_unique<DeviceContext>();
  dc->target = target;
  dc->width = std::max(0, w);
  dc->height = std::max(0, h);
  dc->dpiX = dpiX > 0 ? dpiX : 96;
  dc->dpiY = dpiY > 0 ? dpiY : 96;
  dc->font = defaultFont(dc->dpiY);
  dc->penHandle = stockObject(BLACK_PEN);
  dc->pen = LogPen{PS_SOLID, 0, 0};
  dc->brushHandle = stockObject(WHITE_BRUSH);
  dc->brush = LogBrush{BS_SOLID, rgb(255, 255, 255), 0};
  return dc;
}

void startPainter(DeviceContext& dc, QPaintDevice* device) {
  dc.painter = std::make_unique<QPainter>();
  if (!dc.painter->begin(device)) {
    dc.painter.reset();
    return;
  }
  dc.painter->setRenderHint(QPainter::Antialiasing, false);
  dc.painter->setRenderHint(QPainter::TextAntialiasing, true);
}

// Prepares the painter for a shape: pen, brush and how hatch gaps are filled.
void applyShapeState(DeviceContext& dc) {
  QPainter& p = *dc.painter;
  p.setPen(qtPen(dc.pen));
  p.setBrush(qtBrush(dc.brush));
  p.setBackground(QBrush(qtColor(dc.bkColor)));
  p.setBackgroundMode(dc.bkMode == OPAQUE ? Qt::OpaqueMode : Qt::TransparentMode);
}

QRect shapeRect(int left, int top, int right, int bottom) {
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  // The shape covers [left, right) x [top, bottom); QPainter's outline of QRect(l, t, w, h)
  // covers w + 1 pixels, hence the one less.
  return QRect(left, top, std::max(0, right - left - 1), std::max(0, bottom - top - 1));
}

}  // namespace

Handle createImageDc(int width, int height, int dpi) {
  if (width <= 0 || height <= 0 || width > 20000 || height > 20000) return 0;
  auto dc = newContext(DeviceContext::Target::Image, width, height, dpi, dpi);
  dc->image = std::make_unique<QImage>(width, height, QImage::Format_RGB32);
  dc->image->fill(Qt::white);
  dc->image->setDotsPerMeterX(static_cast<int>(std::lround(dc->dpiX / 0.0254)));
  dc->image->setDotsPerMeterY(static_cast<int>(std::lround(dc->dpiY / 0.0254)));
  startPainter(*dc, dc->image.get());
  return addContext(std::move(dc));
}

Handle createPdfDc(const std::string& path, int width, int height, int dpi) {
  if (width <= 0 || height <= 0) return 0;
  auto dc = newContext(DeviceContext::Target::Pdf, width, height, dpi, dpi);
  dc->pdf = std::make_unique<QPdfWriter>(QString::fromStdString(path));
  dc->pdf->setResolution(dc->dpiX);
  dc->pdf->setPageSize(QPageSize(QSizeF(double(width) / dc->dpiX, double(height) / dc->dpiY), QPageSize::Inch));
  dc->pdf->setPageMargins(QMarginsF(0, 0, 0, 0));
  dc->pdf->setCreator("Zorbane Model Compare Utility");
  startPainter(*dc, dc->pdf.get());
  if (!dc->painter) return 0;
  return addContext(std::move(dc));
}

Handle createPaintDeviceDc(QPaintDevice* device) {
  if (!device) return 0;
  auto dc = newContext(DeviceContext::Target::PaintDevice, device->width(), device->height(),
                       device->logicalDpiX(), device->logicalDpiY());
  dc->device = device;
  startPainter(*dc, device);
  if (!dc->painter) return 0;
  return addContext(std::move(dc));
}

Handle createRecordingDc(int width, int height, int dpiX, int dpiY) {
  auto dc = newContext(DeviceContext::Target::Recording, width, height, dpiX, dpiY);
  dc->page.width = dc->width;
  dc->page.height = dc->height;
  dc->page.dpiX = dc->dpiX;
  dc->page.dpiY = dc->dpiY;
  return addContext(std::move(dc));
}

Handle createMeasuringDc(int dpiX, int dpiY) {
  return addContext(newContext(DeviceContext::Target::Measuring, 0, 0, dpiX, dpiY));
}

bool deleteDc(Handle h) {
  auto dc = removeContext(h);
  if (!dc) return false;
  if (dc->painter && dc->painter->isActive()) dc->painter->end();
  return true;
}

bool isDc(Handle h) { return context(h) != nullptr; }

int deviceCaps(Handle h, int index) {
  DeviceContext* dc = context(h);
  if (!dc) return 0;
  switch (index) {
    case HORZRES: return dc->width;
    case VERTRES: return dc->height;
    case LOGPIXELSX: return dc->dpiX;
    case LOGPIXELSY: return dc->dpiY;
    default: return 0;
  }
}

Handle selectObject(Handle h, Handle object) {
  DeviceContext* dc = context(h);
  const ObjectData* data = objectData(object);
  if (!dc || !data) return 0;
  Handle previous = 0;
  Record r;
  if (auto* f = std::get_if<LogFont>(data)) {
    previous = dc->fontHandle;
    dc->fontHandle = object;
    dc->font = *f;
    r.kind = Record::SelectFont;
    r.font = *f;
  } else if (auto* p = std::get_if<LogPen>(data)) {
    previous = dc->penHandle;
    dc->penHandle = object;
    dc->pen = *p;
    r.kind = Record::SelectPen;
    r.pen = *p;
  } else {
    const auto& b = std::get<LogBrush>(*data);
    previous = dc->brushHandle;
    dc->brushHandle = object;
    dc->brush = b;
    r.kind = Record::SelectBrush;
    r.brush = b;
  }
  dc->record(std::move(r));
  return previous;
}

Handle currentObject(Handle h, int kind) {
  DeviceContext* dc = context(h);
  if (!dc) return 0;
  switch (kind) {
    case KindFont: return dc->fontHandle;
    case KindPen: return dc->penHandle;
    case KindBrush: return dc->brushHandle;
    default: return 0;
  }
}

namespace {
template <class T>
T setState(Handle h, T DeviceContext::*field, T value, Record::Kind kind) {
  DeviceContext* dc = context(h);
  if (!dc) return T{};
  T previous = dc->*field;
  dc->*field = value;
  Record r;
  r.kind = kind;
  r.a = static_cast<int>(value);
  dc->record(std::move(r));
  return previous;
}
}  // namespace

ColorRef setTextColor(Handle h, ColorRef c) { return setState(h, &DeviceContext::textColor, c & 0xFFFFFF, Record::TextColor); }
ColorRef setBkColor(Handle h, ColorRef c) { return setState(h, &DeviceContext::bkColor, c & 0xFFFFFF, Record::BkColor); }
int setBkMode(Handle h, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return setState(h, &DeviceContext::bkMode, mode, Record::BkMode);
}
int setTextAlign(Handle h, int align) { return setState(h, &DeviceContext::align, align, Record::TextAlignment); }
int textAlign(Handle h) {
  DeviceContext* dc = context(h);
  return dc ? dc->align : 0;
}
ColorRef textColor(Handle h) {
  DeviceContext* dc = context(h);
  return dc ? dc->textColor : 0;
}

bool textOut(Handle h, int x, int y, std::string_view text) {
  DeviceContext* dc = context(h);
  if (!dc) return false;
  Record r;
  r.kind = Record::TextOut;
  r.a = x;
  r.b = y;
  r.text = std::string(text);
  dc->record(std::move(r));
  if (!dc->painter || !fontsAvailable()) return true;

  QPainter& p = *dc->painter;
  const QFont font = qtFont(dc->font, dc->dpiY);
  const QFontMetrics m(font);
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const int w = m.horizontalAdvance(s);
  int left = 0;
  switch (dc->align & TA_CENTER) {
    case TA_RIGHT: left = -w; break;
    case TA_CENTER: left = -w / 2; break;
    default: break;
  }
  int top = 0;
  if ((dc->align & TA_BASELINE) == TA_BASELINE) top = -m.ascent();
  else if (dc->align & TA_BOTTOM) top = -m.height();

  p.save();
  p.translate(x, y);
  if (dc->font.escapement != 0) p.rotate(-dc->font.escapement / 10.0);
  if (dc->bkMode == OPAQUE) p.fillRect(QRect(left, top, w, m.height()), qtColor(dc->bkColor));
  p.setFont(font);
  p.setPen(qtColor(dc->textColor));
  p.drawText(QPoint(left, top + m.ascent()), s);
  p.restore();
  return true;
}

bool moveTo(Handle h, int x, int y) {
  DeviceContext* dc = context(h);
  if (!dc) return false;
  dc->position = QPoint(x, y);
  dc->record(makeRecord(Record::MoveTo, x, y));
  return true;
}

bool lineTo(Handle h, int x, int y) {
  DeviceContext* dc = context(h);
  if (!dc) return false;
  dc->record(makeRecord(Record::LineTo, x, y));
  if (dc->painter) {
    applyShapeState(*dc);
    dc->painter->drawLine(dc->position, QPoint(x, y));
  }
  dc->position = QPoint(x, y);
  return true;
}

bool rectangle(Handle h, int left, int top, int right, int bottom) {
  DeviceContext* dc = context(h);
  if (!dc) return false;
  dc->record(makeRecord(Record::Rectangle, left, top, right, bottom));
  if (dc->painter) {
    applyShapeState(*dc);
    dc->painter->drawRect(shapeRect(left, top, right, bottom));
  }
  return true;
}

bool ellipse(Handle h, int left, int top, int right, int bottom) {
  DeviceContext* dc = context(h);
  if (!dc) return false;
  dc->record(makeRecord(Record::Ellipse, left, top, right, bottom));
  if (dc->painter) {
    applyShapeState(*dc);
    dc->painter->drawEllipse(shapeRect(left, top, right, bottom));
  }
  return true;
}

bool gdiComment(Handle h, const std::vector<std::uint8_t>& data) {
  DeviceContext* dc = context(h);
  if (!dc) return false;
  Record r;
  r.kind = Record::Comment;
  r.data = data;
  dc->record(std::move(r));
  return true;
}

bool stretchImage(Handle h, int x, int y, int width, int height, const QImage& image) {
  DeviceContext* dc = context(h);
  if (!dc || image.isNull()) return false;
  Record r = makeRecord(Record::Image, x, y, width, height);
  r.image = image;
  dc->record(std::move(r));
  if (dc->painter) dc->painter->drawImage(QRect(x, y, width, height), image);
  return true;
}

bool newPage(Handle h) {
  DeviceContext* dc = context(h);
  if (!dc) return false;
  if (dc->pdf) return dc->pdf->newPage();
  if (auto* pd = dynamic_cast<QPagedPaintDevice*>(dc->device)) return pd->newPage();
  return false;
}

bool textMetrics(Handle h, TextMetrics& out) {
  DeviceContext* dc = context(h);
  if (!dc || !fontsAvailable()) return false;
  const QFont font = qtFont(dc->font, dc->dpiY);
  const QFontMetrics m(font);
  const QFontInfo info(font);
  out = TextMetrics{};
  out.ascent = m.ascent();
  out.descent = m.descent();
  out.height = m.ascent() + m.descent();
  out.internalLeading = std::max(0, out.height - font.pixelSize());
  out.externalLeading = std::max(0, m.leading());
  out.aveCharWidth = m.averageCharWidth();
  out.maxCharWidth = m.maxWidth();
  out.weight = dc->font.weight == 0 ? FW_NORMAL : dc->font.weight;
  out.italic = dc->font.italic ? 255 : 0;
  out.underlined = dc->font.underline ? 255 : 0;
  out.struckOut = dc->font.strikeOut ? 255 : 0;
  out.pitchAndFamily = info.fixedPitch() ? 0 : kVariablePitchBit;
  out.charSet = dc->font.charSet;
  return true;
}

Size textExtent(Handle h, std::string_view text) {
  DeviceContext* dc = context(h);
  if (!dc || !fontsAvailable()) return {};
  const QFontMetrics m(qtFont(dc->font, dc->dpiY));
  return Size{m.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))),
              m.height()};
}

std::string textFace(Handle h) {
  DeviceContext* dc = context(h);
  if (!dc || !fontsAvailable()) return {};
  return QFontInfo(qtFont(dc->font, dc->dpiY)).family().toStdString();
}

const RecordedPage* recordedPage(Handle h) {
  DeviceContext* dc = context(h);
  return dc && dc->recording() ? &dc->page : nullptr;
}

const QImage* imageOf(Handle h) {
  DeviceContext* dc = context(h);
  return dc ? dc->image.get() : nullptr;
}

}  // namespace gdi
