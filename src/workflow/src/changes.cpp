// The change list of a pair, from its rows and verdicts.
//
// Rows that are all right say nothing. A class row without its class in the other version is a
// class added or removed (its members go with it and are not listed apart); a class row whose
// counterpart has another parent is a superclass change. A member row without counterpart is a
// member added or removed, unless one member of the same name, kind, level and type left one
// class and arrived in another: then it moved. A member whose counterpart differs in type, level
// or both is one entry per pair of rows. What is left of removed and added members, and of
// removed and added classes, is then paired into rename suggestions, except where the user
// accepted a rename: that pair becomes one "renamed" change.
#include "workflow/changes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <tuple>
#include <unordered_map>

namespace workflow {
namespace {

// The kinds as data: their words and their severity where it does not depend on the schema
// (a superclass change and a move are judged by what stays reachable, see below).
struct KindInfo {
  ChangeKind kind;
  const char* text;
  Severity severity;
};
constexpr KindInfo kKinds[kChangeKindCount] = {
    {ChangeKind::ClassAdded, "class added", Severity::Additive},
    {ChangeKind::ClassRemoved, "class removed", Severity::Breaking},
    {ChangeKind::SuperclassChanged, "superclass changed", Severity::Review},
    {ChangeKind::MemberAdded, "member added", Severity::Additive},
    {ChangeKind::MemberRemoved, "member removed", Severity::Breaking},
    {ChangeKind::TypeChanged, "type changed", Severity::Breaking},
    {ChangeKind::LevelChanged, "level changed", Severity::Breaking},
    {ChangeKind::TypeAndLevelChanged, "type and level changed", Severity::Breaking},
    {ChangeKind::PulledUp, "pulled up", Severity::Review},
    {ChangeKind::PushedDown, "pushed down", Severity::Breaking},
    {ChangeKind::MovedElsewhere, "moved", Severity::Breaking},
    {ChangeKind::Renamed, "renamed", Severity::Breaking},
};
constexpr const char* kSeverityTexts[kSeverityCount] = {"breaking", "review", "additive"};

const KindInfo& infoOf(ChangeKind kind) { return kKinds[static_cast<std::size_t>(kind)]; }

// A member as inheritance sees it: kind and name.
using MemberName = std::pair<std::string_view, std::string_view>;
using Signature = std::tuple<std::string_view, std::string_view, std::string_view, std::string_view>;

// One version's classes: each class's superclass and rows. A version's rows lie in order 1, so a
// class's rows lie together: a class keeps where they lie.
class Hierarchy {
 public:
  Hierarchy(const PairVerdicts& pair, Side side) {
    const std::size_t first = side == Side::Base ? 0 : pair.baseRows;
    const std::size_t last = side == Side::Base ? pair.baseRows : pair.size();
    for (std::size_t i = first; i < last;) {
      std::size_t end = i + 1;
      while (end < last && pair.rows[end].className == pair.rows[i].className) ++end;
      ClassInfo& info = classes_[pair.rows[i].className];
      info.rows = std::span<const PairRow>(pair.rows.data() + i, end - i);
      info.parent = pair.rows[i].parent;
      for (const PairRow& row : info.rows)
        if (row.isClassRow()) info.parent = row.parent;
      i = end;
    }
  }
  std::string_view parentOf(std::string_view className) const {
    const auto at = classes_.find(className);
    return at == classes_.end() ? std::string_view() : at->second.parent;
  }
  // The class's rows, its own row among them (isClassRow tells it apart).
  std::span<const PairRow> rowsOf(std::string_view className) const {
    const auto at = classes_.find(className);
    return at == classes_.end() ? std::span<const PairRow>() : at->second.rows;
  }
  // The superclasses of a class, nearest first; a cycle ends the walk.
  std::vector<std::string_view> ancestorsOf(std::string_view className) const {
    std::vector<std::string_view> out;
    std::set<std::string_view> seen{className};
    for (std::string_view at = parentOf(className); !at.empty() && seen.insert(at).second; at = parentOf(at))
      out.push_back(at);
    return out;
  }
  bool isAncestor(std::string_view ancestor, std::string_view className) const {
    const std::vector<std::string_view> chain = ancestorsOf(className);
    return std::find(chain.begin(), chain.end(), ancestor) != chain.end();
  }
  std::set<MemberName> inheritedBy(std::string_view className) const {
    std::set<MemberName> out;
    for (std::string_view ancestor : ancestorsOf(className))
      for (const PairRow& m : rowsOf(ancestor))
        if (!m.isClassRow()) out.emplace(m.kind, m.member);
    return out;
  }
  // The class has the member itself or inherits it.
  bool reaches(std::string_view className, const MemberName& member) const {
    for (const PairRow& m : rowsOf(className))
      if (!m.isClassRow() && MemberName(m.kind, m.member) == member) return true;
    return inheritedBy(className).count(member) > 0;
  }

