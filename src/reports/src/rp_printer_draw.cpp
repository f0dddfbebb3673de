// RpPrinter's drawing: text lines, text blocks, lines, shapes, bitmaps, rich text, measuring.
#include <cmath>

#include "reports/rp_printer.h"

namespace reports {

namespace {

int toInt(double v) {
  if (!(v == v)) return 0;
  return static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0));
}

std::vector<std::uint8_t> littleEndian(std::initializer_list<std::int32_t> fields) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(fields.size() * 4);
  for (std::int32_t f : fields) {
    const auto v = static_cast<std::uint32_t>(f);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  return bytes;
}

void writeTextMarker(gdi::Handle dc, std::int32_t kind, int align, int x, int y, int width, int height) {
  gdi::gdiComment(dc, littleEndian({kind, align, x, y, width, height}));
}

// A pen by the device's rule: a non-solid pen of width exactly 1 is made with width 0.
gdi::Handle makePen(const rt::Value& width, const rt::Value& style, const rt::Value& color) {
  const int penStyle = style.isNil() ? 0 : static_cast<int>(style.asLong());
  int penWidth = width.isNil() ? 1 : static_cast<int>(width.asLong());
  if (penStyle != 0 && penWidth == 1) penWidth = 0;
  return gdi::createPen(penStyle, penWidth, colorOf(color, 0));
}

}  // namespace

gdi::ColorRef colorOf(const rt::Value& color, gdi::ColorRef fallback) {
  if (color.isNil()) return fallback;
  if (color.isNumber()) return static_cast<gdi::ColorRef>(color.asLong()) & 0xFFFFFF;
  if (auto object = color.asObject()) {
    const auto r = object->get(rt::Symbol("RED")).asLong();
    const auto g = object->get(rt::Symbol("GREEN")).asLong();
    const auto b = object->get(rt::Symbol("BLUE")).asLong();
    return gdi::rgb(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b));
  }
  return fallback;
}

gdi::Handle _RpCreateBrush(const rt::Value& code, const rt::Value& color) {
  RT_FRAME("_RpCreateBrush");
  const auto c = code.asLong();
  gdi::LogBrush brush;
  brush.color = colorOf(color, 0);
  if (c == -2) {
    brush.style = gdi::BS_NULL;
  } else if (c == -1) {
    brush.style = gdi::BS_SOLID;
  } else {
    brush.style = gdi::BS_HATCHED;
    brush.hatch = static_cast<int>(std::clamp<std::int64_t>(c, -1000, 1000));
  }
  return gdi::createBrushIndirect(brush);
}

// The printer context with the current font selected, or, before one exists, a measuring
// context made for the call and deleted with this object.
class RpPrinter::MeasuringDc {
 public:
  explicit MeasuringDc(const RpPrinter& device) {
    dc_ = device.printerDc();
    if (!dc_) {
      dc_ = made_ = device.CreatePrinterDC();
      if (device.fontHandle()) gdi::selectObject(dc_, device.fontHandle());
    }
  }
  ~MeasuringDc() {
    if (made_) gdi::deleteDc(made_);
  }
  gdi::Handle handle() const { return dc_; }

 private:
  gdi::Handle dc_ = 0;
  gdi::Handle made_ = 0;
};

double RpPrinter::GetTextLength(const rt::Value& text) const {
  RT_FRAME("RpPrinter:GetTextLength");
  if (!active()) return 0;
  MeasuringDc dc(*this);
  return _XlateHLogical2UnitOfMeasure(gdi::textExtent(dc.handle(), text.asString()).cx);
}

std::string RpPrinter::GetTextFace() const {
  RT_FRAME("RpPrinter:GetTextFace");
  if (!printing() && !previewing()) return {};
  MeasuringDc dc(*this);
  std::string face = gdi::textFace(dc.handle());
  if (face.size() > 79) face.resize(79);  // the face buffer holds 80 bytes with its terminator
  return face;
}

