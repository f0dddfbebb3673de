// A class through the stored versions: the versions lined up, each consecutive pair compared
// without writing, and what concerns the class kept.
#include "workflow/history.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "workflow/ignore_rules.h"
#include "workflow/pair_verdicts.h"
#include "workflow/workflow.h"

namespace workflow {
namespace {

constexpr const char* kMarkTexts[] = {"absent", "present", "appeared", "changed", "gone"};

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// -1, 0 or 1 as the natural order puts a before b; 0 when they differ only in case or leading
// zeros.
int naturalCompare(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      const std::size_t startA = i, startB = j;
      while (i < a.size() && isDigit(a[i])) ++i;
      while (j < b.size() && isDigit(b[j])) ++j;
      std::string_view x = a.substr(startA, i - startA), y = b.substr(startB, j - startB);
      x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
      y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (const int c = x.compare(y); c != 0) return c < 0 ? -1 : 1;
      continue;
    }
    const char x = static_cast<char>(std::tolower(static_cast<unsigned char>(a[i++])));
    const char y = static_cast<char>(std::tolower(static_cast<unsigned char>(b[j++])));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  return j < b.size() ? -1 : 0;
}

// The family as the table stores it: 15 characters at most, without blanks around, any case.
bool sameFamily(const std::string& stored, const std::string& asked) {
  const std::string cut = trimmedText(asked.substr(0, std::min<std::size_t>(asked.size(), 15)));
  const std::string inner = trimmedText(asked);
  return lowered(stored) == lowered(cut) || lowered(stored) == lowered(inner.substr(0, std::min<std::size_t>(inner.size(), 15)));
}

// The class and every name it had or took by an accepted rename.
using Names = std::set<std::string, std::less<>>;

Names namesOfClass(std::string_view className, const IgnoreRules* rules) {
  Names names{std::string(className)};
  if (!rules) return names;
  for (bool grew = true; grew;) {
    grew = false;
    for (const AcceptedRename& r : rules->renames)
      if (r.className.empty() && (names.count(r.oldName) || names.count(r.newName)))
        grew |= names.insert(r.oldName).second | names.insert(r.newName).second;
  }
  return names;
}

using MemberKey = std::pair<std::string, std::string>;  // name, kind word

class HistoryBuilder {
 public:
  HistoryBuilder(model::Mpdms& table, std::string_view className, const HistoryOptions& options)
      : table_(table), options_(options), names_(namesOfClass(className, options.rules)) {
    history_.className = std::string(className);
  }

  ClassHistory build() {
    const std::vector<StoredVersion> versions = versionsInOrder(table_, options_.order, options_.family);
    history_.versions = versions;
    history_.names.assign(versions.size(), {});
    present_.assign(versions.size(), {});
    std::vector<std::string> fullWidth;
    for (const StoredVersion& v : versions) fullWidth.push_back(fullWidthVersion(v.version));
    if (versions.size() == 1) takeRows(computePairVerdicts(table_, fullWidth[0], fullWidth[0]), 0);
    // The class's own rows and every class row first; then what its changes may involve.
    RowSelection selection{{names_.begin(), names_.end()}, {}};
    const std::vector<PairVerdicts> outline = computeChainVerdicts(table_, fullWidth, &selection);
    for (std::size_t i = 0; i < outline.size(); ++i) widen(selection, outline[i]);
    const std::vector<PairVerdicts> pairs = computeChainVerdicts(table_, fullWidth, &selection);
    for (std::size_t i = 0; i < pairs.size(); ++i) step(pairs[i], i);
    markMembers();
    for (auto& [line, rule] : rules_) history_.rules.push_back(std::move(rule));
    return std::move(history_);
  }

 private:
  // What a change of the class may involve besides its own rows: the rows of its superclasses
  // (what it inherits), every row of a member name it gains or loses (moves to and from other
  // classes; a member kept has no counterpart elsewhere),
  // and, in a pair where the class comes or goes, every class that comes or goes (class renames).
  void widen(RowSelection& selection, const PairVerdicts& pair) const {
    std::unordered_map<std::string, std::string> parents[2];
    Names classes[2];
    bool comesOrGoes = false;
    for (const PairRow& row : pair.rows) {
      const int side = row.side == Side::Base ? 0 : 1;
      if (row.isClassRow()) {
        parents[side].emplace(std::string(row.className), std::string(row.parent));
        classes[side].emplace(row.className);
      } else if (names_.count(row.className) && row.flags.noMatch) {
        selection.members.emplace(row.member);
      }
    }
    for (const std::string& name : names_) {
      comesOrGoes |= classes[0].count(name) != classes[1].count(name);
      for (const auto& parent : parents) {
        std::set<std::string> seen{name};
        for (auto at = parent.find(name); at != parent.end() && !at->second.empty() && seen.insert(at->second).second;
             at = parent.find(at->second))
          selection.classes.insert(at->second);
      }
    }
    if (!comesOrGoes) return;
    for (int side = 0; side < 2; ++side)
      for (const std::string& name : classes[side])
        if (!classes[1 - side].count(name)) selection.classes.insert(name);
  }

  bool concerns(const ChangeEntry& c) const {
    const auto classes = c.classes();
    return std::any_of(classes.begin(), classes.end(), [this](std::string_view name) { return names_.count(name) > 0; });
  }
  bool concerns(const RenameSuggestion& s) const {
    if (s.kind == SuggestionKind::MemberRenamed) return names_.count(s.className) > 0;
    return names_.count(s.oldName) > 0 || names_.count(s.newName) > 0;
  }

