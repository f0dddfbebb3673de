// Character fields as text: the program's UTF-8 on one side, the table's code page on the other.
#include <cstdio>

#include "runtime/utf8.h"
#include "table_impl.h"

namespace rdd {
namespace {

// The value as a message can show it: bytes that are not UTF-8 written as \xNN.
std::string printable(std::string_view text) {
  std::string out;
  for (std::size_t pos = 0; pos < text.size();) {
    const rt::Utf8Char ch = rt::utf8At(text, pos);
    if (ch.valid) {
      out.append(text.substr(pos, ch.length));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(ch.code));
      out += hex;
    }
    pos += ch.length;
  }
  return out;
}

std::string listed(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
  return out;
}

}  // namespace

std::string_view Table::text(int index) {
  std::string_view raw = rawField(index);
  if (isPlainAscii(raw)) return raw;
  Impl& t = *impl_;
  t.textCache.resize(t.fields.size());
  std::string& cache = t.textCache[static_cast<std::size_t>(index)];
  cache.clear();
  t.codePage->decodeInto(raw, cache);
  return cache;
}

void Table::Impl::storeText(int index, std::string_view text, const char* operation) {
  if (isPlainAscii(text)) return storeField(index, text);
  const FieldInfo& f = fields[static_cast<std::size_t>(index)];
  CodePage::Encoded stored = codePage->encode(text, static_cast<std::size_t>(f.length));
  if (!stored.lacking.empty()) {
    // Never changed silently: the user sees what is lost before Default stores it.
    const bool one = stored.lacking.size() == 1;
    raise(rt::EG_DATATYPE,
          "field " + f.name + ": value \"" + printable(text) + "\" holds " + listed(stored.lacking) + ", which code page " +
              codePage->name() + " of " + fullPath + " cannot store; Default stores \"?\" in " + (one ? "its" : "their") +
              " place",
          operation);
  }
  if (!declareCodePage(stored.bytes, operation)) return;
  storeField(index, stored.bytes);
}

// A table that declares no code page is read as Windows-1252, but other readers take "none" for
// ASCII and refuse the whole table at the first byte above 0x7F. The first such byte written
// makes the header say what the table now holds.
bool Table::Impl::declareCodePage(std::string_view stored, const char* operation) {
  if (headerBytes[fmt::kHdrCodePage] != fmt::kLangNone || isPlainAscii(stored)) return true;
  const std::uint8_t declared = fmt::kCodePageWindows1252;
  Status s = writeTable(fmt::kHdrCodePage, &declared, 1);
  if (!s.ok()) {
    raise(rt::EG_WRITE, "cannot declare code page Windows-1252 in the header of " + fullPath + ": " + s.message,
          operation, s.osCode);
    return false;
  }
  headerBytes[fmt::kHdrCodePage] = declared;
  return true;
}

Table::TextFit Table::fitText(std::string_view text) const {
  const Impl& t = *impl_;
  if (isPlainAscii(text) || !t.codePage) return {std::string(text), {}};
  CodePage::Encoded stored = t.codePage->encode(text);
  return {t.codePage->decode(stored.bytes), std::move(stored.lacking)};
}

std::string Table::codePageName() const { return impl_->codePage ? impl_->codePage->name() : std::string(); }

bool Table::Impl::storedProbe(std::string_view text, std::string& out) const {
  if (isPlainAscii(text)) {
    out.assign(text);
    return true;
  }
  CodePage::Encoded stored = codePage->encode(text, std::string_view::npos, CodePage::UndefinedBytes::RoundTrip);
  out = std::move(stored.bytes);
  return stored.lacking.empty();
}

}  // namespace rdd
