// RpPrinter: the report engine's printer device with a unit of measure, a print position, one
// current font and drawing operations for text, text blocks, lines, shapes, bitmaps and rich text.
//
// Positions and sizes passed in and returned are in the current unit of measure (1 inches,
// 2 centimetres, 3 millimetres, 4 characters, 5 device units; other codes pass values through).
// Arguments that may be missing are rt::Value: nil stands for "missing". Every drawing operation
// and GetTextLength does nothing while the device is inactive (no activity flag set). The engine
// calls the operations by name through send/get/put.
#pragma once
#include <string>

#include "reportengine/reportengine.h"

namespace reports {

class RpPrinter : public rpt::PtrDevice {
 public:
  // Init: the fields' initial values, the base with both values, NoSelection, then the font.
  RpPrinter(const rt::Value& first = {}, const rt::Value& second = {});
  ~RpPrinter() override;
  std::string className() const override { return "RPPRINTER"; }

  // Deletes the font, then releases the base.
  void Axit() override;

  // Fields, read back for the engine's dumps and for tests.
  int unitCode() const { return unit_; }
  const std::string& fontName() const { return fontName_; }
  double fontSize() const { return fontSize_; }
  gdi::Handle fontHandle() const { return font_; }
  int avgWidthDevice() const { return avgWidth_; }
  int charHeightDevice() const { return charHeight_; }
  int printRowDevice() const { return printRow_; }
  int printColumnDevice() const { return printColumn_; }

  bool UnitOfMeasure(const rt::Value& code);
  void SetFont(const rt::Value& face, const rt::Value& points, const rt::Value& bold = {},
               const rt::Value& italic = {}, const rt::Value& underline = {}, const rt::Value& orientation = {},
               const rt::Value& escapement = {});

  double AvgCharWidth() const;
  double AvgCharHeight() const;
  double PRow() const;
  double PCol() const;
  long long PRow(const rt::Value& value);
  long long PCol(const rt::Value& value);
  double NextPRow() const;
  double TopMargin() const;
  double LeftMargin() const;
  double BottomMargin() const;
  double RightMargin() const;
  void TopMargin(const rt::Value& value);
  void LeftMargin(const rt::Value& value);
  void BottomMargin(const rt::Value& value);
  void RightMargin(const rt::Value& value);
  double PrintAreaWidth() const;
  double PrintAreaLength() const;

  RpPrinter& TextOut(const rt::Value& row, const rt::Value& column, const rt::Value& text,
                     const rt::Value& alignment = {}, const rt::Value& textColor = {},
                     const rt::Value& backColor = {});
  RpPrinter& DrawText(const rt::Value& row, const rt::Value& column, const rt::Value& text = {},
                      const rt::Value& height = {}, const rt::Value& width = {}, const rt::Value& alignment = {},
                      const rt::Value& ignored = {}, const rt::Value& backColor = {}, const rt::Value& option = {});
  RpPrinter& DrawLine(const rt::Value& row1 = {}, const rt::Value& column1 = {}, const rt::Value& row2 = {},
                      const rt::Value& column2 = {}, const rt::Value& penWidth = {}, const rt::Value& penStyle = {},
                      const rt::Value& color = {});
  RpPrinter& DrawRectangle(const rt::Value& top = {}, const rt::Value& left = {}, const rt::Value& bottom = {},
                           const rt::Value& right = {}, const rt::Value& penWidth = {},
                           const rt::Value& penStyle = {}, const rt::Value& penColor = {},
                           const rt::Value& brushCode = {}, const rt::Value& brushColor = {});
  RpPrinter& DrawEllipse(const rt::Value& top = {}, const rt::Value& left = {}, const rt::Value& bottom = {},
                         const rt::Value& right = {}, const rt::Value& penWidth = {}, const rt::Value& penStyle = {},
                         const rt::Value& penColor = {}, const rt::Value& brushCode = {},
                         const rt::Value& brushColor = {});
  RpPrinter& DrawBmp(const rt::Value& row, const rt::Value& column, const rt::Value& fileName,
                     const rt::Value& height = {}, const rt::Value& width = {}, const rt::Value& vertical = {},
                     const rt::Value& horizontal = {}, const rt::Value& option = {});
  // `bitmap` holds a loaded rpt::DIBMP.
  RpPrinter& _DrawBmp(const rt::Value& row, const rt::Value& column, const rt::Value& bitmap,
                      const rt::Value& height = {}, const rt::Value& width = {}, const rt::Value& vertical = {},
                      const rt::Value& horizontal = {}, const rt::Value& option = {});
  RpPrinter& DrawRtf(const rt::Value& row, const rt::Value& column, const rt::Value& fileName,
                     const rt::Value& height = {}, const rt::Value& width = {}, const rt::Value& option = {});
  // `document` holds a loaded rpt::RTF.
  RpPrinter& _DrawRtf(const rt::Value& row, const rt::Value& column, const rt::Value& document,
                      const rt::Value& height = {}, const rt::Value& width = {}, const rt::Value& option1 = {},
                      const rt::Value& option2 = {});

