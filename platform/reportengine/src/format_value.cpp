// Field formats: how a value is shown in a report field.
#include <algorithm>

#include "reportengine/layout.h"

namespace rpt {

namespace {

std::string rightTrimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool isNumberPicture(const std::string& format) {
  return !format.empty() && std::all_of(format.begin(), format.end(), [](char c) {
    return c == '9' || c == '#' || c == ',' || c == '.';
  });
}

}  // namespace

std::string formatValue(const rt::Value& value, const std::string& format) {
  const auto slash = format.find('/');
  if (value.isLogical()) {
    if (slash != std::string::npos) return value.asLogical() ? format.substr(0, slash) : format.substr(slash + 1);
    return value.asLogical() ? "Yes" : "No";
  }
  if (value.isNumber() && isNumberPicture(format)) {
    const auto point = format.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(format.size() - point - 1);
    return rt::formatNumber(value.asNumber(), decimals, format.find(',') != std::string::npos);
  }
  if (value.isNil()) return {};
  std::string text = value.isString() ? rightTrimmed(value.asString()) : rt::toText(value);
  if (format == "@!") std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(std::toupper(c));
  });
  return text;
}

}  // namespace rpt
