// Building an order from every record of the table: the entries read in large chunks straight
// into the leaves they will form, then sorted there, or written into their places in the sequence
// the order had before a batch deleted it.
#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>

#include "side_by_side.h"
#include "table_impl.h"

namespace rdd {

namespace {

// The memory of a new order's leaves is readied this many entries at a time, as they are read.
constexpr std::size_t kEntriesReadied = 8192;

// Entries sorted by (key bytes, record number): integer words of 24 bytes at a time, sorted with
// std::sort; runs that tie on those bytes are sorted again on the next 24, and so on. An item
// names its entry by its place in `entries`.
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
std::size_t sharedPrefix(const SortItem* items, std::size_t n, char* const* entries, std::size_t es, std::size_t at) {
  const char* first = entries[items[0].idx];
  std::size_t end = es;
  for (std::size_t i = 1; i < n && end > at; ++i) {
    const char* p = entries[items[i].idx];
    std::size_t k = at;
    while (k + 8 <= end && std::memcmp(first + k, p + k, 8) == 0) k += 8;
    while (k < end && first[k] == p[k]) ++k;
    end = k;
  }
  return end;
}

void sortRun(SortItem* items, std::size_t n, char* const* entries, std::size_t es, std::size_t at) {
  for (std::size_t i = 0; i < n; ++i) {
    const char* p = entries[items[i].idx];
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
    if (j - i > 1) sortRun(items + i, j - i, entries, es, sharedPrefix(items + i, j - i, entries, es, at + 24));
    i = j;
  }
}

// Moves the `n` entries at `slots` into sorted order in place (items[i].idx names the slot whose
// entry goes i-th), one cycle of the permutation at a time through one spare entry.
void arrangeInOrder(char* const* slots, SortItem* items, std::size_t n, std::size_t es, char* spare) {
  for (std::size_t start = 0; start < n; ++start) {
    if (items[start].idx == start) continue;
    std::memcpy(spare, slots[start], es);
    for (std::size_t to = start;;) {
      const std::size_t from = items[to].idx;
      items[to].idx = static_cast<std::uint32_t>(to);
      std::memcpy(slots[to], from == start ? spare : slots[from], es);
      if (from == start) break;
      to = from;
    }
  }
}

// Rows arrive mostly in key order: a load appends class after class, each class's members in an
// order of their own. The entries fall into pieces, each wholly above every piece before it, and
// each piece is sorted on its own, where it lies: entries in key order cost one comparison each,
// and a class's members are sorted among themselves only. The pieces are found in one pass: an
// entry above the highest so far starts a piece; one below it joins the last piece, and every
// piece before whose highest lies above it too.
void sortEntriesInPlace(char* const* slots, std::size_t n, std::size_t es) {
  auto below = [es](const char* a, const char* b) { return std::memcmp(a, b, es) < 0; };
  struct Piece {
    std::uint32_t start, highest;  // where it starts, which of its entries is the highest
  };
  std::vector<Piece> pieces;
  for (std::size_t i = 0; i < n; ++i) {
    if (pieces.empty() || below(slots[pieces.back().highest], slots[i])) {
      pieces.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i)});
      continue;
    }
    const std::uint32_t highest = pieces.back().highest;
    while (pieces.size() > 1 && below(slots[i], slots[pieces[pieces.size() - 2].highest])) pieces.pop_back();
    pieces.back().highest = highest;
  }
  // The pieces are sorted side by side in two shares of about equal entries, the second from the
  // first piece past the middle; each share has its own working space and moves entries within
  // its own pieces only.
  std::size_t middle = 1;
  while (middle < pieces.size() && pieces[middle].start < n / 2) ++middle;
  const std::size_t shareStart[] = {0, std::min(middle, pieces.size()), pieces.size()};
  runSideBySide(2, [&](std::size_t share) {
    std::vector<SortItem> items;
    std::string spare(es, '\0');
    for (std::size_t p = shareStart[share]; p < shareStart[share + 1]; ++p) {
      const std::size_t start = pieces[p].start, len = (p + 1 < pieces.size() ? pieces[p + 1].start : n) - start;
      if (len < 2) continue;
      items.resize(len);
      for (std::size_t k = 0; k < len; ++k) items[k].idx = static_cast<std::uint32_t>(k);
      sortRun(items.data(), len, slots + start, es, sharedPrefix(items.data(), len, slots + start, es, 0));
      arrangeInOrder(slots + start, items.data(), len, es, spare.data());
    }
  });
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

constexpr std::uint32_t kChunkBytes = 1u << 20;

