// What the program's entry checks before anything else runs, so that a first start that cannot
// work ends in plain sentences instead of the run-time's error box: the usage of --help, and the
// working folder a start needs (the model table Mpdms.dbf).
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace app {

// The text of `zorbane-compare --help`.
std::string usageText();

// When `folder` holds no model table: what the folder needs and how to get the demo, naming the
// first `demo` folder found under `dataFolders` (an installed program's shared data). Otherwise
// nothing.
std::optional<std::string> workingFolderProblem(const std::filesystem::path& folder,
                                                const std::vector<std::string>& dataFolders);

}  // namespace app
