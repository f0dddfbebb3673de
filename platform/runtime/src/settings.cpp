#include "runtime/settings.h"

#include <clocale>
#include <filesystem>
#include <langinfo.h>

#include "runtime/error.h"

namespace rt {

Settings& settings() {
  static Settings s;
  return s;
}

void setExclusive(bool on) { settings().exclusive = on; }
void setDeleted(bool on) { settings().deleted = on; }
void setEpoch(int year) { settings().epoch = year; }
void setDateFormat(std::string format) { settings().dateFormat = toUpper(format); }
void setCentury(bool on) {
  auto& s = settings();
  s.century = on;
  // The date format follows: its year part has four digits with the century, two without.
  auto pos = s.dateFormat.find("YY");
  if (pos == std::string::npos) return;
  auto end = s.dateFormat.find_first_not_of('Y', pos);
  s.dateFormat.replace(pos, (end == std::string::npos ? s.dateFormat.size() : end) - pos, on ? "YYYY" : "YY");
}
void setDecimalSep(char c) { settings().decimalSep = c; }
void setThousandsSep(char c) { settings().thousandsSep = c; }
void setTimeSep(char c) { settings().timeSep = c; }
void setAmPm(bool on) { settings().amPm = on; }
void setAMExt(std::string text) { settings().amExt = std::move(text); }
void setPMExt(std::string text) { settings().pmExt = std::move(text); }
void setDecimals(int n) { settings().decimals = n; }
void setCollation(Collation c) { settings().collation = c; }
void setBeep(bool on) { settings().beep = on; }
void setErrorLog(bool on) { settings().errorLog = on; }
void setDefaultDir(std::string dir) { settings().defaultDir = std::move(dir); }
void setDefaultPath(std::string path) { settings().defaultPath = std::move(path); }
void setNetErr(bool on) { settings().netErr = on; }
bool netErr() { return settings().netErr; }

namespace {

void applyFixedInternational() {
  setDecimalSep('.');
  setThousandsSep(',');
  setTimeSep(':');
  setAmPm(false);
  setAMExt("");
  setPMExt("");
  settings().dateFormat = "MM/DD/YY";
  setDecimals(2);
  setCollation(Collation::FixedByteOrder);
  settings().international = InternationalMode::Fixed;
  settings().century = false;
}

// Takes separators, clock and date order from the user's locale (LC_ALL / LANG).
void applyLocaleInternational() {
  // Reads the user's locale and puts the process locale back as it was.
  const char* current = std::setlocale(LC_ALL, nullptr);
  std::string previous = current ? current : "C";
  std::setlocale(LC_ALL, "");
  const std::lconv* lc = std::localeconv();
  auto& s = settings();
  if (lc && lc->decimal_point && *lc->decimal_point) s.decimalSep = *lc->decimal_point;
  if (lc && lc->thousands_sep && *lc->thousands_sep) s.thousandsSep = *lc->thousands_sep;
  std::string dateOrder = nl_langinfo(D_FMT);  // e.g. "%m/%d/%y" or "%d.%m.%Y"
  std::string format;
  char separator = '/';
  for (std::size_t i = 0; i + 1 < dateOrder.size(); ++i) {
    if (dateOrder[i] != '%') {
      separator = dateOrder[i];  // the text between two conversions separates the parts
      continue;
    }
    char c = dateOrder[++i];
    if (c != 'm' && c != 'd' && c != 'y' && c != 'Y') continue;
    if (!format.empty()) format += separator;
    if (c == 'm') format += "MM";
    else if (c == 'd') format += "DD";
    else if (c == 'y') format += "YY";
    else if (c == 'Y') format += "YYYY";
  }
  if (format.size() >= 8) s.dateFormat = format;
  s.century = s.dateFormat.find("YYYY") != std::string::npos;
  std::string amText = nl_langinfo(AM_STR);
  s.amPm = !amText.empty();
  s.amExt = amText;
  s.pmExt = nl_langinfo(PM_STR);
  s.collation = Collation::Locale;
  s.international = InternationalMode::Locale;
  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace

void setInternational(InternationalMode mode) {
  if (mode == InternationalMode::Fixed)
    applyFixedInternational();
  else
    applyLocaleInternational();
}

int checkedYearMinus(int year, int back) {
  if (year < back) {
    auto e = makeError(EG_NUMOVERFLOW, "BASE", "Numeric overflow in year arithmetic", "-");
    e->arg = Value(year);
    e->argType = static_cast<int>(Type::Long);
    e->canSubstitute = true;
    e->substituteType = static_cast<int>(Type::Long);
    Answer a = raise(e);
    return a.kind == Answer::Substitute ? static_cast<int>(a.substitute.asLong()) : 0;
  }
  return year - back;
}

namespace {
std::map<int, Value>& rddSlots() {
  static std::map<int, Value> slots;
  return slots;
}
}  // namespace

Value rddInfo(int ordinal) {
  auto it = rddSlots().find(ordinal);
  return it == rddSlots().end() ? Value() : it->second;
}

Value rddInfo(int ordinal, const Value& newValue) {
  Value previous = rddInfo(ordinal);
  rddSlots()[ordinal] = newValue;
  return previous;
}

std::string workingDirectory() {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string versionText() { return "Tarnwell Run-Time 2.5b-1 (C++20, Linux)"; }

}  // namespace rt
