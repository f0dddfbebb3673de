#include "sort_keys.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <numeric>

namespace rpt {

namespace {

// A run of blanks is written as a blank and the byte 255 - n: a longer run gives a lower byte, as
// the whole keys compare lower where the longer run goes on with a blank and the shorter has a
// byte above it. The byte is never a blank itself, so two keys equal up to a blank are both at
// the start of a run there. Longer runs are written in pieces.
constexpr std::size_t kLongestRun = 200;

}  // namespace

SortKeys::SortKeys(bool fold) {
  for (int c = 0; c < 256; ++c) lower_[c] = static_cast<char>(fold ? std::tolower(c) : c);
}

bool SortKeys::add(std::string_view key) {
  if (ends_.empty()) length_ = key.size();
  if (packed_ && key.size() == length_ && appendPacked(key)) return true;
  return (!packed_ || unpack()) && appendFolded(key);
}

std::vector<std::uint32_t> SortKeys::order() const {
  std::vector<std::uint32_t> order(size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return at(a) < at(b); });
  return order;
}

std::string_view SortKeys::at(std::size_t i) const {
  const std::uint64_t end = ends_[i];
  const std::uint64_t previous = i == 0 ? 0 : ends_[i - 1];
  if (end == previous) return {};
  const std::uint64_t block = (end - 1) / kBlock;
  const std::uint64_t begin = std::max(previous, block * kBlock);
  return std::string_view(blocks_[block].get() + (begin - block * kBlock), end - begin);
}

bool SortKeys::store(std::string_view bytes) {
  if (bytes.size() > kBlock) return false;
  if (!bytes.empty() && end_ % kBlock + bytes.size() > kBlock) end_ = (end_ / kBlock + 1) * kBlock;
  if (end_ + bytes.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  if (!bytes.empty()) {
    if (end_ / kBlock == blocks_.size()) blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
    std::copy(bytes.begin(), bytes.end(), blocks_[end_ / kBlock].get() + end_ % kBlock);
  }
  end_ += bytes.size();
  ends_.push_back(static_cast<std::uint32_t>(end_));
  return true;
}

bool SortKeys::appendPacked(std::string_view key) {
  std::size_t end = key.size();
  while (end > 0 && key[end - 1] == ' ') --end;
  // Packed, a key takes at most two bytes for each of its own (a single blank takes two).
  scratch_.resize(2 * end);
  char* out = scratch_.data();
  for (std::size_t i = 0; i < end;) {
    const auto c = static_cast<unsigned char>(key[i]);
    if (c < ' ') return false;  // nothing written yet
    if (c != ' ') {
      *out++ = lower_[c];
      ++i;
      continue;
    }
    std::size_t run = 0;
    for (; key[i] == ' '; ++i) ++run;  // ends before `end`, which follows a byte other than a blank
    for (; run > 0;) {
      const std::size_t piece = std::min(run, kLongestRun);
      *out++ = ' ';
      *out++ = static_cast<char>(255 - piece);
      run -= piece;
    }
  }
  return store(std::string_view(scratch_.data(), static_cast<std::size_t>(out - scratch_.data())));
}

bool SortKeys::appendFolded(std::string_view text) {
  scratch_.clear();
  for (const char c : text) scratch_ += lower_[static_cast<unsigned char>(c)];
  return store(scratch_);
}

// Writes the keys so far whole again: runs of blanks spelled out, trailing blanks put back.
bool SortKeys::unpack() {
  SortKeys whole(false);
  whole.lower_ = lower_;
  whole.packed_ = false;
  whole.length_ = length_;
  for (std::size_t i = 0; i < size(); ++i) {
    const std::string_view key = at(i);
    std::string& text = whole.scratch_;
    text.clear();
    for (std::size_t j = 0; j < key.size(); ++j) {
      if (key[j] == ' ') text.append(255 - static_cast<unsigned char>(key[++j]), ' ');
      else text += key[j];
    }
    text.resize(length_, ' ');
    if (!whole.store(text)) return false;
  }
  *this = std::move(whole);
  return true;
}

}  // namespace rpt
