// The order side of a Table: opening, creating, deleting and writing compound index files, and
// seeking. Every open order lives in memory (KeyIndex); an index file is rewritten from it as a
// whole, into pages that the previous image does not use, with the file header written last, so
// a failure part-way leaves the previous image intact and readable.
#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "table_impl.h"

namespace rdd {
namespace {

std::string trimSpaces(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

bool hasExtension(const std::string& name) {
  std::size_t slash = name.find_last_of('/');
  std::size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

}  // namespace

// Fills the fast path (plain concatenation of character fields) or makes sure a compiled block
// exists; raises and answers false when the expression cannot be evaluated.
bool Table::Impl::prepareKey(Order& o, const char* operation) {
  o.keyFields.clear();
  std::string expr = o.keyExpr;
  bool plain = !expr.empty();
  std::size_t start = 0;
  std::vector<int> fieldsFound;
  while (plain && start <= expr.size()) {
    std::size_t plus = expr.find('+', start);
    std::string part = trimSpaces(expr.substr(start, plus == std::string::npos ? std::string::npos : plus - start));
    int fi = -1;
    std::string up = rt::toUpper(part);
    for (std::size_t i = 0; i < fields.size(); ++i)
      if (fields[i].name == up && fields[i].type == 'C') fi = static_cast<int>(i);
    if (fi < 0) plain = false;
    else fieldsFound.push_back(fi);
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  o.keySpans.clear();
  if (plain) {
    o.keyFields = fieldsFound;
    int len = 0;
    for (int fi : fieldsFound) {
      const FieldInfo& f = fields[fi];
      if (!o.keySpans.empty() && o.keySpans.back().first + o.keySpans.back().second == f.offset)
        o.keySpans.back().second += f.length;
      else
        o.keySpans.emplace_back(f.offset, f.length);
      len += f.length;
    }
    if (o.keyLen == 0) o.keyLen = len;
  } else {
    if (!o.keyBlock) o.keyBlock = rt::compile(o.keyExpr);
    if (!o.keyBlock) {
      raise(rt::EG_SYNTAX, "key expression \"" + o.keyExpr + "\" of order " + o.tag + " cannot be evaluated", operation);
      return false;
    }
  }
  if (!o.forExpr.empty() && !o.forBlock) {
    o.forBlock = rt::compile(o.forExpr);
    if (!o.forBlock) {
      raise(rt::EG_SYNTAX, "condition \"" + o.forExpr + "\" of order " + o.tag + " cannot be evaluated", operation);
      return false;
    }
  }
  return true;
}

Status Table::Impl::loadIndexImage(IndexFileState& f, CdxImage& img, std::vector<std::unique_ptr<Order>>* out) {
  for (auto& tag : img.tags) {
    auto o = std::make_unique<Order>();
    o->tag = rt::toUpper(tag.name);
    o->keyExpr = tag.keyExpr;
    o->forExpr = tag.forExpr;
    o->keyLen = tag.keyLen;
    o->unique = tag.unique;
    o->file = &f;
    o->index = KeyIndex(tag.keyLen, options.memoryBlockEntries);
    if (!prepareKey(*o, "ORDLISTADD"))
      return Status::error(StatusKind::InvalidArgument, "order " + o->tag + " has an expression this driver cannot evaluate");
    if (!o->keyFields.empty()) {
      int len = 0;
      for (int fi : o->keyFields) len += fields[fi].length;
      if (len != o->keyLen)
        return Status::error(StatusKind::Corruption, "index file " + f.path + ": order " + o->tag + " has key length " +
                                                         std::to_string(o->keyLen) + " but its fields make " + std::to_string(len));
    }
    o->index.assignSorted(std::move(tag.flat), tag.count);
    out->push_back(std::move(o));
  }
  return Status::okay();
}

bool Table::openIndex(const std::string& fileSpec) {
  Impl& t = *impl_;
  if (!t.isOpen) return false;
  const char* op = "ORDLISTADD";
  t.settle(op);
  std::string name = fileSpec;
  if (!hasExtension(name)) name += indexExt();
  std::string path = (!name.empty() && name[0] == '/') ? name : t.directory + name;
  for (auto& f : t.indexFiles)
    if (f->path == path) return true;
  auto f = std::make_unique<IndexFileState>();
  f->path = path;
  for (;;) {
    Status s = t.env->open(path, t.options.readOnly ? OpenMode::ReadOnly : OpenMode::ReadWrite, &f->file);
    if (s.ok()) break;
    std::string what = s.kind == StatusKind::NotFound ? "index file " + path + " not found" : s.message;
    if (!t.raise(rt::EG_OPEN, what, op, s.osCode ? s.osCode : 2, true, path)) return false;
  }
  // The header page (change counter, stamp) is read before every look-up in shared mode: through
  // a view. Rewrites cut the file only behind its header, so the view stays valid.
  (void)f->file->mapPrefix(fmt::kTreeHeaderSize);
  Status s = t.writeAppended();
  // Shared: the image and the record count it is checked against are read under the header lock,
  // so that rows another opener appended (and indexed) meanwhile are not taken for damage.
  bool locked = false;
  if (s.ok() && t.options.shared) {
    s = t.lockHeader();
    locked = s.ok();
  }
  CdxImage img;
  if (s.ok()) {
    t.takeInOthersAppends();
    s = readCdx(*f->file, path, t.count, &img);
  }
  // A damaged file is never trusted. When its tag definitions can still be read, its orders are
  // built again from the records; otherwise it is taken without orders, and the orders created
  // into it replace it.
  std::string damage;
  if (s.kind == StatusKind::Corruption) {
    damage = s.message;
    img = CdxImage{};
    s = readCdxTags(*f->file, path, &img);
    if (!s.ok() || img.tags.empty()) {
      img = CdxImage{};
      s = Status::okay();
    }
  }
  if (locked) t.unlockHeader();
  std::vector<std::unique_ptr<Order>> loaded;
  if (s.ok()) s = t.loadIndexImage(*f, img, &loaded);
  if (!s.ok()) {
    if (s.kind != StatusKind::InvalidArgument)
      t.raise(s.kind == StatusKind::Corruption ? rt::EG_CORRUPTION : rt::EG_READ, s.message, op, s.osCode, false, path);
    return false;
  }
  f->counter = img.counter;
  f->regionStart = damage.empty() ? img.regionStart : 0;  // nothing of a damaged file is kept
  f->regionEnd = damage.empty() ? img.regionEnd : 0;
  for (auto& o : loaded) t.orders.push_back(std::move(o));
  IndexFileState& fs = *f;
  t.indexFiles.push_back(std::move(f));
  t.refreshFieldInKey();
  bool stale = !damage.empty() && !loaded.empty();
  if (damage.empty()) s = t.checkStale(fs, &stale);
  bool built = false;
  if (s.ok() && stale) s = t.rebuildFile(fs, &built);
  if (!s.ok() && !built) {
    t.raise(rt::EG_READ, "index file " + path + " did not match the table and could not be rebuilt: " + s.message, op,
            s.osCode, false, path);
    return false;
  }
  if (!s.ok()) {
    // The orders rebuilt in memory serve this opener; the file stays as it was, and since a write
    // failed the table takes no more writes until it is opened again.
    if (!t.writeFailed) t.writeBroke(s);
    t.raise(rt::EG_WRITE, "index file " + path + " was rebuilt but could not be written: " + s.message, op, s.osCode,
            false, path);
    return true;
  }
  if (!damage.empty()) {
    std::string done = loaded.empty() ? "it holds no usable order; its orders have to be created again"
                                      : "its orders were rebuilt from the table";
    auto e = rt::makeError(rt::EG_CORRUPTION, "DBFCDX", damage + "; " + done, op, path);
    e->severity = 1;
    e->canDefault = true;
    (void)rt::raise(e);
  }
  return true;
}

// An index file whose stamp says that an opener changed the table and stopped before writing
// the file, or that was written for another table file than the one there now (another record
// count, size, modification time or hash: the table was changed without it), does not agree with
// the table.
Status Table::Impl::checkStale(IndexFileState& f, bool* staleOut) {
  bool locked = false;
  if (options.shared && !options.readOnly) {
    Status s = lockHeader();
    if (!s.ok()) return s;
    locked = true;
  }
  CdxStamp st;
  Status s = readCdxStamp(*f.file, &st);
  std::uint32_t c = count;
  if (s.ok() && options.shared) s = readHeaderCount(&c);
  bool stale = false;
  if (s.ok() && st.valid) {
    if (st.changing > 0) {
      stale = !changersAlive(f);
    } else {
      // Nobody is changing the table: it must be the one the trees were written for, as it was.
      TableFingerprint now;
      stale = st.recCount != c;
      if (!stale && st.table.known() && tableFingerprint(&now).ok()) stale = !(now == st.table);
      if (!stale) f.stamped = st.table;
    }
  }
  if (locked) unlockHeader();
  *staleOut = stale;
  return s;
}

Status Table::Impl::rebuildFile(IndexFileState& f, bool* built) {
  for (auto& o : orders)
    if (o->file == &f) {
      Status s = buildOrder(*o);
      if (!s.ok()) return s;
    }
  *built = true;
  cursorGen = ~0ull;
  if (options.readOnly) return Status::okay();
  f.dirty = true;
  return writeIndexFile(f, true);
}

int Table::orderCount() const { return impl_->isOpen ? static_cast<int>(impl_->orders.size()) : 0; }
int Table::order() const { return impl_->controlling; }

void Table::setOrder(int number) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  t.settle("ORDSETFOCUS");
  if (number < 0 || number > orderCount()) {
    t.raise(rt::EG_ARG, "order " + std::to_string(number) + " does not exist (" + std::to_string(orderCount()) +
                            " open) in " + t.fullPath, "ORDSETFOCUS");
    return;
  }
  if (number == t.controlling) return;
  t.controlling = number;
  t.cursorGen = ~0ull;
  // The position in the new order is worked out from the record only when a skip needs it.
  if (number > 0 && !t.atEof) t.cursorEntryStale = true;
}

std::string Table::orderName(int n) const {
  return n >= 1 && n <= orderCount() ? impl_->orders[n - 1]->tag : std::string();
}
std::string Table::orderKey(int n) const {
  return n >= 1 && n <= orderCount() ? impl_->orders[n - 1]->keyExpr : std::string();
}
std::string Table::orderFor(int n) const {
  return n >= 1 && n <= orderCount() ? impl_->orders[n - 1]->forExpr : std::string();
}
std::string Table::orderFile(int n) const {
  return n >= 1 && n <= orderCount() ? impl_->orders[n - 1]->file->path : std::string();
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
  (void)t.syncIndexForRead(*o.file);
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
  auto c = o.index.lowerBound(probe);
  while (!o.index.atEnd(c) && !t.entryVisible(o, c)) c = o.index.next(c);
  if (o.index.atEnd(c) || o.index.key(c).substr(0, probe.size()) != probe) {
    t.setEof();
    return false;
  }
  t.cursor = c;
  t.cursorGen = o.index.generation();
  t.cursorEntry.assign(o.index.entry(c));
  t.positionOn(o.index.recno(c));
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
  (void)t.syncIndexForRead(*o.file);
  for (auto c = o.index.lowerBound(from.substr(0, std::min<std::size_t>(from.size(), o.keyLen)));
       !o.index.atEnd(c); c = o.index.next(c)) {
    if (t.entryVisible(o, c) && !visit(o.index.key(c), o.index.recno(c))) return;
  }
}

bool Table::storedForm(std::string_view text, std::string* out) const { return impl_->storedProbe(text, *out); }

void Table::setOrderCondition(const std::string& forExpr, rt::BlockPtr forBlock) {
  impl_->nextForExpr = forExpr;
  impl_->nextForBlock = std::move(forBlock);
}

void Table::deleteOrder(int number, const std::string& indexFile) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  const char* op = "ORDDESTROY";
  t.settle(op);
  if (number < 1 || number > orderCount()) {
    t.raise(rt::EG_ARG, "order " + std::to_string(number) + " does not exist in " + t.fullPath, op);
    return;
  }
  (void)indexFile;  // orders are numbered across all open files; the number alone names one
  IndexFileState* f = t.orders[number - 1]->file;
  if (const Order& o = *t.orders[number - 1]; t.orderBatch && !o.forBlock) {
    std::vector<std::uint32_t>& sequence = t.deletedSequences[o.keyExpr];
    sequence.clear();
    sequence.reserve(o.index.size());
    o.index.forEach([&](std::string_view e) {
      sequence.push_back(fmt::be32(reinterpret_cast<const std::uint8_t*>(e.data()) + o.keyLen));
    });
  }
  t.orders.erase(t.orders.begin() + (number - 1));
  if (t.controlling == number) t.controlling = 0;
  else if (t.controlling > number) --t.controlling;
  t.cursorGen = ~0ull;
  t.refreshFieldInKey();
  t.orderChanged(*f, op);
}

// After an order of `f` was created or deleted. A shared table writes the file at once, so the
// other users see the change; an exclusive one writes it on flush/close (a build of several orders
// then writes the file once), except that a file left without orders is written at once, small.
// Within a batch of order changes the file is written once, at the batch's end.
// Until then the file's stamp counts this opener, so a stop in between is noticed at the next open.
void Table::Impl::orderChanged(IndexFileState& f, const char* op) {
  Status s = markChanging(f);
  f.dirty = true;
  f.clearPending();
  bool hasOrders = std::any_of(orders.begin(), orders.end(), [&](auto& o) { return o->file == &f; });
  bool writeNow = options.shared || !hasOrders || f.regionStart == 0;
  if (s.ok() && writeNow && !orderBatch) s = writeIndexFile(f);
  if (!s.ok()) raise(rt::EG_WRITE, "cannot write index file " + f.path + ": " + s.message, op, s.osCode, false, f.path);
}

void Table::beginOrderChanges() {
  Impl& t = *impl_;
  if (!t.isOpen || t.orderBatch) return;
  const char* op = "ORDCREATE";
  t.settle(op);
  if (t.options.shared) {
    Status s = t.lockHeader();
    if (!s.ok()) {
      t.raise(rt::EG_LOCK, "cannot lock the header of " + t.fullPath + ": " + s.message, op, s.osCode);
      return;
    }
  }
  t.orderBatch = true;
  t.batchMemory.emplace();
  t.noteImagesAtBatchStart();
}

void Table::endOrderChanges() {
  Impl& t = *impl_;
  if (!t.orderBatch) return;
  // The files are written while the lock is still ours, so that whoever takes it next finds them
  // agreeing with the table.
  t.keepImagesTheBatchLeftAlone();
  (void)t.flushIndexes("ORDCREATE");
  t.orderBatch = false;
  t.deletedSequences.clear();
  t.batchImageDigests.clear();
  t.batchMemory.reset();
  t.unlockHeader();
}

void Table::createOrder(const std::string& tag, const std::string& indexFile, const std::string& keyExpr,
                        rt::BlockPtr keyBlock, bool unique) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  gCurrent = this;
  const char* op = "ORDCREATE";
  t.settle(op);
  if (t.options.readOnly) {
    t.raise(rt::EG_READONLY, "table " + t.fullPath + " is open read-only; order " + tag + " not created", op);
    return;
  }
  std::string tagName = rt::toUpper(trimSpaces(tag));
  if (tagName.empty() || tagName.size() > static_cast<std::size_t>(fmt::kTagNameLen)) {
    t.raise(rt::EG_ARG, "order name \"" + tag + "\" must have 1 to 10 characters", op);
    return;
  }
  std::string name = indexFile.empty() ? t.fileName.substr(0, t.fileName.find_last_of('.')) : indexFile;
  if (!hasExtension(name)) name += indexExt();
  std::string path = (!name.empty() && name[0] == '/') ? name : t.directory + name;
  if (t.env->exists(path)) {
    bool open = std::any_of(t.indexFiles.begin(), t.indexFiles.end(), [&](auto& f) { return f->path == path; });
    if (!open && !openIndex(path)) return;  // an unreadable file is never overwritten
  }
  IndexFileState* f = nullptr;
  for (auto& x : t.indexFiles)
    if (x->path == path) f = x.get();
  if (!f) {
    auto nf = std::make_unique<IndexFileState>();
    nf->path = path;
    Status s = t.env->open(path, OpenMode::CreateReadWrite, &nf->file);
    if (!s.ok()) {
      t.raise(rt::EG_CREATE, "cannot create index file " + path + ": " + s.message, op, s.osCode, false, path);
      return;
    }
    (void)nf->file->mapPrefix(fmt::kTreeHeaderSize);
    f = nf.get();
    t.indexFiles.push_back(std::move(nf));
  }
  auto o = std::make_unique<Order>();
  o->tag = tagName;
  o->keyExpr = keyExpr;
  o->keyBlock = std::move(keyBlock);
  o->forExpr = t.nextForExpr;
  o->forBlock = t.nextForBlock;
  o->unique = unique;
  o->file = f;
  if (!t.prepareKey(*o, op)) return;
  Status s = t.flushAppends();
  if (!s.ok()) {
    t.raise(rt::EG_WRITE, "cannot write records of " + t.fullPath + ": " + s.message, op, s.osCode);
    return;
  }
  if (o->keyFields.empty()) {
    // Key length from the key of the first record (or of a blank one).
    std::string sample(t.recordLen, ' ');
    if (t.count > 0) (void)t.readRecordInto(1, sample.data());
    o->keyLen = 0;  // natural length of the sample key
    o->keyLen = static_cast<int>(std::max<std::size_t>(1, t.keyOf(*o, sample.data()).size()));
  }
  if (o->keyLen > fmt::kMaxKeyLen) {
    t.raise(rt::EG_LIMIT, "key of order " + tagName + " is " + std::to_string(o->keyLen) + " bytes; at most 240 allowed", op);
    return;
  }
  o->index = KeyIndex(o->keyLen, t.options.memoryBlockEntries);
  s = t.buildOrder(*o);
  if (!s.ok()) {
    t.raise(rt::EG_READ, "cannot read the records of " + t.fullPath + " to build order " + tagName + ": " + s.message, op,
            s.osCode);
    return;
  }
  // Replace a same-named order of that file; the new order goes after the file's last order.
  int replaced = 0;
  for (std::size_t i = 0; i < t.orders.size(); ++i)
    if (t.orders[i]->file == f && t.orders[i]->tag == tagName) {
      t.orders.erase(t.orders.begin() + static_cast<std::ptrdiff_t>(i));
      replaced = 1;
      break;
    }
  (void)replaced;
  std::size_t insertAt = t.orders.size();
  for (std::size_t i = 0; i < t.orders.size(); ++i)
    if (t.orders[i]->file == f) insertAt = i + 1;
  bool fileHasOrders = std::any_of(t.orders.begin(), t.orders.end(), [&](auto& x) { return x->file == f; });
  if (!fileHasOrders) {
    // Files keep their opening order: place after the orders of every file opened before it.
    insertAt = 0;
    for (auto& x : t.indexFiles) {
      if (x.get() == f) break;
      for (std::size_t i = 0; i < t.orders.size(); ++i)
        if (t.orders[i]->file == x.get()) insertAt = std::max(insertAt, i + 1);
    }
  }
  t.orders.insert(t.orders.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(o));
  t.refreshFieldInKey();
  t.orderChanged(*f, op);
  t.controlling = static_cast<int>(insertAt) + 1;
  goTop();
}

// ---------------------------------------------------------------- writing and sharing

namespace {

// Entries sorted by (key bytes, record number): integer words of 24 bytes at a time, sorted with
// std::sort; runs that tie on those bytes are sorted again on the next 24, and so on.
struct SortItem {
  std::uint64_t w[3];
  std::uint32_t idx;
};

// The 8 bytes of the entry at `at` as a big-endian word (bytes past the entry's end count as 0),
// so that comparing words compares the bytes in order.
inline std::uint64_t wordAt(const char* p, std::size_t at, std::size_t es) {
  std::uint64_t w = 0;
  if (at + 8 <= es) {
    std::memcpy(&w, p + at, 8);
  } else if (at < es) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, p + at, es - at);
    std::memcpy(&w, bytes, 8);
  }
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  return w;
}

