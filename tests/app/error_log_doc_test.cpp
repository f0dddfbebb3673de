// The error-log page shows a real block: the one the program writes when the model table is
// missing at start-up. The test starts the program that way, with the installed error handler
// and its log, and compares the log's first block with the page's example; only the date and
// time line, the working directory and the source line numbers of the call stack may differ.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "app/app.h"
#include "errorsys/errorsys.h"
#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "resources/resources.h"
#include "workflow_support.h"
#include "zorbanectl/zorbanectl.h"

namespace {

class QuickApp : public app::App {
 public:
  using App::App;
  int Exec() override { return 0; }
};

// The lines of the first block of `text` (CR LF or LF ended), from its first line to the rule
// that closes its field list, with what changes from run to run masked: the date and time, the
// working directory and the line numbers of the call stack.
std::vector<std::string> firstBlock(const std::string& text) {
  static const std::regex dateTime(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d$)");
  static const std::regex directory(R"(directory /\S*/)");
  static const std::regex lineNumber(R"(\(Line: \d+\))");
  std::vector<std::string> lines;
  bool inFields = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_match(line, dateTime)) line = "<date> <time>";
    line = std::regex_replace(line, directory, "directory <working directory>/");
    lines.push_back(std::regex_replace(line, lineNumber, "(Line: n)"));
    if (line.rfind("CallFuncSym", 0) == 0) inFields = true;
    if (inFields && line == "--------------------") break;
  }
  return lines;
}

// The first fenced block of the page.
std::string fencedExample(const std::string& page) {
  const auto open = page.find("```\n");
  if (open == std::string::npos) return {};
  const auto close = page.find("```", open + 4);
  return page.substr(open + 4, close == std::string::npos ? std::string::npos : close - open - 4);
}

TEST(ErrorLogPage, ExampleBlockIsWhatTheProgramWritesForAMissingTable) {
  wftest::WorkDir dir;
  std::filesystem::remove(dir.path() / model::kTableName);
  gui::registerWindowClasses();
  ASSERT_TRUE(res::InstallResources());
  zctl::registerControl();
  ole::setStorageDirectories({dir.path().string()});
  app::InstallErrorSys();
  gui::installErrorBox();
  {
    gui::TestResponder responder;  // every box answered with its first choice: Default
    rt::runMain([&] {
      QuickApp application([](app::App& owner) { return std::make_unique<mainwin::ZorbaneWin>(&owner); }, nullptr);
      application.Start();
      return 0;
    });
  }
  rt::setErrorBlock({});
  rt::setToneHandler({});
  ole::setStorageDirectories({});

  const std::string log = wftest::readFile(dir.path() / "APPERROR.LOG");
  const std::vector<std::string> written = firstBlock(log);
  ASSERT_GT(written.size(), 10u);
  const std::vector<std::string> shown = firstBlock(fencedExample(wftest::readFile(std::filesystem::path(ZMC_SOURCE_DIR) / "docs/error-log.md")));
  EXPECT_EQ(shown, written) << "the log written:\n" << log;
}

}  // namespace
