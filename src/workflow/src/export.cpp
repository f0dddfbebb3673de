// The four ways of writing a list of differences: text, CSV, JSON and HTML.
#include "workflow/export.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>

namespace workflow {
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

std::string sideText(Side side) { return side == Side::Base ? "base" : "reference"; }

// ---------------------------------------------------------------- text

std::string memberName(const DifferenceRow& row) {
  return row.member.empty() ? row.className : row.className + "." + row.member;
}

void writeText(std::ostream& out, const Differences& d) {
  const DifferenceSummary& s = d.summary;
  out << "Base " << utf8(d.base) << " (" << utf8(d.baseFamily) << "), reference " << utf8(d.reference) << " ("
      << utf8(d.referenceFamily) << ")\n";
  out << "Rows compared " << s.compared << ", the same " << s.same << ", differing " << s.differing << "\n";
  out << "Added " << s.added << ", removed " << s.removed << ", changed " << s.changed << "\n";
  std::vector<std::string> counts;
  for (Verdict verdict : kVerdicts) counts.push_back(std::string(verdictText(verdict)) + " " + std::to_string(s.count(verdict)));
  out << joined(counts, ", ") << "\n";
  if (d.rows.empty()) {
    out << "No differences.\n";
    return;
  }
  out << "\n";
  for (const DifferenceRow& row : d.rows) {
    std::string details = row.kind;
    if (!row.level.empty()) details += ", " + row.level;
    if (!row.type.empty() || !row.counterpartType.empty()) details += ", " + row.type;
    if (!row.counterpartType.empty()) details += " -> " + row.counterpartType;
    out << changeText(row.change) << "  " << utf8(row.version) << "  " << utf8(memberName(row)) << " ("
        << utf8(details) << "): " << joined(row.verdictTexts(), ", ") << "\n";
  }
}

// ---------------------------------------------------------------- CSV

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

void writeCsv(std::ostream& out, const Differences& d) {
  out << "version,family,class,member,kind,level,type,counterpart_type,parent,change,verdicts\r\n";
  for (const DifferenceRow& row : d.rows) {
    for (std::string_view field : {std::string_view(row.version), std::string_view(row.family),
                                   std::string_view(row.className), std::string_view(row.member),
                                   std::string_view(row.kind), std::string_view(row.level),
                                   std::string_view(row.type), std::string_view(row.counterpartType),
                                   std::string_view(row.parent)})
      out << csvField(field) << ',';
    out << changeText(row.change) << ',' << csvField(joined(row.verdictTexts(), "; ")) << "\r\n";
  }
}

// ---------------------------------------------------------------- JSON

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

std::string camelVerdict(Verdict verdict) {
  std::string out;
  bool upper = false;
  for (char c : verdictText(verdict)) {
    if (c == ' ') {
      upper = true;
      continue;
    }
    out += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    upper = false;
  }
  return out;
}

void writeJson(std::ostream& out, const Differences& d) {
  const DifferenceSummary& s = d.summary;
  out << "{\n  \"format\": \"zmc-differences\",\n  \"formatVersion\": 1,\n";
  out << "  \"base\": {\"version\": " << jsonString(d.base) << ", \"family\": " << jsonString(d.baseFamily) << "},\n";
  out << "  \"reference\": {\"version\": " << jsonString(d.reference) << ", \"family\": "
      << jsonString(d.referenceFamily) << "},\n";
  out << "  \"summary\": {\"compared\": " << s.compared << ", \"same\": " << s.same << ", \"differing\": " << s.differing
      << ", \"added\": " << s.added << ", \"removed\": " << s.removed << ", \"changed\": " << s.changed
      << ",\n    \"verdicts\": {";
  for (Verdict verdict : kVerdicts)
    out << (verdict == kVerdicts.front() ? "" : ", ") << '"' << camelVerdict(verdict) << "\": " << s.count(verdict);
  out << "}},\n  \"rows\": [";
  bool first = true;
  for (const DifferenceRow& row : d.rows) {
    out << (first ? "\n" : ",\n") << "    {\"side\": \"" << sideText(row.side) << "\", \"version\": "
        << jsonString(row.version) << ", \"family\": " << jsonString(row.family) << ", \"class\": "
        << jsonString(row.className) << ", \"member\": " << jsonString(row.member) << ", \"kind\": \"" << row.kind
        << "\", \"level\": \"" << row.level << "\", \"type\": " << jsonString(row.type) << ", \"counterpartType\": "
        << (row.counterpartType.empty() ? std::string("null") : jsonString(row.counterpartType))
        << ", \"parent\": " << jsonString(row.parent) << ", \"change\": \"" << changeText(row.change)
        << "\", \"verdicts\": [";
    bool firstVerdict = true;
    for (const std::string& verdict : row.verdictTexts()) {
      out << (firstVerdict ? "" : ", ") << '"' << verdict << '"';
      firstVerdict = false;
    }
    out << "]}";
    first = false;
  }
  out << (first ? "]\n}\n" : "\n  ]\n}\n");
}

// ---------------------------------------------------------------- HTML

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

constexpr const char* kHtmlStyle = R"css(
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 10pt; color: #1a1a1a; margin: 1.5em; }
h1 { color: #1f3b73; font-size: 16pt; margin: 0 0 .3em; }
p.versions { margin: 0 0 1em; }
table { border-collapse: collapse; }
table.summary { margin-bottom: 1.2em; }
table.summary th, table.summary td { border: 1px solid #1f3b73; padding: .25em .7em; text-align: center; }
table.summary th { background: #dfe7f5; }
table.rows { width: 100%; }
table.rows th, table.rows td { border-bottom: 1px solid #c8c8c8; padding: .2em .5em; text-align: left; vertical-align: top; }
table.rows thead th { border-bottom: 2px solid #1a1a1a; }
tr.class th { background: #eef2fa; padding-top: .5em; }
td.change-added { color: #0a6b0a; }
td.change-removed { color: #a00000; }
td.verdicts { color: #a00000; }
@media print {
  body { margin: 0; font-size: 8.5pt; }
  thead { display: table-header-group; }
  tr { page-break-inside: avoid; break-inside: avoid; }
  tr.class th { background: none; border-bottom: 1px solid #1a1a1a; }
  table.summary th { background: none; }
}
)css";

void writeHtmlRow(std::ostream& out, const DifferenceRow& row) {
  out << "<tr><td>" << html(row.version) << "</td><td class=\"change-" << changeText(row.change) << "\">"
      << changeText(row.change) << "</td><td>" << row.kind << "</td><td>"
      << (row.member.empty() ? "(the class itself)" : html(row.member)) << "</td><td>" << row.level << "</td><td>"
      << html(row.type) << "</td><td>" << html(row.counterpartType) << "</td><td>" << html(row.parent)
      << "</td><td class=\"verdicts\">" << joined(row.verdictTexts(), ", ") << "</td></tr>\n";
}

void writeHtml(std::ostream& out, const Differences& d) {
  const DifferenceSummary& s = d.summary;
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Model Differences: "
      << html(d.base) << " / " << html(d.reference) << "</title>\n<style>" << kHtmlStyle << "</style>\n</head>\n<body>\n";
  out << "<h1>Model Differences</h1>\n<p class=\"versions\">Base <b>" << html(d.base) << "</b> (" << html(d.baseFamily)
      << "), reference <b>" << html(d.reference) << "</b> (" << html(d.referenceFamily) << ")</p>\n";
  out << "<table class=\"summary\">\n<tr><th>Rows compared</th><th>The same</th><th>Differing</th><th>Added</th>"
         "<th>Removed</th><th>Changed</th>";
  for (Verdict verdict : kVerdicts) out << "<th>" << verdictText(verdict) << "</th>";
  out << "</tr>\n<tr><td>" << s.compared << "</td><td>" << s.same << "</td><td>" << s.differing << "</td><td>"
      << s.added << "</td><td>" << s.removed << "</td><td>" << s.changed << "</td>";
  for (Verdict verdict : kVerdicts) out << "<td>" << s.count(verdict) << "</td>";
  out << "</tr>\n</table>\n";
  if (d.rows.empty()) {
    out << "<p>No differences.</p>\n</body>\n</html>\n";
    return;
  }
  // Grouped by class across both versions, classes in name order, each group's rows as listed.
  std::map<std::string, std::vector<const DifferenceRow*>> byClass;
  for (const DifferenceRow& row : d.rows) byClass[row.className].push_back(&row);
  out << "<table class=\"rows\">\n<thead><tr><th>Version</th><th>Change</th><th>Kind</th><th>Member</th>"
         "<th>Level</th><th>Type</th><th>Other type</th><th>Parent</th><th>Verdicts</th></tr></thead>\n";
  for (const auto& [className, rows] : byClass) {
    out << "<tbody>\n<tr class=\"class\"><th colspan=\"9\">Class " << html(className) << "</th></tr>\n";
    for (const DifferenceRow* row : rows) writeHtmlRow(out, *row);
    out << "</tbody>\n";
  }
  out << "</table>\n</body>\n</html>\n";
}

}  // namespace

std::optional<ExportFormat> exportFormatNamed(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "text") return ExportFormat::Text;
  if (lower == "csv") return ExportFormat::Csv;
  if (lower == "json") return ExportFormat::Json;
  if (lower == "html") return ExportFormat::Html;
  return std::nullopt;
}

void writeDifferences(std::ostream& out, const Differences& differences, ExportFormat format) {
  switch (format) {
    case ExportFormat::Text: return writeText(out, differences);
    case ExportFormat::Csv: return writeCsv(out, differences);
    case ExportFormat::Json: return writeJson(out, differences);
    case ExportFormat::Html: return writeHtml(out, differences);
  }
}

}  // namespace workflow
