// The comparison of two stored versions and the flag reset.
//
// Order 1 (mpdms1) keys MODELVERS+CLASSNAME+PARENTNAME+PROP_METHO+ATTRIBUTE+INS_CLASS and order 2
// (mpdms2) MODELVERS+CLASSNAME+PROP_METHO+ATTRIBUTE+INS_CLASS; every key below is a
// concatenation of full-width values in that order, so a prefix seek finds a group's first row.
#include "workflow/differences.h"
#include "workflow/workflow.h"

namespace mainwin {
namespace {

using model::Field;

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
    table.setFlag(Field::ALL_OK, false);
    table.setFlag(Field::NO_MATCH, true);
    table.setFlag(Field::COMPARED, true);
    table.setFlag(Field::PARENTOK, false);
    table.setFlag(Field::CLASSFOUND, false);
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
    table.setFlag(Field::ALL_OK, false);
    table.setFlag(Field::NO_MATCH, true);
    table.setFlag(Field::COMPARED, true);
    table.setFlag(Field::PARENTOK, v.parentOk);
    table.setFlag(Field::CLASSFOUND, true);
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

}  // namespace

bool versionHasRows(model::Mpdms& table, std::string_view version) {
  table.setOrder(1);
  return table.seek(version) && versionIs(table, version);
}

CompareCounts compareVersions(model::Mpdms& table, std::string_view base, std::string_view reference,
                              CompareObserver& observer) {
  RT_FRAME("ModelComparer:CompareVersions");
  CompareCounts counts;
  table.setOrder(1);
  observer.started(table.lastRec());

  // Pass 1: every base row.
  RT_LINE();
  table.seek(base);
  while (versionIs(table, base)) {
    visitRow(table, reference);
    ++counts.visits;
    ++counts.baseRows;
    table.setOrder(1);
    observer.rowPassed();
    table.skip();
    if ((counts.writeFailed = table.writeFailed())) return counts;
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
    if ((counts.writeFailed = table.writeFailed())) return counts;
  }
  publishChanges(table);
  comparisonFinished({std::string(base), std::string(reference)});
  return counts;
}

void clearComparisons(model::Mpdms& table) {
  RT_FRAME("ModelComparer:ClearFlags");
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
  publishChanges(table);
}

void publishChanges(model::Mpdms& table) {
  if (rdd::Table* open = table.table(); open && table.used()) open->flush();
}

}  // namespace mainwin
