// The main window's test fixture: the real window offscreen over a working directory of its own,
// the real table driver and the control stand-in, errors recorded and boxes answered by the test
// responder; with helpers to load, pick and compare as the user does, a proxy that makes one
// member of the control fail, and a second process that holds the model table open.
#pragma once
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "resources/resources.h"
#include "workflow_support.h"
#include "zorbanectl/zorbanectl.h"

extern char** environ;

namespace wftest {

using mainwin::ZorbaneWin;

inline std::string v15(const std::string& version) { return workflow::fullWidthVersion(version); }

// The number of the list's item that reads `text` (a test failure when there is none).
inline int itemOf(const gui::ListControl* list, const std::string& text) {
  for (int i = 1; i <= list->ItemCount(); ++i)
    if (list->GetItem(i) == text) return i;
  ADD_FAILURE() << "no item " << text;
  return 0;
}

// Reads a family as the user does: version typed, family picked, Read Class Structure pressed.
inline void loadThroughWindow(ZorbaneWin& win, const std::string& family, const std::string& version) {
  win.ModelName(version);
  win.oClassFamilyName->pick(itemOf(win.oClassFamilyName, family));
  ASSERT_TRUE(win.oPbExecute->IsEnabled());
  win.oPbExecute->click();
}

// Forwards every call to the control's objects and fails the n-th call of one member, the way a
// connection lost in the middle of a walk would.
class FailingProxy : public rt::Object {
 public:
  FailingProxy(rt::ObjectPtr inner, std::string member, std::shared_ptr<int> callsLeft)
      : inner_(std::move(inner)), member_(std::move(member)), left_(std::move(callsLeft)) {}
  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override {
    check(member);
    return wrap(inner_->send(member, args));
  }
  rt::Value get(rt::Symbol member) override {
    check(member);
    return wrap(inner_->get(member));
  }
  rt::Value put(rt::Symbol member, const rt::Value& value) override { return inner_->put(member, value); }

 private:
  void check(rt::Symbol member) {
    if (rt::toUpper(member.name()) != member_ || --*left_ != 0) return;
    auto e = rt::makeError(rt::EG_OLE, "ZORBANE", "connection lost", member_);
    (void)rt::raise(e);
  }
  rt::Value wrap(const rt::Value& v) {
    if (!v.isObject() || !v.asObject()) return v;
    return rt::Value(std::make_shared<FailingProxy>(v.asObject(), member_, left_));
  }
  rt::ObjectPtr inner_;
  std::string member_;
  std::shared_ptr<int> left_;
};

class Workflow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::registerWindowClasses();
    ASSERT_TRUE(res::InstallResources());
    zctl::registerControl();
  }
  void SetUp() override { ole::setStorageDirectories({dir.path().string()}); }
  void TearDown() override {
    win.reset();
    ole::setStorageDirectories({});
  }

  // Start-up as the application does it: construct, build a missing index, show.
  void start() {
    win = std::make_unique<ZorbaneWin>(nullptr);
    win->InitialIndexBuild(false);
    win->Show();
  }
  static int itemOf(const gui::ListControl* list, const std::string& text) { return wftest::itemOf(list, text); }
  void load(const std::string& family, const std::string& version) { loadThroughWindow(*win, family, version); }
  void pickVersions(const std::string& base, const std::string& ref) {
    win->oBaseModel->pick(itemOf(win->oBaseModel, v15(base)));
    win->oRefModel->pick(itemOf(win->oRefModel, v15(ref)));
  }
  void compare(const std::string& base, const std::string& ref) {
    pickVersions(base, ref);
    ASSERT_TRUE(win->oPbCompareModels->IsEnabled());
    win->oPbCompareModels->click();
  }
  model::Mpdms& table() { return *win->ModelServer; }
  const gui::BoxRecord& lastBox() {
    static const gui::BoxRecord none;
    return responder.records().empty() ? none : responder.records().back();
  }
  void expectUsable() {
    for (gui::PushButton* b : {win->oPbExecute, win->oPbExit, win->oPbZapDbf}) EXPECT_TRUE(b->IsEnabled()) << b->Name();
    EXPECT_EQ(win->Pointer(), gui::Pointer::Arrow);
    EXPECT_EQ(win->oProgressBar->Position(), 0);
    ASSERT_TRUE(win->ModelServer);
    EXPECT_TRUE(win->ModelServer->used());
    EXPECT_EQ(win->ModelServer->lSharedMode(), true);
  }

  wftest::WorkDir dir;
  wftest::ErrorRecorder errors;
  gui::TestResponder responder;
  std::unique_ptr<ZorbaneWin> win;
};

class Compared : public Workflow {
 protected:
  void SetUp() override {
    Workflow::SetUp();
    start();
    load("Base Fam", "1.0");
    load("Ref Fam", "2.0");
  }
};

// Starts a second process that holds Mpdms.dbf open until released.
class TableHolder {
 public:
  explicit TableHolder(const std::filesystem::path& dir) : dir_(dir) {
    std::string program = ZMC_HOLD_TABLE;
    std::string arg = dir.string();
    char* argv[] = {program.data(), arg.data(), nullptr};
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ), 0);
    for (int i = 0; i < 1000 && !std::filesystem::exists(dir / "held"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(dir / "held"));
  }
  ~TableHolder() {
    std::ofstream(dir_ / "release") << "release\n";
    int status = 0;
    waitpid(pid_, &status, 0);
  }

 private:
  std::filesystem::path dir_;
  pid_t pid_ = 0;
};

}  // namespace wftest
