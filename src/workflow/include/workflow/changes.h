// The change list of one pair of versions: what changed in a person's terms, one entry per
// change (a type and a level change of one member are one entry, a member that moved to another
// class is one entry), each with a severity, plus rename suggestions that are never counted as
// changes. Derived from the rows of the pair and their verdicts. Screen-free; GUI thread only.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/pair_verdicts.h"

namespace workflow {

enum class ChangeKind {
  ClassAdded, ClassRemoved, SuperclassChanged,
  MemberAdded, MemberRemoved, TypeChanged, LevelChanged, TypeAndLevelChanged,
  PulledUp, PushedDown, MovedElsewhere,
  Renamed,  // only for a rename the user accepted (see ignore_rules.h)
};
inline constexpr std::size_t kChangeKindCount = 12;

// Breaking: existing objects or code that use the schema break. Review: nothing is lost, but a
// person should look. Additive: something new, nothing breaks.
enum class Severity { Breaking, Review, Additive };
inline constexpr std::size_t kSeverityCount = 3;
inline constexpr std::array<Severity, kSeverityCount> kSeverities = {Severity::Breaking, Severity::Review,
                                                                     Severity::Additive};

// "class added", ..., "type and level changed", "pulled up", "pushed down", "moved", "renamed".
std::string_view changeKindText(ChangeKind kind);
// "breaking", "review", "additive".
std::string_view severityText(Severity severity);
// Every change kind, in the order of the enumeration.
const std::array<ChangeKind, kChangeKindCount>& changeKinds();

struct ChangeEntry {
  ChangeKind kind = ChangeKind::ClassAdded;
  Severity severity = Severity::Breaking;
  std::string className;   // for a move, the class the member left
  std::string member;      // empty for a change of the class itself
  std::string memberKind;  // "Property" or "Method"; empty for a class
  std::string level;       // "Class" or "Instance": the member's level in the reference (base when removed)
  std::string before, after;       // type, level, superclass, class or name, as the kind says
  std::string fromClass, toClass;  // moves only

  bool isMove() const { return !fromClass.empty(); }
  bool isClassRename() const { return kind == ChangeKind::Renamed && member.empty(); }
  // The classes the change concerns: its class, the class a member moved to, a renamed class's
  // old name.
  std::vector<std::string_view> classes() const {
    std::vector<std::string_view> out{className};
    if (isMove()) out.push_back(toClass);
    if (isClassRename()) out.push_back(before);
    return out;
  }
};

enum class SuggestionKind { MemberRenamed, ClassRenamed };

struct RenameSuggestion {
  SuggestionKind kind = SuggestionKind::MemberRenamed;
  std::string className;   // the class of a renamed member; empty for a renamed class
  std::string memberKind;  // of a renamed member
  std::string level;
  std::string type;
  std::string oldName, newName;
  double similarity = 0;  // 0 to 1, see memberNameSimilarity and classMemberSimilarity
  Severity severity = Severity::Breaking;
};

// The share of letters that stay when one name is edited into the other, without regard to
// case: 1 - (edit distance / length of the longer name).
double memberNameSimilarity(std::string_view a, std::string_view b);
// Below these, no rename is suggested.
inline constexpr double kMemberRenameThreshold = 0.5;
inline constexpr double kClassRenameThreshold = 0.6;

struct ChangeCounts {
  std::array<long, kChangeKindCount> perKind{};
  std::array<long, kSeverityCount> perSeverity{};
  long total = 0;
  long count(ChangeKind kind) const { return perKind[static_cast<std::size_t>(kind)]; }
  long count(Severity severity) const { return perSeverity[static_cast<std::size_t>(severity)]; }
};

// A rule of the ignore file that took part in a list: its line, its text, and how many changes
// and suggestions it hid (or, for an accepted rename, turned into one "renamed" change).
struct AppliedRule {
  int line = 0;
  std::string text;
  long entries = 0;
};

struct ChangeList {
  std::vector<ChangeEntry> changes;  // by class, then member; stable otherwise
  std::vector<RenameSuggestion> suggestions;
  ChangeCounts counts;               // of `changes` only
  // What ignore rules took out of the list, in list order, and the rules that were in force.
  std::vector<ChangeEntry> hidden;
  std::vector<RenameSuggestion> hiddenSuggestions;
  std::vector<AppliedRule> rules;
};

// A rename the user accepted: a member of `className` from `oldName` to `newName`, or a class
// when `className` is empty.
struct AcceptedRename {
  std::string className, oldName, newName;
  int line = 0;  // in the ignore file; 0 when given otherwise
};

// The change list of a pair. An accepted rename whose old name is gone and whose new name
// arrived in the pair becomes one "renamed" change instead of a removal and an addition; a
// renamed class's members are compared under its new name.
ChangeList changeListOf(const PairVerdicts& pair, const std::vector<AcceptedRename>& accepted = {});

// Narrows a change list. Every criterion left empty lets every entry through; a suggestion is let
// through by severity and text only, and only while no kind is chosen.
struct ChangeFilter {
  std::vector<Severity> severities;
  std::vector<ChangeKind> kinds;
  std::string text;  // found, without regard to case, in any of the entry's words

  bool passes(const ChangeEntry& change) const;
  bool passes(const RenameSuggestion& suggestion) const;
  ChangeList apply(const ChangeList& all) const;  // counts count the entries that pass
};

// The counts of `changes`.
ChangeCounts countChanges(const std::vector<ChangeEntry>& changes);

// A similarity with two decimals: "0.57".
std::string similarityText(double similarity);

// One line of text: `LibraryItem.ItemId  type changed  Integer -> Decimal  [breaking]`.
std::string changeLine(const ChangeEntry& change);
std::string suggestionLine(const RenameSuggestion& suggestion);

}  // namespace workflow
