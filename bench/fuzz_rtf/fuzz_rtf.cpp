// Feeds arbitrary bytes to the rich-text reader, then wraps what it read with a fixed-width
// measure, so both the reader and the line breaking see malformed input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "reportengine/rtfdocument.h"
#include "textlayout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  rpt::RtfDocument doc;
  std::string text;
  if (rpt::parseRtf(input, doc)) text = doc.plainText();
  else text.assign(input);
  const int width = size > 0 ? data[0] % 64 : 10;
  auto lines = rpt::detail::wrapText(text, width, [](std::string_view s) { return static_cast<int>(s.size()) * 3; });
  std::size_t total = 0;
  for (const auto& line : lines) total += line.size();
  if (total > text.size()) __builtin_trap();  // wrapping never invents characters
  return 0;
}
