// What a front end without the main window needs besides the workflow units: connecting the
// database control as the window does, the family names it offers, and the stored versions with
// their families and row counts. GUI thread only; failures are raised through the run-time.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "ole/storage.h"
#include "runtime/runtime.h"

namespace workflow {

// Where the database control's stored state is kept: OLE29.ctlstate, section ZorbaneWin.Zorbane.
inline const ole::OleAppDocStorage kControlStorage{"OLE29", "ZorbaneWin", "Zorbane"};

// Sets the control's three connection properties (no connection manager, no logon box, the
// default environment) and connects it.
void connectControl(const rt::ObjectPtr& control);

// The names of the control's class families in its order, trimmed.
std::vector<std::string> familyNames(const rt::ObjectPtr& control);

// True when this process may not write the model table of the working folder or the folder
// itself (the index file and the error log live there): a read-only folder or file, or another
// user's. Such a table is opened for reading alone, and every operation that writes is refused.
bool tableReadOnlyHere();
// What an operation that writes says when refused for that.
std::string readOnlyTableText();

struct VersionRows {
  std::string version;  // trimmed
  std::string family;   // of the version's first row, trimmed
  long rows = 0;
};

// Every stored version in the order of storedVersions, with its row count.
std::vector<VersionRows> versionRows(model::Mpdms& table);

// The rows of `family` (compared at its stored width) under the full-width `version`: reading the
// family again under that version would store each of them a second time.
long familyRowsIn(model::Mpdms& table, std::string_view version, std::string_view family);

}  // namespace workflow
