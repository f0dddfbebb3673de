#include "cdx_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "format.h"

namespace rdd {
namespace {

using Page = std::vector<std::uint8_t>;

Status corrupt(const std::string& name, const std::string& what) {
  return Status::error(StatusKind::Corruption, "index file " + name + ": " + what);
}

int bitsFor(std::uint64_t v) {
  int b = 0;
  while (v) {
    ++b;
    v >>= 1;
  }
  return std::max(b, 1);
}

// Reading side: one file, its size, and a guard against visiting a page twice. Trees are laid out
// leaf after leaf, so reads are served from a window read ahead, not a system call per page.
class Reader {
 public:
  Reader(File& f, std::string name) : file_(f), name_(std::move(name)) {}

  Status init() {
    Status s = file_.size(&size_);
    if (!s.ok()) return s;
    if (size_ < 1536) return corrupt(name_, "file too short to hold a directory");
    visited_.assign(size_ / fmt::kPageSize + 1, false);
    return Status::okay();
  }
  Status readAt(std::uint64_t off, std::size_t n, Page* out) {
    if (off < windowAt_ || off + n > windowAt_ + window_.size()) {
      window_.resize(std::max(n, kWindow));
      std::size_t got = 0;
      Status s = file_.read(off, window_.data(), window_.size(), &got);
      if (!s.ok()) {
        window_.clear();
        return s;
      }
      window_.resize(got);
      windowAt_ = off;
      if (got < n) return corrupt(name_, "unexpected end of file at offset " + std::to_string(off));
    }
    const std::uint8_t* from = window_.data() + (off - windowAt_);
    out->assign(from, from + n);
    return Status::okay();
  }
  Status checkNode(std::uint32_t off, const char* what) {
    if (off == fmt::kNoNode || off % fmt::kPageSize != 0 || off < fmt::kTreeHeaderSize ||
        off + static_cast<std::uint64_t>(fmt::kPageSize) > size_)
      return corrupt(name_, std::string(what) + " points outside the file (offset " + std::to_string(off) + ")");
    return Status::okay();
  }
  Status readNode(std::uint32_t off, Page* out, const char* what) {
    Status s = checkNode(off, what);
    if (!s.ok()) return s;
    if (visited_[off / fmt::kPageSize])
      return corrupt(name_, "a cycle or shared page in the index pointers at offset " + std::to_string(off));
    visited_[off / fmt::kPageSize] = true;
    highestPageEnd_ = std::max<std::uint64_t>(highestPageEnd_, off + std::uint64_t{fmt::kPageSize});
    return readAt(off, fmt::kPageSize, out);
  }
  void resetVisited() { visited_.assign(visited_.size(), false); }
  std::uint64_t highestPageEnd() const { return highestPageEnd_; }
  std::uint64_t size() const { return size_; }
  const std::string& name() const { return name_; }

