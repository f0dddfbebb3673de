// The renderer: bands laid out on pages and drawn through the printer device by name, each page
// on a recording context of its own.
//
// Page flow: a page starts with (on page 1) the title band, then the page header and, on a page
// that continues a group instance, the group's continued header; bands follow while they fit
// above the page footer's place; a band that does not fit ends the page (the footer is drawn at
// the bottom) and starts the next. A band taller than an empty page is drawn once, cut off at the
// footer, so a layout can never make the run loop.
//
// The walk over rows and bands is one sequence of band steps per row, so a page can be drawn again
// from the step it starts at: the first pass records only those starts, and every later drawing
// of a page walks from its start to its end.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include <unistd.h>

#include "run_context.h"

namespace rpt {

namespace {

rt::Value colorValue(std::uint32_t c) { return rt::Value(static_cast<long long>(c)); }

// One band of a row's steps: the footers of the groups that end before the row, the headers of
// the groups that start with it and its detail; after the last row the closing footers and the
// summary.
struct BandStep {
  enum Kind { Footer, Header, Detail, Summary } kind = Detail;
  int level = 0;  // group level of a footer or header
  int row = 0;    // the row the band reads (-1: none)
};

struct PageGeometry {
  int widthPx = 0, heightPx = 0, dpiX = 0, dpiY = 0;
};

class PageWalker {
 public:
  enum class Mode { LayOut, Draw };
  // Receives each finished page while drawing; answers false to stop the walk.
  using PageSink = std::function<bool(gdi::RecordedPage&&)>;

  PageWalker(const Layout& layout, const RowSet& rows, const AggregateValues& aggregates, PtrDevice& device,
             const PageGeometry& geometry, Mode mode, std::time_t startedAt)
      : layout_(layout), page_(layout.page), device_(device), geometry_(geometry), mode_(mode), resolver_(run_) {
    run_.startedAt = startedAt;
    run_.layout = &layout;
    run_.rows = &rows;
    run_.aggregates = &aggregates;
    rowCount_ = static_cast<int>(rows.size());
    footerTop_ = page_.length - page_.bottom - (layout.pageFooter.present ? layout.pageFooter.height : 0);
  }

  PageWalker(const PageWalker&) = delete;
  PageWalker& operator=(const PageWalker&) = delete;

  void setPageCount(int count) { run_.pageCount = count; }
  void setSink(PageSink sink) { sink_ = std::move(sink); }
  // Drawing only: the walk ends with the page it started on.
  void stopAtPageEnd() { stopAtPageEnd_ = true; }
  // Starts page `number` (from 1) at `start`.
  void begin(const PageStart& start, int number) {
    CurrentRunScope scope(&run_);
    enterRow(start.row);
    cursor_.step = start.step;
    run_.page = number - 1;
    applyStep();
    startPage();
  }
  // Walks at most `bands` steps (all when negative); false once the walk has ended.
  bool walk(long bands = -1) {
    CurrentRunScope scope(&run_);
    while (!ended_ && bands-- != 0) stepOnce();
    return !ended_;
  }
  // Laying out: where each page found so far starts.
  std::vector<PageStart>& starts() { return starts_; }

 private:
  std::vector<BandStep> stepsOf(int row) const {
    std::vector<BandStep> steps;
    const int levels = static_cast<int>(layout_.groups.size());
    if (row >= rowCount_) {
      if (rowCount_ > 0)
        for (int level = levels; level-- > 0;) steps.push_back({BandStep::Footer, level, rowCount_ - 1});
      steps.push_back({BandStep::Summary, 0, rowCount_ - 1});
      return steps;
    }
    int breakLevel = row == 0 ? 0 : levels;
    for (int level = 0; level < levels && row > 0; ++level)
      if (run_.aggregates->startsInstance(static_cast<std::size_t>(level), static_cast<std::size_t>(row))) {
        breakLevel = level;
        break;
      }
    if (row > 0)
      for (int level = levels; level-- > breakLevel;) steps.push_back({BandStep::Footer, level, row - 1});
    for (int level = breakLevel; level < levels; ++level) steps.push_back({BandStep::Header, level, row});
    steps.push_back({BandStep::Detail, 0, row});
    return steps;
  }

