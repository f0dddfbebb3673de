// The rich-text reader. One pass over the bytes with an explicit group stack (no recursion), so
// deep nesting or truncated input cannot exhaust the stack; every index is bounds-checked.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "reportengine/rtfdocument.h"

namespace rpt {
namespace {

constexpr std::size_t kMaxDepth = 4096;   // deeper groups are read as part of their parent
constexpr std::size_t kMaxWordLength = 32;

struct GroupState {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int halfPoints = 24;
  int unicodeSkip = 1;  // characters that stand in for each \u character
  bool skip = false;    // inside a destination we do not show
};

// Code page 1252 for bytes 0x80-0x9F; the rest of the upper half is Latin-1.
constexpr std::array<std::uint16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::uint32_t fromCp1252(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isSkippedDestination(std::string_view word) {
  static constexpr std::string_view kSkipped[] = {
      "fonttbl", "colortbl", "stylesheet", "info", "pict", "header", "headerl", "headerr", "headerf",
      "footer", "footerl", "footerr", "footerf", "object", "fldinst", "themedata", "colorschememapping",
      "latentstyles", "datastore", "listtable", "listoverridetable", "rsidtbl", "generator", "xmlnsdecl",
      "filetbl", "revtbl", "nonshppict", "bkmkstart", "bkmkend", "footnote", "annotation", "atnid",
      "author", "operator", "title", "subject", "keywords", "comment", "doccomm", "objdata", "shpinst",
      "sp", "sn", "sv", "mmathPr", "pgdsctbl", "protusertbl", "xe", "tc", "txe", "userprops"};
  for (auto s : kSkipped)
    if (s == word) return true;
  return false;
}

class Reader {
 public:
  explicit Reader(RtfDocument& doc) : doc_(doc) { doc_.paragraphs.emplace_back(); }

  void run(std::string_view in) {
    std::vector<GroupState> stack;
    GroupState state;
    std::size_t ignoredDepth = 0;  // groups beyond kMaxDepth, counted but not pushed
    std::size_t i = 0;
    const std::size_t n = in.size();
    while (i < n) {
      const char c = in[i];
      if (c == '{') {
        ++i;
        if (stack.size() >= kMaxDepth) {
          ++ignoredDepth;
          continue;
        }
        stack.push_back(state);
        if (i + 1 < n && in[i] == '\\' && in[i + 1] == '*') {
          state.skip = true;
          i += 2;
        }
        continue;
      }
      if (c == '}') {
        ++i;
        if (ignoredDepth > 0) {
          --ignoredDepth;
          continue;
        }
        if (stack.empty()) break;
        state = stack.back();
        stack.pop_back();
        pendingSkip_ = 0;
        if (stack.empty()) break;  // the document's outer group has closed
        continue;
      }
      if (c == '\\') {
        ++i;
        if (i >= n) break;
        const char d = in[i];
        if (std::isalpha(static_cast<unsigned char>(d))) {
          std::size_t start = i;
          while (i < n && i - start < kMaxWordLength && std::isalpha(static_cast<unsigned char>(in[i]))) ++i;
          std::string_view word = in.substr(start, i - start);
          bool hasParam = false;
          bool negative = false;
          long long param = 0;
          if (i < n && in[i] == '-' && i + 1 < n && std::isdigit(static_cast<unsigned char>(in[i + 1]))) {
            negative = true;
            ++i;
          }
          std::size_t digits = 0;
          while (i < n && std::isdigit(static_cast<unsigned char>(in[i]))) {
            if (digits < 10) param = param * 10 + (in[i] - '0');
            ++digits;
            ++i;
          }
          hasParam = digits > 0;
          if (negative) param = -param;
          if (i < n && in[i] == ' ') ++i;  // the delimiting space belongs to the word
          controlWord(word, hasParam, static_cast<int>(std::clamp(param, -2147483647LL, 2147483647LL)), state);
          continue;
        }
        ++i;
        switch (d) {
          case '\'': {
            int hi = i < n ? hexValue(in[i]) : -1;
            int lo = i + 1 < n ? hexValue(in[i + 1]) : -1;
            if (hi >= 0 && lo >= 0) {
              i += 2;
              character(fromCp1252(static_cast<unsigned char>(hi * 16 + lo)), state);
            } else if (hi >= 0) {
              i += 1;
            }
            break;
          }
          case '\\': case '{': case '}': character(static_cast<unsigned char>(d), state); break;
          case '~': character(0xA0, state); break;
          case '_': character(0x2011, state); break;
          case '-': break;  // optional hyphen
          case '*': state.skip = true; break;
          case '\n': case '\r': if (!state.skip) paragraph(); break;
          case '\t': if (!state.skip) tab(state); break;
          default: break;
        }
        continue;
      }
      ++i;
      if (c == '\r' || c == '\n') continue;
      character(fromCp1252(static_cast<unsigned char>(c)), state);
    }
    // Drop the empty paragraph a trailing \par leaves behind.
    if (doc_.paragraphs.size() > 1 && doc_.paragraphs.back().runs.empty()) doc_.paragraphs.pop_back();
  }

 private:
  void controlWord(std::string_view w, bool hasParam, int p, GroupState& s) {
    const bool on = !hasParam || p != 0;
    if (isSkippedDestination(w)) {
      s.skip = true;
      return;
    }
    if (s.skip) {
      if (w == "uc") s.unicodeSkip = std::clamp(p, 0, 16);
      return;
    }
    if (w == "par" || w == "sect" || w == "page") paragraph();
    else if (w == "line") lineBreak(s);
    else if (w == "tab") tab(s);
    else if (w == "b") s.bold = on;
    else if (w == "i") s.italic = on;
    else if (w == "ul" || w == "uld" || w == "uldb" || w == "ulw") s.underline = on;
    else if (w == "ulnone") s.underline = false;
    else if (w == "fs") s.halfPoints = hasParam && p > 0 ? std::min(p, 3276) : 24;
    else if (w == "plain") {
      s.bold = s.italic = s.underline = false;
      s.halfPoints = 24;
    } else if (w == "pard") current().alignment = 0;
    else if (w == "ql") current().alignment = 0;
    else if (w == "qc") current().alignment = 1;
    else if (w == "qr") current().alignment = 2;
    else if (w == "qj") current().alignment = 3;
    else if (w == "uc") s.unicodeSkip = std::clamp(p, 0, 16);
    else if (w == "u") unicode(p, s);
    else if (w == "emdash") character(0x2014, s);
    else if (w == "endash") character(0x2013, s);
    else if (w == "bullet") character(0x2022, s);
    else if (w == "lquote") character(0x2018, s);
    else if (w == "rquote") character(0x2019, s);
    else if (w == "ldblquote") character(0x201C, s);
    else if (w == "rdblquote") character(0x201D, s);
    else if (w == "emspace" || w == "enspace" || w == "qmspace") character(' ', s);
  }

  void unicode(int value, const GroupState& s) {
    std::uint32_t cp = static_cast<std::uint32_t>(value < 0 ? value + 65536 : value) & 0xFFFF;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      highSurrogate_ = cp;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF && highSurrogate_) {
      const std::uint32_t combined = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (cp - 0xDC00);
      highSurrogate_ = 0;
      emit(combined, s);
    } else {
      emit(cp, s);
    }
    pendingSkip_ = s.unicodeSkip;
  }

  void character(std::uint32_t cp, const GroupState& s) {
    if (s.skip) return;
    if (pendingSkip_ > 0) {
      --pendingSkip_;
      return;
    }
    emit(cp, s);
  }

  void emit(std::uint32_t cp, const GroupState& s) {
    if (s.skip) return;
    if (highSurrogate_ && (cp < 0xDC00 || cp > 0xDFFF)) {
      highSurrogate_ = 0;
      appendTo(s, 0xFFFD);
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) return;
    appendTo(s, cp);
  }

  void appendTo(const GroupState& s, std::uint32_t cp) {
    auto& runs = current().runs;
    if (runs.empty() || runs.back().tab || runs.back().lineBreak || runs.back().bold != s.bold ||
        runs.back().italic != s.italic || runs.back().underline != s.underline ||
        runs.back().halfPoints != s.halfPoints) {
      runs.push_back(styled(s));
    }
    appendUtf8(runs.back().text, cp);
  }

  RtfRun styled(const GroupState& s) const {
    RtfRun r;
    r.bold = s.bold;
    r.italic = s.italic;
    r.underline = s.underline;
    r.halfPoints = s.halfPoints;
    return r;
  }

  void tab(const GroupState& s) {
    RtfRun r = styled(s);
    r.tab = true;
    current().runs.push_back(r);
  }

  void lineBreak(const GroupState& s) {
    RtfRun r = styled(s);
    r.lineBreak = true;
    current().runs.push_back(r);
  }

  void paragraph() {
    const int alignment = current().alignment;
    doc_.paragraphs.emplace_back();
    doc_.paragraphs.back().alignment = alignment;  // paragraph formatting carries on until \pard
  }

  RtfParagraph& current() { return doc_.paragraphs.back(); }

  RtfDocument& doc_;
  int pendingSkip_ = 0;
  std::uint32_t highSurrogate_ = 0;
};

}  // namespace

bool parseRtf(std::string_view input, RtfDocument& out) {
  out = RtfDocument{};
  std::size_t start = 0;
  while (start < input.size() && std::isspace(static_cast<unsigned char>(input[start]))) ++start;
  if (input.substr(start, 5) != "{\\rtf") return false;
  Reader reader(out);
  // The outer group is opened by the reader like any other: feed from the first brace.
  reader.run(input.substr(start));
  return true;
}

std::string RtfDocument::plainText() const {
  std::string out;
  for (const auto& p : paragraphs) {
    for (const auto& r : p.runs) {
      if (r.tab) out += '\t';
      else if (r.lineBreak) out += '\n';
      else out += r.text;
    }
    out += '\n';
  }
  return out;
}

}  // namespace rpt
