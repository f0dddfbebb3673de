// Append bursts: a shared table keeps its header lock from one append to the next for a short
// time budget, collecting the new records in memory, and writes them, their header and the dirty
// index files before it lets go. Runs of in-place writes keep it the same way from one commit to
// the next. Also the header lock taken for one short step, Table::append and
// Table::appendRecord.
#include <algorithm>
#include <mutex>

#include "table_impl.h"

namespace rdd {

namespace {

// Openers of this thread that hold the header lock across appends. Another opener of the same
// file in this thread would wait for that lock forever, so it ends their bursts first; a raised
// error ends them all, since the error block may wait for the user.
thread_local std::vector<Table::Impl*> tBursts;

// A burst lasts at least this many times as long as writing the index files took the last time.
constexpr std::int64_t kIndexShareFactor = 4;

}  // namespace

void endBurstsOn(const std::string& id) {
  if (tBursts.empty()) return;
  std::vector<Table::Impl*> holders = tBursts;
  for (Table::Impl* t : holders)
    if (id.empty() || t->fileId.empty() || t->fileId == id) t->endBursts();
}

namespace {

// The error being raised is the one the user hears of; a burst that cannot be written now marks
// its table failed, and the table's next write says so.
void endAllBursts() {
  std::vector<Table::Impl*> holders = tBursts;
  for (Table::Impl* t : holders) t->endBursts(false);
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

std::int64_t Table::Impl::nowMs() const { return env->monotonicMs(); }

void Table::Impl::releaseBurst() {
  burstHeld = false;
  tBursts.erase(std::remove(tBursts.begin(), tBursts.end(), this), tBursts.end());
  noteOwnWrites();
  unlockByte(*file, fmt::kHeaderLockOffset);
}

// A lock that cannot be released may hold other users up: this opener takes no further write (the
// next one raises why); closing the table releases the lock with the file.
void Table::Impl::unlockByte(File& f, std::uint64_t offset) {
  Status s = f.unlock(offset, 1);
  if (!s.ok()) stopWriting("cannot release a lock of " + fullPath + ": " + s.message);
}

// Raised, whatever positioning ended the burst, as the failure of the appends it holds.
void Table::Impl::endBurst(bool report, std::uint32_t keepAtMost) {
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
  Status repair = s.ok() ? s : writeBroke(s, keepAtMost);
  releaseBurst();
  if (!s.ok() && report) raise(rt::EG_WRITE, what + ": " + s.message + repairNote(repair), "DBAPPEND", s.osCode);
}

void Table::Impl::endBursts(bool report) {
  endBurst(report);
  releaseRunLock();
}

// Taken lazily, at the first commit of the run, and again after each time it was let go. With the
// budget spent and another opener waiting its turn, the lock is let go between two commits.
void Table::Impl::holdRunLock() {
  if (!writeRun || !options.shared || options.readOnly) return;
  if (runHeld && burstOver() && !keepBurstAlone()) releaseRunLock();
  if (holdsHeaderLock()) return;
  if (!lockHeader().ok()) return;
  listenForRaises();
  runHeld = true;
  burstStartMs = nowMs();
  tBursts.push_back(this);
}

void Table::Impl::releaseRunLock() {
  if (!runHeld) return;
  runHeld = false;
  tBursts.erase(std::remove(tBursts.begin(), tBursts.end(), this), tBursts.end());
  unlockHeader();
}

void Table::beginWrites() {
  Impl& t = *impl_;
  if (t.isOpen) t.writeRun = true;
}

void Table::endWrites() {
  Impl& t = *impl_;
  if (!t.isOpen || !t.writeRun) return;
  t.settle("DBCOMMIT");  // the run's last change is written under its lock
  t.writeRun = false;
  t.releaseRunLock();
}

// Within our own burst, batch of order changes or run of writes the lock is ours already. A read-only opener
// only reads under it: a shared lock keeps writers out, and is the only kind a file opened for
// reading can take. What another program wrote while we did not hold it is taken in before the
// lock is handed to the caller.
Status Table::Impl::lockHeader() {
  if (burstHeld || orderBatch || runHeld || headerLockDepth > 0) return ++headerLockDepth, Status::okay();
  endBurstsOn(fileId);
  Status s = file->lock(fmt::kHeaderLockOffset, 1, options.readOnly ? LockKind::Shared : LockKind::Exclusive, true);
  if (!s.ok()) return s;
  ++headerLockDepth;
  s = takeInOutsideWrites();
  if (!s.ok()) {
    --headerLockDepth;
    unlockByte(*file, fmt::kHeaderLockOffset);
  }
  return s;
}

void Table::Impl::unlockHeader() {
  if (headerLockDepth > 0) --headerLockDepth;
  if (headerLockDepth > 0 || burstHeld || orderBatch || runHeld) return;
  noteOwnWrites();
  unlockByte(*file, fmt::kHeaderLockOffset);
}

void Table::Impl::settle(const char* operation) {
  commit(operation);
  endBurst();
  // Shared: a key changed in place reaches the index file before anyone can take the lock again
  // (within a batch of order changes, nobody can: the files are written at its end).
  if (options.shared && !orderBatch) flushIndexes(operation);
}

void Table::append() {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  // A failed append leaves no record current, so that the field writes that follow it are
  // refused instead of landing in the record that was current before.
  if (!t.appendBlank()) t.setEof();
}

void Table::appendRecord(std::span<const std::pair<int, std::string_view>> texts) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  if (!t.beginAppend()) return t.setEof();
  for (const auto& [index, text] : texts) putStr(index, text);
  t.commit("DBAPPEND");
  t.endBurstWhenSpent();
}

bool Table::Impl::appendBlank() {
  if (!beginAppend()) return false;
  endBurstWhenSpent();
  return !writeFailed;
}

// With the time budget of a shared burst spent (and another opener there to wait for it), the
// burst ends: the records, their header and keys are written and the lock released. After
// append() that includes the new, still blank record, whose fields are then written in place;
// after appendRecord() the record is complete. When the burst cannot be written, the newest
// record is not kept: its append did not happen.
void Table::Impl::endBurstWhenSpent() {
  if (!options.shared || !burstOver() || keepBurstAlone()) return;
  commit("DBAPPEND");
  endBurst(true, count - 1);
}

bool Table::Impl::beginAppend() {
  const char* op = "DBAPPEND";
  if (options.readOnly) {
    raise(rt::EG_READONLY, "table " + fullPath + " is open read-only; no record appended", op);
    return false;
  }
  if (refuseAfterFailure(op)) return false;
  commit(op);
  if (writeFailed) return false;  // a failed commit was raised
  if (options.shared && !burstReady(op)) return false;
  // With the count known (under the lock when shared), before the index files count this opener
  // as changing them: a refused record leaves them as written.
  if (!roomForOneMoreRecord(op) || !markIndexesChanging(op)) return false;
  if (options.shared) {
    if (appendBuf.empty()) {
      appendFirst = count + 1;
      appendBuf.reserve(kAppendChunk + recordLen + 1);  // a chunk and its end mark, once per opener
    }
    appendBuf.resize(appendBuf.size() + recordLen, ' ');
  }
  ++count;
  headerDirty = true;
  deletedMap.resize(count, 0);
  positionOn(count);
  rec.assign(recordLen, ' ');
  recLoaded = true;
  appendedUncommitted = true;
  origRec.reset();
  // The new record enters every order with its (blank) key when it is committed.
  keysTouched = true;
  recDirty = true;
  recordChangedBy = op;
  atBof = false;
  return true;
}

// Other users may append too. The first append of a burst takes the header byte, learns the true
// count and cuts what a stopped writer may have left beyond it. The records of the burst collect
// in memory and reach the file in large writes, each followed by the header that counts them, so
// no reader ever sees a count that covers bytes not yet written. The lock stays held until a
// positioning, flush, close, raised error or the time budget ends the burst (the budget only
// while another opener has the table open); the records, the header and the index files are all
// written before it is released.
bool Table::Impl::burstReady(const char* operation) {
  if (!burstHeld) return beginBurst(operation);
  if (appendBuf.size() < kAppendChunk) return true;
  Status s = writeAppended();
  if (s.ok()) return true;
  endBurst(false);
  reportWriteFailure(s, "cannot append to " + fullPath, operation);
  return false;
}

bool Table::Impl::beginBurst(const char* operation) {
  endBurstsOn(fileId);  // another opener in this thread may hold it
  for (;;) {
    Status s = file->lock(fmt::kHeaderLockOffset, 1, LockKind::Exclusive, true);
    if (s.ok()) break;
    if (!raise(rt::EG_APPENDLOCK, "cannot lock the header of " + fullPath + ": " + s.message, operation, s.osCode, true))
      return false;
  }
  listenForRaises();
  burstHeld = true;
  burstStartMs = nowMs();
  tBursts.push_back(this);
  std::uint32_t c = count;
  Status s = takeInOutsideWrites();
  if (s.ok()) s = readHeaderCount(&c);
  if (s.ok() && c < count)
    s = Status::error(StatusKind::Corruption, "the table file shrank while open: its header counts " + std::to_string(c) +
                                                  " records, " + std::to_string(count) + " were there");
  if (s.ok()) {
    count = c;
    deletedMap.resize(c, 0);
    s = trimTail();
  }
  if (s.ok()) return true;
  stopWriting(s.message);  // nothing is written on a length that is no longer true
  releaseBurst();
  raise(rt::EG_WRITE, "cannot append to " + fullPath + ": " + s.message, operation, s.osCode);
  return false;
}

}  // namespace rdd
