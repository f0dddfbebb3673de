// Reading the differences of a comparison back from the stored flags, and filtering them.
#include "workflow/differences.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <tuple>

namespace workflow {
namespace {

using model::Field;

constexpr std::array<std::string_view, kVerdictCount> kVerdictTexts = {
    "class missing", "member missing", "parent differs", "type differs", "level differs"};

std::string trimmed(std::string_view text) {
  const auto last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

std::string kindWord(std::string_view code) {
  if (code == "P") return "Property";
  if (code == "M") return "Method";
  return "Class";
}

std::string levelWord(std::string_view code) {
  if (code == "C") return "Class";
  if (code == "I") return "Instance";
  return {};
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The verdicts of the current row, which the compare marked as not all right. Type and level are
// only judged against a counterpart: a row without one may still carry those two flags from an
// earlier comparison, which say nothing about this one.
std::array<bool, kVerdictCount> verdictsOfCurrentRow(model::Mpdms& table) {
  const bool noMatch = table.flag(Field::NO_MATCH);
  const bool classFound = table.flag(Field::CLASSFOUND);
  std::array<bool, kVerdictCount> v{};
  v[static_cast<std::size_t>(Verdict::ClassMissing)] = !classFound;
  v[static_cast<std::size_t>(Verdict::MemberMissing)] = classFound && noMatch;
  v[static_cast<std::size_t>(Verdict::ParentDiffers)] = classFound && !table.flag(Field::PARENTOK);
  v[static_cast<std::size_t>(Verdict::TypeDiffers)] = !noMatch && table.flag(Field::TYPEPROBLM);
  v[static_cast<std::size_t>(Verdict::LevelDiffers)] = !noMatch && table.flag(Field::LEVELPROB);
  return v;
}

// A differing row with the raw key it is sorted by (class, kind, level, member at full width).
struct CollectedRow {
  std::string sortKey;
  DifferenceRow row;
};

void collectVersion(model::Mpdms& table, std::string_view version, Side side, Differences& out,
                    std::vector<CollectedRow>& rows, std::string& family) {
  RT_FRAME("Differences:CollectVersion");
  table.setOrder(1);
  if (!table.seek(version)) return;
  bool first = true;
  while (!table.eof() && table.str(Field::MODELVERS) == version) {
    if (first) family = trimmed(table.str(Field::FAMILYNAME));
    first = false;
    if (table.flag(Field::COMPARED)) {
      ++out.summary.compared;
      if (table.flag(Field::ALL_OK)) {
        ++out.summary.same;
      } else {
        CollectedRow collected;
        DifferenceRow& row = collected.row;
        row.side = side;
        row.version = trimmed(version);
        row.family = trimmed(table.str(Field::FAMILYNAME));
        row.className = trimmed(table.str(Field::CLASSNAME));
        row.member = trimmed(table.str(Field::ATTRIBUTE));
        row.kind = kindWord(table.str(Field::PROP_METHO));
        row.level = levelWord(table.str(Field::INS_CLASS));
        row.type = trimmed(table.str(Field::TYPE));
        row.parent = trimmed(table.str(Field::PARENTNAME));
        row.verdicts = verdictsOfCurrentRow(table);
        if (table.flag(Field::NO_MATCH)) row.change = side == Side::Base ? Change::Removed : Change::Added;
        collected.sortKey = std::string(table.str(Field::CLASSNAME)) + std::string(table.str(Field::PROP_METHO)) +
                            std::string(table.str(Field::INS_CLASS)) + std::string(table.str(Field::ATTRIBUTE));
        rows.push_back(std::move(collected));
      }
    }
    table.skip();
  }
}

// Fills counterpartType for the rows whose type differs: the counterpart is the other version's
// row of the same class, kind and member that also carries the type verdict, preferring the one
// with the same parent and level, as the compare's look-up does.
void attachCounterpartTypes(std::vector<DifferenceRow>& rows) {
  using MemberKey = std::tuple<Side, std::string, std::string, std::string>;
  std::multimap<MemberKey, const DifferenceRow*> typed;
  for (const DifferenceRow& row : rows)
    if (row.has(Verdict::TypeDiffers)) typed.emplace(MemberKey{row.side, row.className, row.kind, row.member}, &row);
  for (DifferenceRow& row : rows) {
    if (!row.has(Verdict::TypeDiffers)) continue;
    const Side other = row.side == Side::Base ? Side::Reference : Side::Base;
    const DifferenceRow* best = nullptr;
    int bestScore = -1;
    auto [from, to] = typed.equal_range(MemberKey{other, row.className, row.kind, row.member});
    for (auto it = from; it != to; ++it) {
      const int score = (it->second->parent == row.parent ? 2 : 0) + (it->second->level == row.level ? 1 : 0);
      if (score > bestScore) {
        best = it->second;
        bestScore = score;
      }
    }
    if (best) row.counterpartType = best->type;
  }
}

void countRow(DifferenceSummary& summary, const DifferenceRow& row) {
  ++summary.differing;
  switch (row.change) {
    case Change::Added: ++summary.added; break;
    case Change::Removed: ++summary.removed; break;
    case Change::Changed: ++summary.changed; break;
  }
  for (std::size_t i = 0; i < kVerdictCount; ++i)
    if (row.verdicts[i]) ++summary.perVerdict[i];
}

}  // namespace

std::string_view verdictText(Verdict verdict) { return kVerdictTexts[static_cast<std::size_t>(verdict)]; }

std::string_view changeText(Change change) {
  switch (change) {
    case Change::Added: return "added";
    case Change::Removed: return "removed";
    case Change::Changed: break;
  }
  return "changed";
}

std::vector<std::string> DifferenceRow::verdictTexts() const {
  std::vector<std::string> texts;
  for (Verdict verdict : kVerdicts)
    if (has(verdict)) texts.emplace_back(verdictText(verdict));
  return texts;
}

Differences readDifferences(model::Mpdms& table, std::string_view base, std::string_view reference) {
  RT_FRAME("Differences:Read");
  Differences out;
  out.base = trimmed(base);
  out.reference = trimmed(reference);
  std::vector<CollectedRow> baseRows, referenceRows;
  collectVersion(table, base, Side::Base, out, baseRows, out.baseFamily);
  collectVersion(table, reference, Side::Reference, out, referenceRows, out.referenceFamily);
  const auto byKey = [](const CollectedRow& a, const CollectedRow& b) { return a.sortKey < b.sortKey; };
  std::stable_sort(baseRows.begin(), baseRows.end(), byKey);
  std::stable_sort(referenceRows.begin(), referenceRows.end(), byKey);
  out.rows.reserve(baseRows.size() + referenceRows.size());
  for (auto* part : {&baseRows, &referenceRows})
    for (CollectedRow& collected : *part) out.rows.push_back(std::move(collected.row));
  attachCounterpartTypes(out.rows);
  for (const DifferenceRow& row : out.rows) countRow(out.summary, row);
  table.setOrder(1);
  return out;
}

bool wildcardMatch(std::string_view pattern, std::string_view text) {
  // Iterative match with one back-track point: the last star and where it resumed.
  std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
  const auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool DifferenceFilter::passes(const DifferenceRow& row) const {
  if (!verdicts.empty() && std::none_of(verdicts.begin(), verdicts.end(), [&](Verdict v) { return row.has(v); }))
    return false;
  if (!kinds.empty() && std::find(kinds.begin(), kinds.end(), row.kind) == kinds.end()) return false;
  if (!classPattern.empty()) {
    // A pattern without wildcards finds the class names that contain it.
    const bool wild = classPattern.find_first_of("*?") != std::string::npos;
    if (!wildcardMatch(wild ? classPattern : "*" + classPattern + "*", row.className)) return false;
  }
  if (text.empty()) return true;
  const std::string needle = lowered(text);
  std::string haystack = row.version + '\n' + row.className + '\n' + row.member + '\n' + row.kind + '\n' + row.level +
                         '\n' + row.type + '\n' + row.counterpartType + '\n' + row.parent + '\n' +
                         std::string(changeText(row.change));
  for (const std::string& verdict : row.verdictTexts()) haystack += '\n' + verdict;
  return lowered(haystack).find(needle) != std::string::npos;
}

Differences DifferenceFilter::apply(const Differences& all) const {
  Differences out;
  out.base = all.base;
  out.reference = all.reference;
  out.baseFamily = all.baseFamily;
  out.referenceFamily = all.referenceFamily;
  out.summary.compared = all.summary.compared;
  out.summary.same = all.summary.same;
  for (const DifferenceRow& row : all.rows) {
    if (!passes(row)) continue;
    out.rows.push_back(row);
    countRow(out.summary, row);
  }
  return out;
}

}  // namespace workflow
