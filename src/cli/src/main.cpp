// zorbane-compare-cli: reads class families into the model table, compares stored versions and
// prints their differences, from scripts. Exit codes follow diff(1): 0 the same, 1 different,
// 2 trouble.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "help.h"
#include "runtime/runtime.h"
#include "unattended.h"

namespace {

using cli::kExitTrouble;

// Help and version go straight to standard output; a write that fails is an error like any other.
int printText(const std::string& text) {
  std::cout << text << std::flush;
  if (std::cout) return 0;
  std::cerr << "zorbane-compare-cli: cannot write to standard output: " << std::strerror(errno) << "\n";
  return cli::kExitTrouble;
}

int usageError(const std::string& message) {
  std::cerr << "zorbane-compare-cli: " << message << "\nTry 'zorbane-compare-cli --help'.\n";
  return kExitTrouble;
}

struct Invocation {
  Invocation(std::function<int()> run, int exitCode, std::string task = {})
      : run(std::move(run)), exitCode(exitCode), task(std::move(task)) {}
  std::function<int()> run;  // empty when the arguments were answered already
  int exitCode = 0;
  std::string task;  // what the command does, for its error lines: "cannot <task>: <reason>"
};

// The words of --fail-on, as data.
constexpr std::pair<const char*, cli::FailOn> kFailOn[] = {
    {"any", cli::FailOn::Any}, {"breaking", cli::FailOn::Breaking}, {"none", cli::FailOn::None}};

// compare and diff: two versions and the output options; only compare writes, so only it resets.
Invocation parseComparison(const std::string& command, const std::vector<std::string>& args) {
  const bool writes = command == "compare";
  cli::CompareOptions options;
  std::vector<std::string> versions;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--reset" && writes) {
      options.reset = true;
    } else if (arg == "--changes") {
      options.changes = true;
    } else if (arg == "--no-ignore") {
      options.ignoreRules = false;
    } else if (arg == "--format" || arg == "--output" || arg == "--fail-on") {
      if (i + 1 >= args.size()) return {{}, usageError(arg + " needs a value")};
      const std::string& value = args[++i];
      if (arg == "--output") {
        if (value.empty()) return {{}, usageError("--output needs a file name")};
        // "-" is standard output; a relative name is the caller's, taken before -C moves away.
        if (value == "-")
          options.output.reset();
        else
          options.output = std::filesystem::absolute(value);
      } else if (arg == "--fail-on") {
        const auto* named = std::find_if(std::begin(kFailOn), std::end(kFailOn),
                                         [&](const auto& entry) { return value == entry.first; });
        if (named == std::end(kFailOn)) return {{}, usageError("unknown --fail-on '" + value + "' (any, breaking or none)")};
        options.failOn = named->second;
      } else if (auto format = workflow::exportFormatNamed(value)) {
        options.format = *format;
      } else {
        return {{}, usageError("unknown format '" + value + "' (text, csv, json or html)")};
      }
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return {{}, usageError("unknown option '" + arg + "' for " + command)};
    } else if (arg != "--") {
      versions.push_back(arg);
    }
  }
  if (versions.size() != 2) return {{}, usageError(command + " needs BASE and REF")};
  options.base = versions[0];
  options.reference = versions[1];
  const std::string task = "compare " + options.base + " with " + options.reference;
  if (!writes) return {[options] { return cli::diff(options); }, 0, task};
  return {[options] { return cli::compare(options); }, 0, task};
}

// history: one class and its options.
Invocation parseHistory(const std::vector<std::string>& args) {
  cli::HistoryCommand command;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--no-ignore") {
      command.ignoreRules = false;
    } else if (arg == "--family" || arg == "--format" || arg == "--order") {
      if (i + 1 >= args.size()) return {{}, usageError(arg + " needs a value")};
      const std::string& value = args[++i];
      if (arg == "--family")
        command.family = value;
      else if (arg == "--format" && (value == "text" || value == "json"))
        command.json = value == "json";
      else if (arg == "--order" && (value == "stored" || value == "natural"))
        command.storedOrder = value == "stored";
      else
        return {{}, usageError("unknown " + arg + " '" + value + "' (" + (arg == "--format" ? "text or json" : "natural or stored") + ")")};
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return {{}, usageError("unknown option '" + arg + "' for history")};
    } else if (arg != "--") {
      names.push_back(arg);
    }
  }
  if (names.size() != 1) return {{}, usageError("history needs one CLASS")};
  command.className = names.front();
  return {[command] { return cli::history(command); }, 0, "show the history of " + command.className};
}