  void enterRow(int row) {
    cursor_ = {row, 0};
    steps_ = stepsOf(row);
  }

  const Band& bandOf(const BandStep& step) const {
    switch (step.kind) {
      case BandStep::Footer: return layout_.groups[step.level].footer;
      case BandStep::Header: return layout_.groups[step.level].header;
      case BandStep::Detail: return layout_.detail;
      case BandStep::Summary: break;
    }
    return layout_.summary;
  }

  // Makes the current step's row the one fields read.
  void applyStep() {
    const BandStep& step = steps_[cursor_.step];
    run_.row = step.row;
    run_.atEnd = step.kind == BandStep::Summary;
  }

  void stepOnce() {
    if (static_cast<std::size_t>(cursor_.step) >= steps_.size()) {
      if (cursor_.row >= rowCount_) {
        finishPage();
        ended_ = true;
        return;
      }
      enterRow(cursor_.row + 1);
    }
    applyStep();
    const BandStep& step = steps_[cursor_.step];
    const Band& band = bandOf(step);
    if (step.kind == BandStep::Header && layout_.groups[step.level].newPage && step.row > 0 && y_ > bodyTop_ &&
        !breakPage())
      return;
    if (wanted(band)) {
      if (y_ + band.height > footerTop_ + 1e-9 && y_ > bodyTop_ + 1e-9 && !breakPage()) return;
      if (mode_ == Mode::Draw) drawBand(band);
      y_ += band.height;
    }
    ++cursor_.step;
  }

  // Ends the page and, unless the walk stops there, starts the next at the current step.
  bool breakPage() {
    finishPage();
    if (ended_) return false;
    if (mode_ == Mode::LayOut) starts_.push_back(cursor_);
    startPage();
    return true;
  }

  void startPage() {
    ++run_.page;
    if (mode_ == Mode::Draw) {
      // Every page starts in the layout's font, whichever page the device drew before.
      currentFont_.reset();
      setFont(layout_.font);
      dc_ = gdi::createRecordingDc(geometry_.widthPx, geometry_.heightPx, geometry_.dpiX, geometry_.dpiY);
      device_.setOutputDc(dc_);
      (void)device_.send(rt::Symbol("CallPrintSetPage"), {rt::Value(run_.page)});
      (void)device_.send(rt::Symbol("CallPrintPageHeader"), {});
    }
    y_ = page_.top;
    if (run_.page == 1) printFixedBand(layout_.title);
    printFixedBand(layout_.pageHeader);
    if (run_.page > 1) printContinuedHeaders();
    bodyTop_ = y_;
  }

  // The continued headers of the groups whose instance was under way when the page started.
  void printContinuedHeaders() {
    const BandStep step = steps_[cursor_.step];
    int through = -1;
    switch (step.kind) {
      case BandStep::Detail: through = static_cast<int>(layout_.groups.size()) - 1; break;
      case BandStep::Header: through = step.level - 1; break;
      case BandStep::Footer: through = step.level; break;
      case BandStep::Summary: break;
    }
    for (int level = 0; level <= through; ++level) printFixedBand(layout_.groups[level].continuedHeader);
  }

  void finishPage() {
    if (layout_.pageFooter.present) {
      y_ = footerTop_;
      if (mode_ == Mode::Draw) drawBand(layout_.pageFooter);
    }
    if (mode_ == Mode::LayOut) return;
    gdi::RecordedPage page;
    if (const gdi::RecordedPage* recorded = gdi::recordedPage(dc_)) page = *recorded;
    device_.setOutputDc(0);
    gdi::deleteDc(dc_);
    dc_ = 0;
    const bool goOn = sink_ ? sink_(std::move(page)) : true;
    if (!goOn || stopAtPageEnd_) ended_ = true;
  }

  // A band at a fixed place of the page (title, page header, continued header): never breaks.
  void printFixedBand(const Band& band) {
    if (!wanted(band)) return;
    if (mode_ == Mode::Draw) drawBand(band);
    y_ += band.height;
  }

