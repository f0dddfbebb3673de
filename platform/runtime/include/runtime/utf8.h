// Text inside the program is UTF-8. These helpers count and cut it in characters, so that a
// width given in characters never splits a character's bytes.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace rt {

// One character read from UTF-8 text: its code point and how many bytes it took. A byte that
// does not start a well-formed sequence (stray continuation byte, overlong form, surrogate, cut
// sequence) is read as one byte with `valid` false and `code` the byte's value.
struct Utf8Char {
  char32_t code = 0;
  std::size_t length = 1;
  bool valid = true;
};

// The character starting at byte `pos` (which must be inside `text`).
Utf8Char utf8At(std::string_view text, std::size_t pos);

// Appends the UTF-8 form of `code` (a code point up to U+10FFFF, not a surrogate).
void appendUtf8(std::string& out, char32_t code);

// The number of characters in `text`; each malformed byte counts as one.
std::size_t charCount(std::string_view text);

// The first `count` characters of `text` (all of it when it is shorter).
std::string_view leftChars(std::string_view text, std::size_t count);

// `text` cut to `width` characters, or padded with blanks to that many.
std::string padRightChars(std::string_view text, std::size_t width);

}  // namespace rt
