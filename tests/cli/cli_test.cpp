// zorbane-compare-cli run as a user runs it, on a copy of the demo working directory: exit
// codes, the text output, the CSV, JSON and HTML read back and checked against the table and
// the Differences report's own selection, the error log, and a second process holding the table.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <pty.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "model/model.h"
#include "rdd/table.h"
#include "reportengine/layout.h"
#include "reportengine/render.h"
#include "reportengine/reportengine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

struct Outcome {
  int exit = -1;
  std::string out, err;
};

// A fresh copy of the demo folder, the CLI run in it (or elsewhere with -C).
class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zmc-cli-XXXXXX";
    dir = ::mkdtemp(pattern);
    for (const char* name : {"Mpdms.dbf", "OLE29.ctlstate", "zorbane-demo.db", "Differences.rpt"})
      fs::copy_file(fs::path(ZMC_DEMO_DIR) / name, dir / name);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  // Starts the command line `all` in `where` with the streams `actions` gives it; 0 when it
  // could not start.
  static pid_t start(std::vector<std::string> all, const fs::path& where, const posix_spawn_file_actions_t& actions) {
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(where);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = 0;
    fs::current_path(previous);
    return pid;
  }
  static int exitCodeOf(pid_t pid) {
    int status = 0;
    if (pid == 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // `asOtherUser`: run as an unprivileged user, so that permissions hold even when the tests
  // run as root. `standardOutput`: a file in place of the captured output (/dev/full).
  Outcome run(const std::vector<std::string>& args, const fs::path& where = {}, bool asOtherUser = false,
              const fs::path& standardOutput = {}) {
    const fs::path out = standardOutput.empty() ? dir / ".out" : standardOutput, err = dir / ".err";
    std::vector<std::string> all;
    if (asOtherUser && ::geteuid() == 0)
      all = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    all.push_back(ZMC_CLI);
    all.insert(all.end(), args.begin(), args.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Outcome result;
    result.exit = exitCodeOf(start(std::move(all), where.empty() ? dir : where, actions));
    posix_spawn_file_actions_destroy(&actions);
    result.out = standardOutput.empty() ? readFile(out) : std::string();
    result.err = readFile(err);
    return result;
  }
  // The run on a terminal (a pseudo-terminal for standard input, output and error): `out` is
  // what the terminal was sent, both streams as they came.
  Outcome runOnTerminal(const std::vector<std::string>& args) {
    int terminal = -1, device = -1;
    Outcome result;
    if (::openpty(&terminal, &device, nullptr, nullptr, nullptr) != 0) return result;
    std::vector<std::string> all{ZMC_CLI};
    all.insert(all.end(), args.begin(), args.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int stream : {0, 1, 2}) posix_spawn_file_actions_adddup2(&actions, device, stream);
    posix_spawn_file_actions_addclose(&actions, terminal);
    const pid_t pid = start(std::move(all), dir, actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(device);  // the child's copy alone keeps it open: reading ends when the child does
    char buffer[4096];
    for (ssize_t n; pid != 0 && (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
      result.out.append(buffer, static_cast<std::size_t>(n));
    ::close(terminal);
    result.exit = exitCodeOf(pid);
    return result;
  }
  void loadDemo() {
    ASSERT_EQ(run({"load", "Library", "1.0"}).exit, 0);
    ASSERT_EQ(run({"load", "Library Revised Edition", "2.0"}).exit, 0);
  }
  // The rows that differ as the table holds them, one "version|class|member|kind|level" each.
  std::multiset<std::string> differingRowsInTable() {
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    std::multiset<std::string> rows;
    {
      model::Mpdms::Args args;
      args.shared = true;
      model::Mpdms table(args);
      for (table.goTop(); !table.eof(); table.skip())
        if (table.flag(model::Field::COMPARED) && !table.flag(model::Field::ALL_OK)) rows.insert(keyOf(table));
      table.close();
    }
    fs::current_path(previous);
    return rows;
  }
  static std::string trimmed(std::string_view text) { return std::string(text.substr(0, text.find_last_not_of(' ') + 1)); }
  static std::string keyOf(model::Mpdms& table) {
    using model::Field;
    const std::string_view kind = table.str(Field::PROP_METHO);
    const std::string_view level = table.str(Field::INS_CLASS);
    return trimmed(table.str(Field::MODELVERS)) + "|" + trimmed(table.str(Field::CLASSNAME)) + "|" +
           trimmed(table.str(Field::ATTRIBUTE)) + "|" +
           (kind == "P" ? "Property" : kind == "M" ? "Method" : "Class") + "|" +
           (level == "C" ? "Class" : level == "I" ? "Instance" : "");
  }

  fs::path dir;
};

// ---------------------------------------------------------------- arguments

TEST_F(Cli, HelpAndVersionAnswerWithoutTouchingTheFolder) {
  Outcome help = run({"--help"});
  EXPECT_EQ(help.exit, 0);
  for (const char* line : {"compare BASE REF [--reset] [OUTPUT OPTIONS]", "diff BASE REF [OUTPUT OPTIONS]",
                           "--fail-on any|breaking|none"})
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
  Outcome version = run({"--version"});
  EXPECT_EQ(version.exit, 0);
  EXPECT_EQ(version.out.rfind("zorbane-compare-cli ", 0), 0u);
  EXPECT_FALSE(fs::exists(dir / "mpdms1.cdx"));
  EXPECT_FALSE(fs::exists(dir / "APPERROR.LOG"));
}

TEST_F(Cli, WrongArgumentsExitWithTwoAndSayWhy) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"compare", "1.0"}, "compare needs BASE and REF"},
      {{"compare", "1.0", "2.0", "--format", "xml"}, "unknown format 'xml'"},
      {{"compare", "1.0", "2.0", "--output"}, "--output needs a value"},
      {{"compare", "1.0", "2.0", "--fail-on", "some"}, "unknown --fail-on 'some'"},
      {{"diff", "1.0", "2.0", "--reset"}, "unknown option '--reset' for diff"},
      {{"diff", "1.0"}, "diff needs BASE and REF"},
      {{"history"}, "history needs one CLASS"},
      {{"history", "Book", "--order", "random"}, "unknown --order 'random'"},
      {{"history", "Book", "--format", "csv"}, "unknown --format 'csv'"},
      {{"load", "Library"}, "load takes 2 argument(s)"},
      {{"load", "Library", "   "}, "the version must not be empty"},
      {{"zap"}, "confirm with 'zap --yes'"},
      {{"-C"}, "-C needs a directory"},
      {{"-C", "/nonexistent/zmc", "versions"}, "cannot work in '/nonexistent/zmc'"},
  };
  for (const Case& c : cases) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.exit, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

TEST_F(Cli, EveryCommandAnswersItsOwnHelpWithoutTouchingTheFolder) {
  const Outcome general = run({"--help"});
  for (const char* command : {"families", "versions", "load", "compare", "diff", "history", "zap", "reindex"}) {
    EXPECT_NE(general.out.find(std::string("\n  ") + command), std::string::npos) << command;
    for (const std::vector<std::string>& args : {std::vector<std::string>{command, "--help"}, {command, "1.0", "-h"}}) {
      const Outcome r = run(args);
      EXPECT_EQ(r.exit, 0) << command << ": " << r.err;
      EXPECT_EQ(r.out.rfind(std::string("Usage: zorbane-compare-cli [-C DIR] [--verbose] ") + command, 0), 0u) << r.out;
      EXPECT_EQ(r.err, "");
    }
  }
  EXPECT_FALSE(fs::exists(dir / "mpdms1.cdx"));
  EXPECT_FALSE(fs::exists(dir / "APPERROR.LOG"));
}

// ---------------------------------------------------------------- errors and standard output

// The line a failure prints is its one line on standard error; the log holds the whole block.
TEST_F(Cli, EachFailureIsOneLineOnStandardErrorWithItsBlockInTheLog) {
  struct Failure {
    std::string line;  // after "zorbane-compare-cli: cannot "; DIR stands for the folder
    std::vector<std::string> args;
    std::function<void(const fs::path&)> arrange;
    bool asOtherUser = false;
  };
  const auto nothing = [](const fs::path&) {};
  const Failure failures[] = {
      {"load \"Nosuch\" as version 1.0: the database has no class family named \"Nosuch\". Nothing was loaded.",
       {"load", "Nosuch", "1.0"}, nothing},
      {"load \"Library\" as version 3.0: CONNECT: Schema store DIR/zorbane-demo.db does not exist",
       {"load", "Library", "3.0"}, [](const fs::path& d) { fs::remove(d / "zorbane-demo.db"); }},
      {"list the stored versions: table file Mpdms.dbf not found in the current directory DIR/",
       {"versions"}, [](const fs::path& d) { fs::remove(d / "Mpdms.dbf"); }},
      {"rebuild the index: cannot open mpdms1.cdx: Is a directory", {"reindex"}, [](const fs::path& d) {
         fs::remove(d / "mpdms1.cdx");
         fs::create_directory(d / "mpdms1.cdx");
       }},
      {"compare 1.0 with 1.0: the base and the reference version are the same (\"1.0\")", {"compare", "1.0", "1.0"},
       nothing},
      // The table may be written but its index may not: the open says so, not "exclusively".
      {"empty the table: cannot open mpdms1.cdx: Permission denied", {"zap", "--yes"}, [](const fs::path& d) {
         fs::permissions(d, fs::perms::all);
         fs::permissions(d / "Mpdms.dbf", fs::perms::all);
         fs::permissions(d / "mpdms1.cdx", fs::perms::owner_read | fs::perms::others_read);
       }, true},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.args[0]);
    loadDemo();
    f.arrange(dir);
    std::string line = f.line;
    if (const std::size_t folder = line.find("DIR/"); folder != std::string::npos) line.replace(folder, 3, dir.string());
    const Outcome r = run(f.args, {}, f.asOtherUser);
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zorbane-compare-cli: cannot " + line + "\n");
    const std::string log = readFile(dir / "APPERROR.LOG");
    EXPECT_NE(log.find("Error Code:"), std::string::npos) << log;
    EXPECT_NE(log.find(line.substr(line.find(": ") + 2)), std::string::npos) << log;
    TearDown();
    SetUp();
  }
  const Outcome verbose = run({"--verbose", "load", "Nosuch", "1.0"});
  EXPECT_EQ(verbose.err.rfind("zorbane-compare-cli: cannot load \"Nosuch\" as version 1.0: ", 0), 0u) << verbose.err;
  for (const char* part : {"\nError Code:  ARGUMENT ERROR\n", "\nSubsystem: ZMCCLI\n", "\nCallStack: \nCli:Load"})
    EXPECT_NE(verbose.err.find(part), std::string::npos) << part << verbose.err;
}

TEST_F(Cli, EveryCommandExitsTwoWhenItsOutputCannotBeWritten) {
  loadDemo();
  const std::vector<std::string> commands[] = {
      {"--help"},   {"--version"},       {"families"},          {"families", "--help"},          {"versions"},
      {"reindex"}, {"load", "Fleet", "3.0"}, {"compare", "1.0", "2.0"}, {"diff", "1.0", "2.0", "--changes"},
      {"zap", "--yes"}};
  for (const std::vector<std::string>& args : commands) {
    const Outcome r = run(args, {}, false, "/dev/full");
    EXPECT_EQ(r.exit, 2) << args[0] << ": " << r.err;
    EXPECT_NE(r.err.find("zorbane-compare-cli: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cannot write to standard output: No space left on device\n"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

// What a terminal shows of `sent`: carriage returns go back to the line's start, and what is
// written then overwrites; trailing blanks are dropped.
std::vector<std::string> screenLines(const std::string& sent) {
  std::vector<std::string> lines(1);
  std::size_t column = 0;
  for (char c : sent) {
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else {
      std::string& line = lines.back();
      if (column < line.size())
        line[column] = c;
      else
        line += c;
      ++column;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

TEST_F(Cli, OnATerminalTheProgressLineIsWipedBeforeTheResultOrTheError) {
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* progress;  // drawn on the way
    std::string shown;     // the start of the line the terminal shows then
    std::uintmax_t room;   // bytes the table may grow by (ulimit -f); 0 for no limit
  } cases[] = {
      {{"load", "Library", "1.0"}, 0, "Reading 100%", "Loaded 8 classes (32 rows) of Library as version 1.0.", 0},
      {{"load", "Library Revised Edition", "2.0"}, 0, "Reading 100%", "Loaded ", 0},
      {{"compare", "1.0", "2.0"}, 1, "Comparing 100%", "Base 1.0 (Library), reference 2.0 (Library Revised)", 0},
      {{"load", "Fleet", "3.0"}, 2, "Reading ", "zorbane-compare-cli: cannot load \"Fleet\" as version 3.0: ", 1000},
  };
  for (const Case& c : cases) {
    rlimit unlimited{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    rlimit limited = unlimited;
    limited.rlim_cur = fs::file_size(dir / "Mpdms.dbf") + c.room;
    if (c.room) {
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);  // this process writes nothing meanwhile
    }
    const Outcome r = runOnTerminal(c.args);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_EQ(r.exit, c.exit) << r.out;
    EXPECT_NE(r.out.find(c.progress), std::string::npos) << r.out;
    const std::vector<std::string> screen = screenLines(r.out);
    ASSERT_FALSE(screen.empty()) << r.out;
    EXPECT_EQ(screen.front().rfind(c.shown, 0), 0u) << screen.front();
    EXPECT_FALSE(screen.back().empty()) << "a blank line after the result:\n" << r.out;
    for (const std::string& line : screen)
      EXPECT_EQ(line.find('%'), std::string::npos) << "progress left on the screen: " << line;
  }
}

// ---------------------------------------------------------------- the workflow

TEST_F(Cli, FamiliesLoadAndVersionsWithRowCounts) {
  const Outcome families = run({"families"});
  EXPECT_EQ(families.exit, 0);
  EXPECT_EQ(families.out, "Empty Family\nFleet\nLibrary\nLibrary Revised Edition\nLibrary Third\n");
  const Outcome load = run({"load", "Library", "1.0"});
  EXPECT_EQ(load.exit, 0);
  EXPECT_EQ(load.out.rfind("Loaded 8 classes (", 0), 0u) << load.out;
  EXPECT_TRUE(load.err.empty()) << "progress is for terminals only: " << load.err;
  EXPECT_TRUE(fs::exists(dir / "mpdms1.cdx"));
  ASSERT_EQ(run({"load", "Library Revised Edition", "a version longer than fifteen"}).exit, 0);
  const Outcome versions = run({"versions"});
  EXPECT_EQ(versions.exit, 0);
  std::istringstream lines(versions.out);
  std::string first, second, extra;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(first.rfind("1.0\tLibrary\t", 0), 0u) << first;
  EXPECT_EQ(second.rfind("a version longe\tLibrary Revised\t", 0), 0u) << second;  // FAMILYNAME holds 15 characters
  EXPECT_GT(std::stoi(first.substr(first.rfind('\t') + 1)), 8);
}

// Rows are counted in the table's own order; the family named is that of the version's first row
// in order 1, whichever family was loaded first.
TEST_F(Cli, VersionsCountEveryRowAndNameTheFamilyFirstInKeyOrder) {
  auto rowsLoaded = [](const std::string& out) { return std::stoi(out.substr(out.find('(') + 1)); };
  const Outcome fleet = run({"load", "Fleet", "1.0"});  // its first class sorts after Library's
  ASSERT_EQ(fleet.exit, 0) << fleet.err;
  const Outcome library = run({"load", "Library", "1.0", "--append"});
  ASSERT_EQ(library.exit, 0) << library.err;
  const Outcome versions = run({"versions"});
  EXPECT_EQ(versions.exit, 0);
  EXPECT_EQ(versions.out, "1.0\tLibrary\t" + std::to_string(rowsLoaded(fleet.out) + rowsLoaded(library.out)) + "\n");
}

// The window's family list is a sorted list box: by name regardless of case, '_' before letters.
TEST_F(Cli, FamiliesAreListedInTheOrderOfTheWindowsList) {
  const std::string python = "/usr/bin/python3 -c \"import sqlite3; c = sqlite3.connect('" +
                             (dir / "zorbane-demo.db").string() +
                             "'); c.executemany('insert into zfamily (name, position) values (?, ?)', "
                             "[('beta', 90), ('_Zeta', 91)]); c.commit()\"";
  ASSERT_EQ(std::system(python.c_str()), 0);
  const Outcome families = run({"families"});
  EXPECT_EQ(families.exit, 0) << families.err;
  std::size_t previous = 0;
  for (const char* name : {"_Zeta\n", "beta\n", "Empty Family\n", "Fleet\n", "Library\n", "Library Revised Edition\n"}) {
    const std::size_t at = families.out.find(name);
    ASSERT_NE(at, std::string::npos) << name << families.out;
    EXPECT_GE(at, previous) << name << " out of order:\n" << families.out;
    previous = at;
  }
}

TEST_F(Cli, LoadingAFamilyAgainUnderItsVersionIsRefusedUnlessAppended) {
  ASSERT_EQ(run({"load", "Library", "1.0"}).exit, 0);
  const std::string once = run({"versions"}).out;
  const Outcome again = run({"load", "Library", "1.0"});
  EXPECT_EQ(again.exit, 2);
  EXPECT_NE(again.err.find("version 1.0 already holds "), std::string::npos) << again.err;
  EXPECT_NE(again.err.find(" rows of Library; reading it again would store every row twice. Give --append"),
            std::string::npos)
      << again.err;
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(run({"versions"}).out, once);  // nothing was added

  const Outcome appended = run({"load", "Library", "1.0", "--append"});
  EXPECT_EQ(appended.exit, 0) << appended.err;
  const int rowsOnce = std::stoi(once.substr(once.rfind('\t') + 1));
  const std::string twice = run({"versions"}).out;
  EXPECT_EQ(std::stoi(twice.substr(twice.rfind('\t') + 1)), 2 * rowsOnce) << twice;
}

TEST_F(Cli, CompareExitsOneWithTheDifferencesAndZeroForTheSameSchema) {
  loadDemo();
  const Outcome differ = run({"compare", "1.0", "2.0"});
  EXPECT_EQ(differ.exit, 1) << differ.err;
  EXPECT_TRUE(differ.err.empty()) << differ.err;
  EXPECT_EQ(differ.out.rfind("Base 1.0 (Library), reference 2.0 (Library Revised)\n", 0), 0u) << differ.out;
  for (const char* line : {"changed  1.0  LibraryItem.ItemId (Property, Instance, Integer -> Decimal): type differs\n",
                           "changed  2.0  Member.Fine (Method, Class, ",
                           "removed  1.0  Microfilm (Class): class missing\n",
                           "added  2.0  Periodical (Class): class missing\n",
                           "removed  1.0  Book.Pages (Property, Instance, ",
                           "added  2.0  Book.Edition (Property, Instance, ",
                           "changed  1.0  Magazine (Class): parent differs\n"})
    EXPECT_NE(differ.out.find(line), std::string::npos) << line << "\n" << differ.out;

  ASSERT_EQ(run({"load", "Library", "1.1"}).exit, 0);
  const Outcome same = run({"compare", "1.0", "1.1", "--reset"});
  EXPECT_EQ(same.exit, 0) << same.err;
  EXPECT_NE(same.out.find("No differences.\n"), std::string::npos) << same.out;
  // The reset cleared the earlier comparison's flags of every version.
  EXPECT_EQ(differingRowsInTable().size(), 0u);
}

// Version 1.2: the rows of 1.0 and one class more, written straight into the table.
void addVersionWithOneClassMore(const fs::path& dir) {
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  {
    model::Mpdms::Args args;
    args.shared = true;
    model::Mpdms table(args);
    std::vector<std::vector<std::string>> rows;
    for (table.goTop(); !table.eof(); table.skip()) {
      if (table.str(model::Field::MODELVERS).substr(0, 4) != "1.0 ") continue;
      rows.emplace_back();
      for (int f = 1; f <= 7; ++f) rows.back().emplace_back(table.str(static_cast<model::Field>(f)));
    }
    rows.push_back(rows.front());
    rows.back()[1] = "Extra";  // CLASSNAME
    for (const auto& row : rows) {
      table.append();
      table.setStr(model::Field::MODELVERS, "1.2");
      for (int f = 1; f <= 7; ++f) table.setStr(static_cast<model::Field>(f), row[static_cast<std::size_t>(f - 1)]);
    }
    table.close();
  }
  fs::current_path(previous);
}

TEST_F(Cli, TheChangeListAndFailOnSetTheOutputAndTheExitCode) {
  loadDemo();
  addVersionWithOneClassMore(dir);
  ASSERT_EQ(run({"reindex"}).exit, 0);
  struct Case {
    std::vector<std::string> args;
    int exit;
    const char* prints;
  } cases[] = {
      {{"diff", "1.0", "2.0", "--changes"}, 1, "\nLibraryItem.ItemId  type changed  Integer -> Decimal  [breaking]\n"},
      {{"compare", "1.0", "2.0", "--changes"}, 1, "\nMagazine  superclass changed  LibraryItem -> Periodical  [review]\n"},
      {{"diff", "1.0", "2.0", "--fail-on", "breaking"}, 1, "changed  1.0  LibraryItem.ItemId"},
      {{"diff", "1.0", "2.0", "--fail-on", "none"}, 0, "changed  1.0  LibraryItem.ItemId"},
      {{"diff", "1.0", "1.2", "--changes"}, 1, "Changes 1: breaking 0, review 0, additive 1\nExtra  class added  [additive]\n"},
      {{"diff", "1.0", "1.2", "--fail-on", "breaking"}, 0, "added  1.2  Extra"},
      {{"compare", "1.0", "1.2", "--fail-on", "breaking", "--changes", "--format", "csv"}, 0,
       "\r\nExtra,,,,class added,,,,,additive,\r\n"},
  };
  for (const Case& c : cases) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.exit, c.exit) << c.prints << r.err;
    EXPECT_NE(r.out.find(c.prints), std::string::npos) << c.prints << "\n" << r.out;
  }
}

// diff writes nothing: on a folder that cannot be written, every file stays byte for byte, and it
// prints what a compare with --reset of the same pair prints, whatever flags other compares left.
TEST_F(Cli, DiffWritesNothingAndPrintsWhatACompareWithResetPrints) {
  loadDemo();
  ASSERT_EQ(run({"load", "Library", "1.1"}).exit, 0);
  ASSERT_EQ(run({"compare", "1.0", "2.0"}).exit, 1);
  ASSERT_EQ(run({"compare", "1.0", "1.1"}).exit, 0);  // 1.0 now carries the flags of another pair
  std::map<fs::path, std::string> before;
  for (const auto& entry : fs::directory_iterator(dir)) before[entry.path()] = readFile(entry.path());
  for (const auto& [file, bytes] : before) fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);

  const Outcome json = run({"diff", "1.0", "2.0", "--format", "json"}, dir);
  const Outcome changes = run({"diff", "1.0", "2.0", "--changes"}, dir);
  fs::permissions(dir, fs::perms::owner_all);
  for (const auto& [file, bytes] : before) {
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    if (file.filename() != ".out" && file.filename() != ".err") {
      EXPECT_EQ(readFile(file), bytes) << file;
    }
  }
  EXPECT_EQ(json.exit, 1) << json.err;
  const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
  EXPECT_EQ(doc["summary"].toObject()["differing"].toInt(), 21);
  EXPECT_EQ(doc["changes"].toArray().size(), 9);

  const Outcome written = run({"compare", "1.0", "2.0", "--reset", "--format", "json"});
  EXPECT_EQ(written.out, json.out);
  EXPECT_EQ(run({"compare", "1.0", "2.0", "--reset", "--changes"}).out, changes.out);
}

TEST_F(Cli, ExportsHoldTheSameRowsAsTheTableAndTheDifferencesReport) {
  loadDemo();
  EXPECT_EQ(run({"compare", "1.0", "2.0", "--format", "csv", "--output", "d.csv"}).exit, 1);
  const Outcome json = run({"compare", "1.0", "2.0", "--format", "json"});
  EXPECT_EQ(json.exit, 1);
  EXPECT_EQ(run({"compare", "1.0", "2.0", "--format", "html", "--output", (dir / "d.html").string()}).exit, 1);
  const std::multiset<std::string> table = differingRowsInTable();
  ASSERT_FALSE(table.empty());

  // JSON parsed back.
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.out));
  ASSERT_TRUE(doc.isObject()) << json.out;
  std::multiset<std::string> fromJson;
  for (const QJsonValue& v : doc.object()["rows"].toArray()) {
    const QJsonObject r = v.toObject();
    fromJson.insert((r["version"].toString() + "|" + r["class"].toString() + "|" + r["member"].toString() + "|" +
                     r["kind"].toString() + "|" + r["level"].toString())
                        .toStdString());
  }
  EXPECT_EQ(fromJson, table);
  EXPECT_EQ(doc.object()["summary"].toObject()["differing"].toInt(), static_cast<int>(table.size()));

  // CSV read back: no field of the demo needs quoting, so a split at commas reads it.
  std::multiset<std::string> fromCsv;
  std::istringstream csv(readFile(dir / "d.csv"));
  std::string record;
  std::getline(csv, record);
  EXPECT_EQ(record, "version,family,class,member,kind,level,type,counterpart_type,parent,change,verdicts\r");
  while (std::getline(csv, record)) {
    ASSERT_EQ(record.back(), '\r');
    std::vector<std::string> f;
    std::istringstream fields(record.substr(0, record.size() - 1));
    for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
    ASSERT_GE(f.size(), 10u) << record;
    fromCsv.insert(f[0] + "|" + f[2] + "|" + f[3] + "|" + f[4] + "|" + f[5]);
  }
  EXPECT_EQ(fromCsv, table);

  // The report's own selection: the rows its data source passes, printed when ALL_OK is false.
  rpt::InitRpFunctionLibraries();
  const rpt::LayoutResult layout = rpt::parseLayout(readFile(dir / "Differences.rpt"), (dir / "Differences.rpt").string());
  ASSERT_TRUE(layout.layout.has_value()) << layout.error;
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  const std::optional<rpt::RowSet> rows = rpt::loadRows(*layout.layout);
  fs::current_path(previous);
  ASSERT_TRUE(rows.has_value());
  EXPECT_EQ(layout.layout->detail.printWhen, "!ALL_OK");
  std::multiset<std::string> fromReport;
  const auto at = [&](std::size_t row, const char* name) { return rows->value(row, rows->fieldIndex(rt::Symbol(name))); };
  for (std::size_t row = 0; row < rows->size(); ++row) {
    if (at(row, "ALL_OK").asLogical()) continue;
    const std::string kind = trimmed(at(row, "PROP_METHO").asString());
    const std::string level = trimmed(at(row, "INS_CLASS").asString());
    fromReport.insert(trimmed(at(row, "MODELVERS").asString()) + "|" + trimmed(at(row, "CLASSNAME").asString()) + "|" +
                      trimmed(at(row, "ATTRIBUTE").asString()) + "|" +
                      (kind == "P" ? "Property" : kind == "M" ? "Method" : "Class") + "|" +
                      (level == "C" ? "Class" : level == "I" ? "Instance" : ""));
  }
  EXPECT_EQ(fromReport, table);

  // HTML: one page, every differing class named in a group heading.
  const std::string html = readFile(dir / "d.html");
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  for (const std::string& row : table) {
    const std::string className = row.substr(row.find('|') + 1, row.find('|', row.find('|') + 1) - row.find('|') - 1);
    EXPECT_NE(html.find("<th colspan=\"9\">Class " + className + "</th>"), std::string::npos) << className;
  }
}

TEST_F(Cli, ProgressIsDrawnOnStandardErrorWhenItIsATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to give a terminal";
  loadDemo();
  // script(1) runs the command on a pseudo-terminal; standard output goes to a file, so what the
  // transcript shows came through standard error.
  const fs::path transcript = dir / "transcript";
  const std::string command = "script -qec \"" + std::string(ZMC_CLI) + " -C " + dir.string() +
                              " compare 1.0 2.0 >" + (dir / "stdout").string() + "\" " + transcript.string() +
                              " >/dev/null 2>&1";
  (void)std::system(command.c_str());
  const std::string seen = readFile(transcript);
  EXPECT_NE(seen.find("Comparing 100%"), std::string::npos) << seen;
  EXPECT_EQ(readFile(dir / "stdout").find('%'), std::string::npos);
  EXPECT_NE(readFile(dir / "stdout").find("type differs"), std::string::npos);
}

TEST_F(Cli, WorksOnTheFolderGivenWithDashC) {
  const fs::path elsewhere = dir / "elsewhere";
  fs::create_directory(elsewhere);
  EXPECT_EQ(run({"-C", dir.string(), "load", "Library", "1.0"}, elsewhere).exit, 0);
  EXPECT_EQ(run({"-C", dir.string(), "versions"}, elsewhere).out.rfind("1.0\tLibrary\t", 0), 0u);
  EXPECT_FALSE(fs::exists(elsewhere / "mpdms1.cdx"));
}

// ---------------------------------------------------------------- errors

TEST_F(Cli, AVersionWithoutRowsIsAnErrorOnStandardErrorAndInTheLog) {
  loadDemo();
  const Outcome r = run({"compare", "1.0", "9.9"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_NE(r.err.find("Model version \"9.9\" has no rows in the database; nothing was compared."), std::string::npos)
      << r.err;
  const std::string log = readFile(dir / "APPERROR.LOG");
  EXPECT_NE(log.find("Model version \"9.9\" has no rows in the database; nothing was compared."), std::string::npos)
      << log;
  EXPECT_EQ(differingRowsInTable().size(), 0u);  // nothing was compared
  EXPECT_EQ(run({"compare", "1.0", "1.0"}).exit, 2);
}

TEST_F(Cli, AnUnknownFamilyStopsTheLoadWithTwoAndIsLogged) {
  const Outcome r = run({"load", "No Such Family", "1.0"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_FALSE(r.err.empty());
  EXPECT_TRUE(fs::exists(dir / "APPERROR.LOG"));
  EXPECT_NE(readFile(dir / "APPERROR.LOG").find("Cli:Load"), std::string::npos);
}

TEST_F(Cli, ALoadRefusedForItsFamilyOrVersionSaysWhyOnceAndWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"load", "library", "1.0"}, "no class family named \"library\"; did you mean \"Library\"?"},
      {{"load", " Library ", "1.0"}, "did you mean \"Library\"?"},
      {{"load", "Libary", "1.0"}, "did you mean \"Library\"?"},
      {{"load", "NoSuch", "v3"}, "no class family named \"NoSuch\". Nothing was loaded."},
      {{"load", "Library", "v\t1"}, "control character (U+0009)"},
      {{"load", "Library", "Ω1"}, "holds \"Ω\" (U+03A9)"},
  };
  for (const Case& c : cases) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.exit, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("zorbane-compare-cli: "), r.err.rfind("zorbane-compare-cli: ")) << "one error: " << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(run({"versions"}).out, "");
  const Outcome empty = run({"load", "Empty Family", "v4"});
  EXPECT_EQ(empty.exit, 0);
  EXPECT_NE(empty.out.find("No rows were written: Empty Family has no classes."), std::string::npos) << empty.out;
}

TEST_F(Cli, AMissingTableIsAnErrorNotAnEmptyList) {
  fs::remove(dir / "Mpdms.dbf");
  const Outcome r = run({"versions"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_NE(r.err.find("Mpdms.dbf"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST_F(Cli, AnOutputFileThatCannotBeWrittenExitsTwo) {
  loadDemo();
  const Outcome r = run({"compare", "1.0", "2.0", "--format", "json", "--output", (dir / "no" / "such" / "d.json").string()});
  EXPECT_EQ(r.exit, 2);
  EXPECT_NE(r.err.find("d.json"), std::string::npos) << r.err;
}

// ---------------------------------------------------------------- where exports go

// Every file of the folder with its bytes, but for the error log and the run's own output.
std::map<std::string, std::string> folderBytes(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name != "APPERROR.LOG" && name != ".out" && name != ".err" && entry.is_regular_file())
      files[name] = readFile(entry.path());
  }
  return files;
}

TEST_F(Cli, OutputOntoAFileTheProgramWorksOnIsRefusedAndNothingIsTouched) {
  loadDemo();
  fs::create_symlink(dir / "Mpdms.dbf", dir / "link.csv");
  fs::create_hard_link(dir / "zorbane-demo.db", dir / "hard.csv");
  fs::create_directory(dir / "sub");
  const std::string refused = "The differences were not written";
  for (const char* target : {"Mpdms.dbf", "mpdms1.cdx", "OLE29.ctlstate", "zorbane-demo.db", "APPERROR.LOG",
                             "Differences.rpt", "new.RPT", "link.csv", "hard.csv", "sub/../Mpdms.dbf"}) {
    const std::map<std::string, std::string> before = folderBytes(dir);
    const Outcome r = run({"compare", "1.0", "2.0", "--format", "csv", "--output", target});
    EXPECT_EQ(r.exit, 2) << target;
    EXPECT_NE(r.err.find(refused), std::string::npos) << target << ": " << r.err;
    EXPECT_EQ(folderBytes(dir), before) << target;
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
    EXPECT_EQ(readFile(dir / "APPERROR.LOG").find("version,family"), std::string::npos) << target;
  }
  EXPECT_FALSE(fs::exists(dir / "new.RPT"));
  EXPECT_EQ(differingRowsInTable().size(), 0u);  // not even the flags were written
  EXPECT_EQ(run({"versions"}).out.rfind("1.0\tLibrary\t", 0), 0u);
}

TEST_F(Cli, OutputFollowsLinksWritesFifosInPlaceTakesDashForStandardOutputAndIsTheCallersPath) {
  loadDemo();
  fs::create_directory(dir / "real");
  fs::create_symlink(dir / "real" / "target.csv", dir / "out.csv");  // dangling until written
  ASSERT_EQ(run({"compare", "1.0", "2.0", "--format", "csv", "--output", "out.csv"}).exit, 1);
  EXPECT_TRUE(fs::is_symlink(dir / "out.csv"));
  EXPECT_EQ(readFile(dir / "real" / "target.csv").rfind("version,family,", 0), 0u);

  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::string piped;
  std::thread reader([&] { piped = readFile(dir / "pipe"); });
  EXPECT_EQ(run({"compare", "1.0", "2.0", "--format", "csv", "--output", "pipe"}).exit, 1);
  reader.join();
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
  EXPECT_EQ(piped.rfind("version,family,", 0), 0u);

  const Outcome dash = run({"compare", "1.0", "2.0", "--format", "csv", "--output", "-"});
  EXPECT_EQ(dash.exit, 1);
  EXPECT_EQ(dash.out.rfind("version,family,", 0), 0u);
  EXPECT_FALSE(fs::exists(dir / "-"));

  const fs::path caller = dir / "caller";
  fs::create_directory(caller);
  EXPECT_EQ(run({"-C", dir.string(), "compare", "1.0", "2.0", "--format", "csv", "--output", "rel.csv"}, caller).exit, 1);
  EXPECT_TRUE(fs::exists(caller / "rel.csv"));
  EXPECT_FALSE(fs::exists(dir / "rel.csv"));
}

TEST_F(Cli, SaysWhereTheOutputWentWhenStandardErrorIsATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to give a terminal";
  loadDemo();
  const fs::path transcript = dir / "transcript";
  const std::string command = "script -qec \"cd " + dir.string() + " && " + std::string(ZMC_CLI) +
                              " compare 1.0 2.0 --output d.txt\" " + transcript.string() + " >/dev/null 2>&1";
  (void)std::system(command.c_str());
  EXPECT_NE(readFile(transcript).find("differences written to " + (dir / "d.txt").string()), std::string::npos)
      << readFile(transcript);
  EXPECT_EQ(run({"compare", "1.0", "2.0", "--output", "quiet.txt"}).err, "");  // not a terminal: nothing said
}

TEST_F(Cli, AReadOnlyFolderIsListedAndDiffedButLoadCompareReindexAndZapAreRefused) {
  loadDemo();
  char pattern[] = "/tmp/zmc-cli-out-XXXXXX";
  const fs::path elsewhere = ::mkdtemp(pattern);
  fs::permissions(elsewhere, fs::perms::all);
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    fs::permissions(entry.path(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  const std::map<std::string, std::string> before = folderBytes(dir);

  const Outcome versions = run({"versions"}, {}, true);
  EXPECT_EQ(versions.exit, 0) << versions.err;
  EXPECT_EQ(versions.out.rfind("1.0\tLibrary\t", 0), 0u) << versions.out;
  const Outcome diff = run({"diff", "1.0", "2.0", "--format", "csv", "--output", (elsewhere / "d.csv").string()}, {}, true);
  EXPECT_EQ(diff.exit, 1) << diff.err;
  EXPECT_EQ(readFile(elsewhere / "d.csv").rfind("version,family,", 0), 0u);
  for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
           {"load", "Library", "3.0"}, {"compare", "1.0", "2.0"}, {"reindex"}, {"zap", "--yes"}}) {
    const Outcome r = run(refused, {}, true);
    EXPECT_EQ(r.exit, 2) << refused[0];
    EXPECT_NE(r.err.find("is read-only for this user; nothing was changed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": Permission denied;"), std::string::npos) << r.err;
  }
  EXPECT_EQ(folderBytes(dir), before);
  fs::permissions(dir, fs::perms::owner_all);
  fs::remove_all(elsewhere);
}

// ---------------------------------------------------------------- a second process, zap, reindex

// Another process (as the window program does) holds Mpdms.dbf open shared.
class TableHolder {
 public:
  explicit TableHolder(const fs::path& dir) : dir_(dir) {
    std::string program = ZMC_HOLD_TABLE;
    std::string arg = dir.string();
    char* argv[] = {program.data(), arg.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ), 0);
    for (int i = 0; i < 1000 && !fs::exists(dir / "held"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(fs::exists(dir / "held"));
  }
  ~TableHolder() {
    std::ofstream(dir_ / "release") << "release\n";
    int status = 0;
    waitpid(pid_, &status, 0);
  }

 private:
  fs::path dir_;
  pid_t pid_ = 0;
};

TEST_F(Cli, SharedWorkGoesOnWhileAnotherProcessHoldsTheTableButZapIsRefused) {
  loadDemo();
  TableHolder holder(dir);
  EXPECT_EQ(run({"diff", "1.0", "2.0"}).exit, 1);
  EXPECT_EQ(run({"compare", "1.0", "2.0"}).exit, 1);
  EXPECT_EQ(run({"load", "Library", "3.0"}).exit, 0);
  const Outcome zap = run({"zap", "--yes"});
  EXPECT_EQ(zap.exit, 2);
  EXPECT_NE(zap.err.find("Unable to open server exclusively, server has not been zapped!"), std::string::npos) << zap.err;
  EXPECT_NE(run({"versions"}).out.find("3.0\tLibrary\t"), std::string::npos);
}

TEST_F(Cli, ZapEmptiesTheTableAndReindexRebuildsAMissingIndex) {
  loadDemo();
  const Outcome zap = run({"zap", "--yes"});
  EXPECT_EQ(zap.exit, 0) << zap.err;
  EXPECT_EQ(zap.out, "Server was zapped!\n");
  EXPECT_EQ(run({"versions"}).out, "");
  fs::remove(dir / "mpdms1.cdx");
  const Outcome reindex = run({"reindex"});
  EXPECT_EQ(reindex.exit, 0) << reindex.err;
  EXPECT_TRUE(fs::exists(dir / "mpdms1.cdx"));
}

// A limit on the size of the files the process writes (ulimit -f 6) stops a load part-way: the
// rows that fit stay, counted, and the error names the appending rather than the positioning
// that happened to write them.
TEST_F(Cli, AFileSizeLimitKeepsTheRowsThatFitAndTheErrorNamesTheAppend) {
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 6 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);  // inherited by the CLI only: this process writes nothing meanwhile
  const Outcome load = run({"load", "Library", "1.0"});
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(load.exit, 2) << load.out << load.err;
  const std::uintmax_t kept = (fs::file_size(dir / "Mpdms.dbf") - 514) / 210;  // the empty table, then 210 bytes a row
  EXPECT_EQ(kept, 26u) << "the rows that fit in 6 KB";
  EXPECT_EQ(run({"versions"}).out, "1.0\tLibrary\t26\n");
  EXPECT_NE(readFile(dir / "APPERROR.LOG").find("Operation: DBAPPEND"), std::string::npos);
}

// ---------------------------------------------------------------- an index that does not describe the table

// Another program renames a class in place: the index stamp no longer matches the table, the
// compare builds the orders again, says so in the log only, and reports what a compare on a
// fresh index reports.
TEST_F(Cli, AStaleIndexIsRepairedDuringACompareWithAWarningInTheLogOnly) {
  if (std::system("/usr/bin/python3 -c 'import dbf' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-dbf is not installed (scripts/setup installs it)";
  loadDemo();
  const std::string python = "cd '" + dir.string() +
                             "' && /usr/bin/python3 - <<'PYEOF'\nimport dbf\nt = dbf.Table('Mpdms.dbf')\n"
                             "t.open(dbf.READ_WRITE)\nfor r in t:\n"
                             "    if r.modelvers.strip() == '2.0' and r.classname.strip() == 'Book': "
                             "dbf.write(r, classname='Tome')\nt.close()\nPYEOF\n";
  ASSERT_EQ(std::system(python.c_str()), 0);
  const Outcome repairing = run({"compare", "1.0", "2.0", "--reset"});
  EXPECT_EQ(repairing.exit, 1) << repairing.err;
  EXPECT_TRUE(repairing.err.empty()) << repairing.err;
  const std::string log = readFile(dir / "APPERROR.LOG");
  EXPECT_NE(log.find("WARNING"), std::string::npos) << log;
  EXPECT_NE(log.find("did not describe the table"), std::string::npos) << log;
  const Outcome again = run({"compare", "1.0", "2.0", "--reset"});
  EXPECT_EQ(again.exit, 1);
  EXPECT_EQ(repairing.out, again.out);
  EXPECT_NE(again.out.find("Tome"), std::string::npos) << again.out;
}

// Another tool's index file of the same shape (stamp bytes zero) whose first tag keys the class
// before the version, at the same key length: it is built again before the first compare.
TEST_F(Cli, ATagWithAnotherKeyExpressionIsBuiltAgainBeforeTheFirstCompare) {
  loadDemo();
  {
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    auto t = rdd::Table::open(model::kTableName, "");
    ASSERT_TRUE(t && t->openIndex("mpdms1"));
    while (t->orderCount() > 0) t->deleteOrder(1, "mpdms1");
    t->createOrder("MPDMS1", "mpdms1", "CLASSNAME+MODELVERS+PARENTNAME+PROP_METHO+ATTRIBUTE+INS_CLASS");
    t->createOrder("MPDMS2", "mpdms1", "MODELVERS+CLASSNAME+PROP_METHO+ATTRIBUTE+INS_CLASS");
    t->close();
    fs::current_path(previous);
  }
  std::fstream index(dir / "mpdms1.cdx", std::ios::in | std::ios::out | std::ios::binary);
  index.seekp(448);
  index.write(std::string(40, '\0').data(), 40);  // no stamp: as another program writes it
  index.close();
  const Outcome first = run({"compare", "1.0", "2.0", "--reset"});
  EXPECT_EQ(first.exit, 1) << first.err;
  EXPECT_TRUE(first.err.empty()) << first.err;
  EXPECT_EQ(differingRowsInTable().size(), 21u);
  EXPECT_NE(readFile(dir / "APPERROR.LOG").find("keyed CLASSNAME+MODELVERS"), std::string::npos);
  EXPECT_EQ(run({"compare", "1.0", "2.0", "--reset"}).out, first.out);
}

// ---------------------------------------------------------------- nothing on standard output after a failure

TEST_F(Cli, AFailingRunPrintsNothingOnStandardOutput) {
  struct Failure {
    const char* what;
    std::vector<std::string> args;
    std::function<void(const fs::path&)> arrange;
    rlim_t fileSizeLimit;  // 0: none
  };
  const Failure failures[] = {
      {"index file is a folder", {"reindex"}, [](const fs::path& d) {
         fs::remove(d / "mpdms1.cdx");
         fs::create_directory(d / "mpdms1.cdx");
       }, 0},
      {"store missing", {"load", "Library", "3.0"}, [](const fs::path& d) { fs::remove(d / "zorbane-demo.db"); }, 0},
      {"disk full", {"load", "Library", "3.0"}, [](const fs::path&) {}, 1},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.what);
    loadDemo();
    f.arrange(dir);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    if (f.fileSizeLimit) {
      // The child inherits the limit: the table may grow by a few rows only.
      struct rlimit small = old;
      small.rlim_cur = fs::file_size(dir / "Mpdms.dbf") + 2000;
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    const Outcome r = run(f.args);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(r.exit, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(r.err.empty());
    TearDown();  // a fresh copy of the demo folder for the next
    SetUp();
  }
}

}  // namespace

// ---------------------------------------------------------------- history and ignore rules

TEST_F(Cli, HistoryOfAClassThroughFourVersionsInLabelOrderOrAsStored) {
  for (const auto& [family, version] : {std::pair{"Library", "1.0"}, std::pair{"Library", "1.1"},
                                        std::pair{"Library Third", "10.0"}, std::pair{"Library Revised Edition", "2.0"}})
    ASSERT_EQ(run({"load", family, version}).exit, 0);
  const Outcome natural = run({"history", "Magazine"});
  EXPECT_EQ(natural.exit, 0) << natural.err;
  EXPECT_EQ(natural.out, readFile(fs::path(ZMC_GOLDEN_DIR) / "magazine-history.txt"));
  const Outcome stored = run({"history", "Periodical", "--order", "stored"});
  EXPECT_EQ(stored.exit, 0) << stored.err;
  EXPECT_NE(stored.out.find("  10.0  (Library Third)  Periodical\n  2.0  (Library Revised)  Periodical\n"), std::string::npos)
      << stored.out;
  for (const char* line : {"1.1 -> 10.0: 1 change\n  Periodical  class added  [additive]\n",
                           "10.0 -> 2.0: 1 change\n  Periodical.IssueNo  pushed down  Periodical -> Magazine  [breaking]\n",
                           "IssueNo (Property)    .    .    +     -\n"})
    EXPECT_NE(stored.out.find(line), std::string::npos) << line << "\n" << stored.out;

  const Outcome family = run({"history", "Book", "--family", "library", "--format", "json"});
  EXPECT_EQ(family.exit, 0) << family.err;
  const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(family.out)).object();
  EXPECT_EQ(json["format"].toString(), "zmc-history");
  EXPECT_EQ(json["versions"].toArray().size(), 2);
  EXPECT_EQ(json["steps"].toArray().size(), 1);

  const Outcome missing = run({"history", "Spaceship"});
  EXPECT_EQ(missing.exit, 2);
  EXPECT_NE(missing.err.find("class \"Spaceship\" is in none of the 4 versions"), std::string::npos) << missing.err;
}

// Revised Edition (2.0) against the third state (3.0): Member.Joined removed and Member.JoinedOn
// added (breaking, with a rename suggestion), Magazine.IssueNo pulled up into Periodical (review).
TEST_F(Cli, EachIgnoreRuleFormChangesTheOutputAndTheExitCode) {
  ASSERT_EQ(run({"load", "Library Revised Edition", "2.0"}).exit, 0);
  ASSERT_EQ(run({"load", "Library Third", "3.0"}).exit, 0);
  struct Case {
    const char* rules;
    long shown, hidden;
    int exitAny, exitBreaking;
    const char* warning;
  } cases[] = {
      {nullptr, 3, 0, 1, 1, nullptr},
      {"Mem*", 1, 3, 1, 0, nullptr},
      {"* kind=property", 0, 4, 0, 0, nullptr},
      {"Magazine change=pulled-up", 2, 1, 1, 1, nullptr},
      {"* severity=breaking", 2, 2, 1, 0, nullptr},
      {"rename Member.Joined Member.JoinedOn", 2, 0, 1, 1, nullptr},
      {"# one refused line, one applied\nMember sevrity=breaking\nMagazine", 2, 1, 1, 1,
       "zorbane-compare.ignore line 2: unknown word 'sevrity=breaking'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rules ? c.rules : "no ignore file");
    std::error_code ec;
    fs::remove(dir / "zorbane-compare.ignore", ec);
    if (c.rules) std::ofstream(dir / "zorbane-compare.ignore") << c.rules << "\n";
    const Outcome json = run({"diff", "2.0", "3.0", "--format", "json"});
    const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_EQ(doc["changeCounts"].toObject()["total"].toInt(), c.shown) << json.out;
    EXPECT_EQ(doc["hiddenByRules"].toInt(), c.hidden) << json.out;
    EXPECT_EQ(json.exit, c.exitAny) << json.err;
    EXPECT_EQ(run({"diff", "2.0", "3.0", "--fail-on", "breaking"}).exit, c.exitBreaking);
    if (c.rules && !c.warning) {
      EXPECT_FALSE(doc["ignoreRules"].toArray().isEmpty());
      EXPECT_TRUE(json.err.empty()) << json.err;
    }
    if (c.warning) {
      EXPECT_NE(json.err.find(c.warning), std::string::npos) << json.err;
    }
    const Outcome text = run({"diff", "2.0", "3.0", "--changes"});
    if (c.rules) {
      EXPECT_NE(text.out.find(std::to_string(c.hidden) + (c.hidden == 1 ? " change" : " changes") + " hidden by rules"),
                std::string::npos)
          << text.out;
    }
    if (c.rules && std::string_view(c.rules).starts_with("rename")) {
      EXPECT_NE(text.out.find("Member.JoinedOn  renamed  Joined -> JoinedOn  [breaking]\n"), std::string::npos)
          << text.out;
    }
    const Outcome all = run({"diff", "2.0", "3.0", "--format", "json", "--no-ignore"});
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(all.out)).object()["changeCounts"].toObject()["total"].toInt(), 3);
  }
}
