// A class's history as text and as JSON (docs/formats/history-json.md).
#include <algorithm>

#include "export_encoding.h"
#include "workflow/history.h"

namespace workflow {
namespace {

using exporting::jsonString;
using exporting::utf8;

// The grid's marks as one character each, in the order of MemberMark.
constexpr char kMarkGlyphs[] = {'.', '*', '+', '~', '-'};
constexpr const char* kLegend = "* present  + appeared  ~ changed  - gone  . absent";

char glyphOf(MemberMark mark) { return kMarkGlyphs[static_cast<std::size_t>(mark)]; }

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string countText(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void writeHistoryText(std::ostream& out, const ClassHistory& h) {
  out << "History of " << utf8(h.className) << ": " << countText(h.versions.size(), "version", "versions") << "\n";
  for (std::size_t v = 0; v < h.versions.size(); ++v)
    out << "  " << utf8(h.versions[v].version) << "  (" << utf8(h.versions[v].family) << ")  "
        << (h.names[v].empty() ? std::string("absent") : utf8(h.names[v])) << "\n";
  for (const HistoryStep& s : h.steps) {
    out << "\n" << utf8(s.base) << " -> " << utf8(s.reference) << ": "
        << (s.changes.empty() ? std::string("no changes") : countText(s.changes.size(), "change", "changes"));
    if (s.hidden > 0) out << " (" << s.hidden << " hidden by rules)";
    out << "\n";
    for (const ChangeEntry& c : s.changes) out << "  " << utf8(changeLine(c)) << "\n";
    for (const RenameSuggestion& r : s.suggestions) out << "  " << utf8(suggestionLine(r)) << "\n";
  }
  if (!h.members.empty()) {
    std::size_t nameWidth = 6;
    std::vector<std::string> labels;
    for (const MemberHistory& m : h.members) {
      labels.push_back(utf8(m.member) + " (" + m.kind + ")");
      nameWidth = std::max(nameWidth, labels.back().size());
    }
    out << "\n" << padded("Member", nameWidth);
    for (const StoredVersion& v : h.versions) out << "  " << utf8(v.version);
    out << "\n";
    for (std::size_t i = 0; i < h.members.size(); ++i) {
      std::string line = padded(labels[i], nameWidth);
      for (std::size_t v = 0; v < h.versions.size(); ++v)
        line += "  " + padded(std::string(1, glyphOf(h.members[i].marks[v])), h.versions[v].version.size());
      out << line.substr(0, line.find_last_not_of(' ') + 1) << "\n";
    }
    out << kLegend << "\n";
  }
  if (!h.rules.empty()) {
    out << "\n";
    exporting::writeRulesText(out, h.rules);
  }
}

void writeHistoryJson(std::ostream& out, const ClassHistory& h) {
  out << "{\n  \"format\": \"zmc-history\",\n  \"formatVersion\": 1,\n  \"class\": " << jsonString(h.className)
      << ",\n  \"versions\": [";
  for (std::size_t v = 0; v < h.versions.size(); ++v)
    out << (v == 0 ? "\n" : ",\n") << "    {\"version\": " << jsonString(h.versions[v].version)
        << ", \"family\": " << jsonString(h.versions[v].family) << ", \"class\": "
        << (h.names[v].empty() ? std::string("null") : jsonString(h.names[v])) << "}";
  out << (h.versions.empty() ? "],\n" : "\n  ],\n") << "  \"steps\": [";
  for (std::size_t i = 0; i < h.steps.size(); ++i) {
    const HistoryStep& s = h.steps[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"base\": " << jsonString(s.base) << ", \"reference\": "
        << jsonString(s.reference) << ", \"hiddenByRules\": " << s.hidden << ",\n      \"changes\": [";
    for (std::size_t c = 0; c < s.changes.size(); ++c) {
      out << (c == 0 ? "\n        " : ",\n        ");
      exporting::writeChangeJson(out, s.changes[c]);
    }
    out << (s.changes.empty() ? "],\n" : "\n      ],\n") << "      \"suggestions\": [";
    for (std::size_t r = 0; r < s.suggestions.size(); ++r) {
      out << (r == 0 ? "\n        " : ",\n        ");
      exporting::writeSuggestionJson(out, s.suggestions[r]);
    }
    out << (s.suggestions.empty() ? "]}" : "\n      ]}");
  }
  out << (h.steps.empty() ? "],\n" : "\n  ],\n") << "  \"members\": [";
  for (std::size_t i = 0; i < h.members.size(); ++i) {
    const MemberHistory& m = h.members[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"member\": " << jsonString(m.member) << ", \"kind\": \"" << m.kind
        << "\", \"marks\": [";
    for (std::size_t v = 0; v < m.marks.size(); ++v) out << (v == 0 ? "\"" : ", \"") << memberMarkText(m.marks[v]) << '"';
    out << "]}";
  }
  out << (h.members.empty() ? "],\n  " : "\n  ],\n  ");
  exporting::writeRulesJson(out, h.rules);
  out << "\n}\n";
}

}  // namespace workflow
