#include "codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "format.h"
#include "runtime/utf8.h"

namespace rdd {
namespace {

// The language-driver bytes of dBASE tables and the code page each names, with the name iconv
// knows it by (null where the C library has no converter for it). "None" reads as Windows-1252,
// which is what other readers assume for it.
struct LanguageDriver {
  std::uint8_t byte;
  const char* iconvName;
  const char* description;
};
constexpr LanguageDriver kLanguageDrivers[] = {
    {0x00, "CP1252", "none declared"},
    {0x01, "CP437", "U.S. MS-DOS"},
    {0x02, "CP850", "International MS-DOS"},
    {0x03, "CP1252", "Windows ANSI"},
    {0x04, "MACINTOSH", "Standard Macintosh"},
    {0x08, "CP865", "Danish OEM"},
    {0x09, "CP437", "Dutch OEM"},
    {0x0A, "CP850", "Dutch OEM (secondary)"},
    {0x0B, "CP437", "Finnish OEM"},
    {0x0D, "CP437", "French OEM"},
    {0x0E, "CP850", "French OEM (secondary)"},
    {0x0F, "CP437", "German OEM"},
    {0x10, "CP850", "German OEM (secondary)"},
    {0x11, "CP437", "Italian OEM"},
    {0x12, "CP850", "Italian OEM (secondary)"},
    {0x13, "CP932", "Japanese Shift-JIS"},
    {0x14, "CP850", "Spanish OEM (secondary)"},
    {0x15, "CP437", "Swedish OEM"},
    {0x16, "CP850", "Swedish OEM (secondary)"},
    {0x17, "CP865", "Norwegian OEM"},
    {0x18, "CP437", "Spanish OEM"},
    {0x19, "CP437", "English OEM (Britain)"},
    {0x1A, "CP850", "English OEM (Britain) (secondary)"},
    {0x1B, "CP437", "English OEM (U.S.)"},
    {0x1C, "CP863", "French OEM (Canada)"},
    {0x1D, "CP850", "French OEM (secondary)"},
    {0x1F, "CP852", "Czech OEM"},
    {0x22, "CP852", "Hungarian OEM"},
    {0x23, "CP852", "Polish OEM"},
    {0x24, "CP860", "Portuguese OEM"},
    {0x25, "CP850", "Portuguese OEM (secondary)"},
    {0x26, "CP866", "Russian OEM"},
    {0x37, "CP850", "English OEM (U.S.) (secondary)"},
    {0x40, "CP852", "Romanian OEM"},
    {0x4D, "CP936", "Chinese GBK (PRC)"},
    {0x4E, "CP949", "Korean (ANSI/OEM)"},
    {0x4F, "CP950", "Chinese Big 5 (Taiwan)"},
    {0x50, "CP874", "Thai (ANSI/OEM)"},
    {0x57, "CP1252", "ANSI"},
    {0x58, "CP1252", "Western European ANSI"},
    {0x59, "CP1252", "Spanish ANSI"},
    {0x64, "CP852", "Eastern European MS-DOS"},
    {0x65, "CP866", "Russian MS-DOS"},
    {0x66, "CP865", "Nordic MS-DOS"},
    {0x67, "CP861", "Icelandic MS-DOS"},
    {0x68, nullptr, "Kamenicky (Czech) MS-DOS"},
    {0x69, nullptr, "Mazovia (Polish) MS-DOS"},
    {0x6A, "CP737", "Greek MS-DOS (437G)"},
    {0x6B, "CP857", "Turkish MS-DOS"},
    {0x78, "CP950", "Traditional Chinese Windows"},
    {0x79, "CP949", "Korean Windows"},
    {0x7A, "CP936", "Chinese Simplified Windows"},
    {0x7B, "CP932", "Japanese Windows"},
    {0x7C, "CP874", "Thai Windows"},
    {0x7D, "CP1255", "Hebrew Windows"},
    {0x7E, "CP1256", "Arabic Windows"},
    {0x96, "MAC-CYRILLIC", "Russian Macintosh"},
    {0x97, "MAC-CENTRALEUROPE", "Eastern European Macintosh"},
    {0x98, nullptr, "Greek Macintosh"},
    {0xC8, "CP1250", "Eastern European Windows"},
    {0xC9, "CP1251", "Russian Windows"},
    {0xCA, "CP1254", "Turkish Windows"},
    {0xCB, "CP1253", "Greek Windows"},
    {0xCC, "CP1257", "Baltic Windows"},
};

// One iconv conversion, closed with its owner.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Converts all of `in` from its start; false at the first sequence it cannot convert
  // (`consumed` then tells how far it got). The state is reset before each call.
  bool convert(std::string_view in, std::string& out, std::size_t* consumed = nullptr) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buffer[256];
    while (left > 0) {
      char* dst = buffer;
      std::size_t room = sizeof buffer;
      const std::size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
        if (consumed) *consumed = in.size() - left;
        return false;
      }
    }
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &dst, &room);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (consumed) *consumed = in.size();
    return true;
  }

 private:
  iconv_t cd_;
};

std::string describeCharacter(char32_t code) {
  std::string text = "\"";
  rt::appendUtf8(text, code);
  char hex[16];
  std::snprintf(hex, sizeof hex, "\" (U+%04X)", static_cast<unsigned>(code));
  return text + hex;
}

std::string describeStrayByte(char32_t byte) {
  char hex[32];
  std::snprintf(hex, sizeof hex, "byte 0x%02X (not UTF-8)", static_cast<unsigned>(byte));
  return hex;
}

