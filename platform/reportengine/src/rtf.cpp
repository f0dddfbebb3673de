// RTF: loading a rich-text file and drawing it wrapped into a rectangle of the device's page.
#include <cmath>

#include "reportengine/ptrdevice.h"
#include "reportengine/rtf.h"

namespace rpt {

namespace {

constexpr std::size_t kMaxFileSize = 64 * 1024 * 1024;

struct Style {
  bool bold, italic, underline;
  int halfPoints;
  bool operator==(const Style&) const = default;
};

struct Piece {
  Style style;
  std::string text;
};

// A unit of layout: a word (one or more differently styled pieces), a space, a tab or a break.
struct Token {
  enum Kind { Word, Space, Tab, Break } kind = Word;
  std::vector<Piece> pieces;  // a space keeps its style in pieces[0]
};

std::vector<Token> tokenize(const RtfParagraph& p) {
  std::vector<Token> tokens;
  Token word;
  auto flush = [&] {
    if (!word.pieces.empty()) tokens.push_back(std::move(word));
    word = Token{};
  };
  for (const RtfRun& r : p.runs) {
    const Style st{r.bold, r.italic, r.underline, r.halfPoints};
    if (r.tab || r.lineBreak) {
      flush();
      Token t;
      t.kind = r.tab ? Token::Tab : Token::Break;
      t.pieces.push_back(Piece{st, {}});
      tokens.push_back(std::move(t));
      continue;
    }
    for (char c : r.text) {
      if (c == ' ') {
        flush();
        Token t;
        t.kind = Token::Space;
        t.pieces.push_back(Piece{st, " "});
        tokens.push_back(std::move(t));
        continue;
      }
      if (word.pieces.empty() || !(word.pieces.back().style == st)) word.pieces.push_back(Piece{st, {}});
      word.pieces.back().text += c;
    }
  }
  flush();
  return tokens;
}

// Fonts for the styles met while drawing, made once each and deleted at the end.
class FontCache {
 public:
  FontCache(gdi::Handle dc, std::string face) : dc_(dc), face_(std::move(face)) {}
  ~FontCache() {
    if (original_) gdi::selectObject(dc_, original_);
    for (auto& e : entries_) gdi::deleteObject(e.font);
  }
  struct Entry {
    Style style;
    gdi::Handle font;
    gdi::TextMetrics metrics;
  };
  const Entry& use(const Style& st) {
    for (auto& e : entries_) {
      if (e.style == st) {
        select(e.font);
        return e;
      }
    }
    gdi::LogFont lf;
    lf.height = -static_cast<int>(std::lround(st.halfPoints / 2.0 * gdi::deviceCaps(dc_, gdi::LOGPIXELSY) / 72.0));
    lf.weight = st.bold ? gdi::FW_BOLD : gdi::FW_NORMAL;
    lf.italic = st.italic ? 255 : 0;
    lf.underline = st.underline ? 255 : 0;
    lf.faceName = face_;
    Entry e{st, gdi::createFont(lf), {}};
    select(e.font);
    gdi::textMetrics(dc_, e.metrics);
    entries_.push_back(e);
    return entries_.back();
  }
  int width(const Style& st, std::string_view text) {
    use(st);
    return gdi::textExtent(dc_, text).cx;
  }