RpPrinter& RpPrinter::TextOut(const rt::Value& rowArg, const rt::Value& columnArg, const rt::Value& textArg,
                              const rt::Value& alignment, const rt::Value& textColor, const rt::Value& backColor) {
  RT_FRAME("RpPrinter:TextOut");
  if (!active()) return *this;
  const gdi::Handle dc = outputDc();
  const std::string text = textArg.asString();
  const int row = rowArg.isNil() ? printRow_ : toInt(_XlateVUnitOfMeasure2Logical(rowArg.asNumber()));
  const int column = columnArg.isNil() ? printColumn_ : toInt(_XlateHUnitOfMeasure2Logical(columnArg.asNumber()));

  RT_LINE();
  gdi::setTextColor(dc, colorOf(textColor, 0));
  if (backColor.isNil()) {
    gdi::setBkMode(dc, gdi::TRANSPARENT);
  } else {
    gdi::setBkColor(dc, colorOf(backColor, 0));
    gdi::setBkMode(dc, gdi::OPAQUE);
  }
  const auto code = alignment.asLong();
  const int align = code == 2 ? gdi::TA_RIGHT : code == 1 ? gdi::TA_CENTER : gdi::TA_LEFT;
  gdi::setTextAlign(dc, align | gdi::TA_TOP);

  RT_LINE();
  const int markerWidth =
      toInt(_XlateHUnitOfMeasure2Logical(AvgCharWidth() * static_cast<double>(rt::charCount(text)))) + 1;
  const int markerHeight = 2 * toInt(_XlateVUnitOfMeasure2Logical(AvgCharHeight())) + 1;
  writeTextMarker(dc, kTextMarkerOpen, align, column, row, markerWidth, markerHeight);
  gdi::textOut(dc, column, row, text);
  writeTextMarker(dc, kTextMarkerClose, align, column, row, markerWidth, markerHeight);
  gdi::setBkMode(dc, gdi::TRANSPARENT);

  RT_LINE();
  printRow_ = row;
  PCol(_XlateHLogical2UnitOfMeasure(column) + GetTextLength(text));
  return *this;
}

RpPrinter& RpPrinter::DrawText(const rt::Value& rowArg, const rt::Value& columnArg, const rt::Value& textArg,
                               const rt::Value& heightArg, const rt::Value& widthArg, const rt::Value& alignment,
                               const rt::Value&, const rt::Value& backColor, const rt::Value& option) {
  RT_FRAME("RpPrinter:DrawText");
  if (!active()) return *this;
  const std::string text = textArg.asString();
  const double row = rowArg.isNil() ? PRow() : rowArg.asNumber();
  const double column = columnArg.isNil() ? PCol() : columnArg.asNumber();
  const double height = heightArg.isNil() ? AvgCharHeight() : heightArg.asNumber();
  const double width =
      widthArg.isNil() ? AvgCharWidth() * static_cast<double>(rt::charCount(text)) : widthArg.asNumber();

  RT_LINE();
  if (!backColor.isNil())
    DrawRectangle(row, column, row + height, column + width, 1, 0, backColor, -1, backColor);

  const int top = toInt(_XlateVUnitOfMeasure2Logical(row));
  const int left = toInt(_XlateHUnitOfMeasure2Logical(column));
  const int heightDevice = toInt(_XlateVUnitOfMeasure2Logical(height)) + 1;
  const int widthDevice = toInt(_XlateHUnitOfMeasure2Logical(width)) + 1;
  const auto code = alignment.asLong();
  const int align = code == 1 || code == 2 || code == 4 ? static_cast<int>(code) : 0;

  RT_LINE();
  rpt::TextBlock& block = rpt::rpTextBlock();
  rpt::ParagraphBlock& paragraph = rpt::rpParagraphBlock();
  rpt::CharacterBlock& character = rpt::rpCharacterBlock();
  const rpt::PinnedText pin(text);
  auto setRectangle = [&] {
    block.set(rpt::tb::kLeft, left);
    block.set(rpt::tb::kTop, top);
    block.set(rpt::tb::kRight, left + widthDevice);
    block.set(rpt::tb::kBottom, top + heightDevice);
  };
  block.set(rpt::tb::kOutputDc, static_cast<std::int32_t>(outputDc()));
  block.set(rpt::tb::kPrinterDc, static_cast<std::int32_t>(printerDc()));
  block.set(rpt::tb::kThirdHandle, static_cast<std::int32_t>(thirdHandle()));
  setRectangle();
  block.set(rpt::tb::kText, pin.ref());
  block.set(rpt::tb::kLength, static_cast<std::int32_t>(std::min<std::size_t>(text.size(), 0x7FFFFFFF)));
  block.set(rpt::tb::kAlwaysOne, 1);
  block.set(rpt::tb::kOption44, option.asLogical() ? 0 : 1);
  block.set(rpt::tb::kZero48, 0);
  block.set(rpt::tb::kZero52, 0);
  block.set(rpt::tb::kZero64, 0);
  block.set(rpt::tb::kParagraph, rpt::kParagraphBlockRef);
  block.set(rpt::tb::kCharacter, rpt::kCharacterBlockRef);
  paragraph.set(rpt::pb::kAlignment, align);
  paragraph.set(rpt::pb::kMarker, 99999);
  character.set(rpt::cb::kOne, 1);

  RT_LINE();
  block.set(rpt::tb::kPass, 0);
  rpt::rpDrawText(block);
  const int markerHeight = (block.get(rpt::tb::kLastLineRow) - top) + toInt(_XlateVUnitOfMeasure2Logical(AvgCharHeight()));

  RT_LINE();
  setRectangle();
  block.set(rpt::tb::kPass, 1);
  block.set(rpt::tb::kAlwaysOne, 1);
  writeTextMarker(outputDc(), kTextMarkerOpen, align, left, top, widthDevice, markerHeight);
  rpt::rpDrawText(block);
  writeTextMarker(outputDc(), kTextMarkerClose, align, left, top, widthDevice, markerHeight);

  printRow_ = block.get(rpt::tb::kBottom) - charHeight_ - 1;
  printColumn_ = block.get(rpt::tb::kRight) - 1;
  return *this;
}

