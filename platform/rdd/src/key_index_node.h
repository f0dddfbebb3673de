// What the parts of KeyIndex share: its nodes and how a node is searched.
#pragma once
#include <cstring>
#include <string_view>
#include <vector>

#include "key_index.h"

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

namespace keyindex {

inline int comparePrefix(const char* entry, std::string_view probe) {
  return std::memcmp(entry, probe.data(), probe.size());
}

// First slot of `n` whose entry (leaf) or child maximum (interior) is >= probe.
inline std::size_t slotFor(const char* keys, std::size_t count, std::size_t es, std::string_view probe) {
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

}  // namespace keyindex
}  // namespace rdd
