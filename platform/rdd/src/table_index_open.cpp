// Index files as they are found: opening one and reading its orders, telling from its stamp
// whether it agrees with the table, rebuilding it when it does not, and counting this opener in
// the stamp before its first unwritten change.
#include <algorithm>

#include "table_impl.h"

namespace rdd {

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

Status Table::Impl::loadIndexImage(IndexFileState& f, CdxImage& img, std::vector<std::unique_ptr<Order>>* out,
                                   std::string* damage, bool readLater) {
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
      if (len != o->keyLen) {
        std::string what = "index file " + f.path + ": order " + o->tag + " has key length " +
                           std::to_string(o->keyLen) + " but its fields make " + std::to_string(len);
        if (!damage) return Status::error(StatusKind::Corruption, what);
        // At open: the order is taken with the length its fields make, to be built again.
        *damage = what;
        o->keyLen = len;
        o->index = KeyIndex(len, options.memoryBlockEntries);
        out->push_back(std::move(o));
        continue;
      }
    }
    if (readLater) o->index.readOnFirstUse([this](KeyIndex& index) { readOrderEntries(index); });
    else o->index.assignSorted(std::move(tag.flat), tag.count);
    out->push_back(std::move(o));
  }
  return Status::okay();
}

std::string Table::Impl::indexPathOf(std::string name) const {
  if (!hasExtension(name)) name += Table::indexExt();
  return (!name.empty() && name[0] == '/') ? name : directory + name;
}

bool Table::indexFileExists(const std::string& fileSpec) const {
  return impl_->isOpen && impl_->env->exists(impl_->indexPathOf(fileSpec));
}

bool Table::openIndex(const std::string& fileSpec) {
  Impl& t = *impl_;
  if (!t.isOpen) return false;
  const char* op = "ORDLISTADD";
  t.settle(op);
  std::string path = t.indexPathOf(fileSpec);
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
    s = t.takeInOthersAppends();
  }
  // Only the tag definitions are read now: each order's pages are read at its first use, and
  // checked then (readOrderEntries).
  if (s.ok()) {
    s = readCdxTags(*f->file, path, &img);
  }
  // A damaged file is never trusted: it is taken without orders, and the orders created into it
  // replace it.
  std::string damage;
  if (s.kind == StatusKind::Corruption) {
    damage = s.message;
    img = CdxImage{};
    s = Status::okay();
  }
  if (locked) t.unlockHeader();
  std::vector<std::unique_ptr<Order>> loaded;
  if (s.ok()) s = t.loadIndexImage(*f, img, &loaded, &damage, damage.empty());
  if (!s.ok()) {
    if (s.kind != StatusKind::InvalidArgument)
      t.raise(s.kind == StatusKind::Corruption ? rt::EG_CORRUPTION : rt::EG_READ, s.message, op, s.osCode, false, path);
    return false;
  }
  f->counter = img.counter;
  f->regionStart = damage.empty() ? img.regionStart : 0;  // nothing of a damaged file is kept
  f->regionEnd = damage.empty() ? img.regionEnd : 0;
  f->sizedBytes = f->regionEnd - f->regionStart;
  f->sizedRecords = std::max<std::uint32_t>(t.count, 1);
  for (auto& o : loaded) t.orders.push_back(std::move(o));
  IndexFileState& fs = *f;
  t.indexFiles.push_back(std::move(f));
  t.refreshFieldInKey();
  bool stale = !damage.empty() && !loaded.empty();
  std::string staleness;
  if (damage.empty()) s = t.checkStale(fs, &stale, &staleness);
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
    Status repair = t.writeFailed ? Status::okay() : t.writeBroke(s);
    t.raise(rt::EG_WRITE, "index file " + path + " was rebuilt but could not be written: " + s.message + Impl::repairNote(repair),
            op, s.osCode, false, path);
    return true;
  }
  // Either repair loses nothing (the records hold every key): the log is told, the caller's
  // operation goes on as if the file had been whole.
  if (!damage.empty()) {
    std::string done = loaded.empty() ? "it holds no usable order; its orders have to be created again"
                                      : "its orders were rebuilt from the table";
    t.indexDamageReported = true;
    rt::logWarning(rt::makeError(rt::EG_CORRUPTION, kSubsystem, damage + "; " + done, op, path));
  } else if (built) {
    rt::logWarning(rt::makeError(rt::EG_CORRUPTION, kSubsystem,
                                 "index file " + path + " did not describe the table (" + staleness +
                                     "); its orders were rebuilt from the table",
                                 op, path));
  }
  return true;
}

