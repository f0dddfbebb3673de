// The encodings the exports share: UTF-8 from table bytes, and quoting for CSV, JSON and HTML.
#include "export_encoding.h"

#include <cctype>
#include <cstdint>

namespace workflow::exporting {
namespace {

// Code points of Windows-1252 bytes 0x80 to 0x9F (0 where the code page has none); the other
// bytes of the code page are the Latin-1 code points.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Table values are bytes; everything written here is UTF-8. Valid UTF-8 sequences pass as they
// are; any other byte is taken as Windows-1252, the table's code page, and encoded, so the
// output always decodes.
}  // namespace

std::string utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    const std::uint32_t high = c < 0xA0 ? kCp1252High[c - 0x80] : c;
    appendCodePoint(out, high != 0 ? high : 0xFFFD);
    ++i;
  }
  return out;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (const std::string& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

// A spreadsheet takes a cell that begins with one of these for a formula (a tab or CR begins
// one in some of them too); such a cell is written with a leading apostrophe, which shows it
// as text.
constexpr std::string_view kFormulaStarts = "=+-@\t\r";

std::string csvField(std::string_view value) {
  std::string text = utf8(value);
  if (!text.empty() && kFormulaStarts.find(text.front()) != std::string_view::npos) text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string jsonString(std::string_view value) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : utf8(value)) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string camelCase(std::string_view words) {
  std::string out;
  bool upper = false;
  for (char c : words) {
    if (c == ' ') {
      upper = true;
      continue;
    }
    out += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return out;
}

// HTML allows no control characters but tab and line breaks: each other one is shown as its
// picture from the Control Pictures block (NUL as U+2400, DEL as U+2421).
std::string html(std::string_view value) {
  std::string out;
  for (char c : utf8(value)) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F) {
      appendCodePoint(out, byte == 0x7F ? 0x2421 : 0x2400 + byte);
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace workflow::exporting
