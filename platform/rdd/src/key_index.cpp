#include "key_index.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "format.h"

namespace rdd {

// The bytes of a node's entries: an allocation of its own (not cleared: a node's slots are
// written before they are read, count tells how many hold entries), or a stretch of a block of
// leaves built whole, which the index frees with the tree.
class KeyIndex::NodeBytes {
 public:
  NodeBytes() = default;
  ~NodeBytes() {
    if (owned_) delete[] bytes_;
  }
  NodeBytes(const NodeBytes&) = delete;
  NodeBytes& operator=(const NodeBytes&) = delete;
  void allocate(std::size_t n) {
    bytes_ = new char[n];
    size_ = n;
    owned_ = true;
  }
  void borrow(char* bytes, std::size_t n) {
    bytes_ = bytes;
    size_ = n;
  }
  char* data() { return bytes_; }
  const char* data() const { return bytes_; }
  std::size_t capacity() const { return size_; }

 private:
  char* bytes_ = nullptr;
  std::size_t size_ = 0;
  bool owned_ = false;
};

// A leaf holds up to leafCap_ entries (plus one slot for the moment before a split); an interior
// node up to innerCap_ children with the highest entry of each.
struct KeyIndex::Node {
  bool leaf = true;
  std::size_t count = 0;
  Node* prev = nullptr;  // leaves only
  Node* next = nullptr;
  NodeBytes keys;          // leaf: entries; interior: highest entry of each child
  std::vector<Node*> kids;  // interior only
};

namespace {

int comparePrefix(const char* entry, std::string_view probe) {
  return std::memcmp(entry, probe.data(), probe.size());
}

// Each leaf carries its node and one spare slot: about 6 % of a 4 KB leaf with long keys, half
// that at 8 KB, where a move within a leaf still costs less than finding it.
constexpr std::size_t kLeafBytes = 8192;
constexpr std::size_t kInnerFanout = 64;
constexpr std::uintptr_t kReleaseStep = 1 << 20;  // give back copied entries a megabyte at a time
constexpr std::size_t kGiveBackBytes = 16 << 20;   // a tree this large gives its pages back when dropped
constexpr std::size_t kMinMergedBatch = 4096;       // a batch grows to at least this many entries
constexpr std::size_t kTreePerBatch = 32;           // and to at most a 32nd of the tree
constexpr std::size_t kLeavesPerSingleInsert = 8;   // a merge pays once a batch has an entry per 8 leaves

}  // namespace

KeyIndex::KeyIndex(int keyLen, std::size_t leafEntries)
    : keyLen_(keyLen), entrySize_(static_cast<std::size_t>(keyLen) + 4) {
  leafCap_ = leafEntries ? std::max<std::size_t>(leafEntries, 2) : std::max<std::size_t>(kLeafBytes / entrySize_, 4);
  innerCap_ = leafEntries ? std::max<std::size_t>(leafEntries, 3) : kInnerFanout;
}

KeyIndex::~KeyIndex() { dropTree(); }

KeyIndex::KeyIndex(KeyIndex&& o) noexcept
    : keyLen_(o.keyLen_), entrySize_(o.entrySize_), leafCap_(o.leafCap_), innerCap_(o.innerCap_), count_(o.count_),
      generation_(o.generation_ + 1), root_(o.root_), blocks_(std::move(o.blocks_)), batch_(std::move(o.batch_)),
      batchCount_(o.batchCount_), read_(std::move(o.read_)) {
  o.read_ = nullptr;
  o.changedAll_ = true;
  o.root_ = nullptr;
  o.blocks_.clear();
  o.batch_.clear();
  o.batchCount_ = 0;
  o.count_ = 0;
  ++o.generation_;
}

KeyIndex& KeyIndex::operator=(KeyIndex&& o) noexcept {
  if (this == &o) return *this;
  dropTree();
  keyLen_ = o.keyLen_;
  entrySize_ = o.entrySize_;
  leafCap_ = o.leafCap_;
  innerCap_ = o.innerCap_;
  count_ = o.count_;
  generation_ = std::max(generation_, o.generation_) + 1;
  root_ = o.root_;
  blocks_ = std::move(o.blocks_);
  batch_ = std::move(o.batch_);
  batchCount_ = o.batchCount_;
  read_ = std::move(o.read_);
  o.read_ = nullptr;
  changedAll_ = o.changedAll_ = true;
  o.root_ = nullptr;
  o.blocks_.clear();
  o.batch_.clear();
  o.batchCount_ = 0;
  o.count_ = 0;
  ++o.generation_;
  return *this;
}

void KeyIndex::freeTree(Node* n) {
  if (!n) return;
  if (!n->leaf)
    for (std::size_t i = 0; i < n->count; ++i) freeTree(n->kids[i]);
  delete n;
}

namespace {

// Holds alive, and whether a large tree was dropped under them.
std::atomic<int> gHolds{0};
std::atomic<bool> gHeldPages{false};

}  // namespace

KeyIndex::HoldFreedMemory::HoldFreedMemory() { ++gHolds; }
KeyIndex::HoldFreedMemory::~HoldFreedMemory() {
  if (--gHolds == 0) releaseHeld();
}

void KeyIndex::releaseHeld() {
  if (gHeldPages.exchange(false)) (void)::malloc_trim(0);
}

// A large tree's nodes are freed one by one into the allocator's free lists, which keep the
// memory resident: the next large buffer would come on top of it. Once a large tree is gone, the
// free pages go back to the system, unless a hold keeps them for the trees built next.
void KeyIndex::dropTree() {
  const bool large = count_ * entrySize_ >= kGiveBackBytes;
  freeTree(root_);
  root_ = nullptr;
  blocks_.clear();
  freeBatch();
  releaseWorkingSpace();
  if (!large) return;
  gHeldPages = true;
  if (gHolds == 0) releaseHeld();
}

void KeyIndex::noteChange(const char* e) {
  if (!changedAll_ && (lowestChange_.empty() || std::memcmp(e, lowestChange_.data(), entrySize_) < 0))
    lowestChange_.assign(e, entrySize_);
}

bool KeyIndex::changedBelow(std::string_view entry) const {
  return changedAll_ || (!lowestChange_.empty() && std::memcmp(lowestChange_.data(), entry.data(), entrySize_) < 0);
}

void KeyIndex::clear() {
  changedAll_ = true;
  read_ = nullptr;
  dropTree();
  count_ = 0;
  ++generation_;
}

// The reader is let go of before it runs: what it puts in place (through clear) must not drop
// the function being run.
void KeyIndex::readNow() {
  std::function<void(KeyIndex&)> read = std::move(read_);
  read_ = nullptr;
  read(*this);
  ++generation_;
}

KeyIndex::Node* KeyIndex::newNode(bool leaf) {
  auto* n = new Node;
  n->leaf = leaf;
  std::size_t cap = (leaf ? leafCap_ : innerCap_) + 1;
  n->keys.allocate(cap * entrySize_);
  if (!leaf) n->kids.resize(cap, nullptr);
  return n;
}

void KeyIndex::copyEntry(Node* leaf, std::size_t at, const char* e) {
  std::memcpy(leaf->keys.data() + at * entrySize_, e, entrySize_);
}
void KeyIndex::setCount(Node* n, std::size_t c) { n->count = c; }
void KeyIndex::link(Node* left, Node* right) {
  left->next = right;
  right->prev = left;
}
std::size_t KeyIndex::leafCount(const Node* n) { return n->count; }
const char* KeyIndex::leafEntry(const Node* n, std::size_t i) const { return n->keys.data() + i * entrySize_; }

const char* KeyIndex::maxOf(const Node* n) const { return n->keys.data() + (n->count - 1) * entrySize_; }

// Stacks interior levels over `level` (the leaves, in order) until one root remains.
void KeyIndex::buildUpper(std::vector<Node*>& level, std::vector<std::vector<Node*>>* keptLevels, std::size_t held) {
  for (std::size_t depth = 0; level.size() + held > 1; ++depth, held = 0) {
    // Nodes kept from before stand first; their children are the first `held` nodes below them,
    // which `level` does not list.
    std::vector<Node*> up;
    if (keptLevels && depth < keptLevels->size()) up = std::move((*keptLevels)[depth]);
    std::size_t i = 0;
    for (const Node* n : up) i += n->count;
    for (i -= held; i < level.size();) {
      Node* n = newNode(false);
      std::size_t take = std::min(innerCap_, level.size() - i);
      for (std::size_t k = 0; k < take; ++k) {
        n->kids[k] = level[i + k];
        std::memcpy(n->keys.data() + k * entrySize_, maxOf(level[i + k]), entrySize_);
      }
      n->count = take;
      up.push_back(n);
      i += take;
    }
    level.swap(up);
  }
  root_ = level.empty() ? nullptr : level[0];
  ++generation_;
}

KeyIndex::LeafBlock::~LeafBlock() {
  if (bytes_) ::munmap(bytes_, mapped_);
}

KeyIndex::LeafBlock::LeafBlock(LeafBlock&& other) noexcept { *this = std::move(other); }

KeyIndex::LeafBlock& KeyIndex::LeafBlock::operator=(LeafBlock&& other) noexcept {
  if (this == &other) return *this;
  if (bytes_) ::munmap(bytes_, mapped_);
  bytes_ = std::exchange(other.bytes_, nullptr);
  mapped_ = std::exchange(other.mapped_, 0);
  leafCap_ = other.leafCap_;
  leafBytes_ = other.leafBytes_;
  entrySize_ = other.entrySize_;
  capacity_ = std::exchange(other.capacity_, 0);
  return *this;
}

// Each leaf's stretch keeps the spare slot every leaf has for the moment before a split, so the
// leaves need no memory of their own when they change later.
KeyIndex::LeafBlock KeyIndex::leafBlock(std::size_t count) const {
  LeafBlock block;
  block.leafCap_ = leafCap_;
  block.entrySize_ = entrySize_;
  block.leafBytes_ = (leafCap_ + 1) * entrySize_;
  block.capacity_ = count;
  if (count == 0) return block;
  block.mapped_ = (count + leafCap_ - 1) / leafCap_ * block.leafBytes_;
  void* p = ::mmap(nullptr, block.mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  block.bytes_ = static_cast<char*>(p);
  return block;
}

// One call instead of a page fault per page. Large pages would spare more, but finding room for
// them after a load (the system compacting its memory) cost more than they spared.
std::size_t KeyIndex::LeafBlock::populate(std::size_t from, std::size_t to) {
  to = std::min(to, capacity_);
  if (from >= to) return to;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto first = reinterpret_cast<std::uintptr_t>(slot(from)) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(slot(to - 1)) + entrySize_;
  (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);  // only spares faults
  return to;
}

bool KeyIndex::risesStrictly(const LeafBlock& block, std::size_t count) const {
  for (std::size_t i = 1; i < count; ++i)
    if (std::memcmp(block.slot(i - 1), block.slot(i), entrySize_) >= 0) return false;
  return true;
}

void KeyIndex::adoptLeaves(LeafBlock&& block, std::size_t count) {
  clear();
  std::vector<Node*> leaves;
  leaves.reserve((count + leafCap_ - 1) / leafCap_);
  for (std::size_t i = 0; i < count; i += leafCap_) {
    auto* leaf = new Node;
    leaf->keys.borrow(block.slot(i), block.leafBytes_);
    leaf->count = std::min(leafCap_, count - i);
    if (!leaves.empty()) link(leaves.back(), leaf);
    leaves.push_back(leaf);
  }
  if (count > 0) blocks_.push_back(std::move(block));
  count_ = count;
  buildUpper(leaves);
}

std::string KeyIndex::makeEntry(std::string_view key, std::uint32_t recno) const {
  std::string e(entrySize_, ' ');
  std::memcpy(e.data(), key.data(), std::min<std::size_t>(key.size(), keyLen_));
  fmt::putBe32(reinterpret_cast<std::uint8_t*>(e.data()) + keyLen_, recno);
  return e;
}

// First slot of `n` whose entry (leaf) or child maximum (interior) is >= probe.
static std::size_t slotFor(const char* keys, std::size_t count, std::size_t es, std::string_view probe) {
  std::size_t lo = 0, hi = count;
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (comparePrefix(keys + mid * es, probe) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// Inserts into the subtree at n; answers the new right sibling when n had to split.
KeyIndex::Node* KeyIndex::insertInto(Node* n, const char* e) {
  std::string_view probe(e, entrySize_);
  std::size_t cap = n->leaf ? leafCap_ : innerCap_;
  bool atEnd = false;  // the entry went after everything n held (ascending inserts)
  if (n->leaf) {
    std::size_t pos = slotFor(n->keys.data(), n->count, entrySize_, probe);
    atEnd = pos == n->count;
    char* at = n->keys.data() + pos * entrySize_;
    std::memmove(at + entrySize_, at, (n->count - pos) * entrySize_);
    std::memcpy(at, e, entrySize_);
    ++n->count;
  } else {
    std::size_t i = slotFor(n->keys.data(), n->count, entrySize_, probe);
    if (i == n->count) i = n->count - 1;
    makeRoomInLeaf(n, i, probe);
    Node* c = n->kids[i];
    Node* right = insertInto(c, e);
    std::memcpy(n->keys.data() + i * entrySize_, maxOf(c), entrySize_);
    if (right) {
      char* at = n->keys.data() + (i + 1) * entrySize_;
      std::memmove(at + entrySize_, at, (n->count - i - 1) * entrySize_);
      std::memcpy(at, maxOf(right), entrySize_);
      std::memmove(&n->kids[i + 2], &n->kids[i + 1], (n->count - i - 1) * sizeof(Node*));
      n->kids[i + 1] = right;
      ++n->count;
      atEnd = lastSplitAtEnd_ && i + 2 == n->count;
    }
  }
  lastSplitAtEnd_ = false;
  if (n->count <= cap) return nullptr;
  // Split in halves: the upper half moves to a new right sibling. An entry added after all the
  // node held (loading in key order) leaves the node full and starts the sibling with it alone,
  // so ascending loads fill their nodes instead of leaving them half empty.
  Node* r = newNode(n->leaf);
  std::size_t keep = atEnd ? n->count - 1 : n->count / 2, move = n->count - keep;
  lastSplitAtEnd_ = atEnd;
  std::memcpy(r->keys.data(), n->keys.data() + keep * entrySize_, move * entrySize_);
  if (!n->leaf) std::memcpy(r->kids.data(), n->kids.data() + keep, move * sizeof(Node*));
  r->count = move;
  n->count = keep;
  if (n->leaf) {
    r->next = n->next;
    if (r->next) r->next->prev = r;
    link(n, r);
  }
  return r;
}

// A full leaf about to take `probe` first hands entries to a sibling with room: those below the
// probe to its left sibling, else those above it to its right one. Rows loaded in nearly rising
// key order (each class's rows at the end, a little out of order among themselves) would
// otherwise split the last leaves in halves again and again and leave every leaf behind half
// empty. Only entries on the far side of the probe move, so the probe still belongs to the same
// leaf; the parent's entries follow the leaves' new highest entries.
void KeyIndex::makeRoomInLeaf(Node* parent, std::size_t i, std::string_view probe) {
  Node* full = parent->kids[i];
  if (!full->leaf || full->count < leafCap_) return;
  const std::size_t below = slotFor(full->keys.data(), full->count, entrySize_, probe);
  const std::size_t es = entrySize_;
  if (i > 0 && parent->kids[i - 1]->count < leafCap_ && below > 0) {
    Node* left = parent->kids[i - 1];
    const std::size_t moved = std::min(leafCap_ - left->count, below);
    std::memcpy(left->keys.data() + left->count * es, full->keys.data(), moved * es);
    left->count += moved;
    std::memmove(full->keys.data(), full->keys.data() + moved * es, (full->count - moved) * es);
    full->count -= moved;
    std::memcpy(parent->keys.data() + (i - 1) * es, maxOf(left), es);
    return;
  }
  const std::size_t above = full->count - below;
  if (i + 1 < parent->count && parent->kids[i + 1]->count < leafCap_ && above > 0) {
    Node* right = parent->kids[i + 1];
    const std::size_t moved = std::min(leafCap_ - right->count, above);
    std::memmove(right->keys.data() + moved * es, right->keys.data(), right->count * es);
    std::memcpy(right->keys.data(), full->keys.data() + (full->count - moved) * es, moved * es);
    right->count += moved;
    full->count -= moved;
    std::memcpy(parent->keys.data() + i * es, maxOf(full), es);
  }
}

std::size_t KeyIndex::bytesHeld() const {
  readIfUnread();
  std::size_t bytes = 0;
  for (const auto* blocks : {&batch_, &spareBlocks_})
    for (const Node* block : *blocks) bytes += sizeof(Node) + block->keys.capacity();
  std::vector<const Node*> open;
  if (root_) open.push_back(root_);
  while (!open.empty()) {
    const Node* n = open.back();
    open.pop_back();
    bytes += sizeof(Node) + n->keys.capacity() + n->kids.capacity() * sizeof(Node*);
    if (!n->leaf) open.insert(open.end(), n->kids.begin(), n->kids.begin() + static_cast<std::ptrdiff_t>(n->count));
  }
  return bytes;
}

// Adds the entry to the batch. A batch grown to a 32nd of the tree is merged at once: it
// holds little memory beside the tree, and even entries spread over every leaf share the cost of
// rewriting the leaves among enough of them.
void KeyIndex::insert(std::string_view entry) {
  readIfUnread();
  noteChange(entry.data());
  ++generation_;
  ++count_;
  if (batch_.empty() || batch_.back()->count == leafCap_) {
    if (spareBlocks_.empty()) {
      batch_.push_back(newNode(true));
    } else {
      batch_.push_back(spareBlocks_.back());
      spareBlocks_.pop_back();
    }
  }
  Node* block = batch_.back();
  copyEntry(block, block->count++, entry.data());
  ++batchCount_;
  if (batchCount_ >= std::max(kMinMergedBatch, (count_ - batchCount_) / kTreePerBatch)) mergeBatchNow(true);
}

void KeyIndex::insertOne(const char* e) {
  if (!root_) {
    root_ = newNode(true);
    copyEntry(root_, 0, e);
    root_->count = 1;
    return;
  }
  Node* right = insertInto(root_, e);
  if (right) {
    Node* up = newNode(false);
    up->kids[0] = root_;
    up->kids[1] = right;
    std::memcpy(up->keys.data(), maxOf(root_), entrySize_);
    std::memcpy(up->keys.data() + entrySize_, maxOf(right), entrySize_);
    up->count = 2;
    root_ = up;
  }
}

void KeyIndex::freeBatch() {
  for (Node* block : batch_) delete block;
  for (Node* block : spareBlocks_) delete block;
  batch_.clear();
  spareBlocks_.clear();
  batchCount_ = 0;
}

// The blocks of a merged batch take the next batch's entries: a load would otherwise free and
// allocate them again and again, leaving holes between the tree's nodes.
void KeyIndex::recycleBatch() {
  for (Node* block : batch_) block->count = 0;
  spareBlocks_.insert(spareBlocks_.end(), batch_.begin(), batch_.end());
  batch_.clear();
  batchCount_ = 0;
}

// A batch much smaller than the tree goes in entry by entry: a merge walks every leaf and stacks
// the interior levels anew, which only pays when many entries share that cost.
void KeyIndex::mergeBatchNow(bool moreToCome) {
  sortBatch();
  const std::size_t treeLeaves = (count_ - batchCount_) / leafCap_;
  if (root_ && sorted_.size() * kLeavesPerSingleInsert < treeLeaves)
    for (const char* e : sorted_) insertOne(e);
  else
    mergeIntoLeaves(sorted_);
  sorted_.clear();
  if (moreToCome) {
    recycleBatch();
  } else {
    freeBatch();
    releaseWorkingSpace();
  }
}

void KeyIndex::releaseWorkingSpace() {
  std::vector<const char*>().swap(sorted_);
  std::vector<const char*>().swap(sortSpare_);
  std::vector<std::size_t>().swap(runBounds_);
  std::vector<std::size_t>().swap(runSpare_);
}

// The batch's entries in order. Rows often arrive in key order or in long rising stretches (a
// class's members, a version after the one before it): those stretches are found as they are
// and merged pairwise, so a batch that already rises costs one comparison an entry.
void KeyIndex::sortBatch() {
  std::vector<const char*>& items = sorted_;
  items.clear();
  for (const Node* block : batch_)
    for (std::size_t i = 0; i < block->count; ++i) items.push_back(leafEntry(block, i));
  const std::size_t es = entrySize_;
  auto less = [es](const char* a, const char* b) { return std::memcmp(a, b, es) < 0; };
  std::vector<std::size_t>& bounds = runBounds_;  // where each rising stretch begins, then the end
  bounds.assign(1, 0);
  for (std::size_t i = 1; i < items.size(); ++i)
    if (less(items[i], items[i - 1])) bounds.push_back(i);
  bounds.push_back(items.size());
  std::vector<const char*>& merged = sortSpare_;
  if (bounds.size() > 2) merged.resize(items.size());
  // Two neighbouring stretches: the head of the first that lies below the second, and the tail of
  // the second that lies above the first, move without comparing each entry (a class's rows are
  // below the next class's, whatever their order within the class).
  auto mergePair = [&](std::size_t lo, std::size_t mid, std::size_t hi) {
    const auto first = items.begin() + static_cast<std::ptrdiff_t>(lo);
    const auto middle = items.begin() + static_cast<std::ptrdiff_t>(mid);
    const auto last = items.begin() + static_cast<std::ptrdiff_t>(hi);
    auto out = merged.begin() + static_cast<std::ptrdiff_t>(lo);
    if (middle == last) return (void)std::copy(first, middle, out);
    const auto head = std::upper_bound(first, middle, *middle, less);
    const auto tail = std::lower_bound(middle, last, *(middle - 1), less);
    out = std::copy(first, head, out);
    out = std::merge(head, middle, middle, tail, out, less);
    std::copy(tail, last, out);
  };
  while (bounds.size() > 2) {
    std::vector<std::size_t>& next = runSpare_;
    next.assign(1, 0);
    for (std::size_t r = 0; r + 1 < bounds.size(); r += 2) {
      const std::size_t hi = r + 2 < bounds.size() ? bounds[r + 2] : bounds[r + 1];
      mergePair(bounds[r], bounds[r + 1], hi);
      next.push_back(hi);
    }
    items.swap(merged);
    bounds.swap(next);
  }
}

// One walk over the leaves: a leaf that receives none of the sorted entries stays as it is; one
// that does is rewritten, with its share, into as many evenly filled leaves as they need. The
// interior levels are then stacked again over the leaves.
// The leaves before the first one that receives entries stay as they are, and so does every
// interior node whose children all lie before it: only the part of the tree from that leaf on is
// walked and stacked again. A load whose keys arrive after those held (a version after the one
// before it) pays for its end of the tree only.
void KeyIndex::mergeIntoLeaves(const std::vector<const char*>& sorted) {
  if (!root_) root_ = newNode(true);
  // The interior levels as they stand, each left to right, the level above the leaves first; and
  // the path down to the first leaf that receives entries.
  std::vector<std::vector<Node*>> interior;
  for (std::vector<Node*> nodes{root_}; !nodes.front()->leaf;) {
    std::vector<Node*> below;
    if (!nodes.front()->kids.front()->leaf)
      for (Node* n : nodes) below.insert(below.end(), n->kids.begin(), n->kids.begin() + static_cast<std::ptrdiff_t>(n->count));
    interior.insert(interior.begin(), std::move(nodes));
    if (below.empty()) break;
    nodes = std::move(below);
  }
  Node* firstReceiving = root_;
  const Node* parent = nullptr;  // of firstReceiving, above the leaves
  std::size_t slot = 0;          // of firstReceiving in it
  while (!firstReceiving->leaf) {
    parent = firstReceiving;
    slot = std::min(slotFor(parent->keys.data(), parent->count, entrySize_, std::string_view(sorted.front(), entrySize_)),
                    parent->count - 1);
    firstReceiving = parent->kids[slot];
  }
  // Leaves before it receive nothing; count them through the level above the leaves.
  std::size_t untouched = slot;
  if (parent)
    for (const Node* n : interior.front()) {
      if (n == parent) break;
      untouched += n->count;
    }
  // Per interior level, the nodes kept: those whose children are all kept below them.
  std::size_t keptBelow = untouched, keptLeaves = 0;
  for (std::vector<Node*>& level : interior) {
    std::size_t keep = 0, children = 0;
    while (keep < level.size() && children + level[keep]->count <= keptBelow) children += level[keep++]->count;
    if (&level == &interior.front()) keptLeaves = children;
    for (std::size_t i = keep; i < level.size(); ++i) delete level[i];
    level.resize(keep);
    keptBelow = keep;
  }
  // The leaves from the first one no kept node holds: untouched ones as they are, then the merge.
  Node* leaf = firstReceiving;
  for (std::size_t back = untouched - keptLeaves; back > 0; --back) leaf = leaf->prev;
  std::vector<Node*> leaves;
  for (; leaf != firstReceiving; leaf = leaf->next) leaves.push_back(leaf);
  std::size_t at = 0;
  while (leaf) {
    Node* next = leaf->next;
    std::size_t end = sorted.size();  // the last leaf takes every entry left
    if (next) {
      end = at;
      while (end < sorted.size() && std::memcmp(sorted[end], maxOf(leaf), entrySize_) <= 0) ++end;
    }
    if (end == at)
      leaves.push_back(leaf);
    else
      mergeIntoLeaf(leaf, sorted.data() + at, end - at, leaves);
    at = end;
    leaf = next;
  }
  if (keptLeaves == 0) leaves.front()->prev = nullptr;
  leaves.back()->next = nullptr;
  for (std::size_t i = 1; i < leaves.size(); ++i) link(leaves[i - 1], leaves[i]);
  buildUpper(leaves, &interior, keptLeaves);
}

void KeyIndex::mergeIntoLeaf(Node* leaf, const char* const* add, std::size_t n, std::vector<Node*>& out) {
  const std::size_t es = entrySize_, held = leaf->count, total = held + n;
  leafCopy_.assign(leaf->keys.data(), leaf->keys.data() + held * es);
  const char* old = leafCopy_.data();
  const std::size_t pieces = (total + leafCap_ - 1) / leafCap_;
  std::size_t fromOld = 0, fromAdd = 0;
  for (std::size_t p = 0; p < pieces; ++p) {
    Node* piece = p == 0 ? leaf : newNode(true);
    const std::size_t take = total / pieces + (p < total % pieces ? 1 : 0);
    char* dst = piece->keys.data();
    for (std::size_t k = 0; k < take; ++k, dst += es) {
      const bool oldFirst =
          fromOld < held && (fromAdd == n || std::memcmp(old + fromOld * es, add[fromAdd], es) <= 0);
      std::memcpy(dst, oldFirst ? old + fromOld++ * es : add[fromAdd++], es);
    }
    piece->count = take;
    out.push_back(piece);
  }
}

// Removes e from the subtree at n; *emptied tells the caller to drop n. Nodes may run underfull.
bool KeyIndex::eraseFrom(Node* n, const char* e, bool* emptied) {
  std::string_view probe(e, entrySize_);
  std::size_t i = slotFor(n->keys.data(), n->count, entrySize_, probe);
  if (i == n->count) return false;
  *emptied = false;
  if (n->leaf) {
    char* at = n->keys.data() + i * entrySize_;
    if (std::memcmp(at, e, entrySize_) != 0) return false;
    std::memmove(at, at + entrySize_, (n->count - i - 1) * entrySize_);
    --n->count;
  } else {
    Node* c = n->kids[i];
    bool childEmpty = false;
    if (!eraseFrom(c, e, &childEmpty)) return false;
    if (childEmpty) {
      if (c->leaf) {
        if (c->prev) c->prev->next = c->next;
        if (c->next) c->next->prev = c->prev;
      }
      delete c;
      char* at = n->keys.data() + i * entrySize_;
      std::memmove(at, at + entrySize_, (n->count - i - 1) * entrySize_);
      std::memmove(&n->kids[i], &n->kids[i + 1], (n->count - i - 1) * sizeof(Node*));
      --n->count;
    } else {
      std::memcpy(n->keys.data() + i * entrySize_, maxOf(c), entrySize_);
    }
  }
  *emptied = n->count == 0;
  return true;
}

bool KeyIndex::erase(std::string_view entry) {
  mergeBatch();
  noteChange(entry.data());
  if (!root_) return false;
  bool emptied = false;
  if (!eraseFrom(root_, entry.data(), &emptied)) return false;
  --count_;
  ++generation_;
  if (emptied) {
    delete root_;
    root_ = nullptr;
  } else {
    while (!root_->leaf && root_->count == 1) {
      Node* only = root_->kids[0];
      delete root_;
      root_ = only;
    }
  }
  return true;
}

// The entries are copied into leaves front to back (bulkLoad asks for them in order), and the
// pages of `flat` already copied are given back as the copy goes: an order and the sorted
// entries it is built from are never both held whole. Only pages wholly inside the buffer and
// wholly copied are released; the buffer is freed as usual at the end.
void KeyIndex::assignSorted(std::vector<char>&& flat, std::size_t count) {
  const char* data = flat.data();
  const std::size_t es = entrySize_;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  std::uintptr_t kept = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);  // first page not released
  bulkLoad(count, [&](std::size_t i) {
    const char* e = data + i * es;
    const std::uintptr_t copied = reinterpret_cast<std::uintptr_t>(e) & ~(page - 1);  // pages before e's
    if (copied >= kept + kReleaseStep) {
      (void)::madvise(reinterpret_cast<void*>(kept), copied - kept, MADV_DONTNEED);
      kept = copied;
    }
    return e;
  });
  std::vector<char>().swap(flat);
}

KeyIndex::Cursor KeyIndex::lowerBound(std::string_view probe) const {
  mergeBatch();
  const Node* n = root_;
  if (!n) return {};
  while (!n->leaf) {
    std::size_t i = slotFor(n->keys.data(), n->count, entrySize_, probe);
    if (i == n->count) return {};
    n = n->kids[i];
  }
  std::size_t pos = slotFor(n->keys.data(), n->count, entrySize_, probe);
  if (pos == n->count) return n->next ? Cursor{n->next, 0} : Cursor{};
  return {n, pos};
}

KeyIndex::Cursor KeyIndex::begin() const {
  mergeBatch();
  const Node* n = root_;
  if (!n) return {};
  while (!n->leaf) n = n->kids[0];
  return {n, 0};
}

KeyIndex::Cursor KeyIndex::last() const {
  mergeBatch();
  const Node* n = root_;
  if (!n) return {};
  while (!n->leaf) n = n->kids[n->count - 1];
  return {n, n->count - 1};
}

KeyIndex::Cursor KeyIndex::nextLeaf(Cursor c) const { return {c.leaf->next, 0}; }

KeyIndex::Cursor KeyIndex::next(Cursor c) const {
  if (!c.leaf) return c;
  if (c.pos + 1 < c.leaf->count) return {c.leaf, c.pos + 1};
  return c.leaf->next ? Cursor{c.leaf->next, 0} : Cursor{};
}

KeyIndex::Cursor KeyIndex::prev(Cursor c) const {
  if (!c.leaf) return last();
  if (c.pos > 0) return {c.leaf, c.pos - 1};
  const Node* p = c.leaf->prev;
  return p ? Cursor{p, p->count - 1} : Cursor{};
}

std::string_view KeyIndex::entry(Cursor c) const {
  return std::string_view(c.leaf->keys.data() + c.pos * entrySize_, entrySize_);
}

std::uint32_t KeyIndex::recno(Cursor c) const {
  return fmt::be32(reinterpret_cast<const std::uint8_t*>(entry(c).data()) + keyLen_);
}

}  // namespace rdd