// How far the entries of a run agree, from `at` on: the rows of one class share their version,
// class and parent, and sorting on those bytes 24 at a time again would only find them equal.
std::size_t sharedPrefix(const SortItem* items, std::size_t n, const char* flat, std::size_t es, std::size_t at) {
  const char* first = flat + static_cast<std::size_t>(items[0].idx) * es;
  std::size_t end = es;
  for (std::size_t i = 1; i < n && end > at; ++i) {
    const char* p = flat + static_cast<std::size_t>(items[i].idx) * es;
    std::size_t k = at;
    while (k + 8 <= end && std::memcmp(first + k, p + k, 8) == 0) k += 8;
    while (k < end && first[k] == p[k]) ++k;
    end = k;
  }
  return end;
}

void sortRun(SortItem* items, std::size_t n, const char* flat, std::size_t es, std::size_t at) {
  for (std::size_t i = 0; i < n; ++i) {
    const char* p = flat + static_cast<std::size_t>(items[i].idx) * es;
    items[i].w[0] = wordAt(p, at, es);
    items[i].w[1] = wordAt(p, at + 8, es);
    items[i].w[2] = wordAt(p, at + 16, es);
  }
  auto less = [](const SortItem& a, const SortItem& b) {
    if (a.w[0] != b.w[0]) return a.w[0] < b.w[0];
    if (a.w[1] != b.w[1]) return a.w[1] < b.w[1];
    return a.w[2] < b.w[2];
  };
  std::sort(items, items + n, less);
  if (at + 24 >= es) return;
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i + 1;
    while (j < n && !less(items[i], items[j])) ++j;
    if (j - i > 1) sortRun(items + i, j - i, flat, es, sharedPrefix(items + i, j - i, flat, es, at + 24));
    i = j;
  }
}

