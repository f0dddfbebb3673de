#include "unattended.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "errorsys/errorsys.h"

namespace cli {
namespace {

bool reported = false;

// The handler's message ends its lines in CR LF, as the log does; a terminal wants LF alone.
void printMessage(const std::string& text, const std::string& caption) {
  std::string plain;
  for (char c : text)
    if (c != '\r') plain += c;
  if (!plain.empty() && plain.back() != '\n') plain += '\n';
  std::fprintf(stderr, "zorbane-compare-cli: %s\n%s", caption.c_str(), plain.c_str());
  std::fflush(stderr);
}

}  // namespace

void installUnattendedRunTime() {
  app::InstallErrorSys();
  // Default (first choice) when offered; never retry, which could run forever; otherwise the
  // third choice, which breaks to the command's recovery point.
  rt::setErrorBoxHandler([](const std::string& text, const std::string& caption, std::uint32_t c1, std::uint32_t /*c2*/,
                            std::uint32_t c3) {
    reported = true;
    printMessage(text, caption);
    return c1 != 0 ? c1 : c3;
  });
  rt::setMessageBoxHandler([](const std::string& text, const std::string& caption) {
    reported = true;
    printMessage(text, caption);
  });
  rt::setBeep(false);
  rt::rddInfo(111, rt::Value(true));
  rt::setCollation(rt::Collation::FixedByteOrder);
  rt::setExclusive(false);
  rt::setDeleted(true);
}

bool errorReported() { return reported > 0; }

Progress::Progress(std::string what) : what_(std::move(what)), shown_(::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  if (shown_ && lastPercent_ >= 0) std::fputc('\n', stderr);
}

void Progress::range(std::uint64_t total) {
  total_ = total;
  done_ = 0;
}

void Progress::advance() {
  ++done_;
  if (!shown_ || total_ == 0) return;
  const int percent = static_cast<int>(std::min<std::uint64_t>(done_ * 100 / total_, 100));
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  std::fprintf(stderr, "\r%s %3d%%", what_.c_str(), percent);
  std::fflush(stderr);
}

}  // namespace cli
