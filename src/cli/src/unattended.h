// Running the workflow without a person: the process-wide error handler's boxes are answered on
// their own (default where the error allows it, otherwise stop). Each error is told on standard
// error in one line, "zorbane-compare-cli: cannot <task>: <reason>" (its whole block with
// --verbose; always in APPERROR.LOG), and progress is drawn on standard error only when that is a
// terminal, cleared before anything else is written there.
#pragma once
#include <cstdint>
#include <string>

#include "workflow/workflow.h"

namespace cli {

// Installs the error handler (it also writes APPERROR.LOG) with the unattended answers, and the
// table settings the window program fixes at its start.
void installUnattendedRunTime();

// What the command was doing, for the "cannot ..." of its error lines ("load \"Library\" as
// version 1.0"); empty before a command starts.
void setTask(std::string task);
// With verbose set, an error's whole block follows its line on standard error.
void setVerbose(bool verbose);

// True once any error has been reported in this process.
bool errorReported();

// A progress line "<what> NN%" redrawn in place on a terminal, and wiped when it ends; silent
// otherwise.
class Progress {
 public:
  explicit Progress(std::string what);
  ~Progress();
  void range(std::uint64_t total);
  void advance();

 private:
  std::string what_;
  bool shown_;
  std::uint64_t total_ = 0, done_ = 0;
  int lastPercent_ = -1;
};

class ProgressCompare : public workflow::CompareObserver {
 public:
  void started(std::uint32_t records) override { progress_.range(records); }
  void rowPassed() override { progress_.advance(); }

 private:
  Progress progress_{"Comparing"};
};

class ProgressLoad : public workflow::LoadObserver {
 public:
  explicit ProgressLoad(std::string version) : version_(std::move(version)) {}
  void classesCounted(long count) override { progress_.range(static_cast<std::uint64_t>(count > 0 ? count : 0)); }
  void classRead(long /*position*/) override { progress_.advance(); }
  rt::Value version() override { return rt::Value(version_); }

 private:
  std::string version_;
  Progress progress_{"Reading"};
};

}  // namespace cli
