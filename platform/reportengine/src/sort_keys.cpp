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
  const bool packedHere = packed_ && key.size() == length_ && appendPacked(key);
  if (!packedHere) {
    if (packed_) unpack();
    appendFolded(key);
  }
  if (text_.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  ends_.push_back(static_cast<std::uint32_t>(text_.size()));
  return true;
}

std::vector<std::uint32_t> SortKeys::order() const {
  std::vector<std::uint32_t> order(size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return at(a) < at(b); });
  return order;
}

std::string_view SortKeys::at(std::size_t i) const {
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  return std::string_view(text_).substr(begin, ends_[i] - begin);
}

bool SortKeys::appendPacked(std::string_view key) {
  std::size_t end = key.size();
  while (end > 0 && key[end - 1] == ' ') --end;
  // Packed, a key takes at most two bytes for each of its own (a single blank takes two).
  scratch_.resize(2 * end);
  char* out = scratch_.data();
  for (std::size_t i = 0; i < end;) {
    const auto c = static_cast<unsigned char>(key[i]);
    if (c < ' ') return false;
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
  text_.append(scratch_.data(), static_cast<std::size_t>(out - scratch_.data()));
  return true;
}

void SortKeys::appendFolded(std::string_view text) {
  for (const char c : text) text_ += lower_[static_cast<unsigned char>(c)];
}

// Writes the keys so far whole again: runs of blanks spelled out, trailing blanks put back.
void SortKeys::unpack() {
  std::string whole;
  whole.reserve(ends_.size() * length_);
  std::size_t packedBegin = 0;
  for (std::uint32_t& end : ends_) {
    const std::string_view key = std::string_view(text_).substr(packedBegin, end - packedBegin);
    packedBegin = end;
    const std::size_t begin = whole.size();
    for (std::size_t j = 0; j < key.size(); ++j) {
      if (key[j] == ' ') whole.append(255 - static_cast<unsigned char>(key[++j]), ' ');
      else whole += key[j];
    }
    whole.append(length_ - (whole.size() - begin), ' ');
    end = static_cast<std::uint32_t>(whole.size());
  }
  text_ = std::move(whole);
  packed_ = false;
}

}  // namespace rpt