  bool wanted(const Band& band) {
    if (!band.present) return false;
    if (!band.printWhenBlock) return true;
    return band.printWhenBlock->eval(&resolver_).asLogical();
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
  PageGeometry geometry_;
  Mode mode_;
  RunContext run_;
  RunResolver resolver_;
  int rowCount_ = 0;
  PageStart cursor_;
  std::vector<BandStep> steps_;
  std::vector<PageStart> starts_{PageStart{}};
  PageSink sink_;
  bool stopAtPageEnd_ = false;
  bool ended_ = false;
  gdi::Handle dc_ = 0;
  double y_ = 0;          // top of the next band, unit, from the paper's top edge
  double bodyTop_ = 0;    // first place below the page header
  double footerTop_ = 0;  // where the page footer starts
  std::optional<FontSpec> currentFont_;
};

}  // namespace

struct PagedReport::Impl {
  const Layout& layout;
  RowSet rows;
  AggregateValues aggregates;
  PtrDevicePtr device;
  PageGeometry geometry;
  std::time_t startedAt = std::time(nullptr);
  PageWalker layOutWalker;
  bool laidOut = false;

  Impl(const Layout& l, RowSet r, PtrDevicePtr d)
      : layout(l), rows(std::move(r)), aggregates(computeAggregates(l, rows)), device(std::move(d)),
        geometry(geometryOf(l.page, *device)),
        layOutWalker(layout, rows, aggregates, *device, geometry, PageWalker::Mode::LayOut, startedAt) {
    layOutWalker.begin(PageStart{}, 1);
  }

  static PageGeometry geometryOf(const PageSetup& page, const PtrDevice& device) {
    PageGeometry g;
    g.dpiX = device.unitsPerInchH();
    g.dpiY = device.unitsPerInchV();
    g.widthPx = static_cast<int>(std::lround(page.toInches(page.width) * g.dpiX));
    g.heightPx = static_cast<int>(std::lround(page.toInches(page.length) * g.dpiY));
    return g;
  }

