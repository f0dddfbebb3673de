// Test helpers: an error recorder, a stored-state directory in a temporary folder, and short
// late-bound call helpers.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/error_recorder.h"
#include "zorbanectl/zorbanectl.h"

// A temporary directory holding OLE29.ctlstate with the given section body.
class StateDir {
 public:
  StateDir() {
    static int serial = 0;
    dir = std::filesystem::temp_directory_path() /
          ("zmc_zctl_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
    std::filesystem::create_directories(dir);
    ole::setStorageDirectories({dir.string()});
  }
  ~StateDir() {
    ole::setStorageDirectories({});
    std::filesystem::remove_all(dir);
  }
  void writeState(const std::string& body) {
    std::ofstream(dir / "OLE29.ctlstate") << "[ZorbaneWin.Zorbane]\nClass = Zorbane.Control\n" << body;
  }
  void writeFile(const std::string& name, const std::string& content) { std::ofstream(dir / name) << content; }
  ole::AutoObjectPtr create() {
    zctl::registerControl();
    return ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
  }
  std::filesystem::path dir;
};

inline rt::Value call(const rt::Value& on, const char* member, std::vector<rt::Value> args = {}) {
  return on.asObject()->send(rt::Symbol(member), args);
}
inline rt::Value call(const ole::AutoObjectPtr& on, const char* member, std::vector<rt::Value> args = {}) {
  return on->send(rt::Symbol(member), args);
}
