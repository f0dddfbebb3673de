// The application shell's start-up: process initialisation in its fixed order, the application
// object App whose Start fixes the run-time settings, builds and decorates the main window and
// runs the message loop. GUI thread only; App owns the main window for the life of the message
// loop.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "gui/gui.h"

namespace app {

// Process initialisation, before the application object exists: error handling, locale-mode
// international settings, the report engine (with the program's printer device), the window
// classes (and the program's resources), the bitmap support library.
void ProcessInit();

class App : public gui::App {
 public:
  // Builds the main window with the application object as its owner (Start's step 10).
  using MainWindowFactory = std::function<std::unique_ptr<gui::DataWindow>(App& owner)>;
  // Builds the main window's menu with the window as its owner (Start's step 12).
  using MenuFactory = std::function<std::shared_ptr<gui::Menu>(gui::DataWindow& owner)>;

  App(MainWindowFactory mainWindow, MenuFactory menu);
  ~App() override;

  // Fixes the run-time settings, builds, decorates and shows the main window, runs the loop.
  void Start();
  gui::DataWindow* MainWindow() const { return mainWindow_.get(); }

 private:
  MainWindowFactory makeMainWindow_;
  MenuFactory makeMenu_;
  std::unique_ptr<gui::DataWindow> mainWindow_;
};

}  // namespace app
