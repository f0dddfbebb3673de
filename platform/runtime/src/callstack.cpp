#include "runtime/callstack.h"

#include <vector>

namespace rt {
namespace {

struct Entry {
  const char* name;
  int line;
};

std::vector<Entry>& stack() {
  static std::vector<Entry> s = [] {
    std::vector<Entry> v;
    v.reserve(256);
    return v;
  }();
  return s;
}

}  // namespace

Frame::Frame(const char* name, int line) : index_(stack().size()) { stack().push_back({name, line}); }

Frame::~Frame() { stack().resize(index_); }

void Frame::setLine(int line) { stack()[index_].line = line; }

std::string procName(int level) {
  auto& s = stack();
  if (level < 0 || static_cast<std::size_t>(level) >= s.size()) return {};
  return s[s.size() - 1 - level].name;
}

int procLine(int level) {
  auto& s = stack();
  if (level < 0 || static_cast<std::size_t>(level) >= s.size()) return 0;
  return s[s.size() - 1 - level].line;
}

int callDepth() { return static_cast<int>(stack().size()); }

}  // namespace rt
