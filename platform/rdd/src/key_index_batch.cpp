// The batch of an order's inserted entries and its merge into the tree (see key_index.h).
#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#include "key_index.h"
#include "key_index_node.h"

namespace rdd {
namespace {

constexpr std::size_t kMinMergedBatch = 4096;     // a batch grows to at least this many entries
constexpr std::size_t kTreePerBatch = 64;         // and to at most a 64th of the tree
constexpr std::size_t kLeavesPerSingleInsert = 8;  // a merge pays once a batch has an entry per 8 leaves

}  // namespace

using keyindex::slotFor;

// Adds the entry to the batch. A batch grown to a 64th of the tree is merged behind: it
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
  if (batchCount_ >= std::max(kMinMergedBatch, (count_ - batchCount_) / kTreePerBatch)) mergeBehind();
}

void KeyIndex::mergeBehind() {
  waitForMerge();
  const std::size_t treeEntries = count_ - batchCount_;
  merging_.swap(batch_);
  batchCount_ = 0;
  try {
    merger_ = std::thread([this, treeEntries] {
      try {
        mergeBlocks(merging_, treeEntries);
      } catch (...) {
        mergeFailure_ = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    mergeBlocks(merging_, treeEntries);  // no thread to be had: merged here
    recycleBlocks(merging_);
  }
}

void KeyIndex::waitForMerge(bool rethrow) {
  if (merger_.joinable()) {
    merger_.join();
    recycleBlocks(merging_);
    ++generation_;  // entries moved between leaves (only this thread counts changes)
  }
  if (rethrow && mergeFailure_) std::rethrow_exception(std::exchange(mergeFailure_, nullptr));
}

void KeyIndex::freeBatch() {
  for (Node* block : batch_) delete block;
  for (Node* block : spareBlocks_) delete block;
  batch_.clear();
  spareBlocks_.clear();
  batchCount_ = 0;
}

// The blocks of a merged batch take the next batches' entries: a load would otherwise free and
// allocate them again and again, leaving holes between the tree's nodes.
void KeyIndex::recycleBlocks(std::vector<Node*>& blocks) {
  for (Node* block : blocks) block->count = 0;
  spareBlocks_.insert(spareBlocks_.end(), blocks.begin(), blocks.end());
  blocks.clear();
}

void KeyIndex::mergeBatchNow() {
  waitForMerge();
  mergeBlocks(batch_, count_ - batchCount_);
  ++generation_;
  freeBatch();
  releaseWorkingSpace();
}

// A batch much smaller than the tree goes in entry by entry: a merge walks every leaf and stacks
// the interior levels anew, which only pays when many entries share that cost.
void KeyIndex::mergeBlocks(const std::vector<Node*>& blocks, std::size_t treeEntries) {
  sortBatch(blocks);
  const std::size_t treeLeaves = treeEntries / leafCap_;
  if (root_ && sorted_.size() * kLeavesPerSingleInsert < treeLeaves)
    for (const char* e : sorted_) insertOne(e);
  else
    mergeIntoLeaves(sorted_);
  sorted_.clear();
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
void KeyIndex::sortBatch(const std::vector<Node*>& blocks) {
  std::vector<const char*>& items = sorted_;
  items.clear();
  for (const Node* block : blocks)
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

}  // namespace rdd
