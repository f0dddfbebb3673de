// The commands of zorbane-compare-cli, each working on the model table of the current directory.
// Each answers the process exit code: 0 done (or no differences), 1 differences found; an error
// is raised through the run-time and ends the command with 2 (see main.cpp).
#pragma once
#include <filesystem>
#include <optional>
#include <string>

#include "workflow/export.h"
#include "workflow/history.h"

namespace cli {

inline constexpr int kExitTrouble = 2;

// When compare and diff answer 1: any differing row, a breaking change, or never.
enum class FailOn { Any, Breaking, None };

struct CompareOptions {
  std::string base, reference;  // as typed; compared at the stored width
  bool reset = false;           // compare only
  workflow::ExportFormat format = workflow::ExportFormat::Text;
  std::optional<std::filesystem::path> output;  // absolute; standard output when empty
  bool changes = false;                          // text and CSV list the changes instead of the rows
  FailOn failOn = FailOn::Any;
  bool ignoreRules = true;            // apply zorbane-compare.ignore of the working folder
};

struct HistoryCommand {
  std::string className;
  std::optional<std::string> family;
  bool json = false;
  bool storedOrder = false;  // the order the versions first appear in the table, not by label
  bool ignoreRules = true;
};

int listFamilies();
int listVersions();
// Refuses a version that already holds the family's rows unless `append` is set.
int loadFamily(const std::string& family, const std::string& version, bool append);
// Compares and stores the flags, then prints the pair's differences.
int compare(const CompareOptions& options);
// Prints the differences a compare with "Reset Flags" would find, on the table opened read-only:
// no flag, index or header is written.
int diff(const CompareOptions& options);
// Prints a class's changes through every stored version, the table opened read-only.
int history(const HistoryCommand& command);
int zap();
int reindex();

}  // namespace cli