// Moves the entries of `flat` into sorted order in place (items[i].idx names the entry that goes
// i-th), one cycle of the permutation at a time with one spare entry; marks each item done.
void arrangeInOrder(std::vector<char>& flat, std::vector<SortItem>& items, std::size_t es) {
  std::string spare(es, '\0');
  for (std::size_t start = 0; start < items.size(); ++start) {
    if (items[start].idx == start) continue;
    std::memcpy(spare.data(), flat.data() + start * es, es);
    for (std::size_t to = start;;) {
      const std::size_t from = items[to].idx;
      items[to].idx = static_cast<std::uint32_t>(to);
      std::memcpy(flat.data() + to * es, from == start ? spare.data() : flat.data() + from * es, es);
      if (from == start) break;
      to = from;
    }
  }
}

}  // namespace

const std::vector<std::uint32_t>* Table::Impl::sequenceFor(const Order& o) {
  auto it = deletedSequences.find(o.keyExpr);
  if (!orderBatch || o.forBlock || it == deletedSequences.end() || it->second.size() != count) return nullptr;
  std::vector<bool> seen(count, false);
  for (std::uint32_t r : it->second) {
    if (r < 1 || r > count || seen[r - 1]) return nullptr;
    seen[r - 1] = true;
  }
  return &it->second;
}