bool Table::indexDamageReported() const { return impl_->indexDamageReported; }

// An index file whose stamp says that an opener changed the table and stopped before writing
// the file, or that was written for another table file than the one there now (another record
// count, size, modification time or hash: the table was changed without it), does not agree with
// the table.
Status Table::Impl::checkStale(IndexFileState& f, bool* staleOut, std::string* why) {
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
  if (s.ok() && st.beingWritten) {
    stale = true;
    *why = "a program stopped while it wrote it";
  } else if (s.ok() && st.valid) {
    if (st.changing > 0) {
      stale = !changersAlive(f);
      *why = "a program stopped before writing its changes to it";
    } else {
      // Nobody is changing the table: it must be the one the trees were written for, as it was.
      TableFingerprint now;
      stale = st.recCount != c;
      *why = "it was written for " + std::to_string(st.recCount) + " records, the table holds " + std::to_string(c);
      if (!stale && st.table.known()) {
        s = tableFingerprint(&now);
        stale = s.ok() && !(now == st.table);
        *why = "the table was written without it since";
      }
      if (!stale) noteStamped(f, st.table);
    }
  }
  if (locked) unlockHeader();
  *staleOut = stale;
  return s;
}

Status Table::Impl::rebuildFile(IndexFileState& f, bool* built) {
  Status s = buildOrders(ordersOf(f));
  if (!s.ok()) return s;
  *built = true;
  cursorGen = ~0ull;
  if (options.readOnly) return Status::okay();
  f.dirty = true;
  return writeIndexFile(f, true);
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
  if (s.ok() && (st.beingWritten || (st.valid && st.changing > 0 && !changersAlive(f)))) {
    // Someone stopped without writing changes, or while writing them: what we hold came from that
    // stale image.
    s = buildOrders(ordersOf(f));
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
    else unlockByte(*f.file, fmt::kChangingLockOffset);
  }
  if (locked) unlockHeader();
  return s;
}

bool Table::Impl::markIndexesChanging(const char* operation) {
  batchTrusted.clear();  // orders deleted in a batch miss this change: none is taken over
  for (auto& f : indexFiles) {
    if (f->marked) continue;
    bool used = std::any_of(orders.begin(), orders.end(), [&](auto& o) { return o->file == f.get(); });
    if (!used) continue;
    Status s = markChanging(*f);
    if (!s.ok()) {
      // The stamp is what tells the next open about a stop before the index is written: without
      // it no change may be made.
      Status repair = writeBroke(s);
      raise(rt::EG_WRITE, "cannot mark index file " + f->path + " as being changed: " + s.message + repairNote(repair),
            operation, s.osCode, false, f->path);
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
  unlockByte(*f.file, fmt::kChangingLockOffset);
  return false;
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
    if (f->dirty || f->marked || f->abandoned || f->regionStart == 0) continue;
    TableFingerprint now;
    if (!tableFingerprint(&now).ok() || now == f->stamped) continue;
    if (!lockHeader().ok()) continue;
    // Only a stamp that still describes an index in step with the table is renewed; an order that
    // another program's write left behind was built again meanwhile, and its image is written.
    CdxStamp st;
    std::uint32_t c = count;
    if (!f->dirty && readCdxStamp(*f->file, &st).ok() && st.valid && st.changing == 0 && readHeaderCount(&c).ok() &&
        st.recCount == c && tableFingerprint(&now).ok()) {
      st.table = now;
      if (writeCdxStamp(*f->file, st).ok()) noteStamped(*f, now);
    }
    unlockHeader();
    if (f->dirty) {
      Status s = writeIndexFile(*f);
      if (!s.ok()) reportWriteFailure(s, "cannot write index file " + f->path, "ORDLISTREBUILD");
    }
  }
}

}  // namespace rdd
