// The differences of one pair of versions, from the verdicts a compare of exactly that pair gives
// (worked out in memory, never read from flags that another compare may have left): one entry
// per row of either version that does not match its counterpart exactly, with its verdicts in
// words, the counts per verdict, and filters over the entries. Screen-free; GUI thread only.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "workflow/changes.h"
#include "workflow/pair_verdicts.h"
#include "workflow/workflow.h"

namespace workflow {

struct IgnoreRules;

// What can be wrong with a row, in the order they are listed and counted.
enum class Verdict { ClassMissing, MemberMissing, ParentDiffers, TypeDiffers, LevelDiffers };
inline constexpr std::size_t kVerdictCount = 5;
inline constexpr std::array<Verdict, kVerdictCount> kVerdicts = {
    Verdict::ClassMissing, Verdict::MemberMissing, Verdict::ParentDiffers, Verdict::TypeDiffers, Verdict::LevelDiffers};

// "class missing", "member missing", "parent differs", "type differs", "level differs".
std::string_view verdictText(Verdict verdict);

// A row seen from the base: the reference lacks it (removed), the base lacks it (added), or both
// have it and something about it differs (changed).
enum class Change { Removed, Added, Changed };
std::string_view changeText(Change change);

struct DifferenceRow {
  Side side = Side::Base;
  std::string version;          // trimmed
  std::string family;
  std::string className;
  std::string member;           // empty for the class row itself
  std::string kind;             // "Class", "Property" or "Method"
  std::string level;            // "Class", "Instance", or empty for a class row
  std::string type;
  std::string counterpartType;  // the other version's type when the types differ, else empty
  std::string parent;
  Change change = Change::Changed;
  std::array<bool, kVerdictCount> verdicts{};

  bool has(Verdict verdict) const { return verdicts[static_cast<std::size_t>(verdict)]; }
  // The verdicts that hold, in words, in the order of kVerdicts.
  std::vector<std::string> verdictTexts() const;
};

struct DifferenceSummary {
  long compared = 0;  // rows of the two versions that carry a verdict
  long same = 0;      // of those, rows whose counterpart matches exactly
  long differing = 0;
  long added = 0;
  long removed = 0;
  long changed = 0;
  std::array<long, kVerdictCount> perVerdict{};

  long count(Verdict verdict) const { return perVerdict[static_cast<std::size_t>(verdict)]; }
};

struct Differences {
  std::string base, reference;                  // trimmed versions
  std::string baseFamily, referenceFamily;      // the family of each version's first row
  DifferenceSummary summary;
  std::vector<DifferenceRow> rows;              // by version (base first), class, kind, level, member
  ChangeList changes;                           // the same differences, one entry per change
  long rowsHiddenByRules = 0;                   // rows of changes the ignore rules hid, not in `rows`
};

// The differences of a pair whose verdicts have been worked out. Rows without a verdict are not
// counted. With rules, their accepted renames shape the change list, and the changes they hide
// are left out of the list, its counts and `rows` (a row goes when a hidden change covers it).
Differences differencesOf(const PairVerdicts& pair, const IgnoreRules* rules = nullptr);

// The differences of `base` against `reference` (full-width versions) as a compare of exactly
// this pair with "Reset Flags" finds them; the stored flags are neither read nor written. Leaves
// the row pointer anywhere and order 1 selected.
Differences readDifferences(model::Mpdms& table, std::string_view base, std::string_view reference,
                            const IgnoreRules* rules = nullptr);

// Narrows a list of differences. Every criterion left empty lets every row through.
struct DifferenceFilter {
  std::vector<Verdict> verdicts;  // a row passes when it has one of these
  std::vector<std::string> kinds; // "Class", "Property", "Method"
  std::string classPattern;       // * any run, ? one character; without either: contained
  std::string text;               // found, without regard to case, in any of the row's words

  bool passes(const DifferenceRow& row) const;
  Differences apply(const Differences& all) const;  // summary counts the rows that pass
};

// True when `text` matches the wildcard `pattern` (* and ?), without regard to case.
bool wildcardMatch(std::string_view pattern, std::string_view text);

}  // namespace workflow
