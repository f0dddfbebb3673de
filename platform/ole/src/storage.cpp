#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "ole/storage.h"

namespace ole {

namespace {

// An installed program's shared data folder, seen from the executable's folder (set by the build
// to match the install layout: bin/ and share/zorbane-compare/ under one prefix).
constexpr const char* kInstalledDataFromExecutable = ZMC_DATA_FROM_BIN;

constexpr std::size_t kMaxStoredStateBytes = 1u << 20;

std::map<std::string, ControlFactory>& factories() {
  static std::map<std::string, ControlFactory> table;
  return table;
}

std::vector<std::string>& directoriesOverride() {
  static std::vector<std::string> dirs;
  return dirs;
}
bool& directoriesSet() {
  static bool set = false;
  return set;
}

std::string trim(std::string_view s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

bool equalNoCase(std::string_view a, std::string_view b) { return rt::toUpper(a) == rt::toUpper(b); }

// A value in double quotes keeps its blanks; \" and \\ escape inside. The quote must close at
// the end of the value: a value cut short would otherwise pass as a different one.
bool unquote(std::string& value, std::string& message) {
  std::string inner;
  std::size_t i = 1;
  for (; i < value.size() && value[i] != '"'; ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    inner += value[i];
  }
  if (i >= value.size()) {
    message = "unterminated quote in the value";
    return false;
  }
  if (i + 1 != value.size()) {
    message = "text after the closing quote of the value";
    return false;
  }
  value = std::move(inner);
  return true;
}

std::string withSlash(std::string dir) {
  if (dir.empty()) return "./";
  if (dir.back() != '/') dir += '/';
  return dir;
}

AutoObjectPtr raiseStorage(int genCode, const std::string& description, const std::string& file, bool* retry) {
  auto e = rt::makeError(genCode, "OLE", description, "OleControl:CreateFromAppDocStorage", file);
  e->canDefault = true;
  e->canRetry = true;
  *retry = rt::raise(e).retry();
  return nullptr;
}

}  // namespace

bool StoredState::has(std::string_view key) const {
  for (const auto& [k, v] : properties)
    if (equalNoCase(k, key)) return true;
  return false;
}

std::string StoredState::value(std::string_view key, std::string_view fallback) const {
  for (const auto& [k, v] : properties)
    if (equalNoCase(k, key)) return v;
  return std::string(fallback);
}

std::string StoredState::resolvePath(std::string_view path) const {
  if (path.empty() || path.front() == '/') return std::string(path);
  return directory + std::string(path);
}

bool parseStoredState(std::string_view text, std::string_view section, StoredState& out, std::string& message) {
  out = StoredState{};
  std::istringstream in{std::string(text)};
  std::string line;
  int lineNo = 0;
  bool inSection = false, found = false;
  while (std::getline(in, line)) {
    ++lineNo;
    std::string t = trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t[0] == '[') {
      if (t.back() != ']') {
        message = "line " + std::to_string(lineNo) + ": section header without closing ']'";
        return false;
      }
      inSection = equalNoCase(trim(std::string_view(t).substr(1, t.size() - 2)), section);
      if (inSection) {
        if (found) {
          message = "line " + std::to_string(lineNo) + ": section [" + std::string(section) + "] appears twice";
          return false;
        }
        found = true;
        out.section = std::string(section);
      }
      continue;
    }
    auto eq = t.find('=');
    if (eq == std::string::npos || eq == 0) {
      message = "line " + std::to_string(lineNo) + ": expected key = value";
      return false;
    }
    if (!inSection) continue;
    std::string key = trim(std::string_view(t).substr(0, eq));
    std::string value = trim(std::string_view(t).substr(eq + 1));
    if (!value.empty() && value.front() == '"' && !unquote(value, message)) {
      message = "line " + std::to_string(lineNo) + ": " + message;
      return false;
    }
    if (equalNoCase(key, "Class"))
      out.className = value;
    else
      out.properties.emplace_back(std::move(key), std::move(value));
  }
  if (!found) {
    message = "no section [" + std::string(section) + "]";
    return false;
  }
  if (out.className.empty()) {
    message = "section [" + std::string(section) + "] names no Class";
    return false;
  }
  return true;
}

void registerControlClass(std::string_view className, ControlFactory factory) {
  factories()[rt::toUpper(className)] = std::move(factory);
}

bool isControlClassRegistered(std::string_view className) {
  return factories().count(rt::toUpper(className)) != 0;
}

void setStorageDirectories(std::vector<std::string> directories) {
  directoriesOverride() = std::move(directories);
  directoriesSet() = !directoriesOverride().empty();
}

std::vector<std::string> storageDirectories() {
  if (directoriesSet()) return directoriesOverride();
  std::vector<std::string> dirs;
  auto add = [&dirs](const std::filesystem::path& dir) {
    std::string d = withSlash(dir.lexically_normal().string());
    if (std::find(dirs.begin(), dirs.end(), d) == dirs.end()) dirs.push_back(std::move(d));
  };
  std::error_code ec;
  auto cwd = std::filesystem::current_path(ec);
  if (!ec) add(cwd);
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) {
    buf[n] = 0;
    const auto exeDir = std::filesystem::path(buf).parent_path();
    add(exeDir);
    add(exeDir / kInstalledDataFromExecutable);
  }
  return dirs;
}

