// Fonts need a GUI application object; the tests make one, offscreen, before any test runs.
#include <QGuiApplication>

namespace {
const bool kAppReady = [] {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
  return true;
}();
}  // namespace
