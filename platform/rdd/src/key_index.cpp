#include "key_index.h"

#include <algorithm>
#include <cstring>

#include "format.h"

namespace rdd {
namespace {

int comparePrefix(const char* entry, std::string_view probe) {
  return std::memcmp(entry, probe.data(), probe.size());
}

}  // namespace

KeyIndex::KeyIndex(int keyLen, std::size_t blockEntries)
    : keyLen_(keyLen), entrySize_(static_cast<std::size_t>(keyLen) + 4), blockEntries_(std::max<std::size_t>(blockEntries, 4)) {}

void KeyIndex::clear() {
  blocks_.clear();
  count_ = 0;
  ++generation_;
}

std::string KeyIndex::makeEntry(std::string_view key, std::uint32_t recno) const {
  std::string e(entrySize_, ' ');
  std::memcpy(e.data(), key.data(), std::min<std::size_t>(key.size(), keyLen_));
  fmt::putBe32(reinterpret_cast<std::uint8_t*>(e.data()) + keyLen_, recno);
  return e;
}

std::size_t KeyIndex::findBlock(std::string_view probe) const {
  // First block whose last entry is >= probe.
  std::size_t lo = 0, hi = blocks_.size();
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    const Block& b = blocks_[mid];
    if (comparePrefix(b.data.data() + (b.count - 1) * entrySize_, probe) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

std::size_t KeyIndex::posInBlock(const Block& b, std::string_view probe) const {
  std::size_t lo = 0, hi = b.count;
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (comparePrefix(b.data.data() + mid * entrySize_, probe) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

void KeyIndex::insert(std::string_view entry) {
  ++generation_;
  ++count_;
  if (blocks_.empty()) {
    Block b;
    b.data.reserve(blockEntries_ * entrySize_);
    b.data.assign(entry.begin(), entry.end());
    b.count = 1;
    blocks_.push_back(std::move(b));
    return;
  }
  std::size_t bi = findBlock(entry);
  if (bi == blocks_.size()) bi = blocks_.size() - 1;
  Block* b = &blocks_[bi];
  std::size_t pos = posInBlock(*b, entry);
  b->data.insert(b->data.begin() + static_cast<std::ptrdiff_t>(pos * entrySize_), entry.begin(), entry.end());
  ++b->count;
  if (b->count >= 2 * blockEntries_) {
    Block tail;
    std::size_t keep = b->count / 2;
    tail.data.reserve(blockEntries_ * 2 * entrySize_);
    tail.data.assign(b->data.begin() + static_cast<std::ptrdiff_t>(keep * entrySize_), b->data.end());
    tail.count = b->count - keep;
    b->data.resize(keep * entrySize_);
    b->count = keep;
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(bi) + 1, std::move(tail));
  }
}

bool KeyIndex::erase(std::string_view entry) {
  std::size_t bi = findBlock(entry);
  if (bi == blocks_.size()) return false;
  Block& b = blocks_[bi];
  std::size_t pos = posInBlock(b, entry);
  if (pos >= b.count || std::memcmp(b.data.data() + pos * entrySize_, entry.data(), entrySize_) != 0) return false;
  b.data.erase(b.data.begin() + static_cast<std::ptrdiff_t>(pos * entrySize_),
               b.data.begin() + static_cast<std::ptrdiff_t>((pos + 1) * entrySize_));
  --b.count;
  if (b.count == 0) blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(bi));
  --count_;
  ++generation_;
  return true;
}

void KeyIndex::assignSorted(std::vector<char>&& flat, std::size_t count) {
  clear();
  count_ = count;
  for (std::size_t start = 0; start < count; start += blockEntries_) {
    std::size_t n = std::min(blockEntries_, count - start);
    Block b;
    b.data.reserve(blockEntries_ * 2 * entrySize_);
    b.data.assign(flat.begin() + static_cast<std::ptrdiff_t>(start * entrySize_),
                  flat.begin() + static_cast<std::ptrdiff_t>((start + n) * entrySize_));
    b.count = n;
    blocks_.push_back(std::move(b));
  }
  std::vector<char>().swap(flat);
}

KeyIndex::Cursor KeyIndex::lowerBound(std::string_view probe) const {
  std::size_t bi = findBlock(probe);
  if (bi == blocks_.size()) return {bi, 0};
  return {bi, posInBlock(blocks_[bi], probe)};
}

KeyIndex::Cursor KeyIndex::last() const {
  if (blocks_.empty()) return {0, 0};
  return {blocks_.size() - 1, blocks_.back().count - 1};
}

KeyIndex::Cursor KeyIndex::next(Cursor c) const {
  if (c.block >= blocks_.size()) return c;
  if (++c.pos >= blocks_[c.block].count) return {c.block + 1, 0};
  return c;
}

KeyIndex::Cursor KeyIndex::prev(Cursor c) const {
  if (c.block >= blocks_.size()) {
    if (blocks_.empty()) return {0, 0};
    return last();
  }
  if (c.pos > 0) return {c.block, c.pos - 1};
  if (c.block == 0) return {blocks_.size(), 0};
  return {c.block - 1, blocks_[c.block - 1].count - 1};
}

std::string_view KeyIndex::entry(Cursor c) const {
  return std::string_view(blocks_[c.block].data.data() + c.pos * entrySize_, entrySize_);
}

std::uint32_t KeyIndex::recno(Cursor c) const {
  return fmt::be32(reinterpret_cast<const std::uint8_t*>(entry(c).data()) + keyLen_);
}

}  // namespace rdd