namespace {

// True when the `n` entries of `flat` rise strictly (as entries of distinct records do in order).
bool inKeyOrder(const std::vector<char>& flat, std::size_t n, std::size_t es) {
  for (std::size_t i = 1; i < n; ++i)
    if (std::memcmp(flat.data() + (i - 1) * es, flat.data() + i * es, es) >= 0) return false;
  return true;
}

// Hands every record of the table, in record order, to visit(record, recno), reading about a
// megabyte of records at a time.
template <class Visit>
Status forEachRecord(Table::Impl& t, Visit&& visit) {
  const std::uint32_t chunk = std::max<std::uint32_t>(1, (1u << 20) / t.recordLen);
  std::vector<char> buf(static_cast<std::size_t>(chunk) * t.recordLen);
  for (std::uint32_t r = 0; r < t.count; r += chunk) {
    std::uint32_t k = std::min(chunk, t.count - r);
    std::size_t got = 0;
    Status s = t.file->read(t.headerLen + static_cast<std::uint64_t>(r) * t.recordLen, buf.data(),
                            static_cast<std::size_t>(k) * t.recordLen, &got);
    if (!s.ok()) return s;
    if (got != static_cast<std::size_t>(k) * t.recordLen)
      return Status::error(StatusKind::Corruption, "the table ends before record " + std::to_string(r + k));
    for (std::uint32_t j = 0; j < k; ++j) visit(buf.data() + static_cast<std::size_t>(j) * t.recordLen, r + j + 1);
  }
  return Status::okay();
}

}  // namespace

