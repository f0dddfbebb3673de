// The encodings and the change-list sections that the export writers share (internal to the
// workflow library). Everything written is UTF-8: table bytes that are not valid UTF-8 are read as
// Windows-1252, the table's code page.
#pragma once
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/changes.h"

namespace workflow::exporting {

std::string utf8(std::string_view text);
std::string joined(const std::vector<std::string>& parts, std::string_view separator);
// Quoted when it holds a comma, quote or line break; a leading apostrophe before what a
// spreadsheet would run as a formula.
std::string csvField(std::string_view value);
std::string jsonString(std::string_view value);  // with its quotes
// Text with the five special characters escaped and control characters shown as pictures.
std::string html(std::string_view value);
std::string camelCase(std::string_view words);   // "type and level changed" -> "typeAndLevelChanged"

// The change list in each format: text lines, CSV with its header line, the JSON members
// "changeCounts", "changes" and "suggestions" (each line after the first indented by two), and an
// HTML section.
void writeChangesText(std::ostream& out, const ChangeList& list);
void writeChangesCsv(std::ostream& out, const ChangeList& list);
void writeChangesJson(std::ostream& out, const ChangeList& list);
void writeChangesHtml(std::ostream& out, const ChangeList& list);

// One change or suggestion as a JSON object on one line, and the rules in force as the JSON
// member "ignoreRules" (an array of {"line", "rule", "entries"}), without a line end.
void writeChangeJson(std::ostream& out, const ChangeEntry& change);
void writeSuggestionJson(std::ostream& out, const RenameSuggestion& suggestion);
void writeRulesJson(std::ostream& out, const std::vector<AppliedRule>& rules);
// "12 changes hidden by rules".
std::string hiddenByRulesText(const ChangeList& list);
// That count and the rules in force, when rules were in force.
void writeHiddenText(std::ostream& out, const ChangeList& list);
// The rules in force as text lines: "Rules applied (zorbane-compare.ignore):" and one line each.
void writeRulesText(std::ostream& out, const std::vector<AppliedRule>& rules, std::string_view indent = "");

}  // namespace workflow::exporting