// Reads records [r, r + k) into `buf`; the table's pages are let go behind the read, so a scan
// of a large table does not keep it resident.
Status readRecords(Table::Impl& t, std::uint32_t r, std::uint32_t k, std::vector<char>& buf) {
  const std::size_t bytes = static_cast<std::size_t>(k) * t.recordLen;
  if (buf.size() < bytes) buf.resize(bytes);
  const std::uint64_t at = t.headerLen + static_cast<std::uint64_t>(r) * t.recordLen;
  std::size_t got = 0;
  Status s = t.file->read(at, buf.data(), bytes, &got);
  if (!s.ok()) return s;
  if (got != bytes) return Status::error(StatusKind::Corruption, "the table ends before record " + std::to_string(r + k));
  t.file->releaseView(at, got);
  return Status::okay();
}

// Hands every record of the table, in record order, to visit(record, recno), reading about a
// megabyte of records at a time.
template <class Visit>
Status forEachRecord(Table::Impl& t, Visit&& visit) {
  const std::uint32_t chunk = std::max<std::uint32_t>(1, kChunkBytes / t.recordLen);
  std::vector<char> buf;
  for (std::uint32_t r = 0; r < t.count; r += chunk) {
    const std::uint32_t k = std::min(chunk, t.count - r);
    Status s = readRecords(t, r, k, buf);
    if (!s.ok()) return s;
    for (std::uint32_t j = 0; j < k; ++j) visit(buf.data() + static_cast<std::size_t>(j) * t.recordLen, r + j + 1);
  }
  return Status::okay();
}

// Every record of the table, in record order, visited by `visitors` helpers at once, each on a
// thread of its own, while this thread reads the next chunk: visit(v, records, first, n) hands
// visitor v the n records of a chunk, the first numbered `first`. For visits that touch memory
// only (no run-time call, no file).
//
// Each of the two chunk buffers is free (the reader may fill it) or full (the visitors read it);
// the reader fills them in turn, and a buffer is free again once every visitor is done with it.
// `ended`: the reader read its last chunk or failed; `visitorGone`: a visitor stopped (the reader
// then stops too, instead of waiting for a free buffer).
template <class Visit>
Status forEachChunkBesideReads(Table::Impl& t, std::size_t visitors, Visit&& visit) {
  const std::uint32_t chunk = std::max<std::uint32_t>(1, kChunkBytes / t.recordLen);
  struct Chunk {
    std::vector<char> bytes;
    std::uint32_t first = 0, records = 0;
    std::size_t turn = 0, visitorsLeft = 0;  // which chunk of the scan it holds; visitors still at it
    bool full = false;
  } chunks[2];
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false, visitorGone = false;
  auto visitAll = [&](std::size_t v) {
    struct Gone {
      std::mutex& mutex;
      std::condition_variable& changed;
      bool& visitorGone;
      ~Gone() {
        std::lock_guard<std::mutex> hold(mutex);
        visitorGone = true;
        changed.notify_all();
      }
    } gone{mutex, changed, visitorGone};
    for (std::size_t turn = 0;; ++turn) {
      Chunk& c = chunks[turn % 2];
      {
        std::unique_lock<std::mutex> hold(mutex);
        changed.wait(hold, [&] { return (c.full && c.turn == turn) || ended; });
        if (!c.full || c.turn != turn) return;
      }
      visit(v, c.bytes.data(), c.first, c.records);
      std::lock_guard<std::mutex> hold(mutex);
      if (--c.visitorsLeft == 0) c.full = false;
      changed.notify_all();
    }
  };
  Status s;
  auto readAll = [&] {
    for (std::uint32_t r = 0, turn = 0; r < t.count && s.ok(); r += chunk, ++turn) {
      Chunk& c = chunks[turn % 2];
      {
        std::unique_lock<std::mutex> hold(mutex);
        changed.wait(hold, [&] { return !c.full || visitorGone; });
        if (visitorGone) break;
      }
      const std::uint32_t k = std::min(chunk, t.count - r);
      s = readRecords(t, r, k, c.bytes);
      if (!s.ok()) break;
      std::lock_guard<std::mutex> hold(mutex);
      c.first = r;
      c.records = k;
      c.turn = turn;
      c.visitorsLeft = visitors;
      c.full = true;
      changed.notify_all();
    }
    std::lock_guard<std::mutex> hold(mutex);
    ended = true;
    changed.notify_all();
  };
  runSideBySide(visitors, visitAll, readAll);
  return s;
}

// One order being built: its entries read straight into the leaves they form, then sorted where
// they lie.
struct OrderBuild {
  OrderBuild(Table::Impl& table, Order& o) : t(table), order(o), leaves(o.index.leafBlock(table.count)), slots(table.count) {
    for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = leaves.slot(i);
  }
  void take(const char* record, std::uint32_t r) {
    if (n == ready) ready = leaves.populate(n, n + kEntriesReadied);
    if (t.entryInto(order, record, r, slots[n])) ++n;
  }
  void sort() { sortEntriesInPlace(slots.data(), n, static_cast<std::size_t>(order.keyLen) + 4); }
  void adopt() { order.index.adoptLeaves(std::move(leaves), n); }

