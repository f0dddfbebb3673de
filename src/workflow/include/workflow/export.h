// Writing the differences of a pair (its differing rows and its change list) as plain text, CSV,
// JSON or a self-contained HTML page. The formats are described on their pages under
// docs/formats/. Writing to a file never touches a file the program works on, and a failed
// write leaves an existing file as it was.
#pragma once
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

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

// The files of the working folder that the program relies on (the model table, its index and
// memo files, the stored control state and the schema store it names, the error log, the report
// layouts), each with what it is, for a person. Found when asked: the folder may change.
struct WorkingFile {
  std::filesystem::path path;
  std::string what;
};
std::vector<WorkingFile> workingFiles();

// False, after raising an error that names the file and what it is, when writing `file` would
// write over one of the workingFiles() or any report layout (".rpt"). Files are compared by
// identity (device and inode, symbolic links followed), so no other name of one gets past.
bool exportTargetAllowed(const std::filesystem::path& file);

// Writes an export to `file` after exportTargetAllowed. A symbolic link is followed to its
// target; a FIFO or device is written directly; a regular file is replaced whole or not at all,
// through a temporary file beside it. A file that cannot be created or written is raised
// (create or write error naming the file); answers true when the file was written.
bool exportDifferences(const std::filesystem::path& file, const Differences& differences, ExportFormat format,
                       ExportView view = ExportView::Rows);

}  // namespace workflow
