// Internals of the drawing layer: the process-wide handle table and the device context state.
#pragma once
#include <map>
#include <memory>
#include <variant>

#include <QFont>
#include <QPainter>
#include <QPdfWriter>
#include <QPoint>

#include "gdi/gdi.h"

namespace gdi::detail {

// First handle of the stock objects: stock index i is kStockBase + i.
constexpr Handle kStockBase = 0x7F000000u;

using ObjectData = std::variant<LogFont, LogPen, LogBrush>;
enum ObjectKind : int { KindFont = 1, KindPen = 2, KindBrush = 3 };

// A device context. States: open (painter active for painting targets) until deleteDc ends the
// painter and, for a PDF, writes the file. `page` grows only on a recording context.
struct DeviceContext {
  enum class Target { Image, Pdf, PaintDevice, Recording, Measuring } target = Target::Measuring;
  int width = 0;
  int height = 0;
  int dpiX = 96;
  int dpiY = 96;
  std::unique_ptr<QImage> image;
  std::unique_ptr<QPdfWriter> pdf;
  QPaintDevice* device = nullptr;
  std::unique_ptr<QPainter> painter;
  RecordedPage page;

  Handle fontHandle = 0;  // 0: the context's default font
  LogFont font;
  Handle penHandle = 0;
  LogPen pen;
  Handle brushHandle = 0;
  LogBrush brush;
  ColorRef textColor = 0;
  ColorRef bkColor = rgb(255, 255, 255);
  int bkMode = OPAQUE;
  int align = TA_LEFT;
  QPoint position;

  bool recording() const { return target == Target::Recording; }
  void record(Record r) {
    if (recording()) page.records.push_back(std::move(r));
  }
};

// Handle table access.
const ObjectData* objectData(Handle h);
DeviceContext* context(Handle h);

// Fonts: the Qt font for a description at the context's resolution, and whether fonts can be
// made at all (a GUI application object must exist).
bool fontsAvailable();
QFont qtFont(const LogFont& font, int dpiY);
LogFont defaultFont(int dpiY);

}  // namespace gdi::detail
