// The engine's own formula functions, registered in the run-time's function table with their
// parameter counts. Functions about the run (PgNo, RpEOF, rpVarValue, ...) read the current run
// and answer neutral values outside one.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "reportengine/functions.h"
#include "run_context.h"

namespace rpt {

namespace {

using Args = std::span<const rt::Value>;

const rt::Value& arg(Args a, std::size_t i) {
  static const rt::Value nil;
  return i < a.size() ? a[i] : nil;
}
double num(Args a, std::size_t i) { return arg(a, i).asNumber(); }
std::string text(Args a, std::size_t i) {
  const rt::Value& v = arg(a, i);
  return v.isString() ? v.asString() : std::string();
}
std::string trimmed(std::string s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}
std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}
rt::Value real(double v) { return std::isfinite(v) ? rt::Value(v) : rt::Value(0.0); }

// Position (from 1) of `needle` in `hay`, 0 when absent.
long long position(const std::string& needle, const std::string& hay) {
  if (needle.empty()) return 0;
  const auto at = hay.find(needle);
  return at == std::string::npos ? 0 : static_cast<long long>(at) + 1;
}

// Line number (from 1) of the first line of `hay` that holds `needle`; 0 when none does.
long long lineOf(const std::string& needle, const std::string& hay) {
  if (needle.empty()) return 0;
  const auto at = hay.find(needle);
  if (at == std::string::npos) return 0;
  return 1 + std::count(hay.begin(), hay.begin() + static_cast<std::ptrdiff_t>(at), '\n');
}

// "hh:mm:ss" -> seconds; missing parts count as 0.
long long secondsOf(const std::string& time) {
  int h = 0, m = 0, s = 0;
  std::sscanf(time.c_str(), "%d:%d:%d", &h, &m, &s);
  return h * 3600LL + m * 60LL + s;
}

std::string clockText(long long seconds) {
  const bool negative = seconds < 0;
  if (negative) seconds = -seconds;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%02lld:%02lld:%02lld", negative ? "-" : "", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return buf;
}

// Seconds from (date1, time1) to (date2, time2).
long long secondsBetween(Args a) {
  const long long days = static_cast<long long>(arg(a, 2).asDate().julian) - arg(a, 0).asDate().julian;
  return days * 86400 + secondsOf(text(a, 3)) - secondsOf(text(a, 1));
}

// A fifth argument of true asks for whole units, rounded down.
rt::Value between(Args a, double unitSeconds) {
  const double v = static_cast<double>(secondsBetween(a)) / unitSeconds;
  return arg(a, 4).asLogical() ? rt::Value(static_cast<long long>(std::floor(v))) : real(v);
}

std::string sqlQuoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// SQL literals: the value, a width and a number of decimals (both optional).
rt::Value sqlNumber(Args a, bool integer, int defaultDecimals) {
  const rt::Value& v = arg(a, 0);
  if (v.isNil()) return rt::Value("NULL");
  if (integer) return rt::Value(std::to_string(static_cast<long long>(std::llround(v.asNumber()))));
  const int decimals = arg(a, 2).isNumber() ? static_cast<int>(std::clamp<long long>(arg(a, 2).asLong(), 0, 15))
                                            : defaultDecimals;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v.asNumber());
  return rt::Value(std::string(buf));
}

rt::Value sqlText(Args a) {
  const rt::Value& v = arg(a, 0);
  if (v.isNil()) return rt::Value("NULL");
  std::string s = v.isString() ? v.asString() : rt::toText(v);
  if (arg(a, 1).isNumber() && arg(a, 1).asLong() >= 0)
    s = std::string(rt::leftChars(s, static_cast<std::size_t>(arg(a, 1).asLong())));  // the width counts characters
  return rt::Value(sqlQuoted(trimmed(s)));
}

std::string isoDate(rt::Date d) {
  int y = 0, m = 0, day = 0;
  rt::splitDate(d, y, m, day);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, day);
  return buf;
}

rt::Value runValue(const std::function<rt::Value(const RunContext&)>& f, rt::Value outside) {
  const RunContext* run = currentRun();
  return run ? f(*run) : outside;
}

struct EngineFunction {
  const char* name;
  int paramCount;
  rt::Value (*body)(Args);
};