 private:
  struct ClassInfo {
    std::string_view parent;
    std::span<const PairRow> rows;
  };
  std::unordered_map<std::string_view, ClassInfo> classes_;
};

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Pairs old and new items one to one: each pair's similarity reaches `threshold`, and each is
// the other's single best (a tie for the best of either gives that item no pair).
struct Pairing {
  std::size_t oldIndex, newIndex;
  double similarity;
};
template <class Similarity>
std::vector<Pairing> mutualBest(std::size_t olds, std::size_t news, double threshold, Similarity&& similarity) {
  std::vector<std::vector<double>> s(olds, std::vector<double>(news));
  for (std::size_t o = 0; o < olds; ++o)
    for (std::size_t n = 0; n < news; ++n) s[o][n] = similarity(o, n);
  // The single best of a line of similarities, or npos on a tie or when none reaches the threshold.
  const auto single = [threshold](const std::vector<double>& line) {
    std::size_t best = std::string::npos;
    bool tie = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] < threshold) continue;
      if (best == std::string::npos || line[i] > line[best]) {
        best = i;
        tie = false;
      } else if (line[i] == line[best]) {
        tie = true;
      }
    }
    return tie ? std::string::npos : best;
  };
  std::vector<Pairing> out;
  for (std::size_t o = 0; o < olds; ++o) {
    const std::size_t n = single(s[o]);
    if (n == std::string::npos) continue;
    std::vector<double> column(olds);
    for (std::size_t k = 0; k < olds; ++k) column[k] = s[k][n];
    if (single(column) == o) out.push_back({o, n, s[o][n]});
  }
  return out;
}

// Jaccard similarity of two classes' own members (kind, name, level and type); 0 when either has
// none.
double classMemberSimilarity(std::span<const PairRow> a, std::span<const PairRow> b) {
  const auto signatures = [](std::span<const PairRow> rows) {
    std::set<Signature> out;
    for (const PairRow& m : rows)
      if (!m.isClassRow()) out.emplace(m.kind, m.member, m.level, m.type);
    return out;
  };
  const auto sa = signatures(a), sb = signatures(b);
  if (sa.empty() || sb.empty()) return 0;
  std::size_t common = 0;
  for (const auto& s : sa) common += sb.count(s);
  return static_cast<double>(common) / static_cast<double>(sa.size() + sb.size() - common);
}

class ChangeListBuilder {
 public:
  ChangeListBuilder(const PairVerdicts& pair, const std::vector<AcceptedRename>& accepted)
      : pair_(pair), base_(pair, Side::Base), reference_(pair, Side::Reference), accepted_(accepted) {}

