// The process-wide handle table: fonts, pens, brushes, stock objects and contexts.
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <cmath>

#include "gdi_internal.h"

namespace gdi::detail {
namespace {

struct Table {
  Handle next = 1;
  std::map<Handle, ObjectData> objects;
  std::map<Handle, std::unique_ptr<DeviceContext>> contexts;
};

Table& table() {
  static Table t;
  return t;
}

// The stock objects, by stock index.
const ObjectData* stockData(Handle h) {
  static const ObjectData whiteBrush = LogBrush{BS_SOLID, rgb(255, 255, 255), 0};
  static const ObjectData nullBrush = LogBrush{BS_NULL, 0, 0};
  static const ObjectData blackPen = LogPen{PS_SOLID, 0, 0};
  static const ObjectData nullPen = LogPen{PS_NULL, 0, 0};
  switch (h - kStockBase) {
    case WHITE_BRUSH: return &whiteBrush;
    case NULL_BRUSH: return &nullBrush;
    case BLACK_PEN: return &blackPen;
    case NULL_PEN: return &nullPen;
    default: return nullptr;
  }
}

}  // namespace

const ObjectData* objectData(Handle h) {
  if (h >= kStockBase) return stockData(h);
  auto it = table().objects.find(h);
  return it == table().objects.end() ? nullptr : &it->second;
}

DeviceContext* context(Handle h) {
  auto it = table().contexts.find(h);
  return it == table().contexts.end() ? nullptr : it->second.get();
}

Handle addContext(std::unique_ptr<DeviceContext> dc) {
  Handle h = table().next++;
  table().contexts.emplace(h, std::move(dc));
  return h;
}

std::unique_ptr<DeviceContext> removeContext(Handle h) {
  auto it = table().contexts.find(h);
  if (it == table().contexts.end()) return nullptr;
  auto dc = std::move(it->second);
  table().contexts.erase(it);
  return dc;
}

bool fontsAvailable() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

QFont qtFont(const LogFont& lf, int dpiY) {
  QFont f;
  f.setStyleStrategy(QFont::PreferOutline);
  if (!lf.faceName.empty()) f.setFamily(QString::fromStdString(lf.faceName));
  f.setWeight(QFont::Weight(std::clamp(lf.weight == 0 ? FW_NORMAL : lf.weight, 100, 900)));
  f.setItalic(lf.italic != 0);
  f.setUnderline(lf.underline != 0);
  f.setStrikeOut(lf.strikeOut != 0);
  int h = lf.height;
  if (h == 0) h = -static_cast<int>(std::lround(12.0 * dpiY / 72.0));
  if (h < 0) {
    f.setPixelSize(std::max(1, -h));
  } else {
    // A positive height is the cell height (ascent + descent): scale the em size to fit it.
    f.setPixelSize(std::max(1, h));
    QFontMetrics m(f);
    if (m.height() > 0) f.setPixelSize(std::max(1, static_cast<int>(std::lround(double(h) * h / m.height()))));
  }
  if (lf.width > 0) {
    QFontMetrics m(f);
    if (m.averageCharWidth() > 0) f.setStretch(std::clamp(lf.width * 100 / m.averageCharWidth(), 1, 4000));
  }
  return f;
}

LogFont defaultFont(int dpiY) {
  LogFont lf;
  lf.height = -static_cast<int>(std::lround(12.0 * dpiY / 72.0));
  lf.faceName = "Arial";
  return lf;
}

}  // namespace gdi::detail

namespace gdi {
using namespace detail;

namespace {
Handle addObject(ObjectData data) {
  Handle h = table().next++;
  table().objects.emplace(h, std::move(data));
  return h;
}
}  // namespace

Handle createFont(const LogFont& font) { return addObject(font); }

Handle createPen(int style, int width, ColorRef color) {
  if (style < PS_SOLID || style > PS_NULL) style = PS_SOLID;
  return addObject(LogPen{style, std::max(0, width), color & 0xFFFFFF});
}

Handle createBrushIndirect(const LogBrush& brush) {
  LogBrush b = brush;
  b.color &= 0xFFFFFF;
  if (b.style != BS_SOLID && b.style != BS_NULL && b.style != BS_HATCHED) b.style = BS_SOLID;
  return addObject(b);
}

Handle stockObject(int index) {
  Handle h = kStockBase + static_cast<Handle>(index);
  return index >= 0 && stockData(h) ? h : 0;
}

bool deleteObject(Handle object) {
  if (object >= kStockBase) return stockData(object) != nullptr;
  return table().objects.erase(object) == 1;
}

bool isObject(Handle object) { return objectData(object) != nullptr; }

int liveObjectCount() { return static_cast<int>(table().objects.size()); }

bool fontOf(Handle object, LogFont& out) {
  const ObjectData* d = objectData(object);
  if (!d || !std::holds_alternative<LogFont>(*d)) return false;
  out = std::get<LogFont>(*d);
  return true;
}

bool penOf(Handle object, LogPen& out) {
  const ObjectData* d = objectData(object);
  if (!d || !std::holds_alternative<LogPen>(*d)) return false;
  out = std::get<LogPen>(*d);
  return true;
}

bool brushOf(Handle object, LogBrush& out) {
  const ObjectData* d = objectData(object);
  if (!d || !std::holds_alternative<LogBrush>(*d)) return false;
  out = std::get<LogBrush>(*d);
  return true;
}

}  // namespace gdi
