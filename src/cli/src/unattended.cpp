#include "unattended.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <utility>

#include "errorsys/errorsys.h"

namespace cli {
namespace {

struct Reporting {
  bool reported = false;
  bool verbose = false;
  std::string task;
  rt::ErrorPtr current;                // the error the handler is answering, if any
  std::set<std::string> linesPrinted;  // an error raised again in the same words is told once
  std::size_t progressWidth = 0;       // the progress line on the terminal; 0 when none is shown
};

Reporting& reporting() {
  static Reporting r;
  return r;
}

// Wipes the progress line, so that what follows starts a clean line.
void clearProgressLine() {
  Reporting& r = reporting();
  if (r.progressWidth == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(r.progressWidth), "");
  std::fflush(stderr);
  r.progressWidth = 0;
}

// The handler's text ends its lines in CR LF, as the log does; a terminal wants LF alone.
std::string withoutCarriageReturns(const std::string& text) {
  std::string plain;
  for (char c : text)
    if (c != '\r') plain += c;
  if (!plain.empty() && plain.back() != '\n') plain += '\n';
  return plain;
}

// The lines of `text` joined into one with ": ", blank lines dropped.
std::string oneLine(const std::string& text) {
  std::string line, part;
  const auto flush = [&] {
    if (part.empty()) return;
    line += (line.empty() ? "" : ": ") + part;
    part.clear();
  };
  for (char c : text) {
    if (c == '\r' || c == '\n')
      flush();
    else
      part += c;
  }
  flush();
  return line;
}

// Why the error happened, in one line: its description, or else its kind and file.
std::string reasonOf(const rt::Error& e) {
  if (!e.description.empty()) return oneLine(e.description);
  std::string reason = rt::genCodeText(e.genCode);
  if (!reason.empty()) reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
  return e.fileName.empty() ? reason : e.fileName + ": " + reason;
}

// "zorbane-compare-cli: cannot <task>: <reason>", once for each wording; a warning says so instead.
void printReport(const std::string& reason, bool warning, const std::string& block) {
  Reporting& r = reporting();
  r.reported = true;
  std::string line = "zorbane-compare-cli: ";
  if (warning)
    line += "warning: ";
  else if (!r.task.empty())
    line += "cannot " + r.task + ": ";
  line += reason + "\n";
  const bool toldAlready = !r.linesPrinted.insert(line).second;
  if (toldAlready && !r.verbose) return;
  clearProgressLine();
  std::fputs(line.c_str(), stderr);
  if (r.verbose) std::fputs(withoutCarriageReturns(block).c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

void installUnattendedRunTime() {
  app::InstallErrorSys();
  // The handler is told which error it answers, so that its box can be told in the error's own words.
  rt::setErrorBlock([handler = rt::errorBlock()](const rt::ErrorPtr& error) {
    Reporting& r = reporting();
    const rt::ErrorPtr outer = std::exchange(r.current, error);
    struct Restore {
      Reporting& r;
      rt::ErrorPtr outer;
      ~Restore() { r.current = outer; }
    } restore{r, outer};
    return handler(error);
  });
  // Default (first choice) when offered; never retry, which could run forever; otherwise the
  // third choice, which breaks to the command's recovery point.
  rt::setErrorBoxHandler([](const std::string& text, const std::string& caption, std::uint32_t c1, std::uint32_t /*c2*/,
                            std::uint32_t c3) {
    const rt::ErrorPtr& error = reporting().current;
    printReport(error ? reasonOf(*error) : oneLine(text), caption == "WARNING", text);
    return c1 != 0 ? c1 : c3;
  });
  rt::setMessageBoxHandler([](const std::string& text, const std::string& /*caption*/) {
    printReport(oneLine(text), false, text);
  });
  rt::setBeep(false);
  rt::rddInfo(111, rt::Value(true));
  rt::setCollation(rt::Collation::FixedByteOrder);
  rt::setExclusive(false);
  rt::setDeleted(true);
}

void setTask(std::string task) { reporting().task = std::move(task); }

void setVerbose(bool verbose) { reporting().verbose = verbose; }

bool errorReported() { return reporting().reported; }

Progress::Progress(std::string what) : what_(std::move(what)), shown_(::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  if (shown_) clearProgressLine();
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
  const int width = std::fprintf(stderr, "\r%s %3d%%", what_.c_str(), percent);
  std::fflush(stderr);
  reporting().progressWidth = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
}

}  // namespace cli
