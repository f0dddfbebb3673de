// Call-stack recording. Every routine of the program opens an RT_FRAME with its name
// ("Class:Method" or a function name) and marks its current line with RT_LINE(); a handler reads
// level 0 (the innermost routine) outward. Cheap: a push and a pop of a small vector entry.
#pragma once
#include <string>

namespace rt {

class Frame {
 public:
  Frame(const char* name, int line);
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  void setLine(int line);

 private:
  std::size_t index_;
};

// Name and current line of the routine `level` steps out from the innermost; "" and 0 beyond.
std::string procName(int level);
int procLine(int level);
int callDepth();

}  // namespace rt

#define RT_FRAME(name) ::rt::Frame rtFrame_(name, __LINE__)
#define RT_LINE() rtFrame_.setLine(__LINE__)
