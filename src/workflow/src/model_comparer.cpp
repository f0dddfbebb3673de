// The comparison of two stored versions and the flag reset.
//
// Order 1 (mpdms1) keys MODELVERS+CLASSNAME+PARENTNAME+PROP_METHO+ATTRIBUTE+INS_CLASS and order 2
// (mpdms2) MODELVERS+CLASSNAME+PROP_METHO+ATTRIBUTE+INS_CLASS; every key below is a
// concatenation of full-width values in that order, so a prefix seek finds a group's first row.
//
// A row's counterpart is the first row, in key order, that a chain of prefix seeks finds among
// the other version's rows of the same class. Those rows are read once per class, from both
// orders, and the look-ups of every row of the class run over them in memory; rows are visited
// and flags written in exactly the order and with exactly the values the seeks would give. A
// table whose orders key otherwise is compared with the seeks themselves.
#include <optional>
#include <vector>

#include "workflow/workflow.h"

namespace workflow {
namespace {

using model::Field;

// The rows flagged while it lives are written under the table's header lock, so that the lock
// taken after it knows them for this program's own writes.
class WriteRun {
 public:
  explicit WriteRun(model::Mpdms& table) : table_(table) { table_.beginWrites(); }
  ~WriteRun() { table_.endWrites(); }
  WriteRun(const WriteRun&) = delete;
  WriteRun& operator=(const WriteRun&) = delete;

 private:
  model::Mpdms& table_;
};

struct Verdict {
  bool noMatch = false;
  bool allOk = true;
  bool typeProblem = false;
  bool levelProblem = false;
  bool parentOk = true;
  bool classFound = true;
};

// The seven flags in the order they are written.
void writeVerdict(model::Mpdms& table, const Verdict& v) {
  table.setFlag(Field::NO_MATCH, v.noMatch);
  table.setFlag(Field::ALL_OK, v.allOk);
  table.setFlag(Field::TYPEPROBLM, v.typeProblem);
  table.setFlag(Field::LEVELPROB, v.levelProblem);
  table.setFlag(Field::COMPARED, true);
  table.setFlag(Field::PARENTOK, v.parentOk);
  table.setFlag(Field::CLASSFOUND, v.classFound);
}

// The flags of a row without counterpart; `classFound` tells whether the other version has the
// class at all. The type and level flags are left as they were.
void writeMissing(model::Mpdms& table, bool parentOk, bool classFound) {
  table.setFlag(Field::ALL_OK, false);
  table.setFlag(Field::NO_MATCH, true);
  table.setFlag(Field::COMPARED, true);
  table.setFlag(Field::PARENTOK, parentOk);
  table.setFlag(Field::CLASSFOUND, classFound);
}

// Visits the current row R of one version, looking for its counterpart in version `other`.
// Ends positioned on R again.
void visitRow(model::Mpdms& table, std::string_view other) {
  RT_FRAME("ModelComparer:VisitRow");
  const std::string parent(table.str(Field::PARENTNAME));
  const std::string className(table.str(Field::CLASSNAME));
  const std::string attribute(table.str(Field::ATTRIBUTE));
  const std::string kind(table.str(Field::PROP_METHO));
  const std::string type(table.str(Field::TYPE));
  const std::string level(table.str(Field::INS_CLASS));
  const std::uint32_t recno = table.recNo();  // full width: no wrap past 65,535 records
  Verdict v;

  // Class look-up.
  table.setOrder(1);
  std::string key(other);
  key += className;
  if (!table.seek(key)) {
    RT_LINE();
    table.goTo(recno);
    writeMissing(table, false, false);
    return;
  }

  // Parent look-up decides the order of the member look-up.
  table.setOrder(1);
  int order = 1;
  if (table.seek(key + parent)) {
    key += parent;
  } else {
    v.parentOk = false;
    order = 2;
  }
  table.setOrder(order);

  // Member look-up: the same level first, then either level.
  RT_LINE();
  key += kind;
  key += attribute;
  bool found = table.seek(key + level);
  if (!found) found = table.seek(key);
  if (!found) {
    RT_LINE();
    table.goTo(recno);
    writeMissing(table, v.parentOk, true);
    return;
  }

  RT_LINE();
  v.parentOk = table.str(Field::PARENTNAME) == parent;
  v.levelProblem = table.str(Field::INS_CLASS) != level;
  v.typeProblem = table.str(Field::TYPE) != type;
  v.noMatch = false;
  v.allOk = !v.levelProblem && !v.typeProblem && !v.noMatch && v.parentOk;
  writeVerdict(table, v);
  table.goTo(recno);
  writeVerdict(table, v);
}

bool versionIs(model::Mpdms& table, std::string_view version) {
  return !table.eof() && table.str(Field::MODELVERS) == version;
}

// The seek-per-row passes, for a table whose orders key otherwise. False when a write failed.
bool compareRowByRow(model::Mpdms& table, std::string_view base, std::string_view reference,
                     CompareObserver& observer, CompareCounts& counts) {
  RT_FRAME("ModelComparer:CompareRowByRow");
  // Pass 1: every base row.
  table.seek(base);
  while (versionIs(table, base)) {
    visitRow(table, reference);
    ++counts.visits;
    ++counts.baseRows;
    table.setOrder(1);
    observer.rowPassed();
    table.skip();
    if ((counts.writeFailed = table.writeFailed())) return false;
  }

  // Pass 2: the reference rows that no base row matched.
  RT_LINE();
  table.setOrder(1);
  table.seek(reference);
  while (versionIs(table, reference)) {
    if (!table.flag(Field::COMPARED)) {
      visitRow(table, base);
      ++counts.visits;
    }
    ++counts.referenceRows;
    table.setOrder(1);
    observer.rowPassed();
    table.skip();
    if ((counts.writeFailed = table.writeFailed())) return false;
  }
  return true;
}

// ---------------------------------------------------------------- class by class

// The entries of one class in one order, in key order: each key's part after version and class
// (its tail) with the record number.
class ClassRows {
 public:
  // Reads, from the first key >= `start` on, the entries that share that key's first
  // `prefixLen` bytes, provided it begins with `within`. Answers the first `prefixLen` bytes of
  // the key that ended the run when it begins with `within` too (where the next class starts),
  // else "".
  std::string read(model::Mpdms& table, int order, std::string_view start, std::string_view within,
                   std::size_t prefixLen) {
    tails_.clear();
    recnos_.clear();
    prefix_.clear();
    std::string next;
    table.scanOrder(order, start, [&](std::string_view key, std::uint32_t recno) {
      if (key.size() < prefixLen || key.substr(0, within.size()) != within) return false;
      if (prefix_.empty()) {
        prefix_.assign(key.substr(0, prefixLen));
        width_ = key.size() - prefixLen;
      } else if (key.substr(0, prefixLen) != prefix_) {
        next.assign(key.substr(0, prefixLen));
        return false;
      }
      tails_.append(key.substr(prefixLen));
      recnos_.push_back(recno);
      return true;
    });
    return next;
  }
  bool empty() const { return recnos_.empty(); }
  std::size_t size() const { return recnos_.size(); }
  const std::string& prefix() const { return prefix_; }
  std::string_view tail(std::size_t i) const { return std::string_view(tails_).substr(i * width_, width_); }
  std::uint32_t recno(std::size_t i) const { return recnos_[i]; }
  // The record of the first entry whose tail begins with `probe`, as a seek finds it; 0: none.
  std::uint32_t first(std::string_view probe) const {
    std::size_t lo = 0, hi = size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (tail(mid).substr(0, probe.size()) < probe)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo < size() && tail(lo).substr(0, probe.size()) == probe ? recnos_[lo] : 0;
  }