  Table::Impl& t;
  Order& order;
  KeyIndex::LeafBlock leaves;
  std::vector<char*> slots;
  std::size_t n = 0, ready = 0;
};

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

Status Table::Impl::buildOrder(Order& o) { return buildOrders({&o}); }

Status Table::Impl::buildOrders(const std::vector<Order*>& list) {
  Status s = flushAppends();
  if (!s.ok()) return s;
  s = takeInOthersAppends();
  if (!s.ok()) return s;
  std::vector<Order*> scanned;
  for (Order* o : list) {
    if (const std::vector<std::uint32_t>* sequence = sequenceFor(*o); sequence && buildInSequence(*o, *sequence, &s))
      continue;
    if (!s.ok()) return s;
    scanned.push_back(o);
  }
  if (scanned.empty()) return s;
  KeyIndex::releaseHeld();  // the leaves below are blocks of their own, which those pages cannot serve
  // Orders whose keys are plain fields with no condition are copied from memory only: one scan
  // feeds them all, each on a helper beside the reads. The others take a scan each.
  std::vector<std::unique_ptr<OrderBuild>> builds, beside;
  for (Order* o : scanned)
    (o->keySpans.empty() || o->forBlock ? builds : beside).push_back(std::make_unique<OrderBuild>(*this, *o));
  auto scanEach = [&](std::vector<std::unique_ptr<OrderBuild>>& each) {
    Status read;
    for (auto& b : each)
      if (read.ok()) read = forEachRecord(*this, [&](const char* record, std::uint32_t r) { b->take(record, r); });
    return read;
  };
  s = scanEach(builds);
  if (!s.ok()) return s;
  if (!beside.empty()) {
    try {
      s = forEachChunkBesideReads(*this, beside.size(), [&](std::size_t v, const char* records, std::uint32_t first, std::uint32_t n) {
        for (std::uint32_t j = 0; j < n; ++j) beside[v]->take(records + static_cast<std::size_t>(j) * recordLen, first + j + 1);
      });
    } catch (const std::system_error&) {  // no thread to be had: each order takes a scan here
      for (auto& b : beside) b = std::make_unique<OrderBuild>(*this, b->order);
      s = scanEach(beside);
    }
  }
  if (!s.ok()) return s;
  for (auto& b : beside) builds.push_back(std::move(b));
  runSideBySide(builds.size(), [&](std::size_t k) { builds[k]->sort(); });
  for (auto& b : builds) b->adopt();
  return Status::okay();
}

Status Table::Impl::checkOrdersAgainstRecords(std::vector<Order*>* wrong) {
  Status s = flushAppends();
  if (!s.ok()) return s;
  deletedMap.resize(count, 0);
  // Per order, from one walk of it: the entry it holds for each record (a view into its leaves).
  // One pass over the records then compares what each gives; no look-up, no sort. A unique order
  // holds one entry per key, not one per record: it is simply built again.
  std::vector<std::vector<const char*>> held(orders.size());
  std::vector<char> differs(orders.size(), 0);
  for (std::size_t i = 0; i < orders.size(); ++i) {
    const Order& o = *orders[i];
    if ((differs[i] = o.unique)) continue;
    held[i].assign(static_cast<std::size_t>(count) + 1, nullptr);
    o.index.forEach([&](std::string_view e) {
      const std::uint32_t r = fmt::be32(reinterpret_cast<const std::uint8_t*>(e.data()) + o.keyLen);
      if (r < 1 || r > count || held[i][r]) differs[i] = 1;
      else held[i][r] = e.data();
    });
  }
  std::string entry;
  s = forEachRecord(*this, [&](const char* record, std::uint32_t r) {
    deletedMap[r - 1] = record[0] == fmt::kDeletedFlag;
    // A record whose key change is not committed yet is held in the orders as it was before it.
    if (r == recno && recDirty && keysTouched) {
      if (appendedUncommitted) return;
      if (origRec) record = origRec->data();
    }
    for (std::size_t i = 0; i < orders.size(); ++i) {
      if (differs[i]) continue;
      const Order& o = *orders[i];
      const std::size_t n = static_cast<std::size_t>(o.keyLen) + 4;
      entry.resize(n);
      const bool gives = entryInto(o, record, r, entry.data());
      const char* holds = held[i][r];
      differs[i] = gives != (holds != nullptr) || (gives && std::memcmp(holds, entry.data(), n) != 0);
    }
  });
  if (!s.ok()) return s;
  for (std::size_t i = 0; i < orders.size(); ++i)
    if (differs[i]) wrong->push_back(orders[i].get());
  return Status::okay();
}

}  // namespace rdd
