// The workflow's operations: each one's steps, in their order, for every front end.
#include "workflow/operations.h"

#include <mutex>

namespace workflow {
namespace {

// How many errors have been raised in the process so far, whatever they were answered: an
// operation that sees the count change knows that part of its work was skipped or defaulted.
std::uint64_t errorsRaised() {
  static std::uint64_t count = 0;
  static std::once_flag listening;
  std::call_once(listening, [] { rt::addRaiseListener([] { ++count; }); });
  return count;
}

// While it lives, notes whether an open was refused because another process holds the file
// (an open error with OS code 32); every error still goes on to the installed error block.
class SharingConflictWatch {
 public:
  SharingConflictWatch() : previous_(rt::errorBlock()) {
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      if (e->genCode == rt::EG_OPEN && e->osCode == 32) conflict_ = true;
      return previous_ ? previous_(e) : rt::Value(false);
    });
  }
  ~SharingConflictWatch() { rt::setErrorBlock(previous_); }
  SharingConflictWatch(const SharingConflictWatch&) = delete;
  SharingConflictWatch& operator=(const SharingConflictWatch&) = delete;
  bool conflict() const { return conflict_; }

 private:
  rt::ErrorBlock previous_;
  bool conflict_ = false;
};

std::shared_ptr<model::Mpdms> openModelTable(bool shared) {
  model::Mpdms::Args args;
  args.shared = shared;
  return std::make_shared<model::Mpdms>(args);
}

}  // namespace

LoadResult runLoad(const rt::ObjectPtr& control, model::Mpdms& table, const std::string& family,
                   LoadObserver& observer) {
  RT_FRAME("Workflow:RunLoad");
  const std::uint64_t errorsBefore = errorsRaised();
  LoadResult result;
  result.counts = loadFamily(control, table, family, observer);
  if (result.counts.writeFailed)
    result.outcome = LoadOutcome::Stopped;
  // The names stored with '?' were each raised once; any other error left part of the family unread.
  else if (errorsRaised() - errorsBefore > result.counts.substituted.size())
    result.outcome = LoadOutcome::Incomplete;
  return result;
}

CompareResult runCompare(model::Mpdms& table, std::string_view base, std::string_view reference, bool reset,
                         CompareObserver& observer) {
  RT_FRAME("Workflow:RunCompare");
  CompareResult result;
  const ComparedPair pair{fullWidthVersion(base), fullWidthVersion(reference)};
  // A text typed over a picked entry can name the other side's version: the two must differ at
  // the width the rows are compared at.
  if (pair.base == pair.reference) {
    result.outcome = CompareOutcome::SameVersion;
    return result;
  }
  // A version without rows would compare nothing: say so instead of "finished", and leave the
  // flags (and a reset asked for) alone. The rebuild runs all the same: it repairs a broken index.
  for (const std::string* version : {&pair.base, &pair.reference}) {
    if (!versionHasRows(table, *version)) {
      RT_LINE();
      (void)runReindex(table);
      result.outcome = CompareOutcome::NoRows;
      result.versionWithoutRows = *version;
      return result;
    }
  }
  RT_LINE();
  if (reset) clearComparisons(table);
  result.counts = compareVersions(table, pair.base, pair.reference, observer);
  if (result.counts.writeFailed) {
    // The error was raised once; nothing more is written until the table is opened afresh.
    result.outcome = CompareOutcome::Stopped;
    return result;
  }
  observer.rowsCompared();
  RT_LINE();
  (void)runReindex(table);
  observer.finished(pair);
  return result;
}

ZapOutcome runZap(std::shared_ptr<model::Mpdms>& table) {
  RT_FRAME("Workflow:RunZap");
  if (table) table->close();
  bool heldElsewhere = false;
  {
    SharingConflictWatch watch;
    table = openModelTable(false);
    heldElsewhere = watch.conflict();
  }
  ZapOutcome outcome = ZapOutcome::NotOpened;
  if (table->used()) {
    RT_LINE();
    table->zap();
    table->close();
    table = openModelTable(true);
    outcome = ZapOutcome::Zapped;
  } else if (heldElsewhere) {
    RT_LINE();
    table = openModelTable(true);  // the refused exclusive table is dropped unclosed
    outcome = ZapOutcome::HeldElsewhere;
  }
  // NotOpened: the open has said why, and a shared open would only fail again.
  RT_LINE();
  (void)runReindex(*table);
  return outcome;
}

IndexBuildResult runReindex(model::Mpdms& table) {
  RT_FRAME("Workflow:RunReindex");
  return buildIndexes(table, true);
}

}  // namespace workflow
