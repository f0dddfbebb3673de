// The program's entry: process initialisation, then the application object's Start.
#include <QApplication>

#include "app/app.h"
#include "mainwin/mainwin.h"
#include "reports/reports.h"
#include "runtime/runtime.h"
#include "zorbanectl/zorbanectl.h"

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
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
