#include "runtime/format.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "runtime/settings.h"

namespace rt {

// Julian day numbers of the proleptic Gregorian calendar (Fliegel and Van Flandern).
Date makeDate(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || year < 1 || year > 9999) return {};
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return {};
  int a = (14 - month) / 12;
  int y = year + 4800 - a;
  int m = month + 12 * a - 3;
  return {day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045};
}

void splitDate(Date d, int& year, int& month, int& day) {
  if (d.empty()) {
    year = month = day = 0;
    return;
  }
  int a = d.julian + 32044;
  int b = (4 * a + 3) / 146097;
  int c = a - 146097 * b / 4;
  int e = (4 * c + 3) / 1461;
  int f = c - 1461 * e / 4;
  int m = (5 * f + 2) / 153;
  day = f - (153 * m + 2) / 5 + 1;
  month = m + 3 - 12 * (m / 10);
  year = 100 * b + e - 4800 + m / 10;
}

namespace {

thread_local std::optional<std::time_t> tFixedNow;

std::time_t clockNow() { return tFixedNow ? *tFixedNow : std::time(nullptr); }

}  // namespace

FixedClock::FixedClock(std::time_t at) : previous_(tFixedNow) { tFixedNow = at; }
FixedClock::~FixedClock() { tFixedNow = previous_; }

Date today() {
  std::time_t now = clockNow();
  std::tm local{};
  localtime_r(&now, &local);
  return makeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

int dayOfWeek(Date d) { return d.empty() ? 0 : (d.julian + 1) % 7 + 1; }

namespace {

// Replaces each run of Y, M or D in the format with the digits of that part.
std::string fillDateFormat(const std::string& format, int year, int month, int day, bool blank) {
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(format[i])));
    std::size_t run = 1;
    while (i + run < format.size() && std::toupper(static_cast<unsigned char>(format[i + run])) == c) ++run;
    int part = c == 'Y' ? year : c == 'M' ? month : c == 'D' ? day : -1;
    if (part < 0) {
      out.append(format, i, run);
    } else if (blank) {
      out.append(run, ' ');
    } else {
      // The last `run` digits of the part, zero-padded: "YY" shows 1999 as 99.
      std::string digits = std::to_string(part);
      if (digits.size() < run) digits.insert(0, run - digits.size(), '0');
      out += digits.substr(digits.size() - run);
    }
    i += run;
  }
  return out;
}

}  // namespace

std::string dtoc(Date d) {
  int y, m, dd;
  splitDate(d, y, m, dd);
  return fillDateFormat(settings().dateFormat, y, m, dd, d.empty());
}

Date ctod(const std::string& text) {
  const std::string& format = settings().dateFormat;
  int parts[3] = {0, 0, 0};  // year, month, day
  int yearDigits = 0;
  std::size_t t = 0;
  for (std::size_t i = 0; i < format.size() && t <= text.size();) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(format[i])));
    std::size_t run = 1;
    while (i + run < format.size() && std::toupper(static_cast<unsigned char>(format[i + run])) == c) ++run;
    int slot = c == 'Y' ? 0 : c == 'M' ? 1 : c == 'D' ? 2 : -1;
    if (slot < 0) {
      // A separator: skip whatever non-digit stands there.
      while (t < text.size() && !std::isdigit(static_cast<unsigned char>(text[t]))) ++t;
    } else {
      while (t < text.size() && text[t] == ' ') ++t;
      int value = 0, digits = 0;
      while (t < text.size() && std::isdigit(static_cast<unsigned char>(text[t])) && digits < 4) {
        value = value * 10 + (text[t++] - '0');
        ++digits;
      }
      if (digits == 0) return {};
      parts[slot] = value;
      if (slot == 0) yearDigits = digits;
    }
    i += run;
  }
  int year = parts[0];
  if (yearDigits <= 2) {
    int epoch = settings().epoch;
    year = epoch / 100 * 100 + year;
    if (year < epoch) year += 100;
  }
  return makeDate(year, parts[1], parts[2]);
}

std::string dtos(Date d) {
  if (d.empty()) return "        ";
  int y, m, dd;
  splitDate(d, y, m, dd);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, dd);
  return buf;
}

std::string timeText(int hours, int minutes, int seconds) {
  const auto& s = settings();
  int shown = hours;
  std::string suffix;
  if (s.amPm) {
    suffix = hours < 12 ? s.amExt : s.pmExt;
    shown = hours % 12 == 0 ? 12 : hours % 12;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%c%02d%c%02d", shown, s.timeSep, minutes, s.timeSep, seconds);
  return buf + suffix;
}

std::string timeText() {
  std::time_t now = clockNow();
  std::tm local{};
  localtime_r(&now, &local);
  return timeText(local.tm_hour, local.tm_min, local.tm_sec);
}

std::string formatNumber(double value, int decimals, bool groupThousands) {
  if (decimals < 0) decimals = settings().decimals;
  if (decimals > 60) decimals = 60;
  if (!std::isfinite(value)) return value != value ? "NaN" : (value > 0 ? "Inf" : "-Inf");
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  std::string text = buf;
  // A value that rounds to zero shows no sign.
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  auto point = text.find('.');
  std::string whole = text.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
  if (groupThousands) {
    bool negative = !whole.empty() && whole[0] == '-';
    std::string digits = negative ? whole.substr(1) : whole;
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      if (i > 0 && (digits.size() - i) % 3 == 0) grouped += settings().thousandsSep;
      grouped += digits[i];
    }
    whole = (negative ? "-" : "") + grouped;
  }
  return fraction.empty() ? whole : whole + settings().decimalSep + fraction;
}

std::string strNumber(double value, int width, int decimals) {
  if (decimals < 0) decimals = width >= 0 ? 0 : settings().decimals;
  if (width < 0) width = 10 + (decimals > 0 ? decimals + 1 : 0);
  std::string text = formatNumber(value, decimals);
  if (static_cast<int>(text.size()) > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

}  // namespace rt