  double GetTextLength(const rt::Value& text) const;
  std::string GetTextFace() const;

  rt::Value CallPrintSetPage(const rt::Value& setup) override;
  rt::Value CallPrintPageHeader() override;

  bool _CreateFont();
  double _XlateHUnitOfMeasure2Logical(double value) const;
  double _XlateVUnitOfMeasure2Logical(double value) const;
  double _XlateHLogical2UnitOfMeasure(double value) const;
  double _XlateVLogical2UnitOfMeasure(double value) const;
  double _XlateHUnitOfMeasure2Inches(double value) const;
  double _XlateVUnitOfMeasure2Inches(double value) const;
  double _XlateHInches2UnitOfMeasure(double value) const;
  double _XlateVInches2UnitOfMeasure(double value) const;

  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;
  rt::Value get(rt::Symbol member) override;
  rt::Value put(rt::Symbol member, const rt::Value& value) override;

 private:
  enum class Shape { Rectangle, Ellipse };
  RpPrinter& drawShape(Shape shape, const rt::Value& top, const rt::Value& left, const rt::Value& bottom,
                       const rt::Value& right, const rt::Value& penWidth, const rt::Value& penStyle,
                       const rt::Value& penColor, const rt::Value& brushCode, const rt::Value& brushColor);
  double toDevice(double value, double factor) const;
  double fromDevice(double value, double factor) const;
  double factorH() const;
  double factorV() const;
  // The printer context with the current font, or a measuring one made for the call.
  class MeasuringDc;

  std::int32_t unit_ = 1;
  std::string fontName_ = "Arial";
  double fontSize_ = 12;
  bool bold_ = false;
  bool italic_ = false;
  bool underline_ = false;
  std::int32_t escapement_ = 0;
  std::int32_t orientation_ = 0;
  gdi::Handle font_ = 0;
  std::int32_t avgWidth_ = 0;
  std::int32_t charHeight_ = 0;
  std::int32_t printRow_ = 0;
  std::int32_t printColumn_ = 0;
};

// A GDI brush for a brush code (-2 hollow, -1 solid, other codes a hatch of that index) in the
// colour (a Color object read through Red/Green/Blue, or a 0x00BBGGRR number). The caller deletes it.
gdi::Handle _RpCreateBrush(const rt::Value& code, const rt::Value& color);

// The colour a Color object or colour number stands for; nil gives `fallback`.
gdi::ColorRef colorOf(const rt::Value& color, gdi::ColorRef fallback = 0);

// The colour the toolkit's Color of 7 stands for: the default brush colour of the shapes.
constexpr gdi::ColorRef kDefaultBrushColor = gdi::rgb(192, 192, 192);

// Comment record kinds written into recorded pages.
constexpr std::int32_t kTextMarkerOpen = 0xFFFE;
constexpr std::int32_t kTextMarkerClose = 0xFFFF;
constexpr std::int32_t kBitmapMarker = 999999;

// Registers RpPrinter with the engine's device registry under "RpPrinter" (idempotent).
void registerRpPrinter();

}  // namespace reports
