// Sort keys kept packed order the rows as their whole keys do: random keys with runs of blanks of
// every length (longer ones than a run byte can tell), bytes above 0x7F, keys of another length
// and bytes below the blank arriving late, with and without case folding, in one buffer block and
// over several.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <numeric>
#include <random>

#include "sort_keys.h"

namespace {

// The collation's order on whole keys: byte by byte (folded to lower case when asked), a key
// that is a prefix of the other first.
bool before(const std::string& a, const std::string& b, bool fold) {
  const auto lower = [fold](char c) {
    const auto u = static_cast<unsigned char>(c);
    return fold ? static_cast<unsigned char>(std::tolower(u)) : u;
  };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return lower(x) < lower(y); });
}

std::vector<std::uint32_t> expectedOrder(const std::vector<std::string>& keys, bool fold) {
  std::vector<std::uint32_t> order(keys.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return before(keys[a], keys[b], fold); });
  return order;
}

// Keys of `length` bytes made of a few letters and (with `blanks`) runs of blanks from 1 to 450
// long.
std::vector<std::string> randomKeys(std::mt19937& random, std::size_t count, std::size_t length, bool blanks = true) {
  const std::string letters = "aAbz~\xC3";
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < count; ++i) {
    std::string key;
    while (key.size() < length) {
      if (blanks && random() % 3 == 0) key.append(1 + random() % (random() % 4 == 0 ? 450 : 3), ' ');
      else key += letters[random() % letters.size()];
    }
    key.resize(length, ' ');
    if (random() % 4 == 0) keys.push_back(keys.empty() ? key : keys[random() % keys.size()]);  // equal keys
    else keys.push_back(key);
  }
  return keys;
}

std::vector<std::uint32_t> packedOrder(const std::vector<std::string>& keys, bool fold) {
  rpt::SortKeys sorted(fold);
  for (const std::string& key : keys) EXPECT_TRUE(sorted.add(key));
  EXPECT_EQ(sorted.size(), keys.size());
  return sorted.order();
}

TEST(SortKeys, PackedKeysOrderRowsAsTheirWholeKeysDo) {
  std::mt19937 random(19);
  for (const bool fold : {false, true})
    for (const std::size_t length : {std::size_t{6}, std::size_t{40}, std::size_t{600}}) {
      const auto keys = randomKeys(random, 400, length);
      EXPECT_EQ(packedOrder(keys, fold), expectedOrder(keys, fold)) << "length " << length << " fold " << fold;
    }
  // Keys of few blanks filling several blocks of the buffer (1 MB each).
  const auto dense = randomKeys(random, 3000, 900, false);
  EXPECT_EQ(packedOrder(dense, false), expectedOrder(dense, false));
}

TEST(SortKeys, AKeyOfAnotherLengthOrWithAByteBelowTheBlankComparesEveryKeyWhole) {
  std::mt19937 random(7);
  for (const bool fold : {false, true}) {
    auto shorter = randomKeys(random, 5000, 300);  // 1.5 MB once whole
    shorter.insert(shorter.begin() + 200, {shorter[3].substr(0, 150), shorter[5] + "  "});
    EXPECT_EQ(packedOrder(shorter, fold), expectedOrder(shorter, fold));

    auto control = randomKeys(random, 300, 300);
    control[250][120] = '\x01';
    control[251] = control[250];
    control[251][120] = ' ';
    EXPECT_EQ(packedOrder(control, fold), expectedOrder(control, fold));
  }
}

}  // namespace
