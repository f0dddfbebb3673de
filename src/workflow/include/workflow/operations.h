// The workflow's operations, one call each, as every front end (the main window, the command
// line, the benches) runs them: the steps of an operation and their order are written here and
// nowhere else. Each call answers how it ended; the caller says it in its own way (a box, a
// message on standard error, a figure). Errors are raised through the run-time as they happen.
// GUI thread only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/model.h"
#include "workflow/workflow.h"

namespace workflow {

// ---------------------------------------------------------------- load

enum class LoadOutcome {
  Done,        // every class read and stored (names the table cannot hold with '?': counts.substituted)
  Incomplete,  // errors were raised during the walk and answered; the rows read are stored
  Stopped,     // a write to the table failed: the load stopped there
};

struct LoadResult {
  LoadOutcome outcome = LoadOutcome::Done;
  LoadCounts counts;
};

// Walks `family` through the control into `table` (see loadFamily) and publishes what it stored.
LoadResult runLoad(const rt::ObjectPtr& control, model::Mpdms& table, const std::string& family,
                   LoadObserver& observer);

// ---------------------------------------------------------------- compare

enum class CompareOutcome {
  SameVersion,  // base and reference are one version: nothing was done
  NoRows,       // a version has no rows: nothing was reset or compared; the index was rebuilt
  Stopped,      // a write to the table failed: the compare stopped there, the index is as it was
  Done,         // compared, published, index rebuilt, "Comparison finished" announced
};

struct CompareResult {
  CompareOutcome outcome = CompareOutcome::Done;
  CompareCounts counts;
  std::string versionWithoutRows;  // NoRows: the version (full width) that has none
};

// Compares two versions (either width: both are taken at the stored width). The steps: the
// version checks; the reset of every row's flags when `reset` is set; the compare, which
// publishes the flags; the rebuild of the index file; observer.finished. A compare that did not
// run (SameVersion, NoRows) did not reset either.
CompareResult runCompare(model::Mpdms& table, std::string_view base, std::string_view reference, bool reset,
                         CompareObserver& observer);

// ---------------------------------------------------------------- zap

enum class ZapOutcome {
  Zapped,         // every row removed; `table` is open shared again with its index rebuilt
  HeldElsewhere,  // another process holds the table: nothing removed, `table` open shared again
  NotOpened,      // the file itself cannot be opened (the open raised why); `table` is not open
};

// Empties the model table: closes `table`, opens the file exclusively, zaps it, and opens it
// shared again in `table`; the index file is rebuilt in every case.
ZapOutcome runZap(std::shared_ptr<model::Mpdms>& table);

// ---------------------------------------------------------------- reindex

// Builds the index file again from the table's index descriptors, whether or not it exists.
IndexBuildResult runReindex(model::Mpdms& table);

}  // namespace workflow