// The order as it was before this batch deleted it gives every record's place: each entry is
// written straight into its leaf as the records are read, with no sorted copy in between.
// Answers false (the index left empty) when the entries do not come out in key order after all.
bool Table::Impl::buildInSequence(Order& o, const std::vector<std::uint32_t>& sequence, Status* s) {
  std::vector<std::uint32_t> place(sequence.size());
  for (std::size_t i = 0; i < sequence.size(); ++i) place[sequence[i] - 1] = static_cast<std::uint32_t>(i);
  return o.index.fillInPlace(sequence.size(), [&](auto slot) {
    bool everyRecord = true;
    *s = forEachRecord(*this, [&](const char* record, std::uint32_t r) {
      everyRecord = entryInto(o, record, r, slot(place[r - 1])) && everyRecord;
    });
    return s->ok() && everyRecord;
  });
}

Status Table::Impl::buildOrder(Order& o) {
  Status s = flushAppends();
  if (!s.ok()) return s;
  takeInOthersAppends();
  if (const std::vector<std::uint32_t>* sequence = sequenceFor(o); sequence && buildInSequence(o, *sequence, &s))
    return s;
  if (!s.ok()) return s;
  KeyIndex::releaseHeld();  // the sorted copy below is one large buffer of its own
  const std::size_t es = static_cast<std::size_t>(o.keyLen) + 4;
  // Grown 4096 entries at a time just before they are written: clearing the whole
  // buffer up front would touch every page twice.
  std::vector<char> flat;
  flat.reserve(static_cast<std::size_t>(count) * es);
  std::size_t n = 0;
  s = forEachRecord(*this, [&](const char* record, std::uint32_t r) {
    if (flat.size() < (n + 1) * es) flat.resize(std::min<std::size_t>(count, n + (1u << 12)) * es);
    if (entryInto(o, record, r, flat.data() + n * es)) ++n;
  });
  if (!s.ok()) return s;
  flat.resize(n * es);
  std::vector<SortItem> items(n);
  for (std::size_t i = 0; i < n; ++i) items[i].idx = static_cast<std::uint32_t>(i);
  if (!inKeyOrder(flat, n, es)) {
    if (n > 1) sortRun(items.data(), n, flat.data(), es, 0);
    arrangeInOrder(flat, items, es);
  }
  o.index.assignSorted(std::move(flat), n);
  return Status::okay();
}