  ChangeList build() {
    for (std::size_t i = 0; i < pair_.size(); ++i) visit(static_cast<int>(i));
    pairMoves();
    acceptMemberRenames();
    acceptClassRenames();
    suggestMemberRenames();
    suggestClassRenames();
    for (const PairRow* r : removed_) list_.changes.push_back(memberEntry(ChangeKind::MemberRemoved, *r));
    for (const PairRow* r : added_) list_.changes.push_back(memberEntry(ChangeKind::MemberAdded, *r));
    std::stable_sort(list_.changes.begin(), list_.changes.end(), [](const ChangeEntry& a, const ChangeEntry& b) {
      return std::tie(a.className, a.member) < std::tie(b.className, b.member);
    });
    std::stable_sort(list_.suggestions.begin(), list_.suggestions.end(),
                     [](const RenameSuggestion& a, const RenameSuggestion& b) {
                       return std::tie(a.className, a.oldName) < std::tie(b.className, b.oldName);
                     });
    list_.counts = countChanges(list_.changes);
    for (const AcceptedRename& rename : accepted_) {
      const std::string text = "rename " + (rename.className.empty() ? rename.oldName + " " + rename.newName
                                                                       : rename.className + "." + rename.oldName + " " +
                                                                             rename.className + "." + rename.newName);
      list_.rules.push_back({rename.line, text, renamedBy_[&rename]});
    }
    return std::move(list_);
  }

 private:
  const PairRow& row(int i) const { return pair_.rows[static_cast<std::size_t>(i)]; }

  void visit(int i) {
    const PairRow& r = row(i);
    const RowFlags& f = r.flags;
    if (!f.compared || f.allOk) return;
    const bool base = r.side == Side::Base;
    if (r.isClassRow()) {
      if (!f.classFound) {
        (base ? removedClasses_ : addedClasses_).push_back(&r);
      } else if (!f.parentOk && superclassChanged_.insert(r.className).second &&
                 !isAcceptedClassRename(base_.parentOf(r.className), reference_.parentOf(r.className))) {
        superclassChange(r.className);
      }
      return;
    }
    if (!f.classFound) return;  // goes with its class
    if (f.noMatch) {
      (base ? removed_ : added_).push_back(&r);
      return;
    }
    if ((f.typeProblem || f.levelProblem) && r.counterpart >= 0) {
      const int before = base ? i : r.counterpart, after = base ? r.counterpart : i;
      if (typeOrLevelPairs_.emplace(before, after).second) typeOrLevelChange(row(before), row(after));
    }
  }

  ChangeEntry memberEntry(ChangeKind kind, const PairRow& r) const {
    ChangeEntry e;
    e.kind = kind;
    e.severity = infoOf(kind).severity;
    e.className = r.className;
    e.member = r.member;
    e.memberKind = kindWord(r.kind);
    e.level = levelWord(r.level);
    (kind == ChangeKind::MemberAdded ? e.after : e.before) = r.type;
    return e;
  }

  void superclassChange(std::string_view className) {
    ChangeEntry e;
    e.kind = ChangeKind::SuperclassChanged;
    e.className = className;
    e.before = base_.parentOf(className);
    e.after = reference_.parentOf(className);
    // Breaking when a member the class inherited is neither inherited nor its own any more.
    e.severity = Severity::Review;
    for (const MemberName& m : base_.inheritedBy(className))
      if (!reference_.reaches(className, m)) e.severity = Severity::Breaking;
    list_.changes.push_back(std::move(e));
  }

  void typeOrLevelChange(const PairRow& before, const PairRow& after) {
    const bool type = before.type != after.type, level = before.level != after.level;
    ChangeEntry e = memberEntry(type && level ? ChangeKind::TypeAndLevelChanged
                                : type        ? ChangeKind::TypeChanged
                                              : ChangeKind::LevelChanged,
                                after);
    const auto described = [type, level](const PairRow& r) {
      return type && level ? std::string(r.type) + ", " + levelWord(r.level) : type ? std::string(r.type) : levelWord(r.level);
    };
    e.before = described(before);
    e.after = described(after);
    list_.changes.push_back(std::move(e));
  }