 private:
  static constexpr std::size_t kWindow = 256 * 1024;
  File& file_;
  std::string name_;
  std::uint64_t size_ = 0;
  std::vector<bool> visited_;  // per page of the file
  std::uint64_t highestPageEnd_ = 0;
  std::vector<std::uint8_t> window_;
  std::uint64_t windowAt_ = 0;
};

// A tree's entries as read: key bytes then the big-endian record number, one after another.
struct Entries {
  int keyLen = 0;
  std::vector<char> flat;
  std::size_t size() const { return flat.size() / entryBytes(); }
  std::size_t entryBytes() const { return static_cast<std::size_t>(keyLen) + 4; }
  const char* at(std::size_t i) const { return flat.data() + i * entryBytes(); }
  std::string key(std::size_t i) const { return std::string(at(i), static_cast<std::size_t>(keyLen)); }
  std::uint32_t recno(std::size_t i) const { return fmt::be32(reinterpret_cast<const std::uint8_t*>(at(i)) + keyLen); }
};

// Decodes a leaf's entries onto the end of `out`, each key rebuilt from the one before it.
Status decodeLeaf(const Page& p, std::uint8_t pad, const std::string& name, std::uint32_t off, Entries* out) {
  const int keyLen = out->keyLen;
  const std::uint8_t* n = p.data();
  int count = fmt::le16(n + fmt::kNdCount);
  int R = n[fmt::kLfRecBits], D = n[fmt::kLfDupBits], T = n[fmt::kLfTrailBits], N = n[fmt::kLfEntryBytes];
  std::string where = " in leaf at offset " + std::to_string(off);
  if (count == 0) return Status::okay();
  if (R < 1 || R > 32 || D > 8 || T > 8 || N < 1 || N > 8 || R + D + T > 8 * N)
    return corrupt(name, "impossible entry layout" + where);
  if (fmt::kLfEntriesStart + count * N > fmt::kPageSize) return corrupt(name, "too many keys" + where);
  std::uint64_t recMask = (R == 32) ? 0xFFFFFFFFull : ((1ull << R) - 1);
  std::uint32_t dupMask = (1u << D) - 1, trailMask = (1u << T) - 1;
  int pos = fmt::kPageSize;
  int floor = fmt::kLfEntriesStart + count * N;
  const std::size_t es = out->entryBytes(), first = out->flat.size();
  out->flat.resize(first + static_cast<std::size_t>(count) * es);
  // What was decoded before a fault stays (a dump shows it).
  auto broken = [&](int decoded, const char* what) {
    out->flat.resize(first + static_cast<std::size_t>(decoded) * es);
    return corrupt(name, what + where);
  };
  for (int i = 0; i < count; ++i) {
    std::uint64_t v = 0;
    for (int b = N - 1; b >= 0; --b) v = v << 8 | n[fmt::kLfEntriesStart + i * N + b];
    auto recno = static_cast<std::uint32_t>(v & recMask);
    int dup = static_cast<int>((v >> R) & dupMask);
    int trail = static_cast<int>((v >> (R + D)) & trailMask);
    if (i == 0) dup = dup == 0 ? 0 : -1;
    if (dup < 0 || dup + trail > keyLen) return broken(i, "key compression counts out of range");
    int len = keyLen - dup - trail;
    pos -= len;
    if (pos < floor) return broken(i, "key bytes overlap the entry table");
    char* e = out->flat.data() + first + static_cast<std::size_t>(i) * es;
    if (dup > 0) std::memcpy(e, e - es, static_cast<std::size_t>(dup));
    std::memcpy(e + dup, n + pos, static_cast<std::size_t>(len));
    std::memset(e + dup + len, pad, static_cast<std::size_t>(trail));
    fmt::putBe32(reinterpret_cast<std::uint8_t*>(e) + keyLen, recno);
  }
  return Status::okay();
}

struct TreeHeader {
  std::uint32_t root;
  int keyLen;
  std::uint8_t options;
  int order;
  std::string keyExpr, forExpr;
};

Status readTreeHeader(Reader& r, std::uint64_t off, TreeHeader* h) {
  Page p;
  Status s = r.readAt(off, fmt::kTreeHeaderSize, &p);
  if (!s.ok()) return s;
  const std::uint8_t* b = p.data();
  h->root = fmt::le32(b + fmt::kThRoot);
  h->keyLen = fmt::le16(b + fmt::kThKeyLen);
  h->options = b[fmt::kThOptions];
  h->order = fmt::le16(b + fmt::kThOrder);
  int keyPool = fmt::le16(b + fmt::kThKeyExprLen), forPool = fmt::le16(b + fmt::kThForLen);
  if (keyPool + forPool > fmt::kPoolSize) return corrupt(r.name(), "expression pool lengths exceed 512 bytes");
  const char* pool = reinterpret_cast<const char*>(b + fmt::kThPool);
  h->keyExpr.assign(pool, strnlen(pool, fmt::kPoolSize));
  std::size_t forStart = std::min<std::size_t>(h->keyExpr.size() + 1, fmt::kPoolSize);
  h->forExpr.assign(pool + forStart, strnlen(pool + forStart, fmt::kPoolSize - forStart));
  if (h->keyLen < 1 || h->keyLen > fmt::kMaxKeyLen)
    return corrupt(r.name(), "key length " + std::to_string(h->keyLen) + " at offset " + std::to_string(off));
  return Status::okay();
}

// Walks one tree: down the first entries to the leftmost leaf, then along the right siblings.
Status readTree(Reader& r, const TreeHeader& h, std::uint8_t pad, Entries* out) {
  out->keyLen = h.keyLen;
  out->flat.clear();
  Page p;
  std::uint32_t off = h.root;
  for (int depth = 0;; ++depth) {
    if (depth > 32) return corrupt(r.name(), "tree deeper than 32 levels");
    Status s = r.readNode(off, &p, "a tree node pointer");
    if (!s.ok()) return s;
    std::uint16_t attr = fmt::le16(p.data() + fmt::kNdAttr);
    if (attr > 7) return corrupt(r.name(), "unknown node attribute at offset " + std::to_string(off));
    if (attr & fmt::kAttrLeaf) break;
    int count = fmt::le16(p.data() + fmt::kNdCount);
    if (count < 1 || count * (h.keyLen + 8) > fmt::kInteriorPayload)
      return corrupt(r.name(), "interior node with " + std::to_string(count) + " keys at offset " + std::to_string(off));
    off = fmt::be32(p.data() + fmt::kInteriorStart + h.keyLen + 4);
  }
  for (;;) {
    const std::size_t before = out->size();
    Status s = decodeLeaf(p, pad, r.name(), off, out);
    if (!s.ok()) return s;
    // Entries rise strictly by (key, record): the record number is stored big-endian after the key.
    for (std::size_t i = std::max<std::size_t>(before, 1); i < out->size(); ++i)
      if (std::memcmp(out->at(i - 1), out->at(i), out->entryBytes()) >= 0)
        return corrupt(r.name(), "keys out of order in leaf at offset " + std::to_string(off));
    std::uint32_t right = fmt::le32(p.data() + fmt::kNdRight);
    if (right == fmt::kNoNode) break;
    off = right;
    s = r.readNode(off, &p, "a right-sibling pointer");
    if (!s.ok()) return s;
    if (!(fmt::le16(p.data() + fmt::kNdAttr) & fmt::kAttrLeaf))
      return corrupt(r.name(), "sibling of a leaf is not a leaf at offset " + std::to_string(off));
  }
  return Status::okay();
}

std::string trimmed(const std::string& s) {
  std::size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

// The directory's tags, (header offset, name without trailing blanks), in header-offset order,
// which is creation order.
Status readDirectory(Reader& r, const TreeHeader& dir, std::vector<std::pair<std::uint32_t, std::string>>* out) {
  Entries names;
  Status s = readTree(r, dir, ' ', &names);
  if (!s.ok()) return s;
  out->clear();
  for (std::size_t i = 0; i < names.size(); ++i) out->push_back({names.recno(i), trimmed(names.key(i))});
  std::sort(out->begin(), out->end());
  return Status::okay();
}

// ---- writing ----

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

TreePlan planTree(const char* const* entries, std::size_t count, int keyLen, const LeafLayout& lay,
                  const NodeLimits& limits) {
  TreePlan plan;
  plan.dup.resize(count);
  plan.trail.resize(count);
  std::size_t i = 0;
  do {
    plan.leafStart.push_back(i);
    int n = 0, used = 0, prevTrail = 0;
    const char* prev = nullptr;
    while (i < count) {
      const char* e = entries[i];
      int trail = trailCount(e, keyLen);
      int dup = prev ? sharedWith(prev, prevTrail, e, trail, keyLen) : 0;
      int stored = keyLen - dup - trail;
      if (used + lay.N + stored > fmt::kLfPayload) break;
      if (limits.maxLeafKeys > 0 && n >= limits.maxLeafKeys) break;
      used += lay.N + stored;
      plan.dup[i] = static_cast<std::uint8_t>(dup);
      plan.trail[i] = static_cast<std::uint8_t>(trail);
      prev = e;
      prevTrail = trail;
      ++n;
      ++i;
    }
  } while (i < count);
  plan.fit = fmt::kInteriorPayload / (keyLen + 8);
  if (limits.maxInteriorKeys > 1) plan.fit = std::min(plan.fit, limits.maxInteriorKeys);
  std::size_t nodes = plan.leafStart.size();
  plan.levelPages.push_back(nodes);
  while (nodes > 1) {
    std::size_t up = 0;
    for (std::size_t k = 0; k < nodes;) {
      k += takeAt(nodes - k, plan.fit);
      ++up;
    }
    plan.levelPages.push_back(up);
    nodes = up;
  }
  return plan;
}

// Sequential page output to a file through a buffer of about 1 MB.
class PageSink {
 public:
  PageSink(File& f, std::uint64_t at) : file_(f), at_(at) { buf_.reserve(kChunk + fmt::kTreeHeaderSize); }
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
    if (status_.ok() && !buf_.empty()) status_ = file_.write(at_, buf_.data(), buf_.size());
    at_ += buf_.size();
    buf_.clear();
    return status_;
  }

 private:
  static constexpr std::size_t kChunk = 1u << 20;
  File& file_;
  std::uint64_t at_;
  std::vector<std::uint8_t> buf_;
  Status status_;
};

// Emits one tree's pages (leaves, then each interior level) at the sink's offset; answers the root.
// The region was checked to end within 32-bit offsets (writeRegion).
std::uint32_t emitTree(const char* const* entries, std::size_t count, int keyLen, const LeafLayout& lay,
                       const TreePlan& plan, PageSink& sink, std::uint16_t rootLeafAttr) {
  auto first = static_cast<std::uint32_t>(sink.offset());
  std::vector<NodeRef> level;
  std::size_t leaves = plan.leafStart.size();
  level.reserve(leaves);
  for (std::size_t k = 0; k < leaves; ++k) {
    std::size_t from = plan.leafStart[k], to = k + 1 < leaves ? plan.leafStart[k + 1] : count;
    std::uint32_t off = first + static_cast<std::uint32_t>(k * fmt::kPageSize);
    std::uint8_t* node = sink.grow(fmt::kPageSize);
    int used = 0, pos = fmt::kPageSize, n = 0;
    const char* prev = nullptr;
    for (std::size_t i = from; i < to; ++i, ++n) {
      const char* e = entries[i];
      const int trail = plan.trail[i], dup = plan.dup[i];
      int stored = keyLen - dup - trail;
      std::uint32_t recno = fmt::be32(reinterpret_cast<const std::uint8_t*>(e) + keyLen);
      std::uint64_t v = recno | static_cast<std::uint64_t>(dup) << lay.R | static_cast<std::uint64_t>(trail) << (lay.R + lay.D);
      for (int b = 0; b < lay.N; ++b) node[fmt::kLfEntriesStart + n * lay.N + b] = (v >> (8 * b)) & 0xFF;
      pos -= stored;
      std::memcpy(node + pos, e + dup, static_cast<std::size_t>(stored));
      used += lay.N + stored;
      prev = e;
    }
    std::uint16_t attr = leaves == 1 ? rootLeafAttr : fmt::kAttrLeaf;
    writeNodeHeader(node, attr, n, k == 0 ? fmt::kNoNode : off - fmt::kPageSize,
                    k + 1 == leaves ? fmt::kNoNode : off + fmt::kPageSize);
    writeLeafLayout(node, lay, fmt::kLfPayload - used);
    level.push_back({off, prev});
    sink.done();
  }
  while (level.size() > 1) {
    std::vector<NodeRef> up;
    auto levelFirst = static_cast<std::uint32_t>(sink.offset());
    std::size_t pagesHere = 0;
    for (std::size_t k = 0; k < level.size();) k += takeAt(level.size() - k, plan.fit), ++pagesHere;
    std::size_t idx = 0;
    for (std::size_t k = 0; k < level.size(); ++idx) {
      std::size_t take = takeAt(level.size() - k, plan.fit);
      std::uint32_t off = levelFirst + static_cast<std::uint32_t>(idx * fmt::kPageSize);
      std::uint8_t* node = sink.grow(fmt::kPageSize);
      std::uint16_t attr = pagesHere == 1 ? fmt::kAttrRoot : 0;
      writeNodeHeader(node, attr, static_cast<int>(take), idx == 0 ? fmt::kNoNode : off - fmt::kPageSize,
                      idx + 1 == pagesHere ? fmt::kNoNode : off + fmt::kPageSize);
      for (std::size_t j = 0; j < take; ++j) {
        const NodeRef& c = level[k + j];
        std::uint8_t* ent = node + fmt::kInteriorStart + j * (keyLen + 8);
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

Status readCdxCounter(File& file, std::uint32_t* counter) {
  std::uint8_t b[4];
  std::size_t got = 0;
  Status s = file.read(fmt::kThCounter, b, 4, &got);
  if (!s.ok()) return s;
  *counter = got == 4 ? fmt::le32(b) : 0;
  return Status::okay();
}

namespace {
Status readImage(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out, bool trees);
}

Status readCdx(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out) {
  return readImage(file, name, maxRecno, out, true);
}
Status readCdxTags(File& file, const std::string& name, CdxImage* out) {
  return readImage(file, name, 0xFFFFFFFFu, out, false);
}

namespace {
Status readImage(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out, bool trees) {
  Reader r(file, name);
  Status s = r.init();
  if (!s.ok()) return s;
  TreeHeader dir;
  s = readTreeHeader(r, 0, &dir);
  if (!s.ok()) return s;
  if (dir.keyLen != fmt::kTagNameLen || !(dir.options & fmt::kOptCompact) || !(dir.options & fmt::kOptCompound))
    return corrupt(name, "not a compound index (directory header does not match)");
  {
    Page p;
    s = r.readAt(0, 16, &p);
    if (!s.ok()) return s;
    out->counter = fmt::le32(p.data() + fmt::kThCounter);
  }
  out->regionStart = dir.root;
  std::vector<std::pair<std::uint32_t, std::string>> tags;
  s = readDirectory(r, dir, &tags);
  if (!s.ok()) return s;
  out->tags.clear();
  for (const auto& [hoff, tagName] : tags) {
    if (hoff % fmt::kPageSize != 0 || hoff < fmt::kTreeHeaderSize || hoff + 1024ull > r.size())
      return corrupt(name, "tag " + tagName + " has its header outside the file");
    TreeHeader th;
    s = readTreeHeader(r, hoff, &th);
    if (!s.ok()) return s;
    if (th.order != 0) return corrupt(name, "tag " + tagName + " is descending, which is not supported");
    out->regionEnd = std::max<std::uint64_t>(out->regionEnd, hoff + fmt::kTreeHeaderSize);
    Entries entries;
    entries.keyLen = th.keyLen;
    if (trees) s = readTree(r, th, ' ', &entries);
    if (!s.ok()) return s;
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (entries.recno(i) == 0 || entries.recno(i) > maxRecno)
        return corrupt(name, "tag " + tagName + " names record " + std::to_string(entries.recno(i)) + " beyond the table");
    TagImage img;
    img.name = tagName;
    img.keyExpr = th.keyExpr;
    img.forExpr = th.forExpr;
    img.keyLen = th.keyLen;
    img.unique = th.options & fmt::kOptUnique;
    img.count = entries.size();
    img.flat = std::move(entries.flat);
    out->tags.push_back(std::move(img));
  }
  out->regionEnd = std::max(out->regionEnd, r.highestPageEnd());
  return readCdxStamp(file, &out->stamp);
}
}  // namespace

CdxWriter::CdxWriter(const std::vector<const TagOut*>& tags, std::uint32_t maxRecno, const NodeLimits& limits)
    : tags_(tags), maxRecno_(std::max<std::uint32_t>(maxRecno, 1)), limits_(limits) {
  for (const TagOut* t : tags_) {
    LeafLayout lay = leafLayout(t->keyLen, maxRecno_);
    plans_.push_back(planTree(t->entries.data(), t->entries.size(), t->keyLen, lay, limits_));
  }
  // The directory: tag names blank-padded to 10, each with its header offset (filled in below).
  std::uint64_t treesAt = 0;
  for (std::size_t k = 0; k < tags_.size(); ++k) {
    std::string key = tags_[k]->name.substr(0, fmt::kTagNameLen);
    key.resize(fmt::kTagNameLen, ' ');
    dirNames_.push_back({key, k});
  }
  std::sort(dirNames_.begin(), dirNames_.end());
  dirFlat_.assign(dirNames_.size() * (fmt::kTagNameLen + 4), 0);
  for (std::size_t k = 0; k < dirNames_.size(); ++k) {
    std::memcpy(dirFlat_.data() + k * (fmt::kTagNameLen + 4), dirNames_[k].first.data(), fmt::kTagNameLen);
    dirPtrs_.push_back(dirFlat_.data() + k * (fmt::kTagNameLen + 4));
  }
  // Header offsets need the directory's size, which depends on the offsets' width only: plan it
  // with the widest possible record field first.
  dirLayout_ = leafLayout(fmt::kTagNameLen, 0xFFFFFFFFu);
  dirPlan_ = planTree(dirPtrs_.data(), dirPtrs_.size(), fmt::kTagNameLen, dirLayout_, {});
  treesAt = dirPlan_.pages() * fmt::kPageSize;
  size_ = treesAt;
  for (const TreePlan& p : plans_) size_ += fmt::kTreeHeaderSize + p.pages() * fmt::kPageSize;
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
  PageSink sink(file, base);
  std::uint32_t dirRoot = emitTree(dirPtrs_.data(), dirPtrs_.size(), fmt::kTagNameLen, dirLayout_, dirPlan_, sink,
                                   fmt::kAttrLeaf | fmt::kAttrRoot);
  for (std::size_t k = 0; k < tags_.size(); ++k) {
    const TagOut* t = tags_[k];
    const TreePlan& p = plans_[k];
    std::uint8_t* h = sink.grow(fmt::kTreeHeaderSize);
    auto root = static_cast<std::uint32_t>(headerAt[k] + fmt::kTreeHeaderSize + (p.pages() - 1) * fmt::kPageSize);
    std::uint8_t options = fmt::kTagOptions | (t->unique ? fmt::kOptUnique : 0) | (t->forExpr.empty() ? 0 : fmt::kOptFor);
    writeTreeHeader(h, root, 0, t->keyLen, options, t->keyExpr, t->forExpr);
    sink.done();
    std::uint32_t got = emitTree(t->entries.data(), t->entries.size(), t->keyLen, leafLayout(t->keyLen, maxRecno_), p,
                                 sink, fmt::kAttrLeaf | fmt::kAttrRoot);
    (void)got;  // equals root by construction
  }
  Status s = sink.flush();
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

Status readCdxStamp(File& file, CdxStamp* out) {
  *out = CdxStamp{};
  std::uint8_t b[fmt::kStChanging + 4];
  std::size_t got = 0;
  Status s = file.read(0, b, sizeof b, &got);
  if (!s.ok()) return s;
  if (got != sizeof b) return Status::okay();
  out->counter = fmt::le32(b + fmt::kThCounter);
  if (std::memcmp(b + fmt::kStMagic, fmt::kStampMagic, 4) != 0 || fmt::le32(b + fmt::kStCounter) != out->counter)
    return Status::okay();  // no stamp, or one left behind by a writer that does not keep it
  out->valid = true;
  out->recCount = fmt::le32(b + fmt::kStRecCount);
  out->changing = fmt::le32(b + fmt::kStChanging);
  out->table.size = fmt::le64(b + fmt::kStTableSize);
  out->table.modifiedNs = static_cast<std::int64_t>(fmt::le64(b + fmt::kStTableTime));
  out->table.hash = fmt::le64(b + fmt::kStTableHash);
  return Status::okay();
}

Status writeCdxStamp(File& file, const CdxStamp& stamp) {
  std::uint8_t b[fmt::kStChanging + 4];
  putStamp(b, stamp);
  return file.write(fmt::kStTableSize, b + fmt::kStTableSize, sizeof b - fmt::kStTableSize);
}

std::string dumpCdx(File& file, const std::string& name) {
  std::ostringstream os;
  Reader r(file, name);
  if (!r.init().ok()) return "unreadable\n";
  TreeHeader dir;
  if (!readTreeHeader(r, 0, &dir).ok()) return "unreadable directory header\n";
  std::vector<std::pair<std::string, std::uint32_t>> trees{{"(directory)", 0}};
  std::vector<std::pair<std::uint32_t, std::string>> tags;
  if (readDirectory(r, dir, &tags).ok())
    for (auto& [hoff, tagName] : tags) trees.push_back({tagName, hoff});
  for (const auto& [tname, hoff] : trees) {
    r.resetVisited();
    TreeHeader h;
    if (!readTreeHeader(r, hoff, &h).ok()) {
      os << "tag " << tname << ": unreadable header\n";
      continue;
    }
    os << "tag " << tname << " key \"" << h.keyExpr << "\" for \"" << h.forExpr << "\" keylen " << h.keyLen
       << " options 0x" << std::hex << int(h.options) << std::dec << "\n";
    // Breadth-first by level, following each level's leftmost node and its siblings.
    std::uint32_t first = h.root;
    for (int depth = 0; depth < 32 && first != fmt::kNoNode; ++depth) {
      std::uint32_t off = first, nextFirst = fmt::kNoNode;
      int guard = 0;
      while (off != fmt::kNoNode && guard++ < 100000) {
        Page p;
        if (!r.readNode(off, &p, "node").ok()) {
          os << "  bad node " << off << "\n";
          break;
        }
        std::uint16_t attr = fmt::le16(p.data());
        int count = fmt::le16(p.data() + 2);
        os << "  L" << depth << " node " << off << " attr " << attr << " keys " << count << "\n";
        if (attr & fmt::kAttrLeaf) {
          Entries es;
          es.keyLen = h.keyLen;
          if (!decodeLeaf(p, ' ', name, off, &es).ok()) os << "    (bad leaf)\n";
          for (std::size_t i = 0; i < es.size(); ++i) os << "    \"" << trimmed(es.key(i)) << "\" " << es.recno(i) << "\n";
        } else {
          for (int i = 0; i < count && 12 + (i + 1) * (h.keyLen + 8) <= 512; ++i) {
            const std::uint8_t* ent = p.data() + 12 + i * (h.keyLen + 8);
            std::string key(reinterpret_cast<const char*>(ent), h.keyLen);
            os << "    \"" << trimmed(key) << "\" " << fmt::be32(ent + h.keyLen) << " -> "
               << fmt::be32(ent + h.keyLen + 4) << "\n";
            if (i == 0 && nextFirst == fmt::kNoNode) nextFirst = fmt::be32(ent + h.keyLen + 4);
          }
        }
        if (attr & fmt::kAttrLeaf) nextFirst = fmt::kNoNode;
        off = fmt::le32(p.data() + fmt::kNdRight);
      }
      first = nextFirst;
    }
  }
  return os.str();
}

}  // namespace rdd
