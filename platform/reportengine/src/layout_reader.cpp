// The layout reader: JSON text -> Layout, checking every key it knows and compiling expressions
// with the run-time's compiler while a local error block collects compile failures.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>

#include "quiet_errors.h"
#include "reportengine/layout.h"

namespace rpt {

namespace {

constexpr std::size_t kMaxLayoutBytes = 4 * 1024 * 1024;
constexpr double kMaxPageSide = 200;  // inches; larger sizes are taken as mistakes

// A reading step failed; carries the place and what is wrong.
struct ReadFault {
  std::string what;
};

std::string str(const QString& s) { return s.toStdString(); }

class Reader {
 public:
  explicit Reader(std::string fileName) : fileName_(std::move(fileName)) {}

  Layout read(const QJsonObject& root) {
    Layout l;
    l.name = text(root, "name", "report", "");
    const auto slash = fileName_.find_last_of('/');
    l.directory = slash == std::string::npos ? std::string() : fileName_.substr(0, slash + 1);
    l.page = page(object(root, "page", "report"));
    l.font = font(root.value("font"), "report font", FontSpec{});
    font_ = l.font;
    l.data = data(object(root, "data", "report"));
    const QJsonObject bands = object(root, "bands", "report");
    for (const QString& key : bands.keys()) {
      static const char* const kKnown[] = {"title", "pageHeader", "detail", "pageFooter", "summary"};
      if (std::none_of(std::begin(kKnown), std::end(kKnown), [&](const char* k) { return key == k; }))
        throw ReadFault{"bands: unknown band \"" + str(key) + "\""};
    }
    l.title = band(bands.value("title"), "title band");
    l.pageHeader = band(bands.value("pageHeader"), "page header band");
    l.detail = band(bands.value("detail"), "detail band");
    l.pageFooter = band(bands.value("pageFooter"), "page footer band");
    l.summary = band(bands.value("summary"), "summary band");
    const double printable = l.page.length - l.page.top - l.page.bottom;
    if (l.page.width - l.page.left - l.page.right <= 0 || printable <= 0)
      throw ReadFault{"page: the margins leave no room to print"};
    if (l.pageHeader.height + l.pageFooter.height >= printable)
      throw ReadFault{"bands: page header and page footer leave no room for rows"};

    const QJsonValue groups = root.value("groups");
    if (!groups.isUndefined() && !groups.isArray()) throw ReadFault{"groups: not a list"};
    int index = 0;
    for (const QJsonValue& g : groups.toArray()) {
      const std::string where = "group " + std::to_string(++index);
      if (!g.isObject()) throw ReadFault{where + ": not an object"};
      const QJsonObject o = g.toObject();
      Group grp;
      grp.name = text(o, "name", where, "");
      if (grp.name.empty()) throw ReadFault{where + ": no name"};
      for (const Group& other : l.groups)
        if (rt::toUpper(other.name) == rt::toUpper(grp.name)) throw ReadFault{where + ": name used twice"};
      grp.expression = text(o, "expression", where, "");
      grp.block = compiled(grp.expression, where + " expression", true);
      grp.newPage = logical(o, "newPage", where, false);
      grp.header = band(o.value("header"), where + " header");
      grp.continuedHeader = band(o.value("continuedHeader"), where + " continuedHeader");
      grp.footer = band(o.value("footer"), where + " footer");
      l.groups.push_back(std::move(grp));
    }

    const QJsonValue aggregates = root.value("aggregates");
    if (!aggregates.isUndefined() && !aggregates.isArray()) throw ReadFault{"aggregates: not a list"};
    index = 0;
    for (const QJsonValue& a : aggregates.toArray()) {
      const std::string where = "aggregate " + std::to_string(++index);
      if (!a.isObject()) throw ReadFault{where + ": not an object"};
      const QJsonObject o = a.toObject();
      Aggregate agg;
      agg.name = text(o, "name", where, "");
      if (agg.name.empty()) throw ReadFault{where + ": no name"};
      const std::string kind = rt::toUpper(text(o, "function", where, "count"));
      if (kind == "COUNT") agg.kind = AggregateKind::Count;
      else if (kind == "SUM") agg.kind = AggregateKind::Sum;
      else if (kind == "MIN") agg.kind = AggregateKind::Min;
      else if (kind == "MAX") agg.kind = AggregateKind::Max;
      else throw ReadFault{where + ": unknown function \"" + kind + "\""};
      agg.expression = text(o, "expression", where, "");
      agg.block = compiled(agg.expression, where + " expression", agg.kind != AggregateKind::Count);
      agg.condition = text(o, "condition", where, "");
      agg.conditionBlock = compiled(agg.condition, where + " condition", false);
      agg.group = text(o, "group", where, "");
      if (!agg.group.empty()) {
        for (std::size_t i = 0; i < l.groups.size(); ++i)
          if (rt::toUpper(l.groups[i].name) == rt::toUpper(agg.group)) agg.groupLevel = static_cast<int>(i);
        if (agg.groupLevel < 0) throw ReadFault{where + ": no group named \"" + agg.group + "\""};
      }
      l.aggregates.push_back(std::move(agg));
    }
    return l;
  }

