// Reading compound index files: whole images, one tag, the stamp, single entries found by
// walking down a tree, and a text dump. Every page read is checked (alignment, bounds, node
// layout, key order, loops) before anything in it is used.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "cdx_file.h"
#include "format.h"

namespace rdd {
namespace {

using Page = std::vector<std::uint8_t>;

Status corrupt(const std::string& name, const std::string& what) {
  return Status::error(StatusKind::Corruption, "index file " + name + ": " + what);
}


// Reading side: one file, its size, and a guard against visiting a page twice. Trees are laid out
// leaf after leaf, so reads are served from a window read ahead, not a system call per page.
class Reader {
 public:
  // `readAhead`: bytes read at once beyond a page asked for (trees are read leaf after leaf; a
  // single walk down a tree wants little more than its own pages).
  Reader(File& f, std::string name, std::size_t readAhead = kWindow)
      : file_(f), name_(std::move(name)), readAhead_(readAhead) {}

  Status init() {
    Status s = file_.size(&size_);
    if (!s.ok()) return s;
    if (size_ < 1536) return corrupt(name_, "file too short to hold a directory");
    visited_.assign(size_ / fmt::kPageSize + 1, false);
    return Status::okay();
  }
  Status readAt(std::uint64_t off, std::size_t n, Page* out) {
    if (off < windowAt_ || off + n > windowAt_ + window_.size()) {
      window_.resize(std::max(n, readAhead_));
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
  std::size_t readAhead_;
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

// Notes where a leaf lies, for a writer that may keep it: while the leaves lie in one run, as
// trees laid out whole do, their entry counts and entry bytes; after that, nothing.
void noteLeaf(std::uint32_t off, const Page& p, TagImage* tag) {
  std::vector<PageRun>& runs = tag->leafRuns;
  if (runs.size() > 1) return;
  if (!runs.empty() && runs.back().first + runs.back().count * fmt::kPageSize != off) {
    runs.push_back({off, 1});
    std::vector<std::uint16_t>().swap(tag->leafEntries);
    tag->entryBytes = 0;
    return;
  }
  if (runs.empty()) runs.push_back({off, 0});
  ++runs.back().count;
  const int entryBytes = p[fmt::kLfEntryBytes];
  tag->entryBytes = tag->leafEntries.empty() || tag->entryBytes == entryBytes ? entryBytes : 0;
  tag->leafEntries.push_back(static_cast<std::uint16_t>(fmt::le16(p.data() + fmt::kNdCount)));
}

// Walks one tree: down the first entries to the leftmost leaf, then along the right siblings;
// notes where its leaves lie in `where` when given.
Status readTree(Reader& r, const TreeHeader& h, std::uint8_t pad, Entries* out, TagImage* where = nullptr) {
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
    if (where) noteLeaf(off, p, where);
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

// Tag names are told apart without regard to case, as orders are named.
bool sameTagName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// Which trees readImage reads: every one, none, or the one of the tag named.
struct TreesToRead {
  bool all = false;
  const std::string* only = nullptr;
  bool wanted(const std::string& tag) const { return all || (only && sameTagName(*only, tag)); }
};

Status readImage(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out, TreesToRead trees) {
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
    TagImage img;
    if (trees.wanted(tagName)) s = readTree(r, th, ' ', &entries, &img);
    if (!s.ok()) return s;
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (entries.recno(i) == 0 || entries.recno(i) > maxRecno)
        return corrupt(name, "tag " + tagName + " names record " + std::to_string(entries.recno(i)) + " beyond the table");
    img.headerAt = hoff;
    img.root = th.root;
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
  // Trees left unread may reach anywhere in the file: nothing past its end is free for sure.
  if (!trees.all) out->regionEnd = std::max(out->regionEnd, r.size());
  return readCdxStamp(file, &out->stamp);
}
}  // namespace


Status readCdx(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out) {
  return readImage(file, name, maxRecno, out, {true, nullptr});
}
Status readCdxTags(File& file, const std::string& name, CdxImage* out) {
  return readImage(file, name, 0xFFFFFFFFu, out, {});
}
Status readCdxTag(File& file, const std::string& name, const std::string& tag, std::uint32_t maxRecno, CdxImage* out) {
  Status s = readImage(file, name, maxRecno, out, {false, &tag});
  if (!s.ok()) return s;
  for (const TagImage& t : out->tags)
    if (sameTagName(t.name, tag)) return s;
  return Status::error(StatusKind::NotFound, "index file " + name + " holds no tag " + tag);
}


Status readCdxStamp(File& file, CdxStamp* out) {
  *out = CdxStamp{};
  std::uint8_t b[fmt::kStChanging + 4];
  std::size_t got = 0;
  Status s = file.read(0, b, sizeof b, &got);
  if (!s.ok()) return s;
  if (got != sizeof b) return Status::okay();
  out->counter = fmt::le32(b + fmt::kThCounter);
  out->beingWritten = std::memcmp(b + fmt::kStMagic, fmt::kBeingWrittenMagic, 4) == 0;
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

namespace {

// Where a walk down a tree stops: the position of the first entry that does not sort before the
// place looked for, and whether the entry wanted is the one there or the one before it.
struct PeekRule {
  PeekAt where;
  std::string_view probe;
  bool sortsBefore(const char* entry, std::size_t entryBytes) const {
    if (where == PeekAt::First) return false;
    if (where == PeekAt::Last) return true;
    const int c = std::memcmp(entry, probe.data(), std::min(probe.size(), entryBytes));
    return where == PeekAt::After ? c <= 0 : c < 0;
  }
  bool backward() const { return where == PeekAt::Before || where == PeekAt::Last; }
};

// The entries of the leaf at `off`, checked as a whole read checks them.
Status readLeafAt(Reader& r, std::uint32_t off, int keyLen, std::uint32_t maxRecno, Entries* out) {
  Page p;
  Status s = r.readNode(off, &p, "a tree node pointer");
  if (!s.ok()) return s;
  if (!(fmt::le16(p.data() + fmt::kNdAttr) & fmt::kAttrLeaf))
    return corrupt(r.name(), "sibling of a leaf is not a leaf at offset " + std::to_string(off));
  out->keyLen = keyLen;
  out->flat.clear();
  s = decodeLeaf(p, ' ', r.name(), off, out);
  for (std::size_t i = 0; s.ok() && i < out->size(); ++i) {
    if (i > 0 && std::memcmp(out->at(i - 1), out->at(i), out->entryBytes()) >= 0)
      return corrupt(r.name(), "keys out of order in leaf at offset " + std::to_string(off));
    if (out->recno(i) == 0 || out->recno(i) > maxRecno)
      return corrupt(r.name(), "leaf at offset " + std::to_string(off) + " names record " +
                                   std::to_string(out->recno(i)) + " beyond the table");
  }
  return s;
}

}  // namespace

Status peekCdx(File& file, const std::string& name, const std::string& tag, std::uint32_t maxRecno, PeekAt where,
               std::string_view probe, std::string* entry) {
  entry->clear();
  Reader r(file, name, fmt::kPageSize);
  Status s = r.init();
  TreeHeader dir, th;
  if (s.ok()) s = readTreeHeader(r, 0, &dir);
  std::vector<std::pair<std::uint32_t, std::string>> tags;
  if (s.ok()) s = readDirectory(r, dir, &tags);
  if (!s.ok()) return s;
  auto named = std::find_if(tags.begin(), tags.end(), [&](const auto& t) { return sameTagName(t.second, tag); });
  if (named == tags.end()) return Status::error(StatusKind::NotFound, "index file " + name + " holds no tag " + tag);
  s = readTreeHeader(r, named->first, &th);
  if (!s.ok()) return s;
  const PeekRule rule{where, probe};
  const std::size_t es = static_cast<std::size_t>(th.keyLen) + 4, step = es + 4;
  // Down the interior nodes: into the first child whose highest entry does not sort before the
  // place, or the last child when every one does.
  std::uint32_t off = th.root;
  Page p;
  for (int depth = 0;; ++depth) {
    if (depth > 32) return corrupt(name, "tree deeper than 32 levels");
    s = r.readNode(off, &p, "a tree node pointer");
    if (!s.ok()) return s;
    const std::uint16_t attr = fmt::le16(p.data() + fmt::kNdAttr);
    if (attr > 7) return corrupt(name, "unknown node attribute at offset " + std::to_string(off));
    if (attr & fmt::kAttrLeaf) break;
    const int count = fmt::le16(p.data() + fmt::kNdCount);
    if (count < 1 || static_cast<std::size_t>(count) * step > fmt::kInteriorPayload)
      return corrupt(name, "interior node with " + std::to_string(count) + " keys at offset " + std::to_string(off));
    int child = 0;
    while (child + 1 < count && rule.sortsBefore(reinterpret_cast<const char*>(p.data()) + fmt::kInteriorStart + child * step, es))
      ++child;
    off = fmt::be32(p.data() + fmt::kInteriorStart + child * step + es);
  }
  r.resetVisited();
  Entries leaf;
  s = readLeafAt(r, off, th.keyLen, maxRecno, &leaf);
  if (!s.ok()) return s;
  std::size_t pos = 0;
  while (pos < leaf.size() && rule.sortsBefore(leaf.at(pos), es)) ++pos;
  if (rule.backward() ? pos == 0 : pos == leaf.size()) {
    // The entry wanted is in the neighbouring leaf, or there is none.
    const std::uint32_t next = fmt::le32(p.data() + (rule.backward() ? fmt::kNdLeft : fmt::kNdRight));
    if (next == fmt::kNoNode) return Status::okay();
    s = readLeafAt(r, next, th.keyLen, maxRecno, &leaf);
    if (!s.ok() || leaf.size() == 0) return s;
    pos = rule.backward() ? leaf.size() : 0;
  }
  entry->assign(leaf.at(rule.backward() ? pos - 1 : pos), es);
  return Status::okay();
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
