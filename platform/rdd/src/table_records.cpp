// The record file: reading and writing records and the header, committing the current record,
// raising errors, and the sticky write-failure state (after a failed write the table is cut back
// to what reached the file and takes no further write). Also zap, which empties the file.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "table_impl.h"

namespace rdd {

// ---------------------------------------------------------------- raising

bool Table::Impl::raise(int genCode, const std::string& description, const std::string& operation,
                        std::int64_t osCode, bool canRetry, const std::string& file) {
  if (orderBatch) batchFailed = true;
  auto e = rt::makeError(genCode, kSubsystem, description, operation, file.empty() ? fullPath : file);
  e->osCode = osCode;
  e->canDefault = true;
  e->canRetry = canRetry;
  return rt::raise(e).retry();
}

// ---------------------------------------------------------------- records

Status Table::Impl::readHeaderCount(std::uint32_t* out) {
  std::uint8_t b[4];
  std::size_t got = 0;
  Status s = file->read(fmt::kHdrRecCount, b, 4, &got);
  if (!s.ok()) return s;
  if (got != 4) return Status::error(StatusKind::Corruption, "table header vanished");
  *out = fmt::le32(b);
  return Status::okay();
}

Status Table::Impl::readRecordInto(std::uint32_t r, char* out) {
  if (!appendBuf.empty() && r >= appendFirst && r < appendFirst + appendBuf.size() / recordLen) {
    std::memcpy(out, appendBuf.data() + static_cast<std::size_t>(r - appendFirst) * recordLen, recordLen);
    return Status::okay();
  }
  std::size_t got = 0;
  std::uint64_t end = headerLen + static_cast<std::uint64_t>(r) * recordLen;
  Status s = file->read(end - recordLen, out, recordLen, &got);
  if (s.ok() && got == recordLen) return s;
  std::uint64_t size = 0;
  if (r <= count && file->size(&size).ok() && size < end) {
    stopWriting("the table file shrank while open");
    return Status::error(StatusKind::Corruption, "the table file shrank while open: record " + std::to_string(r) +
                                                     " needs " + std::to_string(end) + " bytes, the file holds " +
                                                     std::to_string(size));
  }
  if (!s.ok()) return s;
  return Status::error(StatusKind::Corruption, "record " + std::to_string(r) + " lies beyond the end of the file");
}

Status Table::Impl::loadRecord() {
  if (recLoaded) return Status::okay();
  rec.resize(recordLen);  // every byte is read below, or blanked at the end of the table
  if (atEof) {
    rec.assign(recordLen, ' ');
    recLoaded = true;
    return Status::okay();
  }
  Status s = readRecordInto(recno, rec.data());
  if (!s.ok()) {
    rec.assign(recordLen, ' ');  // nothing of another record is left behind
    return s;
  }
  if (recno <= deletedMap.size()) deletedMap[recno - 1] = rec[0] == fmt::kDeletedFlag;
  recLoaded = true;
  return Status::okay();
}

Status Table::Impl::flushAppends() {
  if (appendBuf.empty()) return Status::okay();
  appendBuf.push_back(static_cast<char>(fmt::kEofMarker));
  Status s = writeTable(headerLen + static_cast<std::uint64_t>(appendFirst - 1) * recordLen, appendBuf.data(),
                        appendBuf.size());
  appendBuf.pop_back();
  // Emptied with its capacity kept, for the next chunk; after a failure the rows stay, so that a
  // later retry still has them, except those whose bytes reached the file whole.
  if (s.ok()) appendBuf.clear();
  else keepAppendsThatReachedTheFile();
  return s;
}

// A write cut short (a full disk, a file-size limit) may have stored the first buffered records
// whole: they are read back, and those found as written leave the buffer as written records.
void Table::Impl::keepAppendsThatReachedTheFile() {
  const std::uint64_t start = headerLen + static_cast<std::uint64_t>(appendFirst - 1) * recordLen;
  std::uint64_t size = 0;
  if (!file->size(&size).ok() || size <= start) return;
  const std::size_t buffered = appendBuf.size() / recordLen;
  const std::size_t candidates = std::min<std::uint64_t>(buffered, (size - start) / recordLen);
  std::vector<char> back(candidates * recordLen);
  std::size_t got = 0;
  if (candidates == 0 || !file->read(start, back.data(), back.size(), &got).ok()) return;
  std::size_t whole = 0;
  while (whole < got / recordLen &&
         std::memcmp(back.data() + whole * recordLen, appendBuf.data() + whole * recordLen, recordLen) == 0)
    ++whole;
  appendBuf.erase(appendBuf.begin(), appendBuf.begin() + static_cast<std::ptrdiff_t>(whole * recordLen));
  appendFirst += static_cast<std::uint32_t>(whole);
}

Status Table::Impl::writeAppended() {
  Status s = flushAppends();
  if (s.ok() && headerDirty) s = writeHeader();
  return s;
}

void Table::Impl::stopWriting(const std::string& why) {
  if (!writeFailed) writeFailure = why;
  writeFailed = true;
  appendBuf.clear();
  recDirty = keysTouched = appendedUncommitted = false;
  origRec.reset();
}

Status Table::Impl::writeBroke(const Status& what, std::uint32_t keepAtMost) {
  // What reached the file: the records before the buffered ones (buffered records that reached
  // it whole left the buffer when their write failed).
  std::uint32_t stored = appendBuf.empty() ? count : appendFirst - 1;
  std::uint64_t size = 0;
  if (!file->size(&size).ok() || size < headerLen + static_cast<std::uint64_t>(stored) * recordLen) {
    stopWriting(what.message);  // someone else cut the file: its length is not ours to set
    return Status::okay();
  }
  if (!writeFailed) writeFailure = what.message;
  writeFailed = true;
  recDirty = keysTouched = appendedUncommitted = false;
  origRec.reset();
  appendBuf.clear();
  // Without the header lock another opener may have appended behind our records: the file's
  // length and its header are theirs as much as ours, and stay as they are.
  if (!holdsHeaderLock()) return Status::okay();
  stored = std::min(stored, keepAtMost);
  if (stored < count) dropEntriesBeyond(stored);
  count = stored;
  deletedMap.resize(stored, 0);
  // Cutting first frees the space the header may need. The end mark follows when there is room
  // for it: a file-size limit reached exactly by the last record leaves none, and the table is
  // whole without it.
  std::uint64_t end = headerLen + static_cast<std::uint64_t>(stored) * recordLen;
  Status s = truncateTable(end);
  if (s.ok()) s = writeHeader();
  if (s.ok()) {
    const char eof = static_cast<char>(fmt::kEofMarker);
    Status mark = writeTable(end, &eof, 1);
    if (!mark.ok() && mark.osCode != EFBIG && mark.osCode != ENOSPC) s = mark;
  }
  std::uint32_t counted = 0;
  if (!s.ok() && readHeaderCount(&counted).ok() && counted < count) {
    // The header on disk still counts fewer: what it counts is the table the next open finds.
    dropEntriesBeyond(counted);
    count = counted;
    deletedMap.resize(counted, 0);
  }
  if (atEof || recno > count) setEof();
  return s;
}

std::string Table::Impl::repairNote(const Status& repair) {
  return repair.ok() ? std::string() : "; cutting the table back to the records written failed too: " + repair.message;
}

bool Table::Impl::holdsHeaderLock() const { return !options.shared || burstHeld || orderBatch || runHeld; }

void Table::Impl::dropEntriesBeyond(std::uint32_t last) {
  for (auto& o : orders) {
    std::vector<std::string> beyond;
    const std::size_t keyLen = static_cast<std::size_t>(o->keyLen);
    o->index.forEach([&](std::string_view e) {
      if (fmt::be32(reinterpret_cast<const std::uint8_t*>(e.data()) + keyLen) > last) beyond.emplace_back(e);
    });
    for (const std::string& e : beyond) (void)o->index.erase(e);
  }
  for (auto& f : indexFiles) {
    auto& added = f->pendingNew;
    added.erase(std::remove_if(added.begin(), added.end(), [last](std::uint32_t r) { return r > last; }), added.end());
    for (auto it = f->pending.begin(); it != f->pending.end();) it = it->first > last ? f->pending.erase(it) : std::next(it);
  }
  cursorGen = ~0ull;
}

void Table::Impl::reportWriteFailure(const Status& s, const std::string& what, const char* operation) {
  Status repair = writeBroke(s);
  raise(rt::EG_WRITE, what + ": " + s.message + repairNote(repair), operation, s.osCode);
}

bool Table::Impl::refuseAfterFailure(const char* operation) {
  if (!writeFailed) return false;
  raise(rt::EG_WRITE,
        "an earlier write to " + fullPath + " failed (" + writeFailure + "); nothing more is written until it is opened again",
        operation);
  return true;
}

Status Table::Impl::trimTail() {
  std::uint64_t size = 0;
  Status s = file->size(&size);  // also tells the view how long the file is now
  if (!s.ok()) return s;
  std::uint64_t end = headerLen + static_cast<std::uint64_t>(count) * recordLen;
  if (size < end)
    return Status::error(StatusKind::Corruption, "the table file shrank while open: " + std::to_string(count) +
                                                     " records need " + std::to_string(end) + " bytes, it holds " +
                                                     std::to_string(size));
  if (size <= end + 1) return Status::okay();
  char eof = static_cast<char>(fmt::kEofMarker);
  s = truncateTable(end);
  if (s.ok()) s = writeTable(end, &eof, 1);
  return s;
}

Status Table::Impl::writeRecord(std::uint32_t r, const char* data) {
  ++recordWrites;
  std::size_t inBuf = appendBuf.size() / recordLen;
  if (inBuf && r >= appendFirst && r < appendFirst + inBuf) {
    std::memcpy(appendBuf.data() + static_cast<std::size_t>(r - appendFirst) * recordLen, data, recordLen);
    return Status::okay();
  }
  if (!options.shared && r == count && (inBuf == 0 || r == appendFirst + inBuf)) {
    // The newest record of an exclusive table: collect it with its neighbours, write in bulk.
    if (inBuf == 0) {
      appendFirst = r;
      appendBuf.reserve(kAppendChunk + recordLen + 1);
    }
    appendBuf.insert(appendBuf.end(), data, data + recordLen);
    if (appendBuf.size() >= kAppendChunk) return flushAppends();
    return Status::okay();
  }
  Status s = flushAppends();
  if (!s.ok()) return s;
  const std::uint64_t at = headerLen + static_cast<std::uint64_t>(r - 1) * recordLen;
  // The end-of-file byte follows the newest record of an exclusive table. A shared table got it
  // when the record was appended; someone may have appended after it since, and writing it again
  // would overwrite the first byte of their record.
  if (r != count || options.shared) return writeTable(at, data, recordLen);
  scratchRecord.assign(data, recordLen);
  scratchRecord.push_back(static_cast<char>(fmt::kEofMarker));
  return writeTable(at, scratchRecord.data(), scratchRecord.size());
}

Status Table::Impl::writeHeader() {
  // The date of the last change; the calendar is consulted again only when the minute changed.
  std::time_t now = static_cast<std::time_t>(env->calendarSeconds());
  if (now / 60 != headerDateMinute) {
    headerDateMinute = now / 60;
    std::tm tm{};
    localtime_r(&now, &tm);
    headerBytes[fmt::kHdrYear] = static_cast<std::uint8_t>(tm.tm_year);  // years since 1900
    headerBytes[fmt::kHdrMonth] = static_cast<std::uint8_t>(tm.tm_mon + 1);
    headerBytes[fmt::kHdrDay] = static_cast<std::uint8_t>(tm.tm_mday);
  }
  fmt::putLe32(headerBytes + fmt::kHdrRecCount, count);
  Status s = writeTable(0, headerBytes, 8);
  if (s.ok()) headerDirty = false;
  return s;
}

// A change to the current record needs the record as it is: written over a record that could not
// be read, it would take that record's other fields with it.
bool Table::Impl::recordReadFor(const char* operation, const char* notDone, const std::string* field) {
  if (recLoaded) return true;
  Status s = loadRecord();
  if (s.ok()) return true;
  raise(rt::EG_READ, "cannot read record " + std::to_string(recno) + " of " + fullPath + ": " + s.message + "; " +
                         (field ? "field " + *field + " " : std::string()) + notDone,
        operation, s.osCode);
  return false;
}

// Writes the current record if it changed and brings every open order in step with it.
void Table::Impl::commit(const char* operation) {
  if (!recDirty) return;
  holdRunLock();
  if (refuseAfterFailure(operation)) {
    recDirty = keysTouched = appendedUncommitted = false;
    origRec.reset();
    return;
  }
  if (keysTouched && !markIndexesChanging(recordChangedBy)) return;  // raised, and no more is written
  for (;;) {
    Status s = writeRecord(recno, rec.data());
    if (s.ok()) break;
    // Appended records still buffered were part of the write that failed.
    const char* failed = appendBuf.empty() ? recordChangedBy : "DBAPPEND";
    if (!raise(rt::EG_WRITE, "cannot write record " + std::to_string(recno) + " of " + fullPath + ": " + s.message,
               failed, s.osCode, true)) {
      Status repair = writeBroke(s);
      if (!repair.ok()) raise(rt::EG_WRITE, "cannot cut " + fullPath + " back to the records written" + repairNote(repair), failed, repair.osCode);
      return;
    }
    if (writeFailed) return;  // the table was cut back meanwhile: the record is not retried
  }
  if (keysTouched) updateKeys();
  recDirty = false;
  keysTouched = false;
  origRec.reset();
  appendedUncommitted = false;
}

void Table::zap() {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  const char* op = "DBZAP";
  if (t.options.shared || t.options.readOnly) {
    t.raise(rt::EG_SHARED, "table " + t.fullPath + " must be open exclusively to be emptied", op);
    return;
  }
  if (t.refuseAfterFailure(op)) return;
  // Whatever is still in memory reaches the file first: a zap that fails leaves the table whole.
  t.commit(op);
  if (t.writeFailed) return;
  if (Status s = t.writeAppended(); !s.ok()) return t.reportWriteFailure(s, "cannot write the records appended to " + t.fullPath, "DBAPPEND");
  if (!t.markIndexesChanging(op)) return;
  // The header that counts no record is written before the file is cut: a stop before it leaves
  // the table as it was, a stop after it an empty table with bytes beyond it (cut by the next
  // append), and the index files' stamps count this opener until they are written.
  const std::uint32_t had = t.count;
  t.count = 0;
  Status s = t.writeHeader();
  if (!s.ok()) {
    t.count = had;
    return t.reportWriteFailure(s, "cannot empty " + t.fullPath, op);
  }
  t.deletedMap.clear();
  const char eof = static_cast<char>(fmt::kEofMarker);
  s = t.truncateTable(t.headerLen);
  if (s.ok()) s = t.writeTable(t.headerLen, &eof, 1);
  for (auto& o : t.orders) {
    o->index.clear();
    o->file->dirty = true;
    if (!o->file->changedBy) o->file->changedBy = op;
    o->file->clearPending();
  }
  t.setEof();
  if (!s.ok()) return t.reportWriteFailure(s, "cannot cut " + t.fullPath + " back after emptying it", op);
  t.flushIndexes(op);
}

}  // namespace rdd