RpPrinter& RpPrinter::DrawLine(const rt::Value& row1, const rt::Value& column1, const rt::Value& row2,
                               const rt::Value& column2, const rt::Value& penWidth, const rt::Value& penStyle,
                               const rt::Value& color) {
  RT_FRAME("RpPrinter:DrawLine");
  if (!active()) return *this;
  auto v = [&](const rt::Value& a, int current) {
    return a.isNil() ? current : toInt(_XlateVUnitOfMeasure2Logical(a.asNumber()));
  };
  auto h = [&](const rt::Value& a, int current) {
    return a.isNil() ? current : toInt(_XlateHUnitOfMeasure2Logical(a.asNumber()));
  };
  const int r1 = v(row1, printRow_), c1 = h(column1, printColumn_);
  const int r2 = v(row2, printRow_), c2 = h(column2, printColumn_);
  const gdi::Handle dc = outputDc();
  const gdi::Handle pen = makePen(penWidth, penStyle, color);
  gdi::selectObject(dc, pen);
  gdi::moveTo(dc, c1, r1);
  gdi::lineTo(dc, c2, r2);
  gdi::selectObject(dc, gdi::stockObject(gdi::BLACK_PEN));
  gdi::deleteObject(pen);
  return *this;
}

RpPrinter& RpPrinter::DrawRectangle(const rt::Value& top, const rt::Value& left, const rt::Value& bottom,
                                    const rt::Value& right, const rt::Value& penWidth, const rt::Value& penStyle,
                                    const rt::Value& penColor, const rt::Value& brushCode,
                                    const rt::Value& brushColor) {
  RT_FRAME("RpPrinter:DrawRectangle");
  return drawShape(Shape::Rectangle, top, left, bottom, right, penWidth, penStyle, penColor, brushCode, brushColor);
}

RpPrinter& RpPrinter::DrawEllipse(const rt::Value& top, const rt::Value& left, const rt::Value& bottom,
                                  const rt::Value& right, const rt::Value& penWidth, const rt::Value& penStyle,
                                  const rt::Value& penColor, const rt::Value& brushCode, const rt::Value& brushColor) {
  RT_FRAME("RpPrinter:DrawEllipse");
  return drawShape(Shape::Ellipse, top, left, bottom, right, penWidth, penStyle, penColor, brushCode, brushColor);
}

RpPrinter& RpPrinter::drawShape(Shape shape, const rt::Value& top, const rt::Value& left, const rt::Value& bottom,
                                const rt::Value& right, const rt::Value& penWidth, const rt::Value& penStyle,
                                const rt::Value& penColor, const rt::Value& brushCode, const rt::Value& brushColor) {
  if (!active()) return *this;
  auto v = [&](const rt::Value& a) {
    return a.isNil() ? printRow_ : toInt(_XlateVUnitOfMeasure2Logical(a.asNumber()));
  };
  auto h = [&](const rt::Value& a) {
    return a.isNil() ? printColumn_ : toInt(_XlateHUnitOfMeasure2Logical(a.asNumber()));
  };
  const int t = v(top), l = h(left), b = v(bottom) + 1, r = h(right) + 1;
  const gdi::Handle dc = outputDc();
  const gdi::Handle pen = makePen(penWidth, penStyle, penColor);
  gdi::Handle brush = 0;
  if (!brushCode.isNil()) brush = _RpCreateBrush(brushCode, brushColor.isNil() ? rt::Value(static_cast<long long>(kDefaultBrushColor)) : brushColor);
  gdi::selectObject(dc, pen);
  gdi::selectObject(dc, brush ? brush : gdi::stockObject(gdi::NULL_BRUSH));
  if (shape == Shape::Rectangle) gdi::rectangle(dc, l, t, r, b);
  else gdi::ellipse(dc, l, t, r, b);
  gdi::selectObject(dc, gdi::stockObject(gdi::BLACK_PEN));
  gdi::selectObject(dc, gdi::stockObject(gdi::WHITE_BRUSH));
  gdi::deleteObject(pen);
  if (brush) gdi::deleteObject(brush);
  return *this;
}

