// Controls created from stored state. A stored-state file "<storage>.ctlstate" holds one section
// per "<document>.<control>"; its Class key names the control class, which a control
// implementation registers here by name. The other keys are the control's persistent properties.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ole/autoobject.h"

namespace ole {

struct OleAppDocStorage {
  std::string storage;   // selects the file: <storage>.ctlstate
  std::string document;  // with control, selects the section [document.control]
  std::string control;
};

// One section of a stored-state file, as handed to a control's factory.
struct StoredState {
  std::string filePath;   // the file the section came from
  std::string directory;  // its directory, ending in '/'
  std::string section;
  std::string className;
  std::vector<std::pair<std::string, std::string>> properties;  // keys as written, in file order

  bool has(std::string_view key) const;                     // keys match without regard to case
  std::string value(std::string_view key, std::string_view fallback = {}) const;
  std::string resolvePath(std::string_view path) const;     // relative to the file's directory
};

// Parses stored-state text; on failure returns false and a message naming the line.
[[nodiscard]] bool parseStoredState(std::string_view text, std::string_view section, StoredState& out,
                                    std::string& message);

// Creates a control from its stored state; null with excep filled on failure.
using ControlFactory = std::function<DispatchPtr(const StoredState& state, ExcepInfo& excep)>;
void registerControlClass(std::string_view className, ControlFactory factory);
bool isControlClassRegistered(std::string_view className);

// Directories searched, in order, for stored-state files. By default the working directory, the
// executable's directory, then an installed program's data folder <exe dir>/../share/zorbane-compare/
// (each once, normalised, ending in '/'). A file found nowhere is raised listing all of them.
void setStorageDirectories(std::vector<std::string> directories);
std::vector<std::string> storageDirectories();

// The stored-state file that createFromAppDocStorage would read: the first found in the
// directories above; empty when there is none.
std::string storedStateFile(const OleAppDocStorage& storage);
// Its section, read without raising: nothing when the file is missing, unreadable or malformed.
std::optional<StoredState> readStoredState(const OleAppDocStorage& storage);

// Creates the control that the stored state names. A missing file or section, a malformed file,
// an unknown class or a failing factory is raised (naming the file or the name); returns null then.
AutoObjectPtr createFromAppDocStorage(const OleAppDocStorage& storage);

}  // namespace ole
