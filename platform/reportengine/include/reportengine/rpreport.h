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

class QPrintDialog;
class QPrinter;
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

  // Reads the rows and prepares the pages with the device of class "RpPrinter" under the
  // activity's flag, at `dotsPerInch` (0: the device's own); null when the report is not valid,
  // the device cannot be had or the data cannot be read. Pages are laid out and drawn on demand.
  std::unique_ptr<PagedReport> open(Activity activity, int dotsPerInch = 0);
  // Every page, drawn in one walk; nullopt as for open.
  std::optional<RenderedReport> render(Activity activity);

  // Writes the report as PDF (exporting flag). False when nothing could be written or `progress`
  // stopped it; nothing is then left at `path`.
  bool exportPdf(const std::string& path, const PageProgress& progress = {});
  // Writes the report to the print file as PDF (printing flag), as exportPdf.
  bool printToFile(const std::string& path, const PageProgress& progress = {});
  // Prints the selected pages on `printer` (printing flag) at its resolution, on the report's own
  // paper and orientation, which the printer is set to; the pages are drawn as vector text and lines.
  bool print(QPrinter& printer, const PageProgress& progress = {}, const PrintSelection& selection = {});

  // Shows the preview window with `caption`; the window's print-to-file suggests `printFile` in
  // the working directory, its export the layout's name there; `message` is shown while
  // printing. With `modal` true the call returns when the user has closed the preview. Answers
  // false when the report is not valid or its data cannot be read.
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

  bool writeFile(Activity activity, const std::string& path, const PageProgress& progress);
};

// Sets the printer's paper size, orientation and margins to the layout's page.
void matchPrinterToPage(QPrinter& printer, const PageSetup& page);

// While set, the preview hands the print dialog, set up but not shown, to this function instead of
// running it: the function chooses on the dialog's printer (already set to the report's paper,
// its page range to the report's pages) and answers whether to print; false cancels.
using PrintDialogDriver = std::function<bool(QPrintDialog&)>;
void setPrintDialogDriver(PrintDialogDriver driver);

// While set, the preview asks this function for the name of a file it writes instead of the file
// dialog: given the dialog's caption and the suggested path, it answers the path ("" cancels).
using FileNameChooser = std::function<std::string(const std::string& caption, const std::string& suggested)>;
void setFileNameChooser(FileNameChooser chooser);

// While set, PrintPreview hands the built preview window to this function instead of running it
// (tests drive the window through it); the window closes when the function returns.
using PreviewDriver = std::function<void(PreviewWindow&)>;
void setPreviewDriver(PreviewDriver driver);

// The preview window: page navigation, zoom, printing through the platform's print dialog,
// printing to a print file and export to PDF, with progress and Cancel for long runs.
//
// States: laying out (page 1 is shown at once; the rest of the first pass runs in slices on the
// event loop and the page label reads "Page N of …"), laid out ("Page N of M"). Only the page
// shown is kept drawn. Zoom modes: fit to the window's width (at opening), whole page, or a
// percentage; the two fitting modes follow the window's size.
class PreviewWindow {
 public:
  enum class ZoomMode { FitWidth, WholePage, Percent };

  PreviewWindow(RpReport& report, std::unique_ptr<PagedReport> pages, QWidget* owner, const std::string& caption,
                const std::string& printFile, const std::string& layoutName, const std::string& message);
  ~PreviewWindow();
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;

  QWidget* widget() const;
  std::string caption() const;
  int pageCount() const;   // 0 while the first pass runs
  int knownPages() const;  // pages that can be shown so far
  void finishLayout();     // runs what is left of the first pass at once
  std::string pageLabel() const;
  std::string statusText() const;
  int currentPage() const;  // from 1
  void showPage(int page);  // clamped to the pages there are
  void nextPage();
  void previousPage();
  int zoom() const;         // percent of the paper's size at 96 pixels per inch, as shown
  void setZoom(int percent);  // clamped to 25..400; the Percent mode
  ZoomMode zoomMode() const;
  void setZoomMode(ZoomMode mode);
  void zoomIn();   // the next larger entry of the zoom list
  void zoomOut();
  // The page as shown: the image on screen at the current zoom.
  QImage shownImage() const;

  // Prints through the platform's print dialog; false when the dialog was cancelled.
  bool printWithDialog();
  bool printToFile();                           // asks for the print file's name, then writes it
  bool exportPdf(const std::string& path);
  bool exportPdfAsked();                        // asks for the name, suggesting the layout's
  // The message shown while the last print ran ("" before any).
  const std::string& lastMessageShown() const;

  void exec();   // runs the window until the user closes it
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rpt