 private:
  void select(gdi::Handle font) {
    if (current_ == font) return;
    gdi::Handle previous = gdi::selectObject(dc_, font);
    if (!original_) original_ = previous;
    current_ = font;
  }
  gdi::Handle dc_;
  std::string face_;
  gdi::Handle original_ = 0;
  gdi::Handle current_ = 0;
  std::vector<Entry> entries_;
};

struct Placed {
  int x;
  Style style;
  std::string text;
};

}  // namespace

bool RTF::loadFromMemory(std::string_view text) { return parseRtf(text, doc_); }

bool RTF::LoadRTFFromFile(const std::string& fileName) {
  doc_ = RtfDocument{};
  std::string bytes, why;
  if (!rt::readRegularFile(fileName, kMaxFileSize, bytes, why)) return false;
  return loadFromMemory(bytes);
}

int RTF::DrawText(PtrDevice& device, int row, int column, int height, int width, const rt::Value& option1,
                  const rt::Value& option2) {
  const gdi::Handle dc = device.outputDc();
  if (!gdi::isDc(dc)) return row;
  const bool draw = !(option1.isNumber() && option1.asNumber() == 0);
  const bool stopAtBottom = option2.isNil() || option2.asLogical();
  const int bottom = row + height;
  const int tabWidth = std::max(1, gdi::deviceCaps(dc, gdi::LOGPIXELSX) / 2);

  std::string face = "Arial";
  gdi::LogFont current;
  if (gdi::fontOf(gdi::currentObject(dc, 1), current) && !current.faceName.empty()) face = current.faceName;
  FontCache fonts(dc, face);
  const int savedAlign = gdi::setTextAlign(dc, gdi::TA_LEFT | gdi::TA_TOP);
  const int savedMode = gdi::setBkMode(dc, gdi::TRANSPARENT);

  int y = row;
  bool full = false;
  for (const RtfParagraph& paragraph : doc_.paragraphs) {
    if (full) break;
    const std::vector<Token> tokens = tokenize(paragraph);
    std::size_t t = 0;
    do {
      // One line: place tokens until the next word does not fit.
      std::vector<Placed> line;
      int x = 0;
      int ascent = 0, lineHeight = 0;
      auto grow = [&](const Style& st) {
        const auto& e = fonts.use(st);
        ascent = std::max(ascent, e.metrics.ascent);
        lineHeight = std::max(lineHeight, e.metrics.height + e.metrics.externalLeading);
      };
      grow(tokens.empty() ? Style{false, false, false, 24} : tokens[t < tokens.size() ? t : 0].pieces[0].style);
      for (; t < tokens.size(); ++t) {
        const Token& tok = tokens[t];
        if (tok.kind == Token::Break) {
          ++t;
          break;
        }
        if (tok.kind == Token::Tab) {
          x = (x / tabWidth + 1) * tabWidth;
          continue;
        }
        if (tok.kind == Token::Space) {
          if (!line.empty() || x > 0) x += fonts.width(tok.pieces[0].style, " ");
          continue;
        }
        int w = 0;
        for (const Piece& p : tok.pieces) w += fonts.width(p.style, p.text);
        if (x + w > width && !line.empty()) break;
        for (const Piece& p : tok.pieces) {
          grow(p.style);
          line.push_back(Placed{x, p.style, p.text});
          x += fonts.width(p.style, p.text);
        }
      }
      if (stopAtBottom && y + lineHeight > bottom && y > row) {
        full = true;
        break;
      }
      int shift = 0;
      if (paragraph.alignment == 1) shift = (width - x) / 2;
      else if (paragraph.alignment == 2) shift = width - x;
      if (draw) {
        for (const Placed& p : line) {
          const auto& e = fonts.use(p.style);
          gdi::textOut(dc, column + shift + p.x, y + ascent - e.metrics.ascent, p.text);
        }
      }
      y += lineHeight;
    } while (t < tokens.size());
  }
  gdi::setTextAlign(dc, savedAlign);
  if (savedMode) gdi::setBkMode(dc, savedMode);
  return y;
}

rt::Value RTF::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : rt::Value(); };
  const std::string& name = member.name();
  if (name == "LOADRTFFROMFILE") return LoadRTFFromFile(arg(0).asString());
  if (name == "DRAWTEXT") {
    auto device = arg(0).as<PtrDevice>();
    if (!device) return 0;
    return DrawText(*device, static_cast<int>(arg(1).asLong()), static_cast<int>(arg(2).asLong()),
                    static_cast<int>(arg(3).asLong()), static_cast<int>(arg(4).asLong()), arg(5), arg(6));
  }
  if (name == "DESTROY") {
    Destroy();
    return rt::Value();
  }
  return noMethod(member);
}

}  // namespace rpt
