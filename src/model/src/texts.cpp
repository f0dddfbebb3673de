// The texts the table stores: versions at their field width, trimmed texts and type texts.
#include <array>

#include "model/model.h"

namespace model {
namespace {

constexpr std::array<const char*, 11> kTypeTexts = {
    "Void", "Boolean", "Integer", "Decimal", "Real", "String", "ByteSequence", "Reference to Object",
    "Value Collection (Set)", "Multimedia", "Date"};

}  // namespace

std::string fullWidthVersion(std::string_view typed) { return rt::padRightChars(typed, kVersionWidth); }

std::string trimmedText(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string ZorbaneType2String(int typeCode) {
  if (typeCode < 0 || typeCode >= static_cast<int>(kTypeTexts.size())) return {};
  return kTypeTexts[static_cast<std::size_t>(typeCode)];
}

std::string typeText(const rt::Value& typeCode) {
  if (typeCode.isLong()) {
    const std::int64_t code = typeCode.asLong();
    return code >= 0 && code < static_cast<std::int64_t>(kTypeTexts.size()) ? ZorbaneType2String(static_cast<int>(code))
                                                                             : std::string();
  }
  if (typeCode.isFloat()) {
    const double code = typeCode.asNumber();
    if (code >= 0 && code < static_cast<double>(kTypeTexts.size()) && code == static_cast<double>(static_cast<int>(code)))
      return ZorbaneType2String(static_cast<int>(code));
  }
  return {};
}

}  // namespace model