  // A removed and an added member of the same name, kind, level and type, alone of their kind on
  // both sides, in two classes: a move.
  void pairMoves() {
    std::map<Signature, std::pair<std::vector<const PairRow*>, std::vector<const PairRow*>>> bySignature;
    for (const PairRow* r : removed_) bySignature[{r->kind, r->member, r->level, r->type}].first.push_back(r);
    for (const PairRow* r : added_) bySignature[{r->kind, r->member, r->level, r->type}].second.push_back(r);
    std::set<const PairRow*> moved;
    for (const auto& [signature, sides] : bySignature) {
      if (sides.first.size() != 1 || sides.second.size() != 1) continue;
      const PairRow& from = *sides.first.front();
      const PairRow& to = *sides.second.front();
      if (from.className == to.className) continue;
      const ChangeKind kind = reference_.isAncestor(to.className, from.className)   ? ChangeKind::PulledUp
                              : reference_.isAncestor(from.className, to.className) ? ChangeKind::PushedDown
                                                                                    : ChangeKind::MovedElsewhere;
      ChangeEntry e = memberEntry(kind, to);
      e.className = from.className;
      e.fromClass = e.before = from.className;
      e.toClass = e.after = to.className;
      e.severity = reference_.reaches(from.className, {from.kind, from.member}) ? Severity::Review : Severity::Breaking;
      list_.changes.push_back(std::move(e));
      moved.insert(&from);
      moved.insert(&to);
    }
    const auto wasMoved = [&moved](const PairRow* r) { return moved.count(r) > 0; };
    std::erase_if(removed_, wasMoved);
    std::erase_if(added_, wasMoved);
  }

  bool isAcceptedClassRename(std::string_view oldName, std::string_view newName) const {
    return std::any_of(accepted_.begin(), accepted_.end(), [&](const AcceptedRename& r) {
      return r.className.empty() && r.oldName == oldName && r.newName == newName;
    });
  }

  // A removed and an added member of one class and kind whose rename the user accepted.
  void acceptMemberRenames() {
    for (const AcceptedRename& rename : accepted_) {
      if (rename.className.empty()) continue;
      const auto named = [&rename](const std::string& name) {
        return [&rename, &name](const PairRow* r) { return r->className == rename.className && r->member == name; };
      };
      const auto was = std::find_if(removed_.begin(), removed_.end(), named(rename.oldName));
      const auto now = std::find_if(added_.begin(), added_.end(), named(rename.newName));
      if (was == removed_.end() || now == added_.end() || (*was)->kind != (*now)->kind) continue;
      list_.changes.push_back(renamedMember(**was, **now, rename.className));
      ++renamedBy_[&rename];
      removed_.erase(was);
      added_.erase(now);
    }
  }

  ChangeEntry renamedMember(const PairRow& was, const PairRow& now, const std::string& className) const {
    ChangeEntry e = memberEntry(ChangeKind::Renamed, now);
    e.className = className;
    const bool same = was.type == now.type && was.level == now.level;
    const auto described = [same](const PairRow& r) {
      return same ? std::string(r.member) : std::string(r.member) + ": " + std::string(r.type) + ", " + levelWord(r.level);
    };
    e.before = described(was);
    e.after = described(now);
    return e;
  }

  // A removed and an added class whose rename the user accepted: one change under the new name,
  // and the old class's members compared with the new one's.
  void acceptClassRenames() {
    for (const AcceptedRename& rename : accepted_) {
      if (!rename.className.empty()) continue;
      const auto named = [](const std::string& name) { return [&name](const PairRow* r) { return r->className == name; }; };
      const auto was = std::find_if(removedClasses_.begin(), removedClasses_.end(), named(rename.oldName));
      const auto now = std::find_if(addedClasses_.begin(), addedClasses_.end(), named(rename.newName));
      if (was == removedClasses_.end() || now == addedClasses_.end()) continue;
      ChangeEntry e = classEntry(ChangeKind::Renamed, **now);
      e.before = rename.oldName;
      e.after = rename.newName;
      list_.changes.push_back(std::move(e));
      ++renamedBy_[&rename];
      removedClasses_.erase(was);
      addedClasses_.erase(now);
      compareMembers(rename.oldName, rename.newName);
    }
  }

