// What the fuzz targets share: a scratch folder of their own in memory (/dev/shm, or the system's
// temporary folder where there is none), removed at exit, where each input is written as a real file so that it is read through the same
// file layer the program uses; and an error block that answers "default" to every raised error.
#pragma once
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/runtime.h"

namespace fuzz {

class ScratchDir {
 public:
  explicit ScratchDir(const char* name) {
    std::string pattern = (parent() / (std::string(name) + "_XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  // The folder, ending in '/'.
  std::string folder() const { return path_.string() + "/"; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  void write(const std::string& name, const void* data, std::size_t size) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  void write(const std::string& name, const std::string& bytes) const { write(name, bytes.data(), bytes.size()); }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& name) const {
    std::error_code ec;
    return std::filesystem::exists(file(name), ec);
  }
  void remove(const std::string& name) const {
    std::error_code ec;
    std::filesystem::remove(file(name), ec);
  }

 private:
  // Files written and opened for every input cost least in a file system held in memory.
  static std::filesystem::path parent() {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
    return std::filesystem::temp_directory_path();
  }

  std::filesystem::path path_;
};

// Every raised error is answered "default": the operation gives up and the program goes on.
inline void answerEveryErrorWithDefault() {
  static const bool verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
  rt::setErrorBlock([](const rt::ErrorPtr& e) {
    if (verbose) std::fprintf(stderr, "raised: %s: %s %s\n", e->operation.c_str(), e->description.c_str(), e->fileName.c_str());
    return rt::Value(false);
  });
}

}  // namespace fuzz
