// Opening and closing a Table: finding and checking the file, reading its header and field
// descriptors, taking the sharing locks; the accessors of what the open found; and creating a
// new empty table.
#include <cctype>
#include <ctime>

#include "table_impl.h"

namespace rdd {
namespace {

std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || (!name.empty() && name[0] == '/')) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string dirOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

Table::Table(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Table::~Table() {
  close();
  if (gCurrent == this) gCurrent = nullptr;
}

std::unique_ptr<Table> Table::open(const std::string& fileSpec, const std::string& directory,
                                   const OpenOptions& options) {
  auto impl = std::make_unique<Impl>();
  Impl& t = *impl;
  t.options = options;
  t.env = options.env ? options.env : defaultEnv();
  std::string name = fileSpec;
  if (!hasExtension(name)) name += ".dbf";
  t.fullPath = joinPath(directory, name);
  t.directory = dirOf(t.fullPath);
  t.fileName = t.fullPath.substr(t.directory.size());
  const char* op = "DBUSEAREA";
  for (;;) {
    Status s = t.env->open(t.fullPath, options.readOnly ? OpenMode::ReadOnly : OpenMode::ReadWrite, &t.file);
    if (s.ok()) break;
    std::string dirText = t.directory.empty() ? "the current directory " + rt::workingDirectory()
                                              : "directory " + t.directory;
    std::string what = s.kind == StatusKind::NotFound ? "table file " + t.fileName + " not found in " + dirText
                                                      : "cannot open table " + t.fullPath + ": " + s.message;
    if (!t.raise(rt::EG_OPEN, what, op, s.osCode ? s.osCode : 2, true)) return nullptr;
  }
  // Records are read and written through a shared view of the file: no call per record. Nothing
  // shrinks the table while it is open (emptying needs it exclusively), so the view stays valid.
  (void)t.file->mapPrefix(std::uint64_t{1} << 33);
  t.fileId = t.file->identity();
  bool exclusiveLock = !options.shared && !options.readOnly;
  for (;;) {
    Status s = t.file->lock(fmt::kOpenLockOffset, 1, exclusiveLock ? LockKind::Exclusive : LockKind::Shared, false);
    if (s.ok()) break;
    std::string what = s.kind == StatusKind::Busy
                           ? "table " + t.fullPath + " is in use by another process (sharing violation)"
                           : "cannot lock table " + t.fullPath + ": " + s.message;
    if (!t.raise(rt::EG_OPEN, what, op, s.kind == StatusKind::Busy ? 32 : s.osCode, true)) return nullptr;
  }
  // From here on another program's writes are told from ours by the file's time (invariant 10).
  if (!t.file->modifiedNs(&t.seenModifiedNs).ok()) t.seenModifiedNs = 0;
  // Header and field descriptors.
  auto fail = [&](const std::string& what) {
    t.raise(rt::EG_CORRUPTION, "table " + t.fullPath + ": " + what, op);
    return nullptr;
  };
  // The header before the size: another user may be appending, and a record reaches the file
  // before the count that covers it, so a size taken afterwards holds every counted record.
  std::size_t got = 0;
  if (!t.file->read(0, t.headerBytes, 32, &got).ok()) return fail("cannot read the header");
  std::uint64_t size = 0;
  if (!t.file->size(&size).ok()) return fail("cannot determine the file size");
  if (size < fmt::kFileHeaderSize || got != 32)
    return fail("truncated: the file holds " + std::to_string(size) + " bytes, a table header needs 32");
  std::uint8_t ver = t.headerBytes[fmt::kHdrVersion];
  if (ver != fmt::kVersionDbase3 && ver != fmt::kVersionDbase3Memo) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", ver);
    return fail(std::string("not a dBASE III table (version byte ") + hex + ")");
  }
  const CodePage::Lookup page = CodePage::forLanguageDriver(t.headerBytes[fmt::kHdrCodePage]);
  if (!page.page) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", t.headerBytes[fmt::kHdrCodePage]);
    t.raise(rt::EG_UNSUPPORTED, "table " + t.fullPath + " declares code page byte " + hex + ", which " + page.refusal +
                                    "; its text cannot be read without damage", op);
    return nullptr;
  }
  t.codePage = page.page;
  t.count = fmt::le32(t.headerBytes + fmt::kHdrRecCount);
  t.headerLen = fmt::le16(t.headerBytes + fmt::kHdrHeaderLen);
  t.recordLen = fmt::le16(t.headerBytes + fmt::kHdrRecordLen);
  if (t.headerLen < 32 + 32 + 1 || t.headerLen > size)
    return fail("header length " + std::to_string(t.headerLen) + " disagrees with the file size " + std::to_string(size));
  std::vector<std::uint8_t> desc(t.headerLen - 32);
  if (!t.file->read(32, desc.data(), desc.size(), &got).ok() || got != desc.size())
    return fail("cannot read the field descriptors");
  int offset = 1;
  std::size_t pos = 0;
  for (;; pos += fmt::kFieldDescSize) {
    if (pos >= desc.size()) return fail("field descriptors are not terminated by 0x0D within the header");
    if (desc[pos] == fmt::kHeaderTerminator) break;
    if (pos + fmt::kFieldDescSize > desc.size()) return fail("field descriptors run past the header length");
    const std::uint8_t* d = desc.data() + pos;
    FieldInfo f;
    f.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
    f.name = rt::toUpper(f.name);
    f.type = static_cast<char>(d[fmt::kFldType]);
    f.length = d[fmt::kFldLength];
    f.decimals = d[fmt::kFldDecimals];
    f.offset = offset;
    int fieldNo = static_cast<int>(t.fields.size()) + 1;
    if (f.name.empty() || f.name.size() > 10 ||
        !std::all_of(f.name.begin(), f.name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
      return fail("field " + std::to_string(fieldNo) + " has an invalid name");
    bool okType = (f.type == 'C' && f.length >= 1 && f.decimals == 0) || (f.type == 'L' && f.length == 1) ||
                  ((f.type == 'N' || f.type == 'F') && f.length >= 1 && f.length <= 20 && f.decimals < f.length) ||
                  (f.type == 'D' && f.length == 8) || (f.type == 'M' && f.length == 10);
    if (!okType)
      return fail("field " + f.name + " has an unsupported type or width (" + std::string(1, f.type ? f.type : '?') + ", " +
                  std::to_string(f.length) + ")");
    for (const auto& g : t.fields)
      if (g.name == f.name) return fail("field name " + f.name + " appears twice");
    offset += f.length;
    t.fields.push_back(std::move(f));
    if (t.fields.size() > fmt::kMaxFields) return fail("more than 128 fields");
  }
  if (t.fields.empty()) return fail("the table has no fields");
  if (static_cast<std::uint32_t>(offset) != t.recordLen)
    return fail("header record length " + std::to_string(t.recordLen) + " disagrees with the fields (" +
                std::to_string(offset) + " bytes)");
  if (t.recordLen > fmt::kMaxRecordLen) return fail("record length above 4000 bytes");
  std::uint64_t need = t.headerLen + static_cast<std::uint64_t>(t.count) * t.recordLen;
  if (need > size && size <= t.headerLen + 1) {
    if (!t.emptiedByAStoppedZap(size)) return nullptr;
    need = t.headerLen;
  }
  if (need > size)
    return fail("truncated: the header promises " + std::to_string(t.count) + " records (" + std::to_string(need) +
                " bytes) but the file holds " + std::to_string(size));
  // Deletion marks of every record, read in large chunks.
  t.deletedMap.assign(t.count, 0);
  {
    const std::uint32_t chunkRecs = std::max<std::uint32_t>(1, (1u << 20) / t.recordLen);
    std::vector<char> buf(static_cast<std::size_t>(chunkRecs) * t.recordLen);
    for (std::uint32_t r = 0; r < t.count; r += chunkRecs) {
      std::uint32_t n = std::min(chunkRecs, t.count - r);
      if (!t.file->read(t.headerLen + static_cast<std::uint64_t>(r) * t.recordLen, buf.data(),
                        static_cast<std::size_t>(n) * t.recordLen, &got).ok())
        return fail("cannot read the records");
      for (std::uint32_t k = 0; k < n; ++k) t.deletedMap[r + k] = buf[static_cast<std::size_t>(k) * t.recordLen] == fmt::kDeletedFlag;
    }
  }
  t.isOpen = true;
  t.fieldInKey.assign(t.fields.size(), false);
  std::unique_ptr<Table> table(new Table(std::move(impl)));
  gCurrent = table.get();
  t.goEdge(table.get(), Impl::Edge::Top, op);
  return table;
}

// A file cut to its bare header (and end mark) whose header still counts records is what an
// earlier build's zap left when it was stopped between cutting the file and writing the header:
// the table is empty, and its header is made to say so, with a warning.
bool Table::Impl::emptiedByAStoppedZap(std::uint64_t size) {
  const std::uint32_t counted = count;
  count = 0;
  Status s = Status::okay();
  if (!options.readOnly) {
    s = lockHeader();
    if (s.ok()) {
      s = writeHeader();
      const char eof = static_cast<char>(fmt::kEofMarker);
      if (s.ok() && size == headerLen) s = writeTable(headerLen, &eof, 1);
      unlockHeader();
    }
  }
  if (!s.ok()) {
    raise(rt::EG_CORRUPTION, "table " + fullPath + " was cut to its header while the header counts " +
                                 std::to_string(counted) + " records, and cannot be repaired: " + s.message,
          "DBUSEAREA", s.osCode);
    return false;
  }
  // The emptying was asked for: nothing is lost, so the log is told and the open goes on.
  rt::logWarning(rt::makeError(rt::EG_CORRUPTION, kSubsystem,
                               "table " + fullPath + " was cut to its header while the header counted " +
                                   std::to_string(counted) + " records (an emptying that was stopped); it is taken as empty",
                               "DBUSEAREA", fullPath));
  return true;
}

void Table::Impl::closeAll() {
  if (!isOpen) return;
  const char* op = "DBCLOSEAREA";
  settle(op);
  flushIndexes(op);
  if (orderBatch) {
    orderBatch = false;
    unlockHeader();
  }
  writeRun = false;
  releaseRunLock();
  if (!writeFailed) {
    Status s = writeAppended();
    if (!s.ok()) reportWriteFailure(s, "cannot write the records appended to " + fullPath, "DBAPPEND");
  }
  refreshStamps();
  orders.clear();
  batchMemory.reset();
  indexFiles.clear();
  file.reset();
  isOpen = false;
  controlling = 0;
  atEof = true;
}

bool Table::used() const { return impl_ && impl_->isOpen; }
void Table::close() {
  if (impl_) impl_->closeAll();
}

void Table::flush() {
  if (impl_->isOpen) impl_->flushAll("DBCOMMIT");
}

void Table::Impl::flushAll(const char* operation) {
  settle(operation);
  if (!writeFailed) {
    Status s = writeAppended();
    if (!s.ok()) reportWriteFailure(s, "cannot write the records appended to " + fullPath, "DBAPPEND");
  }
  flushIndexes(operation);
  refreshStamps();
}

bool Table::writeFailed() const { return impl_->writeFailed; }

const std::string& Table::fullPath() const { return impl_->fullPath; }
std::string Table::path() const { return impl_->directory; }
std::string Table::drive() const { return {}; }
bool Table::shared() const { return impl_->options.shared; }
bool Table::readOnly() const { return impl_->options.readOnly; }
int Table::fieldCount() const { return static_cast<int>(impl_->fields.size()); }
const FieldInfo& Table::field(int index) const { return impl_->fields.at(static_cast<std::size_t>(index)); }
std::uint32_t Table::recordLength() const { return impl_->recordLen; }

int Table::fieldIndex(std::string_view name) const {
  std::size_t b = name.find_first_not_of(" \t"), e = name.find_last_not_of(" \t");
  if (b == std::string_view::npos) return -1;
  name = name.substr(b, e - b + 1);
  for (std::size_t i = 0; i < impl_->fields.size(); ++i) {
    const std::string& f = impl_->fields[i].name;  // upper case
    if (f.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; same && k < f.size(); ++k)
      same = f[k] == std::toupper(static_cast<unsigned char>(name[k]));
    if (same) return static_cast<int>(i);
  }
  return -1;
}

void registerFunctions() {
  static bool done = false;
  if (done) return;
  done = true;
  rt::registerFunction("DELETED", 0, [](std::span<const rt::Value>) {
    Table* t = currentTable();
    return rt::Value(t && t->used() && t->deleted());
  });
}

bool createTable(const std::string& path, const std::vector<FieldInfo>& fields, Env* env) {
  if (!env) env = defaultEnv();
  auto fail = [&](const std::string& what) {
    auto e = rt::makeError(rt::EG_CREATE, kSubsystem, what, "DBCREATE", path);
    e->canDefault = true;
    (void)rt::raise(e);
    return false;
  };
  if (fields.empty() || fields.size() > fmt::kMaxFields) return fail("a table needs 1 to 128 fields");
  std::uint32_t headerLen = 32 + 32 * static_cast<std::uint32_t>(fields.size()) + 1, recordLen = 1;
  std::vector<std::uint8_t> out(headerLen, 0);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldInfo& f = fields[i];
    if (f.name.empty() || f.name.size() > 10) return fail("field name " + f.name + " must have 1 to 10 characters");
    std::uint8_t* d = out.data() + 32 + 32 * i;
    std::string name = rt::toUpper(f.name);
    std::memcpy(d, name.data(), name.size());
    d[fmt::kFldType] = static_cast<std::uint8_t>(f.type);
    fmt::putLe32(d + fmt::kFldDisplacement, recordLen);
    d[fmt::kFldLength] = static_cast<std::uint8_t>(f.length);
    d[fmt::kFldDecimals] = static_cast<std::uint8_t>(f.decimals);
    recordLen += static_cast<std::uint32_t>(f.length);
  }
  std::time_t now = static_cast<std::time_t>(env->calendarSeconds());
  std::tm tm{};
  localtime_r(&now, &tm);
  out[fmt::kHdrVersion] = fmt::kVersionDbase3;
  out[fmt::kHdrYear] = static_cast<std::uint8_t>(tm.tm_year);
  out[fmt::kHdrMonth] = static_cast<std::uint8_t>(tm.tm_mon + 1);
  out[fmt::kHdrDay] = static_cast<std::uint8_t>(tm.tm_mday);
  fmt::putLe16(out.data() + fmt::kHdrHeaderLen, headerLen);
  fmt::putLe16(out.data() + fmt::kHdrRecordLen, recordLen);
  out[fmt::kHdrFlags] = 0;  // no structural index: our index files are named, not the table's stem
  out[fmt::kHdrCodePage] = fmt::kCodePageWindows1252;
  out[headerLen - 1] = fmt::kHeaderTerminator;
  out.push_back(fmt::kEofMarker);
  std::unique_ptr<File> file;
  Status s = env->open(path, OpenMode::CreateReadWrite, &file);
  if (s.ok()) s = file->truncate(0);
  if (s.ok()) s = file->write(0, out.data(), out.size());
  if (!s.ok()) return fail("cannot write " + path + ": " + s.message);
  return true;
}

}  // namespace rdd
