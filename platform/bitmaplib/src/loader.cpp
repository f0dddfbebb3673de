#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "bitmaplib/bitmaplib.h"

namespace bmp {
namespace {

struct LoaderState {
  void* handle = nullptr;
  EntryPoints entries;
  bool available = false;
  std::string lastError;
};

LoaderState& state() {
  static LoaderState s;
  return s;
}

std::string executableDir() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  path[n] = '\0';
  return std::filesystem::path(path).parent_path().string();
}

// File names tried in each folder: the name as given and, for a bare name, lib<name>.so.
std::vector<std::string> fileNamesFor(const std::string& name) {
  std::vector<std::string> names{name};
  if (name.find('.') == std::string::npos) names.push_back("lib" + name + ".so");
  return names;
}

void* openLibrary(const std::string& name, const std::vector<std::string>& extraDirs) {
  if (name.find('/') != std::string::npos) return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::vector<std::string> dirs{executableDir()};
  dirs.insert(dirs.end(), extraDirs.begin(), extraDirs.end());
  for (const std::string& dir : dirs) {
    if (dir.empty()) continue;
    for (const std::string& file : fileNamesFor(name)) {
      std::filesystem::path candidate = std::filesystem::path(dir) / file;
      std::error_code ec;
      if (!std::filesystem::exists(candidate, ec)) continue;
      if (void* h = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
  }
  for (const std::string& file : fileNamesFor(name))
    if (void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  return nullptr;
}

template <class Fn>
bool resolve(void* handle, const char* symbol, Fn& slot, std::string& missing) {
  slot = reinterpret_cast<Fn>(dlsym(handle, symbol));
  if (!slot && missing.empty()) missing = symbol;
  return slot != nullptr;
}

}  // namespace

bool loadSupportLibrary(const std::string& name, const std::vector<std::string>& extraDirs) {
  unloadSupportLibrary();
  LoaderState& s = state();
  void* handle = openLibrary(name, extraDirs);
  if (!handle) {
    const char* why = dlerror();
    s.lastError = "Bitmap support library " + name + " not found" + (why ? std::string(" (") + why + ")" : "");
    return false;
  }
  EntryPoints e;
  std::string missing;
  resolve(handle, "ZmcDibCreateFromFile", e.createFromFile, missing);
  resolve(handle, "ZmcDibCreateFromMemory", e.createFromMemory, missing);
  resolve(handle, "ZmcDibDelete", e.deleteDib, missing);
  resolve(handle, "ZmcDibStretchDraw", e.stretchDraw, missing);
  resolve(handle, "ZmcDibShow", e.show, missing);
  resolve(handle, "ZmcDibGetInfo", e.getInfo, missing);
  resolve(handle, "ZmcDibSaveAs", e.saveAs, missing);
  resolve(handle, "ZmcDibLastErrorMessage", e.lastErrorMessage, missing);
  resolve(handle, "ZmcDibLastError", e.lastError, missing);
  resolve(handle, "ZmcDibShowErrors", e.showErrors, missing);
  if (!missing.empty()) {
    dlclose(handle);
    s.lastError = "Bitmap support library " + name + " lacks the entry point " + missing;
    return false;
  }
  s.handle = handle;
  s.entries = e;
  s.available = true;
  s.lastError.clear();
  return true;
}

bool available() { return state().available; }
const EntryPoints& entryPoints() { return state().entries; }
const std::string& lastLoadError() { return state().lastError; }

void unloadSupportLibrary() {
  LoaderState& s = state();
  if (s.handle) dlclose(s.handle);
  s.handle = nullptr;
  s.entries = {};
  s.available = false;
}

}  // namespace bmp
