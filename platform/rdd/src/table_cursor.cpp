// The cursor: navigation in natural order and along the controlling order, seek and scan, and
// the deletion mark of the current record.
#include <algorithm>
#include <functional>

#include "table_impl.h"

namespace rdd {

Table* gCurrent = nullptr;
Table* currentTable() { return gCurrent; }

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

Status Table::Impl::refreshCursorEntry(const Order& o) {
  cursorGen = ~0ull;
  cursorEntry.clear();
  if (atEof) return cursorEntryStale = false, Status::okay();
  if (Status s = loadRecord(); !s.ok()) return s;  // still stale: worked out at the next try
  cursorEntryStale = false;
  cursorEntry.resize(static_cast<std::size_t>(o.keyLen) + 4);
  if (!entryInto(o, rec.data(), recno, cursorEntry.data())) cursorEntry.clear();
  return Status::okay();
}


std::uint32_t Table::lastRec() { return impl_->isOpen ? impl_->currentCount("LASTREC") : 0; }

std::uint32_t Table::Impl::currentCount(const char* operation) {
  if (options.shared && !burstHeld) {
    endBurstsOn(fileId);  // what another opener in this thread appended counts too
    if (Status s = takeInOthersAppends(); !s.ok())
      raise(rt::EG_READ, "cannot read the record count of " + fullPath + ": " + s.message +
                             "; the records other users appended are not seen", operation, s.osCode);
  }
  return count;
}

Status Table::Impl::takeInOthersAppends() {
  std::uint32_t c = 0;
  if (!options.shared) return Status::okay();
  Status s = readHeaderCount(&c);
  if (!s.ok() || c <= count) return s;
  // Records reach the file before the count that covers them: a count beyond the file's end is
  // not another user's appends (a read-only opener of a table cut to its header sees one).
  std::uint64_t size = 0;
  s = file->size(&size);
  if (!s.ok() || size < headerLen + static_cast<std::uint64_t>(c) * recordLen) return s;
  deletedMap.resize(c, 0);
  if (atEof) recno = c + 1;
  count = c;
  return s;
}

void Table::goTop() { impl_->goEdge(this, Impl::Edge::Top); }
void Table::goBottom() { impl_->goEdge(this, Impl::Edge::Bottom); }

// The first (top) or last (bottom) record the controlling order shows, or the end when it shows
// none; both ends take in what other openers appended and changed first.
void Table::Impl::goEdge(Table* self, Edge edge, const char* operation) {
  if (!isOpen) return;
  gCurrent = self;
  operation = operation ? operation : edge == Edge::Top ? "DBGOTOP" : "DBGOBOTTOM";
  settle(operation);
  atBof = false;
  if (controlling == 0) {
    const std::uint32_t n = currentCount(operation);
    for (std::uint32_t k = 1; k <= n; ++k) {
      const std::uint32_t r = edge == Edge::Top ? k : n + 1 - k;
      if (visibleNatural(r)) return positionOn(r);
    }
    return setEof();
  }
  Order& o = *orders[controlling - 1];
  takeInIndexChanges(*o.file, operation);
  if (std::string e; peekUnread(o, edge == Edge::Top ? PeekAt::First : PeekAt::Last, {}, &e))
    return e.empty() ? setEof() : positionOnPeeked(e);
  for (auto c = edge == Edge::Top ? o.index.begin() : o.index.last(); o.index.size() && !o.index.atEnd(c);
       c = edge == Edge::Top ? o.index.next(c) : o.index.prev(c))
    if (entryVisible(o, c)) return positionOnEntry(o, c);
  setEof();
}

void Table::Impl::positionOnEntry(const Order& o, KeyIndex::Cursor c) {
  cursor = c;
  cursorGen = o.index.generation();
  cursorEntry.assign(o.index.entry(c));
  positionOn(o.index.recno(c));
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
      if (r > t.count && r > t.currentCount("DBSKIP")) return t.setEof();
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
    t.goEdge(this, Impl::Edge::Bottom, "DBSKIP");
    if (t.atEof) {  // the order shows no record (a damaged index may hold none of the table's)
      t.atBof = true;
      return;
    }
    if (++n == 0) return;
  }
  if (t.cursorEntryStale) {
    // Where the record stands in the order is worked out from its key: a skip from a record that
    // cannot be read would start from the top of the order.
    if (Status s = t.refreshCursorEntry(o); !s.ok()) {
      t.raise(rt::EG_READ, "cannot read record " + std::to_string(t.recno) + " of " + t.fullPath + ": " + s.message +
                               "; the skip was not done", "DBSKIP", s.osCode);
      return;
    }
  }
  if (std::string e; (n == 1 || n == -1) && !t.cursorEntry.empty() &&
                     t.peekUnread(o, n > 0 ? PeekAt::After : PeekAt::Before, t.cursorEntry, &e)) {
    if (!e.empty()) return t.positionOnPeeked(e);
    if (n > 0) return t.setEof();
    t.atBof = true;
    return;
  }
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
  t.positionOnEntry(o, c);
}

