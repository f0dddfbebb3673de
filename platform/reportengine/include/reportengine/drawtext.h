// rpDrawText and its three process-wide parameter blocks.
//
// The blocks are byte arrays of little-endian 32-bit fields at fixed offsets (table below), zero
// at start and reused by every call. Fields that hold a pointer in a 32-bit build hold a 32-bit
// reference here instead, so every offset stays as laid out:
//   offset 0  (text)            -> reference of a PinnedText (see below)
//   offset 56 (paragraph block) -> kParagraphBlockRef
//   offset 60 (character block) -> kCharacterBlockRef
// Device-context fields (28, 32) hold gdi handles, which are 32-bit as well.
// Not re-entrant: one text block is laid out at a time, on the GUI thread.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rpt {

template <std::size_t N>
class ParamBlock {
 public:
  std::int32_t get(std::size_t offset) const {
    if (offset + 4 > N) return 0;
    return static_cast<std::int32_t>(std::uint32_t(bytes_[offset]) | std::uint32_t(bytes_[offset + 1]) << 8 |
                                     std::uint32_t(bytes_[offset + 2]) << 16 |
                                     std::uint32_t(bytes_[offset + 3]) << 24);
  }
  void set(std::size_t offset, std::int32_t value) {
    if (offset + 4 > N) return;
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  const std::array<std::uint8_t, N>& bytes() const { return bytes_; }
  void clear() { bytes_.fill(0); }
  static constexpr std::size_t size() { return N; }

 private:
  std::array<std::uint8_t, N> bytes_{};
};

using TextBlock = ParamBlock<128>;
using ParagraphBlock = ParamBlock<128>;
using CharacterBlock = ParamBlock<64>;

// Offsets in the text block.
namespace tb {
constexpr std::size_t kText = 0;
constexpr std::size_t kLength = 4;        // bytes of UTF-8 text
constexpr std::size_t kAlwaysOne = 8;
constexpr std::size_t kLeft = 12;
constexpr std::size_t kTop = 16;
constexpr std::size_t kRight = 20;
constexpr std::size_t kBottom = 24;
constexpr std::size_t kOutputDc = 28;
constexpr std::size_t kPrinterDc = 32;
constexpr std::size_t kThirdHandle = 36;
constexpr std::size_t kPass = 40;          // 0 measure, 1 draw
constexpr std::size_t kOption44 = 44;
constexpr std::size_t kZero48 = 48;
constexpr std::size_t kZero52 = 52;
constexpr std::size_t kParagraph = 56;
constexpr std::size_t kCharacter = 60;
constexpr std::size_t kZero64 = 64;
constexpr std::size_t kLastLineRow = 84;   // written by rpDrawText
}  // namespace tb
namespace pb {
constexpr std::size_t kAlignment = 12;     // 0 left, 1 centre, 2 right, 4 justified
constexpr std::size_t kMarker = 112;       // 99999
}  // namespace pb
namespace cb {
constexpr std::size_t kOne = 32;
}  // namespace cb

constexpr std::int32_t kParagraphBlockRef = 1;
constexpr std::int32_t kCharacterBlockRef = 2;

TextBlock& rpTextBlock();
ParagraphBlock& rpParagraphBlock();
CharacterBlock& rpCharacterBlock();

// Makes a text reachable from the text field while it lives. The text must outlive the pin.
class PinnedText {
 public:
  explicit PinnedText(std::string_view text);
  ~PinnedText();
  PinnedText(const PinnedText&) = delete;
  PinnedText& operator=(const PinnedText&) = delete;
  std::int32_t ref() const { return ref_; }

 private:
  std::int32_t ref_;
};

// Lays the text out in the rectangle with word wrap and the paragraph's alignment, drawing it on
// the output context in the drawing pass (measuring on the printer context otherwise), and writes
// the row of the last laid-out line at offset 84. An unknown text reference lays out nothing.
void rpDrawText(TextBlock& block);

}  // namespace rpt
