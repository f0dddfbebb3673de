// The sizes the two formats address, kept before they are passed: a table file ends before its
// lock bytes, just short of 2 GiB, and every index page lies at a 32-bit offset. An append that
// would take either file past its limit is refused before any of it is written; the records
// appended before it are written whole, with their index, and the table then takes no further
// write, so a long load stops there with both files as other programs read them.
#include <algorithm>
#include <bit>
#include <cerrno>

#include "table_impl.h"

namespace rdd {
namespace {

std::uint64_t within(std::uint64_t formatLimit, std::uint64_t set) {
  return set == 0 ? formatLimit : std::min(formatLimit, set);
}

// The most pages `added` entries can add to a tree of `entries` whose leaf layout stays the same.
// Leaves are packed greedily, which packs a sequence into the fewest leaves there are (the tail
// of a full leaf fits a page alone: its first key loses no more than the bytes it shared). An
// entry put into a leaf at worst splits it into the part before it, itself and the part after,
// so it adds at most two leaves; each interior level takes at most half the nodes below it plus
// one, so the levels above add at most as many again, and one each.
std::uint64_t pagesAddedAtMost(std::uint64_t added, std::uint64_t entries) {
  const auto levels = static_cast<std::uint64_t>(std::bit_width(entries + 2 * added + 1)) + 1;
  return 4 * added + levels;
}

// An exact sizing that leaves less than this share of the limit free ends the appends: sizing
// again and again for the last few records would cost a whole image each time.
constexpr std::uint64_t kLastShare = 32;

}  // namespace

std::uint64_t Table::Impl::tableLimit() const { return within(fmt::kMaxTableBytes, env->limits().tableBytes); }
std::uint64_t Table::Impl::indexLimit() const { return within(fmt::kMaxIndexBytes, env->limits().indexBytes); }

std::string Table::Impl::indexFullFor(std::uint32_t records, std::string* file) {
  const std::uint64_t limit = indexLimit();
  for (auto& state : indexFiles) {
    IndexFileState& f = *state;
    // The most the next image can take with `added` more entries in each order of f; false when
    // the leaf layout the image was sized with no longer holds (the record numbers grew wider).
    auto mostBytes = [&](std::uint64_t added, std::uint64_t* bytes) {
      bool sameLayout = true;
      *bytes = f.sizedBytes;
      for (auto& o : orders) {
        if (o->file != &f) continue;
        *bytes += pagesAddedAtMost(added, o->index.size()) * fmt::kPageSize;
        sameLayout = sameLayout && leafLayout(o->keyLen, f.sizedRecords).N == leafLayout(o->keyLen, records).N;
      }
      return sameLayout;
    };
    const auto ordersOfF =
        static_cast<std::uint64_t>(std::count_if(orders.begin(), orders.end(), [&](auto& o) { return o->file == &f; }));
    if (ordersOfF == 0) continue;
    const std::uint64_t added = f.addedSinceSized + f.pending.size() + 1;
    const IndexFileState::Headroom& known = f.headroom;
    if (known.sizedBytes == f.sizedBytes && known.sizedRecords == f.sizedRecords && added <= known.added &&
        records <= known.records)
      continue;
    std::uint64_t bytes = 0;
    // The same margin decides with the bound as with the exact size, so that a table stopped at its
    // limit stays stopped when it is opened again.
    const std::uint64_t room = limit - limit / kLastShare;
    if (mostBytes(added, &bytes) && fmt::kTreeHeaderSize + bytes <= room) {
      // So many more records surely pass the same bound: each adds an entry to every order, which
      // adds at most four pages, and its levels at most two (their count grows by one a doubling);
      // the record numbers keep their width.
      const std::uint64_t more = (room - fmt::kTreeHeaderSize - bytes) / (6 * fmt::kPageSize * ordersOfF);
      const std::uint64_t sameWidth = (std::uint64_t{1} << std::bit_width(records)) - 1;
      f.headroom = {f.sizedBytes, f.sizedRecords, added + more,
                    static_cast<std::uint32_t>(std::min<std::uint64_t>({records + more, sameWidth, UINT32_MAX}))};
      continue;
    }
    // Near the limit: the image as the orders stand now is sized exactly.
    f.sizedBytes = directoryBytesAtMost(ordersOfF);
    for (auto& o : orders)
      if (o->file == &f) f.sizedBytes += fmt::kTreeHeaderSize + treePagesOf(*o, records) * fmt::kPageSize;
    f.sizedRecords = records;
    f.addedSinceSized = 0;
    mostBytes(f.pending.size() + 1, &bytes);  // with the layout just sized
    const std::uint64_t end = fmt::kTreeHeaderSize + bytes;
    if (end <= room) continue;
    *file = f.path;
    return "index file " + f.path + " is full: it may take at most " + std::to_string(limit) +
           " bytes, and one more record could take its next image past them; the " + std::to_string(count) +
           " records of " + fullPath + " are stored and indexed, no more are appended";
  }
  return {};
}

bool Table::Impl::roomForOneMoreRecord(const char* operation) {
  const std::uint64_t limit = tableLimit();
  const std::uint64_t fit = limit > headerLen ? (limit - headerLen - 1) / recordLen : 0;  // the end mark is 1 byte
  if (count >= fit) {
    stopAtLimit("table " + fullPath + " is full: it may take at most " + std::to_string(limit) + " bytes, room for " +
                    std::to_string(fit) + " records of " + std::to_string(recordLen) + " bytes; it holds " +
                    std::to_string(count) + " records, no more are appended",
                fullPath, operation);
    return false;
  }
  std::string indexFile;
  if (const std::string full = indexFullFor(count + 1, &indexFile); !full.empty()) {
    stopAtLimit(full, indexFile, operation);
    return false;
  }
  for (auto& f : indexFiles) ++f->addedSinceSized;
  return true;
}

namespace {

// How many of an order's last leaves are remembered where they begin.
constexpr std::size_t kLeavesRemembered = 64;

// The beginnings of the last leaves laid out, kept in a ring, so that remembering one costs no
// allocation once the ring is full.
class LeafStartRing {
 public:
  void add(std::size_t leaf, std::string_view first) {
    if (ring_.size() < kLeavesRemembered) ring_.emplace_back();
    auto& slot = ring_[added_++ % kLeavesRemembered];
    slot.first = leaf;
    slot.second.assign(first);
  }
  // Appends them, in leaf order, to `out`, keeping its last kLeavesRemembered.
  void appendTo(std::vector<std::pair<std::size_t, std::string>>& out) {
    for (std::size_t i = 0; i < ring_.size(); ++i) out.push_back(std::move(ring_[(added_ + i) % ring_.size()]));
    if (out.size() > kLeavesRemembered) out.erase(out.begin(), out.end() - kLeavesRemembered);
  }

