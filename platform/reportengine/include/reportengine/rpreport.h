// RpReport: one loaded report layout, previewed, printed and exported; and the preview window.
//
// States of a report: Invalid (the layout could not be read; IsValid false, the reason in
// errorText), Ready (layout read; IsValid true), Closed (after Close; every operation does
// nothing). Construction moves to Invalid or Ready; Close to Closed. Construction never raises
// for a bad layout and never throws: it always yields an object. The data source is read each
// time pages are produced, so a preview shows the table as it stands.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "reportengine/layout.h"
#include "reportengine/render.h"

class QWidget;

namespace rpt {

class PreviewWindow;

class RpReport : public rt::Object {
 public:
  // `owner` is the window the preview belongs to (may be null); `fileName` is relative to the
  // working directory.
  RpReport(QWidget* owner, const std::string& fileName);
  ~RpReport() override;
  std::string className() const override { return "RPREPORT"; }

  bool IsValid() const { return !closed_ && layout_.has_value(); }
  const std::string& errorText() const { return error_; }
  const std::string& fileName() const { return fileName_; }
  const Layout* layout() const { return layout_ ? &*layout_ : nullptr; }

  // Produces the pages with the device of class "RpPrinter" under the activity's flag; nullopt
  // when the report is not valid, the device cannot be had or the data cannot be read.
  std::optional<RenderedReport> render(Activity activity);

  // Writes the report as PDF (exporting flag). False when nothing could be written.
  bool exportPdf(const std::string& path);
  // Writes the report to the print file as PDF (printing flag), showing `message` meanwhile.
  bool printToFile(const std::string& path, const std::string& message = {});

  // Shows the preview window with `caption`; the window's print-to-file writes `printFile`;
  // `message` is shown while printing. With `modal` true the call returns when the user has
  // closed the preview. Answers false when the report is not valid or has no pages.
  bool PrintPreview(const std::string& caption, const std::string& printFile, const std::string& layoutName,
                    const std::string& message, bool modal);

  // Releases the report. Safe to call twice.
  void Close();
  bool closed() const { return closed_; }

  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;
  rt::Value get(rt::Symbol member) override;

 private:
  QWidget* owner_;
  std::string fileName_;
  std::optional<Layout> layout_;
  std::string error_;
  bool closed_ = false;
};

// While set, PrintPreview hands the built preview window to this function instead of running it
// (tests drive the window through it); the window closes when the function returns.
using PreviewDriver = std::function<void(PreviewWindow&)>;
void setPreviewDriver(PreviewDriver driver);

// The preview window: page navigation, zoom, printing through the platform's print dialog,
// printing to the print file and export to PDF.
class PreviewWindow {
 public:
  PreviewWindow(RpReport& report, RenderedReport pages, QWidget* owner, const std::string& caption,
                const std::string& printFile, const std::string& message);
  ~PreviewWindow();
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;

  QWidget* widget() const;
  std::string caption() const;
  int pageCount() const;
  int currentPage() const;  // from 1
  void showPage(int page);  // clamped to the pages there are
  void nextPage();
  void previousPage();
  int zoom() const;         // percent of the paper's size at 96 pixels per inch
  void setZoom(int percent);  // clamped to 25..400
  // The page as shown: the image on screen at the current zoom.
  QImage shownImage() const;

  // Prints through the platform's print dialog; false when the dialog was cancelled.
  bool printWithDialog();
  bool printToFile();                           // writes the print file
  bool exportPdf(const std::string& path);      // with no path the user is asked for one
  bool exportPdfAsked();
  // The message shown while the last print ran ("" before any).
  const std::string& lastMessageShown() const;

  void exec();   // runs the window until the user closes it
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rpt
