// The commands of zorbane-compare-cli, each working on the model table of the current directory.
// Each answers the process exit code: 0 done (or no differences), 1 differences found, 2 a load
// stopped part-way; an error is raised through the run-time and ends the command with 2 (see
// main.cpp).
#pragma once
#include <optional>
#include <string>

#include "workflow/export.h"

namespace cli {

struct CompareOptions {
  std::string base, reference;  // as typed; compared at the stored width
  bool reset = false;
  workflow::ExportFormat format = workflow::ExportFormat::Text;
  std::optional<std::string> output;  // standard output when empty
};

int listFamilies();
int listVersions();
int loadFamily(const std::string& family, const std::string& version);
int compare(const CompareOptions& options);
int zap();
int reindex();

}  // namespace cli
