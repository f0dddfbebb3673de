// zorbane-compare-cli: reads class families into the model table, compares stored versions and
// prints their differences, from scripts. Exit codes follow diff(1): 0 the same, 1 different,
// 2 trouble.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "unattended.h"

namespace {

using cli::kExitTrouble;

constexpr const char* kUsage =
    "Usage: zorbane-compare-cli [-C DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "Works on Mpdms.dbf, its index, OLE29.ctlstate and APPERROR.LOG of the working directory,\n"
    "or of DIR with -C DIR. The table is opened shared, so the window program may have it open.\n"
    "\n"
    "Commands:\n"
    "  families                     list the class families of the database\n"
    "  versions                     list the stored versions: version, family, rows (tab-separated)\n"
    "  load FAMILY VERSION [--append]\n"
    "                               read FAMILY into the table as VERSION (up to 15 characters);\n"
    "                               a VERSION that holds FAMILY's rows already needs --append\n"
    "  compare BASE REF [--reset] [OUTPUT OPTIONS]\n"
    "                               compare two stored versions, store the flags, print the differences\n"
    "  diff BASE REF [OUTPUT OPTIONS]\n"
    "                               print the differences a compare with --reset would find, writing\n"
    "                               nothing (the table may be read-only or open elsewhere)\n"
    "  history CLASS [--family FAMILY] [--format text|json] [--order stored] [--no-ignore]\n"
    "                               the changes of CLASS between each two consecutive versions, and\n"
    "                               its members version by version (writes nothing); versions in\n"
    "                               natural order of their labels (1.9 before 1.10), or as first stored\n"
    "  zap --yes                    empty the table (it must not be open elsewhere)\n"
    "  reindex                      rebuild the table's index file\n"
    "\n"
    "Output options of compare and diff:\n"
    "  --format text|csv|json|html  how to print the differences (text by default)\n"
    "  --output FILE                write them to FILE instead of standard output\n"
    "  --changes                    text and CSV: list one change a line instead of the differing rows\n"
    "  --fail-on any|breaking|none  when to exit with 1: any difference (the default), a breaking\n"
    "                               change, or never\n"
    "  --no-ignore                  do not apply the rules of zorbane-compare.ignore\n"
    "\n"
    "Ignore rules: the changes that zorbane-compare.ignore in the working directory hides are left\n"
    "out of the output and of --fail-on; a line it cannot read is told on standard error and skipped.\n"
    "\n"
    "Options:\n"
    "  -C DIR       work in DIR\n"
    "  --help       show this text\n"
    "  --version    show the program's version\n"
    "\n"
    "Exit status: 0 done, or no differences (none that --fail-on counts); 1 the versions differ;\n"
    "2 an error (on standard error and in APPERROR.LOG).\n";

int usageError(const std::string& message) {
  std::cerr << "zorbane-compare-cli: " << message << "\nTry 'zorbane-compare-cli --help'.\n";
  return kExitTrouble;
}

struct Invocation {
  std::function<int()> run;  // empty when the arguments were answered already
  int exitCode = 0;
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
  if (!writes) return {[options] { return cli::diff(options); }, 0};
  return {[options] { return cli::compare(options); }, 0};
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
  return {[command] { return cli::history(command); }, 0};
}

Invocation parseCommand(const std::string& command, const std::vector<std::string>& args) {
  const auto exactly = [&](std::size_t count, std::function<int()> run) -> Invocation {
    if (args.size() != count) return {{}, usageError(command + " takes " + std::to_string(count) + " argument(s)")};
    return {std::move(run), 0};
  };
  if (command == "families") return exactly(0, cli::listFamilies);
  if (command == "versions") return exactly(0, cli::listVersions);
  if (command == "reindex") return exactly(0, cli::reindex);
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
    return {[names, append] { return cli::loadFamily(names[0], names[1], append); }, 0};
  }
  if (command == "zap") {
    if (args.size() != 1 || args[0] != "--yes") return {{}, usageError("zap empties the table: confirm with 'zap --yes'")};
    return {cli::zap, 0};
  }
  if (command == "compare" || command == "diff") return parseComparison(command, args);
  if (command == "history") return parseHistory(args);
  return {{}, usageError("unknown command '" + command + "'")};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t next = 0;
  std::string directory;
  while (next < args.size() && !args[next].empty() && args[next][0] == '-') {
    const std::string& option = args[next];
    if (option == "--help" || option == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (option == "--version") {
      std::cout << "zorbane-compare-cli " << ZMC_CLI_VERSION << "\n";
      return 0;
    }
    if (option != "-C") return usageError("unknown option '" + option + "'");
    if (next + 1 >= args.size()) return usageError("-C needs a directory");
    directory = args[next + 1];
    next += 2;
  }
  if (next >= args.size()) return usageError("no command given");
  const Invocation invocation =
      parseCommand(args[next], std::vector<std::string>(args.begin() + static_cast<long>(next) + 1, args.end()));
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
    // An error that cannot be defaulted breaks here; one that could be defaulted still marks
    // the run as failed, since a defaulted step may have left the work undone.
    const rt::ErrorPtr broke = rt::withRecovery([&] {
      code = invocation.run();
      std::cout.rdbuf(standardOutput);
      if (cli::errorReported()) return;
      std::cout << held.view() << std::flush;
      if (!std::cout)
        (void)rt::raise(rt::makeError(rt::EG_WRITE, "ZMCCLI", "the output could not be written to standard output",
                                      "WRITE"));
    });
    return broke ? kExitTrouble : code;
  });
  std::cout.rdbuf(standardOutput);
  if (cli::errorReported()) return kExitTrouble;
  return quitCode;
}
