// The general library: string, number and date functions callable by name from formulas and
// index keys. Written once as a table (name, parameter count, body). A body reads its arguments
// through Args, which reports an argument of the wrong kind or a result that would be too long;
// the registered wrapper raises that as an error naming the function and the argument.
#include <cmath>
#include <cstdint>
#include <limits>

#include "runtime/error.h"
#include "runtime/format.h"
#include "runtime/functions.h"
#include "runtime/settings.h"
#include "value_ops.h"

namespace rt {
namespace {

struct ArgFault {
  int argNum;    // 1-based
  Type required;
};
struct LengthFault {
  double requested;
};

class Args {
 public:
  explicit Args(std::span<const Value> values) : values_(values) {}

  const Value& at(int i) const {
    static const Value kNil;
    return static_cast<std::size_t>(i) < values_.size() ? values_[i] : kNil;
  }
  bool given(int i) const { return !at(i).isNil(); }

  const std::string& str(int i) const {
    if (!at(i).isString()) throw ArgFault{i + 1, Type::String};
    return at(i).asString();
  }
  double num(int i) const {
    if (!at(i).isNumber()) throw ArgFault{i + 1, Type::Float};
    return at(i).asNumber();
  }
  // A count or position: whole, clamped to the int range; NIL gives `fallback`.
  long long whole(int i, long long fallback) const {
    if (!given(i)) return fallback;
    double d = num(i);
    if (d != d) return 0;
    if (d > 2e9) return 2000000000LL;
    if (d < -2e9) return -2000000000LL;
    return static_cast<long long>(d);
  }
  Date date(int i) const {
    if (!at(i).isDate()) throw ArgFault{i + 1, Type::Date};
    return at(i).asDate();
  }
  bool logical(int i, bool fallback) const {
    if (!given(i)) return fallback;
    if (!at(i).isLogical()) throw ArgFault{i + 1, Type::Logical};
    return at(i).asLogical();
  }

