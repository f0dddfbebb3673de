// RpPrinter by name: the engine calls the device's operations and properties through these tables.
#include <unordered_map>

#include "reports/rp_printer.h"

namespace reports {

namespace {

using Args = std::vector<rt::Value>;
using Method = std::function<rt::Value(RpPrinter&, const Args&)>;

rt::Value at(const Args& args, std::size_t i) { return i < args.size() ? args[i] : rt::Value(); }

rt::Value self(RpPrinter& p) { return rt::Value(std::static_pointer_cast<rt::Object>(p.shared_from_this())); }

// Operations called with arguments; drawing operations answer the device itself.
const std::unordered_map<std::string, Method>& methods() {
  static const std::unordered_map<std::string, Method> table = {
      {"AXIT", [](RpPrinter& p, const Args&) { p.Axit(); return rt::Value(); }},
      {"SETFONT", [](RpPrinter& p, const Args& a) {
         p.SetFont(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6));
         return self(p);
       }},
      {"TEXTOUT", [](RpPrinter& p, const Args& a) {
         p.TextOut(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5));
         return self(p);
       }},
      {"DRAWTEXT", [](RpPrinter& p, const Args& a) {
         p.DrawText(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6), at(a, 7), at(a, 8));
         return self(p);
       }},
      {"DRAWLINE", [](RpPrinter& p, const Args& a) {
         p.DrawLine(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6));
         return self(p);
       }},
      {"DRAWRECTANGLE", [](RpPrinter& p, const Args& a) {
         p.DrawRectangle(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6), at(a, 7), at(a, 8));
         return self(p);
       }},
      {"DRAWELLIPSE", [](RpPrinter& p, const Args& a) {
         p.DrawEllipse(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6), at(a, 7), at(a, 8));
         return self(p);
       }},
      {"DRAWBMP", [](RpPrinter& p, const Args& a) {
         p.DrawBmp(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6), at(a, 7));
         return self(p);
       }},
      {"_DRAWBMP", [](RpPrinter& p, const Args& a) {
         p._DrawBmp(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6), at(a, 7));
         return self(p);
       }},
      {"DRAWRTF", [](RpPrinter& p, const Args& a) {
         p.DrawRtf(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5));
         return self(p);
       }},
      {"_DRAWRTF", [](RpPrinter& p, const Args& a) {
         p._DrawRtf(at(a, 0), at(a, 1), at(a, 2), at(a, 3), at(a, 4), at(a, 5), at(a, 6));
         return self(p);
       }},
      {"GETTEXTLENGTH", [](RpPrinter& p, const Args& a) { return rt::Value(p.GetTextLength(at(a, 0))); }},
      {"GETTEXTFACE", [](RpPrinter& p, const Args&) { return rt::Value(p.GetTextFace()); }},
      {"CALLPRINTSETPAGE", [](RpPrinter& p, const Args& a) { return p.CallPrintSetPage(at(a, 0)); }},
      {"CALLPRINTPAGEHEADER", [](RpPrinter& p, const Args&) { return p.CallPrintPageHeader(); }},
      {"_CREATEFONT", [](RpPrinter& p, const Args&) { return rt::Value(p._CreateFont()); }},
      {"_XLATEHUNITOFMEASURE2LOGICAL", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateHUnitOfMeasure2Logical(at(a, 0).asNumber())); }},
      {"_XLATEVUNITOFMEASURE2LOGICAL", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateVUnitOfMeasure2Logical(at(a, 0).asNumber())); }},
      {"_XLATEHLOGICAL2UNITOFMEASURE", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateHLogical2UnitOfMeasure(at(a, 0).asNumber())); }},
      {"_XLATEVLOGICAL2UNITOFMEASURE", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateVLogical2UnitOfMeasure(at(a, 0).asNumber())); }},
      {"_XLATEHUNITOFMEASURE2INCHES", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateHUnitOfMeasure2Inches(at(a, 0).asNumber())); }},
      {"_XLATEVUNITOFMEASURE2INCHES", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateVUnitOfMeasure2Inches(at(a, 0).asNumber())); }},
      {"_XLATEHINCHES2UNITOFMEASURE", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateHInches2UnitOfMeasure(at(a, 0).asNumber())); }},
      {"_XLATEVINCHES2UNITOFMEASURE", [](RpPrinter& p, const Args& a) { return rt::Value(p._XlateVInches2UnitOfMeasure(at(a, 0).asNumber())); }},
  };
  return table;
}

