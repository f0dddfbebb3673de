// The text sort keys of a report's rows, kept in blocks of memory and packed while that keeps their order.
//
// States: packed (every key so far has one length and no byte below the blank: trailing blanks
// are dropped and each run of blanks inside a key is one blank and a length byte), whole (a key
// broke that rule: every key is kept as it came, folded). The first key that breaks the rule
// unpacks the keys before it. Either way the keys compare, byte by byte, as the whole keys do
// under the run-time's collation.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rpt {

class SortKeys {
 public:
  // With `fold` the keys are kept in lower case, as the locale collation compares them.
  explicit SortKeys(bool fold);

  // Adds the next row's key; false when the buffer cannot take it (the caller sorts otherwise).
  bool add(std::string_view key);
  std::size_t size() const { return ends_.size(); }
  // The rows' positions (from 0) in the keys' order; rows with equal keys keep their order.
  std::vector<std::uint32_t> order() const;

 private:
  // The keys lie in blocks of kBlock bytes, each key inside one block (a key that would cross
  // into the next starts there), so the buffer grows a block at a time and never moves.
  static constexpr std::size_t kBlock = std::size_t{1} << 20;

  std::string_view at(std::size_t i) const;
  // False, writing nothing, for a key with a byte below the blank.
  bool appendPacked(std::string_view key);
  bool appendFolded(std::string_view text);
  bool store(std::string_view bytes);  // false when it cannot be kept
  bool unpack();

  std::array<char, 256> lower_;  // each byte as it is compared
  bool packed_ = true;
  std::size_t length_ = 0;  // the length every key had while packed
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::uint64_t end_ = 0;            // where the next key goes, counted over the blocks
  std::vector<std::uint32_t> ends_;  // where each key ends, counted over the blocks
  std::string scratch_;              // the key being packed or unpacked
};

}  // namespace rpt