 private:
  std::vector<std::pair<std::size_t, std::string>> ring_;
  std::size_t added_ = 0;
};

}  // namespace

std::uint64_t Table::Impl::treePagesOf(Order& o, std::uint32_t records) {
  const NodeLimits limits{options.maxLeafKeys, options.maxInteriorKeys};
  const LeafLayout lay = leafLayout(o.keyLen, records);
  const auto keyLen = static_cast<std::size_t>(o.keyLen);
  // The latest remembered leaf before which nothing changed.
  const std::pair<std::size_t, std::string>* from = nullptr;
  if (o.lastLeaves.entryBytes == lay.N)
    for (auto it = o.lastLeaves.starts.rbegin(); it != o.lastLeaves.starts.rend() && !from; ++it)
      if (!o.index.changedBelow(it->second, KeyIndex::Since::Sized)) from = &*it;
  Order::LastLeaves now{{}, lay.N};
  if (from) now.starts.assign(o.lastLeaves.starts.begin(), o.lastLeaves.starts.begin() + (from - o.lastLeaves.starts.data()));
  const std::size_t before = from ? from->first : 0;
  LeafPacker packer(o.keyLen, lay, limits);
  LeafStartRing started;
  std::string_view lastKey;
  std::size_t placedLeaves = 0;
  auto place = [&](std::string_view e) {
    // A unique order's image holds the first entry of each key only.
    if (o.unique && !lastKey.empty() && e.substr(0, keyLen) == lastKey) return;
    int dup = 0, trail = 0;
    if (packer.place(e.data(), &dup, &trail)) started.add(before + placedLeaves++, e);
    lastKey = e.substr(0, keyLen);
  };
  if (from)
    for (auto c = o.index.lowerBound(from->second); !o.index.atEnd(c); c = o.index.next(c)) place(o.index.entry(c));
  else
    o.index.forEach(place);
  const std::size_t leaves = before + packer.leaves();
  started.appendTo(now.starts);
  o.lastLeaves = std::move(now);
  o.index.markChanges(KeyIndex::Since::Sized);
  std::uint64_t pages = 0;
  for (std::size_t p : levelPagesOver(leaves, interiorFit(o.keyLen, limits))) pages += p;
  return pages;
}

void Table::Impl::noteLastLeaves(const IndexFileState& f, const CdxWriter& writer, std::uint32_t records) {
  std::size_t k = 0;
  for (auto& o : orders) {
    if (o->file != &f) continue;
    const std::vector<const char*>& starts = writer.plan(k++).leafFirst;
    o->lastLeaves = {{}, leafLayout(o->keyLen, records).N};
    const std::size_t entryBytes = static_cast<std::size_t>(o->keyLen) + 4;
    for (std::size_t leaf = starts.size() - std::min(starts.size(), kLeavesRemembered); leaf < starts.size(); ++leaf)
      o->lastLeaves.starts.emplace_back(leaf, std::string_view(starts[leaf], entryBytes));
    o->index.markChanges(KeyIndex::Since::Sized);
  }
}

void Table::Impl::stopAtLimit(const std::string& why, const std::string& file, const char* operation) {
  flushAll(operation);  // what was appended before is written whole; a failure there was raised
  if (writeFailed) return;
  writeFailed = true;
  writeFailure = why;
  raise(rt::EG_LIMIT, why, operation, EFBIG, false, file);
}

}  // namespace rdd