RpPrinter& RpPrinter::DrawBmp(const rt::Value& row, const rt::Value& column, const rt::Value& fileName,
                              const rt::Value& height, const rt::Value& width, const rt::Value& vertical,
                              const rt::Value& horizontal, const rt::Value& option) {
  RT_FRAME("RpPrinter:DrawBmp");
  if (!active()) return *this;
  auto bitmap = std::make_shared<rpt::DIBMP>();
  if (bitmap->LoadDIBFromFile(fileName.asString()))
    _DrawBmp(row, column, rt::Value(bitmap), height, width, vertical, horizontal, option);
  bitmap->Destroy();
  return *this;
}

RpPrinter& RpPrinter::_DrawBmp(const rt::Value& row, const rt::Value& column, const rt::Value& bitmapArg,
                               const rt::Value& height, const rt::Value& width, const rt::Value& vertical,
                               const rt::Value& horizontal, const rt::Value& option) {
  RT_FRAME("RpPrinter:_DrawBmp");
  if (!active()) return *this;
  auto bitmap = bitmapArg.as<rpt::DIBMP>();
  auto v = [&](const rt::Value& a) {
    return a.isNil() ? rt::Value() : rt::Value(toInt(_XlateVUnitOfMeasure2Logical(a.asNumber())));
  };
  auto h = [&](const rt::Value& a) {
    return a.isNil() ? rt::Value() : rt::Value(toInt(_XlateHUnitOfMeasure2Logical(a.asNumber())));
  };
  const rt::Value rowDevice = v(row.isNil() ? rt::Value(PRow()) : row);
  const rt::Value columnDevice = h(column.isNil() ? rt::Value(PCol()) : column);
  gdi::gdiComment(outputDc(), littleEndian({kBitmapMarker, static_cast<std::int32_t>(rowDevice.asLong())}));
  if (bitmap)
    bitmap->DrawDIB(outputDc(), rowDevice, columnDevice, v(height), h(width), v(vertical), h(horizontal), option);
  return *this;
}

RpPrinter& RpPrinter::DrawRtf(const rt::Value& row, const rt::Value& column, const rt::Value& fileName,
                              const rt::Value& height, const rt::Value& width, const rt::Value& option) {
  RT_FRAME("RpPrinter:DrawRtf");
  if (!active()) return *this;
  auto document = std::make_shared<rpt::RTF>();
  if (document->LoadRTFFromFile(fileName.asString()))
    _DrawRtf(row, column, rt::Value(document), height, width, option, true);
  document->Destroy();
  return *this;
}

RpPrinter& RpPrinter::_DrawRtf(const rt::Value& row, const rt::Value& column, const rt::Value& documentArg,
                               const rt::Value& height, const rt::Value& width, const rt::Value& option1,
                               const rt::Value& option2) {
  RT_FRAME("RpPrinter:_DrawRtf");
  if (!active()) return *this;
  auto document = documentArg.as<rpt::RTF>();
  const int rowDevice = row.isNil() ? printRow_ : toInt(_XlateVUnitOfMeasure2Logical(row.asNumber()));
  const int columnDevice = column.isNil() ? printColumn_ : toInt(_XlateHUnitOfMeasure2Logical(column.asNumber()));
  const int heightDevice =
      height.isNil() ? LogPrintAreaLength() - rowDevice : toInt(_XlateVUnitOfMeasure2Logical(height.asNumber()));
  const int widthDevice =
      width.isNil() ? LogPrintAreaWidth() - columnDevice : toInt(_XlateHUnitOfMeasure2Logical(width.asNumber()));
  if (document)
    document->DrawText(*this, rowDevice, columnDevice, heightDevice, widthDevice,
                       option1.isNil() ? rt::Value(1) : option1, option2.isNil() ? rt::Value(true) : option2);
  return *this;
}

}  // namespace reports
