// Start-up of the whole program in a working directory without Mpdms.dbf: the error reaches the
// installed handler while the main window is being built, before it is ever shown.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/app.h"
#include "errorsys/errorsys.h"
#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "resources/resources.h"
#include "runtime/runtime.h"
#include "workflow_support.h"
#include "zorbanectl/zorbanectl.h"

namespace {

// Counts the windows that were shown, so the test can tell whether the error came first.
class ShowCountingWin : public mainwin::ZorbaneWin {
 public:
  explicit ShowCountingWin(gui::Owner* owner, int& shown) : ZorbaneWin(owner), shown_(shown) {}
  void Show() override {
    ++shown_;
    ZorbaneWin::Show();
  }

 private:
  int& shown_;
};

class QuickApp : public app::App {
 public:
  using App::App;
  int Exec() override { return 0; }
};

TEST(StartUpWithoutModelTable, ErrorBoxComesBeforeTheWindowAndTheLogNamesTheTable) {
  wftest::WorkDir dir;
  std::filesystem::remove(dir.path() / "Mpdms.dbf");
  gui::registerWindowClasses();
  ASSERT_TRUE(res::InstallResources());
  zctl::registerControl();
  app::InstallErrorSys();
  gui::installErrorBox();

  gui::TestResponder responder;
  responder.queueAnswer(0x80000000);  // the error box: quit
  int shown = 0;
  int code = rt::runMain([&] {
    QuickApp application([&](app::App& owner) { return std::make_unique<ShowCountingWin>(&owner, shown); },
                         nullptr);
    application.Start();
    return 0;
  });
  rt::setErrorBlock({});

  ASSERT_FALSE(responder.records().empty());
  const gui::BoxRecord& box = responder.records().front();
  EXPECT_EQ(box.kind, gui::BoxRecord::Kind::Error);
  EXPECT_EQ(box.caption, "ERROR");
  EXPECT_NE(box.text.find("Mpdms.dbf"), std::string::npos) << box.text;
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(code, rt::EG_OPEN);

  std::string log = wftest::readFile(dir.path() / "APPERROR.LOG");
  EXPECT_NE(log.find("Filename: Mpdms.dbf\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("FileName        :Mpdms.dbf\r\n"), std::string::npos);
}

}  // namespace
