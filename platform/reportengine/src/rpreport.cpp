// RpReport: reading the layout, producing pages through the "RpPrinter" device, PDF output and
// the by-name members.
#include <QPageLayout>
#include <QPrinter>

#include <malloc.h>

#include "reportengine/ptrdevice.h"
#include "reportengine/rpreport.h"

namespace rpt {

namespace {

PreviewDriver& previewDriver() {
  static PreviewDriver driver;
  return driver;
}

}  // namespace

void setPreviewDriver(PreviewDriver driver) { previewDriver() = std::move(driver); }

void matchPrinterToPage(QPrinter& printer, const PageSetup& page) {
  const double width = page.toInches(page.width), length = page.toInches(page.length);
  const QPageSize size(QSizeF(std::min(width, length), std::max(width, length)), QPageSize::Inch, QString(),
                       QPageSize::FuzzyMatch);
  const QMarginsF margins(page.toInches(page.left), page.toInches(page.top), page.toInches(page.right),
                          page.toInches(page.bottom));
  printer.setFullPage(true);  // the pages are drawn from the paper's corner, margins included
  printer.setPageLayout(QPageLayout(size, width > length ? QPageLayout::Landscape : QPageLayout::Portrait, margins,
                                    QPageLayout::Inch));
}

RpReport::RpReport(QWidget* owner, const std::string& fileName) : owner_(owner), fileName_(fileName) {
  RT_FRAME("RpReport:Init");
  try {
    LayoutResult result = readLayoutFile(fileName);
    if (result.ok()) layout_ = std::move(result.layout);
    else error_ = std::move(result.error);
  } catch (const std::exception& e) {  // memory exhaustion on a hostile file: not a layout
    layout_.reset();
    error_ = fileName + ": " + e.what();
  }
}

RpReport::~RpReport() = default;

std::unique_ptr<PagedReport> RpReport::open(Activity activity, int dotsPerInch) {
  RT_FRAME("RpReport:Open");
  if (!IsValid()) return nullptr;
  std::optional<RowSet> rows = loadRows(*layout_);
  if (!rows) return nullptr;
  // Sorting a large table leaves tens of megabytes freed behind it: handed back to the system
  // now, they do not stay in the resident size for as long as the report is open.
  (void)malloc_trim(0);
  PtrDevicePtr device = createDevice("RpPrinter", rt::Value(fileName_), rt::Value());
  if (!device) return nullptr;
  if (dotsPerInch > 0) device->setResolution(dotsPerInch, dotsPerInch);
  return std::make_unique<PagedReport>(*layout_, std::move(*rows), std::move(device), activity);
}

std::optional<RenderedReport> RpReport::render(Activity activity) {
  RT_FRAME("RpReport:Render");
  const std::unique_ptr<PagedReport> pages = open(activity);
  if (!pages) return std::nullopt;
  return pages->drawAll();
}

bool RpReport::writeFile(Activity activity, const std::string& path, const PageProgress& progress) {
  for (;;) {
    const std::unique_ptr<PagedReport> pages = open(activity);
    if (!pages) return false;
    bool stopped = false;
    const PageProgress watched = [&](int page, int count) {
      stopped = progress && !progress(page, count);
      return !stopped;
    };
    if (writePdf(*pages, path, watched)) return true;
    if (stopped) return false;
    const bool exporting = activity == Activity::Exporting;
    auto e = rt::makeError(exporting ? rt::EG_CREATE : rt::EG_PRINT, "REPORT",
                           (exporting ? "The PDF file " : "The print file ") + path + " could not be written",
                           exporting ? "EXPORTPDF" : "PRINTTOFILE", path);
    e->canRetry = true;
    e->canDefault = true;
    if (!rt::raise(e).retry()) return false;
  }
}

bool RpReport::exportPdf(const std::string& path, const PageProgress& progress) {
  RT_FRAME("RpReport:ExportPdf");
  return writeFile(Activity::Exporting, path, progress);
}

bool RpReport::printToFile(const std::string& path, const PageProgress& progress) {
  RT_FRAME("RpReport:PrintToFile");
  return writeFile(Activity::Printing, path, progress);
}

bool RpReport::print(QPrinter& printer, const PageProgress& progress, const PrintSelection& selection) {
  RT_FRAME("RpReport:Print");
  if (!IsValid()) return false;
  matchPrinterToPage(printer, layout_->page);
  const std::unique_ptr<PagedReport> pages = open(Activity::Printing, printer.resolution());
  if (!pages) return false;
  const gdi::Handle dc = gdi::createPaintDeviceDc(&printer);
  if (!dc) return false;
  const bool ok = pages->drawEach(dc, progress, selection);
  return gdi::deleteDc(dc) && ok;
}

bool RpReport::PrintPreview(const std::string& caption, const std::string& printFile, const std::string& layoutName,
                            const std::string& message, bool modal) {
  RT_FRAME("RpReport:PrintPreview");
  std::unique_ptr<PagedReport> pages = open(Activity::Previewing);
  if (!pages) return false;
  PreviewWindow window(*this, std::move(pages), owner_, caption, printFile, layoutName, message);
  if (const PreviewDriver& driver = previewDriver()) {
    driver(window);
    window.close();
    return true;
  }
  (void)modal;  // the preview always runs until the user closes it: the caller relies on that
  window.exec();
  return true;
}

void RpReport::Close() {
  RT_FRAME("RpReport:Close");
  closed_ = true;
  layout_.reset();
}

rt::Value RpReport::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  const std::string& name = member.name();
  auto text = [&](std::size_t i) { return i < args.size() && args[i].isString() ? args[i].asString() : std::string(); };
  if (name == "PRINTPREVIEW")
    return PrintPreview(text(0), text(1), text(2), text(3), args.size() > 4 ? args[4].asLogical() : true);
  if (name == "CLOSE") {
    Close();
    return rt::Value();
  }
  if (name == "ISVALID") return IsValid();
  return noMethod(member);
}

rt::Value RpReport::get(rt::Symbol member) {
  if (member.name() == "ISVALID") return IsValid();
  return noIVarGet(member);
}

}  // namespace rpt
