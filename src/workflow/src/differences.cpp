// The differences of a pair from its verdicts, and the filters over them.
#include "workflow/differences.h"

#include "workflow/ignore_rules.h"

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

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The verdicts of a row that is not all right. Type and level are only judged against a
// counterpart: a row without one says nothing about them.
std::array<bool, kVerdictCount> verdictsOf(const RowFlags& f) {
  std::array<bool, kVerdictCount> v{};
  v[static_cast<std::size_t>(Verdict::ClassMissing)] = !f.classFound;
  v[static_cast<std::size_t>(Verdict::MemberMissing)] = f.classFound && f.noMatch;
  v[static_cast<std::size_t>(Verdict::ParentDiffers)] = f.classFound && !f.parentOk;
  v[static_cast<std::size_t>(Verdict::TypeDiffers)] = !f.noMatch && f.typeProblem;
  v[static_cast<std::size_t>(Verdict::LevelDiffers)] = !f.noMatch && f.levelProblem;
  return v;
}

DifferenceRow differenceRowOf(const PairVerdicts& pair, const PairRow& r, std::string_view version) {
  DifferenceRow row;
  row.side = r.side;
  row.version = trimmed(version);
  row.family = r.family;
  row.className = r.className;
  row.member = r.member;
  row.kind = kindWord(r.kind);
  row.level = levelWord(r.level);
  row.type = r.type;
  row.parent = r.parent;
  row.verdicts = verdictsOf(r.flags);
  if (r.flags.noMatch) row.change = r.side == Side::Base ? Change::Removed : Change::Added;
  if (row.has(Verdict::TypeDiffers) && r.counterpart >= 0)
    row.counterpartType = pair.rows[static_cast<std::size_t>(r.counterpart)].type;
  return row;
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

// The name a renamed member had: "Pages" of "Pages" or "Pages: Integer, Instance".
std::string_view formerName(const ChangeEntry& renamed) {
  return std::string_view(renamed.before).substr(0, renamed.before.find(':'));
}

// True when the hidden change `c` speaks for `row`.
bool covers(const ChangeEntry& c, const DifferenceRow& row) {
  if (!c.member.empty()) {
    const bool sameClass = row.className == c.className || (c.isMove() && row.className == c.toClass);
    return sameClass && (row.member == c.member || (c.kind == ChangeKind::Renamed && row.member == formerName(c)));
  }
  switch (c.kind) {
    case ChangeKind::ClassAdded:
    case ChangeKind::ClassRemoved: return row.className == c.className;
    case ChangeKind::Renamed: return row.className == c.before || row.className == c.after;
    case ChangeKind::SuperclassChanged:
      return row.className == c.className && row.verdictTexts() == std::vector<std::string>{std::string(verdictText(Verdict::ParentDiffers))};
    default: return false;
  }
}

void hideCoveredRows(Differences& d) {
  if (d.changes.hidden.empty()) return;
  std::vector<DifferenceRow> kept;
  for (DifferenceRow& row : d.rows) {
    if (std::any_of(d.changes.hidden.begin(), d.changes.hidden.end(), [&](const ChangeEntry& c) { return covers(c, row); }))
      ++d.rowsHiddenByRules;
    else
      kept.push_back(std::move(row));
  }
  d.rows = std::move(kept);
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

Differences differencesOf(const PairVerdicts& pair, const IgnoreRules* rules) {
  RT_FRAME("Differences:Of");
  Differences out;
  out.base = trimmed(pair.base);
  out.reference = trimmed(pair.reference);
  if (pair.baseRows > 0) out.baseFamily = pair.rows.front().family;
  if (pair.size() > pair.baseRows) out.referenceFamily = pair.rows[pair.baseRows].family;
  // Each version's differing rows by class, kind, level and member, in the order read otherwise.
  const auto byClass = [](const DifferenceRow& a, const DifferenceRow& b) {
    return std::tie(a.className, a.kind, a.level, a.member) < std::tie(b.className, b.kind, b.level, b.member);
  };
  for (const PairRow& r : pair.rows) {
    if (!r.flags.compared) continue;
    ++out.summary.compared;
    if (r.flags.allOk) {
      ++out.summary.same;
      continue;
    }
    out.rows.push_back(differenceRowOf(pair, r, r.side == Side::Base ? pair.base : pair.reference));
  }
  const auto firstReference = std::find_if(out.rows.begin(), out.rows.end(),
                                           [](const DifferenceRow& row) { return row.side == Side::Reference; });
  std::stable_sort(out.rows.begin(), firstReference, byClass);
  std::stable_sort(firstReference, out.rows.end(), byClass);
  out.changes = changeListOf(pair, rules ? rules->renames : std::vector<AcceptedRename>{});
  if (rules) {
    applyIgnoreRules(out.changes, *rules);
    hideCoveredRows(out);
  }
  for (const DifferenceRow& row : out.rows) countRow(out.summary, row);
  return out;
}

Differences readDifferences(model::Mpdms& table, std::string_view base, std::string_view reference,
                            const IgnoreRules* rules) {
  return differencesOf(computePairVerdicts(table, base, reference), rules);
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
  out.changes = all.changes;
  out.rowsHiddenByRules = all.rowsHiddenByRules;
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