  // The own members of `oldName` in the base against those of `newName` in the reference, by kind
  // and name; the entries are listed under the new name.
  void compareMembers(const std::string& oldName, const std::string& newName) {
    std::map<MemberName, std::vector<const PairRow*>> olds;
    for (const PairRow& m : base_.rowsOf(oldName))
      if (!m.isClassRow()) olds[{m.kind, m.member}].push_back(&m);
    for (const PairRow& row : reference_.rowsOf(newName)) {
      if (row.isClassRow()) continue;
      const PairRow* now = &row;
      auto& candidates = olds[{now->kind, now->member}];
      if (candidates.empty()) {
        list_.changes.push_back(memberEntry(ChangeKind::MemberAdded, *now));
        continue;
      }
      const PairRow* was = candidates.front();
      candidates.erase(candidates.begin());
      if (was->type != now->type || was->level != now->level) typeOrLevelChange(*was, *now);
    }
    for (const auto& [name, left] : olds)
      for (const PairRow* was : left) {
        ChangeEntry e = memberEntry(ChangeKind::MemberRemoved, *was);
        e.className = newName;
        list_.changes.push_back(std::move(e));
      }
  }

  // Removed and added members of one class, kind, level and type, paired by name.
  void suggestMemberRenames() {
    std::map<Signature, std::pair<std::vector<const PairRow*>, std::vector<const PairRow*>>> groups;
    for (const PairRow* r : removed_) groups[{r->className, r->kind, r->level, r->type}].first.push_back(r);
    for (const PairRow* r : added_) groups[{r->className, r->kind, r->level, r->type}].second.push_back(r);
    for (const auto& group : groups) {
      // References, not a structured binding: the lambda below captures them, which clang before
      // version 16 cannot do with a binding (the sanitizer build uses clang).
      const std::vector<const PairRow*>& olds = group.second.first;
      const std::vector<const PairRow*>& news = group.second.second;
      for (const Pairing& p : mutualBest(olds.size(), news.size(), kMemberRenameThreshold, [&](std::size_t o, std::size_t n) {
             return memberNameSimilarity(olds[o]->member, news[n]->member);
           })) {
        const PairRow& was = *olds[p.oldIndex];
        list_.suggestions.push_back({SuggestionKind::MemberRenamed, std::string(was.className), kindWord(was.kind),
                                     levelWord(was.level), std::string(was.type), std::string(was.member),
                                     std::string(news[p.newIndex]->member), p.similarity, Severity::Breaking});
      }
    }
  }

  // Removed and added classes whose own members mostly agree.
  void suggestClassRenames() {
    for (const PairRow* r : removedClasses_) list_.changes.push_back(classEntry(ChangeKind::ClassRemoved, *r));
    for (const PairRow* r : addedClasses_) list_.changes.push_back(classEntry(ChangeKind::ClassAdded, *r));
    const auto& olds = removedClasses_;
    const auto& news = addedClasses_;
    for (const Pairing& p : mutualBest(olds.size(), news.size(), kClassRenameThreshold, [&](std::size_t o, std::size_t n) {
           return classMemberSimilarity(base_.rowsOf(olds[o]->className), reference_.rowsOf(news[n]->className));
         }))
      list_.suggestions.push_back({SuggestionKind::ClassRenamed, {}, {}, {}, {}, std::string(olds[p.oldIndex]->className),
                                   std::string(news[p.newIndex]->className), p.similarity, Severity::Breaking});
  }

  ChangeEntry classEntry(ChangeKind kind, const PairRow& r) const {
    ChangeEntry e;
    e.kind = kind;
    e.severity = infoOf(kind).severity;
    e.className = r.className;
    return e;
  }

  const PairVerdicts& pair_;
  Hierarchy base_, reference_;
  ChangeList list_;
  std::vector<const PairRow*> removed_, added_, removedClasses_, addedClasses_;
  std::set<std::string_view> superclassChanged_;
  std::set<std::pair<int, int>> typeOrLevelPairs_;
  const std::vector<AcceptedRename>& accepted_;
  std::map<const AcceptedRename*, long> renamedBy_;
};

}  // namespace

std::string_view changeKindText(ChangeKind kind) { return infoOf(kind).text; }
std::string_view severityText(Severity severity) { return kSeverityTexts[static_cast<std::size_t>(severity)]; }

const std::array<ChangeKind, kChangeKindCount>& changeKinds() {
  static const std::array<ChangeKind, kChangeKindCount> kinds = [] {
    std::array<ChangeKind, kChangeKindCount> out{};
    for (std::size_t i = 0; i < kChangeKindCount; ++i) out[i] = kKinds[i].kind;
    return out;
  }();
  return kinds;
}

