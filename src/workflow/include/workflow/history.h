// One class through every stored version: for each consecutive pair of versions, the part of that
// pair's change list that concerns the class (worked out without writing, as `diff` does), and a
// grid of its members with a mark wherever one appears, changes or goes away. A class renamed by
// an accepted rename carries on under its new name. Screen-free; GUI thread only.
#pragma once
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "workflow/changes.h"

namespace workflow {

struct IgnoreRules;

// How the versions are lined up: by a natural sort of their labels (runs of digits compared as
// numbers, so 1.9 comes before 1.10), or in the order the versions first appear in the table.
enum class VersionOrder { Natural, Stored };

// The natural order of two version labels: digit runs by value, other text without regard to
// case; labels that still tie are ordered byte by byte.
bool naturalLess(std::string_view a, std::string_view b);

struct StoredVersion {
  std::string version;  // trimmed
  std::string family;   // of the version's first row in record order, trimmed
};

// Every version of the table in the order asked; with `family`, only the versions read from it
// (compared as the table stores family names: up to 15 characters, without surrounding blanks,
// without regard to case). Reads the table in record order; needs no index.
std::vector<StoredVersion> versionsInOrder(model::Mpdms& table, VersionOrder order,
                                           const std::optional<std::string>& family = std::nullopt);

enum class MemberMark { Absent, Present, Appeared, Changed, Gone };
// "absent", "present", "appeared", "changed", "gone".
std::string_view memberMarkText(MemberMark mark);

struct HistoryStep {
  std::string base, reference;  // trimmed
  std::vector<ChangeEntry> changes;
  std::vector<RenameSuggestion> suggestions;
  long hidden = 0;  // changes and suggestions of the class that ignore rules hid
};

struct MemberHistory {
  std::string member, kind;       // kind "Property" or "Method"
  std::vector<MemberMark> marks;  // one per version
};

struct ClassHistory {
  std::string className;             // as asked
  std::vector<StoredVersion> versions;
  std::vector<std::string> names;    // the class's name in each version; empty where it is absent
  std::vector<HistoryStep> steps;    // versions[i] against versions[i + 1]
  std::vector<MemberHistory> members;  // by name, then kind
  std::vector<AppliedRule> rules;    // the rules in force, with what they did over all steps

  bool found() const;  // the class is in at least one version
};

struct HistoryOptions {
  std::optional<std::string> family;
  VersionOrder order = VersionOrder::Natural;
  const IgnoreRules* rules = nullptr;  // accepted renames and ignore rules; none when null
};

ClassHistory classHistory(model::Mpdms& table, std::string_view className, const HistoryOptions& options = {});

// The history as text (the versions, each step's changes, the member grid with its legend) or
// as JSON (described on docs/formats/history-json.md).
void writeHistoryText(std::ostream& out, const ClassHistory& history);
void writeHistoryJson(std::ostream& out, const ClassHistory& history);

}  // namespace workflow