void Table::goTo(std::uint32_t r) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  t.settle("DBGOTO");
  t.atBof = false;
  if (r < 1 || (r > t.count && r > t.currentCount("DBGOTO"))) return t.setEof();
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
  if (!t.recLoaded) {
    Status s = t.loadRecord();
    if (!s.ok()) {
      t.raise(rt::EG_READ, "cannot read record " + std::to_string(t.recno) + " of " + t.fullPath + ": " + s.message,
              "DELETED", s.osCode);
      return false;
    }
  }
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
  if (!t.recDirty) t.recordChangedBy = "DBDELETE";
  t.recDirty = true;
}

void Table::recall() {
  Impl& t = *impl_;
  if (!t.isOpen || t.atEof) return;
  if (!t.recordReadFor("DBRECALL", "not recalled")) return;
  t.rec[0] = fmt::kLiveFlag;
  t.deletedMap[t.recno - 1] = 0;
  if (!t.recDirty) t.recordChangedBy = "DBRECALL";
  t.recDirty = true;
}

bool Table::seek(std::string_view prefix) {
  Impl& t = *impl_;
  t.lastFound = false;
  if (!t.isOpen) return false;
  gCurrent = this;
  t.settle("DBSEEK");
  t.atBof = false;
  if (t.controlling == 0) {
    t.raise(rt::EG_NOTINDEXED, "seek in " + t.fullPath + " needs a controlling order", "DBSEEK");
    t.setEof();
    return false;
  }
  Order& o = *t.orders[t.controlling - 1];
  t.takeInIndexChanges(*o.file, "DBSEEK");
  std::string stored;
  if (!t.storedProbe(prefix, stored)) {
    t.setEof();
    return false;
  }
  std::string_view probe = stored;
  if (probe.size() > static_cast<std::size_t>(o.keyLen)) {
    // Bytes beyond the key can only match the key's own blank padding... which does not exist.
    if (probe.substr(o.keyLen).find_first_not_of(' ') != std::string_view::npos) {
      t.setEof();
      return false;
    }
    probe = probe.substr(0, o.keyLen);
  }
  if (std::string e; t.peekUnread(o, PeekAt::AtOrAfter, probe, &e)) {
    if (e.empty() || std::string_view(e).substr(0, probe.size()) != probe) {
      t.setEof();
      return false;
    }
    t.positionOnPeeked(e);
    return t.lastFound = true;
  }
  auto c = o.index.lowerBound(probe);
  while (!o.index.atEnd(c) && !t.entryVisible(o, c)) c = o.index.next(c);
  if (o.index.atEnd(c) || o.index.key(c).substr(0, probe.size()) != probe) {
    t.setEof();
    return false;
  }
  t.positionOnEntry(o, c);
  t.lastFound = true;
  return true;
}

void Table::scanOrder(int number, std::string_view from,
                      const std::function<bool(std::string_view key, std::uint32_t recno)>& visit) {
  Impl& t = *impl_;
  if (!t.isOpen || number < 1 || number > orderCount()) return;
  gCurrent = this;
  t.settle("DBSEEK");
  Order& o = *t.orders[number - 1];
  t.takeInIndexChanges(*o.file, "DBSEEK");
  std::string start(from.substr(0, std::min<std::size_t>(from.size(), o.keyLen)));
  // The first entry from the file: a scan that wants only that one does not read the order.
  std::string visited;
  if (t.peekUnread(o, PeekAt::AtOrAfter, start, &visited)) {
    if (visited.empty()) return;
    const auto r = fmt::be32(reinterpret_cast<const std::uint8_t*>(visited.data()) + o.keyLen);
    if (!visit(std::string_view(visited).substr(0, o.keyLen), r)) return;
    start = visited;
  }
  for (auto c = o.index.lowerBound(start); !o.index.atEnd(c); c = o.index.next(c)) {
    if (o.index.entry(c) == visited) continue;
    if (t.entryVisible(o, c) && !visit(o.index.key(c), o.index.recno(c))) return;
  }
}

bool Table::storedForm(std::string_view text, std::string* out) const { return impl_->storedProbe(text, *out); }

}  // namespace rdd
