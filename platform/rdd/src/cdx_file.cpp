// Writing compound index files: the trees laid out bottom-up from sorted entries, written at a
// chosen place, with the header that points at them (and the stamp) written last.
#include "cdx_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "format.h"
#include "page_pieces.h"
#include "side_by_side.h"

namespace rdd {
namespace {

int bitsFor(std::uint64_t v) {
  int b = 0;
  while (v) {
    ++b;
    v >>= 1;
  }
  return std::max(b, 1);
}

}  // namespace

LeafLayout leafLayout(int keyLen, std::uint32_t maxRecno) {
  LeafLayout l{};
  l.D = l.T = bitsFor(static_cast<std::uint64_t>(keyLen));
  int need = bitsFor(maxRecno);
  l.N = (need + 2 * l.D + 7) / 8;
  l.R = std::min(8 * l.N - 2 * l.D, 32);
  return l;
}

namespace {

constexpr std::uint64_t kEightBlanks = 0x2020202020202020ull;

inline std::uint64_t eightBytes(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Keys run to 240 bytes and often end in long blank runs or share long prefixes: both are
// counted eight bytes at a time.
int trailCount(const char* key, int keyLen) {
  int t = 0;
  while (t + 8 <= keyLen && eightBytes(key + keyLen - t - 8) == kEightBlanks) t += 8;
  while (t < keyLen && key[keyLen - 1 - t] == ' ') ++t;
  return t;
}

struct NodeRef {
  std::uint32_t offset;
  const char* lastEntry;  // key + be32 recno of the node's last entry
};

void writeNodeHeader(std::uint8_t* n, std::uint16_t attr, int count, std::uint32_t left, std::uint32_t right) {
  fmt::putLe16(n + fmt::kNdAttr, attr);
  fmt::putLe16(n + fmt::kNdCount, static_cast<std::uint32_t>(count));
  fmt::putLe32(n + fmt::kNdLeft, left);
  fmt::putLe32(n + fmt::kNdRight, right);
}

void writeLeafLayout(std::uint8_t* n, const LeafLayout& l, int freeBytes) {
  fmt::putLe16(n + fmt::kLfFree, static_cast<std::uint32_t>(freeBytes));
  fmt::putLe32(n + fmt::kLfRecMask, l.R == 32 ? 0xFFFFFFFFu : ((1u << l.R) - 1));
  n[fmt::kLfDupMask] = static_cast<std::uint8_t>((1u << l.D) - 1);
  n[fmt::kLfTrailMask] = static_cast<std::uint8_t>((1u << l.T) - 1);
  n[fmt::kLfRecBits] = static_cast<std::uint8_t>(l.R);
  n[fmt::kLfDupBits] = static_cast<std::uint8_t>(l.D);
  n[fmt::kLfTrailBits] = static_cast<std::uint8_t>(l.T);
  n[fmt::kLfEntryBytes] = static_cast<std::uint8_t>(l.N);
}

// Bytes of key `e` stored after sharing `dup` leading bytes with the previous key of the node.
inline int sharedWith(const char* prev, int prevTrail, const char* e, int trail, int keyLen) {
  int limit = std::min(keyLen - prevTrail, keyLen - trail);
  int dup = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; dup + 8 <= limit; dup += 8) {
      const std::uint64_t differ = eightBytes(prev + dup) ^ eightBytes(e + dup);
      if (differ) return dup + std::countr_zero(differ) / 8;
    }
  }
  while (dup < limit && prev[dup] == e[dup]) ++dup;
  return dup;
}

// Leaves are packed as full as the 488 payload bytes (or the test limit) allow; interior nodes
// take `fit` children, never leaving a lone child for the last node of a level when avoidable.
std::size_t takeAt(std::size_t remaining, int fit) {
  std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(fit), remaining);
  if (remaining - take == 1 && take > 2) --take;
  return take;
}

// Each level right after the one below it, from `at`.
std::vector<std::vector<PageRun>> levelsInOneRun(std::uint64_t at, const std::vector<std::size_t>& levelPages) {
  std::vector<std::vector<PageRun>> levels;
  for (std::size_t pages : levelPages) {
    levels.push_back({{at, pages}});
    at += pages * fmt::kPageSize;
  }
  return levels;
}

}  // namespace

