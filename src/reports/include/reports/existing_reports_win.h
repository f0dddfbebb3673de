// The report list: the menu ReportAppMenu, the dialog ExistingReportsWin that lists the layouts
// of the working directory and previews the one picked, and the work of the main window's
// "Existing Reports" command.
//
// "Print It" states: disabled when the dialog opens (template); afterwards enabled exactly while
// the list box has an item selected, set on each selection event. Each press creates one report
// object and closes it before the handler returns; the dialog stays open. A double-click on a
// layout, or Enter on the picked one, presses "Print It".
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/gui.h"

namespace reports {

class ReportAppMenu : public gui::Menu {
 public:
  // The owner is not used by the construction itself.
  explicit ReportAppMenu(gui::Window* owner);
};

class ExistingReportsWin : public gui::DataDialog {
 public:
  // The four standard data-window arguments; the extra value is the array of report names.
  explicit ExistingReportsWin(gui::Owner* owner, const rt::Value& controlId = {}, const rt::Value& server = {},
                              const rt::Value& extra = {});
  ~ExistingReportsWin() override;

  gui::ListBox* oDCAvailableReports = nullptr;
  gui::PushButton* oCCPrintButton = nullptr;
  gui::PushButton* oCCCancelButton = nullptr;

  void PreInit(const gui::InitArgs& args) override;
  void PostInit(const gui::InitArgs& args) override;
  void ListBoxSelect(const gui::ControlEvent& event) override;
  void ListBoxActivate(const gui::ControlEvent& event) override;
  void PrintButton();
  void CancelButton();

  // The list box's current value; the setter puts the value and keeps it in the field.
  rt::Value AvailableReports() const;
  rt::Value AvailableReports(const rt::Value& value);

  const rt::Value& reportNames() const { return reportNames_; }

 private:
  rt::Value reportNames_;
  rt::Value availableReports_;
};

// File names (no path) of the "*.rpt" files of `directory`, in the order the listing gives them.
std::vector<std::string> ListReportFiles(const std::string& directory = ".");

// The main window's "Existing Reports" command: the "No Reports" box when there is no layout,
// otherwise the report list dialog with the names, shown.
void ShowExistingReports(gui::Window* owner);

// While set, ShowExistingReports hands the built dialog to this function instead of showing it.
void setReportListDriver(std::function<void(ExistingReportsWin&)> driver);

}  // namespace reports