Status Table::Impl::markChanging(IndexFileState& f) {
  if (f.marked || options.readOnly || f.regionStart == 0) return Status::okay();
  bool locked = false;
  if (options.shared) {
    Status s = lockHeader();
    if (!s.ok()) return s;
    locked = true;
  }
  CdxStamp st;
  Status s = readCdxStamp(*f.file, &st);
  if (s.ok() && st.valid && st.changing > 0 && !changersAlive(f)) {
    // Someone stopped without writing changes: what we hold came from that stale image.
    for (auto& o : orders)
      if (o->file == &f && s.ok()) s = buildOrder(*o);
    st.changing = 0;
    f.dirty = true;
  }
  if (s.ok()) s = f.file->lock(fmt::kChangingLockOffset, 1, LockKind::Shared, true);
  if (s.ok()) {
    CdxStamp out = st;
    out.recCount = st.valid ? st.recCount : count;
    out.changing = (st.valid ? st.changing : 0) + 1;
    s = writeCdxStamp(*f.file, out);
    if (s.ok()) f.marked = true;
    else (void)f.file->unlock(fmt::kChangingLockOffset, 1);
  }
  if (locked) unlockHeader();
  return s;
}

bool Table::Impl::markIndexesChanging(const char* operation) {
  for (auto& f : indexFiles) {
    if (f->marked) continue;
    bool used = std::any_of(orders.begin(), orders.end(), [&](auto& o) { return o->file == f.get(); });
    if (!used) continue;
    Status s = markChanging(*f);
    if (!s.ok()) {
      raise(rt::EG_WRITE, "cannot mark index file " + f->path + " as being changed: " + s.message, operation, s.osCode,
            false, f->path);
      return false;
    }
  }
  return true;
}

