// Writing index files and sharing them: every open order lives in memory (KeyIndex); an index
// file is rewritten from it as a whole, into pages that the previous image does not use, with
// the file header written last, so a failure part-way leaves the previous image intact and
// readable. Another opener's rewrite is merged with this opener's unwritten changes.
#include <algorithm>

#include "table_impl.h"

namespace rdd {

namespace {

// An image written behind the previous one leaves the pages before that one (older images) to
// nobody: their disk space goes back to the system. The previous image stays whole, so a reader
// that took the old header without the lock still finds the pages it points to.
void discardOlderImages(File& file, std::uint64_t previousStart, std::uint64_t previousEnd, std::uint64_t newStart) {
  constexpr std::uint64_t kBlock = 4096;
  if (previousStart == 0 || newStart < previousEnd) return;
  const std::uint64_t from = (fmt::kTreeHeaderSize + kBlock - 1) / kBlock * kBlock, to = previousStart / kBlock * kBlock;
  if (to > from) file.discard(from, to - from);
}

}  // namespace

Status Table::Impl::writeIndexFile(IndexFileState& f, bool rebuilt) {
  if (writeFailed)
    return Status::error(StatusKind::Io, "an earlier write to " + fullPath + " failed; the index is left as it was");
  bool locked = false;
  std::uint32_t recCount = count;
  if (options.shared) {
    Status s = lockHeader();
    if (!s.ok()) return s;
    locked = true;
    std::uint32_t c = 0;
    if (f.regionStart != 0 && readCdxCounter(*f.file, &c).ok() && c != f.counter) {
      s = mergeFromDisk(f);
      if (!s.ok()) {
        unlockHeader();
        return s;
      }
    }
    if (readHeaderCount(&c).ok()) recCount = std::max(c, count);
  }
  auto unlockAll = [&] {
    if (locked) unlockHeader();
  };
  // Openers counted in the stamp: without us, and without those that stopped before writing.
  std::uint32_t changing = 0;
  if (f.regionStart != 0) {
    CdxStamp st;
    Status s = readCdxStamp(*f.file, &st);
    if (s.ok() && st.valid) changing = st.changing;
  }
  if (f.marked) {
    if (changing > 0) --changing;
    (void)f.file->unlock(fmt::kChangingLockOffset, 1);
    f.marked = false;
  }
  if (changing > 0 && !changersAlive(f)) {
    if (!rebuilt)
      for (auto& o : orders)
        if (o->file == &f) {
          Status s = buildOrder(*o);
          if (!s.ok()) return unlockAll(), s;
        }
    changing = 0;
  }
  std::vector<TagOut> outs;
  for (auto& o : orders) {
    if (o->file != &f) continue;
    TagOut out;
    out.name = o->tag;
    out.keyExpr = o->keyExpr;
    out.forExpr = o->forExpr;
    out.keyLen = o->keyLen;
    out.unique = o->unique;
    out.entries.reserve(o->index.size());
    std::string_view lastKey;
    o->index.forEach([&](std::string_view e) {
      std::string_view key = e.substr(0, o->keyLen);
      if (o->unique && !out.entries.empty() && key == lastKey) return;
      out.entries.push_back(e.data());
      lastKey = key;
    });
    outs.push_back(std::move(out));
  }
  std::vector<const TagOut*> ptrs;
  for (auto& o : outs) ptrs.push_back(&o);
  CdxWriter writer(ptrs, std::max<std::uint32_t>(recCount, 1), {options.maxLeafKeys, options.maxInteriorKeys});
  std::uint64_t size = writer.regionSize();
  // New pages never overwrite the current image: they go before it when they fit there, else
  // right after it; what lies beyond the new image is cut off once the header points at it.
  auto align = [](std::uint64_t v) { return (v + fmt::kPageSize - 1) / fmt::kPageSize * fmt::kPageSize; };
  std::uint64_t base = fmt::kTreeHeaderSize;
  if (f.regionStart != 0 && fmt::kTreeHeaderSize + size > f.regionStart)
    base = std::max<std::uint64_t>(align(f.regionEnd), fmt::kTreeHeaderSize);
  const std::uint64_t previousStart = f.regionStart, previousEnd = f.regionEnd;
  std::vector<std::uint8_t> header;
  CdxStamp stamp{true, f.counter + 1, recCount, changing, {}};
  Status s = tableFingerprint(&stamp.table);
  if (s.ok()) s = writer.writeRegion(*f.file, base, f.counter + 1, stamp, &header);
  if (s.ok()) s = f.file->write(0, header.data(), header.size());
  if (s.ok()) {
    f.stamped = stamp.table;
    f.counter += 1;
    f.regionStart = base;
    f.regionEnd = base + size;
    f.dirty = false;
    f.clearPending();
    (void)f.file->truncate(base + size);
    discardOlderImages(*f.file, previousStart, previousEnd, base);
  }
  unlockAll();
  return s;
}

// Another user rewrote the file: take its content and apply our own unwritten changes on top.
Status Table::Impl::mergeFromDisk(IndexFileState& f) {
  std::uint32_t c = count;
  (void)readHeaderCount(&c);
  CdxImage img;
  Status s = readCdx(*f.file, f.path, std::max(c, count), &img);
  if (!s.ok()) return s;
  std::vector<std::unique_ptr<Order>> loaded;
  s = loadIndexImage(f, img, &loaded);
  if (!s.ok()) return s;
  std::vector<Order*> mine;
  for (auto& o : orders)
    if (o->file == &f) mine.push_back(o.get());
  if (loaded.size() == mine.size()) {
    std::vector<char> recBuf(recordLen);
    const std::vector<std::optional<std::string>> none;
    auto reapply = [&](std::uint32_t r, const std::vector<std::optional<std::string>>& olds) {
      if (!readRecordInto(r, recBuf.data()).ok()) return;
      for (std::size_t i = 0; i < loaded.size(); ++i) {
        Order& o = *loaded[i];
        if (i < olds.size() && olds[i]) (void)o.index.erase(*olds[i]);
        auto e = entryOf(o, recBuf.data(), r);
        if (e) {
          (void)o.index.erase(*e);
          o.index.insert(*e);
        }
      }
    };
    for (std::uint32_t r : f.pendingNew) reapply(r, none);
    for (auto& [r, olds] : f.pending) reapply(r, olds);
    for (std::size_t i = 0; i < mine.size(); ++i) mine[i]->index = std::move(loaded[i]->index);
  }
  f.counter = img.counter;
  f.regionStart = img.regionStart;
  f.regionEnd = img.regionEnd;
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

bool Table::Impl::flushIndexes(const char* operation) {
  // After a failed write nothing more is written: that failure was raised, and the stamp still
  // counts this opener, so the next open rebuilds what the file lacks.
  if (writeFailed) return false;
  for (auto& f : indexFiles) {
    if (!f->dirty) continue;
    Status s = writeAppended();
    if (s.ok()) s = writeIndexFile(*f);
    if (!s.ok()) {
      reportWriteFailure(s, "cannot write index file " + f->path, operation);
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
