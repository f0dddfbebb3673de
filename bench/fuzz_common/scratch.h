// What the fuzz targets share: a scratch folder of their own under the system's temporary folder,
// removed at exit, where each input is written as a real file so that it is read through the same
// file layer the program uses; and an error block that answers "default" to every raised error.
#pragma once
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/runtime.h"

namespace fuzz {

class ScratchDir {
 public:
  explicit ScratchDir(const char* name) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(name) + "_XXXXXX")).string();
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
  void remove(const std::string& name) const {
    std::error_code ec;
    std::filesystem::remove(file(name), ec);
  }

 private:
  std::filesystem::path path_;
};

// Every raised error is answered "default": the operation gives up and the program goes on.
inline void answerEveryErrorWithDefault() {
  rt::setErrorBlock([](const rt::ErrorPtr&) { return rt::Value(false); });
}

}  // namespace fuzz