struct Property {
  std::function<rt::Value(RpPrinter&)> get;                       // empty: write-only
  std::function<rt::Value(RpPrinter&, const rt::Value&)> put;     // empty: read-only
};

const std::unordered_map<std::string, Property>& properties() {
  static const std::unordered_map<std::string, Property> table = {
      {"UNITOFMEASURE", {{}, [](RpPrinter& p, const rt::Value& v) { return rt::Value(p.UnitOfMeasure(v)); }}},
      {"AVGCHARWIDTH", {[](RpPrinter& p) { return rt::Value(p.AvgCharWidth()); }, {}}},
      {"AVGCHARHEIGHT", {[](RpPrinter& p) { return rt::Value(p.AvgCharHeight()); }, {}}},
      {"NEXTPROW", {[](RpPrinter& p) { return rt::Value(p.NextPRow()); }, {}}},
      {"PRINTAREAWIDTH", {[](RpPrinter& p) { return rt::Value(p.PrintAreaWidth()); }, {}}},
      {"PRINTAREALENGTH", {[](RpPrinter& p) { return rt::Value(p.PrintAreaLength()); }, {}}},
      {"PROW", {[](RpPrinter& p) { return rt::Value(p.PRow()); },
                [](RpPrinter& p, const rt::Value& v) { return rt::Value(p.PRow(v)); }}},
      {"PCOL", {[](RpPrinter& p) { return rt::Value(p.PCol()); },
                [](RpPrinter& p, const rt::Value& v) { return rt::Value(p.PCol(v)); }}},
      {"TOPMARGIN", {[](RpPrinter& p) { return rt::Value(p.TopMargin()); },
                     [](RpPrinter& p, const rt::Value& v) { p.TopMargin(v); return v; }}},
      {"LEFTMARGIN", {[](RpPrinter& p) { return rt::Value(p.LeftMargin()); },
                      [](RpPrinter& p, const rt::Value& v) { p.LeftMargin(v); return v; }}},
      {"BOTTOMMARGIN", {[](RpPrinter& p) { return rt::Value(p.BottomMargin()); },
                        [](RpPrinter& p, const rt::Value& v) { p.BottomMargin(v); return v; }}},
      {"RIGHTMARGIN", {[](RpPrinter& p) { return rt::Value(p.RightMargin()); },
                       [](RpPrinter& p, const rt::Value& v) { p.RightMargin(v); return v; }}},
  };
  return table;
}

}  // namespace

rt::Value RpPrinter::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  const std::string& name = member.name();
  if (auto it = methods().find(name); it != methods().end()) return it->second(*this, args);
  if (auto it = properties().find(name); it != properties().end()) {
    if (!args.empty() && it->second.put) return it->second.put(*this, args[0]);
    if (args.empty() && it->second.get) return it->second.get(*this);
  }
  return PtrDevice::send(member, args);
}

rt::Value RpPrinter::get(rt::Symbol member) {
  if (auto it = properties().find(member.name()); it != properties().end() && it->second.get)
    return it->second.get(*this);
  return PtrDevice::get(member);
}

rt::Value RpPrinter::put(rt::Symbol member, const rt::Value& value) {
  if (auto it = properties().find(member.name()); it != properties().end() && it->second.put)
    return it->second.put(*this, value);
  return PtrDevice::put(member, value);
}

}  // namespace reports