std::string hexByte(std::uint8_t byte) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return hex;
}

// The pages made so far, by iconv name; each lives as long as the process.
struct Pages {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<CodePage>, std::less<>> byName;
};
Pages& pages() {
  static Pages all;
  return all;
}

}  // namespace

CodePage::CodePage(std::string iconvName)
    : name_(std::move(iconvName)), shownName_(name_.rfind("CP125", 0) == 0 ? "Windows-" + name_.substr(2) : name_) {
  Converter toUtf32("UTF-32LE", name_.c_str());
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const char in = static_cast<char>(byte);
    std::string out;
    std::size_t consumed = 0;
    const bool whole = toUtf32.convert(std::string_view(&in, 1), out, &consumed);
    if (!whole && consumed == 0 && errno == EINVAL) singleByte_ = false;  // the first byte of a pair
    if (whole && out.size() == 4) {
      char32_t code = 0;
      std::memcpy(&code, out.data(), 4);  // little-endian, as the host is
      high_[static_cast<std::size_t>(byte - 0x80)] = code;
    }
  }
}

CodePage::Lookup CodePage::forLanguageDriver(std::uint8_t languageDriver) {
  for (const LanguageDriver& d : kLanguageDrivers) {
    if (d.byte != languageDriver) continue;
    if (!d.iconvName)
      return {nullptr, "names code page " + std::string(d.description) + ", which the C library cannot convert"};
    Pages& all = pages();
    std::lock_guard<std::mutex> held(all.lock);
    auto found = all.byName.find(d.iconvName);
    if (found == all.byName.end()) {
      if (!Converter("UTF-8", d.iconvName).ok())
        return {nullptr, "names code page " + std::string(d.iconvName) + " (" + d.description +
                             "), which this system's C library cannot convert"};
      found = all.byName.emplace(d.iconvName, std::make_unique<CodePage>(d.iconvName)).first;
    }
    return {found->second.get(), {}};
  }
  return {nullptr, "names no code page (language-driver byte " + hexByte(languageDriver) + " is not a dBASE one)"};
}

bool isPlainAscii(std::string_view text) {
  // Eight bytes at a time (every field of a row is asked this when read): a byte at or above
  // 0x80 has its top bit set.
  std::size_t i = 0;
  for (std::uint64_t word = 0; i + 8 <= text.size(); i += 8) {
    std::memcpy(&word, text.data() + i, 8);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < text.size(); ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  return true;
}

void CodePage::decodeInto(std::string_view stored, std::string& out) const {
  if (singleByte_) {
    for (char c : stored) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        out += c;
        continue;
      }
      const char32_t code = high_[byte - 0x80];
      rt::appendUtf8(out, code ? code : byte);
    }
    return;
  }
  std::lock_guard<std::mutex> held(iconvLock_);
  Converter toUtf8("UTF-8", name_.c_str());
  while (!stored.empty()) {
    std::size_t consumed = 0;
    if (toUtf8.convert(stored, out, &consumed)) return;
    rt::appendUtf8(out, 0xFFFD);  // a sequence the page does not have, or one cut by the field's end
    stored.remove_prefix(consumed + 1);
  }
}

std::string CodePage::decode(std::string_view stored) const {
  std::string out;
  out.reserve(stored.size());
  decodeInto(stored, out);
  return out;
}

unsigned char CodePage::byteOf(char32_t code, UndefinedBytes undefined) const {
  if (code < 0x80) return static_cast<unsigned char>(code);
  for (std::size_t i = 0; i < high_.size(); ++i)
    if (high_[i] == code) return static_cast<unsigned char>(0x80 + i);
  if (undefined == UndefinedBytes::RoundTrip && code < 0x100 && high_[code - 0x80] == 0)
    return static_cast<unsigned char>(code);
  return 0;
}

std::string CodePage::bytesOf(std::string_view utf8Character) const {
  std::lock_guard<std::mutex> held(iconvLock_);
  Converter fromUtf8(name_.c_str(), "UTF-8");
  std::string out;
  return fromUtf8.convert(utf8Character, out) ? out : std::string();
}

CodePage::Encoded CodePage::encode(std::string_view text, std::size_t maxBytes, UndefinedBytes undefined) const {
  Encoded out;
  auto noteLacking = [&](std::string description) {
    for (const std::string& seen : out.lacking)
      if (seen == description) return;
    out.lacking.push_back(std::move(description));
  };
  for (std::size_t pos = 0; pos < text.size() && out.bytes.size() < maxBytes;) {
    const rt::Utf8Char ch = rt::utf8At(text, pos);
    const std::string_view character = text.substr(pos, ch.length);
    pos += ch.length;
    std::string stored;
    if (ch.valid && ch.code < 0x80) {
      stored.assign(1, static_cast<char>(ch.code));
    } else if (ch.valid && singleByte_) {
      if (const unsigned char byte = byteOf(ch.code, undefined)) stored.assign(1, static_cast<char>(byte));
    } else if (ch.valid) {
      stored = bytesOf(character);
    }
    if (stored.empty()) {
      out.bytes += '?';
      noteLacking(ch.valid ? describeCharacter(ch.code) : describeStrayByte(ch.code));
      continue;
    }
    if (out.bytes.size() + stored.size() > maxBytes) break;  // a pair that does not fit whole
    out.bytes += stored;
  }
  return out;
}

}  // namespace rdd
