// The program's entry: process initialisation, then the application object's Start.
// `--help` and `--version` print and end before any window or file is touched; a start in a
// folder without the model table says what the folder needs, in a box and on standard error.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "first_run.h"
#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "reports/reports.h"
#include "runtime/runtime.h"
#include "zorbanectl/zorbanectl.h"

namespace {

bool asked(int argc, char** argv, const char* option) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], option) == 0) return true;
  return false;
}

// Whether the toolkit has somewhere to show the window: a display, or a platform chosen by name.
bool hasDisplay(int argc, char** argv) {
  for (const char* setting : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* value = std::getenv(setting); value && *value) return true;
  return asked(argc, argv, "-platform") || asked(argc, argv, "--platform");
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();
  if (asked(argc, argv, "--help") || asked(argc, argv, "-h")) {
    std::fputs(app::usageText().c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
  }
  if (asked(argc, argv, "--version")) {
    std::printf("zorbane-compare %s\n", ZMC_VERSION);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 2;
  }
  if (!hasDisplay(argc, argv)) {
    std::fputs("zorbane-compare: there is no display to open the window on (DISPLAY is not set); "
               "zorbane-compare-cli does the same work without a window\n",
               stderr);
    return 1;
  }
  QApplication qt(argc, argv);
  QApplication::setApplicationVersion(ZMC_VERSION);
  if (auto problem = app::workingFolderProblem(std::filesystem::current_path(), ole::storageDirectories())) {
    std::fprintf(stderr, "zorbane-compare: %s\n", problem->c_str());
    gui::messageBox(nullptr, "No Model Table", *problem, gui::kBoxOk | gui::kBoxIconExclamation);
    return 1;
  }
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