const EngineFunction kEngineFunctions[] = {
    {"AddressBlk", 6, [](Args a) {
       // Name, two street lines, city, state, postal code: non-empty lines joined by line breaks.
       std::vector<std::string> lines;
       for (int i = 0; i < 3; ++i)
         if (auto s = trimmed(text(a, i)); !s.empty()) lines.push_back(s);
       std::string last = trimmed(text(a, 3));
       const std::string state = trimmed(text(a, 4)), zip = trimmed(text(a, 5));
       if (!state.empty()) last += (last.empty() ? "" : ", ") + state;
       if (!zip.empty()) last += (last.empty() ? "" : "  ") + zip;
       if (!last.empty()) lines.push_back(last);
       std::string out;
       for (const auto& l : lines) out += (out.empty() ? "" : "\r\n") + l;
       return rt::Value(out);
     }},
    {"AtNoCase", 2, [](Args a) { return rt::Value(position(upper(text(a, 0)), upper(text(a, 1)))); }},
    {"AtLineNum", 2, [](Args a) { return rt::Value(lineOf(text(a, 0), text(a, 1))); }},
    {"AtLineNoCase", 2, [](Args a) { return rt::Value(lineOf(upper(text(a, 0)), upper(text(a, 1)))); }},
    {"Ceiling", 1, [](Args a) { return rt::Value(static_cast<long long>(std::ceil(num(a, 0)))); }},
    {"Cosine", 1, [](Args a) { return real(std::cos(num(a, 0))); }},
    {"Cotangent", 1, [](Args a) {
       const double t = std::tan(num(a, 0));
       return t == 0 ? rt::Value(0.0) : real(1 / t);
     }},
    {"ElapsedTime", 2, [](Args a) { return rt::Value(clockText(secondsOf(text(a, 1)) - secondsOf(text(a, 0)))); }},
    {"GroupMembers", 1, [](Args a) {
       const std::string name = upper(trimmed(text(a, 0)));
       return runValue([&](const RunContext& run) {
         if (!run.layout || !run.aggregates || run.row < 0) return rt::Value(0);
         for (std::size_t level = 0; level < run.layout->groups.size(); ++level)
           if (upper(run.layout->groups[level].name) == name) {
             const auto& members = run.aggregates->membersOfInstance[level];
             const auto instance = static_cast<std::size_t>(run.aggregates->instanceOf(level, run.row));
             return rt::Value(instance < members.size() ? members[instance] : 0);
           }
         return rt::Value(0);
       }, rt::Value(0));
     }},
    {"HoursBetween", 5, [](Args a) { return between(a, 3600); }},
    {"IsBetween", 3, [](Args a) {
       const auto low = rt::compareValues(arg(a, 0), arg(a, 1));
       const auto high = rt::compareValues(arg(a, 0), arg(a, 2));
       return rt::Value(low && high && *low >= 0 && *high <= 0);
     }},
    {"MakeDate", 3, [](Args a) {
       return rt::Value(rt::makeDate(static_cast<int>(std::clamp<long long>(arg(a, 0).asLong(), 0, 9999)),
                                     static_cast<int>(std::clamp<long long>(arg(a, 1).asLong(), 0, 99)),
                                     static_cast<int>(std::clamp<long long>(arg(a, 2).asLong(), 0, 99))));
     }},
    {"MakeTime", 3, [](Args a) {
       const long long h = std::clamp<long long>(arg(a, 0).asLong(), 0, 99);
       const long long m = std::clamp<long long>(arg(a, 1).asLong(), 0, 59);
       const long long s = std::clamp<long long>(arg(a, 2).asLong(), 0, 59);
       return rt::Value(clockText(h * 3600 + m * 60 + s));
     }},
    {"Modulus", 2, [](Args a) {
       const double d = num(a, 1);
       if (d == 0) return rt::Value(0);
       if (arg(a, 0).isLong() && arg(a, 1).isLong()) {
         const long long r = arg(a, 0).asLong() % arg(a, 1).asLong();
         return rt::Value(r != 0 && ((r < 0) != (arg(a, 1).asLong() < 0)) ? r + arg(a, 1).asLong() : r);
       }
       const double r = std::fmod(num(a, 0), d);
       return real(r != 0 && ((r < 0) != (d < 0)) ? r + d : r);
     }},
    {"MinutesBetween", 5, [](Args a) { return between(a, 60); }},
    {"Num2CDOW", 1, [](Args a) {
       static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
       const long long n = arg(a, 0).asLong();
       return rt::Value(n >= 1 && n <= 7 ? kDays[n - 1] : "");
     }},
    {"Num2CMonth", 1, [](Args a) {
       static const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                             "July",    "August",   "September", "October", "November", "December"};
       const long long n = arg(a, 0).asLong();
       return rt::Value(n >= 1 && n <= 12 ? kMonths[n - 1] : "");
     }},
    {"NumTrim", 1, [](Args a) {
       const rt::Value& v = arg(a, 0);
       if (v.isLong()) return rt::Value(std::to_string(v.asLong()));
       std::string s = rt::formatNumber(v.asNumber(), v.isFloat() && v.decimals() >= 0 ? v.decimals() : 2);
       return rt::Value(trimmed(s));
     }},
    {"OccursIn", 2, [](Args a) {
       const std::string needle = text(a, 0), hay = text(a, 1);
       if (needle.empty()) return rt::Value(0);
       long long count = 0;
       for (auto at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + needle.size())) ++count;
       return rt::Value(count);
     }},
    {"Power", 2, [](Args a) { return real(std::pow(num(a, 0), num(a, 1))); }},
    {"Properize", 1, [](Args a) {
       std::string s = text(a, 0);
       bool start = true;
       for (char& c : s) {
         const unsigned char u = static_cast<unsigned char>(c);
         if (std::isalpha(u)) {
           c = static_cast<char>(start ? std::toupper(u) : std::tolower(u));
           start = false;
         } else {
           start = c == ' ' || c == '-' || c == '\t';
         }
       }
       return rt::Value(s);
     }},
    {"RPDSGetField", 2, [](Args a) {
       const std::string name = upper(trimmed(text(a, 1)));
       return runValue([&](const RunContext& run) { return runField(run, rt::Symbol(name)).value_or(rt::Value()); },
                       rt::Value());
     }},
    {"RpEOF", 0, [](Args) {
       return runValue([](const RunContext& run) {
         return rt::Value(run.atEnd || !run.rows || run.row < 0 ||
                          static_cast<std::size_t>(run.row) + 1 >= run.rows->size());
       }, rt::Value(true));
     }},
    {"rpVarValue", 2, [](Args a) {
       const std::string name = trimmed(text(a, 0));
       const rt::Value fallback = arg(a, 1);
       return runValue([&](const RunContext& run) { return runAggregate(run, name).value_or(fallback); }, fallback);
     }},
    {"rpFieldGet", 2, [](Args a) {
       const std::string name = upper(trimmed(text(a, 1)));
       return runValue([&](const RunContext& run) { return runField(run, rt::Symbol(name)).value_or(rt::Value()); },
                       rt::Value());
     }},
    {"RpSectionEOF", 0, [](Args) {
       return runValue([](const RunContext& run) {
         if (!run.rows || run.row < 0 || static_cast<std::size_t>(run.row) + 1 >= run.rows->size())
           return rt::Value(true);
         if (!run.aggregates || run.aggregates->instanceStarts.empty()) return rt::Value(false);
         const std::size_t inner = run.aggregates->instanceStarts.size() - 1;
         return rt::Value(run.aggregates->startsInstance(inner, static_cast<std::size_t>(run.row) + 1));
       }, rt::Value(true));
     }},
    {"Sec2Days", 1, [](Args a) {
       const long long total = std::max<long long>(0, arg(a, 0).asLong());
       return rt::Value(std::to_string(total / 86400) + " " + clockText(total % 86400));
     }},
    {"Sine", 1, [](Args a) { return real(std::sin(num(a, 0))); }},
    {"SQLBIT", 3, [](Args a) {
       return arg(a, 0).isNil() ? rt::Value("NULL") : rt::Value(arg(a, 0).asLogical() ? "1" : "0");
     }},
    {"SQLC", 3, [](Args a) { return sqlText(a); }},
    {"SQLD", 3, [](Args a) {
       const rt::Value& v = arg(a, 0);
       return v.isDate() && !v.asDate().empty() ? rt::Value(sqlQuoted(isoDate(v.asDate()))) : rt::Value("NULL");
     }},
    {"SQLLI", 3, [](Args a) { return sqlNumber(a, true, 0); }},
    {"SQLR4", 3, [](Args a) { return sqlNumber(a, false, 6); }},
    {"SQLR8", 3, [](Args a) { return sqlNumber(a, false, 15); }},
    {"SQLSI", 3, [](Args a) {
       const rt::Value& v = arg(a, 0);
       if (v.isNil()) return rt::Value("NULL");
       return rt::Value(std::to_string(std::clamp<long long>(std::llround(v.asNumber()), -32768, 32767)));
     }},
    {"SQLTS", 3, [](Args a) {
       const rt::Value& v = arg(a, 0);
       if (!v.isDate() || v.asDate().empty()) return rt::Value("NULL");
       const std::string time = arg(a, 1).isString() ? clockText(secondsOf(text(a, 1)) % 86400) : "00:00:00";
       return rt::Value(sqlQuoted(isoDate(v.asDate()) + " " + time));
     }},
    {"Tangent", 1, [](Args a) { return real(std::tan(num(a, 0))); }},
    {"PgCount", 0, [](Args) { return runValue([](const RunContext& run) { return rt::Value(run.pageCount); }, rt::Value(0)); }},
    {"PgNo", 0, [](Args) { return runValue([](const RunContext& run) { return rt::Value(run.page); }, rt::Value(0)); }},
};

}  // namespace

std::vector<FunctionSpec> engineFunctionTable() {
  std::vector<FunctionSpec> out;
  for (const auto& f : kEngineFunctions) out.push_back({f.name, f.paramCount});
  return out;
}

void registerEngineFunctions() {
  for (const auto& f : kEngineFunctions) rt::registerFunction(f.name, f.paramCount, f.body);
}

}  // namespace rpt
