// The program run as a user first runs it, as a child process: --help and --version answer on
// standard output without a window, and a start without a display says so in a sentence.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit = -1;
  std::string out, err;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the program with `arguments` (shell words) in a fresh folder, with no display at all.
Outcome runWithoutDisplay(const std::string& arguments) {
  const fs::path folder = fs::temp_directory_path() / ("zmc_program_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string command = "cd '" + folder.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                              ZMC_PROGRAM + "' " + arguments + " >out 2>err </dev/null";
  const int status = std::system(command.c_str());
  Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(folder / "out"),
                  readFile(folder / "err")};
  fs::remove_all(folder);
  return outcome;
}

TEST(Program, HelpVersionAndAMissingDisplayAnswerInWordsWithoutAWindow) {
  struct Case {
    std::string arguments;
    int exit;
    std::string outStart, errHolds;
  };
  const Case cases[] = {
      {"--help", 0, "Usage: zorbane-compare [--help | --version]\n", ""},
      {"-h", 0, "Usage: zorbane-compare", ""},
      {"--version", 0, "zorbane-compare " ZMC_VERSION "\n", ""},
      {"", 1, "", "zorbane-compare: there is no display to open the window on"},
  };
  for (const Case& c : cases) {
    const Outcome got = runWithoutDisplay(c.arguments);
    EXPECT_EQ(got.exit, c.exit) << c.arguments << "\n" << got.err;
    EXPECT_EQ(got.out.substr(0, c.outStart.size()), c.outStart) << c.arguments;
    if (c.errHolds.empty())
      EXPECT_EQ(got.err, "") << c.arguments;
    else
      EXPECT_NE(got.err.find(c.errHolds), std::string::npos) << c.arguments << "\n" << got.err;
  }
}

}  // namespace
