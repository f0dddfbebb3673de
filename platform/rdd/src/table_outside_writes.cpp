// What other programs wrote to the table while a shared opener had it open. The opener knows
// the table file's modification time as it last accounted for it (taking in others' writes, or
// releasing the header lock after its own); another time on disk when it takes the lock means
// someone else wrote. Another opener of this driver vouches for its writes with the stamp it puts
// in the index files; any other write, or one of our own made without the lock (which cannot be
// told from another's), makes this opener check its orders and deletion marks against the
// records before it trusts them again (invariant 10 of table_impl.h). A check reads the table
// once and sorts nothing; only an order found wrong is built again and written.
#include <algorithm>

#include "table_impl.h"

namespace rdd {

Status Table::Impl::writeTable(std::uint64_t offset, const void* data, std::size_t n) {
  ownWritesUnnoted = true;
  return file->write(offset, data, n);
}

Status Table::Impl::truncateTable(std::uint64_t length) {
  ownWritesUnnoted = true;
  return file->truncate(length);
}

void Table::Impl::noticeOutsideWrite() {
  std::int64_t now = 0;
  if (!outsideWriteSeen && (ownWritesUnnoted || !file->modifiedNs(&now).ok() || now != seenModifiedNs))
    outsideWriteSeen = true;
}

void Table::Impl::noteOwnWrites() {
  if (!ownWritesUnnoted) return;
  if (!file->modifiedNs(&seenModifiedNs).ok()) seenModifiedNs = 0;  // unknown: the next look suspects a write
  ownWritesUnnoted = false;
}

void Table::Impl::keepEntryBeforeChange(Order& o, const char* fileRecord) {
  if (auto e = entryOf(o, fileRecord, recno)) (void)o.index.erase(*e);
  if (appendedUncommitted || !origRec) return;
  if (auto e = entryOf(o, origRec->data(), recno)) o.index.insert(*e);
}

bool Table::Impl::stampsVouchFor(const TableFingerprint& now, std::uint32_t records) {
  bool any = false;
  for (auto& f : indexFiles) {
    if (std::none_of(orders.begin(), orders.end(), [&](auto& o) { return o->file == f.get(); })) continue;
    CdxStamp st;
    // Our own mark counts in the stamp; any other opener's means changes the image lacks.
    if (f->regionStart == 0 || !readCdxStamp(*f->file, &st).ok() || !st.valid || st.changing != (f->marked ? 1u : 0u) ||
        st.recCount != records || !(st.table == now))
      return false;
    any = true;
  }
  return any;
}

Status Table::Impl::takeInOutsideWrites() {
  if (writeFailed) return Status::okay();
  noticeOutsideWrite();
  if (!outsideWriteSeen) return Status::okay();
  // Our own appends and count go first, so that the file holds everything this opener counts.
  Status s = writeAppended();
  std::uint32_t onDisk = count;
  std::uint64_t size = 0;
  if (s.ok()) s = readHeaderCount(&onDisk);
  if (s.ok()) s = file->size(&size);
  if (!s.ok()) return s;
  if (size < headerLen + static_cast<std::uint64_t>(std::min(onDisk, count)) * recordLen) {
    // Cut behind its header's back (a backup copied over it): nothing is written on a length that
    // is no longer true.
    stopWriting("the table file shrank while open: it holds " + std::to_string(size) + " bytes");
    return Status::error(StatusKind::Corruption, writeFailure);
  }
  if (onDisk < count) {
    // Packed or emptied by another program. What this opener has not written yet was meant for
    // records that are gone or renumbered: it is not written anywhere.
    bool unwritten = recDirty || !appendBuf.empty() ||
                     std::any_of(indexFiles.begin(), indexFiles.end(), [](auto& f) { return f->dirty || f->marked; });
    if (unwritten) {
      stopWriting("another program removed records from " + fullPath + " while it had unwritten changes here");
      return Status::error(StatusKind::Corruption, writeFailure);
    }
    count = onDisk;
    if (atEof || recno > count) setEof();
    recLoaded = false;
  }
  count = std::max(count, onDisk);
  deletedMap.resize(count, 0);
  // Index images that other openers of this driver wrote meanwhile come first: a check against
  // the records must not be undone by a later merge of an image written before it.
  for (auto& f : indexFiles)
    if (s.ok()) s = syncIndexForRead(*f);
  TableFingerprint now;
  if (s.ok()) s = tableFingerprint(&now);
  if (!s.ok()) return s;
  if (!stampsVouchFor(now, count)) {
    std::vector<Order*> wrong;
    s = checkOrdersAgainstRecords(&wrong);
    std::string rebuilt;
    std::vector<char> current(recordLen);
    const bool changing = recDirty && keysTouched;
    if (s.ok() && !wrong.empty() && changing) s = readRecordInto(recno, current.data());
    for (Order* o : wrong) {
      if (s.ok()) s = buildOrder(*o);
      if (!s.ok()) break;
      if (changing) keepEntryBeforeChange(*o, current.data());
      rebuilt += (rebuilt.empty() ? "" : ", ") + o->tag;
      o->file->dirty = true;
      o->file->changedBy = o->file->changedBy ? o->file->changedBy : "ORDLISTREBUILD";
    }
    if (!s.ok()) return s;
    if (!wrong.empty()) {
      cursorGen = ~0ull;
      auto warning = rt::makeError(rt::EG_CORRUPTION, kSubsystem,
                                   "another program changed " + fullPath + " while it was open here; order" +
                                       (wrong.size() > 1 ? "s " : " ") + rebuilt + " no longer described it and " +
                                       (wrong.size() > 1 ? "were" : "was") + " built again from the records",
                                   "ORDLISTREBUILD", wrong.front()->file->path);
      rt::logWarning(warning);
    }
  }
  seenModifiedNs = now.modifiedNs;
  outsideWriteSeen = ownWritesUnnoted = false;
  return Status::okay();
}

void Table::takeInOutsideChanges() {
  Impl& t = *impl_;
  if (!t.isOpen || !t.options.shared) return;  // exclusive: no other program may write meanwhile
  const char* op = "DBCOMMIT";
  t.settle(op);
  for (;;) {
    if (t.writeFailed) return;  // raised when it happened; nothing is taken in or written now
    Status s = t.writeAppended();
    // Taking the header lock takes in what others wrote; held already, it is done here.
    const bool lockedHere = s.ok() && !t.holdsHeaderLock();
    if (s.ok()) s = lockedHere ? t.lockHeader() : t.takeInOutsideWrites();
    if (s.ok() && lockedHere) t.unlockHeader();
    if (s.ok()) break;
    if (!t.raise(s.kind == StatusKind::Corruption ? rt::EG_CORRUPTION : rt::EG_READ,
                 "cannot take in what another program wrote to " + t.fullPath + ": " + s.message, op, s.osCode,
                 !t.writeFailed))
      return;
  }
  // The orders corrected reach their files now, so that every opener reads them as they are.
  t.flushIndexes(op);
}

}  // namespace rdd