// True when some opener other than us holds the "changing" lock byte of f (it is alive and will
// write its changes). Read-only openers cannot test and answer false (the conservative answer).
bool Table::Impl::changersAlive(IndexFileState& f) {
  if (options.readOnly) return false;
  Status s = f.file->lock(fmt::kChangingLockOffset, 1, LockKind::Exclusive, false);
  if (!s.ok()) return s.kind == StatusKind::Busy;
  (void)f.file->unlock(fmt::kChangingLockOffset, 1);
  return false;
}

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

Status Table::Impl::tableFingerprint(TableFingerprint* out) {
  TableFingerprint fp;
  Status s = file->size(&fp.size);
  if (s.ok()) s = file->modifiedNs(&fp.modifiedNs);
  if (!s.ok()) return s;
  // FNV-1a over the header with the field descriptors, and the first and the last record.
  std::uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<std::uint8_t>(p[i])) * 1099511628211ull;
  };
  std::vector<char> buf(std::max(headerLen, recordLen));
  std::size_t got = 0;
  s = file->read(0, buf.data(), headerLen, &got);
  if (!s.ok()) return s;
  mix(buf.data(), got);
  std::uint32_t n = got >= 8 ? fmt::le32(reinterpret_cast<const std::uint8_t*>(buf.data()) + fmt::kHdrRecCount) : 0;
  for (std::uint32_t r : {1u, n}) {
    if (r < 1 || r > n) continue;
    s = file->read(headerLen + static_cast<std::uint64_t>(r - 1) * recordLen, buf.data(), recordLen, &got);
    if (!s.ok()) return s;
    mix(buf.data(), got);
  }
  fp.hash = h ? h : 1;
  *out = fp;
  return Status::okay();
}