double memberNameSimilarity(std::string_view a, std::string_view b) {
  const std::string x = lowered(a), y = lowered(b);
  if (x.empty() && y.empty()) return 1;
  std::vector<std::size_t> previous(y.size() + 1), current(y.size() + 1);
  for (std::size_t j = 0; j <= y.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= y.size(); ++j)
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1)});
    std::swap(previous, current);
  }
  return 1.0 - static_cast<double>(previous[y.size()]) / static_cast<double>(std::max(x.size(), y.size()));
}

ChangeList changeListOf(const PairVerdicts& pair, const std::vector<AcceptedRename>& accepted) {
  RT_FRAME("Changes:Of");
  return ChangeListBuilder(pair, accepted).build();
}

namespace {

bool containsText(std::string_view needle, std::initializer_list<std::string_view> words) {
  if (needle.empty()) return true;
  std::string haystack;
  for (std::string_view word : words) (haystack += word) += '\n';
  return lowered(haystack).find(lowered(needle)) != std::string::npos;
}

template <class T>
bool allowedBy(const std::vector<T>& allowed, T value) {
  return allowed.empty() || std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

}  // namespace

bool ChangeFilter::passes(const ChangeEntry& c) const {
  return allowedBy(severities, c.severity) && allowedBy(kinds, c.kind) &&
         containsText(text, {c.className, c.member, c.memberKind, c.level, changeKindText(c.kind), c.before, c.after,
                             severityText(c.severity)});
}

bool ChangeFilter::passes(const RenameSuggestion& s) const {
  return kinds.empty() && allowedBy(severities, s.severity) &&
         containsText(text, {s.className, s.oldName, s.newName, s.memberKind, s.level, s.type, "renamed",
                             severityText(s.severity)});
}

ChangeList ChangeFilter::apply(const ChangeList& all) const {
  ChangeList out;
  const auto change = [this](const ChangeEntry& c) { return passes(c); };
  const auto suggestion = [this](const RenameSuggestion& s) { return passes(s); };
  std::copy_if(all.changes.begin(), all.changes.end(), std::back_inserter(out.changes), change);
  std::copy_if(all.suggestions.begin(), all.suggestions.end(), std::back_inserter(out.suggestions), suggestion);
  std::copy_if(all.hidden.begin(), all.hidden.end(), std::back_inserter(out.hidden), change);
  std::copy_if(all.hiddenSuggestions.begin(), all.hiddenSuggestions.end(), std::back_inserter(out.hiddenSuggestions),
               suggestion);
  out.rules = all.rules;
  out.counts = countChanges(out.changes);
  return out;
}

ChangeCounts countChanges(const std::vector<ChangeEntry>& changes) {
  ChangeCounts counts;
  for (const ChangeEntry& e : changes) {
    ++counts.perKind[static_cast<std::size_t>(e.kind)];
    ++counts.perSeverity[static_cast<std::size_t>(e.severity)];
    ++counts.total;
  }
  return counts;
}

std::string changeLine(const ChangeEntry& change) {
  std::string line = change.member.empty() ? change.className : change.className + "." + change.member;
  line += "  ";
  line += changeKindText(change.kind);
  if (!change.before.empty() && !change.after.empty())
    line += "  " + change.before + " -> " + change.after;
  else if (!change.before.empty() || !change.after.empty())
    line += "  " + change.before + change.after;
  return line + "  [" + std::string(severityText(change.severity)) + "]";
}

std::string similarityText(double similarity) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", similarity);
  return text;
}

std::string suggestionLine(const RenameSuggestion& suggestion) {
  const bool member = suggestion.kind == SuggestionKind::MemberRenamed;
  const std::string prefix = member ? suggestion.className + "." : std::string();
  return prefix + suggestion.oldName + "  " + (member ? "member" : "class") + " renamed to " + suggestion.newName +
         "?  similarity " + similarityText(suggestion.similarity) + "  [" + std::string(severityText(suggestion.severity)) + "]";
}

}  // namespace workflow