std::string storedStateFile(const OleAppDocStorage& storage) {
  for (const auto& dir : storageDirectories()) {
    std::string candidate = withSlash(dir) + storage.storage + ".ctlstate";
    std::error_code ec;
    if (std::filesystem::exists(candidate, ec)) return candidate;
  }
  return {};
}

std::optional<StoredState> readStoredState(const OleAppDocStorage& storage) {
  const std::string path = storedStateFile(storage);
  std::string text, why, message;
  StoredState state;
  if (path.empty() || !rt::readRegularFile(path, kMaxStoredStateBytes, text, why) ||
      !parseStoredState(text, storage.document + "." + storage.control, state, message))
    return std::nullopt;
  state.filePath = path;
  state.directory = withSlash(std::filesystem::path(path).parent_path().string());
  return state;
}

AutoObjectPtr createFromAppDocStorage(const OleAppDocStorage& storage) {
  const std::string fileName = storage.storage + ".ctlstate";
  const std::string section = storage.document + "." + storage.control;
  for (;;) {
    bool retry = false;
    const std::string path = storedStateFile(storage);
    if (path.empty()) {
      std::string where;
      for (const auto& dir : storageDirectories()) where += (where.empty() ? "" : ", ") + dir;
      raiseStorage(rt::EG_OPEN, "Stored control state " + fileName + " not found (searched " + where + ")", fileName,
                   &retry);
      if (retry) continue;
      return nullptr;
    }
    std::string text, why;
    if (!rt::readRegularFile(path, kMaxStoredStateBytes, text, why)) {
      raiseStorage(rt::EG_READ, "Cannot read stored control state " + path + ": it " + why, path, &retry);
      if (retry) continue;
      return nullptr;
    }
    StoredState state;
    std::string message;
    if (!parseStoredState(text, section, state, message)) {
      raiseStorage(rt::EG_CORRUPTION, "Stored control state " + path + ": " + message, path, &retry);
      if (retry) continue;
      return nullptr;
    }
    state.filePath = path;
    state.directory = withSlash(std::filesystem::path(path).parent_path().string());
    auto it = factories().find(rt::toUpper(state.className));
    if (it == factories().end()) {
      raiseStorage(rt::EG_OLE, "Control class " + state.className + " named in " + path + " is not registered", path,
                   &retry);
      if (retry) continue;
      return nullptr;
    }
    ExcepInfo excep;
    DispatchPtr control = it->second(state, excep);
    if (!control) {
      std::string text2 = excep.description.empty() ? "control " + state.className + " could not be created"
                                                    : excep.description;
      raiseStorage(excep.genCode ? excep.genCode : rt::EG_OLE, text2,
                   excep.fileName.empty() ? path : excep.fileName, &retry);
      if (retry) continue;
      return nullptr;
    }
    return std::make_shared<OLEAutoObject>(control);
  }
}

}  // namespace ole
