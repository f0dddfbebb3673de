// The program's entry: process initialisation, then the application object's Start.
// `zorbane-compare --version` prints the version and ends before any window or file is touched.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "mainwin/mainwin.h"
#include "reports/reports.h"
#include "runtime/runtime.h"
#include "zorbanectl/zorbanectl.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("zorbane-compare %s\n", ZMC_VERSION);
    return 0;
  }
  QApplication qt(argc, argv);
  QApplication::setApplicationVersion(ZMC_VERSION);
  return rt::runMain([] {
    app::ProcessInit();
    zctl::registerControl();
    app::App application(
        [](app::App& owner) { return std::make_unique<mainwin::ZorbaneWin>(&owner); },
        [](gui::DataWindow& owner) { return std::make_shared<reports::ReportAppMenu>(&owner); });
    application.Start();
    return rt::exitCode();
  });
}