  // Notes the class's name and members in the versions of a pair.
  void takeRows(const PairVerdicts& pair, std::size_t baseIndex) {
    for (const PairRow& row : pair.rows) {
      if (!names_.count(row.className)) continue;
      const std::size_t at = baseIndex + (row.side == Side::Base ? 0 : 1);
      if (row.isClassRow())
        history_.names[at] = std::string(row.className);
      else
        present_[at].emplace(std::string(row.member), kindWord(row.kind));
    }
  }

  void step(const PairVerdicts& pair, std::size_t i) {
    takeRows(pair, i);
    ChangeList list = changeListOf(pair, options_.rules ? options_.rules->renames : std::vector<AcceptedRename>{});
    if (options_.rules) applyIgnoreRules(list, *options_.rules);
    HistoryStep s;
    s.base = history_.versions[i].version;
    s.reference = history_.versions[i + 1].version;
    for (ChangeEntry& c : list.changes)
      if (concerns(c)) s.changes.push_back(std::move(c));
    for (RenameSuggestion& r : list.suggestions)
      if (concerns(r)) s.suggestions.push_back(std::move(r));
    noteRules(list, s);
    history_.steps.push_back(std::move(s));
  }

  // The rules in force, with what each did to this class's changes: the first rule that hides a
  // change took it; an accepted rename made a "renamed" change.
  void noteRules(const ChangeList& list, HistoryStep& s) {
    for (const AppliedRule& r : list.rules) rules_.try_emplace(r.line, AppliedRule{r.line, r.text, 0});
    if (!options_.rules) return;
    const auto firstHider = [this](const auto& entry) -> const IgnoreRule* {
      for (const IgnoreRule& rule : options_.rules->rules)
        if (rule.hides(entry)) return &rule;
      return nullptr;
    };
    const auto count = [&](const auto& entries) {
      for (const auto& entry : entries) {
        if (!concerns(entry)) continue;
        ++s.hidden;
        if (const IgnoreRule* rule = firstHider(entry)) ++rules_[rule->line].entries;
      }
    };
    count(list.hidden);
    count(list.hiddenSuggestions);
    for (const ChangeEntry& c : s.changes) {
      if (c.kind != ChangeKind::Renamed) continue;
      for (const AcceptedRename& r : options_.rules->renames)
        if ((c.isClassRename() ? r.className.empty() && r.oldName == c.before
                               : r.className == c.className && c.before.starts_with(r.oldName)) &&
            c.after.starts_with(r.newName))
          ++rules_[r.line].entries;
    }
  }

  bool changedIn(const HistoryStep& s, const MemberKey& member) const {
    return std::any_of(s.changes.begin(), s.changes.end(), [&](const ChangeEntry& c) {
      return c.member == member.first && c.memberKind == member.second && c.kind != ChangeKind::MemberAdded;
    });
  }

  bool renamedTo(const HistoryStep& s, const MemberKey& member) const {
    return std::any_of(s.changes.begin(), s.changes.end(), [&](const ChangeEntry& c) {
      return c.kind == ChangeKind::Renamed && c.member == member.first && c.memberKind == member.second;
    });
  }

  void markMembers() {
    std::set<MemberKey> all;
    for (const auto& members : present_) all.insert(members.begin(), members.end());
    for (const MemberKey& member : all) {
      MemberHistory m{member.first, member.second, {}};
      for (std::size_t v = 0; v < present_.size(); ++v) {
        const bool here = present_[v].count(member) > 0;
        const bool before = v > 0 && present_[v - 1].count(member) > 0;
        MemberMark mark = here ? MemberMark::Present : MemberMark::Absent;
        if (v > 0 && here && !before) mark = renamedTo(history_.steps[v - 1], member) ? MemberMark::Changed : MemberMark::Appeared;
        if (v > 0 && here && before && changedIn(history_.steps[v - 1], member)) mark = MemberMark::Changed;
        if (!here && before) mark = MemberMark::Gone;
        m.marks.push_back(mark);
      }
      history_.members.push_back(std::move(m));
    }
  }

  model::Mpdms& table_;
  const HistoryOptions& options_;
  Names names_;
  ClassHistory history_;
  std::vector<std::set<MemberKey>> present_;
  std::map<int, AppliedRule> rules_;
};

}  // namespace

bool naturalLess(std::string_view a, std::string_view b) {
  const int c = naturalCompare(a, b);
  return c != 0 ? c < 0 : a < b;
}

std::string_view memberMarkText(MemberMark mark) { return kMarkTexts[static_cast<std::size_t>(mark)]; }

bool ClassHistory::found() const {
  return std::any_of(names.begin(), names.end(), [](const std::string& name) { return !name.empty(); });
}

std::vector<StoredVersion> versionsInOrder(model::Mpdms& table, VersionOrder order,
                                           const std::optional<std::string>& family) {
  RT_FRAME("History:Versions");
  std::vector<StoredVersion> out;
  if (!table.used()) return out;
  // Record order gives each version's first row, and so the stored order.
  std::unordered_set<std::string> seen;
  table.setOrder(0);
  for (table.goTop(); !table.eof(); table.skip()) {
    const std::string_view version = table.str(model::Field::MODELVERS);
    if (!seen.emplace(version).second) continue;
    out.push_back({trimmedText(version), trimmedText(table.str(model::Field::FAMILYNAME))});
  }
  if (table.orderCount() > 0) table.setOrder(1);
  if (family) std::erase_if(out, [&family](const StoredVersion& v) { return !sameFamily(v.family, *family); });
  if (order == VersionOrder::Natural)
    std::stable_sort(out.begin(), out.end(), [](const StoredVersion& a, const StoredVersion& b) { return naturalLess(a.version, b.version); });
  return out;
}

ClassHistory classHistory(model::Mpdms& table, std::string_view className, const HistoryOptions& options) {
  RT_FRAME("History:Of");
  return HistoryBuilder(table, className, options).build();
}

}  // namespace workflow
