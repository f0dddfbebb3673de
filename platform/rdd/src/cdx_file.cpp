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
    if (packer.place(e, &dup, &trail)) plan.leafFirst.push_back(e);
  });
  plan.fit = interiorFit(tag.keyLen, limits);
  plan.levelPages = levelPagesOver(packer.leaves(), plan.fit);
  return plan;
}

// Sequential page output through a buffer of about 256 KB: written to a file, or handed as pieces
// to the thread that writes them.
class PageSink {
 public:
  PageSink(File& f, std::uint64_t at) : file_(&f), at_(at) { buf_.reserve(kChunk + fmt::kTreeHeaderSize); }
  PageSink(PagePieces& pieces, std::uint64_t at) : pieces_(&pieces), at_(at) { buf_.reserve(kChunk + fmt::kTreeHeaderSize); }
  std::uint64_t offset() const { return at_ + buf_.size(); }
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

// Emits one tree's pages (leaves, then each interior level) at the sink's offset; answers the root.
// The leaves break where the plan's packing broke them: the same packer places the same entries.
// The region was checked to end within 32-bit offsets (writeRegion).
std::uint32_t emitTree(const TagOut& tag, const LeafLayout& lay, const NodeLimits& limits, const TreePlan& plan,
                       PageSink& sink, std::uint16_t rootLeafAttr) {
  const int keyLen = tag.keyLen;
  const auto first = static_cast<std::uint32_t>(sink.offset());
  const std::size_t leaves = plan.levelPages.front();
  std::vector<NodeRef> level;
  level.reserve(leaves);
  std::uint8_t* node = nullptr;
  int used = 0, pos = fmt::kPageSize, n = 0;
  const char* prev = nullptr;
  auto endLeaf = [&] {
    const std::size_t k = level.size();
    const std::uint32_t off = first + static_cast<std::uint32_t>(k * fmt::kPageSize);
    writeNodeHeader(node, leaves == 1 ? rootLeafAttr : fmt::kAttrLeaf, n, k == 0 ? fmt::kNoNode : off - fmt::kPageSize,
                    k + 1 == leaves ? fmt::kNoNode : off + fmt::kPageSize);
    writeLeafLayout(node, lay, fmt::kLfPayload - used);
    level.push_back({off, prev});
    sink.done();
  };
  LeafPacker packer(keyLen, lay, limits);
  forEachStored(tag, [&](const char* e) {
    int dup = 0, trail = 0;
    if (packer.place(e, &dup, &trail)) {
      if (node) endLeaf();
      node = sink.grow(fmt::kPageSize);
      used = 0, pos = fmt::kPageSize, n = 0;
    }
    const int stored = keyLen - dup - trail;
    const std::uint32_t recno = fmt::be32(reinterpret_cast<const std::uint8_t*>(e) + keyLen);
    const std::uint64_t v =
        recno | static_cast<std::uint64_t>(dup) << lay.R | static_cast<std::uint64_t>(trail) << (lay.R + lay.D);
    for (int b = 0; b < lay.N; ++b) node[fmt::kLfEntriesStart + n * lay.N + b] = (v >> (8 * b)) & 0xFF;
    pos -= stored;
    std::memcpy(node + pos, e + dup, static_cast<std::size_t>(stored));
    used += lay.N + stored;
    ++n;
    prev = e;
  });
  if (!node) node = sink.grow(fmt::kPageSize);  // an empty tree is one empty leaf
  endLeaf();
  while (level.size() > 1) {
    std::vector<NodeRef> up;
    auto levelFirst = static_cast<std::uint32_t>(sink.offset());
    std::size_t pagesHere = 0;
    for (std::size_t k = 0; k < level.size();) k += takeAt(level.size() - k, plan.fit), ++pagesHere;
    std::size_t idx = 0;
    for (std::size_t k = 0; k < level.size(); ++idx) {
      std::size_t take = takeAt(level.size() - k, plan.fit);
      std::uint32_t off = levelFirst + static_cast<std::uint32_t>(idx * fmt::kPageSize);
      std::uint8_t* inner = sink.grow(fmt::kPageSize);
      std::uint16_t attr = pagesHere == 1 ? fmt::kAttrRoot : 0;
      writeNodeHeader(inner, attr, static_cast<int>(take), idx == 0 ? fmt::kNoNode : off - fmt::kPageSize,
                      idx + 1 == pagesHere ? fmt::kNoNode : off + fmt::kPageSize);
      for (std::size_t j = 0; j < take; ++j) {
        const NodeRef& c = level[k + j];
        std::uint8_t* ent = inner + fmt::kInteriorStart + j * (keyLen + 8);
        std::memcpy(ent, c.lastEntry, static_cast<std::size_t>(keyLen) + 4);  // key + be32 recno
        fmt::putBe32(ent + keyLen + 4, c.offset);
      }
      up.push_back({off, level[k + take - 1].lastEntry});
      k += take;
      sink.done();
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
  std::uint64_t treesAt = 0;
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
  treesAt = dirPlan_.pages() * fmt::kPageSize;
  size_ = treesAt;
  for (const TreePlan& p : plans_) size_ += fmt::kTreeHeaderSize + p.pages() * fmt::kPageSize;
}

// The directory as a tag: names in order, each with its header offset where a record number goes.
TagOut CdxWriter::directoryTag() const {
  TagOut dir;
  dir.keyLen = fmt::kTagNameLen;
  dir.entries = [this](const EntryRun& run) { run(dirFlat_.data(), dirNames_.size()); };
  return dir;
}

Status CdxWriter::writeRegion(File& file, std::uint64_t base, std::uint32_t counter, const CdxStamp& stamp,
                              std::vector<std::uint8_t>* header) {
  // Page offsets are stored in 32 bits: a region reaching past them is refused before a page is
  // written, so every offset narrowed below (and in emitTree) is exact.
  if (base % fmt::kPageSize != 0 || base < fmt::kTreeHeaderSize || base + size_ > fmt::kMaxIndexBytes)
    return Status::error(StatusKind::Io,
                         "an index image of " + std::to_string(size_) + " bytes at offset " + std::to_string(base) +
                             " would reach past the " + std::to_string(fmt::kMaxIndexBytes) +
                             " bytes that index page offsets address",
                         EFBIG);
  std::uint64_t at = base + dirPlan_.pages() * fmt::kPageSize;
  std::vector<std::uint64_t> headerAt;
  for (const TreePlan& p : plans_) {
    headerAt.push_back(at);
    at += fmt::kTreeHeaderSize + p.pages() * fmt::kPageSize;
  }
  for (std::size_t k = 0; k < dirNames_.size(); ++k)
    fmt::putBe32(reinterpret_cast<std::uint8_t*>(dirFlat_.data()) + k * (fmt::kTagNameLen + 4) + fmt::kTagNameLen,
                 static_cast<std::uint32_t>(headerAt[dirNames_[k].second]));
  PageSink dirSink(file, base);
  std::uint32_t dirRoot = emitTree(directoryTag(), dirLayout_, {}, dirPlan_, dirSink, fmt::kAttrLeaf | fmt::kAttrRoot);
  Status s = dirSink.flush();
  if (!s.ok()) return s;
  // A tag's header and tree, at headerAt[k].
  auto emitTag = [&](std::size_t k, PageSink& sink) {
    const TagOut* t = tags_[k];
    const TreePlan& p = plans_[k];
    std::uint8_t* h = sink.grow(fmt::kTreeHeaderSize);
    auto root = static_cast<std::uint32_t>(headerAt[k] + fmt::kTreeHeaderSize + (p.pages() - 1) * fmt::kPageSize);
    std::uint8_t options = fmt::kTagOptions | (t->unique ? fmt::kOptUnique : 0) | (t->forExpr.empty() ? 0 : fmt::kOptFor);
    writeTreeHeader(h, root, 0, t->keyLen, options, t->keyExpr, t->forExpr);
    sink.done();
    (void)emitTree(*t, leafLayout(t->keyLen, maxRecno_), limits_, p, sink,
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
          PageSink sink(pieces, headerAt[k]);
          emitTag(k, sink);
          (void)sink.flush();  // the pieces' writer answers for the writes
        },
        [&] { s = pieces.writeAll(file); });
  } catch (const std::system_error&) {
    // No thread to be had: the tags are laid out and written here, one after the other.
    PageSink sink(file, headerAt.empty() ? 0 : headerAt.front());
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
