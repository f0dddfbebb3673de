// The ignore file of a working folder, zorbane-compare.ignore: rules that hide changes nobody needs
// to see (by class and member pattern, kind of member, level, kind of change and severity) and
// renames the user accepted. The grammar is on docs/formats/ignore-file.md. A malformed line is
// refused with its line number and the others still apply. Screen-free; GUI thread only.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/changes.h"

namespace workflow {

inline constexpr const char* kIgnoreFileName = "zorbane-compare.ignore";

// One rule: every criterion it names must hold for a change to be hidden.
struct IgnoreRule {
  int line = 0;
  std::string text;                          // as written, without its comment
  std::string classPattern;                  // * any run, ? one character; without regard to case
  std::optional<std::string> memberPattern;  // none: the class's own changes and its members'
  std::optional<std::string> memberKind;     // "Property" or "Method"
  std::optional<std::string> level;          // "Class" or "Instance"
  std::optional<ChangeKind> change;
  std::optional<Severity> severity;

  bool hides(const ChangeEntry& change) const;
  // A suggestion is judged as the "renamed" change it proposes, under its old and its new name.
  bool hides(const RenameSuggestion& suggestion) const;
};

struct RuleProblem {
  int line = 0;  // 0: the file as a whole
  std::string message;
};

struct IgnoreRules {
  std::string source;  // the file they were read from
  std::vector<IgnoreRule> rules;
  std::vector<AcceptedRename> renames;
  std::vector<RuleProblem> problems;

  bool empty() const { return rules.empty() && renames.empty(); }
};

// The rules of a file's text; `source` names the file in the problems.
IgnoreRules parseIgnoreRules(std::string_view text, std::string source);
// The rules of `file`; a missing file has none, a file that cannot be read is one problem.
IgnoreRules readIgnoreRules(const std::filesystem::path& file);

// "zorbane-compare.ignore line 3: unknown word 'sevrity=breaking'; the line is not applied".
std::string problemText(const IgnoreRules& rules, const RuleProblem& problem);

// Moves the changes and suggestions the rules hide into `hidden` and `hiddenSuggestions`,
// recounts, and notes each rule with the number it hid.
void applyIgnoreRules(ChangeList& list, const IgnoreRules& rules);

// The rule lines the Changes view offers for a change: the member, the class, this kind of change
// in the class. Empty strings for the ones that do not fit (a change of the class itself has no
// member rule).
struct OfferedRules {
  std::string member, wholeClass, kindInClass;
};
OfferedRules offeredRules(const ChangeEntry& change);
// "rename Book.Pages Book.PageCnt" or "rename Film Movie".
std::string acceptRenameRule(const RenameSuggestion& suggestion);

// Appends `line` to `file` (creating it), on a line of its own. A line the file would not read
// back as exactly that one rule (a name holding a blank, a '#' or a line break) is refused; a
// refusal or a failed write is raised naming the file. Answers true when the line was written.
bool appendIgnoreRule(const std::filesystem::path& file, const std::string& line);

}  // namespace workflow