Invocation parseCommand(const std::string& command, const std::vector<std::string>& args) {
  const auto exactly = [&](std::size_t count, std::function<int()> run, std::string task) -> Invocation {
    if (args.size() != count) return {{}, usageError(command + " takes " + std::to_string(count) + " argument(s)")};
    return {std::move(run), 0, std::move(task)};
  };
  if (command == "families") return exactly(0, cli::listFamilies, "list the class families");
  if (command == "versions") return exactly(0, cli::listVersions, "list the stored versions");
  if (command == "reindex") return exactly(0, cli::reindex, "rebuild the index");
  if (command == "load") {
    std::vector<std::string> names;
    bool append = false;
    for (const std::string& arg : args) {
      if (arg == "--append")
        append = true;
      else
        names.push_back(arg);
    }
    if (names.size() == 2 && names[1].find_first_not_of(' ') == std::string::npos)
      return {{}, usageError("the version must not be empty")};
    if (names.size() != 2) return {{}, usageError("load takes 2 argument(s)")};
    return {[names, append] { return cli::loadFamily(names[0], names[1], append); }, 0,
            "load \"" + names[0] + "\" as version " + names[1]};
  }
  if (command == "zap") {
    if (args.size() != 1 || args[0] != "--yes") return {{}, usageError("zap empties the table: confirm with 'zap --yes'")};
    return {cli::zap, 0, "empty the table"};
  }
  if (command == "compare" || command == "diff") return parseComparison(command, args);
  if (command == "history") return parseHistory(args);
  return {{}, usageError("unknown command '" + command + "'")};
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t next = 0;
  std::string directory;
  bool verbose = false;
  while (next < args.size() && !args[next].empty() && args[next][0] == '-') {
    const std::string& option = args[next];
    if (option == "--help" || option == "-h") return printText(cli::generalHelp());
    if (option == "--version") return printText(std::string("zorbane-compare-cli ") + ZMC_CLI_VERSION + "\n");
    if (option == "--verbose") {
      verbose = true;
      ++next;
      continue;
    }
    if (option != "-C") return usageError("unknown option '" + option + "'");
    if (next + 1 >= args.size()) return usageError("-C needs a directory");
    directory = args[next + 1];
    next += 2;
  }
  if (next >= args.size()) return usageError("no command given");
  const std::string& command = args[next];
  // --help and --verbose are taken among the command's arguments too, up to a "--".
  std::vector<std::string> arguments;
  bool operandsOnly = false;
  for (auto arg = args.begin() + static_cast<long>(next) + 1; arg != args.end(); ++arg) {
    operandsOnly = operandsOnly || *arg == "--";
    if (!operandsOnly && (*arg == "--help" || *arg == "-h"))
      if (const std::optional<std::string> help = cli::commandHelp(command)) return printText(*help);
    if (!operandsOnly && *arg == "--verbose")
      verbose = true;
    else
      arguments.push_back(*arg);
  }
  const Invocation invocation = parseCommand(command, arguments);
  if (!invocation.run) return invocation.exitCode;
  if (!directory.empty() && ::chdir(directory.c_str()) != 0)
    return usageError("cannot work in '" + directory + "': " + std::strerror(errno));

  // What the command writes to standard output waits for its outcome: a run that fails prints
  // nothing there, so a script is never told of a success that did not happen.
  std::ostringstream held;
  std::streambuf* const standardOutput = std::cout.rdbuf(held.rdbuf());
  int code = kExitTrouble;
  const int quitCode = rt::runMain([&] {
    cli::installUnattendedRunTime();
    cli::setTask(invocation.task);
    cli::setVerbose(verbose);
    // An error that cannot be defaulted breaks here; one that could be defaulted still marks
    // the run as failed, since a defaulted step may have left the work undone.
    const rt::ErrorPtr broke = rt::withRecovery([&] {
      code = invocation.run();
      std::cout.rdbuf(standardOutput);
      if (cli::errorReported()) return;
      std::cout << held.view() << std::flush;
      if (!std::cout)
        (void)rt::raise(rt::makeError(rt::EG_WRITE, "ZMCCLI",
                                      std::string("cannot write to standard output: ") + std::strerror(errno), "WRITE"));
    });
    return broke ? kExitTrouble : code;
  });
  std::cout.rdbuf(standardOutput);
  if (cli::errorReported()) return kExitTrouble;
  return quitCode;
}