  std::unique_ptr<PageWalker> drawingWalker() {
    auto walker = std::make_unique<PageWalker>(layout, rows, aggregates, *device, geometry, PageWalker::Mode::Draw,
                                               startedAt);
    walker->setPageCount(laidOut ? static_cast<int>(layOutWalker.starts().size()) : 0);
    return walker;
  }
};

PagedReport::PagedReport(const Layout& layout, RowSet rows, PtrDevicePtr device, Activity activity) {
  const PageSetup& page = layout.page;
  device->setPaperSize(page.toInches(page.width), page.toInches(page.length));
  device->TopMargin(page.toInches(page.top));
  device->LeftMargin(page.toInches(page.left));
  device->BottomMargin(page.toInches(page.bottom));
  device->RightMargin(page.toInches(page.right));
  device->setPrinterDc(device->CreatePrinterDC(), true);
  device->setActivity(activity == Activity::Printing, activity == Activity::Previewing,
                      activity == Activity::Exporting);
  (void)device->put(rt::Symbol("UnitOfMeasure"), rt::Value(static_cast<int>(page.unit)));
  impl_ = std::make_unique<Impl>(layout, std::move(rows), std::move(device));
}

PagedReport::~PagedReport() {
  PtrDevice& device = *impl_->device;
  device.setActivity(false, false, false);
  device.setOutputDc(0);
  device.setPrinterDc(0);
  device.Axit();
}

bool PagedReport::layOut(long bands) {
  if (!impl_->laidOut) impl_->laidOut = !impl_->layOutWalker.walk(bands);
  return impl_->laidOut;
}

bool PagedReport::laidOut() const { return impl_->laidOut; }
int PagedReport::knownPages() const { return static_cast<int>(impl_->layOutWalker.starts().size()); }
int PagedReport::pageCount() const { return impl_->laidOut ? knownPages() : 0; }
const std::vector<PageStart>& PagedReport::pageStarts() const { return impl_->layOutWalker.starts(); }
int PagedReport::widthPx() const { return impl_->geometry.widthPx; }
int PagedReport::heightPx() const { return impl_->geometry.heightPx; }
int PagedReport::dpiX() const { return impl_->geometry.dpiX; }
int PagedReport::dpiY() const { return impl_->geometry.dpiY; }

gdi::RecordedPage PagedReport::drawPage(int index) {
  if (index < 0 || index >= knownPages()) return {};
  gdi::RecordedPage out;
  const auto walker = impl_->drawingWalker();
  walker->stopAtPageEnd();
  walker->setSink([&](gdi::RecordedPage&& page) {
    out = std::move(page);
    return false;
  });
  walker->begin(pageStarts()[index], index + 1);
  (void)walker->walk();
  return out;
}

RenderedReport PagedReport::drawAll() {
  (void)layOut();
  RenderedReport out;
  out.widthPx = widthPx();
  out.heightPx = heightPx();
  out.dpiX = dpiX();
  out.dpiY = dpiY();
  const auto walker = impl_->drawingWalker();
  walker->setSink([&](gdi::RecordedPage&& page) {
    out.pages.push_back(std::move(page));
    return true;
  });
  walker->begin(PageStart{}, 1);
  (void)walker->walk();
  return out;
}

bool PagedReport::drawEach(gdi::Handle target, const PageProgress& progress, const PrintSelection& selection) {
  while (!layOut(2000))
    if (progress && !progress(knownPages(), 0)) return false;
  const int count = pageCount();
  const int first = std::clamp(selection.from, 1, count);
  const int last = selection.to <= 0 ? count : std::clamp(selection.to, first, count);
  const int copies = std::max(1, selection.copies);
  // Collated copies walk the range once per copy; the others put each page out `copies` times.
  const int walks = selection.collate ? copies : 1;
  const int sheetsPerPage = selection.collate ? 1 : copies;
  const int sheets = (last - first + 1) * copies;
  bool ok = true;
  bool stopped = false;
  int drawn = 0;
  for (int walk = 0; walk < walks && ok && !stopped; ++walk) {
    int page = first - 1;
    const auto walker = impl_->drawingWalker();
    walker->setSink([&](gdi::RecordedPage&& recorded) {
      ++page;
      for (int sheet = 0; sheet < sheetsPerPage && ok && !stopped; ++sheet) {
        if (drawn > 0) ok = gdi::newPage(target) && ok;
        ok = gdi::replay(recorded, target) && ok;
        ++drawn;
        stopped = progress && !progress(drawn, sheets);
      }
      return ok && !stopped && page < last;
    });
    walker->begin(pageStarts()[static_cast<std::size_t>(first - 1)], first);
    (void)walker->walk();
  }
  return ok && !stopped && drawn == sheets;
}

namespace {

// A name beside `path` for the file being written, unique to this process.
std::filesystem::path partialName(const std::filesystem::path& path) {
  return path.parent_path() / ("." + path.filename().string() + "." + std::to_string(::getpid()) + ".part");
}

}  // namespace

bool writePdf(PagedReport& report, const std::string& path, const PageProgress& progress) {
  const std::filesystem::path partial = partialName(path);
  const gdi::Handle pdf = gdi::createPdfDc(partial.string(), report.widthPx(), report.heightPx(), report.dpiX());
  if (!pdf) return false;
  bool ok = report.drawEach(pdf, progress);
  ok = gdi::deleteDc(pdf) && ok;
  std::error_code ec;
  if (ok) std::filesystem::rename(partial, path, ec);
  if (!ok || ec) std::filesystem::remove(partial, ec);
  return ok && !ec;
}

QImage pageImage(const gdi::RecordedPage& page) {
  if (page.width <= 0 || page.height <= 0) return {};
  const gdi::Handle dc = gdi::createImageDc(page.width, page.height, page.dpiX);
  (void)gdi::replay(page, dc);
  QImage image;
  if (const QImage* drawn = gdi::imageOf(dc)) image = drawn->copy();
  gdi::deleteDc(dc);
  return image;
}

}  // namespace rpt
