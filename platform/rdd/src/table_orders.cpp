// Order operations: the open orders and their names, creating and deleting orders, and batches
// of order changes that write each index file once, at their end.
#include <algorithm>
#include <functional>
#include <utility>

#include "table_impl.h"

namespace rdd {

std::vector<Order*> Table::Impl::ordersOf(const IndexFileState& f) const {
  std::vector<Order*> of;
  for (const auto& o : orders)
    if (o->file == &f) of.push_back(o.get());
  return of;
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
  if (t.orderBatch && t.batchTrusted.count(f)) {
    t.batchDeleted.push_back(std::move(t.orders[number - 1]));
  } else if (const Order& o = *t.orders[number - 1]; t.orderBatch && !o.forBlock) {
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
  if (!f.changedBy) f.changedBy = op;
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
  if (t.batchFailed || !t.buildPendingOrders()) {
    t.abandonBatch();
  } else {
    t.keepImagesTheBatchLeftAlone();
    (void)t.flushIndexes("ORDCREATE");
  }
  t.orderBatch = false;
  t.batchFailed = false;
  t.deletedSequences.clear();
  t.batchImageDigests.clear();
  t.batchTrusted.clear();
  t.batchDeleted.clear();
  t.batchReused.clear();
  t.batchMemory.reset();
  t.unlockHeader();
  if (std::exchange(t.topWhenBatchEnds, false)) goTop();
}

// A batch in which something failed (and was raised) is not written: the files keep the orders
// they had, and since their stamps still count this opener, the next open builds those orders
// again over the records. This opener writes them no more.
void Table::Impl::abandonBatch() {
  for (auto& f : indexFiles) {
    if (!f->dirty) continue;
    f->abandoned = true;
    f->dirty = false;
    f->clearPending();
  }
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
  std::string path = t.indexPathOf(indexFile.empty() ? t.fileName.substr(0, t.fileName.find_last_of('.')) : indexFile);
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
  // Within a batch, an order deleted and created again over records whose keys did not change
  // takes over its entries: building them again would find the same.
  if (std::unique_ptr<Order> kept = t.takeKeptOrder(*o)) {
    o->index = std::move(kept->index);
    t.batchReused.push_back(o.get());
  } else if (!t.buildNewOrder(*o, tagName, op)) {
    return;
  }
  const bool pending = o->buildPending;
  t.controlling = t.placeNewOrder(std::move(o), f, op) + 1;
  if (pending)
    t.topWhenBatchEnds = true;
  else
    goTop();
}

void Table::Impl::buildWithTheBatch(Order& o) {
  o.buildPending = true;
  o.index.readOnFirstUse([this](KeyIndex&) { (void)buildPendingOrders(); });  // a failure was raised
}

bool Table::Impl::buildPendingOrders() {
  std::vector<Order*> pending;
  std::string names;
  for (auto& o : orders)
    if (o->buildPending) {
      o->buildPending = false;
      pending.push_back(o.get());
      names += (names.empty() ? "" : ", ") + o->tag;
    }
  if (pending.empty()) return true;
  Status s = buildOrders(pending);
  if (s.ok()) return true;
  for (Order* o : pending) buildWithTheBatch(*o);
  raise(rt::EG_READ, "cannot read the records of " + fullPath + " to build order " + names + ": " + s.message,
        "ORDCREATE", s.osCode);
  return false;
}

bool Table::Impl::buildNewOrder(Order& o, const std::string& tagName, const char* op) {
  Status s;
  if (o.keyFields.empty()) {
    // Key length from the key of the first record (or of a blank one).
    std::string sample(recordLen, ' ');
    if (count > 0) s = readRecordInto(1, sample.data());
    if (!s.ok()) {
      raise(rt::EG_READ, "cannot read record 1 of " + fullPath + " for the key length of order " + tagName + ": " + s.message,
            op, s.osCode);
      return false;
    }
    o.keyLen = 0;  // natural length of the sample key
    o.keyLen = static_cast<int>(std::max<std::size_t>(1, keyOf(o, sample.data()).size()));
  }
  if (o.keyLen > fmt::kMaxKeyLen) {
    raise(rt::EG_LIMIT, "key of order " + tagName + " is " + std::to_string(o.keyLen) + " bytes; at most 240 allowed", op);
    return false;
  }
  o.index = KeyIndex(o.keyLen, options.memoryBlockEntries);
  if (orderBatch && !o.keySpans.empty() && !o.forBlock) {
    buildWithTheBatch(o);
    return true;
  }
  s = buildOrder(o);
  if (!s.ok()) {
    raise(rt::EG_READ, "cannot read the records of " + fullPath + " to build order " + tagName + ": " + s.message, op,
          s.osCode);
    return false;
  }
  return true;
}

// Replaces a same-named order of that file; the new order goes after the file's last order.
int Table::Impl::placeNewOrder(std::unique_ptr<Order> o, IndexFileState* f, const char* op) {
  for (std::size_t i = 0; i < orders.size(); ++i)
    if (orders[i]->file == f && orders[i]->tag == o->tag) {
      orders.erase(orders.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  std::size_t insertAt = orders.size();
  for (std::size_t i = 0; i < orders.size(); ++i)
    if (orders[i]->file == f) insertAt = i + 1;
  bool fileHasOrders = std::any_of(orders.begin(), orders.end(), [&](auto& x) { return x->file == f; });
  if (!fileHasOrders) {
    // Files keep their opening order: place after the orders of every file opened before it.
    insertAt = 0;
    for (auto& x : indexFiles) {
      if (x.get() == f) break;
      for (std::size_t i = 0; i < orders.size(); ++i)
        if (orders[i]->file == x.get()) insertAt = std::max(insertAt, i + 1);
    }
  }
  orders.insert(orders.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(o));
  refreshFieldInKey();
  orderChanged(*f, op);
  return static_cast<int>(insertAt);
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

std::string Table::Impl::definitionOf(const Order& o) {
  return o.tag + '\0' + o.keyExpr + '\0' + o.forExpr + '\0' + std::to_string(o.keyLen) + (o.unique ? "U" : "-");
}

std::vector<std::string> Table::Impl::definitionsIn(const IndexFileState& f) const {
  std::vector<std::string> definitions;
  for (const auto& o : orders)
    if (o->file == &f) definitions.push_back(definitionOf(*o));
  return definitions;
}

void Table::Impl::noteImagesAtBatchStart() {
  batchImageDigests.clear();
  batchTrusted.clear();
  if (writeFailed || options.readOnly) return;
  for (auto& f : indexFiles) {
    if (!imageHeldAsOnDisk(*f)) continue;
    CdxStamp st;
    std::uint32_t c = 0;
    bool trusted = readCdxStamp(*f->file, &st).ok() && st.valid && st.changing == 0 && readHeaderCount(&c).ok() &&
                   c == count && st.recCount == count;
    // A table that moved from its stamp while this opener wrote no record was written by another
    // program, maybe in a key: its orders are built again.
    TableFingerprint now;
    if (trusted && f->recordWritesAtStamp == recordWrites)
      trusted = st.table.known() && tableFingerprint(&now).ok() && now == st.table;
    if (trusted)
      batchTrusted[f.get()] = definitionsIn(*f);
    else
      batchImageDigests[f.get()] = ordersDigest(*f);
  }
}

// Only an order whose key is a plain run of character fields: its length follows from the
// structure, as a build would find it, where a computed key's length comes from a record.
std::unique_ptr<Order> Table::Impl::takeKeptOrder(const Order& o) {
  if (!orderBatch || !batchTrusted.count(o.file) || o.keyFields.empty()) return nullptr;
  const std::string wanted = definitionOf(o);
  for (auto it = batchDeleted.begin(); it != batchDeleted.end(); ++it)
    if ((*it)->file == o.file && definitionOf(**it) == wanted) {
      std::unique_ptr<Order> kept = std::move(*it);
      batchDeleted.erase(it);
      return kept;
    }
  return nullptr;
}

// A batch that deleted and built orders again without changing a single entry (a rebuild over
// records whose keys did not change) leaves the file's image as it is: the stamp takes the table
// as it is now and lets go of this opener's count; the pages are not written again.
void Table::Impl::keepImagesTheBatchLeftAlone() {
  if (writeFailed) return;
  for (auto& f : indexFiles) {
    if (!f->dirty || !f->pending.empty() || !f->pendingNew.empty()) continue;
    auto trusted = batchTrusted.find(f.get());
    auto was = batchImageDigests.find(f.get());
    bool same = false;
    if (trusted != batchTrusted.end()) {
      same = definitionsIn(*f) == trusted->second &&
             std::all_of(orders.begin(), orders.end(), [&](auto& o) {
               return o->file != f.get() || std::find(batchReused.begin(), batchReused.end(), o.get()) != batchReused.end();
             });
    } else if (was != batchImageDigests.end()) {
      same = true;  // when the digests agree, below
    }
    if (!same) continue;
    CdxStamp st;
    std::uint32_t onDisk = 0, c = count;
    if (!readCdxStamp(*f->file, &st).ok() || !st.valid || !readCdxCounter(*f->file, &onDisk).ok() ||
        onDisk != f->counter || !readHeaderCount(&c).ok() || c != count || st.recCount != count)
      continue;
    std::uint32_t others = st.changing - (f->marked && st.changing > 0 ? 1 : 0);
    if (others != 0 || (trusted == batchTrusted.end() && ordersDigest(*f) != was->second)) continue;
    TableFingerprint now;
    if (!tableFingerprint(&now).ok()) continue;
    st.table = now;
    st.changing = 0;
    if (!writeCdxStamp(*f->file, st).ok()) continue;  // written in full below instead
    noteStamped(*f, now);
    if (f->marked) unlockByte(*f->file, fmt::kChangingLockOffset);
    f->marked = false;
    f->dirty = false;
  }
}

}  // namespace rdd
