// The verdicts of one pair of versions worked out in memory: the seven flags that a compare of
// exactly this pair writes on each of their rows, found without writing anything, so the table
// may be read-only, held by another process, or carry flags of other compares. Each row also
// names the row whose match gave it its flags. Screen-free; GUI thread only.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "model/model.h"

namespace workflow {

// Which of the two compared versions a row belongs to.
enum class Side { Base, Reference };

// The seven flags of one row, with the values a flag reset leaves.
struct RowFlags {
  bool noMatch = false;
  bool allOk = true;
  bool typeProblem = false;
  bool levelProblem = false;
  bool compared = false;
  bool parentOk = true;
  bool classFound = true;
  bool operator==(const RowFlags&) const = default;
};

// One row of either version: its words in UTF-8 without trailing blanks (held by the
// PairVerdicts the row belongs to), and its flags after the compare.
struct PairRow {
  std::uint32_t recno = 0;
  Side side = Side::Base;
  std::string_view className, parent, member, kind, level, type, family;  // kind "P"/"M", level "C"/"I"
  RowFlags flags;
  // The row (index into PairVerdicts::rows) whose match last wrote these flags; -1 when none did.
  int counterpart = -1;

  bool isClassRow() const { return kind.empty() && member.empty(); }
};

// The words of a row's codes: "Property", "Method" or "Class" for PROP_METHO, "Class",
// "Instance" or "" for INS_CLASS.
std::string kindWord(std::string_view code);
std::string levelWord(std::string_view code);

// Where the compare starts: from reset flags (as with "Reset Flags" checked), or from the flags
// as stored, whose COMPARED keeps a reference row out of the second pass and whose type and level
// flags stay on rows without counterpart.
enum class FlagStart { Reset, AsStored };

// Owns the words its rows see, so it moves but is not copied.
struct PairVerdicts {
  PairVerdicts() = default;
  PairVerdicts(PairVerdicts&&) = default;
  PairVerdicts& operator=(PairVerdicts&&) = default;
  PairVerdicts(const PairVerdicts&) = delete;
  PairVerdicts& operator=(const PairVerdicts&) = delete;

  std::string base, reference;  // full width
  std::vector<PairRow> rows;    // the base rows, then the reference rows, each in order-1 key order
  std::size_t baseRows = 0;     // rows[0, baseRows) are the base rows
  // Where the rows' words lie: the stored bytes of ASCII words, the converted text of others.
  std::vector<std::vector<char>> storedBytes;
  std::deque<std::string> texts;

  std::size_t size() const { return rows.size(); }
};

// Reads the rows of `base` and `reference` (full-width versions) and works out the flags a
// compare of the pair would leave on them. Needs no index: the rows are read in record order.
// Leaves the row pointer anywhere and order 1 selected (when the table has orders).
PairVerdicts computePairVerdicts(model::Mpdms& table, std::string_view base, std::string_view reference,
                                 FlagStart start = FlagStart::Reset);

// Which rows a read keeps: the row of every class, every row of the named classes, and every row
// of a member so named in any class. A kept row's verdicts are those of the whole pair, since
// its look-ups only meet rows of its own class and member name.
struct RowSelection {
  std::unordered_set<std::string> classes;
  std::unordered_set<std::string> members;
};

// The verdicts of versions[i] against versions[i + 1] (full width) for each i, from reset flags;
// with a selection, only the rows it keeps.
std::vector<PairVerdicts> computeChainVerdicts(model::Mpdms& table, const std::vector<std::string>& versions,
                                               const RowSelection* selection = nullptr);

}  // namespace workflow
