#include "cdx_file.h"

#include <algorithm>
#include <cstring>
#include <set>
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

// Reading side: one file, its size, and a guard against visiting a page twice.
class Reader {
 public:
  Reader(File& f, std::string name) : file_(f), name_(std::move(name)) {}

  Status init() {
    Status s = file_.size(&size_);
    if (!s.ok()) return s;
    if (size_ < 1536) return corrupt(name_, "file too short to hold a directory");
    return Status::okay();
  }
  Status readAt(std::uint64_t off, std::size_t n, Page* out) {
    out->assign(n, 0);
    std::size_t got = 0;
    Status s = file_.read(off, out->data(), n, &got);
    if (!s.ok()) return s;
    if (got != n) return corrupt(name_, "unexpected end of file at offset " + std::to_string(off));
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
    if (!visited_.insert(off).second)
      return corrupt(name_, "a cycle or shared page in the index pointers at offset " + std::to_string(off));
    return readAt(off, fmt::kPageSize, out);
  }
  void resetVisited() { visited_.clear(); }
  std::uint64_t size() const { return size_; }
  const std::string& name() const { return name_; }

 private:
  File& file_;
  std::string name_;
  std::uint64_t size_ = 0;
  std::set<std::uint32_t> visited_;
};

struct LeafEntry {
  std::string key;
  std::uint32_t recno;
};

