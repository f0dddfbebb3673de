// RpReport: reading the layout, producing pages through the "RpPrinter" device, PDF output and
// the by-name members.
#include <filesystem>

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

std::optional<RenderedReport> RpReport::render(Activity activity) {
  RT_FRAME("RpReport:Render");
  if (!IsValid()) return std::nullopt;
  const std::optional<RowSet> rows = loadRows(*layout_);
  if (!rows) return std::nullopt;
  PtrDevicePtr device = createDevice("RpPrinter", rt::Value(fileName_), rt::Value());
  if (!device) return std::nullopt;
  RenderedReport pages = renderReport(*layout_, *rows, *device, activity);
  device->Axit();
  return pages;
}

bool RpReport::exportPdf(const std::string& path) {
  RT_FRAME("RpReport:ExportPdf");
  const auto pages = render(Activity::Exporting);
  if (!pages) return false;
  for (;;) {
    if (writePdf(*pages, path) && std::filesystem::exists(path)) return true;
    auto e = rt::makeError(rt::EG_CREATE, "REPORT", "The PDF file " + path + " could not be written", "EXPORTPDF", path);
    e->canRetry = true;
    e->canDefault = true;
    if (!rt::raise(e).retry()) return false;
  }
}

bool RpReport::printToFile(const std::string& path, const std::string&) {
  RT_FRAME("RpReport:PrintToFile");
  const auto pages = render(Activity::Printing);
  if (!pages) return false;
  for (;;) {
    if (writePdf(*pages, path) && std::filesystem::exists(path)) return true;
    auto e = rt::makeError(rt::EG_PRINT, "REPORT", "The print file " + path + " could not be written", "PRINTTOFILE",
                           path);
    e->canRetry = true;
    e->canDefault = true;
    if (!rt::raise(e).retry()) return false;
  }
}

bool RpReport::PrintPreview(const std::string& caption, const std::string& printFile, const std::string&,
                            const std::string& message, bool modal) {
  RT_FRAME("RpReport:PrintPreview");
  auto pages = render(Activity::Previewing);
  if (!pages || pages->pages.empty()) return false;
  PreviewWindow window(*this, std::move(*pages), owner_, caption, printFile, message);
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