LeafPacker::LeafPacker(int keyLen, const LeafLayout& lay, const NodeLimits& limits)
    : keyLen_(keyLen), lay_(lay), limits_(limits) {}

bool LeafPacker::place(const char* e, int* dupOut, int* trailOut) {
  const int trail = trailCount(e, keyLen_);
  int dup = n_ > 0 ? sharedWith(prev_, prevTrail_, e, trail, keyLen_) : 0;
  const bool full = n_ > 0 && (used_ + lay_.N + keyLen_ - dup - trail > fmt::kLfPayload ||
                               (limits_.maxLeafKeys > 0 && n_ >= limits_.maxLeafKeys));
  if (full || leaves_ == 0) {
    ++leaves_;
    n_ = used_ = dup = 0;
  }
  used_ += lay_.N + keyLen_ - dup - trail;
  ++n_;
  prev_ = e;
  prevTrail_ = trail;
  *dupOut = dup;
  *trailOut = trail;
  return n_ == 1;
}

int interiorFit(int keyLen, const NodeLimits& limits) {
  int fit = fmt::kInteriorPayload / (keyLen + 8);
  if (limits.maxInteriorKeys > 1) fit = std::min(fit, limits.maxInteriorKeys);
  return fit;
}

std::vector<std::size_t> levelPagesOver(std::size_t leaves, int fit) {
  std::vector<std::size_t> pages{leaves};
  for (std::size_t nodes = leaves; nodes > 1;) {
    std::size_t up = 0;
    for (std::size_t k = 0; k < nodes;) {
      k += takeAt(nodes - k, fit);
      ++up;
    }
    pages.push_back(up);
    nodes = up;
  }
  return pages;
}

std::optional<TreePlace> placeOfWholeTree(const TagImage& tag, const NodeLimits& limits) {
  if (tag.leafRuns.size() != 1 || tag.entryBytes == 0 || tag.leafRuns[0].first != tag.headerAt + fmt::kTreeHeaderSize)
    return std::nullopt;
  const std::vector<std::size_t> levelPages = levelPagesOver(tag.leafRuns[0].count, interiorFit(tag.keyLen, limits));
  TreePlace place{tag.headerAt, tag.entryBytes, levelsInOneRun(tag.leafRuns[0].first, levelPages), tag.leafEntries};
  const PageRun& top = place.levels.back().back();
  if (tag.root != top.first || top.count != 1) return std::nullopt;
  return place;
}

std::uint64_t directoryBytesAtMost(std::size_t tags) {
  const LeafLayout lay = leafLayout(fmt::kTagNameLen, 0xFFFFFFFFu);
  const std::size_t perLeaf = static_cast<std::size_t>(fmt::kLfPayload / (lay.N + fmt::kTagNameLen));
  std::uint64_t pages = 0;
  for (std::size_t p : levelPagesOver(std::max<std::size_t>(1, (tags + perLeaf - 1) / perLeaf), interiorFit(fmt::kTagNameLen, {})))
    pages += p;
  return pages * fmt::kPageSize;
}

