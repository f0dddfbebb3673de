// The change list of a pair in text, CSV, JSON and HTML; the formats are described on their pages
// under docs/formats/.
#include "export_encoding.h"

#include "workflow/ignore_rules.h"

namespace workflow::exporting {
namespace {

std::string_view suggestionText(SuggestionKind kind) {
  return kind == SuggestionKind::MemberRenamed ? "member renamed" : "class renamed";
}

// The counts by severity, in words: "breaking 6, review 1, additive 2".
std::string severityCounts(const ChangeCounts& counts) {
  std::vector<std::string> parts;
  for (Severity severity : kSeverities)
    parts.push_back(std::string(severityText(severity)) + " " + std::to_string(counts.count(severity)));
  return joined(parts, ", ");
}

// A symbol beside the severity's word, so that it is not told by colour alone.
const char* severitySymbol(Severity severity) {
  switch (severity) {
    case Severity::Breaking: return "&#x2716;";  // heavy multiplication x
    case Severity::Review: return "&#x26A0;";    // warning sign
    case Severity::Additive: break;
  }
  return "&#x271A;";  // heavy plus
}

void writeHtmlSeverity(std::ostream& out, Severity severity) {
  out << "<td class=\"severity severity-" << severityText(severity) << "\">" << severitySymbol(severity) << ' '
      << severityText(severity) << "</td>";
}

}  // namespace

void writeChangesText(std::ostream& out, const ChangeList& list) {
  if (list.changes.empty()) {
    out << "No changes.\n";
  } else {
    out << "Changes " << list.counts.total << ": " << severityCounts(list.counts) << "\n";
    for (const ChangeEntry& change : list.changes) out << utf8(changeLine(change)) << "\n";
  }
  if (!list.suggestions.empty()) {
    out << "Rename suggestions (not counted as changes):\n";
    for (const RenameSuggestion& suggestion : list.suggestions) out << "  " << utf8(suggestionLine(suggestion)) << "\n";
  }
  writeHiddenText(out, list);
}

void writeHiddenText(std::ostream& out, const ChangeList& list) {
  if (list.rules.empty()) return;
  out << hiddenByRulesText(list) << "\n";
  writeRulesText(out, list.rules);
}

std::string hiddenByRulesText(const ChangeList& list) {
  const std::size_t hidden = list.hidden.size() + list.hiddenSuggestions.size();
  return std::to_string(hidden) + (hidden == 1 ? " change" : " changes") + " hidden by rules";
}

void writeChangesCsv(std::ostream& out, const ChangeList& list) {
  out << "class,member,member_kind,level,change,before,after,from_class,to_class,severity,similarity\r\n";
  for (const ChangeEntry& c : list.changes) {
    for (std::string_view field : {std::string_view(c.className), std::string_view(c.member),
                                   std::string_view(c.memberKind), std::string_view(c.level), changeKindText(c.kind),
                                   std::string_view(c.before), std::string_view(c.after),
                                   std::string_view(c.fromClass), std::string_view(c.toClass)})
      out << csvField(field) << ',';
    out << severityText(c.severity) << ",\r\n";
  }
  // Suggestions follow the changes: their change ends in a question mark and they have a similarity.
  for (const RenameSuggestion& s : list.suggestions) {
    for (std::string_view field : {std::string_view(s.className), std::string_view(), std::string_view(s.memberKind),
                                   std::string_view(s.level)})
      out << csvField(field) << ',';
    out << suggestionText(s.kind) << "?," << csvField(s.oldName) << ',' << csvField(s.newName) << ",,,"
        << severityText(s.severity) << ',' << similarityText(s.similarity) << "\r\n";
  }
}

void writeChangesJson(std::ostream& out, const ChangeList& list) {
  const ChangeCounts& counts = list.counts;
  out << "  \"changeCounts\": {\"total\": " << counts.total << ", \"severity\": {";
  for (Severity severity : kSeverities)
    out << (severity == kSeverities.front() ? "" : ", ") << '"' << severityText(severity)
        << "\": " << counts.count(severity);
  out << "},\n    \"kinds\": {";
  for (ChangeKind kind : changeKinds())
    out << (kind == changeKinds().front() ? "" : ", ") << '"' << camelCase(changeKindText(kind))
        << "\": " << counts.count(kind);
  out << "}},\n  \"changes\": [";
  bool first = true;
  for (const ChangeEntry& c : list.changes) {
    out << (first ? "\n    " : ",\n    ");
    writeChangeJson(out, c);
    first = false;
  }
  out << (first ? "],\n" : "\n  ],\n") << "  \"suggestions\": [";
  first = true;
  for (const RenameSuggestion& s : list.suggestions) {
    out << (first ? "\n    " : ",\n    ");
    writeSuggestionJson(out, s);
    first = false;
  }
  out << (first ? "],\n" : "\n  ],\n") << "  \"hiddenByRules\": " << list.hidden.size() + list.hiddenSuggestions.size()
      << ",\n  ";
  writeRulesJson(out, list.rules);
  out << "\n";
}

void writeChangeJson(std::ostream& out, const ChangeEntry& c) {
  out << "{\"change\": \"" << changeKindText(c.kind) << "\", \"class\": " << jsonString(c.className)
      << ", \"member\": " << jsonString(c.member) << ", \"memberKind\": \"" << c.memberKind << "\", \"level\": \""
      << c.level << "\", \"before\": " << jsonString(c.before) << ", \"after\": " << jsonString(c.after)
      << ", \"severity\": \"" << severityText(c.severity) << '"';
  if (c.isMove()) out << ", \"fromClass\": " << jsonString(c.fromClass) << ", \"toClass\": " << jsonString(c.toClass);
  out << '}';
}

void writeSuggestionJson(std::ostream& out, const RenameSuggestion& s) {
  out << "{\"suggestion\": \"" << suggestionText(s.kind) << "\", \"class\": " << jsonString(s.className)
      << ", \"memberKind\": \"" << s.memberKind << "\", \"level\": \"" << s.level << "\", \"type\": "
      << jsonString(s.type) << ", \"oldName\": " << jsonString(s.oldName) << ", \"newName\": " << jsonString(s.newName)
      << ", \"similarity\": " << similarityText(s.similarity) << ", \"severity\": \"" << severityText(s.severity)
      << "\"}";
}

void writeRulesJson(std::ostream& out, const std::vector<AppliedRule>& rules) {
  out << "\"ignoreRules\": [";
  bool first = true;
  for (const AppliedRule& r : rules) {
    out << (first ? "" : ", ") << "{\"line\": " << r.line << ", \"rule\": " << jsonString(r.text)
        << ", \"entries\": " << r.entries << '}';
    first = false;
  }
  out << ']';
}

void writeRulesText(std::ostream& out, const std::vector<AppliedRule>& rules, std::string_view indent) {
  if (rules.empty()) return;
  out << indent << "Rules applied (" << kIgnoreFileName << "):\n";
  for (const AppliedRule& r : rules)
    out << indent << "  line " << r.line << ": " << utf8(r.text) << "  (" << r.entries
        << (r.entries == 1 ? " entry)\n" : " entries)\n");
}


void writeChangesHtml(std::ostream& out, const ChangeList& list) {
  const ChangeCounts& counts = list.counts;
  out << "<h2>Changes</h2>\n<table class=\"summary\">\n<tr><th>Changes</th>";
  for (Severity severity : kSeverities) out << "<th>" << severityText(severity) << "</th>";
  out << "</tr>\n<tr><td>" << counts.total << "</td>";
  for (Severity severity : kSeverities) out << "<td>" << counts.count(severity) << "</td>";
  out << "</tr>\n</table>\n";
  if (list.changes.empty()) {
    out << "<p>No changes.</p>\n";
  } else {
    out << "<table class=\"rows changes\">\n<thead><tr><th>Class</th><th>Member</th><th>Change</th><th>Before</th>"
           "<th>After</th><th>Severity</th></tr></thead>\n<tbody>\n";
    for (const ChangeEntry& c : list.changes) {
      out << "<tr><td>" << html(c.className) << "</td><td>" << html(c.member) << "</td><td>" << changeKindText(c.kind)
          << "</td><td>" << html(c.before) << "</td><td>" << html(c.after) << "</td>";
      writeHtmlSeverity(out, c.severity);
      out << "</tr>\n";
    }
    out << "</tbody>\n</table>\n";
  }
  if (!list.rules.empty()) {
    out << "<h3>Ignore rules applied</h3>\n<p>" << html(hiddenByRulesText(list)) << ".</p>\n<table class=\"rows changes\">\n"
        << "<thead><tr><th>Line</th><th>Rule</th><th>Entries</th></tr></thead>\n<tbody>\n";
    for (const AppliedRule& r : list.rules)
      out << "<tr><td>" << r.line << "</td><td>" << html(r.text) << "</td><td>" << r.entries << "</td></tr>\n";
    out << "</tbody>\n</table>\n";
  }
  if (list.suggestions.empty()) return;
  out << "<h3>Rename suggestions</h3>\n<p>Suggestions only: they are not counted as changes.</p>\n"
         "<table class=\"rows changes\">\n<thead><tr><th>Class</th><th>Suggestion</th><th>Old name</th>"
         "<th>New name</th><th>Similarity</th><th>Severity</th></tr></thead>\n<tbody>\n";
  for (const RenameSuggestion& s : list.suggestions) {
    out << "<tr><td>" << html(s.className) << "</td><td>" << suggestionText(s.kind) << "?</td><td>" << html(s.oldName)
        << "</td><td>" << html(s.newName) << "</td><td>" << similarityText(s.similarity) << "</td>";
    writeHtmlSeverity(out, s.severity);
    out << "</tr>\n";
  }
  out << "</tbody>\n</table>\n";
}

}  // namespace workflow::exporting
