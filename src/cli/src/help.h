// The help texts of zorbane-compare-cli: the general usage and each command's own, written once
// as a table of the commands.
#pragma once
#include <optional>
#include <string>

namespace cli {

std::string generalHelp();
// What `COMMAND --help` prints; none for a name that is no command.
std::optional<std::string> commandHelp(const std::string& name);

}  // namespace cli