namespace {

// Visits the entries of `tag` that its image holds, in key order.
template <class Visit>
void forEachStored(const TagOut& tag, Visit&& visit) {
  if (!tag.entries) return;
  const auto keyLen = static_cast<std::size_t>(tag.keyLen), entryBytes = keyLen + 4;
  const char* prev = nullptr;
  tag.entries([&](const char* first, std::size_t count) {
    for (const char* e = first; e != first + count * entryBytes; e += entryBytes) {
      if (tag.unique && prev && std::memcmp(prev, e, keyLen) == 0) continue;
      visit(e);
      prev = e;
    }
  });
}

TreePlan planTree(const TagOut& tag, const LeafLayout& lay, const NodeLimits& limits) {
  TreePlan plan;
  LeafPacker packer(tag.keyLen, lay, limits);
  forEachStored(tag, [&](const char* e) {
    int dup = 0, trail = 0;
    if (packer.place(e, &dup, &trail)) {
      plan.leafFirst.push_back(e);
      plan.leafEntries.push_back(0);
    }
    ++plan.leafEntries.back();
  });
  plan.fit = interiorFit(tag.keyLen, limits);
  plan.levelPages = levelPagesOver(packer.leaves(), plan.fit);
  return plan;
}

// Page output through a buffer of about 256 KB, written to a file or handed as pieces to the
// thread that writes them; consecutive pages go out together, and moving elsewhere sends what is
// buffered first.
class PageSink {
 public:
  PageSink(File& f, std::uint64_t at) : file_(&f), at_(at) { buf_.reserve(kChunk + fmt::kTreeHeaderSize); }
  PageSink(PagePieces& pieces, std::uint64_t at) : pieces_(&pieces), at_(at) { buf_.reserve(kChunk + fmt::kTreeHeaderSize); }
  std::uint64_t offset() const { return at_ + buf_.size(); }
  void moveTo(std::uint64_t at) {
    if (at == offset()) return;
    (void)flush();
    at_ = at;
  }
  std::uint8_t* grow(std::size_t n) {
    std::size_t at = buf_.size();
    buf_.resize(at + n, 0);
    return buf_.data() + at;
  }
  void done() {
    if (buf_.size() >= kChunk) (void)flush();
  }
  Status flush() {
    const std::uint64_t at = at_;
    at_ += buf_.size();
    if (buf_.empty()) return status_;
    if (pieces_) {
      buf_ = pieces_->put(at, std::move(buf_));
      buf_.reserve(kChunk + fmt::kTreeHeaderSize);
      return status_;
    }
    if (status_.ok()) status_ = file_->write(at, buf_.data(), buf_.size());
    buf_.clear();
    return status_;
  }

 private:
  static constexpr std::size_t kChunk = 256u << 10;
  File* file_ = nullptr;
  PagePieces* pieces_ = nullptr;
  std::uint64_t at_;
  std::vector<std::uint8_t> buf_;
  Status status_;
};

// The offsets of one level's nodes from its runs, asked for in rising order. Every offset lies
// within the 32 bits the format stores: the placement was checked to end there (writeRegion).
class LevelOffsets {
 public:
  explicit LevelOffsets(const std::vector<PageRun>& runs) : runs_(runs) {}
  std::uint32_t at(std::size_t node) {
    if (node < start_) run_ = start_ = 0;
    while (node >= start_ + runs_[run_].count) start_ += runs_[run_++].count;
    return static_cast<std::uint32_t>(runs_[run_].first + (node - start_) * fmt::kPageSize);
  }

