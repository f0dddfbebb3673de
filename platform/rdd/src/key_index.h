// The in-memory image of one order: its entries (key bytes followed by the record number in
// big-endian, so that one memcmp orders by key and then by record) in sorted blocks. The driver
// keeps every open order in memory while the table is open and writes the index file from it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rdd {

class KeyIndex {
 public:
  struct Cursor {
    std::size_t block = 0, pos = 0;
  };

  explicit KeyIndex(int keyLen = 1, std::size_t blockEntries = 512);
  int keyLen() const { return keyLen_; }
  std::size_t size() const { return count_; }
  std::uint64_t generation() const { return generation_; }
  void clear();

  // Entry bytes for (key, recno); key must be keyLen bytes.
  std::string makeEntry(std::string_view key, std::uint32_t recno) const;
  void insert(std::string_view entry);
  bool erase(std::string_view entry);
  // Replaces the whole content with entries already sorted (bulk load); `flat` holds them packed.
  void assignSorted(std::vector<char>&& flat, std::size_t count);

  // First entry >= probe where only the probe's bytes are compared (a key prefix or a whole entry).
  Cursor lowerBound(std::string_view probe) const;
  Cursor begin() const { return {0, 0}; }
  Cursor last() const;
  bool atEnd(Cursor c) const { return c.block >= blocks_.size(); }
  Cursor next(Cursor c) const;
  Cursor prev(Cursor c) const;  // atEnd when before the first
  std::string_view entry(Cursor c) const;
  std::string_view key(Cursor c) const { return entry(c).substr(0, keyLen_); }
  std::uint32_t recno(Cursor c) const;

  // Visits every entry in order.
  template <class F>
  void forEach(F&& f) const {
    for (const auto& b : blocks_)
      for (std::size_t i = 0; i < b.count; ++i) f(std::string_view(b.data.data() + i * entrySize_, entrySize_));
  }

 private:
  struct Block {
    std::vector<char> data;
    std::size_t count = 0;
  };
  std::size_t findBlock(std::string_view probe) const;
  std::size_t posInBlock(const Block& b, std::string_view probe) const;
  int keyLen_;
  std::size_t entrySize_;
  std::size_t blockEntries_;
  std::size_t count_ = 0;
  std::uint64_t generation_ = 0;
  std::vector<Block> blocks_;
};

}  // namespace rdd
