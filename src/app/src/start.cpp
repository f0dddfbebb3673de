// Start-up: process initialisation and the application object's Start.
#include "app/app.h"

#include "bitmaplib/bitmaplib.h"
#include "errorsys/errorsys.h"
#include "reportengine/reportengine.h"
#include "reports/reports.h"
#include "resources/resources.h"
#include "runtime/runtime.h"

namespace app {

void ProcessInit() {
  RT_FRAME("ProcessInit");
  InstallErrorSys();
  RT_LINE();
  rt::setInternational(rt::InternationalMode::Locale);
  RT_LINE();
  rpt::_RPInitGetFormFunction();
  rpt::_InitErrorHandler();
  rpt::rpGetDefaultFont();
  rpt::InitRpFunctionLibraries();
  rpt::InitRpEvalObject();
  rpt::InitRpDataSourceList();
  reports::registerRpPrinter();
  RT_LINE();
  gui::registerWindowClasses();
  gui::installErrorBox();
  res::InstallResources();
  RT_LINE();
  (void)bmp::loadSupportLibrary("zmcbitmap");
}

App::App(MainWindowFactory mainWindow, MenuFactory menu)
    : makeMainWindow_(std::move(mainWindow)), makeMenu_(std::move(menu)) {}

App::~App() = default;

void App::Start() {
  RT_FRAME("App:Start");
  rt::rddInfo(111, true);
  RT_LINE();
  rt::setCollation(rt::Collation::FixedByteOrder);
  rt::setExclusive(false);
  rt::setDeleted(true);
  rt::setCentury(true);
  RT_LINE();
  int year = 0, month = 0, day = 0;
  rt::splitDate(rt::today(), year, month, day);
  rt::setEpoch(rt::checkedYearMinus(year, 50));
  RT_LINE();
  rt::setInternational(rt::InternationalMode::Fixed);
  rt::setAmPm(false);
  rt::setPMExt("");

  RT_LINE();
  mainWindow_ = makeMainWindow_(*this);
  if (!mainWindow_) return;
  RT_LINE();
  mainWindow_->Icon(res::ZORBANE_ICON());
  mainWindow_->IconSm(res::ZORBANE_ICON());
  RT_LINE();
  if (makeMenu_) mainWindow_->Menu(makeMenu_(*mainWindow_));
  mainWindow_->Caption("Zorbane Model Compare Utility - Tarnwell");
  RT_LINE();
  (void)mainWindow_->dispatch(rt::Symbol("InitialIndexBuild"));
  RT_LINE();
  mainWindow_->Show();
  RT_LINE();
  Exec();
}

}  // namespace app