 private:
  const std::vector<PageRun>& runs_;
  std::size_t run_ = 0, start_ = 0;
};

// Emits one tree's pages (leaves, then each interior level) where `place` puts them, leaving out
// the leading nodes of each level that `onDisk` counts; answers the root. The leaves break where
// the plan's packing broke them: the same packer places the same entries.
std::uint32_t emitTree(const TagOut& tag, const LeafLayout& lay, const NodeLimits& limits, const TreePlan& plan,
                       const TreePlace& place, const std::vector<std::size_t>& onDisk, PageSink& sink,
                       std::uint16_t rootLeafAttr) {
  const int keyLen = tag.keyLen;
  const std::size_t leaves = plan.levelPages.front();
  LevelOffsets leafAt(place.levels.front());
  std::vector<NodeRef> level;
  level.reserve(leaves);
  std::uint8_t* node = nullptr;
  bool writing = false;  // the leaf being filled is written
  int used = 0, pos = fmt::kPageSize, n = 0;
  const char* prev = nullptr;
  std::uint32_t before = fmt::kNoNode;
  auto beginLeaf = [&] {
    writing = level.size() >= onDisk.front();
    if (writing) {
      sink.moveTo(leafAt.at(level.size()));
      node = sink.grow(fmt::kPageSize);
    }
    used = 0, pos = fmt::kPageSize, n = 0;
  };
  auto endLeaf = [&] {
    const std::size_t k = level.size();
    const std::uint32_t off = leafAt.at(k);
    if (writing) {
      writeNodeHeader(node, leaves == 1 ? rootLeafAttr : fmt::kAttrLeaf, n, before,
                      k + 1 == leaves ? fmt::kNoNode : leafAt.at(k + 1));
      writeLeafLayout(node, lay, fmt::kLfPayload - used);
      sink.done();
    }
    level.push_back({off, prev});
    before = off;
  };
  LeafPacker packer(keyLen, lay, limits);
  bool begun = false;
  forEachStored(tag, [&](const char* e) {
    int dup = 0, trail = 0;
    if (packer.place(e, &dup, &trail)) {
      if (begun) endLeaf();
      beginLeaf();
      begun = true;
    }
    const int stored = keyLen - dup - trail;
    used += lay.N + stored;
    prev = e;
    if (!writing) return;  // a leaf kept on disk: only where it ends counts
    const std::uint32_t recno = fmt::be32(reinterpret_cast<const std::uint8_t*>(e) + keyLen);
    const std::uint64_t v =
        recno | static_cast<std::uint64_t>(dup) << lay.R | static_cast<std::uint64_t>(trail) << (lay.R + lay.D);
    for (int b = 0; b < lay.N; ++b) node[fmt::kLfEntriesStart + n * lay.N + b] = (v >> (8 * b)) & 0xFF;
    pos -= stored;
    std::memcpy(node + pos, e + dup, static_cast<std::size_t>(stored));
    ++n;
  });
  if (!begun) beginLeaf();  // an empty tree is one empty leaf
  endLeaf();
  for (std::size_t depth = 1; level.size() > 1; ++depth) {
    std::vector<NodeRef> up;
    LevelOffsets nodeAt(place.levels[depth]);
    std::size_t pagesHere = 0;
    for (std::size_t k = 0; k < level.size();) k += takeAt(level.size() - k, plan.fit), ++pagesHere;
    std::size_t idx = 0;
    before = fmt::kNoNode;
    for (std::size_t k = 0; k < level.size(); ++idx) {
      const std::size_t take = takeAt(level.size() - k, plan.fit);
      const std::uint32_t off = nodeAt.at(idx);
      if (idx >= onDisk[depth]) {
        sink.moveTo(off);
        std::uint8_t* inner = sink.grow(fmt::kPageSize);
        std::uint16_t attr = pagesHere == 1 ? fmt::kAttrRoot : 0;
        writeNodeHeader(inner, attr, static_cast<int>(take), before,
                        idx + 1 == pagesHere ? fmt::kNoNode : nodeAt.at(idx + 1));
        for (std::size_t j = 0; j < take; ++j) {
          const NodeRef& c = level[k + j];
          std::uint8_t* ent = inner + fmt::kInteriorStart + j * (keyLen + 8);
          std::memcpy(ent, c.lastEntry, static_cast<std::size_t>(keyLen) + 4);  // key + be32 recno
          fmt::putBe32(ent + keyLen + 4, c.offset);
        }
        sink.done();
      }
      up.push_back({off, level[k + take - 1].lastEntry});
      before = off;
      k += take;
    }
    level.swap(up);
  }
  return level[0].offset;
}

void writeTreeHeader(std::uint8_t* h, std::uint32_t root, std::uint32_t counter, int keyLen, std::uint8_t options,
                     const std::string& keyExpr, const std::string& forExpr) {
  fmt::putLe32(h + fmt::kThRoot, root);
  fmt::putLe32(h + fmt::kThFreeList, 0);
  fmt::putLe32(h + fmt::kThCounter, counter);
  fmt::putLe16(h + fmt::kThKeyLen, static_cast<std::uint32_t>(keyLen));
  h[fmt::kThOptions] = options;
  h[fmt::kThSignature] = fmt::kSignature;
  auto keyPool = static_cast<std::uint32_t>(keyExpr.size() + 1), forPool = static_cast<std::uint32_t>(forExpr.size() + 1);
  fmt::putLe16(h + fmt::kThTotalExprLen, keyPool);
  fmt::putLe16(h + fmt::kThForLen, forPool);
  fmt::putLe16(h + fmt::kThKeyExprLen, keyPool);
  std::memcpy(h + fmt::kThPool, keyExpr.data(), keyExpr.size());
  std::memcpy(h + fmt::kThPool + keyPool, forExpr.data(), forExpr.size());
}

}  // namespace