 private:
  QJsonObject object(const QJsonObject& parent, const char* key, const std::string& where) {
    const QJsonValue v = parent.value(key);
    if (v.isUndefined()) return {};
    if (!v.isObject()) throw ReadFault{where + ": \"" + key + "\" is not an object"};
    return v.toObject();
  }

  std::string text(const QJsonObject& o, const char* key, const std::string& where, const std::string& fallback) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) return fallback;
    if (!v.isString()) throw ReadFault{where + ": \"" + key + "\" is not a string"};
    return str(v.toString());
  }

  double number(const QJsonObject& o, const char* key, const std::string& where, double fallback,
                double low = 0, double high = 1e6) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) return fallback;
    if (!v.isDouble()) throw ReadFault{where + ": \"" + key + "\" is not a number"};
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < low || d > high)
      throw ReadFault{where + ": \"" + key + "\" is out of range"};
    return d;
  }

  bool logical(const QJsonObject& o, const char* key, const std::string& where, bool fallback) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) return fallback;
    if (!v.isBool()) throw ReadFault{where + ": \"" + key + "\" is not true or false"};
    return v.toBool();
  }

  std::uint32_t color(const QJsonObject& o, const char* key, const std::string& where, std::uint32_t fallback) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined()) return fallback;
    const std::string s = v.isString() ? str(v.toString()) : std::string();
    auto hex = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    if (s.size() != 7 || s[0] != '#' || std::any_of(s.begin() + 1, s.end(), [&](char c) { return hex(c) < 0; }))
      throw ReadFault{where + ": \"" + key + "\" is not a colour \"#rrggbb\""};
    auto byte = [&](int i) { return hex(s[i]) * 16 + hex(s[i + 1]); };
    return static_cast<std::uint32_t>(byte(1) | (byte(3) << 8) | (byte(5) << 16));
  }

  rt::BlockPtr compiled(const std::string& text, const std::string& where, bool required) {
    if (text.empty()) {
      if (required) throw ReadFault{where + ": missing"};
      return nullptr;
    }
    QuietErrors quiet;
    rt::BlockPtr block = rt::compile(text);
    if (!block || quiet.caught())
      throw ReadFault{where + ": " + (quiet.caught() ? quiet.first()->description : "cannot be compiled")};
    return block;
  }

  PageSetup page(const QJsonObject& o) {
    PageSetup p;
    const std::string unit = rt::toUpper(text(o, "unit", "page", "inches"));
    if (unit == "INCHES" || unit == "IN") p.unit = Unit::Inches;
    else if (unit == "CM" || unit == "CENTIMETRES") p.unit = Unit::Centimetres;
    else if (unit == "MM" || unit == "MILLIMETRES") p.unit = Unit::Millimetres;
    else throw ReadFault{"page: unknown unit \"" + unit + "\""};
    const double perInch = p.unit == Unit::Inches ? 1 : p.unit == Unit::Centimetres ? 2.54 : 25.4;
    p.paper = text(o, "paper", "page", "Letter");
    const std::string paper = rt::toUpper(p.paper);
    double w = 0, h = 0;
    if (paper == "LETTER") w = 8.5, h = 11;
    else if (paper == "LEGAL") w = 8.5, h = 14;
    else if (paper == "A4") w = 210 / 25.4, h = 297 / 25.4;
    else if (paper == "A5") w = 148 / 25.4, h = 210 / 25.4;
    else if (paper == "CUSTOM") {
      w = number(o, "width", "page", 0, 0, kMaxPageSide * perInch) / perInch;
      h = number(o, "length", "page", 0, 0, kMaxPageSide * perInch) / perInch;
      if (w < 1 || h < 1) throw ReadFault{"page: a custom paper needs a width and a length of at least an inch"};
    } else {
      throw ReadFault{"page: unknown paper \"" + p.paper + "\""};
    }
    const std::string orientation = rt::toUpper(text(o, "orientation", "page", "portrait"));
    if (orientation == "LANDSCAPE") p.landscape = true;
    else if (orientation != "PORTRAIT") throw ReadFault{"page: unknown orientation \"" + orientation + "\""};
    if (p.landscape) std::swap(w, h);
    p.width = w * perInch;
    p.length = h * perInch;
    const QJsonObject m = object(o, "margins", "page");
    const double half = 0.5 * perInch;
    p.top = number(m, "top", "page margins", half, 0, p.length);
    p.left = number(m, "left", "page margins", half, 0, p.width);
    p.bottom = number(m, "bottom", "page margins", half, 0, p.length);
    p.right = number(m, "right", "page margins", half, 0, p.width);
    page_ = p;
    return p;
  }

  FontSpec font(const QJsonValue& v, const std::string& where, const FontSpec& base) {
    if (v.isUndefined()) return base;
    if (!v.isObject()) throw ReadFault{where + ": not an object"};
    const QJsonObject o = v.toObject();
    FontSpec f = base;
    f.face = text(o, "face", where, base.face);
    if (f.face.empty() || f.face.size() > 64) throw ReadFault{where + ": bad face name"};
    f.size = number(o, "size", where, base.size, 1, 200);
    f.bold = logical(o, "bold", where, base.bold);
    f.italic = logical(o, "italic", where, base.italic);
    f.underline = logical(o, "underline", where, base.underline);
    return f;
  }

  DataSource data(const QJsonObject& o) {
    DataSource d;
    d.table = text(o, "table", "data", "");
    if (!d.table.empty() && (d.table.find('/') != std::string::npos || d.table.find('\\') != std::string::npos))
      throw ReadFault{"data: the table must be a file name in the layout's folder"};
    d.indexFile = text(o, "index", "data", "");
    if (d.indexFile.find('/') != std::string::npos || d.indexFile.find('\\') != std::string::npos)
      throw ReadFault{"data: the index must be a file name in the layout's folder"};
    const QJsonValue order = o.value("order");
    if (order.isDouble()) d.order = std::to_string(static_cast<long long>(number(o, "order", "data", 0, 0, 1000)));
    else d.order = text(o, "order", "data", "");
    if (!d.order.empty() && d.indexFile.empty()) throw ReadFault{"data: an order needs an index"};
    d.filter = text(o, "filter", "data", "");
    d.filterBlock = compiled(d.filter, "data filter", false);
    d.sort = text(o, "sort", "data", "");
    d.sortBlock = compiled(d.sort, "data sort", false);
    return d;
  }

  Band band(const QJsonValue& v, const std::string& where) {
    Band b;
    if (v.isUndefined() || v.isNull()) return b;
    if (!v.isObject()) throw ReadFault{where + ": not an object"};
    const QJsonObject o = v.toObject();
    b.present = true;
    b.height = number(o, "height", where, 0, 0, page_.length);
    b.printWhen = text(o, "printWhen", where, "");
    b.printWhenBlock = compiled(b.printWhen, where + " printWhen", false);
    const QJsonValue objects = o.value("objects");
    if (!objects.isUndefined() && !objects.isArray()) throw ReadFault{where + ": \"objects\" is not a list"};
    int index = 0;
    for (const QJsonValue& item : objects.toArray())
      b.objects.push_back(bandObject(item, where + " object " + std::to_string(++index)));
    return b;
  }

  BandObject bandObject(const QJsonValue& v, const std::string& where) {
    if (!v.isObject()) throw ReadFault{where + ": not an object"};
    const QJsonObject o = v.toObject();
    BandObject b;
    const std::string type = rt::toUpper(text(o, "type", where, ""));
    if (type == "TEXT") b.kind = ObjectKind::Text;
    else if (type == "FIELD") b.kind = ObjectKind::Field;
    else if (type == "LINE") b.kind = ObjectKind::Line;
    else if (type == "RECTANGLE") b.kind = ObjectKind::Rectangle;
    else if (type == "ELLIPSE") b.kind = ObjectKind::Ellipse;
    else if (type == "BITMAP") b.kind = ObjectKind::Bitmap;
    else if (type == "RICHTEXT") b.kind = ObjectKind::RichText;
    else throw ReadFault{where + ": unknown type \"" + type + "\""};
    const double limit = std::max(page_.width, page_.length);
    b.x = number(o, "x", where, 0, 0, limit);
    b.y = number(o, "y", where, 0, 0, limit);
    b.width = number(o, "width", where, 0, 0, limit);
    b.height = number(o, "height", where, 0, 0, limit);
    b.x2 = number(o, "x2", where, b.x, 0, limit);
    b.y2 = number(o, "y2", where, b.y, 0, limit);
    b.text = text(o, "text", where, "");
    b.expression = text(o, "expression", where, "");
    if (b.kind == ObjectKind::Field) b.block = compiled(b.expression, where + " expression", true);
    b.format = text(o, "format", where, "");
    const std::string align = rt::toUpper(text(o, "align", where, "left"));
    if (align == "LEFT") b.align = 0;
    else if (align == "CENTER" || align == "CENTRE") b.align = 1;
    else if (align == "RIGHT") b.align = 2;
    else throw ReadFault{where + ": unknown alignment \"" + align + "\""};
    b.wrap = logical(o, "wrap", where, false);
    b.font = font(o.value("font"), where + " font", font_);
    b.color = color(o, "color", where, 0);
    if (o.contains("background")) b.background = color(o, "background", where, 0xFFFFFF);
    const QJsonObject pen = object(o, "pen", where);
    b.penWidth = static_cast<int>(number(pen, "width", where + " pen", 1, 0, 100));
    b.penStyle = static_cast<int>(number(pen, "style", where + " pen", 0, 0, 4));
    if (pen.contains("color")) b.color = color(pen, "color", where + " pen", 0);
    if (o.contains("fill")) b.fill = color(o, "fill", where, 0xFFFFFF);
    b.file = text(o, "file", where, "");
    if ((b.kind == ObjectKind::Bitmap || b.kind == ObjectKind::RichText) && b.file.empty())
      throw ReadFault{where + ": no file"};
    if (b.file.find("..") != std::string::npos || (!b.file.empty() && b.file[0] == '/'))
      throw ReadFault{where + ": the file must be in the layout's folder"};
    return b;
  }

  std::string fileName_;
  PageSetup page_;
  FontSpec font_;
};

}  // namespace