void Table::Impl::refreshStamps() {
  if (writeFailed || options.readOnly) return;
  for (auto& f : indexFiles) {
    if (f->dirty || f->marked || f->regionStart == 0) continue;
    TableFingerprint now;
    if (!tableFingerprint(&now).ok() || now == f->stamped) continue;
    if (!lockHeader().ok()) continue;
    // Only a stamp that still describes an index in step with the table is renewed.
    CdxStamp st;
    std::uint32_t c = count;
    if (readCdxStamp(*f->file, &st).ok() && st.valid && st.changing == 0 && readHeaderCount(&c).ok() &&
        st.recCount == c && tableFingerprint(&now).ok()) {
      st.table = now;
      if (writeCdxStamp(*f->file, st).ok()) f->stamped = now;
    }
    unlockHeader();
  }
}

// Every definition and entry of the file's orders, in order; equal digests mean equal images.
std::uint64_t Table::Impl::ordersDigest(const IndexFileState& f) const {
  std::uint64_t digest = 0;
  auto mix = [&digest](std::string_view bytes) {
    digest = (digest ^ std::hash<std::string_view>{}(bytes)) * 0x9E3779B97F4A7C15ull + bytes.size();
  };
  for (const auto& o : orders) {
    if (o->file != &f) continue;
    mix(o->tag);
    mix(o->keyExpr);
    mix(o->forExpr);
    mix(std::to_string(o->keyLen) + (o->unique ? "U" : "-") + std::to_string(o->index.size()));
    o->index.forEach(mix);
  }
  return digest;
}

// The file holds exactly this opener's orders: nothing unwritten, and nobody rewrote it since.
bool Table::Impl::imageHeldAsOnDisk(IndexFileState& f) {
  std::uint32_t onDisk = 0;
  return f.regionStart != 0 && !f.dirty && !f.marked && f.pending.empty() && f.pendingNew.empty() &&
         readCdxCounter(*f.file, &onDisk).ok() && onDisk == f.counter;
}

void Table::Impl::noteImagesAtBatchStart() {
  batchImageDigests.clear();
  if (writeFailed || options.readOnly) return;
  for (auto& f : indexFiles)
    if (imageHeldAsOnDisk(*f)) batchImageDigests[f.get()] = ordersDigest(*f);
}

// A batch that deleted and built orders again without changing a single entry (a rebuild over
// records whose keys did not change) leaves the file's image as it is: the stamp takes the table
// as it is now and lets go of this opener's count; the pages are not written again.
void Table::Impl::keepImagesTheBatchLeftAlone() {
  if (writeFailed) return;
  for (auto& f : indexFiles) {
    auto was = batchImageDigests.find(f.get());
    if (!f->dirty || was == batchImageDigests.end() || !f->pending.empty() || !f->pendingNew.empty()) continue;
    CdxStamp st;
    std::uint32_t onDisk = 0, c = count;
    if (!readCdxStamp(*f->file, &st).ok() || !st.valid || !readCdxCounter(*f->file, &onDisk).ok() ||
        onDisk != f->counter || !readHeaderCount(&c).ok() || c != count || st.recCount != count)
      continue;
    std::uint32_t others = st.changing - (f->marked && st.changing > 0 ? 1 : 0);
    if (others != 0 || ordersDigest(*f) != was->second) continue;
    TableFingerprint now;
    if (!tableFingerprint(&now).ok()) continue;
    st.table = now;
    st.changing = 0;
    if (!writeCdxStamp(*f->file, st).ok()) continue;  // written in full below instead
    f->stamped = now;
    if (f->marked) (void)f->file->unlock(fmt::kChangingLockOffset, 1);
    f->marked = false;
    f->dirty = false;
  }
}

std::string Table::dumpIndexFile(int number) {
  Impl& t = *impl_;
  if (!t.isOpen || number < 1 || number > orderCount()) return {};
  flush();
  IndexFileState& f = *t.orders[number - 1]->file;
  return dumpCdx(*f.file, f.path);
}

}  // namespace rdd