 private:
  std::string prefix_;
  std::string tails_;
  std::size_t width_ = 0;
  std::vector<std::uint32_t> recnos_;
};

// What the seeks of a row visit find among the other version's rows of the row's class
// (`byParent` from order 1, `byMember` from order 2); `tail` is the row's own order-1 tail
// (parent, then kind, attribute and level).
struct Lookup {
  bool classFound = false;
  bool parentOk = false;
  std::uint32_t counterpart = 0;  // 0: none
};

Lookup lookUp(const ClassRows& byParent, const ClassRows& byMember, std::string_view tail, const model::KeyLayout& w) {
  Lookup l;
  if (byParent.empty()) return l;
  l.classFound = true;
  l.parentOk = byParent.first(tail.substr(0, w.parent)) != 0;
  // Same member at the same level first, then at either level.
  const std::string_view probe = l.parentOk ? tail : tail.substr(w.parent);
  const ClassRows& rows = l.parentOk ? byParent : byMember;
  l.counterpart = rows.first(probe);
  if (!l.counterpart) l.counterpart = rows.first(probe.substr(0, probe.size() - w.level));
  return l;
}

// Writes the verdict of the current row R (record r) and of its counterpart, as visitRow does;
// the fields a visit compares are compared as stored bytes (every code page byte reads as a
// character of its own). `kept` holds R's compared fields while the counterpart is read (its
// capacity is reused). The counterpart is marked in `flagged`, the records this compare flagged.
void writeLookup(model::Mpdms& table, std::uint32_t r, const Lookup& l, std::string& kept, std::vector<bool>& flagged) {
  if (!l.classFound) return writeMissing(table, false, false);
  if (!l.counterpart) return writeMissing(table, l.parentOk, true);
  kept.assign(table.storedField(Field::PARENTNAME));
  const std::size_t typeAt = kept.size();
  kept.append(table.storedField(Field::TYPE));
  const std::size_t levelAt = kept.size();
  kept.append(table.storedField(Field::INS_CLASS));
  const std::string_view all(kept);
  table.goTo(l.counterpart);
  Verdict v;
  v.parentOk = table.storedField(Field::PARENTNAME) == all.substr(0, typeAt);
  v.levelProblem = table.storedField(Field::INS_CLASS) != all.substr(levelAt);
  v.typeProblem = table.storedField(Field::TYPE) != all.substr(typeAt, levelAt - typeAt);
  v.allOk = !v.levelProblem && !v.typeProblem && v.parentOk;
  writeVerdict(table, v);
  if (l.counterpart < flagged.size()) flagged[l.counterpart] = true;
  table.goTo(r);
  writeVerdict(table, v);
}

// One pass over the rows of version `own` (stored form), class by class, matched in version
// `other` (stored form; none: a version no row can have). `onlyUncompared`: rows already
// compared are passed without a visit; those in `flagged` (this compare flagged them as another
// row's counterpart) without being read again. False when a write failed.
bool passByClass(model::Mpdms& table, const model::KeyLayout& w, const std::string& own,
                 const std::optional<std::string>& other, bool onlyUncompared, std::vector<bool>& flagged,
                 CompareObserver& observer, CompareCounts& counts, long& passed) {
  RT_FRAME("ModelComparer:PassByClass");
  const std::size_t classEnd = w.version + w.className;
  ClassRows mine, byParent, byMember;
  std::string kept, otherClass;
  for (std::string start = own; !start.empty();) {
    start = mine.read(table, 1, start, own, classEnd);
    if (mine.empty()) break;
    // The other version's rows of the class are read when a row of it is first visited.
    bool otherRead = !other;
    for (std::size_t i = 0; i < mine.size(); ++i) {
      const std::uint32_t r = mine.recno(i);
      const bool comparedHere = onlyUncompared && r < flagged.size() && flagged[r];
      if (!comparedHere) table.goTo(r);
      if (!comparedHere && (!onlyUncompared || !table.flag(Field::COMPARED))) {
        if (!otherRead) {
          otherClass.assign(*other).append(mine.prefix(), w.version);
          (void)byParent.read(table, 1, otherClass, otherClass, classEnd);
          (void)byMember.read(table, 2, otherClass, otherClass, classEnd);
          otherRead = true;
        }
        writeLookup(table, r, lookUp(byParent, byMember, mine.tail(i), w), kept, flagged);
        ++counts.visits;
      }
      ++passed;
      observer.rowPassed();
      if ((counts.writeFailed = table.writeFailed())) return false;
    }
  }
  return true;
}

// A version as keys hold it; none when no row can hold it (not at full width, or a character
// the table's code page lacks).
std::optional<std::string> storedVersion(model::Mpdms& table, std::string_view version, const model::KeyLayout& w) {
  std::optional<std::string> stored = table.storedForm(version);
  if (stored && stored->size() != w.version) return std::nullopt;
  return stored;
}

bool compareByClass(model::Mpdms& table, const model::KeyLayout& w, std::string_view base, std::string_view reference,
                    CompareObserver& observer, CompareCounts& counts) {
  const std::optional<std::string> storedBase = storedVersion(table, base, w);
  const std::optional<std::string> storedReference = storedVersion(table, reference, w);
  std::vector<bool> flagged(static_cast<std::size_t>(table.lastRec()) + 1, false);
  if (storedBase &&
      !passByClass(table, w, *storedBase, storedReference, false, flagged, observer, counts, counts.baseRows))
    return false;
  return !storedReference ||
         passByClass(table, w, *storedReference, storedBase, true, flagged, observer, counts, counts.referenceRows);
}

}  // namespace

bool versionHasRows(model::Mpdms& table, std::string_view version) {
  table.setOrder(1);
  return table.seek(version) && versionIs(table, version);
}

CompareCounts compareVersions(model::Mpdms& table, std::string_view base, std::string_view reference,
                              CompareObserver& observer) {
  RT_FRAME("ModelComparer:CompareVersions");
  CompareCounts counts;
  table.takeInOutsideChanges();
  table.setOrder(1);
  observer.started(table.lastRec());
  const std::optional<model::KeyLayout> widths = table.keyLayout();
  bool done = false;
  {
    WriteRun run(table);
    done = widths ? compareByClass(table, *widths, base, reference, observer, counts)
                  : compareRowByRow(table, base, reference, observer, counts);
  }
  if (done) table.flush();
  return counts;
}

void clearComparisons(model::Mpdms& table) {
  RT_FRAME("ModelComparer:ClearFlags");
  table.takeInOutsideChanges();
  {
    WriteRun run(table);
    table.goTop();
    while (!table.eof()) {
      table.setFlag(Field::NO_MATCH, false);
      table.setFlag(Field::TYPEPROBLM, false);
      table.setFlag(Field::LEVELPROB, false);
      table.setFlag(Field::COMPARED, false);
      table.setFlag(Field::ALL_OK, true);
      table.setFlag(Field::PARENTOK, true);
      table.setFlag(Field::CLASSFOUND, true);
      table.skip();
    }
  }
  table.flush();
}

}  // namespace workflow
