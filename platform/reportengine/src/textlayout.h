// Word wrapping shared by the text-block and rich-text drawing.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rpt::detail {

// Splits `text` into lines no wider than `width` by `measure`: breaks at spaces, and inside a
// word (at character boundaries) only when the word alone is too wide. A width of 0 or less does
// not wrap. Explicit line feeds end lines; carriage returns are dropped.
std::vector<std::string> wrapText(std::string_view text, int width, const std::function<int(std::string_view)>& measure);

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray continuation byte).
std::size_t utf8Length(unsigned char lead);

}  // namespace rpt::detail
