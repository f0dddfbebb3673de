// The drawing layer: device contexts over Qt (printer, PDF, image, recorded page, measuring-only)
// with fonts, pens, brushes, text, lines, shapes and comment records in device pixels.
// Objects and contexts are small integer handles in one process-wide table; the caller that
// creates a handle deletes it. A context keeps copies of what is selected into it, so deleting an
// object never leaves a context dangling. GUI thread only: nothing here is thread-safe.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <QImage>

class QPaintDevice;

namespace gdi {

// A handle names one font, pen, brush or device context; 0 is "none". Handles are never reused
// while the process lives, so a stale handle is simply unknown rather than someone else's object.
using Handle = std::uint32_t;

// A colour as 0x00BBGGRR.
using ColorRef = std::uint32_t;
constexpr ColorRef rgb(int r, int g, int b) {
  return static_cast<ColorRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int redOf(ColorRef c) { return c & 0xFF; }
constexpr int greenOf(ColorRef c) { return (c >> 8) & 0xFF; }
constexpr int blueOf(ColorRef c) { return (c >> 16) & 0xFF; }

// Pen styles.
enum PenStyle : int { PS_SOLID = 0, PS_DASH = 1, PS_DOT = 2, PS_DASHDOT = 3, PS_DASHDOTDOT = 4, PS_NULL = 5 };
// Brush styles and the six hatch patterns.
enum BrushStyle : int { BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2 };
enum HatchStyle : int {
  HS_HORIZONTAL = 0, HS_VERTICAL = 1, HS_FDIAGONAL = 2, HS_BDIAGONAL = 3, HS_CROSS = 4, HS_DIAGCROSS = 5
};
// Stock objects the printer device uses.
enum StockObject : int { WHITE_BRUSH = 0, NULL_BRUSH = 5, BLACK_PEN = 7, NULL_PEN = 8 };
// Background modes.
enum BkMode : int { TRANSPARENT = 1, OPAQUE = 2 };
// Text alignment flags: horizontal (left, right, centre) or'ed with vertical (top, bottom, baseline).
enum TextAlign : int { TA_LEFT = 0, TA_TOP = 0, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24 };
// Pitch-and-family bit 0: set for variable-pitch fonts.
constexpr int kVariablePitchBit = 0x01;
// Weights.
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;

struct LogFont {
  std::int32_t height = 0;  // logical units; negative: character height (em), positive: cell height
  std::int32_t width = 0;   // average width; 0 lets the font choose
  std::int32_t escapement = 0;   // tenths of a degree, counter-clockwise
  std::int32_t orientation = 0;  // kept, not used for drawing
  std::int32_t weight = FW_NORMAL;  // 0 means normal
  std::uint8_t italic = 0;
  std::uint8_t underline = 0;
  std::uint8_t strikeOut = 0;
  std::uint8_t charSet = 1;
  std::uint8_t outPrecision = 0;
  std::uint8_t clipPrecision = 0;
  std::uint8_t quality = 0;
  std::uint8_t pitchAndFamily = 0;
  std::string faceName;
  friend bool operator==(const LogFont&, const LogFont&) = default;
};

struct TextMetrics {
  std::int32_t height = 0;  // ascent + descent
  std::int32_t ascent = 0;
  std::int32_t descent = 0;
  std::int32_t internalLeading = 0;
  std::int32_t externalLeading = 0;
  std::int32_t aveCharWidth = 0;
  std::int32_t maxCharWidth = 0;
  std::int32_t weight = 0;
  std::uint8_t italic = 0;
  std::uint8_t underlined = 0;
  std::uint8_t struckOut = 0;
  std::uint8_t pitchAndFamily = 0;  // bit 0 set for variable pitch
  std::uint8_t charSet = 1;
};

struct LogPen {
  int style = PS_SOLID;
  int width = 0;  // 0 draws the thinnest line the device has
  ColorRef color = 0;
  friend bool operator==(const LogPen&, const LogPen&) = default;
};

struct LogBrush {
  int style = BS_SOLID;
  ColorRef color = 0;
  int hatch = 0;  // used when style is BS_HATCHED; 0-5, other values fill solid
  friend bool operator==(const LogBrush&, const LogBrush&) = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
};

// ---- Objects -------------------------------------------------------------------------------
Handle createFont(const LogFont& font);
Handle createPen(int style, int width, ColorRef color);
Handle createBrushIndirect(const LogBrush& brush);
Handle stockObject(int index);  // 0 for an index we do not provide; never to be deleted
bool deleteObject(Handle object);  // false for unknown handles; stock objects stay
bool isObject(Handle object);
// Number of live fonts, pens and brushes created by callers (stock excluded): tests check leaks.
int liveObjectCount();
// The description an object was made from, when it is of that kind.
bool fontOf(Handle object, LogFont& out);
bool penOf(Handle object, LogPen& out);
bool brushOf(Handle object, LogBrush& out);

// ---- Device contexts -----------------------------------------------------------------------
// A white image of the given size in pixels at `dpi` pixels per inch.
Handle createImageDc(int width, int height, int dpi);
// A PDF file of pages `width` x `height` pixels at `dpi`; written when the context is deleted.
Handle createPdfDc(const std::string& path, int width, int height, int dpi);
// Paints on a paint device the caller keeps alive (a printer, a widget's image, ...).
Handle createPaintDeviceDc(QPaintDevice* device);
// A recorded page: keeps every call in order (see RecordedPage).
Handle createRecordingDc(int width, int height, int dpiX, int dpiY);
// Measures only: fonts and metrics work, drawing does nothing.
Handle createMeasuringDc(int dpiX, int dpiY);
bool deleteDc(Handle dc);
bool isDc(Handle dc);

enum DeviceCap : int { HORZRES = 8, VERTRES = 10, LOGPIXELSX = 88, LOGPIXELSY = 90 };
int deviceCaps(Handle dc, int index);

// Returns the object previously selected of the same kind (0 when none or on failure).
Handle selectObject(Handle dc, Handle object);
Handle currentObject(Handle dc, int kind);  // kind: 1 font, 2 pen, 3 brush

ColorRef setTextColor(Handle dc, ColorRef color);  // each setter returns the previous value
ColorRef setBkColor(Handle dc, ColorRef color);
int setBkMode(Handle dc, int mode);
int setTextAlign(Handle dc, int align);
int textAlign(Handle dc);
ColorRef textColor(Handle dc);

bool textOut(Handle dc, int x, int y, std::string_view text);  // text is UTF-8
bool moveTo(Handle dc, int x, int y);
bool lineTo(Handle dc, int x, int y);
bool rectangle(Handle dc, int left, int top, int right, int bottom);
bool ellipse(Handle dc, int left, int top, int right, int bottom);
bool gdiComment(Handle dc, const std::vector<std::uint8_t>& data);
// Draws `image` scaled into the rectangle.
bool stretchImage(Handle dc, int x, int y, int width, int height, const QImage& image);
// PDF and printer contexts: finish the page and start the next.
bool newPage(Handle dc);

bool textMetrics(Handle dc, TextMetrics& out);
Size textExtent(Handle dc, std::string_view text);
std::string textFace(Handle dc);  // the face the selected font actually resolved to

// ---- Recorded pages ------------------------------------------------------------------------
// One call on a recording context. Objects are kept as their descriptions, so a record outlives
// the handles that were selected when it was made.
struct Record {
  enum Kind {
    SelectFont, SelectPen, SelectBrush, TextColor, BkColor, BkMode, TextAlignment,
    TextOut, MoveTo, LineTo, Rectangle, Ellipse, Comment, Image
  };
  Kind kind = Comment;
  int a = 0, b = 0, c = 0, d = 0;  // coordinates or the value set
  std::string text;
  std::vector<std::uint8_t> data;  // comment bytes
  LogFont font;
  LogPen pen;
  LogBrush brush;
  QImage image;
};

struct RecordedPage {
  int width = 0;
  int height = 0;
  int dpiX = 0;
  int dpiY = 0;
  std::vector<Record> records;
};

// The page recorded so far on a recording context (nullptr for other contexts).
const RecordedPage* recordedPage(Handle dc);
// Plays every record onto another context in order; objects are created, used and deleted.
bool replay(const RecordedPage& page, Handle target);
// One line per record, stable across runs and machines (images as size and checksum).
std::string dump(const RecordedPage& page);
// Only the comment records, in order.
std::vector<std::vector<std::uint8_t>> comments(const RecordedPage& page);

// The image of an image context (nullptr for other contexts).
const QImage* imageOf(Handle dc);

}  // namespace gdi
