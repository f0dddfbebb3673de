#include "help.h"

#include <cstddef>

namespace cli {
namespace {

// The commands as data: the general usage lists them, `COMMAND --help` prints one of them.
struct CommandHelp {
  const char* name;
  const char* synopsis;  // after the program's name and its options
  const char* summary;   // the general usage's lines, each line ending in '\n'
  const char* details;   // the command's own help, after its synopsis
  bool outputOptions;    // takes the output options of the differences
};

constexpr const char* kOutputOptions =
    "  --format text|csv|json|html  how to print the differences (text by default)\n"
    "  --output FILE                write them to FILE instead of standard output\n"
    "  --changes                    text and CSV: list one change a line instead of the differing rows\n"
    "  --fail-on any|breaking|none  when to exit with 1: any difference (the default), a breaking\n"
    "                               change, or never\n"
    "  --no-ignore                  do not apply the rules of zorbane-compare.ignore\n";

constexpr const char* kIgnoreRules =
    "Ignore rules: the changes that zorbane-compare.ignore in the working directory hides are left\n"
    "out of the output and of --fail-on; a line it cannot read is told on standard error and skipped.\n";

constexpr const char* kCompareExit =
    "Exit status: 0 no differences (none that --fail-on counts); 1 the versions differ; 2 an error.\n";
constexpr const char* kPlainExit = "Exit status: 0 done; 2 an error.\n";

constexpr CommandHelp kCommands[] = {
    {"families", "families", "list the class families of the database\n",
     "Lists the class families of the database (zorbane-demo.db), one a line, sorted as the window\n"
     "lists them: by name regardless of case.\n", false},
    {"versions", "versions", "list the stored versions: version, family, rows (tab-separated)\n",
     "Lists the versions stored in Mpdms.dbf, one a line: the version, the family of its first row\n"
     "and its number of rows, separated by tabs. Works on a read-only table too.\n", false},
    {"load", "load FAMILY VERSION [--append]",
     "read FAMILY into the table as VERSION (up to 15 characters);\n"
     "a VERSION that holds FAMILY's rows already needs --append\n",
     "Reads the class family FAMILY of the database into Mpdms.dbf as VERSION (up to 15 characters).\n"
     "\n"
     "  --append     add the rows even when VERSION holds FAMILY's rows already (each row is then\n"
     "               stored twice); without it such a load is refused\n", false},
    {"compare", "compare BASE REF [--reset] [OUTPUT OPTIONS]",
     "compare two stored versions, store the flags, print the differences\n",
     "Compares the stored versions BASE and REF, stores the flags in Mpdms.dbf as the window's\n"
     "compare does, rebuilds the index and prints the differences.\n"
     "\n"
     "  --reset      clear the flags of every row first\n", true},
    {"diff", "diff BASE REF [OUTPUT OPTIONS]",
     "print the differences a compare with --reset would find, writing\n"
     "nothing (the table may be read-only or open elsewhere)\n",
     "Prints the differences a compare with --reset would find, writing nothing: the table may be\n"
     "read-only or open elsewhere, and every file stays as it was.\n", true},
    {"history", "history CLASS [--family FAMILY] [--format text|json] [--order stored] [--no-ignore]",
     "the changes of CLASS between each two consecutive versions, and\n"
     "its members version by version (writes nothing); versions in\n"
     "natural order of their labels (1.9 before 1.10), or as first stored\n",
     "Prints the changes of CLASS between each two consecutive stored versions, and its members\n"
     "version by version; writes nothing.\n"
     "\n"
     "  --family FAMILY        only the versions of FAMILY\n"
     "  --format text|json     how to print the history (text by default)\n"
     "  --order stored         versions as first stored, instead of in the natural order of their\n"
     "                         labels (1.9 before 1.10)\n"
     "  --no-ignore            do not apply the rules of zorbane-compare.ignore\n",
     false},
    {"zap", "zap --yes", "empty the table (it must not be open elsewhere)\n",
     "Empties Mpdms.dbf; the table must not be open elsewhere.\n"
     "\n"
     "  --yes        confirm (required)\n", false},
    {"reindex", "reindex", "rebuild the table's index file\n", "Builds the table's index file mpdms1.cdx again.\n",
     false},
};

}  // namespace

std::string generalHelp() {
  constexpr std::size_t kSummaryColumn = 31;
  std::string text =
      "Usage: zorbane-compare-cli [-C DIR] [--verbose] COMMAND [ARGUMENTS]\n"
      "\n"
      "Works on Mpdms.dbf, its index, OLE29.ctlstate and APPERROR.LOG of the working directory,\n"
      "or of DIR with -C DIR. The table is opened shared, so the window program may have it open.\n"
      "\n"
      "Commands (COMMAND --help tells more):\n";
  for (const CommandHelp& command : kCommands) {
    std::string line = std::string("  ") + command.synopsis;
    line += line.size() < kSummaryColumn ? std::string(kSummaryColumn - line.size(), ' ')
                                         : "\n" + std::string(kSummaryColumn, ' ');
    for (const char* c = command.summary; *c; ++c) {
      line += *c;
      if (*c == '\n' && c[1]) line += std::string(kSummaryColumn, ' ');
    }
    text += line;
  }
  return text + "\nOutput options of compare and diff:\n" + kOutputOptions + "\n" + kIgnoreRules +
         "\n"
         "Options:\n"
         "  -C DIR       work in DIR\n"
         "  --verbose    tell each error with its whole block, as APPERROR.LOG holds it\n"
         "  --help       show this text\n"
         "  --version    show the program's version\n"
         "\n"
         "Exit status: 0 done, or no differences (none that --fail-on counts); 1 the versions differ;\n"
         "2 an error (one line on standard error, its whole block in APPERROR.LOG).\n";
}

std::optional<std::string> commandHelp(const std::string& name) {
  for (const CommandHelp& command : kCommands)
    if (name == command.name)
      return std::string("Usage: zorbane-compare-cli [-C DIR] [--verbose] ") + command.synopsis + "\n\n" +
             command.details +
             (command.outputOptions ? std::string("\nOutput options:\n") + kOutputOptions + "\n" + kIgnoreRules
                                    : std::string()) +
             "\n" +
             (command.outputOptions ? kCompareExit : kPlainExit);
  return std::nullopt;
}

}  // namespace cli
