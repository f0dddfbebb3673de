// The database control as the bench's peers use it: connected from the working directory's
// stored state, and walked with the same late-bound calls, in the same order, as the load.
#pragma once
#include <functional>
#include <string>

#include "runtime/runtime.h"

namespace bench {

// One row the load would write: a class row has empty kind, attribute, type and level.
struct WalkedRow {
  const std::string& className;
  const std::string& parent;
  const char* kind;
  std::string attribute;
  std::string type;
  const char* level;
};

// The control of the current directory's OLE29.ctlstate, connected.
rt::ObjectPtr connectControl();

// Walks family `family` and hands every row to `row`; answers the number of rows.
long walkFamily(const rt::ObjectPtr& control, const std::string& family,
                const std::function<void(const WalkedRow&)>& row);

}  // namespace bench
