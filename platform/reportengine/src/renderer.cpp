// The renderer: bands laid out on pages and drawn through the printer device by name, each page
// on a recording context of its own.
//
// Page flow: a page starts with (on page 1) the title band, then the page header; bands follow
// while they fit above the page footer's place; a band that does not fit ends the page (the
// footer is drawn at the bottom) and starts the next. A band taller than an empty page is drawn
// once, cut off at the footer, so a layout can never make the run loop.
#include <cmath>

#include "run_context.h"

namespace rpt {

namespace {

rt::Value colorValue(std::uint32_t c) { return rt::Value(static_cast<long long>(c)); }

class PageWriter {
 public:
  PageWriter(const Layout& layout, PtrDevice& device, RunContext& run, RenderedReport& out)
      : layout_(layout), page_(layout.page), device_(device), run_(run), out_(out), resolver_(run) {
    out_.dpiX = device.unitsPerInchH();
    out_.dpiY = device.unitsPerInchV();
    out_.widthPx = static_cast<int>(std::lround(page_.toInches(page_.width) * out_.dpiX));
    out_.heightPx = static_cast<int>(std::lround(page_.toInches(page_.length) * out_.dpiY));
    footerTop_ = page_.length - page_.bottom - (layout.pageFooter.present ? layout.pageFooter.height : 0);
  }

  void run() {
    const RowSet& rows = *run_.rows;
    const std::size_t levels = layout_.groups.size();
    const int count = static_cast<int>(rows.rows.size());
    run_.row = count > 0 ? 0 : -1;
    startPage();
    for (int r = 0; r < count; ++r) {
      // The outermost level whose instance changes with this row; `levels` when none does.
      std::size_t breakLevel = levels;
      for (std::size_t level = 0; level < levels && r > 0; ++level)
        if (run_.aggregates->instanceOfRow[level][r] != run_.aggregates->instanceOfRow[level][r - 1]) {
          breakLevel = level;
          break;
        }
      if (r == 0) breakLevel = 0;
      if (r > 0 && breakLevel < levels) {
        run_.row = r - 1;
        for (std::size_t level = levels; level-- > breakLevel;) printBand(layout_.groups[level].footer);
      }
      run_.row = r;
      for (std::size_t level = breakLevel; level < levels; ++level) {
        const Group& group = layout_.groups[level];
        if (group.newPage && r > 0 && y_ > bodyTop_) newPage();
        printBand(group.header);
      }
      printBand(layout_.detail);
    }
    if (count > 0) {
      run_.row = count - 1;
      for (std::size_t level = levels; level-- > 0;) printBand(layout_.groups[level].footer);
    }
    run_.atEnd = true;
    printBand(layout_.summary);
    finishPage();
  }

 private:
  void startPage() {
    ++run_.page;
    dc_ = gdi::createRecordingDc(out_.widthPx, out_.heightPx, out_.dpiX, out_.dpiY);
    device_.setOutputDc(dc_);
    (void)device_.send(rt::Symbol("CallPrintSetPage"), {rt::Value(run_.page)});
    (void)device_.send(rt::Symbol("CallPrintPageHeader"), {});
    currentFont_.reset();
    y_ = page_.top;
    if (run_.page == 1) printBand(layout_.title, false);
    printBand(layout_.pageHeader, false);
    bodyTop_ = y_;
  }

  void finishPage() {
    if (layout_.pageFooter.present) {
      y_ = footerTop_;
      drawBand(layout_.pageFooter);
    }
    if (const gdi::RecordedPage* page = gdi::recordedPage(dc_)) out_.pages.push_back(*page);
    device_.setOutputDc(0);
    gdi::deleteDc(dc_);
    dc_ = 0;
  }

  void newPage() {
    finishPage();
    startPage();
  }

  bool wanted(const Band& band) {
    if (!band.present) return false;
    if (!band.printWhenBlock) return true;
    return band.printWhenBlock->eval(&resolver_).asLogical();
  }

  void printBand(const Band& band, bool mayBreak = true) {
    if (!wanted(band)) return;
    if (mayBreak && y_ + band.height > footerTop_ + 1e-9 && y_ > bodyTop_ + 1e-9) newPage();
    drawBand(band);
    y_ += band.height;
  }

  void drawBand(const Band& band) {
    for (const BandObject& object : band.objects) drawObject(object, y_);
  }

  void setFont(const FontSpec& font) {
    if (currentFont_ && *currentFont_ == font) return;
    (void)device_.send(rt::Symbol("SetFont"), {rt::Value(font.face), rt::Value(font.size), rt::Value(font.bold),
                                               rt::Value(font.italic), rt::Value(font.underline)});
    currentFont_ = font;
  }

  double textLength(const std::string& text) {
    return device_.send(rt::Symbol("GetTextLength"), {rt::Value(text)}).asNumber();
  }

  // Cuts the text (at a character boundary) so that it fits the width.
  std::string fitted(std::string text, double width) {
    if (width <= 0 || text.empty() || textLength(text) <= width) return text;
    while (!text.empty() && textLength(text) > width) {
      text.pop_back();
      while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
      if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) text.pop_back();
    }
    return text;
  }

