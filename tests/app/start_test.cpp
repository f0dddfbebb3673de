// Start-up: the settings Start leaves behind, the order in which it decorates and shows the main
// window, the running window's caption.
#include <gtest/gtest.h>

#include "app/app.h"
#include "reports/reports.h"
#include "resources/resources.h"
#include "runtime/runtime.h"

namespace {

// A main window that records what Start does to it, built on the real template.
class RecordingWin : public gui::DataWindow {
 public:
  explicit RecordingWin(std::vector<std::string>& log) : log_(log) {
    Init(nullptr, "ZORBANEWIN");
    Caption("Load Database with Zorbane Class Structures");
    registerHandler("InitialIndexBuild", [this] { log_.push_back("InitialIndexBuild:" + Caption()); });
    log_.push_back("constructed");
  }
  void Show() override {
    log_.push_back("Show:" + Caption() + (Icon().isNull() ? "" : ":icon") + (Menu() ? ":menu" : ""));
  }

 private:
  std::vector<std::string>& log_;
};

// Exec returns at once and records the state the loop would run with.
class TestApp : public app::App {
 public:
  using app::App::App;
  int Exec() override {
    execCaption = MainWindow() ? MainWindow()->Caption() : "";
    return 0;
  }
  std::string execCaption;
};

class StartUp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::registerWindowClasses();
    ASSERT_TRUE(res::InstallResources());
  }
  void run() {
    TestApp application([this](app::App&) { return std::make_unique<RecordingWin>(log); },
                        [](gui::DataWindow& owner) { return std::make_shared<reports::ReportAppMenu>(&owner); });
    application.Start();
    execCaption = application.execCaption;
  }
  std::vector<std::string> log;
  std::string execCaption;
};

TEST_F(StartUp, RunningWindowCarriesTheProgramCaptionIconAndMenu) {
  run();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], "constructed");
  EXPECT_EQ(log[1], "InitialIndexBuild:Zorbane Model Compare Utility - Tarnwell");
  EXPECT_EQ(log[2], "Show:Zorbane Model Compare Utility - Tarnwell:icon:menu");
  EXPECT_EQ(execCaption, "Zorbane Model Compare Utility - Tarnwell");
}

TEST_F(StartUp, SettingsAreFixedWhateverTheLocaleModeBefore) {
  rt::setInternational(rt::InternationalMode::Locale);
  rt::setAmPm(true);
  rt::setPMExt("pm");
  rt::setExclusive(true);
  run();
  const rt::Settings& s = rt::settings();
  EXPECT_TRUE(rt::rddInfo(111).asLogical());
  EXPECT_FALSE(s.exclusive);
  EXPECT_TRUE(s.deleted);
  EXPECT_FALSE(s.century);
  EXPECT_EQ(s.dateFormat, "MM/DD/YY");
  EXPECT_EQ(s.decimalSep, '.');
  EXPECT_EQ(s.thousandsSep, ',');
  EXPECT_EQ(s.timeSep, ':');
  EXPECT_FALSE(s.amPm);
  EXPECT_EQ(s.amExt, "");
  EXPECT_EQ(s.pmExt, "");
  EXPECT_EQ(s.decimals, 2);
  EXPECT_EQ(s.collation, rt::Collation::FixedByteOrder);
  EXPECT_EQ(s.international, rt::InternationalMode::Fixed);
  int year = 0, month = 0, day = 0;
  rt::splitDate(rt::today(), year, month, day);
  EXPECT_EQ(s.epoch, year - 50);
  EXPECT_EQ(rt::dtoc(rt::makeDate(1999, 7, 4)), "07/04/99");
  EXPECT_EQ(rt::formatNumber(1234.5, -1, true), "1,234.50");
}

// The three error tones reach the window system once the process is initialised; a test
// responder records them instead of ringing the bell.
TEST(ProcessInit, InstallsTheToneGenerator) {
  app::ProcessInit();
  gui::TestResponder responder;
  rt::tone(440, 1);
  rt::tone(494, 1);
  EXPECT_EQ(responder.tones(), (std::vector<std::pair<int, int>>{{440, 1}, {494, 1}}));
  rt::setToneHandler({});
  rt::setErrorBlock({});
  rt::setErrorBoxHandler({});
  rt::setMessageBoxHandler({});
}

}  // namespace