Status decodeLeaf(const Page& p, int keyLen, std::uint8_t pad, const std::string& name, std::uint32_t off,
                  std::vector<LeafEntry>* out) {
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
  std::string prev;
  for (int i = 0; i < count; ++i) {
    std::uint64_t v = 0;
    for (int b = N - 1; b >= 0; --b) v = v << 8 | n[fmt::kLfEntriesStart + i * N + b];
    auto recno = static_cast<std::uint32_t>(v & recMask);
    int dup = static_cast<int>((v >> R) & dupMask);
    int trail = static_cast<int>((v >> (R + D)) & trailMask);
    if (i == 0) dup = dup == 0 ? 0 : -1;
    if (dup < 0 || dup > static_cast<int>(prev.size()) || dup + trail > keyLen)
      return corrupt(name, "key compression counts out of range" + where);
    int len = keyLen - dup - trail;
    pos -= len;
    if (pos < floor) return corrupt(name, "key bytes overlap the entry table" + where);
    std::string key = prev.substr(0, dup);
    key.append(reinterpret_cast<const char*>(n + pos), len);
    key.append(trail, static_cast<char>(pad));
    prev = key;
    out->push_back({std::move(key), recno});
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
Status readTree(Reader& r, const TreeHeader& h, std::uint8_t pad, std::vector<LeafEntry>* out) {
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
  std::string lastEntry;
  for (;;) {
    std::vector<LeafEntry> leaf;
    Status s = decodeLeaf(p, h.keyLen, pad, r.name(), off, &leaf);
    if (!s.ok()) return s;
    for (auto& e : leaf) {
      std::string cmp = e.key;
      cmp.push_back(static_cast<char>(e.recno >> 24));
      cmp.push_back(static_cast<char>(e.recno >> 16));
      cmp.push_back(static_cast<char>(e.recno >> 8));
      cmp.push_back(static_cast<char>(e.recno));
      if (!lastEntry.empty() && std::memcmp(lastEntry.data(), cmp.data(), cmp.size()) >= 0)
        return corrupt(r.name(), "keys out of order in leaf at offset " + std::to_string(off));
      lastEntry = std::move(cmp);
      out->push_back(std::move(e));
    }
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

// ---- writing ----

struct LeafLayout {
  int R, D, T, N;
};

LeafLayout leafLayout(int keyLen, std::uint32_t maxRecno) {
  LeafLayout l{};
  l.D = l.T = bitsFor(static_cast<std::uint64_t>(keyLen));
  int need = bitsFor(maxRecno);
  l.N = (need + 2 * l.D + 7) / 8;
  l.R = std::min(8 * l.N - 2 * l.D, 32);
  return l;
}

int trailCount(const char* key, int keyLen) {
  int t = 0;
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

// Appends one tree's pages to `region` (which starts at file offset `base`); returns the root.
std::uint32_t encodeTree(const char* const* entries, std::size_t count, int keyLen, std::uint32_t maxRecno,
                         const NodeLimits& limits, std::uint64_t base, std::vector<std::uint8_t>* region) {
  LeafLayout lay = leafLayout(keyLen, maxRecno);
  auto newPage = [&]() {
    std::size_t at = region->size();
    region->resize(at + fmt::kPageSize, 0);
    return at;
  };
  auto offsetOf = [&](std::size_t at) { return static_cast<std::uint32_t>(base + at); };

  std::vector<NodeRef> level;
  std::vector<std::size_t> pagesAt;
  std::size_t i = 0;
  do {
    std::size_t at = newPage();
    int n = 0, used = 0, pos = fmt::kPageSize;
    const char* prev = nullptr;
    int prevTrail = 0;
    while (i < count) {
      const char* e = entries[i];
      int trail = trailCount(e, keyLen);
      int dup = 0;
      if (prev) {
        int limit = std::min(keyLen - prevTrail, keyLen - trail);
        while (dup < limit && prev[dup] == e[dup]) ++dup;
      }
      int stored = keyLen - dup - trail;
      if (used + lay.N + stored > fmt::kLfPayload) break;
      if (limits.maxLeafKeys > 0 && n >= limits.maxLeafKeys) break;
      std::uint8_t* node = region->data() + at;
      std::uint32_t recno = fmt::be32(reinterpret_cast<const std::uint8_t*>(e) + keyLen);
      std::uint64_t v = recno | static_cast<std::uint64_t>(dup) << lay.R |
                        static_cast<std::uint64_t>(trail) << (lay.R + lay.D);
      for (int b = 0; b < lay.N; ++b) node[fmt::kLfEntriesStart + n * lay.N + b] = (v >> (8 * b)) & 0xFF;
      pos -= stored;
      std::memcpy(node + pos, e + dup, static_cast<std::size_t>(stored));
      used += lay.N + stored;
      prev = e;
      prevTrail = trail;
      ++n;
      ++i;
    }
    std::uint8_t* node = region->data() + at;
    writeNodeHeader(node, fmt::kAttrLeaf, n, fmt::kNoNode, fmt::kNoNode);
    writeLeafLayout(node, lay, fmt::kLfPayload - used);
    pagesAt.push_back(at);
    level.push_back({offsetOf(at), prev});
  } while (i < count);
  auto link = [&](const std::vector<std::size_t>& pages) {
    for (std::size_t k = 0; k < pages.size(); ++k) {
      std::uint8_t* node = region->data() + pages[k];
      fmt::putLe32(node + fmt::kNdLeft, k == 0 ? fmt::kNoNode : offsetOf(pages[k - 1]));
      fmt::putLe32(node + fmt::kNdRight, k + 1 == pages.size() ? fmt::kNoNode : offsetOf(pages[k + 1]));
    }
  };
  link(pagesAt);
  std::uint16_t leafAttr = fmt::kAttrLeaf;
  if (level.size() == 1) {
    fmt::putLe16(region->data() + pagesAt[0] + fmt::kNdAttr, leafAttr | fmt::kAttrRoot);
    return level[0].offset;
  }
  int fit = fmt::kInteriorPayload / (keyLen + 8);
  if (limits.maxInteriorKeys > 1) fit = std::min(fit, limits.maxInteriorKeys);
  while (level.size() > 1) {
    std::vector<NodeRef> up;
    std::vector<std::size_t> upPages;
    for (std::size_t k = 0; k < level.size();) {
      std::size_t take = std::min<std::size_t>(fit, level.size() - k);
      // Never leave a lone child for the last interior node when it can be avoided.
      if (level.size() - k - take == 1 && take > 2) --take;
      std::size_t at = newPage();
      std::uint8_t* node = region->data() + at;
      writeNodeHeader(node, 0, static_cast<int>(take), fmt::kNoNode, fmt::kNoNode);
      for (std::size_t j = 0; j < take; ++j) {
        const NodeRef& c = level[k + j];
        std::uint8_t* ent = node + fmt::kInteriorStart + j * (keyLen + 8);
        std::memcpy(ent, c.lastEntry, static_cast<std::size_t>(keyLen) + 4);  // key + be32 recno
        fmt::putBe32(ent + keyLen + 4, c.offset);
      }
      up.push_back({offsetOf(at), level[k + take - 1].lastEntry});
      upPages.push_back(at);
      k += take;
    }
    link(upPages);
    level.swap(up);
    pagesAt.swap(upPages);
  }
  fmt::putLe16(region->data() + pagesAt[0] + fmt::kNdAttr, fmt::kAttrRoot);
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

std::string trimmed(const std::string& s) {
  std::size_t e = s.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : s.substr(0, e + 1);
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

Status readCdx(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out) {
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
  std::vector<LeafEntry> tags;
  s = readTree(r, dir, ' ', &tags);
  if (!s.ok()) return s;
  std::sort(tags.begin(), tags.end(), [](const LeafEntry& a, const LeafEntry& b) { return a.recno < b.recno; });
  out->tags.clear();
  for (const auto& t : tags) {
    std::uint32_t hoff = t.recno;
    if (hoff % fmt::kPageSize != 0 || hoff < fmt::kTreeHeaderSize || hoff + 1024ull > r.size())
      return corrupt(name, "tag " + trimmed(t.key) + " has its header outside the file");
    TreeHeader th;
    s = readTreeHeader(r, hoff, &th);
    if (!s.ok()) return s;
    if (th.order != 0) return corrupt(name, "tag " + trimmed(t.key) + " is descending, which is not supported");
    std::vector<LeafEntry> entries;
    s = readTree(r, th, ' ', &entries);
    if (!s.ok()) return s;
    TagImage img;
    img.name = trimmed(t.key);
    img.keyExpr = th.keyExpr;
    img.forExpr = th.forExpr;
    img.keyLen = th.keyLen;
    img.unique = th.options & fmt::kOptUnique;
    img.count = entries.size();
    img.flat.resize(entries.size() * (th.keyLen + 4));
    char* p = img.flat.data();
    for (const auto& e : entries) {
      if (e.recno == 0 || e.recno > maxRecno)
        return corrupt(name, "tag " + img.name + " names record " + std::to_string(e.recno) + " beyond the table");
      std::memcpy(p, e.key.data(), th.keyLen);
      fmt::putBe32(reinterpret_cast<std::uint8_t*>(p) + th.keyLen, e.recno);
      p += th.keyLen + 4;
    }
    out->tags.push_back(std::move(img));
  }
  return Status::okay();
}

EncodedCdx encodeCdx(const std::vector<const TagOut*>& tags, std::uint64_t base, std::uint32_t counter,
                     std::uint32_t maxRecno, const NodeLimits& limits) {
  EncodedCdx out;
  out.header.assign(fmt::kTreeHeaderSize, 0);
  // Directory root leaf first, then each tag's header and pages, in creation order.
  out.region.assign(fmt::kPageSize, 0);
  std::vector<std::pair<std::string, std::uint32_t>> dirEntries;
  for (const TagOut* t : tags) {
    std::size_t hat = out.region.size();
    out.region.resize(hat + fmt::kTreeHeaderSize, 0);
    std::uint32_t hoff = static_cast<std::uint32_t>(base + hat);
    std::uint32_t root = encodeTree(t->entries.data(), t->entries.size(), t->keyLen, std::max<std::uint32_t>(maxRecno, 1), limits,
                                    base, &out.region);
    std::uint8_t options = fmt::kTagOptions | (t->unique ? fmt::kOptUnique : 0) | (t->forExpr.empty() ? 0 : fmt::kOptFor);
    writeTreeHeader(out.region.data() + hat, root, 0, t->keyLen, options, t->keyExpr, t->forExpr);
    std::string key = t->name.substr(0, fmt::kTagNameLen);
    key.resize(fmt::kTagNameLen, ' ');
    dirEntries.push_back({key, hoff});
  }
  std::sort(dirEntries.begin(), dirEntries.end());
  std::vector<char> flat;
  std::uint32_t maxOff = 1;
  for (const auto& [k, off] : dirEntries) {
    flat.insert(flat.end(), k.begin(), k.end());
    std::uint8_t b[4];
    fmt::putBe32(b, off);
    flat.insert(flat.end(), b, b + 4);
    maxOff = std::max(maxOff, off);
  }
  // The directory is a single root leaf at `base`; encode it separately and copy it there.
  std::vector<std::uint8_t> dirPages;
  std::vector<const char*> dirPtrs;
  for (std::size_t k = 0; k < dirEntries.size(); ++k) dirPtrs.push_back(flat.data() + k * (fmt::kTagNameLen + 4));
  encodeTree(dirPtrs.data(), dirEntries.size(), fmt::kTagNameLen, maxOff, {}, base, &dirPages);
  std::memcpy(out.region.data(), dirPages.data(), fmt::kPageSize);
  writeTreeHeader(out.header.data(), static_cast<std::uint32_t>(base), counter, fmt::kTagNameLen,
                  fmt::kDirectoryOptions, "", "");
  return out;
}

std::string dumpCdx(File& file, const std::string& name) {
  std::ostringstream os;
  Reader r(file, name);
  if (!r.init().ok()) return "unreadable\n";
  TreeHeader dir;
  if (!readTreeHeader(r, 0, &dir).ok()) return "unreadable directory header\n";
  std::vector<std::pair<std::string, std::uint32_t>> trees{{"(directory)", 0}};
  std::vector<LeafEntry> tags;
  if (readTree(r, dir, ' ', &tags).ok()) {
    std::sort(tags.begin(), tags.end(), [](const LeafEntry& a, const LeafEntry& b) { return a.recno < b.recno; });
    for (auto& t : tags) trees.push_back({trimmed(t.key), t.recno});
  }
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
          std::vector<LeafEntry> es;
          if (!decodeLeaf(p, h.keyLen, ' ', name, off, &es).ok()) os << "    (bad leaf)\n";
          for (auto& e : es) os << "    \"" << trimmed(e.key) << "\" " << e.recno << "\n";
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
