// RpPrinter: construction, units of measure, the current font, the print position and margins.
#include <cmath>
#include <limits>

#include "reports/rp_printer.h"

namespace reports {

namespace {

std::int32_t toInt32(double value) {
  if (!(value == value)) return 0;  // NaN
  return static_cast<std::int32_t>(std::clamp(value, double(std::numeric_limits<std::int32_t>::min()),
                                              double(std::numeric_limits<std::int32_t>::max())));
}

}  // namespace

RpPrinter::RpPrinter(const rt::Value& first, const rt::Value& second) : rpt::PtrDevice(first, second) {
  RT_FRAME("RpPrinter:Init");
  NoSelection(true);
  _CreateFont();
}

RpPrinter::~RpPrinter() { RpPrinter::Axit(); }

void RpPrinter::Axit() {
  RT_FRAME("RpPrinter:Axit");
  if (font_) {
    gdi::deleteObject(font_);
    font_ = 0;
  }
  rpt::PtrDevice::Axit();
}

bool RpPrinter::UnitOfMeasure(const rt::Value& code) {
  RT_FRAME("RpPrinter:UnitOfMeasure");
  unit_ = toInt32(static_cast<double>(code.asLong()));
  return true;
}

// ---- Conversions ---------------------------------------------------------------------------

namespace {
// Device units per unit of measure, along an axis with `upi` device units per inch and
// characters `charSize` device units wide or high.
double unitFactor(int unit, double charSize, double upi) {
  switch (unit) {
    case 1: return upi;
    case 2: return upi / 2.54;
    case 3: return upi / 25.4;
    case 4: return charSize;
    default: return 1;
  }
}
}  // namespace

double RpPrinter::factorH() const { return unitFactor(unit_, avgWidth_, unitsPerInchH()); }
double RpPrinter::factorV() const { return unitFactor(unit_, charHeight_, unitsPerInchV()); }

double RpPrinter::toDevice(double value, double factor) const {
  return std::round(unit_ >= 1 && unit_ <= 4 ? value * factor : value);
}

double RpPrinter::fromDevice(double value, double factor) const {
  if (unit_ < 1 || unit_ > 4) return value;
  return factor == 0 ? 0 : value / factor;  // a font without metrics has no character unit
}

double RpPrinter::_XlateHUnitOfMeasure2Logical(double v) const { return toDevice(v, factorH()); }
double RpPrinter::_XlateVUnitOfMeasure2Logical(double v) const { return toDevice(v, factorV()); }
double RpPrinter::_XlateHLogical2UnitOfMeasure(double v) const { return fromDevice(v, factorH()); }
double RpPrinter::_XlateVLogical2UnitOfMeasure(double v) const { return fromDevice(v, factorV()); }

namespace {
double unitToInches(int unit, double v, double charSize, double upi) {
  switch (unit) {
    case 2: return v / 2.54;
    case 3: return v / 25.4;
    case 4: return upi == 0 ? 0 : v * charSize / upi;
    case 5: return upi == 0 ? 0 : v / upi;
    default: return v;
  }
}
double inchesToUnit(int unit, double v, double charSize, double upi) {
  switch (unit) {
    case 2: return v * 2.54;
    case 3: return v * 25.4;
    case 4: return charSize == 0 ? 0 : v * upi / charSize;
    case 5: return std::round(v * upi);
    default: return v;
  }
}
}  // namespace

double RpPrinter::_XlateHUnitOfMeasure2Inches(double v) const {
  return unitToInches(unit_, v, avgWidth_, unitsPerInchH());
}
double RpPrinter::_XlateVUnitOfMeasure2Inches(double v) const {
  return unitToInches(unit_, v, charHeight_, unitsPerInchV());
}
double RpPrinter::_XlateHInches2UnitOfMeasure(double v) const {
  return inchesToUnit(unit_, v, avgWidth_, unitsPerInchH());
}
double RpPrinter::_XlateVInches2UnitOfMeasure(double v) const {
  return inchesToUnit(unit_, v, charHeight_, unitsPerInchV());
}

// ---- Font ----------------------------------------------------------------------------------

bool RpPrinter::_CreateFont() {
  RT_FRAME("RpPrinter:_CreateFont");
  gdi::LogFont lf;
  lf.height = -static_cast<std::int32_t>(std::lround(fontSize_ * unitsPerInchV() / 72.0));
  lf.width = 0;
  lf.escapement = escapement_;
  lf.orientation = orientation_;
  lf.weight = bold_ ? gdi::FW_BOLD : gdi::FW_NORMAL;
  lf.italic = italic_ ? 255 : 0;
  lf.underline = underline_ ? 255 : 0;
  lf.strikeOut = 0;
  lf.charSet = 1;
  lf.outPrecision = 4;
  lf.clipPrecision = 32;
  lf.quality = 0;
  lf.pitchAndFamily = 0;
  lf.faceName = fontName_;
  const gdi::Handle font = gdi::createFont(lf);

  RT_LINE();
  gdi::Handle measuring = printerDc();
  gdi::Handle madeHere = 0;
  if (!measuring) {
    measuring = madeHere = CreatePrinterDC();
    gdi::selectObject(measuring, font);
  } else {
    gdi::selectObject(measuring, font);
    if (outputDc() && outputDc() != measuring) gdi::selectObject(outputDc(), font);
  }
  if (font_) gdi::deleteObject(font_);
  font_ = font;

  RT_LINE();
  gdi::TextMetrics tm;
  const bool measured = gdi::textMetrics(measuring, tm);
  if (madeHere) gdi::deleteDc(madeHere);
  if (measured) {
    avgWidth_ = tm.aveCharWidth;
    if (tm.pitchAndFamily & gdi::kVariablePitchBit) avgWidth_ += tm.aveCharWidth / 2;
    charHeight_ = tm.height + tm.externalLeading;
  }
  return true;
}

void RpPrinter::SetFont(const rt::Value& face, const rt::Value& points, const rt::Value& bold,
                        const rt::Value& italic, const rt::Value& underline, const rt::Value& orientation,
                        const rt::Value& escapement) {
  RT_FRAME("RpPrinter:SetFont");
  fontName_ = face.asString();
  fontSize_ = points.asNumber();
  bold_ = bold.asLogical();
  italic_ = italic.asLogical();
  underline_ = underline.asLogical();
  orientation_ = toInt32(static_cast<double>(orientation.asLong()));
  escapement_ = toInt32(static_cast<double>(escapement.asLong()));
  _CreateFont();
}

double RpPrinter::AvgCharWidth() const { return _XlateHLogical2UnitOfMeasure(avgWidth_); }
double RpPrinter::AvgCharHeight() const { return _XlateVLogical2UnitOfMeasure(charHeight_); }

// ---- Print position, margins, print area ---------------------------------------------------

double RpPrinter::PRow() const { return _XlateVLogical2UnitOfMeasure(printRow_); }
double RpPrinter::PCol() const { return _XlateHLogical2UnitOfMeasure(printColumn_); }

long long RpPrinter::PRow(const rt::Value& value) {
  printRow_ = toInt32(_XlateVUnitOfMeasure2Logical(value.asNumber()));
  return printRow_;
}

long long RpPrinter::PCol(const rt::Value& value) {
  printColumn_ = toInt32(_XlateHUnitOfMeasure2Logical(value.asNumber()));
  return printColumn_;
}

double RpPrinter::NextPRow() const { return PRow() + AvgCharHeight(); }

double RpPrinter::TopMargin() const { return _XlateVInches2UnitOfMeasure(PtrDevice::TopMargin()); }
double RpPrinter::LeftMargin() const { return _XlateHInches2UnitOfMeasure(PtrDevice::LeftMargin()); }
double RpPrinter::BottomMargin() const { return _XlateVInches2UnitOfMeasure(PtrDevice::BottomMargin()); }
double RpPrinter::RightMargin() const { return _XlateHInches2UnitOfMeasure(PtrDevice::RightMargin()); }
void RpPrinter::TopMargin(const rt::Value& v) { PtrDevice::TopMargin(_XlateVUnitOfMeasure2Inches(v.asNumber())); }
void RpPrinter::LeftMargin(const rt::Value& v) { PtrDevice::LeftMargin(_XlateHUnitOfMeasure2Inches(v.asNumber())); }
void RpPrinter::BottomMargin(const rt::Value& v) {
  PtrDevice::BottomMargin(_XlateVUnitOfMeasure2Inches(v.asNumber()));
}
void RpPrinter::RightMargin(const rt::Value& v) { PtrDevice::RightMargin(_XlateHUnitOfMeasure2Inches(v.asNumber())); }

double RpPrinter::PrintAreaWidth() const { return _XlateHLogical2UnitOfMeasure(LogPrintAreaWidth()); }
double RpPrinter::PrintAreaLength() const { return _XlateVLogical2UnitOfMeasure(LogPrintAreaLength()); }

// ---- Page events ---------------------------------------------------------------------------

rt::Value RpPrinter::CallPrintSetPage(const rt::Value& setup) {
  RT_FRAME("RpPrinter:CallPrintSetPage");
  printRow_ = 0;
  printColumn_ = 0;
  if (font_) {
    if (printerDc()) gdi::selectObject(printerDc(), font_);
    if (outputDc()) gdi::selectObject(outputDc(), font_);
  }
  return PtrDevice::CallPrintSetPage(setup);
}

rt::Value RpPrinter::CallPrintPageHeader() {
  RT_FRAME("RpPrinter:CallPrintPageHeader");
  printRow_ = 0;
  printColumn_ = 0;
  return PtrDevice::CallPrintPageHeader();
}

void registerRpPrinter() {
  rpt::registerDeviceClass("RpPrinter", [](const rt::Value& first, const rt::Value& second) {
    return std::make_shared<RpPrinter>(first, second);
  });
}

}  // namespace reports
