// ExistingReportsWin and ReportAppMenu, and the listing behind "Existing Reports".
#include "reports/existing_reports_win.h"

#include <QWidget>

#include <filesystem>

#include "reportengine/reportengine.h"
#include "reports/rp_printer.h"

namespace reports {

namespace {

std::function<void(ExistingReportsWin&)>& reportListDriver() {
  static std::function<void(ExistingReportsWin&)> driver;
  return driver;
}

// A listing without attribute filter leaves out hidden entries; here those are the dot files.
bool isVisibleReport(const std::string& name) {
  if (name.size() < 4 || name.front() == '.') return false;
  std::string ext = name.substr(name.size() - 4);
  return rt::toUpper(ext) == ".RPT";
}

}  // namespace

ReportAppMenu::ReportAppMenu(gui::Window* /*owner*/) : gui::Menu("ReportAppMenu") {
  RT_FRAME("ReportAppMenu:Init");
  RegisterItem(19200, gui::HyperLabel{"_Reports", "&Reports", "", ""});
  RegisterItem(19201, gui::HyperLabel{"TwExistingReports", "Existing Reports",
                                      "Print or view existing reports, no changes.", ""});
  RegisterItem(19202, gui::HyperLabel{"TwDifferences", "", "See, filter and export the differences of a comparison.", ""});
}

ExistingReportsWin::ExistingReportsWin(gui::Owner* owner, const rt::Value& controlId, const rt::Value& server,
                                       const rt::Value& extra) {
  RT_FRAME("ExistingReportsWin:Init");
  const gui::InitArgs args{owner, controlId, server, extra};
  PreInit(args);
  RT_LINE();
  Init(owner, "ExistingReportsWin", controlId);
  RT_LINE();
  oDCAvailableReports = CreateControl<gui::ListBox>(
      100, gui::HyperLabel{"AvailableReports", "", "Pick one report for previewing and / or printing.", ""});
  if (oDCAvailableReports) {
    oDCAvailableReports->UseHLforToolTip(true);
    oDCAvailableReports->FillUsing(reportNames_);
  }
  oCCPrintButton = CreateControl<gui::PushButton>(101, gui::HyperLabel{"PrintButton", "Print It", "", ""});
  oCCCancelButton = CreateControl<gui::PushButton>(102, gui::HyperLabel{"CancelButton", "Cancel", "", ""});
  Caption("Existing Reports");
  HyperLabel(gui::HyperLabel{"ExistingReportsWin", "Existing Reports",
                             "Listing of existing reports available for print.", ""});
  registerHandler(rt::Symbol("PrintButton"), [this] { PrintButton(); });
  registerHandler(rt::Symbol("CancelButton"), [this] { CancelButton(); });
  RT_LINE();
  PostInit(args);
}

ExistingReportsWin::~ExistingReportsWin() = default;

void ExistingReportsWin::PreInit(const gui::InitArgs& args) {
  RT_FRAME("ExistingReportsWin:PreInit");
  reportNames_ = rt::Value::array();
  reportNames_ = args.extra;
}

void ExistingReportsWin::PostInit(const gui::InitArgs& args) {
  RT_FRAME("ExistingReportsWin:PostInit");
  gui::DataDialog::PostInit(args);
}

void ExistingReportsWin::ListBoxSelect(const gui::ControlEvent& event) {
  RT_FRAME("ExistingReportsWin:ListBoxSelect");
  auto* list = dynamic_cast<gui::ListBox*>(event.control);
  gui::DataDialog::ListBoxSelect(event);
  if (list && list->Name() == "AvailableReports" && oCCPrintButton) {
    if (list->CurrentItemNo() > 0) oCCPrintButton->Enable();
    else oCCPrintButton->Disable();
  }
}

void ExistingReportsWin::ListBoxActivate(const gui::ControlEvent& event) {
  RT_FRAME("ExistingReportsWin:ListBoxActivate");
  gui::DataDialog::ListBoxActivate(event);
  if (event.control == oDCAvailableReports && oCCPrintButton && oCCPrintButton->IsEnabled()) oCCPrintButton->click();
}

void ExistingReportsWin::PrintButton() {
  RT_FRAME("ExistingReportsWin:PrintButton");
  const std::string fileName = oDCAvailableReports ? oDCAvailableReports->CurrentText() : std::string();
  RT_LINE();
  rpt::RpReport report(widget(), fileName);
  if (report.IsValid()) {
    RT_LINE();
    (void)report.PrintPreview("Report Preview & Print", "PRINT.PRN", fileName, "Please Wait...Printing IN Progress",
                              true);
  } else {
    gui::InfoBox(this, "Report Not Loaded",
                 "The report layout \"" + fileName + "\" cannot be previewed.\n\n" + report.errorText());
  }
  report.Close();
}

void ExistingReportsWin::CancelButton() {
  RT_FRAME("ExistingReportsWin:CancelButton");
  Cancel();
}

rt::Value ExistingReportsWin::AvailableReports() const { return FieldGet(rt::Symbol("AvailableReports")); }

rt::Value ExistingReportsWin::AvailableReports(const rt::Value& value) {
  FieldPut(rt::Symbol("AvailableReports"), value);
  availableReports_ = value;
  return value;
}

std::vector<std::string> ListReportFiles(const std::string& directory) {
  RT_FRAME("ListReportFiles");
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (isVisibleReport(name) && !it->is_directory(ec)) names.push_back(name);
  }
  return names;
}

void ShowExistingReports(gui::Window* owner) {
  RT_FRAME("ShowExistingReports");
  registerRpPrinter();
  const std::vector<std::string> files = ListReportFiles(".");
  if (files.empty()) {
    gui::InfoBox(owner, "No Reports", "No Reports were found.");
    return;
  }
  rt::Array names;
  for (const std::string& f : files) names.emplace_back(f);
  ExistingReportsWin dialog(owner, rt::Value(), rt::Value(), rt::Value::array(std::move(names)));
  if (const auto& driver = reportListDriver()) {
    driver(dialog);
    return;
  }
  dialog.Show();
}

void setReportListDriver(std::function<void(ExistingReportsWin&)> driver) {
  reportListDriver() = std::move(driver);
}

}  // namespace reports
