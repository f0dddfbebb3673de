// Fonts need a GUI application object, and dialogs a widgets one; a test program that draws
// compiles this file in (with ZMC_TEST_WIDGETS_APP defined when it needs widgets), and the
// application is made, offscreen, before any test runs.
#ifdef ZMC_TEST_WIDGETS_APP
#include <QApplication>
using TestApp = QApplication;
#else
#include <QGuiApplication>
using TestApp = QGuiApplication;
#endif

namespace {
const bool kAppReady = [] {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  new TestApp(argc, argv);
  return true;
}();
}  // namespace
