// Where an export goes: the working folder's own files refused, links followed, FIFOs and
// devices written directly, regular files replaced whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>

#include "ole/storage.h"
#include "runtime/runtime.h"
#include "workflow/export.h"
#include "workflow/session.h"

namespace workflow {
namespace {

namespace fs = std::filesystem;

// The error handler's log, written in the working folder.
constexpr const char* kErrorLogName = "APPERROR.LOG";
// Memo files a table of this name may carry beside it.
constexpr const char* kMemoExtensions[] = {".fpt", ".dbt"};
constexpr const char* kReportExtension = ".rpt";
// Links followed before giving up (the kernel's own limit).
constexpr int kMaxLinkHops = 40;

struct FileIdentity {
  dev_t device;
  ino_t inode;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identityOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

// The file a path finally names: each symbolic link replaced by its target, also a link whose
// target does not exist yet (writing creates that target, not a file in place of the link).
fs::path followLinks(fs::path path) {
  path = fs::absolute(path);
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) return path;
    const fs::path next = fs::read_symlink(path, ec);
    if (ec) return path;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return path;
}

// Two paths name the same file: the same device and inode, or, for files that do not exist
// (yet), the same name in the same folder.
bool sameFile(const fs::path& a, const fs::path& b) {
  const fs::path realA = followLinks(a), realB = followLinks(b);
  const auto idA = identityOf(realA), idB = identityOf(realB);
  if (idA || idB) return idA && idB && *idA == *idB;
  const auto folderA = identityOf(realA.parent_path()), folderB = identityOf(realB.parent_path());
  return folderA && folderB && *folderA == *folderB && realA.filename() == realB.filename();
}

bool hasReportExtension(const fs::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == kReportExtension;
}

void raiseFileError(int genCode, const fs::path& file, const std::string& what, int osCode) {
  auto e = rt::makeError(genCode, "EXPORT", what + " " + file.string() + ": " + std::strerror(osCode),
                         "EXPORTDIFFERENCES", file.string());
  e->osCode = osCode;
  e->canDefault = true;
  (void)rt::raise(e);
}

bool writeAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A FIFO or device takes the bytes as they come; there is nothing to replace.
bool writeInto(const fs::path& file, const fs::path& target, const std::string& bytes) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    raiseFileError(rt::EG_CREATE, file, "cannot open", errno);
    return false;
  }
  const bool written = writeAll(fd, bytes);
  const int saved = errno;
  if (::close(fd) != 0 || !written) {
    raiseFileError(rt::EG_WRITE, file, "cannot write", written ? errno : saved);
    return false;
  }
  return true;
}

// A regular file (or none yet) is written beside itself and renamed over, keeping its mode.
bool replaceWhole(const fs::path& file, const fs::path& target, const std::string& bytes, std::optional<mode_t> mode) {
  std::string part = target.string() + ".part-XXXXXX";
  const int fd = ::mkstemp(part.data());
  if (fd < 0) {
    raiseFileError(rt::EG_CREATE, file, "cannot create", errno);
    return false;
  }
  if (!mode) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const bool written = ::fchmod(fd, *mode) == 0 && writeAll(fd, bytes);
  const int saved = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(part.c_str(), target.c_str()) != 0) {
    const int cause = !written ? saved : errno;
    ::unlink(part.c_str());
    raiseFileError(rt::EG_WRITE, file, written && closed ? "cannot replace" : "cannot write", cause);
    return false;
  }
  return true;
}

}  // namespace

std::vector<WorkingFile> workingFiles() {
  std::vector<WorkingFile> files;
  const fs::path table = fs::absolute(model::kTableName);
  files.push_back({table, "the model table"});
  for (const char* ext : kMemoExtensions)
    files.push_back({fs::path(table).replace_extension(ext), "the model table's memo file"});
  for (const model::IndexDesc& index : model::indexList())
    files.push_back({fs::absolute(fs::path(index.path) / (index.stem + rdd::Table::indexExt())),
                     "the model table's index"});
  if (const auto state = ole::readStoredState(kControlStorage)) {
    files.push_back({state->filePath, "the database control's stored state"});
    if (state->has("Database"))
      files.push_back({state->resolvePath(state->value("Database")), "the schema store the stored state names"});
  } else if (const std::string stateFile = ole::storedStateFile(kControlStorage); !stateFile.empty()) {
    files.push_back({stateFile, "the database control's stored state"});
  }
  files.push_back({fs::absolute(kErrorLogName), "the error log"});
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::current_path(ec), ec))
    if (hasReportExtension(entry.path())) files.push_back({entry.path(), "a report layout"});
  return files;
}

bool exportTargetAllowed(const fs::path& file) {
  RT_FRAME("ExportTargetAllowed");
  std::string refusal;
  if (hasReportExtension(followLinks(file))) refusal = "a report layout (" + std::string(kReportExtension) + ")";
  for (const WorkingFile& working : workingFiles()) {
    if (!refusal.empty()) break;
    if (sameFile(file, working.path)) refusal = working.what + " (" + working.path.string() + ")";
  }
  if (refusal.empty()) return true;
  auto e = rt::makeError(rt::EG_ARG, "EXPORT",
                         "The differences were not written: " + file.string() + " is " + refusal +
                             ", which the program works on. Choose another file.",
                         "EXPORTDIFFERENCES", file.string());
  e->canDefault = true;
  (void)rt::raise(e);
  return false;
}

bool exportDifferences(const fs::path& file, const Differences& differences, ExportFormat format, ExportView view) {
  RT_FRAME("ExportDifferences");
  if (!exportTargetAllowed(file)) return false;
  std::ostringstream text;
  writeDifferences(text, differences, format, view);
  const fs::path target = followLinks(file);
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) return replaceWhole(file, target, text.str(), std::nullopt);
  if (S_ISDIR(st.st_mode)) {
    raiseFileError(rt::EG_WRITE, file, "cannot replace a folder with", EISDIR);
    return false;
  }
  if (!S_ISREG(st.st_mode)) return writeInto(file, target, text.str());
  return replaceWhole(file, target, text.str(), st.st_mode & 07777);
}

}  // namespace workflow
