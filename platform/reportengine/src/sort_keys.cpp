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

bool hasByteBelowBlank(std::string_view key) {
  return std::any_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < ' '; });
}

}  // namespace

bool SortKeys::add(std::string_view key) {
  if (ends_.empty()) length_ = key.size();
  if (packed_ && (key.size() != length_ || hasByteBelowBlank(key))) unpack();
  if (packed_) appendPacked(key);
  else appendFolded(key);
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

void SortKeys::appendPacked(std::string_view key) {
  const std::size_t last = key.find_last_not_of(' ');
  key = key.substr(0, last == std::string_view::npos ? 0 : last + 1);
  std::size_t at = 0;
  while (at < key.size()) {
    const std::size_t blank = std::min(key.find(' ', at), key.size());
    appendFolded(key.substr(at, blank - at));
    at = std::min(key.find_first_not_of(' ', blank), key.size());
    for (std::size_t run = at - blank; run > 0;) {
      const std::size_t piece = std::min(run, kLongestRun);
      text_ += ' ';
      text_ += static_cast<char>(255 - piece);
      run -= piece;
    }
  }
}

void SortKeys::appendFolded(std::string_view text) {
  const std::size_t begin = text_.size();
  text_.append(text);
  if (fold_)
    for (std::size_t i = begin; i < text_.size(); ++i)
      text_[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[i])));
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