CdxWriter::CdxWriter(const std::vector<const TagOut*>& tags, std::uint32_t maxRecno, const NodeLimits& limits)
    : tags_(tags), maxRecno_(std::max<std::uint32_t>(maxRecno, 1)), limits_(limits) {
  plans_.resize(tags_.size());
  runSideBySide(tags_.size(),
                [&](std::size_t k) { plans_[k] = planTree(*tags_[k], leafLayout(tags_[k]->keyLen, maxRecno_), limits_); });
  // The directory: tag names blank-padded to 10, each with its header offset (filled in below).
  for (std::size_t k = 0; k < tags_.size(); ++k) {
    std::string key = tags_[k]->name.substr(0, fmt::kTagNameLen);
    key.resize(fmt::kTagNameLen, ' ');
    dirNames_.push_back({key, k});
  }
  std::sort(dirNames_.begin(), dirNames_.end());
  dirFlat_.assign(dirNames_.size() * (fmt::kTagNameLen + 4), 0);
  for (std::size_t k = 0; k < dirNames_.size(); ++k)
    std::memcpy(dirFlat_.data() + k * (fmt::kTagNameLen + 4), dirNames_[k].first.data(), fmt::kTagNameLen);
  // Header offsets need the directory's size, which depends on the offsets' width only: plan it
  // with the widest possible record field first.
  dirLayout_ = leafLayout(fmt::kTagNameLen, 0xFFFFFFFFu);
  dirPlan_ = planTree(directoryTag(), dirLayout_, {});
  size_ = directoryBytes();
  for (const TreePlan& p : plans_) size_ += fmt::kTreeHeaderSize + p.pages() * fmt::kPageSize;
}

std::uint64_t CdxWriter::directoryBytes() const { return dirPlan_.pages() * fmt::kPageSize; }

// The directory as a tag: names in order, each with its header offset where a record number goes.
TagOut CdxWriter::directoryTag() const {
  TagOut dir;
  dir.keyLen = fmt::kTagNameLen;
  dir.entries = [this](const EntryRun& run) { run(dirFlat_.data(), dirNames_.size()); };
  return dir;
}

void CdxWriter::placeWhole(std::uint64_t base) {
  base_ = base;
  std::uint64_t at = base + directoryBytes();
  places_.assign(tags_.size(), {});
  onDisk_.assign(tags_.size(), {});
  for (std::size_t k = 0; k < tags_.size(); ++k) {
    const TreePlan& p = plans_[k];
    places_[k] = {at, leafLayout(tags_[k]->keyLen, maxRecno_).N, levelsInOneRun(at + fmt::kTreeHeaderSize, p.levelPages), {}};
    onDisk_[k].assign(p.levelPages.size(), 0);
    at += fmt::kTreeHeaderSize + p.pages() * fmt::kPageSize;
  }
  end_ = at;
}

