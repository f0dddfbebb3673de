// Reading and writing a whole compound index image. A file holds a directory tree (tag names
// -> tag header offsets) and one compact B-tree per tag. Reading validates every page it visits
// (alignment, bounds, node layout, key order, loops); writing lays out the trees bottom-up from
// sorted entries.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rdd/env.h"

namespace rdd {

// Consecutive pages of one level of a tree.
struct PageRun {
  std::uint64_t first = 0;
  std::size_t count = 0;
};
// Where a written tree lies: its header, the entry bytes of its leaf layout, and for each level
// (the leaves first) the runs its nodes fill, in node order. Of a tree read from a file, also
// the entries of each leaf, so that a writer keeps a leaf only where it packs the same.
struct TreePlace {
  std::uint64_t headerAt = 0;
  int entryBytes = 0;
  std::vector<std::vector<PageRun>> levels;
  std::vector<std::uint16_t> leafEntries;
};

struct TagImage {
  std::string name;     // as the directory stores it: upper case, no blanks
  std::string keyExpr;
  std::string forExpr;
  int keyLen = 0;
  bool unique = false;
  std::vector<char> flat;  // entries, each keyLen key bytes + 4-byte big-endian record number
  std::size_t count = 0;
  // Of a tree read: its header, its root, where its leaves lie (in key order), the entries of
  // each and their entry bytes (0 when the leaves differ in it).
  std::uint64_t headerAt = 0;
  std::uint32_t root = 0;
  std::vector<PageRun> leafRuns;
  std::vector<std::uint16_t> leafEntries;
  int entryBytes = 0;
};

// Limits for writing; zero means "as many as fit in a 512-byte node".
struct NodeLimits {
  int maxLeafKeys = 0;
  int maxInteriorKeys = 0;
};

// The table file as it was when a stamp was written: its size, its modification time and a hash
// of its header and of its first and last records. A change in place moves the time, another
// table with the same count differs in the hash. All zero: not recorded.
struct TableFingerprint {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint64_t hash = 0;
  bool known() const { return hash != 0; }
  bool operator==(const TableFingerprint&) const = default;
};

// The driver's stamp in reserved bytes of the directory header (other programs write zeros there
// and ignore them). Valid only while its copy of the change counter equals the header's.
//   recCount  the table's record count the trees were written for
//   changing  openers that have changed the table or its orders since and not yet written them
//   table     the table file the trees agree with
//   beingWritten  the trees are being written over (or a writer stopped while it wrote them)
struct CdxStamp {
  bool valid = false;
  std::uint32_t counter = 0, recCount = 0, changing = 0;
  TableFingerprint table;
  bool beingWritten = false;
};

struct CdxImage {
  std::vector<TagImage> tags;  // in header-offset order, which is creation order
  std::uint32_t counter = 0;   // header bytes 8-11
  std::uint64_t regionStart = 0;  // first page of the trees (the directory root)
  std::uint64_t regionEnd = 0;    // end of the highest page the trees use
  CdxStamp stamp;
};

// Reads the whole file. `maxRecno` bounds record numbers found in leaves.
Status readCdx(File& file, const std::string& name, std::uint32_t maxRecno, CdxImage* out);
// Reads only the tag definitions (no tree pages); regionEnd is then the file's end.
Status readCdxTags(File& file, const std::string& name, CdxImage* out);
// Reads the tag definitions and the tree of `tag` only (the other tags come without entries);
// NotFound when the file holds no such tag.
Status readCdxTag(File& file, const std::string& name, const std::string& tag, std::uint32_t maxRecno, CdxImage* out);

// Where peekCdx looks: the first entry, the last, the first at or after a probe (only the probe's
// bytes are compared: a key prefix or a whole entry), the first after it, the last before it.
enum class PeekAt { First, Last, AtOrAfter, After, Before };
// One entry of tag `tag`, found by walking down its tree: only the pages on the way are read, each
// checked as a whole read checks it. `entry` (key bytes and big-endian record number) is left
// empty when there is none there.
Status peekCdx(File& file, const std::string& name, const std::string& tag, std::uint32_t maxRecno, PeekAt where,
               std::string_view probe, std::string* entry);

// Reads only the change counter (bytes 8-11 of the file header).
Status readCdxCounter(File& file, std::uint32_t* counter);
Status readCdxStamp(File& file, CdxStamp* out);
// Rewrites the stamp in place (the counter stays as it is).
Status writeCdxStamp(File& file, const CdxStamp& stamp);
// Before an image is written over the current one: marks the file as being written and moves
// the change counter on to `counter`, so that a reader that read any of it reads again.
Status markCdxBeingWritten(File& file, std::uint32_t counter);
void putStamp(std::uint8_t* header, const CdxStamp& stamp);

// A tag to write. Its entries are visited rather than listed, so that an image is written from the
// order's own memory: `entries(run)` calls run(first, count) for runs of entries in key order,
// `count` lying side by side from `first`, each keyLen key bytes + 4-byte big-endian recno; it
// may be called more than once and visits the same bytes each time, and is called on helper
// threads, the tags' at the same time: it only reads. Of a unique tag the image holds the first
// entry of each key only.
using EntryRun = std::function<void(const char* first, std::size_t count)>;

struct TagOut {
  std::string name;
  std::string keyExpr, forExpr;
  int keyLen = 0;
  bool unique = false;
  std::function<void(const EntryRun&)> entries;
  // The tree the file holds for this tag, when the entries changed since it was written are
  // known: where it lies, and the lowest entry inserted or erased since (empty: none).
  const TreePlace* placed = nullptr;
  std::string_view changedFrom;
};

// Lays out the trees (directory leaf, then each tag's header, leaves and interior levels) for
// placement anywhere, then writes them at a chosen 512-aligned base >= 1024 (the tags' pages as
// helper threads lay them out, so not in file order).
// `maxRecno` sizes the record-number bits of the leaves.
struct LeafLayout {
  int R, D, T, N;  // bits of record number, duplicate and trailing counts; bytes per entry
};
// The leaf layout of a tree whose records number up to `maxRecno`.
LeafLayout leafLayout(int keyLen, std::uint32_t maxRecno);
// Where one tree's leaves break (the first entry of each) and how many pages each level takes.
struct TreePlan {
  std::vector<const char*> leafFirst;   // empty for an empty tree, which is one empty leaf
  std::vector<std::uint16_t> leafEntries;  // how many entries each leaf takes
  std::vector<std::size_t> levelPages;  // leaves first
  int fit = 0;                          // children per interior node
  std::size_t pages() const {
    std::size_t n = 0;
    for (std::size_t p : levelPages) n += p;
    return n;
  }
};

// Greedy leaf packing as the writer lays leaves out: entries fed in order, each stored after the
// bytes it shares with the previous key of its leaf; a leaf takes entries while they fit.
class LeafPacker {
 public:
  LeafPacker(int keyLen, const LeafLayout& lay, const NodeLimits& limits);
  // Places `e` (readable until the next call), setting how many leading bytes it shares with the
  // key before it in its leaf and its trailing blanks; true when it begins a leaf.
  bool place(const char* e, int* dup, int* trail);
  std::size_t leaves() const { return leaves_ ? leaves_ : 1; }  // an empty tree is one empty leaf

