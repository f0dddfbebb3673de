// The code pages that table text is stored in. Inside the program text is UTF-8; a character
// field holds it in the code page its table's header names (language-driver byte, offset 29),
// converted by the C library's iconv. Single-byte pages store one byte per character; the
// double-byte Asian pages one or two. Keys are built from the stored bytes, so index order is
// the byte order that other programs reading the table expect. Pages are made once, on first
// use, and shared; converting is safe from any thread.
#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace rdd {

class CodePage {
 public:
  // Text as a code page stores it.
  struct Encoded {
    std::string bytes;  // '?' for each character the page lacks
    // The characters the page lacks, once each in the order met, described for a person:
    // "Ω" (U+03A9), or "byte 0xE9 (not UTF-8)" for input that is not UTF-8.
    std::vector<std::string> lacking;
  };

  // What a language-driver byte names: a page, or why there is none to convert with.
  struct Lookup {
    const CodePage* page = nullptr;
    std::string refusal;  // when page is null: "names no code page", "names code page X, which ..."
  };
  static Lookup forLanguageDriver(std::uint8_t languageDriver);

  // The page as a person knows it: "Windows-1252", "CP850", "MACINTOSH".
  const std::string& name() const { return shownName_; }
  bool singleByte() const { return singleByte_; }
  // Appends the UTF-8 text of stored bytes. On a single-byte page a byte the page leaves
  // undefined reads as the control character of the same number, so nothing read is lost; on a
  // double-byte page a sequence that is not the page's reads as U+FFFD.
  void decodeInto(std::string_view stored, std::string& out) const;
  std::string decode(std::string_view stored) const;
  // What a control character of the number of a byte the page leaves undefined becomes: lacking
  // (new text must stay readable to others) or that byte again (a key built from stored text).
  enum class UndefinedBytes { Lacking, RoundTrip };
  // The stored form of UTF-8 `text`, at most `maxBytes` bytes of it, cut between characters.
  Encoded encode(std::string_view text, std::size_t maxBytes = std::string_view::npos,
                 UndefinedBytes undefined = UndefinedBytes::Lacking) const;

  // Built by forLanguageDriver only; `iconvName` must be known to iconv.
  explicit CodePage(std::string iconvName);

 private:
  // Single-byte pages: the byte that stores `code`; 0 when the page lacks it.
  unsigned char byteOf(char32_t code, UndefinedBytes undefined) const;
  // Double-byte pages: the stored bytes of one character (empty when the page lacks it).
  std::string bytesOf(std::string_view utf8Character) const;
  std::string name_;  // as iconv knows it
  std::string shownName_;
  bool singleByte_ = true;
  std::array<char32_t, 128> high_{};  // single-byte: characters of bytes 0x80-0xFF, 0 where none
  mutable std::mutex iconvLock_;      // double-byte: conversions go through iconv every time
};

// True when every byte is below 0x80: such text is the same in UTF-8 and in every code page here.
bool isPlainAscii(std::string_view text);

}  // namespace rdd