  void drawObject(const BandObject& o, double bandTop) {
    const double top = bandTop + o.y;
    const double left = page_.left + o.x;
    const rt::Value none;
    switch (o.kind) {
      case ObjectKind::Text:
      case ObjectKind::Field: {
        setFont(o.font);
        std::string text = o.kind == ObjectKind::Text ? o.text : formatValue(o.block->eval(&resolver_), o.format);
        const rt::Value back = o.background ? colorValue(*o.background) : none;
        if (o.wrap) {
          (void)device_.send(rt::Symbol("DrawText"),
                             {rt::Value(top), rt::Value(left), rt::Value(text), rt::Value(o.height),
                              rt::Value(o.width), rt::Value(o.align), none, back, none});
          break;
        }
        text = fitted(std::move(text), o.width);
        const double column = o.align == 2 ? left + o.width : o.align == 1 ? left + o.width / 2 : left;
        if (o.background && o.width > 0)
          (void)device_.send(rt::Symbol("DrawRectangle"),
                             {rt::Value(top), rt::Value(left), rt::Value(top + o.height), rt::Value(left + o.width),
                              rt::Value(1), rt::Value(0), back, rt::Value(-1), back});
        (void)device_.send(rt::Symbol("TextOut"), {rt::Value(top), rt::Value(column), rt::Value(text),
                                                   rt::Value(o.align), colorValue(o.color), none});
        break;
      }
      case ObjectKind::Line:
        (void)device_.send(rt::Symbol("DrawLine"),
                           {rt::Value(top), rt::Value(left), rt::Value(bandTop + o.y2), rt::Value(page_.left + o.x2),
                            rt::Value(o.penWidth), rt::Value(o.penStyle), colorValue(o.color)});
        break;
      case ObjectKind::Rectangle:
      case ObjectKind::Ellipse:
        (void)device_.send(rt::Symbol(o.kind == ObjectKind::Rectangle ? "DrawRectangle" : "DrawEllipse"),
                           {rt::Value(top), rt::Value(left), rt::Value(top + o.height), rt::Value(left + o.width),
                            rt::Value(o.penWidth), rt::Value(o.penStyle), colorValue(o.color),
                            o.fill ? rt::Value(-1) : none, o.fill ? colorValue(*o.fill) : none});
        break;
      case ObjectKind::Bitmap:
        (void)device_.send(rt::Symbol("DrawBmp"),
                           {rt::Value(top), rt::Value(left), rt::Value(layout_.directory + o.file),
                            o.height > 0 ? rt::Value(o.height) : none, o.width > 0 ? rt::Value(o.width) : none,
                            none, none, rt::Value(true)});
        break;
      case ObjectKind::RichText:
        (void)device_.send(rt::Symbol("DrawRtf"),
                           {rt::Value(top), rt::Value(left), rt::Value(layout_.directory + o.file),
                            rt::Value(o.height), rt::Value(o.width), none});
        break;
    }
  }

  const Layout& layout_;
  const PageSetup& page_;
  PtrDevice& device_;
  RunContext& run_;
  RenderedReport& out_;
  RunResolver resolver_;
  gdi::Handle dc_ = 0;
  double y_ = 0;          // top of the next band, unit, from the paper's top edge
  double bodyTop_ = 0;    // first place below the page header
  double footerTop_ = 0;  // where the page footer starts
  std::optional<FontSpec> currentFont_;
};

RenderedReport renderPass(const Layout& layout, const RowSet& rows, const AggregateValues& aggregates,
                          PtrDevice& device, int pageCount) {
  RenderedReport out;
  RunContext run;
  run.layout = &layout;
  run.rows = &rows;
  run.aggregates = &aggregates;
  run.pageCount = pageCount;
  CurrentRunScope scope(&run);
  PageWriter(layout, device, run, out).run();
  return out;
}

}  // namespace

RenderedReport renderReport(const Layout& layout, const RowSet& rows, PtrDevice& device, Activity activity) {
  const PageSetup& page = layout.page;
  device.setPaperSize(page.toInches(page.width), page.toInches(page.length));
  device.TopMargin(page.toInches(page.top));
  device.LeftMargin(page.toInches(page.left));
  device.BottomMargin(page.toInches(page.bottom));
  device.RightMargin(page.toInches(page.right));
  device.setPrinterDc(device.CreatePrinterDC(), true);
  device.setActivity(activity == Activity::Printing, activity == Activity::Previewing,
                     activity == Activity::Exporting);
  (void)device.put(rt::Symbol("UnitOfMeasure"), rt::Value(static_cast<int>(page.unit)));

  const AggregateValues aggregates = computeAggregates(layout, rows);
  const int pages = static_cast<int>(renderPass(layout, rows, aggregates, device, 0).pages.size());
  RenderedReport out = renderPass(layout, rows, aggregates, device, pages);

  device.setActivity(false, false, false);
  device.setOutputDc(0);
  device.setPrinterDc(0);
  return out;
}

bool writePdf(const RenderedReport& report, const std::string& path) {
  if (report.pages.empty()) return false;
  const gdi::Handle pdf = gdi::createPdfDc(path, report.widthPx, report.heightPx, report.dpiX);
  if (!pdf) return false;
  bool ok = true;
  for (std::size_t i = 0; i < report.pages.size(); ++i) {
    if (i > 0) ok = gdi::newPage(pdf) && ok;
    ok = gdi::replay(report.pages[i], pdf) && ok;
  }
  ok = gdi::deleteDc(pdf) && ok;
  return ok;
}

QImage pageImage(const RenderedReport& report, int pageIndex) {
  if (pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= report.pages.size()) return {};
  const gdi::Handle dc = gdi::createImageDc(report.widthPx, report.heightPx, report.dpiX);
  (void)gdi::replay(report.pages[pageIndex], dc);
  QImage image;
  if (const QImage* drawn = gdi::imageOf(dc)) image = drawn->copy();
  gdi::deleteDc(dc);
  return image;
}

}  // namespace rpt
