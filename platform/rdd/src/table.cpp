// A Table at work: append bursts and their locks, reading and writing records, the keys of the
// open orders, navigation, and fields. Opening and closing are in table_open.cpp, orders and
// index files in table_index.cpp.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>

#include "table_impl.h"

namespace rdd {
namespace {

const char* kSubsystem = "DBFCDX";

std::string upper(std::string_view s) { return rt::toUpper(s); }

std::string trimSpaces(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

// Days from the civil date to the run-time's Julian day numbers.
std::int32_t julianOf(int y, int m, int d) {
  int a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}
void civilOf(std::int32_t j, int* y, int* m, int* d) {
  int a = j + 32044, b = (4 * a + 3) / 146097, c = a - 146097 * b / 4;
  int dd = (4 * c + 3) / 1461, e = c - 1461 * dd / 4, mm = (5 * e + 2) / 153;
  *d = e - (153 * mm + 2) / 5 + 1;
  *m = mm + 3 - 12 * (mm / 10);
  *y = 100 * b + dd - 4800 + mm / 10;
}

// The value a stored field of any type other than character text stands for; character fields
// and unknown types answer their stored bytes.
rt::Value storedValue(const FieldInfo& f, std::string_view raw) {
  switch (f.type) {
    case 'L': return rt::Value(!raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y'));
    case 'N': case 'F': {
      std::string s = trimSpaces(raw);
      if (f.decimals == 0) return rt::Value(static_cast<long long>(std::atoll(s.c_str())));
      return rt::Value(rt::Float{std::atof(s.c_str()), f.decimals});
    }
    case 'D': {
      std::string s(raw);
      if (trimSpaces(s).empty() || s.size() < 8) return rt::Value(rt::Date{});
      int y = std::atoi(s.substr(0, 4).c_str()), m = std::atoi(s.substr(4, 2).c_str()), d = std::atoi(s.substr(6, 2).c_str());
      if (m < 1 || m > 12 || d < 1 || d > 31) return rt::Value(rt::Date{});
      return rt::Value(rt::Date{julianOf(y, m, d)});
    }
    default: return rt::Value(raw);
  }
}

// Key and condition expressions see the record being keyed; character fields as their stored
// bytes, so that keys sort on what is on disk.
class RecordResolver : public rt::FieldResolver {
 public:
  RecordResolver(Table::Impl* t, const char* rec) : t_(t), rec_(rec) {}
  std::optional<rt::Value> field(rt::Symbol name) override {
    for (const FieldInfo& f : t_->fields)
      if (f.name == name.name())
        return storedValue(f, std::string_view(rec_ + f.offset, static_cast<std::size_t>(f.length)));
    return std::nullopt;
  }

 private:
  Table::Impl* t_;
  const char* rec_;
};

}  // namespace

Table* gCurrent = nullptr;
Table* currentTable() { return gCurrent; }

// ---------------------------------------------------------------- append bursts

namespace {

// Openers of this thread that hold the header lock across appends. Another opener of the same
// file in this thread would wait for that lock forever, so it ends their bursts first; a raised
// error ends them all, since the error block may wait for the user.
thread_local std::vector<Table::Impl*> tBursts;

// Appended records collect up to this many bytes before they are written.
constexpr std::size_t kAppendChunk = 256u << 10;
// A burst lasts at least this many times as long as writing the index files took the last time.
constexpr std::int64_t kIndexShareFactor = 4;

void endBurstsOn(const std::string& id) {
  if (tBursts.empty()) return;
  std::vector<Table::Impl*> holders = tBursts;
  for (Table::Impl* t : holders)
    if (id.empty() || t->fileId.empty() || t->fileId == id) t->endBurst("DBAPPEND");
}

// The error being raised is the one the user hears of; a burst that cannot be written now marks
// its table failed, and the table's next write says so.
void endAllBursts() {
  std::vector<Table::Impl*> holders = tBursts;
  for (Table::Impl* t : holders) t->endBurst("DBAPPEND", false);
}

void listenForRaises() {
  static std::once_flag once;
  std::call_once(once, [] { rt::addRaiseListener(endAllBursts); });
}

}  // namespace

bool Table::Impl::burstOver() const {
  if (options.appendBurstMs <= 0) return true;
  // Each burst ends with the index files written: a burst lasts several times as long as that
  // write took, so the index costs a bounded share of a long load however large it grows.
  std::int64_t budget = std::max<std::int64_t>(options.appendBurstMs, kIndexShareFactor * indexWriteMs);
  return nowMs() - burstStartMs >= budget;
}

bool Table::Impl::keepBurstAlone() {
  if (options.appendBurstMs <= 0) return false;
  // The budget exists for other openers: one that waits for the lock or reads the index. With
  // nobody else holding the table open there is neither, so the burst goes on and the index is
  // written once, at its end; a kill still loses only the records not yet written (the header
  // counts every chunk written, and the next open rebuilds the index a dead changer left). Asked
  // again one budget later, so an opener that comes meanwhile waits no longer than it would have.
  if (file->heldByOthers(fmt::kOpenLockOffset, 1, LockKind::Exclusive)) return false;
  burstStartMs = nowMs();
  return true;
}

std::int64_t Table::Impl::nowMs() const {
  if (options.clock) return options.clock();
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Table::Impl::releaseBurst() {
  burstHeld = false;
  tBursts.erase(std::remove(tBursts.begin(), tBursts.end(), this), tBursts.end());
  (void)file->unlock(fmt::kHeaderLockOffset, 1);
}

void Table::Impl::endBurst(const char* operation, bool report, std::uint32_t keepAtMost) {
  if (!burstHeld) return;
  if (writeFailed) return releaseBurst();  // reported when it failed; nothing more is written
  Status s = writeAppended();
  std::string what = "cannot write the records appended to " + fullPath;
  if (s.ok()) {
    std::int64_t start = nowMs();
    for (auto& f : indexFiles) {
      if (!f->dirty) continue;
      s = writeIndexFile(*f);
      if (!s.ok()) {
        what = "cannot write index file " + f->path;
        break;
      }
    }
    indexWriteMs = nowMs() - start;
  }
  if (!s.ok()) writeBroke(s, keepAtMost);
  releaseBurst();
  if (!s.ok() && report) raise(rt::EG_WRITE, what + ": " + s.message, operation, s.osCode);
}

// Within our own burst or batch of order changes the lock is ours already. A read-only opener
// only reads under it: a shared lock keeps writers out, and is the only kind a file opened for
// reading can take.
Status Table::Impl::lockHeader() {
  if (burstHeld || orderBatch) return Status::okay();
  endBurstsOn(fileId);
  return file->lock(fmt::kHeaderLockOffset, 1, options.readOnly ? LockKind::Shared : LockKind::Exclusive, true);
}

void Table::Impl::unlockHeader() {
  if (!burstHeld && !orderBatch) (void)file->unlock(fmt::kHeaderLockOffset, 1);
}

void Table::Impl::settle(const char* operation) {
  commit(operation);
  endBurst(operation);
  // Shared: a key changed in place reaches the index file before anyone can take the lock again
  // (within a batch of order changes, nobody can: the files are written at its end).
  if (options.shared && !orderBatch) flushIndexes(operation);
}

// ---------------------------------------------------------------- raising

bool Table::Impl::raise(int genCode, const std::string& description, const std::string& operation,
                        std::int64_t osCode, bool canRetry, const std::string& file) {
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
    lengthLost("the table file shrank while open");
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
  Status s = file->write(headerLen + static_cast<std::uint64_t>(appendFirst - 1) * recordLen, appendBuf.data(),
                         appendBuf.size());
  appendBuf.pop_back();
  // Emptied with its capacity kept, for the next chunk; after a failure the rows stay, so that a
  // later retry still has them.
  if (s.ok()) appendBuf.clear();
  return s;
}

Status Table::Impl::writeAppended() {
  Status s = flushAppends();
  if (s.ok() && headerDirty) s = writeHeader();
  return s;
}

void Table::Impl::lengthLost(const std::string& why) {
  if (!writeFailed) writeFailure = why;
  writeFailed = true;
  appendBuf.clear();
  recDirty = keysTouched = appendedUncommitted = false;
  origRec.reset();
}

void Table::Impl::writeBroke(const Status& what, std::uint32_t keepAtMost) {
  // What reached the file: the records before the buffered ones, and in shared mode never more
  // than the header on disk counts (its own write may be what failed).
  std::uint32_t stored = appendBuf.empty() ? count : appendFirst - 1;
  std::uint64_t size = 0;
  if (!file->size(&size).ok() || size < headerLen + static_cast<std::uint64_t>(stored) * recordLen)
    return lengthLost(what.message);  // someone else cut the file: its length is not ours to set
  if (!writeFailed) writeFailure = what.message;
  writeFailed = true;
  std::uint32_t counted = stored;
  if (options.shared && readHeaderCount(&counted).ok()) stored = std::min(stored, counted);
  stored = std::min(stored, keepAtMost);
  appendBuf.clear();
  if (stored < count) dropEntriesBeyond(stored);
  count = stored;
  deletedMap.resize(stored, 0);
  // Cutting first frees the space the end mark and the header may need.
  std::uint64_t end = headerLen + static_cast<std::uint64_t>(stored) * recordLen;
  char eof = static_cast<char>(fmt::kEofMarker);
  (void)file->truncate(end);
  (void)file->write(end, &eof, 1);
  (void)writeHeader();
  recDirty = keysTouched = appendedUncommitted = false;
  origRec.reset();
  if (atEof || recno > count) setEof();
}

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
  writeBroke(s);
  raise(rt::EG_WRITE, what + ": " + s.message, operation, s.osCode);
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
  s = file->truncate(end);
  if (s.ok()) s = file->write(end, &eof, 1);
  return s;
}

Status Table::Impl::writeRecord(std::uint32_t r, const char* data) {
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
  if (r != count || options.shared) return file->write(at, data, recordLen);
  scratchRecord.assign(data, recordLen);
  scratchRecord.push_back(static_cast<char>(fmt::kEofMarker));
  return file->write(at, scratchRecord.data(), scratchRecord.size());
}

Status Table::Impl::writeHeader() {
  // The date of the last change; the calendar is consulted again only when the minute changed.
  std::time_t now = std::time(nullptr);
  if (now / 60 != headerDateMinute) {
    headerDateMinute = now / 60;
    std::tm tm{};
    localtime_r(&now, &tm);
    headerBytes[fmt::kHdrYear] = static_cast<std::uint8_t>(tm.tm_year);  // years since 1900
    headerBytes[fmt::kHdrMonth] = static_cast<std::uint8_t>(tm.tm_mon + 1);
    headerBytes[fmt::kHdrDay] = static_cast<std::uint8_t>(tm.tm_mday);
  }
  fmt::putLe32(headerBytes + fmt::kHdrRecCount, count);
  Status s = file->write(0, headerBytes, 8);
  if (s.ok()) headerDirty = false;
  return s;
}

bool Table::Impl::isDeleted(std::uint32_t r) { return r >= 1 && r <= deletedMap.size() && deletedMap[r - 1]; }

bool Table::Impl::visibleNatural(std::uint32_t r) { return !(rt::settings().deleted && isDeleted(r)); }

void Table::Impl::setEof() {
  atEof = true;
  recno = count + 1;
  recLoaded = false;
  cursorGen = ~0ull;
}

void Table::Impl::positionOn(std::uint32_t r) {
  atEof = false;
  recno = r;
  recLoaded = false;
  cursorEntryStale = false;
}

void Table::Impl::refreshCursorEntry(const Order& o) {
  cursorEntryStale = false;
  cursorGen = ~0ull;
  cursorEntry.clear();
  if (atEof || !loadRecord().ok()) return;
  cursorEntry.resize(static_cast<std::size_t>(o.keyLen) + 4);
  if (!entryInto(o, rec.data(), recno, cursorEntry.data())) cursorEntry.clear();
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
  if (refuseAfterFailure(operation)) {
    recDirty = keysTouched = appendedUncommitted = false;
    origRec.reset();
    return;
  }
  if (keysTouched) (void)markIndexesChanging(operation);
  for (;;) {
    Status s = writeRecord(recno, rec.data());
    if (s.ok()) break;
    if (!raise(rt::EG_WRITE, "cannot write record " + std::to_string(recno) + " of " + fullPath + ": " + s.message,
               operation, s.osCode, true)) {
      writeBroke(s);
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

std::string Table::Impl::keyOf(const Order& o, const char* record) {
  std::string key;
  key.reserve(static_cast<std::size_t>(o.keyLen));
  if (!o.keyFields.empty()) {
    for (int fi : o.keyFields) key.append(record + fields[fi].offset, static_cast<std::size_t>(fields[fi].length));
  } else if (o.keyBlock) {
    RecordResolver res(this, record);
    rt::Value v = o.keyBlock->eval(&res);
    if (v.isString()) key = v.asString();
    else if (v.isDate()) key = rt::dtos(v.asDate());  // a date keys as its stored form, which sorts
    else if (v.isLogical()) key = v.asLogical() ? "T" : "F";
    else key = rt::toText(v);
  }
  if (o.keyLen > 0) key.resize(static_cast<std::size_t>(o.keyLen), ' ');
  return key;
}

bool Table::Impl::forOf(const Order& o, const char* record) {
  if (!o.forBlock) return true;
  RecordResolver res(this, record);
  return o.forBlock->eval(&res).asLogical();
}

bool Table::Impl::entryInto(const Order& o, const char* record, std::uint32_t r, char* out) {
  if (!forOf(o, record)) return false;
  if (!o.keySpans.empty()) {
    char* p = out;
    for (const auto& [offset, length] : o.keySpans) {
      std::memcpy(p, record + offset, static_cast<std::size_t>(length));
      p += length;
    }
  } else {
    std::string key = keyOf(o, record);
    std::memcpy(out, key.data(), static_cast<std::size_t>(o.keyLen));
  }
  fmt::putBe32(reinterpret_cast<std::uint8_t*>(out) + o.keyLen, r);
  return true;
}

std::optional<std::string> Table::Impl::entryOf(const Order& o, const char* record, std::uint32_t r) {
  std::string e(static_cast<std::size_t>(o.keyLen) + 4, ' ');
  if (!entryInto(o, record, r, e.data())) return std::nullopt;
  return e;
}

void Table::Impl::updateKeys() {
  std::size_t es = 0;
  for (auto& op : orders) es = std::max(es, static_cast<std::size_t>(op->keyLen) + 4);
  if (scratchBefore.size() < es) scratchBefore.resize(es);
  if (scratchAfter.size() < es) scratchAfter.resize(es);
  for (auto& op : orders) {
    Order& o = *op;
    std::size_t n = static_cast<std::size_t>(o.keyLen) + 4;
    bool hasBefore = origRec && entryInto(o, origRec->data(), recno, scratchBefore.data());
    bool hasAfter = entryInto(o, rec.data(), recno, scratchAfter.data());
    if (hasBefore == hasAfter && (!hasBefore || std::memcmp(scratchBefore.data(), scratchAfter.data(), n) == 0)) continue;
    if (hasBefore) (void)o.index.erase(std::string_view(scratchBefore.data(), n));
    if (hasAfter) o.index.insert(std::string_view(scratchAfter.data(), n));
    IndexFileState& f = *o.file;
    f.dirty = true;
    // Only a shared table needs the old entries: to merge with another user's rewrite.
    if (options.shared && !origRec) {
      if (f.pendingNew.empty() || f.pendingNew.back() != recno) f.pendingNew.push_back(recno);
    } else if (options.shared && f.pending.find(recno) == f.pending.end()) {
      std::vector<std::optional<std::string>> olds;
      for (auto& other : orders)
        if (other->file == &f) olds.push_back(origRec ? entryOf(*other, origRec->data(), recno) : std::nullopt);
      f.pending.emplace(recno, std::move(olds));
    }
    if (controlling > 0 && orders[controlling - 1].get() == &o && hasAfter) {
      cursorEntry.assign(scratchAfter.data(), n);
      cursorEntryStale = false;
      cursorGen = ~0ull;
    }
  }
}

bool Table::Impl::entryVisible(const Order& o, KeyIndex::Cursor c) {
  std::uint32_t r = o.index.recno(c);
  if (rt::settings().deleted && isDeleted(r)) return false;
  if (o.unique) {
    KeyIndex::Cursor p = o.index.prev(c);
    if (!o.index.atEnd(p) && o.index.key(p) == o.index.key(c)) return false;
  }
  return true;
}

void Table::Impl::refreshFieldInKey() {
  fieldInKey.assign(fields.size(), false);
  for (auto& o : orders) {
    if (o->keyFields.empty() || o->forBlock) {
      fieldInKey.assign(fields.size(), true);
      return;
    }
    for (int fi : o->keyFields) fieldInKey[fi] = true;
  }
}

// ---------------------------------------------------------------- navigation

std::uint32_t Table::lastRec() {
  Impl& t = *impl_;
  if (!t.isOpen) return 0;
  if (t.options.shared && !t.burstHeld) {
    endBurstsOn(t.fileId);  // what another opener in this thread appended counts too
    t.takeInOthersAppends();
  }
  return t.count;
}

void Table::Impl::takeInOthersAppends() {
  std::uint32_t c = 0;
  if (!options.shared || !readHeaderCount(&c).ok() || c <= count) return;
  deletedMap.resize(c, 0);
  if (atEof) recno = c + 1;
  count = c;
}

void Table::goTop() {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  t.settle("DBGOTOP");
  t.atBof = false;
  if (t.controlling == 0) {
    std::uint32_t n = lastRec();
    for (std::uint32_t r = 1; r <= n; ++r)
      if (t.visibleNatural(r)) return t.positionOn(r);
    return t.setEof();
  }
  Order& o = *t.orders[t.controlling - 1];
  (void)t.syncIndexForRead(*o.file);
  for (auto c = o.index.begin(); !o.index.atEnd(c); c = o.index.next(c)) {
    if (!t.entryVisible(o, c)) continue;
    t.cursor = c;
    t.cursorGen = o.index.generation();
    t.cursorEntry.assign(o.index.entry(c));
    return t.positionOn(o.index.recno(c));
  }
  t.setEof();
}

void Table::goBottom() {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  t.settle("DBGOBOTTOM");
  if (t.controlling == 0) {
    for (std::uint32_t r = lastRec(); r >= 1; --r)
      if (t.visibleNatural(r)) return t.positionOn(r);
    return t.setEof();
  }
  Order& o = *t.orders[t.controlling - 1];
  for (auto c = o.index.last(); !o.index.atEnd(c) && o.index.size(); c = o.index.prev(c)) {
    if (!t.entryVisible(o, c)) continue;
    t.cursor = c;
    t.cursorGen = o.index.generation();
    t.cursorEntry.assign(o.index.entry(c));
    return t.positionOn(o.index.recno(c));
  }
  t.setEof();
}

void Table::skip(long n) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  t.settle("DBSKIP");
  t.atBof = false;
  if (t.controlling == 0) {
    while (n > 0) {
      if (t.atEof) return;
      std::uint32_t r = t.recno + 1;
      while (r <= t.count && !t.visibleNatural(r)) ++r;
      if (r > t.count && r > lastRec()) return t.setEof();
      if (r > t.count) continue;
      t.positionOn(r);
      --n;
    }
    while (n < 0) {
      std::uint32_t r = t.atEof ? t.count : t.recno - 1;
      while (r >= 1 && !t.visibleNatural(r)) --r;
      if (r < 1) {
        t.atBof = true;
        return;
      }
      t.positionOn(r);
      ++n;
    }
    return;
  }
  Order& o = *t.orders[t.controlling - 1];
  if (t.atEof && n > 0) return;
  if (t.atEof) {
    goBottom();
    if (t.atEof) {  // the order shows no record (a damaged index may hold none of the table's)
      t.atBof = true;
      return;
    }
    ++n;
  }
  if (t.cursorEntryStale) t.refreshCursorEntry(o);
  if (t.cursorGen != o.index.generation()) {
    t.cursor = o.index.lowerBound(t.cursorEntry);
    t.cursorGen = o.index.generation();
  }
  auto c = t.cursor;
  while (n != 0) {
    c = n > 0 ? o.index.next(c) : o.index.prev(c);
    if (o.index.atEnd(c)) {
      if (n > 0) return t.setEof();
      t.atBof = true;
      return;
    }
    if (!t.entryVisible(o, c)) continue;
    n += n > 0 ? -1 : 1;
  }
  t.cursor = c;
  t.cursorEntry.assign(o.index.entry(c));
  t.positionOn(o.index.recno(c));
}

void Table::goTo(std::uint32_t r) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  t.settle("DBGOTO");
  t.atBof = false;
  if (r < 1 || (r > t.count && r > lastRec())) return t.setEof();
  t.positionOn(r);
  if (t.controlling > 0) {
    // The order position is worked out from the record only when a skip needs it.
    t.cursorEntryStale = true;
    t.cursorGen = ~0ull;
  }
}

bool Table::eof() const { return !impl_->isOpen || impl_->atEof; }
bool Table::bof() const { return !impl_->isOpen || impl_->atBof; }
std::uint32_t Table::recNo() const { return impl_->isOpen ? impl_->recno : 0; }
bool Table::found() const { return impl_->lastFound; }

bool Table::deleted() {
  Impl& t = *impl_;
  if (!t.isOpen || t.atEof) return false;
  if (!t.recLoaded) (void)t.loadRecord();
  return t.rec[0] == fmt::kDeletedFlag;
}

void Table::deleteRecord() {
  Impl& t = *impl_;
  if (!t.isOpen || t.atEof) return;
  if (t.options.readOnly) {
    t.raise(rt::EG_READONLY, "table " + t.fullPath + " is open read-only", "DBDELETE");
    return;
  }
  if (!t.recordReadFor("DBDELETE", "not marked deleted")) return;
  t.rec[0] = fmt::kDeletedFlag;
  t.deletedMap[t.recno - 1] = 1;
  t.recDirty = true;
}

void Table::recall() {
  Impl& t = *impl_;
  if (!t.isOpen || t.atEof) return;
  if (!t.recordReadFor("DBRECALL", "not recalled")) return;
  t.rec[0] = fmt::kLiveFlag;
  t.deletedMap[t.recno - 1] = 0;
  t.recDirty = true;
}

// ---------------------------------------------------------------- fields

std::string_view Table::rawField(int index) {
  Impl& t = *impl_;
  if (!t.isOpen || index < 0 || index >= fieldCount()) return {};
  if (!t.recLoaded) {
    Status s = t.loadRecord();
    if (!s.ok()) t.raise(rt::EG_READ, "cannot read record " + std::to_string(t.recno) + " of " + t.fullPath + ": " + s.message, "FIELDGET");
  }
  const FieldInfo& f = t.fields[static_cast<std::size_t>(index)];
  return std::string_view(t.rec.data() + f.offset, static_cast<std::size_t>(f.length));
}

bool Table::logical(int index) {
  std::string_view raw = rawField(index);
  return !raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y');
}

rt::Value Table::get(int index) {
  Impl& t = *impl_;
  if (!t.isOpen) return {};
  if (index < 0 || index >= fieldCount()) {
    t.raise(rt::EG_NOVAR, "field number " + std::to_string(index + 1) + " does not exist in " + t.fullPath, "FIELDGET");
    return {};
  }
  const FieldInfo& f = t.fields[static_cast<std::size_t>(index)];
  if (f.type == 'C') return rt::Value(text(index));
  return storedValue(f, rawField(index));
}

rt::Value Table::get(std::string_view name) {
  int i = fieldIndex(name);
  if (i < 0) {
    if (impl_->isOpen)
      impl_->raise(rt::EG_NOVAR, "field " + upper(name) + " does not exist in " + impl_->fullPath, "FIELDGET");
    return {};
  }
  return get(i);
}

void Table::put(std::string_view name, const rt::Value& value) {
  int i = fieldIndex(name);
  if (i < 0) {
    if (impl_->isOpen)
      impl_->raise(rt::EG_NOVAR, "field " + upper(name) + " does not exist in " + impl_->fullPath, "FIELDPUT");
    return;
  }
  put(i, value);
}

void Table::put(int index, const rt::Value& value) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  const char* op = "FIELDPUT";
  if (index < 0 || index >= fieldCount()) {
    t.raise(rt::EG_NOVAR, "field number " + std::to_string(index + 1) + " does not exist in " + t.fullPath, op);
    return;
  }
  const FieldInfo& f = t.fields[static_cast<std::size_t>(index)];
  if (t.options.readOnly) {
    t.raise(rt::EG_READONLY, "table " + t.fullPath + " is open read-only; field " + f.name + " not written", op);
    return;
  }
  if (t.atEof) {
    t.raise(rt::EG_BOUND, "no current record in " + t.fullPath + " (end of table); field " + f.name + " not written", op);
    return;
  }
  if (f.type == 'C' && value.isString()) return t.storeText(index, value.asString(), op);
  if (f.type == 'M' && value.isString()) return t.storeField(index, value.asString());
  if (f.type == 'L' && value.isLogical()) return t.storeField(index, value.asLogical() ? "T" : "F");
  std::string bytes(static_cast<std::size_t>(f.length), ' ');
  auto typeError = [&] {
    t.raise(rt::EG_DATATYPE, "field " + f.name + " of type " + std::string(1, f.type) + " cannot hold a " +
                                 rt::typeName(value.typeCode()) + " value", op);
  };
  switch (f.type) {
    case 'C': case 'M':
      if (!value.isString()) return typeError();
      std::memcpy(bytes.data(), value.asString().data(), std::min(bytes.size(), value.asString().size()));
      break;
    case 'L':
      if (!value.isLogical()) return typeError();
      bytes[0] = value.asLogical() ? 'T' : 'F';
      break;
    case 'N': case 'F': {
      if (!value.isNumber()) return typeError();
      char buf[64];
      std::snprintf(buf, sizeof buf, "%*.*f", f.length, f.decimals, value.asNumber());
      if (static_cast<int>(std::strlen(buf)) > f.length) {
        t.raise(rt::EG_DATAWIDTH, "value " + rt::toText(value) + " does not fit field " + f.name, op);
        return;
      }
      bytes = buf;
      break;
    }
    case 'D': {
      if (!value.isDate()) return typeError();
      if (!value.asDate().empty()) {
        int y, m, d;
        civilOf(value.asDate().julian, &y, &m, &d);
        char buf[48];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", y % 10000, m % 100, d % 100);
        bytes = buf;
      }
      break;
    }
  }
  t.storeField(index, bytes);
}

void Table::putLogical(int index, bool value) {
  Impl& t = *impl_;
  if (!t.isOpen || index < 0 || index >= fieldCount() || t.fields[static_cast<std::size_t>(index)].type != 'L' ||
      t.options.readOnly || t.atEof)
    return put(index, rt::Value(value));  // the general path raises what is wrong
  t.storeField(index, value ? "T" : "F");
}

void Table::putStr(int index, std::string_view value) {
  Impl& t = *impl_;
  if (!t.isOpen || index < 0 || index >= fieldCount() || t.fields[static_cast<std::size_t>(index)].type != 'C' ||
      t.options.readOnly || t.atEof)
    return put(index, rt::Value(value));
  t.storeText(index, value, "FIELDPUT");
}

// Stores already-converted bytes into the current record (blank-padded or cut to the width),
// remembering the record as it was when a key field changes.
void Table::Impl::storeField(int index, std::string_view bytes) {
  const FieldInfo& f = fields[static_cast<std::size_t>(index)];
  if (!recLoaded && !recordReadFor("FIELDPUT", "not written", &f.name)) return;
  char* dst = rec.data() + f.offset;
  const std::size_t width = static_cast<std::size_t>(f.length), n = std::min(width, bytes.size());
  // A record appended and not yet written is written whatever its fields hold; another one only
  // when a field changes.
  if (!appendedUncommitted) {
    bool same = width == 1 ? *dst == (n ? bytes[0] : ' ') : std::memcmp(dst, bytes.data(), n) == 0;
    for (std::size_t i = n; same && i < width; ++i) same = dst[i] == ' ';
    if (same) return;
    if (!keysTouched && fieldInKey[static_cast<std::size_t>(index)]) {
      origRec = rec;
      keysTouched = true;
    }
  }
  if (width == 1) {  // a logical flag or a one-character code
    *dst = n ? bytes[0] : ' ';
  } else {
    std::memcpy(dst, bytes.data(), n);
    std::memset(dst + n, ' ', width - n);
  }
  recDirty = true;
}

void Table::append() {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  const char* op = "DBAPPEND";
  if (t.options.readOnly) {
    t.raise(rt::EG_READONLY, "table " + t.fullPath + " is open read-only; no record appended", op);
    return;
  }
  if (t.refuseAfterFailure(op)) return;
  t.commit(op);
  if (t.writeFailed || !t.markIndexesChanging(op)) return;  // a failed commit was raised
  if (t.options.shared) {
    // Other users may append too. The first append of a burst takes the header byte, learns the
    // true count and cuts what a stopped writer may have left beyond it. The records of the burst
    // collect in memory and reach the file in large writes, each followed by the header that
    // counts them, so no reader ever sees a count that covers bytes not yet written. The lock
    // stays held until a positioning, flush, close, raised error or the time budget ends the
    // burst (the budget only while another opener has the table open); the records, the header
    // and the index files are all written before it is released.
    if (!t.burstHeld) {
      endBurstsOn(t.fileId);  // another opener in this thread may hold it
      for (;;) {
        Status s = t.file->lock(fmt::kHeaderLockOffset, 1, LockKind::Exclusive, true);
        if (s.ok()) break;
        if (!t.raise(rt::EG_APPENDLOCK, "cannot lock the header of " + t.fullPath + ": " + s.message, op, s.osCode, true))
          return;
      }
      listenForRaises();
      t.burstHeld = true;
      t.burstStartMs = t.nowMs();
      tBursts.push_back(&t);
      std::uint32_t c = t.count;
      Status s = t.readHeaderCount(&c);
      if (s.ok() && c < t.count)
        s = Status::error(StatusKind::Corruption, "the table file shrank while open: its header counts " +
                                                      std::to_string(c) + " records, " + std::to_string(t.count) +
                                                      " were there");
      if (s.ok()) {
        t.count = c;
        t.deletedMap.resize(c, 0);
        s = t.trimTail();
      }
      if (!s.ok()) {
        t.lengthLost(s.message);  // nothing is written on a length that is no longer true
        t.releaseBurst();
        t.raise(rt::EG_WRITE, "cannot append to " + t.fullPath + ": " + s.message, op, s.osCode);
        return;
      }
    } else if (t.appendBuf.size() >= kAppendChunk) {
      Status s = t.writeAppended();
      if (!s.ok()) {
        t.endBurst(op, false);
        return t.reportWriteFailure(s, "cannot append to " + t.fullPath, op);
      }
    }
    if (t.appendBuf.empty()) {
      t.appendFirst = t.count + 1;
      t.appendBuf.reserve(kAppendChunk + t.recordLen + 1);  // a chunk and its end mark, once per opener
    }
    t.appendBuf.resize(t.appendBuf.size() + t.recordLen, ' ');
    ++t.count;
    t.headerDirty = true;
  } else {
    ++t.count;
    t.headerDirty = true;
  }
  t.deletedMap.resize(t.count, 0);
  t.positionOn(t.count);
  t.rec.assign(t.recordLen, ' ');
  t.recLoaded = true;
  t.appendedUncommitted = true;
  t.origRec.reset();
  // The new record enters every order with its (blank) key when it is committed.
  t.keysTouched = true;
  t.recDirty = true;
  t.atBof = false;
  if (t.options.shared && t.burstOver() && !t.keepBurstAlone()) {
    // The blank record and its keys go with the burst; the fields that follow are written in
    // place, and their keys reach the index at the next release of the lock. When the burst
    // cannot be written, the blank record is not kept: this append did not happen.
    t.commit(op);
    t.endBurst(op, true, t.count - 1);
  }
}

void Table::zap() {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  const char* op = "DBZAP";
  if (t.options.shared || t.options.readOnly) {
    t.raise(rt::EG_SHARED, "table " + t.fullPath + " must be open exclusively to be emptied", op);
    return;
  }
  if (!t.markIndexesChanging(op)) return;
  t.recDirty = false;
  t.keysTouched = false;
  t.appendBuf.clear();
  t.count = 0;
  t.deletedMap.clear();
  char eof = static_cast<char>(fmt::kEofMarker);
  Status s = t.file->truncate(t.headerLen);
  if (s.ok()) s = t.file->write(t.headerLen, &eof, 1);
  if (s.ok()) s = t.writeHeader();
  if (!s.ok()) {
    t.raise(rt::EG_WRITE, "cannot empty " + t.fullPath + ": " + s.message, op, s.osCode);
    t.writeFailed = true;
  }
  for (auto& o : t.orders) {
    o->index.clear();
    o->file->dirty = true;
    o->file->clearPending();
  }
  t.flushIndexes(op);
  t.setEof();
}

// ---------------------------------------------------------------- functions

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
    std::string name = upper(f.name);
    std::memcpy(d, name.data(), name.size());
    d[fmt::kFldType] = static_cast<std::uint8_t>(f.type);
    fmt::putLe32(d + fmt::kFldDisplacement, recordLen);
    d[fmt::kFldLength] = static_cast<std::uint8_t>(f.length);
    d[fmt::kFldDecimals] = static_cast<std::uint8_t>(f.decimals);
    recordLen += static_cast<std::uint32_t>(f.length);
  }
  std::time_t now = std::time(nullptr);
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
