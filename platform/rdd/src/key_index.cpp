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
#include "key_index_node.h"

namespace rdd {

namespace {

// Each leaf carries its node and one spare slot: about 6 % of a 4 KB leaf with long keys, half
// that at 8 KB, where a move within a leaf still costs less than finding it.
constexpr std::size_t kLeafBytes = 8192;
constexpr std::size_t kInnerFanout = 64;
constexpr std::uintptr_t kReleaseStep = 1 << 20;  // give back copied entries a megabyte at a time
constexpr std::size_t kGiveBackBytes = 16 << 20;   // a tree this large gives its pages back when dropped

}  // namespace

using keyindex::slotFor;

KeyIndex::KeyIndex(int keyLen, std::size_t leafEntries)
    : keyLen_(keyLen), entrySize_(static_cast<std::size_t>(keyLen) + 4) {
  leafCap_ = leafEntries ? std::max<std::size_t>(leafEntries, 2) : std::max<std::size_t>(kLeafBytes / entrySize_, 4);
  innerCap_ = leafEntries ? std::max<std::size_t>(leafEntries, 3) : kInnerFanout;
}

KeyIndex::~KeyIndex() { dropTree(); }

KeyIndex::KeyIndex(KeyIndex&& o) noexcept : keyLen_(o.keyLen_), entrySize_(o.entrySize_) {
  o.waitForMerge(false);
  leafCap_ = o.leafCap_;
  innerCap_ = o.innerCap_;
  count_ = o.count_;
  generation_ = o.generation_ + 1;
  root_ = o.root_;
  blocks_ = std::move(o.blocks_);
  batch_ = std::move(o.batch_);
  batchCount_ = o.batchCount_;
  read_ = std::move(o.read_);
  mergeFailure_ = std::exchange(o.mergeFailure_, nullptr);
  o.read_ = nullptr;
  o.noteReplaced();
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
  o.waitForMerge(false);
  mergeFailure_ = std::exchange(o.mergeFailure_, nullptr);
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
  noteReplaced();
  o.noteReplaced();
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
  waitForMerge(false);
  mergeFailure_ = nullptr;  // it damaged only the tree dropped here
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
  for (ChangeMark& m : marks_)
    if (!m.all && (m.lowest.empty() || std::memcmp(e, m.lowest.data(), entrySize_) < 0)) m.lowest.assign(e, entrySize_);
}

bool KeyIndex::changedBelow(std::string_view entry, Since since) const {
  const ChangeMark& m = marks_[static_cast<int>(since)];
  return m.all || (!m.lowest.empty() && std::memcmp(m.lowest.data(), entry.data(), entrySize_) < 0);
}

std::optional<std::string_view> KeyIndex::lowestChange(Since since) const {
  const ChangeMark& m = marks_[static_cast<int>(since)];
  if (m.all) return std::nullopt;
  return std::string_view(m.lowest);
}

void KeyIndex::clear() {
  noteReplaced();
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
  const_cast<KeyIndex*>(this)->waitForMerge();
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
