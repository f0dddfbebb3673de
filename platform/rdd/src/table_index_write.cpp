// Writing index files and sharing them: every open order lives in memory (KeyIndex); an index
// file is written from it as one image, either over the image the file holds (where this opener
// knows where its trees lie: it wrote them, or read them laid out whole), keeping the pages whose
// entries did not change, or else whole, right behind the file's header. The file holds one image
// and at most an eighth more. The file is first marked as being written (and its change counter
// moved on); the header that ends the mark is written last. A reader that finds the mark, or the
// counter moved while it read, reads again; one that finds the mark left by a writer that stopped
// builds the orders from the records. Readers take no lock. Another opener's rewrite is merged
// with this opener's unwritten changes.
#include <algorithm>
#include <cerrno>

#include "table_impl.h"

namespace rdd {

std::vector<TagOut> Table::Impl::tagOutsOf(const IndexFileState& f) const {
  std::vector<TagOut> outs;
  for (auto& o : orders) {
    if (o->file != &f) continue;
    TagOut out;
    out.name = o->tag;
    out.keyExpr = o->keyExpr;
    out.forExpr = o->forExpr;
    out.keyLen = o->keyLen;
    out.unique = o->unique;
    const KeyIndex* index = &o->index;
    index->settle();  // the writer walks the orders side by side
    out.entries = [index](const EntryRun& run) { index->forEachRun(run); };
    const std::optional<std::string_view> changedFrom = index->lowestChange(KeyIndex::Since::Written);
    if (o->placed && changedFrom && f.placedCounter == f.counter) {
      out.placed = &*o->placed;
      out.changedFrom = *changedFrom;
    }
    outs.push_back(std::move(out));
  }
  return outs;
}

Status Table::Impl::writeIndexFile(IndexFileState& f, bool rebuilt) {
  if (f.abandoned) {
    f.dirty = false;
    return Status::okay();
  }
  if (writeFailed)
    return Status::error(StatusKind::Io, "an earlier write to " + fullPath + " failed; the index is left as it was");
  bool locked = false;
  std::uint32_t recCount = count;
  // The image is stamped as describing the table: shared, what other programs wrote is taken in
  // first, by taking the header lock. When that fails nothing is written, and the stamp on disk,
  // which no longer matches the table, makes the next open build the orders again.
  if (options.shared) {
    Status s = lockHeader();
    if (!s.ok()) return s;
    locked = true;
    // Another opener's image, unread, would be written over: a failed read stops the write. One
    // left half written is not read (the orders are built from the records below).
    std::uint32_t c = 0;
    CdxStamp st;
    if (f.regionStart != 0) s = readCdxCounter(*f.file, &c);
    if (s.ok() && f.regionStart != 0) s = readCdxStamp(*f.file, &st);
    if (s.ok() && f.regionStart != 0 && c != f.counter && !st.beingWritten) s = mergeFromDisk(f);
    if (s.ok()) s = readHeaderCount(&c);
    if (!s.ok()) {
      unlockHeader();
      return s;
    }
    recCount = std::max(c, count);
  }
  auto unlockAll = [&] {
    if (locked) unlockHeader();
  };
  // Openers counted in the stamp: without us, and without those that stopped before writing
  // (a stamp that cannot be read would lose the count of those still alive). A writer that stopped
  // while it wrote the trees left nothing to keep of them.
  std::uint32_t changing = 0;
  bool halfWritten = false;
  if (f.regionStart != 0) {
    CdxStamp st;
    Status s = readCdxStamp(*f.file, &st);
    if (!s.ok()) return unlockAll(), s;
    if (st.valid) changing = st.changing;
    halfWritten = st.beingWritten;
    if (halfWritten) f.counter = st.counter;  // the next image's counters follow the mark's
  }
  if (f.marked) {
    if (changing > 0) --changing;
    unlockByte(*f.file, fmt::kChangingLockOffset);
    f.marked = false;
  }
  if (halfWritten || (changing > 0 && !changersAlive(f))) {
    if (!rebuilt)
      if (Status s = buildOrders(ordersOf(f)); !s.ok()) return unlockAll(), s;
    changing = 0;
  }
  const std::vector<TagOut> outs = tagOutsOf(f);
  std::vector<const TagOut*> ptrs;
  for (auto& o : outs) ptrs.push_back(&o);
  CdxWriter writer(ptrs, std::max<std::uint32_t>(recCount, 1), {options.maxLeafKeys, options.maxInteriorKeys});
  noteLastLeaves(f, writer, std::max<std::uint32_t>(recCount, 1));
  const std::uint64_t size = writer.regionSize(), base = fmt::kTreeHeaderSize;
  // Over the last image while the file stays within an eighth of the live pages and the limit;
  // else whole.
  if (!writer.placeOver(base, f.regionEnd) || writer.placedEnd() - base > size + size / 8 ||
      writer.placedEnd() > indexLimit())
    writer.placeWhole(base);
  // Appends stop before an image could pass the limit; a change that still takes it there
  // (keys rewritten longer, an order created) is refused before a page is written.
  if (writer.placedEnd() > indexLimit())
    return unlockAll(), Status::error(StatusKind::Io,
                                      "the index image would end at byte " + std::to_string(writer.placedEnd()) +
                                          ", past the " + std::to_string(indexLimit()) + " bytes an index file may take",
                                      EFBIG);
  std::vector<std::uint8_t> header;
  CdxStamp stamp{true, f.counter + 2, recCount, changing, {}};  // the counter after the mark's
  Status s = tableFingerprint(&stamp.table);
  if (s.ok()) s = markCdxBeingWritten(*f.file, f.counter + 1);
  // From here a failure leaves the file marked, at the counter this opener moved it to: its own
  // orders stay as they are in memory; every other opener builds its orders from the records.
  if (s.ok()) ++f.counter;
  if (s.ok()) s = writer.writeRegion(*f.file, f.counter + 1, stamp, &header);
  if (s.ok()) s = f.file->write(0, header.data(), header.size());
  if (s.ok()) {
    noteStamped(f, stamp.table);
    ++f.counter;
    f.regionStart = base;
    f.regionEnd = writer.placedEnd();
    f.placedCounter = f.counter;
    std::size_t k = 0;
    for (auto& o : orders) {
      if (o->file != &f) continue;
      o->placed = writer.place(k++);
      o->index.markChanges(KeyIndex::Since::Written);
    }
    f.sizedBytes = size;
    f.sizedRecords = std::max<std::uint32_t>(recCount, 1);
    f.addedSinceSized = 0;
    f.dirty = false;
    f.changedBy = nullptr;
    f.clearPending();
    // What an image larger before left beyond this one is cut off; a failure to cut it is still
    // raised.
    s = f.file->truncate(writer.placedEnd());
  }
  unlockAll();
  return s;
}

// Another user rewrote the file: take its content and apply our own unwritten changes on top.
Status Table::Impl::mergeFromDisk(IndexFileState& f) {
  std::vector<Order*> mine;
  for (auto& o : orders)
    if (o->file == &f) mine.push_back(o.get());
  // Orders not read yet hold nothing of ours and read the newest image at their first use: only
  // the image's place is taken in.
  const bool noneRead = std::none_of(mine.begin(), mine.end(), [](const Order* o) { return !o->index.unread() || o->buildPending; });
  std::uint32_t c = count;
  CdxImage img;
  bool halfWritten = false;
  Status s = readSettled(
      f, [&](std::uint32_t records) {
        return noneRead ? readCdxTags(*f.file, f.path, &img) : readCdx(*f.file, f.path, records, &img);
      }, &c, &halfWritten);
  if (halfWritten) {
    std::uint32_t onDisk = f.counter;
    s = readCdxCounter(*f.file, &onDisk);
    return s.ok() ? rebuildHalfWritten(f, onDisk) : s;
  }
  if (!s.ok()) return s;
  std::vector<std::unique_ptr<Order>> loaded;
  if (!noneRead) s = loadIndexImage(f, img, &loaded);
  if (!s.ok()) return s;
  if (!noneRead && loaded.size() == mine.size()) {
    std::vector<char> recBuf(recordLen);
    // Whatever the image holds for the records we changed goes: its writer may have built its
    // orders from the records while one of ours was half written (a blank appended row). The
    // current record, while its key change waits for its commit, gets its entry from before it.
    const bool changing = recDirty && keysTouched;
    std::vector<std::uint32_t> ours = f.pendingNew;
    for (auto& [r, olds] : f.pending) ours.push_back(r);
    if (changing) ours.push_back(recno);
    std::sort(ours.begin(), ours.end());
    ours.erase(std::unique(ours.begin(), ours.end()), ours.end());
    for (auto& o : loaded) {
      std::vector<std::string> stale;
      const std::size_t keyLen = static_cast<std::size_t>(o->keyLen);
      if (!ours.empty())
        o->index.forEach([&](std::string_view e) {
          const std::uint32_t r = fmt::be32(reinterpret_cast<const std::uint8_t*>(e.data()) + keyLen);
          if (std::binary_search(ours.begin(), ours.end(), r)) stale.emplace_back(e);
        });
      for (const std::string& e : stale) (void)o->index.erase(e);
    }
    for (std::uint32_t r : ours) {
      const char* record = recBuf.data();
      if (changing && r == recno) {
        if (appendedUncommitted || !origRec) continue;
        record = origRec->data();
      } else {
        s = readRecordInto(r, recBuf.data());
        if (!s.ok()) break;
      }
      for (auto& o : loaded)
        if (auto e = entryOf(*o, record, r)) o->index.insert(*e);
    }
    if (!s.ok()) return s;  // what we hold stays as it was
    for (std::size_t i = 0; i < mine.size(); ++i) mine[i]->index = std::move(loaded[i]->index);
  }
  f.counter = img.counter;
  f.regionStart = img.regionStart;
  f.regionEnd = img.regionEnd;
  f.sizedBytes = img.regionEnd - img.regionStart;
  f.sizedRecords = std::max(c, count);
  f.addedSinceSized = f.pendingNew.size();
  cursorGen = ~0ull;
  return Status::okay();
}

Status Table::Impl::syncIndexForRead(IndexFileState& f) {
  if (!options.shared || f.regionStart == 0) return Status::okay();
  std::uint32_t c = 0;
  Status s = readCdxCounter(*f.file, &c);
  if (!s.ok() || c == f.counter) return s;
  return mergeFromDisk(f);
}

void Table::Impl::takeInIndexChanges(IndexFileState& f, const char* operation) {
  for (;;) {
    Status s = syncIndexForRead(f);
    if (s.ok()) return;
    if (!raise(s.kind == StatusKind::Corruption ? rt::EG_CORRUPTION : rt::EG_READ,
               "cannot read what another user changed in index file " + f.path + ": " + s.message +
                   "; the order is read as this user last knew it",
               operation, s.osCode, true, f.path))
      return;
  }
}

bool Table::Impl::flushIndexes(const char* operation) {
  // After a failed write nothing more is written: that failure was raised, and the stamp still
  // counts this opener, so the next open rebuilds what the file lacks.
  if (writeFailed) return false;
  for (auto& f : indexFiles) {
    if (!f->dirty) continue;
    Status s = writeAppended();
    if (!s.ok()) {
      reportWriteFailure(s, "cannot write the records appended to " + fullPath, "DBAPPEND");
      return false;
    }
    const char* changedBy = f->changedBy ? f->changedBy : operation;
    s = writeIndexFile(*f);
    if (!s.ok()) {
      reportWriteFailure(s, "cannot write index file " + f->path, changedBy);
      return false;
    }
  }
  return true;
}

std::string Table::dumpIndexFile(int number) {
  Impl& t = *impl_;
  if (!t.isOpen || number < 1 || number > orderCount()) return {};
  flush();
  IndexFileState& f = *t.orders[number - 1]->file;
  return dumpCdx(*f.file, f.path);
}

}  // namespace rdd
