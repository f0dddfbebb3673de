// Writing the differences of a pair (its differing rows and its change list) as plain text, CSV,
// JSON or a self-contained HTML page. The
// formats are described on their pages under docs/formats/. Writing to a file goes through a
// temporary file beside it, so a failed write leaves an existing file as it was.
#pragma once
#include <filesystem>
#include <optional>
#include <ostream>
#include <string_view>

#include "workflow/differences.h"

namespace workflow {

enum class ExportFormat { Text, Csv, Json, Html };

// What a text, CSV or HTML export holds: the differing rows (HTML: with the change list before
// them) or the change list alone. JSON always holds both.
enum class ExportView { Rows, Changes };

// "text", "csv", "json" or "html" (any case); nothing for another name.
std::optional<ExportFormat> exportFormatNamed(std::string_view name);

void writeDifferences(std::ostream& out, const Differences& differences, ExportFormat format,
                      ExportView view = ExportView::Rows);

// Writes the file whole or not at all. A file that cannot be created or written is raised
// (create or write error naming the file); answers true when the file was written.
bool exportDifferences(const std::filesystem::path& file, const Differences& differences, ExportFormat format,
                       ExportView view = ExportView::Rows);

}  // namespace workflow