 private:
  std::span<const Value> values_;
};

// A length for a string about to be built; beyond the run-time's limit it is an overflow.
std::size_t length(long long n) {
  if (n <= 0) return 0;
  if (static_cast<unsigned long long>(n) > ops::kMaxString) throw LengthFault{static_cast<double>(n)};
  return static_cast<std::size_t>(n);
}

Value number(double v, int decimals) { return Value(Float{v, decimals}); }

// ---- strings ----

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string rightTrimmed(const std::string& s) {
  std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string leftTrimmed(const std::string& s) {
  std::size_t start = 0;
  while (start < s.size() && isBlank(s[start])) ++start;
  return s.substr(start);
}

std::string caseMapped(const std::string& s, bool upper) {
  std::string out = s;
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// The text a padding function works on: strings as they are, other kinds in their display form.
std::string padSource(const Value& v) {
  if (v.isString()) return v.asString();
  if (v.isLong()) return std::to_string(v.asLong());
  if (v.isNil()) return {};
  return toText(v);
}

char fillChar(const Args& a, int i) {
  if (!a.given(i)) return ' ';
  const std::string& f = a.str(i);
  return f.empty() ? ' ' : f[0];
}

enum class Align { Left, Right, Center };

Value pad(const Args& a, Align align) {
  std::string s = padSource(a.at(0));
  std::size_t width = length(a.whole(1, 0));
  char fill = fillChar(a, 2);
  if (s.size() >= width) return Value(align == Align::Right ? s.substr(s.size() - width) : s.substr(0, width));
  std::size_t gap = width - s.size();
  switch (align) {
    case Align::Left: return Value(s + std::string(gap, fill));
    case Align::Right: return Value(std::string(gap, fill) + s);
    case Align::Center: return Value(std::string(gap / 2, fill) + s + std::string(gap - gap / 2, fill));
  }
  return Value(s);
}

Value at(const Args& a, bool last) {
  const std::string& needle = a.str(0);
  const std::string& hay = a.str(1);
  if (needle.empty()) return Value(0);
  std::size_t p = last ? hay.rfind(needle) : hay.find(needle);
  return Value(p == std::string::npos ? 0 : static_cast<long long>(p) + 1);
}

Value substr(const Args& a) {
  const std::string& s = a.str(0);
  long long n = static_cast<long long>(s.size());
  long long start = a.whole(1, 1);
  if (start < 0) start = n + start + 1;  // counted from the end
  if (start < 1) start = 1;
  if (start > n) return Value(std::string());
  long long count = a.given(2) ? a.whole(2, 0) : n - start + 1;
  if (count <= 0) return Value(std::string());
  return Value(s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

Value strtran(const Args& a) {
  const std::string& s = a.str(0);
  const std::string& search = a.str(1);
  std::string with = a.given(2) ? a.str(2) : std::string();
  long long first = a.whole(3, 1);
  long long count = a.given(4) ? a.whole(4, 0) : std::numeric_limits<long long>::max();
  if (search.empty() || first < 1 || count <= 0) return Value(s);
  std::string out;
  long long seen = 0, replaced = 0;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = s.find(search, pos);
    if (hit == std::string::npos || replaced >= count) break;
    ++seen;
    out.append(s, pos, hit - pos);
    if (seen >= first) {
      out += with;
      ++replaced;
    } else {
      out += search;
    }
    pos = hit + search.size();
    length(static_cast<long long>(out.size()));
  }
  out.append(s, pos, std::string::npos);
  length(static_cast<long long>(out.size()));
  return Value(std::move(out));
}

Value stuff(const Args& a) {
  const std::string& s = a.str(0);
  long long start = a.whole(1, 1);
  long long remove = a.whole(2, 0);
  std::string insert = a.given(3) ? a.str(3) : std::string();
  std::size_t from = static_cast<std::size_t>(std::clamp<long long>(start - 1, 0, static_cast<long long>(s.size())));
  std::size_t n = static_cast<std::size_t>(std::clamp<long long>(remove, 0, static_cast<long long>(s.size() - from)));
  length(static_cast<long long>(s.size() - n + insert.size()));
  return Value(s.substr(0, from) + insert + s.substr(from + n));
}

Value replicate(const Args& a) {
  const std::string& s = a.str(0);
  long long times = a.whole(1, 0);
  if (s.empty() || times <= 0) return Value(std::string());
  length(static_cast<long long>(static_cast<double>(s.size()) * static_cast<double>(times) > 9e18
                                    ? std::numeric_limits<long long>::max()
                                    : static_cast<long long>(s.size()) * times));
  std::string out;
  out.reserve(s.size() * static_cast<std::size_t>(times));
  for (long long i = 0; i < times; ++i) out += s;
  return Value(std::move(out));
}

// ---- memo text: lines broken at hard returns (CR LF), soft returns (141 LF) and the width ----

// Walks the lines of a memo text and answers how many there are; when `wanted` (1-based) is
// reached, that line is stored in `found` and the walk stops there.
std::size_t memoLines(const std::string& text, std::size_t width, std::size_t tab, bool wrap, std::size_t wanted,
                      std::string* found) {
  if (width == 0) return 0;
  std::size_t count = 0;
  std::string line;
  bool done = false;
  auto flush = [&] {
    if (++count == wanted && found) {
      *found = line;
      done = true;
    }
    line.clear();
  };
  for (std::size_t i = 0; i < text.size() && !done; ++i) {
    char c = text[i];
    if ((c == '\r' || c == static_cast<char>(141)) && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      flush();
      continue;
    }
    if (c == '\t' && tab > 0) {
      std::size_t spaces = tab - line.size() % tab;
      line.append(std::min(spaces, width - std::min(width, line.size())), ' ');
    } else {
      line += c;
    }
    if (line.size() >= width + (c == ' ' ? 1 : 0)) {
      std::size_t cut = width;
      if (wrap) {
        std::size_t space = line.rfind(' ', width);
        if (space != std::string::npos && space > 0) cut = space + 1;
      }
      std::string rest = cut < line.size() ? line.substr(cut) : std::string();
      line.resize(std::min(cut, line.size()));
      flush();
      line = std::move(rest);
    }
  }
  if (!done && !line.empty()) flush();
  return count;
}

Value memoline(const Args& a) {
  const std::string& s = a.str(0);
  std::size_t width = length(a.whole(1, 79));
  long long n = a.whole(2, 1);
  std::size_t tab = static_cast<std::size_t>(std::clamp<long long>(a.whole(3, 4), 0, 32));
  bool wrap = a.logical(4, true);
  std::string line;
  if (n >= 1) memoLines(s, width, tab, wrap, static_cast<std::size_t>(n), &line);
  // A wrapped line keeps no trailing blank; the result is padded to the width.
  line = rightTrimmed(line).substr(0, width);
  line.resize(width, ' ');
  return Value(std::move(line));
}

Value mlcount(const Args& a) {
  const std::string& s = a.str(0);
  std::size_t width = length(a.whole(1, 79));
  std::size_t tab = static_cast<std::size_t>(std::clamp<long long>(a.whole(2, 4), 0, 32));
  bool wrap = a.logical(3, true);
  return Value(static_cast<long long>(memoLines(s, width, tab, wrap, 0, nullptr)));
}

Value memotran(const Args& a) {
  const std::string& s = a.str(0);
  std::string hard = a.given(1) ? a.str(1) : std::string(";");
  std::string soft = a.given(2) ? a.str(2) : std::string(" ");
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
      out += hard;
      ++i;
    } else if (s[i] == static_cast<char>(141) && i + 1 < s.size() && s[i + 1] == '\n') {
      out += soft;
      ++i;
    } else {
      out += s[i];
    }
    length(static_cast<long long>(out.size()));
  }
  return Value(std::move(out));
}

Value hardcr(const Args& a) {
  std::string s = a.str(0);
  for (std::size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == static_cast<char>(141) && s[i + 1] == '\n') s[i] = '\r';
  return Value(std::move(s));
}

// ---- numbers ----

int shownDecimals(const Value& v) {
  if (v.isLong()) return 0;
  return v.decimals() < 0 ? settings().decimals : v.decimals();
}

Value str(const Args& a, bool zeros) {
  const Value& v = a.at(0);
  double x = a.num(0);
  long long width = a.given(1) ? static_cast<long long>(length(a.whole(1, 10))) : -1;
  int decimals = a.given(2) ? static_cast<int>(std::clamp<long long>(a.whole(2, 0), 0, 60))
                 : width >= 0 ? 0 : shownDecimals(v);
  if (width < 0) width = (v.isLong() ? 10 : 10 + (decimals > 0 ? decimals + 1 : 0));
  std::string text = strNumber(x, static_cast<int>(width), decimals);
  if (zeros) {
    bool negative = text.find('-') != std::string::npos;
    for (char& c : text)
      if (c == ' ' || c == '-') c = '0';
    if (negative && !text.empty()) text[0] = '-';
  }
  return Value(std::move(text));
}

Value round(const Args& a) {
  double x = a.num(0);
  long long d = std::clamp<long long>(a.whole(1, 0), -15, 15);
  double scale = std::pow(10.0, static_cast<double>(d));
  double r = std::round(x * scale) / scale;
  if (!std::isfinite(r)) r = x;
  return number(r, d > 0 ? static_cast<int>(d) : 0);
}

Value integer(const Args& a) {
  double x = a.num(0);
  if (a.at(0).isLong()) return a.at(0);
  double t = std::trunc(x);
  if (std::fabs(t) < 9e18) return Value(static_cast<long long>(t));
  return number(t, 0);
}

Value val(const Args& a) {
  const std::string& s = a.str(0);
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  std::size_t start = i;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  int decimals = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      ++i;
      ++decimals;
    }
  }
  std::string text = s.substr(start, i - start);
  double v = text.empty() || text == "-" || text == "+" ? 0.0 : std::strtod(text.c_str(), nullptr);
  if (decimals == 0 && std::fabs(v) < 9e18 && text.find('.') == std::string::npos)
    return Value(static_cast<long long>(v));
  return number(v, decimals);
}

Value extreme(const Args& a, bool wantMax) {
  const Value& x = a.at(0);
  const Value& y = a.at(1);
  std::optional<int> c = compareValues(x, y);
  if (!c || !(x.isNumber() || x.isDate() || x.isString())) throw ArgFault{2, x.isNil() ? Type::Float : x.type()};
  return wantMax ? (*c >= 0 ? x : y) : (*c <= 0 ? x : y);
}

// Rand: a fixed linear congruential sequence, so runs repeat; a seed restarts it.
std::uint64_t& randState() {
  static std::uint64_t state = 100001;
  return state;
}

Value rand(const Args& a) {
  if (a.given(0)) randState() = static_cast<std::uint64_t>(a.whole(0, 0)) * 2654435761u + 1;
  randState() = randState() * 6364136223846793005ULL + 1442695040888963407ULL;
  return number(static_cast<double>(randState() >> 11) / 9007199254740992.0, -1);
}

Value logarithm(const Args& a) {
  double x = a.num(0);
  if (x <= 0) {
    auto e = makeError(EG_NUMERR, "BASE", "Log of " + formatNumber(x, -1) + ", which is not above zero", "LOG");
    e->arg = a.at(0);
    e->argType = a.at(0).typeCode();
    e->argNum = 1;
    e->funcSym = Symbol("LOG");
    e->canSubstitute = true;
    Answer ans = raise(e);
    return ans.kind == Answer::Substitute ? ans.substitute : number(0, -1);
  }
  return number(std::log(x), -1);
}

// ---- dates ----

const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

int datePart(Date d, int which) {
  int y, m, day;
  splitDate(d, y, m, day);
  return which == 0 ? y : which == 1 ? m : day;
}

Value descend(const Args& a) {
  const Value& v = a.at(0);
  switch (v.type()) {
    case Type::String: {
      std::string s = v.asString();
      for (char& c : s) c = static_cast<char>((256 - static_cast<unsigned char>(c)) & 0xFF);
      return Value(std::move(s));
    }
    case Type::Long: case Type::Float: return ops::negate(v).value;
    case Type::Date: return Value(5231808LL - v.asDate().julian);
    case Type::Logical: return Value(!v.asLogical());
    default: return v;
  }
}

bool isEmpty(const Value& v) {
  switch (v.type()) {
    case Type::Nil: return true;
    case Type::Long: case Type::Float: return v.asNumber() == 0;
    case Type::Date: return v.asDate().empty();
    case Type::Logical: return !v.asLogical();
    case Type::String:
      return std::all_of(v.asString().begin(), v.asString().end(), isBlank);
    case Type::Array: return !v.asArray() || v.asArray()->empty();
    case Type::Symbol: return v.asSymbol().isNull();
    case Type::Pointer: return v.asPointer().address == 0;
    case Type::Object: return false;
  }
  return false;
}

std::string valType(const Value& v) {
  switch (v.type()) {
    case Type::Nil: return "U";
    case Type::Long: case Type::Float: return "N";
    case Type::Date: return "D";
    case Type::String: return "C";
    case Type::Logical: return "L";
    case Type::Array: return "A";
    case Type::Object: return "O";
    case Type::Symbol: return "S";
    case Type::Pointer: return "P";
  }
  return "U";
}

bool firstIs(const Args& a, int (*test)(int)) {
  const std::string& s = a.str(0);
  return !s.empty() && test(static_cast<unsigned char>(s[0])) != 0;
}

int asciiAlpha(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int asciiDigit(int c) { return c >= '0' && c <= '9'; }
int asciiLower(int c) { return c >= 'a' && c <= 'z'; }
int asciiUpper(int c) { return c >= 'A' && c <= 'Z'; }

struct LibraryEntry {
  const char* name;
  int paramCount;
  Value (*body)(const Args&);
};

const LibraryEntry kLibrary[] = {
    {"ABS", 1, [](const Args& a) {
       a.num(0);
       const Value& v = a.at(0);
       return v.asNumber() < 0 ? ops::negate(v).value : v;
     }},
    {"ALLTRIM", 1, [](const Args& a) { return Value(leftTrimmed(rightTrimmed(a.str(0)))); }},
    {"ASC", 1, [](const Args& a) {
       const std::string& s = a.str(0);
       return Value(s.empty() ? 0 : static_cast<int>(static_cast<unsigned char>(s[0])));
     }},
    {"AT", 2, [](const Args& a) { return at(a, false); }},
    {"CDOW", 1, [](const Args& a) {
       Date d = a.date(0);
       return Value(d.empty() ? std::string() : std::string(kDayNames[dayOfWeek(d) - 1]));
     }},
    {"CHR", 1, [](const Args& a) {
       long long n = a.whole(0, 0);
       return Value(std::string(1, static_cast<char>(static_cast<unsigned char>(((n % 256) + 256) % 256))));
     }},
    {"CMONTH", 1, [](const Args& a) {
       Date d = a.date(0);
       return Value(d.empty() ? std::string() : std::string(kMonthNames[datePart(d, 1) - 1]));
     }},
    {"CTOD", 1, [](const Args& a) { return Value(ctod(a.str(0))); }},
    {"DAY", 1, [](const Args& a) { return Value(datePart(a.date(0), 2)); }},
    {"DESCEND", 1, descend},
    {"DOW", 1, [](const Args& a) { return Value(dayOfWeek(a.date(0))); }},
    {"DTOC", 1, [](const Args& a) { return Value(dtoc(a.date(0))); }},
    {"DTOS", 1, [](const Args& a) { return Value(dtos(a.date(0))); }},
    {"EMPTY", 1, [](const Args& a) { return Value(isEmpty(a.at(0))); }},
    {"HARDCR", 1, hardcr},
    {"INTEGER", 1, integer},
    {"ISALPHA", 1, [](const Args& a) { return Value(firstIs(a, asciiAlpha)); }},
    {"ISDIGIT", 1, [](const Args& a) { return Value(firstIs(a, asciiDigit)); }},
    {"ISLOWER", 1, [](const Args& a) { return Value(firstIs(a, asciiLower)); }},
    {"ISNIL", 1, [](const Args& a) { return Value(a.at(0).isNil()); }},
    {"ISUPPER", 1, [](const Args& a) { return Value(firstIs(a, asciiUpper)); }},
    {"LEFT", 2, [](const Args& a) {
       const std::string& s = a.str(0);
       long long n = std::clamp<long long>(a.whole(1, 0), 0, static_cast<long long>(s.size()));
       return Value(s.substr(0, static_cast<std::size_t>(n)));
     }},
    {"LEN", 1, [](const Args& a) {
       const Value& v = a.at(0);
       if (v.isArray()) return Value(static_cast<long long>(v.asArray() ? v.asArray()->size() : 0));
       return Value(static_cast<long long>(a.str(0).size()));
     }},
    {"LOG", 1, logarithm},
    {"LOWER", 1, [](const Args& a) { return Value(caseMapped(a.str(0), false)); }},
    {"LTRIM", 1, [](const Args& a) { return Value(leftTrimmed(a.str(0))); }},
    {"MAX", 2, [](const Args& a) { return extreme(a, true); }},
    {"MEMOLINE", 5, memoline},
    {"MEMOTRAN", 3, memotran},
    {"MIN", 2, [](const Args& a) { return extreme(a, false); }},
    {"MLCOUNT", 4, mlcount},
    {"MONTH", 1, [](const Args& a) { return Value(datePart(a.date(0), 1)); }},
    {"PAD", 3, [](const Args& a) { return pad(a, Align::Left); }},
    {"PADC", 3, [](const Args& a) { return pad(a, Align::Center); }},
    {"PADL", 3, [](const Args& a) { return pad(a, Align::Right); }},
    {"PADR", 3, [](const Args& a) { return pad(a, Align::Left); }},
    {"RAND", 1, rand},
    {"RAT", 2, [](const Args& a) { return at(a, true); }},
    {"REPLICATE", 2, replicate},
    {"RIGHT", 2, [](const Args& a) {
       const std::string& s = a.str(0);
       long long n = std::clamp<long long>(a.whole(1, 0), 0, static_cast<long long>(s.size()));
       return Value(s.substr(s.size() - static_cast<std::size_t>(n)));
     }},
    {"ROUND", 2, round},
    {"SPACE", 1, [](const Args& a) { return Value(std::string(length(a.whole(0, 0)), ' ')); }},
    {"SQRT", 1, [](const Args& a) {
       double x = a.num(0);
       return number(x <= 0 ? 0.0 : std::sqrt(x), -1);
     }},
    {"STR", 3, [](const Args& a) { return str(a, false); }},
    {"STRTRAN", 5, strtran},
    {"STRZERO", 3, [](const Args& a) { return str(a, true); }},
    {"STUFF", 4, stuff},
    {"SUBSTR", 3, substr},
    {"TIME", 0, [](const Args&) { return Value(timeText()); }},
    {"TODAY", 0, [](const Args&) { return Value(today()); }},
    {"TRIM", 1, [](const Args& a) { return Value(rightTrimmed(a.str(0))); }},
    {"UPPER", 1, [](const Args& a) { return Value(caseMapped(a.str(0), true)); }},
    {"VAL", 1, val},
    {"VALTYPE", 1, [](const Args& a) { return Value(valType(a.at(0))); }},
    {"YEAR", 1, [](const Args& a) { return Value(datePart(a.date(0), 0)); }},
};

Value raiseArgFault(const LibraryEntry& f, std::span<const Value> args, const ArgFault& fault) {
  Value given = static_cast<std::size_t>(fault.argNum - 1) < args.size() ? args[fault.argNum - 1] : Value();
  std::string required = fault.required == Type::Float ? "a number" : typeName(static_cast<int>(fault.required));
  auto e = makeError(EG_ARG, "BASE",
                     std::string("Argument ") + std::to_string(fault.argNum) + " of " + f.name + " is " +
                         typeName(given.typeCode()) + " (" + toText(given) + "), needs " + required,
                     f.name);
  e->funcSym = Symbol(f.name);
  e->arg = given;
  e->argType = given.typeCode();
  e->argTypeReq = static_cast<int>(fault.required);
  e->argNum = fault.argNum;
  e->args = Value::array(Array(args.begin(), args.end()));
  e->canSubstitute = true;
  Answer answer = raise(e);
  return answer.kind == Answer::Substitute ? answer.substitute : Value();
}

Value raiseLengthFault(const LibraryEntry& f, std::span<const Value> args, const LengthFault& fault) {
  auto e = makeError(EG_STROVERFLOW, "BASE",
                     std::string(f.name) + " would build a string of " + formatNumber(fault.requested, 0) +
                         " bytes, more than the limit of " + std::to_string(ops::kMaxString),
                     f.name);
  e->funcSym = Symbol(f.name);
  e->args = Value::array(Array(args.begin(), args.end()));
  e->maxSize = static_cast<std::int64_t>(ops::kMaxString);
  e->canSubstitute = true;
  Answer answer = raise(e);
  return answer.kind == Answer::Substitute ? answer.substitute : Value();
}

}  // namespace

void registerGeneralLibrary() {
  for (const LibraryEntry& f : kLibrary) {
    registerFunction(f.name, f.paramCount, [&f](std::span<const Value> args) -> Value {
      try {
        return f.body(Args(args));
      } catch (const ArgFault& fault) {
        return raiseArgFault(f, args, fault);
      } catch (const LengthFault& fault) {
        return raiseLengthFault(f, args, fault);
      }
    });
  }
}

}  // namespace rt
