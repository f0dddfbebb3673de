// The workflow's steps, kept free of the screen: loading a class family from the database
// control into the model table, comparing two stored versions, resetting the flags, listing the
// stored versions and building the table's index file. The operations (workflow/operations.h)
// run these steps in their order for every front end, which supplies the on-screen parts
// (captions, progress, boxes) through the observers below. Everything runs on the GUI thread.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/model.h"
#include "runtime/runtime.h"

namespace workflow {

// The model's texts, under the names the workflow's callers have always used.
using model::fullWidthVersion;
using model::kVersionWidth;
using model::trimmedText;
using model::typeText;
using model::ZorbaneType2String;

// Why `typed` cannot be stored as a version of `table`: it holds a control character (a tab or
// a line break would split the lists that show versions one a line), or a character the table's
// code page lacks (every row would carry another version than the one typed). Empty when it can.
std::string versionRefusal(const model::Mpdms& table, std::string_view typed);

// ---------------------------------------------------------------- load

// One pass over a class's own members of one kind and level; the load makes them in this order.
struct MemberPass {
  const char* collection;  // "Methods" or "Properties"
  int filter;              // the collection's filter argument
  const char* kind;        // PROP_METHO
  const char* level;       // INS_CLASS
  const char* typeMember;  // MethodType or PropertyType
};
inline constexpr MemberPass kMemberPasses[] = {
    {"Methods", 1, "M", "C", "MethodType"},
    {"Methods", 4, "M", "I", "MethodType"},
    {"Properties", 1, "P", "C", "PropertyType"},
    {"Properties", 2, "P", "I", "PropertyType"},
};

// What the load reports back while it runs.
class LoadObserver {
 public:
  virtual ~LoadObserver() = default;
  // The family's classes have been handed out, before they are counted.
  virtual void classesReceived() {}
  // The family's classes have been counted (before the first class is read).
  virtual void classesCounted(long /*count*/) {}
  // Class `position` (1-based) has been read, just before its rows are written.
  virtual void classRead(long /*position*/) {}
  // The version stamped on the next row (the window reads its edit field every time).
  virtual rt::Value version() = 0;
};

struct LoadCounts {
  long classes = 0;
  long rows = 0;             // rows stored
  bool writeFailed = false;  // a write failed (raised once): the load stopped there
  // Names stored with '?' for characters the table's code page lacks (each raised once).
  std::vector<std::string> substituted;
};

// Walks family `family` through the control (late-bound calls by member name) and appends one
// row per class and per own method and property, in the order class, class methods, instance
// methods, class properties, instance properties. Failing calls are raised by the control;
// rows appended before a failure stay. Each row is read whole before it is appended, so it
// reaches the table complete or not at all. A failed write to the table stops the load at once.
LoadCounts loadFamily(const rt::ObjectPtr& control, model::Mpdms& table, const std::string& family,
                      LoadObserver& observer);

// ---------------------------------------------------------------- compare

// The two versions of a comparison, at full width.
struct ComparedPair {
  std::string base, reference;
};

class CompareObserver {
 public:
  virtual ~CompareObserver() = default;
  // The comparison starts; `records` is the table's record count (all versions).
  virtual void started(std::uint32_t /*records*/) {}
  // One row of either version has been passed.
  virtual void rowPassed() {}
  // runCompare: every flag is written and published; the index rebuild comes next.
  virtual void rowsCompared() {}
  // runCompare: "Comparison finished", once the index is rebuilt and the table is the caller's
  // again (a listener may read and move it).
  virtual void finished(const ComparedPair& /*pair*/) {}
};

struct CompareCounts {
  long baseRows = 0;       // rows of the base version passed
  long referenceRows = 0;  // rows of the reference version passed
  long visits = 0;         // row visits made (pass 2 skips rows already compared)
  bool writeFailed = false;  // a write failed (raised once): the compare stopped there
};

// True when `version` (full width) has at least one row. Selects order 1.
bool versionHasRows(model::Mpdms& table, std::string_view version);

// Compares two full-width versions: pass 1 over the base rows, pass 2 over the reference rows
// that pass 1 did not mark, writing the seven flags on both rows of every match. Record numbers
// are kept at full width, so tables of any size compare right. Leaves the row pointer anywhere.
// A failed write to the table stops the compare at once.
CompareCounts compareVersions(model::Mpdms& table, std::string_view base, std::string_view reference,
                              CompareObserver& observer);

// Resets the flags of every row of the table, in the controlling order.
void clearComparisons(model::Mpdms& table);

// ---------------------------------------------------------------- model list

// Every distinct version in the table's controlling order, once each, with its running number
// (1 for the first met). Rows of one version need not lie together.
std::vector<std::pair<std::string, long>> storedVersions(model::Mpdms& table);

// ---------------------------------------------------------------- index build

struct IndexBuildResult {
  bool rebuilt = false;      // orders were deleted and created again
  int ordersDeleted = 0;
  int ordersCreated = 0;
};

// Builds the index file from the table's index descriptors when it is missing, or always when
// `force` is true: deletes every open order, then creates each described order in turn.
IndexBuildResult buildIndexes(model::Mpdms& table, bool force);

}  // namespace workflow
