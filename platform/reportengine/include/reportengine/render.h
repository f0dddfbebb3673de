// Running a report: the rows of its data source, the aggregates over them and the pages drawn
// through a printer device onto recorded pages.
//
// A run goes through these states: rows read (loadRows), aggregates computed (computeAggregates),
// pages laid out and drawn (renderReport, which calls the two before when given only a layout).
// While renderReport draws, the run is the "current run" that the engine's formula functions
// (PgNo, PgCount, RpEOF, rpVarValue, ...) read; outside a run they answer neutral values.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gdi/gdi.h"
#include "reportengine/layout.h"
#include "reportengine/ptrdevice.h"

namespace rpt {

// A snapshot of the data source's rows that pass the filter, in report order.
struct RowSet {
  std::vector<rt::Symbol> fields;
  std::vector<std::vector<rt::Value>> rows;
  std::vector<bool> deleted;
  std::vector<rt::Value> blank;  // a blank value per field, read when there are no rows
  int fieldIndex(rt::Symbol name) const;  // -1 when there is none
};

// Reads the layout's table (through the table driver, shared and read-only), applies order,
// filter and sort. A layout without a table gives no rows. Failures of the driver are raised by
// it; the result is then empty.
[[nodiscard]] std::optional<RowSet> loadRows(const Layout& layout);

// Values of every aggregate: for a report-wide one a single value, for a group one a value per
// instance of its group (instances numbered from 0 in report order).
struct AggregateValues {
  std::map<std::string, std::vector<rt::Value>> byName;  // upper-case names
  // Per group level, per row: the number of the group instance the row belongs to.
  std::vector<std::vector<int>> instanceOfRow;
  std::vector<std::vector<int>> membersOfInstance;  // per level, per instance: row count
};
[[nodiscard]] AggregateValues computeAggregates(const Layout& layout, const RowSet& rows);

enum class Activity { Printing, Previewing, Exporting };

struct RenderedReport {
  std::vector<gdi::RecordedPage> pages;
  int widthPx = 0, heightPx = 0, dpiX = 0, dpiY = 0;
};

// Draws every page of the report through `device`, which gets the activity flag, a measuring
// printer context and, page by page, a recording output context. Two passes: the first counts
// the pages so that PgCount is known in the second.
[[nodiscard]] RenderedReport renderReport(const Layout& layout, const RowSet& rows, PtrDevice& device,
                                          Activity activity);

// Writes the pages to a PDF file, one PDF page per recorded page. False when the file could not
// be written.
[[nodiscard]] bool writePdf(const RenderedReport& report, const std::string& path);

// One page as an image at its recorded resolution.
[[nodiscard]] QImage pageImage(const RenderedReport& report, int pageIndex);

}  // namespace rpt
