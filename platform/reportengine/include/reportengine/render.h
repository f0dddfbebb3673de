// Running a report: the rows of its data source, the aggregates over them and the pages drawn
// through a printer device onto recorded pages.
//
// A run goes through these states: rows read (loadRows), aggregates computed (computeAggregates),
// pages laid out (the first pass of a PagedReport, which keeps only where each page starts) and
// pages drawn one at a time when they are wanted. While a page is laid out or drawn, the run is
// the "current run" that the engine's formula functions (PgNo, PgCount, RpEOF, rpVarValue, ...)
// read; outside they answer neutral values.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gdi/gdi.h"
#include "reportengine/layout.h"
#include "reportengine/ptrdevice.h"

namespace rdd {
class Table;
}

namespace rpt {

// The data source's rows that pass the filter, in report order. Either held in memory (`rows`)
// or, as loadRows gives them, kept as record numbers of a table that stays open and read back
// one row at a time, so a report of any size holds four bytes a row.
struct RowSet {
  std::vector<rt::Symbol> fields;
  std::vector<std::vector<rt::Value>> rows;
  std::vector<bool> deleted;
  std::vector<rt::Value> blank;  // a blank value per field, read when there are no rows
  std::shared_ptr<rdd::Table> table;
  std::vector<std::uint32_t> recordNumbers;  // with `table`: the rows, in report order

  std::size_t size() const { return table ? recordNumbers.size() : rows.size(); }
  // Field `field` of row `row` (< size()). Only the fields asked for are read from the table, each
  // once while the row is the one read; the reference holds until another row is read.
  rt::Value value(std::size_t row, int field) const { return valueRef(row, field); }
  const rt::Value& valueRef(std::size_t row, int field) const;
  int fieldIndex(rt::Symbol name) const;  // -1 when there is none

 private:
  mutable std::size_t positioned_ = SIZE_MAX;  // the row the table stands on
  mutable std::vector<rt::Value> current_;     // its fields read so far:
  mutable std::vector<std::size_t> readFor_;   // the row each field was last read for
};

// Reads the layout's table (through the table driver, shared and read-only), applies order,
// filter and sort, and keeps the table open for the rows' values. A layout without a table gives
// no rows. Failures of the driver are raised by it; the result is then empty.
[[nodiscard]] std::optional<RowSet> loadRows(const Layout& layout);

// Values of every aggregate: for a report-wide one a single value, for a group one a value per
// instance of its group (instances numbered from 0 in report order).
struct AggregateValues {
  std::map<std::string, std::vector<rt::Value>> byName;  // upper-case names
  // Per group level, per instance: the row it starts at, and its row count. Kept per instance,
  // not per row, so that they grow with the groups only.
  std::vector<std::vector<std::uint32_t>> instanceStarts;
  std::vector<std::vector<int>> membersOfInstance;

  // The instance of group level `level` that row `row` belongs to (0 before the first).
  int instanceOf(std::size_t level, std::size_t row) const;
  bool startsInstance(std::size_t level, std::size_t row) const;
};
[[nodiscard]] AggregateValues computeAggregates(const Layout& layout, const RowSet& rows);

enum class Activity { Printing, Previewing, Exporting };

// Every page of a report, recorded.
struct RenderedReport {
  std::vector<gdi::RecordedPage> pages;
  int widthPx = 0, heightPx = 0, dpiX = 0, dpiY = 0;
};

// Where a page starts in the walk over the rows and their bands: the row and the band step of
// that row (group footers, group headers, detail; after the last row the closing footers and the
// summary). Group instances and aggregate values follow from the row, so this is all a page
// needs in order to be drawn again.
struct PageStart {
  std::int32_t row = 0;
  std::int32_t step = 0;
  friend bool operator==(const PageStart&, const PageStart&) = default;
};

// Told of progress (page reached, page count or 0 while it is not known); answers false to stop.
using PageProgress = std::function<bool(int page, int count)>;

// Which sheets a print puts out: pages `from` to `to` (from 1; `to` 0 means the last page), each
// `copies` times, the copies collated (1 2 1 2) or not (1 1 2 2). Out-of-range pages are clamped.
struct PrintSelection {
  int from = 1;
  int to = 0;
  int copies = 1;
  bool collate = true;
};

// A report laid out page by page and drawn on demand through a device.
//
// States: laying out (the first pass has found where the first knownPages() pages start and goes
// on with each layOut call), laid out (pageCount() known). Any page whose start is known can be
// drawn in either state; PgCount() answers 0 in pages drawn before the count is known. The
// device carries the activity flag and a measuring printer context from construction to
// destruction. Drawn pages are not kept.
class PagedReport {
 public:
  PagedReport(const Layout& layout, RowSet rows, PtrDevicePtr device, Activity activity);
  ~PagedReport();
  PagedReport(const PagedReport&) = delete;
  PagedReport& operator=(const PagedReport&) = delete;

  // Continues the first pass for at most `bands` band steps; true once it has finished.
  bool layOut(long bands = -1);
  bool laidOut() const;
  int knownPages() const;  // pages whose start is known (at least 1)
  int pageCount() const;   // 0 until laid out
  const std::vector<PageStart>& pageStarts() const;

  // Draws page `index` (from 0) from its start; an empty page when its start is not known yet.
  [[nodiscard]] gdi::RecordedPage drawPage(int index);
  // Lays out what is left, then draws every page in one walk over the rows.
  [[nodiscard]] RenderedReport drawAll();
  // Lays out what is left, then writes the selected pages to `target` (a PDF or printer context),
  // page by page; progress counts sheets. False when `progress` stopped it or the target failed.
  bool drawEach(gdi::Handle target, const PageProgress& progress = {}, const PrintSelection& selection = {});

  int widthPx() const;
  int heightPx() const;
  int dpiX() const;
  int dpiY() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes the report to a PDF file through a temporary file beside it, renamed when complete: a
// stopped or failed export leaves nothing at `path` (an older file there stays as it was).
[[nodiscard]] bool writePdf(PagedReport& report, const std::string& path, const PageProgress& progress = {});

// One page as an image at its recorded resolution.
[[nodiscard]] QImage pageImage(const gdi::RecordedPage& page);

}  // namespace rpt