namespace {

// How many leading nodes of each level keep their place. Leaves: up to the last whose next leaf
// begins below the lowest change, since the packing of what lies before a change breaks where it
// broke. Above, `fit` children a node: the last node kept of a level is written again (its right
// sibling, and maybe its children, are new), and every node before it has its children wholly
// before the last kept node below, so unchanged.
std::vector<std::size_t> nodesKept(const TagOut& tag, const TreePlan& plan, const TreePlace& old) {
  std::vector<std::size_t> oldCount;
  for (const auto& runs : old.levels) {
    std::size_t n = 0;
    for (const PageRun& r : runs) n += r.count;
    oldCount.push_back(n);
  }
  const std::size_t entryBytes = static_cast<std::size_t>(tag.keyLen) + 4;
  const std::vector<const char*>& first = plan.leafFirst;
  std::size_t leaves = 0;
  if (first.size() > 1) {
    auto unchanged = [&](const char* e) {
      return tag.changedFrom.empty() || std::memcmp(e, tag.changedFrom.data(), entryBytes) < 0;
    };
    leaves = static_cast<std::size_t>(std::partition_point(first.begin() + 1, first.end(), unchanged) - (first.begin() + 1));
  }
  // A tree read from a file keeps its leaves only while they hold what this packing puts in them.
  if (!old.leafEntries.empty()) {
    std::size_t same = 0;
    while (same < leaves && same < old.leafEntries.size() && plan.leafEntries[same] == old.leafEntries[same]) ++same;
    leaves = same;
  }
  std::vector<std::size_t> kept(plan.levelPages.size(), 0);
  kept[0] = std::min(leaves, oldCount[0]);
  const auto fit = static_cast<std::size_t>(plan.fit);
  for (std::size_t depth = 1; depth < kept.size() && depth < oldCount.size(); ++depth)
    kept[depth] = std::min(kept[depth - 1] / fit, oldCount[depth]);
  return kept;
}

}  // namespace

bool CdxWriter::placeOver(std::uint64_t base, std::uint64_t oldEnd) {
  for (const TagOut* t : tags_)
    if (!t->placed || t->placed->levels.empty() || t->placed->entryBytes != leafLayout(t->keyLen, maxRecno_).N ||
        t->placed->headerAt < base + directoryBytes() || t->placed->headerAt + fmt::kTreeHeaderSize > oldEnd)
      return false;
  base_ = base;
  end_ = oldEnd;
  places_.assign(tags_.size(), {});
  onDisk_.assign(tags_.size(), {});
  for (std::size_t k = 0; k < tags_.size(); ++k) {
    const TreePlace& old = *tags_[k]->placed;
    const TreePlan& plan = plans_[k];
    const std::vector<std::size_t> kept = nodesKept(*tags_[k], plan, old);
    TreePlace& place = places_[k];
    place.headerAt = old.headerAt;
    place.entryBytes = old.entryBytes;
    for (std::size_t depth = 0; depth < plan.levelPages.size(); ++depth) {
      std::vector<PageRun> runs;
      for (std::size_t left = kept[depth], r = 0; left > 0; ++r) {
        const PageRun& run = old.levels[depth][r];
        runs.push_back({run.first, std::min(left, run.count)});
        left -= runs.back().count;
      }
      const std::size_t added = plan.levelPages[depth] - kept[depth];
      runs.push_back({end_, added});
      end_ += added * fmt::kPageSize;
      place.levels.push_back(std::move(runs));
      onDisk_[k].push_back(kept[depth] > 0 ? kept[depth] - 1 : 0);
    }
  }
  return true;
}

