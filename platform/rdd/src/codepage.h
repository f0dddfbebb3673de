// The single-byte code pages that table text is stored in. Inside the program text is UTF-8; a
// character field holds one byte per character in the code page its table's header names
// (language-driver byte, offset 29). Keys are built from those stored bytes, so index order is
// the byte order that other programs reading the table expect.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rdd {

class CodePage {
 public:
  // Text as a code page stores it.
  struct Encoded {
    std::string bytes;  // one byte per character; '?' for each character the page lacks
    // The characters the page lacks, once each in the order met, described for a person:
    // "Ω" (U+03A9), or "byte 0xE9 (not UTF-8)" for input that is not UTF-8.
    std::vector<std::string> lacking;
  };

  // The code page a language-driver byte names; null for a byte this driver does not know.
  static const CodePage* forLanguageDriver(std::uint8_t languageDriver);
  // The bytes forLanguageDriver knows, in ascending order.
  static std::vector<std::uint8_t> knownLanguageDrivers();

  const char* name() const { return name_; }
  // Appends the UTF-8 text of stored bytes, one character per byte. A byte the page leaves
  // undefined reads as the control character of the same number, so nothing read is lost.
  void decodeInto(std::string_view stored, std::string& out) const;
  std::string decode(std::string_view stored) const;
  // What a control character of the number of a byte the page leaves undefined becomes: lacking
  // (new text must stay readable to others) or that byte again (a key built from stored text).
  enum class UndefinedBytes { Lacking, RoundTrip };
  // The stored form of the first `maxChars` characters of UTF-8 `text` (all of it by default).
  Encoded encode(std::string_view text, std::size_t maxChars = std::string_view::npos,
                 UndefinedBytes undefined = UndefinedBytes::Lacking) const;

  CodePage(const char* name, const char16_t* high) : name_(name), high_(high) {}

 private:
  // The byte that stores `code`; 0 when the page lacks it.
  unsigned char byteOf(char32_t code, UndefinedBytes undefined) const;
  const char* name_;
  const char16_t* high_;  // characters of bytes 0x80-0xFF; 0 where the page defines none
};

// True when every byte is below 0x80: such text is the same in UTF-8 and in every code page here.
bool isPlainAscii(std::string_view text);

}  // namespace rdd
