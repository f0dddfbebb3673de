// Report layouts (*.rpt): the model of one layout and its reader. The file format is JSON and is
// described in docs/formats/rpt.md; the key names below are the ones the file uses.
// Reading never raises and never throws: a file that cannot be read gives an error text naming
// the file and the place at fault. Expressions are compiled while reading.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/runtime.h"

namespace rpt {

// Units of measure, numbered as the printer device numbers them.
enum class Unit : int { Inches = 1, Centimetres = 2, Millimetres = 3 };

struct PageSetup {
  std::string paper = "Letter";  // Letter, Legal, A4, A5 or Custom (with width and length)
  bool landscape = false;
  Unit unit = Unit::Inches;
  double width = 8.5;    // paper size in the unit, after orientation
  double length = 11.0;
  double top = 0.5, left = 0.5, bottom = 0.5, right = 0.5;  // margins in the unit
  double toInches(double v) const;
};

struct FontSpec {
  std::string face = "Arial";
  double size = 10;
  bool bold = false, italic = false, underline = false;
  friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

enum class ObjectKind { Text, Field, Line, Rectangle, Ellipse, Bitmap, RichText };

// One thing drawn in a band. Positions are in the layout's unit, relative to the band's top
// left corner (which sits at the page's left margin).
struct BandObject {
  ObjectKind kind = ObjectKind::Text;
  double x = 0, y = 0, width = 0, height = 0;
  double x2 = 0, y2 = 0;            // end point of a line
  std::string text;                 // static text
  std::string expression;           // field
  rt::BlockPtr block;
  std::string format;               // field: see formatValue
  int align = 0;                    // 0 left, 1 centre, 2 right
  bool wrap = false;                // text block laid out in the rectangle
  FontSpec font;
  std::uint32_t color = 0;          // 0x00BBGGRR
  std::optional<std::uint32_t> background;
  int penWidth = 1;
  int penStyle = 0;
  std::optional<std::uint32_t> fill;
  std::string file;                 // bitmap or rich text, relative to the layout's folder
};

struct Band {
  bool present = false;
  double height = 0;
  std::string printWhen;  // optional logical expression; the band prints only when it is true
  rt::BlockPtr printWhenBlock;
  std::vector<BandObject> objects;
};

struct Group {
  std::string name;
  std::string expression;
  rt::BlockPtr block;
  bool newPage = false;  // each instance after the first starts on a new page
  Band header;
  Band continuedHeader;  // printed at the top of a page that an instance of the group continues on
  Band footer;
};

enum class AggregateKind { Count, Sum, Min, Max };

// A value over the rows of the whole report or of each instance of one group. Rows for which
// the condition is false do not take part.
struct Aggregate {
  std::string name;
  AggregateKind kind = AggregateKind::Count;
  std::string expression, condition;
  rt::BlockPtr block, conditionBlock;
  std::string group;  // empty: the whole report
  int groupLevel = -1;
};

struct DataSource {
  std::string table;       // a dBASE table in the layout's folder
  std::string indexFile;   // optional compound index of the table
  std::string order;       // tag name or order number in that index
  std::string filter;      // optional logical expression
  rt::BlockPtr filterBlock;
  std::string sort;        // optional expression the rows are sorted on (stable, ascending)
  rt::BlockPtr sortBlock;
};

struct Layout {
  std::string name;
  std::string directory;   // folder of the layout file, ending in '/' (empty: working directory)
  PageSetup page;
  FontSpec font;           // default font of text and fields
  DataSource data;
  Band title, pageHeader, detail, pageFooter, summary;
  std::vector<Group> groups;  // outermost first
  std::vector<Aggregate> aggregates;
};

struct LayoutResult {
  std::optional<Layout> layout;
  std::string error;  // "<file>: <what>" when layout is empty
  bool ok() const { return layout.has_value(); }
};

// Reads a layout from its text; `fileName` names it in error texts and gives its folder.
[[nodiscard]] LayoutResult parseLayout(std::string_view text, const std::string& fileName);
// Reads a layout file; a missing or unreadable file is an error result.
[[nodiscard]] LayoutResult readLayoutFile(const std::string& fileName);

// A value as a field shows it under `format`:
//   ""            general conversion; strings lose trailing blanks, logicals show Yes/No
//   "@!"          upper case
//   "9,999.99"    number picture: decimals after the point, thousands grouping when ',' appears
//   "Yes/No"      logical: the text before the slash when true, after it when false
//   "date"        a date in the current date format
std::string formatValue(const rt::Value& value, const std::string& format);

}  // namespace rpt
