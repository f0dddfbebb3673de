// The in-memory image of one order: its entries (key bytes followed by the record number in
// big-endian, so that one memcmp orders by key and then by record) in a B+tree. Leaves hold
// about 8 KB of entries and are chained both ways; every interior node keeps, per child, the
// child's highest entry, as the index file does. A full leaf hands entries to a sibling with room
// before it splits, so loads in nearly rising key order pack their leaves. The driver keeps every
// open order in memory while the table is open and writes the index file from it.
//
// Inserted entries first collect in a batch, in arrival order and in leaf-sized blocks. Before
// anything reads the order (a look-up, a walk, an erase), or once the batch grows to a 64th
// of the tree, the batch is sorted and merged: only the leaves that receive entries are
// rewritten, and the interior levels are stacked again, so a load pays a copy and a few
// comparisons per key, the same however large the order grows, instead of a descent and a move
// within a leaf for each. A batch much smaller than the tree goes in entry by entry, each costing
// O(log n) plus a move of at most one leaf. Erasing costs the same.
//
// A batch merged for its size is merged behind the inserts, on a helper thread, while the next
// batch fills: the merge owns the tree until the next merge or read waits for it (waitForMerge).
// Only the inserting thread uses the index; the helper never outlives a merge.
#pragma once
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace rdd {

class KeyIndex {
 public:
  struct Node;
  class NodeBytes;
  // A position: a leaf and an entry in it (leaf null: the end). Valid until the next change
  // (generation() tells).
  struct Cursor {
    const Node* leaf = nullptr;
    std::size_t pos = 0;
  };

  // `leafEntries` 0: as many as fit in about 8 KB (tests pass small numbers to force splits).
  explicit KeyIndex(int keyLen = 1, std::size_t leafEntries = 0);
  ~KeyIndex();
  KeyIndex(KeyIndex&& other) noexcept;
  KeyIndex& operator=(KeyIndex&& other) noexcept;
  KeyIndex(const KeyIndex&) = delete;
  KeyIndex& operator=(const KeyIndex&) = delete;

  int keyLen() const { return keyLen_; }
  std::size_t entrySize() const { return entrySize_; }
  std::size_t size() const {
    readIfUnread();
    return count_;
  }
  std::uint64_t generation() const {
    readIfUnread();
    return generation_;
  }
  // An order whose entries still lie in its file: `read` is called once, before the first look at
  // the entries or change to them, and puts them in place (assignSorted, bulkLoad or clear); it
  // gets this index. Replacing or clearing the content first drops it. Moves carry it along.
  void readOnFirstUse(std::function<void(KeyIndex&)> read) {
    clear();
    read_ = std::move(read);
  }
  bool unread() const { return static_cast<bool>(read_); }

  // Changes are followed from two marks: since the tree was last sized, and since it was last
  // written. Whether, since a mark, an entry below `entry` was inserted or erased, or the content
  // was replaced: a tree laid out again from `entry` on needs nothing before it changed.
  enum class Since { Sized, Written };
  void markChanges(Since since) { marks_[static_cast<int>(since)] = {false, {}}; }
  bool changedBelow(std::string_view entry, Since since) const;
  // The lowest entry inserted or erased since the mark (empty: none), or nothing when the content
  // was replaced.
  std::optional<std::string_view> lowestChange(Since since) const;
  // What the nodes take in memory, to judge how densely the entries are packed.
  std::size_t bytesHeld() const;
  void clear();

  // Entry bytes for (key, recno); key must be keyLen bytes.
  std::string makeEntry(std::string_view key, std::uint32_t recno) const;
  void insert(std::string_view entry);
  bool erase(std::string_view entry);
  // Entries inserted and not yet merged into the tree (what the next read merges).
  std::size_t batched() const { return batchCount_; }
  // Replaces the whole content with `count` entries already in order; entry(i) answers the i-th.
  template <class EntryAt>
  void bulkLoad(std::size_t count, EntryAt&& entryAt) {
    clear();
    std::vector<Node*> level;
    for (std::size_t i = 0; i < count;) {
      Node* leaf = newNode(true);
      std::size_t take = std::min(leafCap_, count - i);
      for (std::size_t k = 0; k < take; ++k) copyEntry(leaf, k, entryAt(i + k));
      setCount(leaf, take);
      if (!level.empty()) link(level.back(), leaf);
      level.push_back(leaf);
      i += take;
    }
    count_ = count;
    buildUpper(level);
  }
  // Replaces the whole content with `count` packed entries already in order; the memory of
  // `flat` is given back while its entries are copied.
  void assignSorted(std::vector<char>&& flat, std::size_t count);
  // Room for `count` entries laid out as this index's leaves, the i-th at slot(i): an index built
  // whole from one needs no copy of its entries and no allocation per leaf. Pages never written
  // take no memory; populate() readies those of slots [from, to) ahead of their writes and
  // answers `to` (at most the capacity).
  class LeafBlock {
   public:
    LeafBlock() = default;
    ~LeafBlock();
    LeafBlock(LeafBlock&& other) noexcept;
    LeafBlock& operator=(LeafBlock&& other) noexcept;
    char* slot(std::size_t i) const { return bytes_ + i / leafCap_ * leafBytes_ + i % leafCap_ * entrySize_; }
    std::size_t capacity() const { return capacity_; }
    std::size_t populate(std::size_t from, std::size_t to);

   private:
    friend class KeyIndex;
    char* bytes_ = nullptr;
    std::size_t mapped_ = 0, leafCap_ = 1, leafBytes_ = 0, entrySize_ = 0, capacity_ = 0;
  };
  LeafBlock leafBlock(std::size_t count) const;
  // Replaces the whole content with the entries in the first `count` slots of `block`, which
  // rise strictly; the leaves keep the block's memory.
  void adoptLeaves(LeafBlock&& block, std::size_t count);
  // Replaces the whole content with `count` entries whose places are known before their bytes:
  // fill(slot) writes the i-th entry at slot(i), in any order, straight into the leaves. Answers
  // false, leaving the index empty, when fill does or when the entries written do not rise
  // strictly.
  template <class Fill>
  bool fillInPlace(std::size_t count, Fill&& fill) {
    clear();
    LeafBlock block = leafBlock(count);
    block.populate(0, count);  // every slot is written
    if (!fill([&block](std::size_t i) { return block.slot(i); }) || !risesStrictly(block, count)) return false;
    adoptLeaves(std::move(block), count);
    return true;
  }

  // First entry >= probe where only the probe's bytes are compared (a key prefix or a whole entry).
  Cursor lowerBound(std::string_view probe) const;
  Cursor begin() const;
  Cursor last() const;
  bool atEnd(Cursor c) const { return c.leaf == nullptr; }
  Cursor next(Cursor c) const;
  Cursor prev(Cursor c) const;  // atEnd when before the first
  std::string_view entry(Cursor c) const;
  std::string_view key(Cursor c) const { return entry(c).substr(0, keyLen_); }
  std::uint32_t recno(Cursor c) const;

  // While one of these lives, large trees dropped keep their freed pages, so that the trees built
  // next take them over instead of faulting in fresh ones; the pages left over go back to the
  // system when the last one ends (or at releaseHeld()).
  class HoldFreedMemory {
   public:
    HoldFreedMemory();
    ~HoldFreedMemory();
    HoldFreedMemory(const HoldFreedMemory&) = delete;
    HoldFreedMemory& operator=(const HoldFreedMemory&) = delete;
  };
  // Gives back at once the pages held since a large tree was dropped (before a large buffer that
  // could not take them over).
  static void releaseHeld();

  // Reads the entries still in the file and merges the batch. Walks that follow only read the
  // nodes, so walks of different indexes may run on different threads at once.
  void settle() const { mergeBatch(); }
  // Visits every entry in order, a leaf at a time: run(first, count) for `count` entries that lie
  // side by side from `first`, entrySize() bytes each.
  template <class F>
  void forEachRun(F&& run) const {
    mergeBatch();
    for (Cursor c = begin(); c.leaf; c = nextLeaf(c)) run(leafEntry(c.leaf, 0), leafCount(c.leaf));
  }
  // Visits every entry in order.
  template <class F>
  void forEach(F&& f) const {
    forEachRun([&](const char* first, std::size_t count) {
      for (std::size_t i = 0; i < count; ++i) f(std::string_view(first + i * entrySize_, entrySize_));
    });
  }

 private:
  Node* newNode(bool leaf);
  void freeTree(Node* n);
  void dropTree();
  void copyEntry(Node* leaf, std::size_t at, const char* e);
  static void setCount(Node* n, std::size_t c);
  static void link(Node* left, Node* right);
  // Stacks the interior levels over `level` (the leaves, in order). `keptLevels`: per level above
  // the leaves, interior nodes kept from before, whose children are the first nodes of the level
  // below them; the first `held` leaves are theirs and not in `level`.
  void buildUpper(std::vector<Node*>& level, std::vector<std::vector<Node*>>* keptLevels = nullptr,
                  std::size_t held = 0);
  bool risesStrictly(const LeafBlock& block, std::size_t count) const;
  Cursor nextLeaf(Cursor c) const;
  static std::size_t leafCount(const Node* n);
  const char* leafEntry(const Node* n, std::size_t i) const;
  void insertOne(const char* e);
  Node* insertInto(Node* n, const char* e);
  void makeRoomInLeaf(Node* parent, std::size_t i, std::string_view probe);
  bool eraseFrom(Node* n, const char* e, bool* emptied);
  const char* maxOf(const Node* n) const;
  // Merges the batch into the tree. Reading an order merges first; what the reader sees of the
  // content does not change, only where the entries are held.
  void mergeBatch() const {
    readIfUnread();
    const_cast<KeyIndex*>(this)->waitForMerge();
    if (batchCount_) const_cast<KeyIndex*>(this)->mergeBatchNow();
  }
  void readIfUnread() const {
    if (read_) const_cast<KeyIndex*>(this)->readNow();
  }
  void readNow();
  // Merges the batch on this thread, for a read: its blocks and the merge's working space go.
  void mergeBatchNow();
  // Hands the batch, grown to its size, to a merge behind the inserts; the next batch starts.
  void mergeBehind();
  // Waits for a merge behind to end; its blocks take the next batches' entries. A failure of the
  // merge (out of memory) is thrown here, unless `rethrow` is false (a move, a drop), when it
  // stays for the next wait.
  void waitForMerge(bool rethrow = true);
  // Sorts and merges the entries of `blocks` into a tree of `treeEntries` entries.
  void mergeBlocks(const std::vector<Node*>& blocks, std::size_t treeEntries);
  void releaseWorkingSpace();
  // Sorts the entries of `blocks` into sorted_.
  void sortBatch(const std::vector<Node*>& blocks);
  void mergeIntoLeaves(const std::vector<const char*>& sorted);
  void mergeIntoLeaf(Node* leaf, const char* const* add, std::size_t n, std::vector<Node*>& out);
  void freeBatch();
  void recycleBlocks(std::vector<Node*>& blocks);

  int keyLen_;
  std::size_t entrySize_;
  std::size_t leafCap_, innerCap_;
  std::size_t count_ = 0;
  std::uint64_t generation_ = 0;
  Node* root_ = nullptr;
  std::vector<LeafBlock> blocks_;  // memory of leaves built whole, freed with the tree
  std::vector<Node*> batch_;  // entries inserted since the last merge, leafCap_ to a block
  std::size_t batchCount_ = 0;
  std::vector<Node*> spareBlocks_;  // emptied blocks of merged batches
  std::thread merger_;              // the merge behind, while one runs
  std::vector<Node*> merging_;      // the batch it merges
  std::exception_ptr mergeFailure_;
  // Working space of a merge, kept from one merge to the next while a load goes on: allocated
  // anew each time it would leave holes in the heap between the tree's nodes.
  std::vector<char> leafCopy_;  // a leaf's entries while a merge rewrites it
  std::vector<const char*> sorted_, sortSpare_;
  std::vector<std::size_t> runBounds_, runSpare_;
  bool lastSplitAtEnd_ = false;  // the split just made by insertInto moved only the new last entry
  std::function<void(KeyIndex&)> read_;  // set while the entries are still to be read
  void noteChange(const char* e);
  void noteReplaced() { marks_[0].all = marks_[1].all = true; }
  struct ChangeMark {
    bool all = true;     // the content was replaced
    std::string lowest;  // the lowest entry inserted or erased
  };
  ChangeMark marks_[2];  // since the mark of each Since
};

}  // namespace rdd