Status CdxWriter::writeRegion(File& file, std::uint32_t counter, const CdxStamp& stamp,
                              std::vector<std::uint8_t>* header) {
  // Page offsets are stored in 32 bits: a placement reaching past them is refused before a page
  // is written, so every offset narrowed below (and in emitTree) is exact.
  if (base_ % fmt::kPageSize != 0 || base_ < fmt::kTreeHeaderSize || end_ > fmt::kMaxIndexBytes)
    return Status::error(StatusKind::Io,
                         "an index image of " + std::to_string(size_) + " bytes ending at offset " +
                             std::to_string(end_) + " would reach past the " + std::to_string(fmt::kMaxIndexBytes) +
                             " bytes that index page offsets address",
                         EFBIG);
  for (std::size_t k = 0; k < dirNames_.size(); ++k)
    fmt::putBe32(reinterpret_cast<std::uint8_t*>(dirFlat_.data()) + k * (fmt::kTagNameLen + 4) + fmt::kTagNameLen,
                 static_cast<std::uint32_t>(places_[dirNames_[k].second].headerAt));
  PageSink dirSink(file, base_);
  const TreePlace dirPlace{base_, dirLayout_.N, levelsInOneRun(base_, dirPlan_.levelPages), {}};
  std::uint32_t dirRoot = emitTree(directoryTag(), dirLayout_, {}, dirPlan_, dirPlace,
                                   std::vector<std::size_t>(dirPlan_.levelPages.size(), 0), dirSink,
                                   fmt::kAttrLeaf | fmt::kAttrRoot);
  Status s = dirSink.flush();
  if (!s.ok()) return s;
  // A tag's header and tree, where placed.
  auto emitTag = [&](std::size_t k, PageSink& sink) {
    const TagOut* t = tags_[k];
    const TreePlace& place = places_[k];
    sink.moveTo(place.headerAt);
    std::uint8_t* h = sink.grow(fmt::kTreeHeaderSize);
    const std::uint32_t root = LevelOffsets(place.levels.back()).at(0);
    std::uint8_t options = fmt::kTagOptions | (t->unique ? fmt::kOptUnique : 0) | (t->forExpr.empty() ? 0 : fmt::kOptFor);
    writeTreeHeader(h, root, 0, t->keyLen, options, t->keyExpr, t->forExpr);
    sink.done();
    (void)emitTree(*t, leafLayout(t->keyLen, maxRecno_), limits_, plans_[k], place, onDisk_[k], sink,
                   fmt::kAttrLeaf | fmt::kAttrRoot);  // answers the root, placed as computed above
  };
  // Each tag is laid out on a helper thread; this thread writes the pages.
  PagePieces pieces(tags_.size());
  try {
    runSideBySide(
        tags_.size(),
        [&](std::size_t k) {
          struct Done {
            PagePieces& pieces;
            ~Done() { pieces.makerDone(); }
          } done{pieces};
          PageSink sink(pieces, places_[k].headerAt);
          emitTag(k, sink);
          (void)sink.flush();  // the pieces' writer answers for the writes
        },
        [&] { s = pieces.writeAll(file); });
  } catch (const std::system_error&) {
    // No thread to be had: the tags are laid out and written here, one after the other.
    PageSink sink(file, base_);
    for (std::size_t k = 0; k < tags_.size(); ++k) emitTag(k, sink);
    s = sink.flush();
  }
  if (!s.ok()) return s;
  header->assign(fmt::kTreeHeaderSize, 0);
  writeTreeHeader(header->data(), dirRoot, counter, fmt::kTagNameLen, fmt::kDirectoryOptions, "", "");
  CdxStamp st = stamp;
  st.counter = counter;
  putStamp(header->data(), st);
  return Status::okay();
}

void putStamp(std::uint8_t* header, const CdxStamp& stamp) {
  fmt::putLe64(header + fmt::kStTableSize, stamp.table.size);
  fmt::putLe64(header + fmt::kStTableTime, static_cast<std::uint64_t>(stamp.table.modifiedNs));
  fmt::putLe64(header + fmt::kStTableHash, stamp.table.hash);
  std::memcpy(header + fmt::kStMagic, fmt::kStampMagic, 4);
  fmt::putLe32(header + fmt::kStCounter, stamp.counter);
  fmt::putLe32(header + fmt::kStRecCount, stamp.recCount);
  fmt::putLe32(header + fmt::kStChanging, stamp.changing);
}


// One write of the whole header: the mark and the moved counter reach the file together or not
// at all. A file without a whole header yet holds no image, and needs no mark.
Status markCdxBeingWritten(File& file, std::uint32_t counter) {
  std::uint8_t header[fmt::kTreeHeaderSize];
  std::size_t got = 0;
  Status s = file.read(0, header, sizeof header, &got);
  if (!s.ok()) return s;
  if (got != sizeof header) return Status::okay();  // a new file: no image to tear
  std::memcpy(header + fmt::kStMagic, fmt::kBeingWrittenMagic, 4);
  fmt::putLe32(header + fmt::kThCounter, counter);
  return file.write(0, header, sizeof header);
}

Status writeCdxStamp(File& file, const CdxStamp& stamp) {
  std::uint8_t b[fmt::kStChanging + 4];
  putStamp(b, stamp);
  return file.write(fmt::kStTableSize, b + fmt::kStTableSize, sizeof b - fmt::kStTableSize);
}

}  // namespace rdd