double PageSetup::toInches(double v) const {
  switch (unit) {
    case Unit::Centimetres: return v / 2.54;
    case Unit::Millimetres: return v / 25.4;
    default: return v;
  }
}

LayoutResult parseLayout(std::string_view text, const std::string& fileName) {
  LayoutResult result;
  if (text.size() > kMaxLayoutBytes) {
    result.error = fileName + ": the file is too large for a layout";
    return result;
  }
  QJsonParseError parseError;
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    result.error = fileName + ": not a layout (" + str(parseError.errorString()) + " at byte " +
                   std::to_string(parseError.offset) + ")";
    return result;
  }
  if (!doc.isObject()) {
    result.error = fileName + ": not a layout (no object at the top)";
    return result;
  }
  const QJsonObject root = doc.object();
  if (root.value("format").toString() != QStringLiteral("zmc-report") || root.value("version").toInt() != 1) {
    result.error = fileName + ": not a layout of format \"zmc-report\" version 1";
    return result;
  }
  try {
    result.layout = Reader(fileName).read(root);
  } catch (const ReadFault& fault) {
    result.error = fileName + ": " + fault.what;
  } catch (const std::exception& e) {
    result.error = fileName + ": " + e.what();
  }
  return result;
}

LayoutResult readLayoutFile(const std::string& fileName) {
  std::string bytes, why;
  if (!rt::readRegularFile(fileName, kMaxLayoutBytes, bytes, why)) return {std::nullopt, fileName + ": " + why};
  return parseLayout(bytes, fileName);
}

}  // namespace rpt
