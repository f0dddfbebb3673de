// The four ways of writing a list of differences: text, CSV, JSON and HTML.
#include "workflow/export.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>

#include "export_encoding.h"

namespace workflow {
namespace {

using exporting::csvField;
using exporting::html;
using exporting::joined;
using exporting::jsonString;
using exporting::utf8;

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
  exporting::writeHiddenText(out, d.changes);
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

void writeJson(std::ostream& out, const Differences& d) {
  const DifferenceSummary& s = d.summary;
  out << "{\n  \"format\": \"zmc-differences\",\n  \"formatVersion\": 2,\n";
  out << "  \"base\": {\"version\": " << jsonString(d.base) << ", \"family\": " << jsonString(d.baseFamily) << "},\n";
  out << "  \"reference\": {\"version\": " << jsonString(d.reference) << ", \"family\": "
      << jsonString(d.referenceFamily) << "},\n";
  out << "  \"summary\": {\"compared\": " << s.compared << ", \"same\": " << s.same << ", \"differing\": " << s.differing
      << ", \"added\": " << s.added << ", \"removed\": " << s.removed << ", \"changed\": " << s.changed
      << ",\n    \"verdicts\": {";
  for (Verdict verdict : kVerdicts)
    out << (verdict == kVerdicts.front() ? "" : ", ") << '"' << exporting::camelCase(verdictText(verdict)) << "\": " << s.count(verdict);
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
  out << (first ? "],\n" : "\n  ],\n");
  exporting::writeChangesJson(out, d.changes);
  out << "}\n";
}

// ---------------------------------------------------------------- HTML

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
h2 { color: #1f3b73; font-size: 13pt; margin: 1em 0 .4em; }
h3 { font-size: 11pt; margin: 1em 0 .3em; }
table.changes { margin-bottom: 1.2em; }
td.severity-breaking { color: #a00000; font-weight: bold; }
td.severity-review { color: #8a5a00; }
td.severity-additive { color: #0a6b0a; }
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

// The page: the change list, then (for the rows view) the summary and the differing rows.
void writeHtml(std::ostream& out, const Differences& d, ExportView view) {
  const DifferenceSummary& s = d.summary;
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Model Differences: "
      << html(d.base) << " / " << html(d.reference) << "</title>\n<style>" << kHtmlStyle << "</style>\n</head>\n<body>\n";
  out << "<h1>Model Differences</h1>\n<p class=\"versions\">Base <b>" << html(d.base) << "</b> (" << html(d.baseFamily)
      << "), reference <b>" << html(d.reference) << "</b> (" << html(d.referenceFamily) << ")</p>\n";
  exporting::writeChangesHtml(out, d.changes);
  if (view == ExportView::Changes) {
    out << "</body>\n</html>\n";
    return;
  }
  out << "<h2>Differing rows</h2>\n<table class=\"summary\">\n<tr><th>Rows compared</th><th>The same</th><th>Differing</th><th>Added</th>"
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

void writeDifferences(std::ostream& out, const Differences& differences, ExportFormat format, ExportView view) {
  const bool changes = view == ExportView::Changes;
  switch (format) {
    case ExportFormat::Text: return changes ? exporting::writeChangesText(out, differences.changes) : writeText(out, differences);
    case ExportFormat::Csv: return changes ? exporting::writeChangesCsv(out, differences.changes) : writeCsv(out, differences);
    case ExportFormat::Json: return writeJson(out, differences);
    case ExportFormat::Html: return writeHtml(out, differences, view);
  }
}

}  // namespace workflow