 private:
  int keyLen_;
  LeafLayout lay_;
  NodeLimits limits_;
  std::size_t leaves_ = 0;
  int n_ = 0, used_ = 0, prevTrail_ = 0;
  const char* prev_ = nullptr;
};
// Children per interior node of a tree with keys of `keyLen` bytes.
int interiorFit(int keyLen, const NodeLimits& limits);
// Pages of each level of a tree over `leaves` leaves, the leaves first.
std::vector<std::size_t> levelPagesOver(std::size_t leaves, int fit);
// Where the tree of `tag` lies when it was laid out whole as this writer lays trees out: its
// leaves in one run right behind its header, then each level, the root last. Nothing otherwise.
std::optional<TreePlace> placeOfWholeTree(const TagImage& tag, const NodeLimits& limits);
// The most bytes the directory of `tags` tags takes.
std::uint64_t directoryBytesAtMost(std::size_t tags);

// The trees are placed one of two ways:
//  - whole, at a base: the directory, then each tag's header and pages, one after the other;
//  - over the image the file holds, when every tag's place in it is known and its leaf layout is
//    the same: the directory at the base and the tags' headers stay where they are, and
//    so does each level's run of leading nodes whose entries (and children) did not change; the
//    rest of each level goes behind the old image's end. Only the last node kept of a level is
//    written again (its right sibling moves), with the headers and the new pages.
class CdxWriter {
 public:
  CdxWriter(const std::vector<const TagOut*>& tags, std::uint32_t maxRecno, const NodeLimits& limits);
  // The bytes the image's pages take (the directory, the tags' headers and trees).
  std::uint64_t regionSize() const { return size_; }
  void placeWhole(std::uint64_t base);
  // False, leaving the placement as it was, when some tag has no place or another leaf layout.
  bool placeOver(std::uint64_t base, std::uint64_t oldEnd);
  // The end of the highest page placed.
  std::uint64_t placedEnd() const { return end_; }
  // Writes the pages as placed and answers the 1024-byte file header (with the stamp) that
  // points at them; the caller writes it last.
  Status writeRegion(File& file, std::uint32_t counter, const CdxStamp& stamp, std::vector<std::uint8_t>* header);
  // The plan and the place of the k-th tag's tree (in the order given).
  const TreePlan& plan(std::size_t k) const { return plans_[k]; }
  const TreePlace& place(std::size_t k) const { return places_[k]; }

 private:
  TagOut directoryTag() const;
  std::uint64_t directoryBytes() const;

  std::vector<const TagOut*> tags_;
  std::uint32_t maxRecno_;
  NodeLimits limits_;
  std::vector<TreePlan> plans_;
  std::vector<std::pair<std::string, std::size_t>> dirNames_;
  std::vector<char> dirFlat_;
  LeafLayout dirLayout_{};
  TreePlan dirPlan_;
  std::uint64_t size_ = 0;
  // The placement: where the directory goes, each tree's place, and how many leading nodes of
  // each of its levels are on disk already.
  std::uint64_t base_ = 0, end_ = 0;
  std::vector<TreePlace> places_;
  std::vector<std::vector<std::size_t>> onDisk_;
};

// A deterministic text dump of every tree of the file, page by page.
std::string dumpCdx(File& file, const std::string& name);

}  // namespace rdd
