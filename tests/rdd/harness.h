// Shared helpers for the driver tests: a scratch directory, an error recorder and a small table.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "rdd/rdd.h"

namespace rddtest {

// Records every raised error and answers "default" (or retry, when asked to).
// Errors raised, and warnings handed to the log (repairs that need no answer), apart.
struct ErrorLog {
  std::vector<rt::ErrorPtr> errors, warnings;
  ErrorLog() {
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      errors.push_back(e);
      return rt::Value(false);
    });
    rt::setWarningLog([this](const rt::ErrorPtr& e) { warnings.push_back(e); });
  }
  ~ErrorLog() {
    rt::setErrorBlock({});
    rt::setWarningLog({});
  }
  bool empty() const { return errors.empty(); }
  const rt::Error& last() const { return *errors.back(); }
};

struct ScratchDir {
  std::filesystem::path path;
  ScratchDir() {
    char tmpl[] = "/tmp/rddtestXXXXXX";
    path = mkdtemp(tmpl);
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
  std::string str() const { return path.string() + "/"; }
  std::string file(const std::string& n) const { return (path / n).string(); }
};

// NAME C(10), CITY C(8), OK L.
inline std::vector<rdd::FieldInfo> smallLayout() {
  return {{"NAME", 'C', 10, 0, 0}, {"CITY", 'C', 8, 0, 0}, {"OK", 'L', 1, 0, 0}};
}

// The 123 characters Windows-1252 defines at bytes 0x80-0xFF, in byte order (0x81, 0x8D, 0x8F,
// 0x90 and 0x9D define none).
inline const std::string kUpperHalf1252 =
    "€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ\u00A0¡¢£¤¥¦§¨©ª«¬\u00AD®¯°±²³´µ¶·¸¹º»¼½¾¿ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖ×ØÙÚÛÜÝÞßàáâãäåæçèéêëìíîïðñòóôõö÷øùúûüýþÿ";

inline std::string rtrim(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

inline std::string pad(std::string s, std::size_t n) {
  s.resize(n, ' ');
  return s;
}

inline std::vector<unsigned char> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline void addRow(rdd::Table& t, const std::string& name, const std::string& city) {
  t.append();
  t.put("NAME", rt::Value(name));
  t.put("CITY", rt::Value(city));
}

// What a shell command prints on its standard output; empty when it cannot be started.
inline std::string commandOutput(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// Checks by programs that share no code with the driver: the keys index_dump lists for the tag
// NAME of idx.cdx and the records dbfread reads in t.dbf. Answers {keys, records}, or {-1, -1}
// when they are missing.
inline std::pair<long, long> independentCounts(const ScratchDir& dir) {
  if (std::system("command -v index_dump >/dev/null 2>&1 && /usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0)
    return {-1, -1};
  std::string keys = commandOutput("index_dump --type=char " + dir.file("idx.cdx") + " NAME 2>&1");
  std::string records =
      commandOutput("/usr/bin/python3 -c 'import dbfread,sys; print(sum(1 for _ in dbfread.DBF(sys.argv[1])))' " + dir.file("t.dbf"));
  return {static_cast<long>(std::count(keys.begin(), keys.end(), '\n')), std::atol(records.c_str())};
}

}  // namespace rddtest
