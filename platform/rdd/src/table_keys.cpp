// Keys of the open orders: the key and condition of a record under each order, and the upkeep
// that brings every order in step with a committed record.
#include <algorithm>
#include <cstring>

#include "table_impl.h"

namespace rdd {

namespace {

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
    if (!f.changedBy) f.changedBy = recordChangedBy;
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

}  // namespace rdd
