// Orders read at their first use. At open only the tag definitions of an index file are read;
// each order's entries are read from the file the first time anything looks at them or changes
// them, from the image on disk then, and checked as closely as a whole read checks them. An order
// that cannot be read so (a damaged page, a tag another program removed or redefined) is built
// from the records: nothing is lost, the log is told, and the file is written again at the next
// flush. Until then the few look-ups a start makes (the top, a seek, the next entry) are served
// by walking down the tree in the file.
#include "table_impl.h"

namespace rdd {

Status Table::Impl::readSettled(IndexFileState& f, const std::function<Status(std::uint32_t records)>& read,
                                std::uint32_t* records, bool* halfWrittenOut) {
  Status s;
  bool settled = false, halfWritten = false;
  // Exclusive, nobody else writes: one read (a mark found then was left by a writer that stopped).
  const int attempts = options.shared ? kLockFreeReads + 1 : 1;
  for (int attempt = 0; attempt < attempts && !settled; ++attempt) {
    const bool locked = options.shared && attempt == kLockFreeReads;
    if (locked && !(s = lockHeader()).ok()) return s;
    std::uint32_t before = 0, after = 0, c = count;
    s = readCdxCounter(*f.file, &before);
    if (s.ok() && options.shared) s = readHeaderCount(&c);
    if (s.ok()) s = read(std::max(c, count));
    // The stamp is read before the counter is read again: a writer that wrote its closing header
    // between the two would otherwise leave the mark's counter read twice and a stamp without the
    // mark, and a half-written image taken for a whole one.
    CdxStamp st;
    settled = readCdxStamp(*f.file, &st).ok() && readCdxCounter(*f.file, &after).ok() && after == before &&
              st.counter == before && !(halfWritten = st.beingWritten);
    if (locked) unlockHeader();
    *records = std::max(c, count);
  }
  if (halfWrittenOut) *halfWrittenOut = s.ok() && halfWritten;
  if (s.ok() && halfWritten)
    return Status::error(StatusKind::Corruption,
                         "index file " + f.path + " was left half written by a program that stopped while writing it");
  return s;
}

Status Table::Impl::rebuildHalfWritten(IndexFileState& f, std::uint32_t counterOnDisk) {
  Status s = buildOrders(ordersOf(f));
  if (!s.ok()) return s;
  f.counter = counterOnDisk;
  cursorGen = ~0ull;
  noteRebuiltFromRecords(f, "index file " + f.path +
                                " was left half written by a program that stopped while writing it; its orders were "
                                "rebuilt from the table");
  return s;
}

void Table::Impl::noteRebuiltFromRecords(IndexFileState& f, const std::string& what) {
  if (!options.readOnly) {
    f.dirty = true;
    if (!f.changedBy) f.changedBy = "ORDLISTADD";
  }
  indexDamageReported = true;
  rt::logWarning(rt::makeError(rt::EG_CORRUPTION, kSubsystem, what, "ORDLISTADD", f.path));
}

Order* Table::Impl::orderHolding(const KeyIndex& index) {
  for (const auto* list : {&orders, &batchDeleted})
    for (const auto& o : *list)
      if (&o->index == &index) return o.get();
  return nullptr;
}

void Table::Impl::readOrderEntries(KeyIndex& index) {
  Order* o = orderHolding(index);
  if (!o) return;  // an order dropped before its first use: nobody reads it
  IndexFileState& f = *o->file;
  CdxImage img;
  std::uint32_t records = count;
  Status s = readSettled(
      f, [&](std::uint32_t r) { return readCdxTag(*f.file, f.path, o->tag, r, &img); }, &records);
  TagImage* tag = nullptr;
  for (TagImage& t : img.tags)
    if (s.ok() && rt::toUpper(t.name) == o->tag) tag = &t;
  std::string why = s.message;
  if (tag && (tag->keyExpr != o->keyExpr || tag->forExpr != o->forExpr || tag->keyLen != o->keyLen ||
              tag->unique != o->unique))
    why = "index file " + f.path + ": order " + o->tag + " is defined otherwise in it now";
  if (tag && why.empty()) {
    // A tree this driver laid out whole keeps its place for the next write.
    std::optional<TreePlace> place;
    if (img.stamp.valid && img.stamp.counter == img.counter)
      place = placeOfWholeTree(*tag, {options.maxLeafKeys, options.maxInteriorKeys});
    index.assignSorted(std::move(tag->flat), tag->count);
    if (f.placedCounter != img.counter) {
      for (auto& other : orders)
        if (other->file == &f) other->placed.reset();
      f.placedCounter = img.counter;
    }
    o->placed = std::move(place);
    index.markChanges(KeyIndex::Since::Written);
    return;
  }
  Status built = buildOrder(*o);
  if (!built.ok()) {
    f.abandoned = true;
    raise(rt::EG_READ,
          "cannot read order " + o->tag + " of index file " + f.path + " (" + why +
              ") nor build it from the records: " + built.message,
          "ORDLISTADD", built.osCode, false, f.path);
    return;
  }
  noteRebuiltFromRecords(f, why + "; order " + o->tag + " was rebuilt from the table");
}

bool Table::Impl::peekUnread(Order& o, PeekAt where, std::string_view probe, std::string* entry) {
  if (!o.index.unread() || o.buildPending || o.peeksLeft <= 0) return false;
  --o.peeksLeft;
  IndexFileState& f = *o.file;
  std::uint32_t records = count;
  Status s = readSettled(
      f, [&](std::uint32_t r) { return peekCdx(*f.file, f.path, o.tag, r, where, probe, entry); }, &records);
  if (!s.ok()) return false;  // reading the order finds the fault again, and deals with it
  if (entry->empty()) return true;
  const std::uint32_t r = fmt::be32(reinterpret_cast<const std::uint8_t*>(entry->data()) + o.keyLen);
  return r <= count && !(rt::settings().deleted && isDeleted(r));
}

void Table::Impl::positionOnPeeked(const std::string& entry) {
  positionOn(fmt::be32(reinterpret_cast<const std::uint8_t*>(entry.data()) + entry.size() - 4));
  cursorEntry = entry;
  cursorGen = ~0ull;
}

}  // namespace rdd
