// Fonts need a GUI application object, and the report list's dialogs a widgets one; the tests
// make it, offscreen, before any test runs.
#include <QApplication>

namespace {
const bool kAppReady = [] {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
  return true;
}();
}  // namespace
