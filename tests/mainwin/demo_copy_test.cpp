// The demo's working copy: the real window loads a family in the copy that scripts/demo-workdir
// makes for scripts/run-demo, the tracked demo/ stays as shipped, the next run finds the version
// loaded before, and --fresh starts again from the shipped demo.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "window_fixture.h"

namespace {

const std::filesystem::path kSource = ZMC_SOURCE_DIR;

// Runs a shell command; answers its standard output, or nullopt when it failed.
std::optional<std::string> output(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string text;
  std::array<char, 4096> buffer{};
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) text.append(buffer.data(), n);
  if (::pclose(pipe) != 0) return std::nullopt;
  return text;
}

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// The working copy for the build directory `build`, made or reused by the script.
std::filesystem::path workingCopy(const std::filesystem::path& build, bool fresh = false) {
  auto printed = output("bash " + quoted(kSource / "scripts/demo-workdir") + (fresh ? " --fresh " : " ") + quoted(build));
  EXPECT_TRUE(printed);
  if (!printed) return {};
  while (!printed->empty() && printed->back() == '\n') printed->pop_back();
  return *printed;
}

// The program's window started in `work` as the demo runs it.
class DemoSession {
 public:
  explicit DemoSession(const std::filesystem::path& work) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(work);
    ole::setStorageDirectories({work.string()});
    win = std::make_unique<mainwin::ZorbaneWin>(nullptr);
    win->InitialIndexBuild(false);
    win->Show();
  }
  ~DemoSession() {
    win.reset();
    ole::setStorageDirectories({});
    std::filesystem::current_path(previous_);
  }
  std::vector<std::string> versions() const {
    std::vector<std::string> shown;
    for (int i = 1; i <= win->oBaseModel->ItemCount(); ++i) shown.push_back(win->oBaseModel->GetItem(i));
    return shown;
  }
  gui::TestResponder responder;
  wftest::ErrorRecorder errors;
  std::unique_ptr<mainwin::ZorbaneWin> win;

 private:
  std::filesystem::path previous_;
};

TEST(DemoWorkingCopy, LoadLeavesTheTrackedDemoCleanAndSurvivesTheNextRun) {
  const std::string status = "git -C " + quoted(kSource) + " status --porcelain --ignored -- demo";
  const auto before = output(status);
  if (!before) GTEST_SKIP() << "the sources are not a git work tree";
  gui::registerWindowClasses();
  ASSERT_TRUE(res::InstallResources());
  zctl::registerControl();

  char pattern[] = "/tmp/zmc-demo-build-XXXXXX";
  const std::filesystem::path build = ::mkdtemp(pattern);
  const std::filesystem::path work = workingCopy(build);
  ASSERT_EQ(work, build / "demo-run");
  {
    DemoSession session(work);
    EXPECT_TRUE(session.versions().empty());
    session.win->ModelName("1.0");
    gui::ComboBox* families = session.win->oClassFamilyName;
    for (int i = 1; i <= families->ItemCount(); ++i)
      if (families->GetItem(i) == "Library") families->pick(i);
    ASSERT_EQ(session.win->ChosenFamily, "Library");
    session.win->oPbExecute->click();
    ASSERT_FALSE(session.responder.records().empty());
    EXPECT_EQ(session.responder.records().back().caption, "Finished");
    session.win->oPbExit->click();
    EXPECT_TRUE(session.errors.errors.empty());
  }
  EXPECT_EQ(output(status), before);  // nothing changed or added under demo/, ignored files included

  EXPECT_EQ(workingCopy(build), work);
  {
    DemoSession session(work);
    EXPECT_EQ(session.versions(), std::vector<std::string>{wftest::v15("1.0")});
  }
  EXPECT_EQ(workingCopy(build, true), work);
  {
    DemoSession session(work);
    EXPECT_TRUE(session.versions().empty());
  }
  std::filesystem::remove_all(build);
}

}  // namespace
