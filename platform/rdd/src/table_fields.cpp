// Fields of the current record: reading them as run-time values or stored bytes, and writing
// values of every field type into the record buffer.
#include <algorithm>
#include <cstring>

#include "table_impl.h"

namespace rdd {

namespace {

// Days from the civil date to the run-time's Julian day numbers.
std::int32_t julianOf(int y, int m, int d) {
  int a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}
void civilOf(std::int32_t j, int* y, int* m, int* d) {
  int a = j + 32044, b = (4 * a + 3) / 146097, c = a - 146097 * b / 4;
  int dd = (4 * c + 3) / 1461, e = c - 1461 * dd / 4, mm = (5 * e + 2) / 153;
  *d = e - (153 * mm + 2) / 5 + 1;
  *m = mm + 3 - 12 * (mm / 10);
  *y = 100 * b + dd - 4800 + mm / 10;
}

}  // namespace

rt::Value storedValue(const FieldInfo& f, std::string_view raw) {
  switch (f.type) {
    case 'L': return rt::Value(!raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y'));
    case 'N': case 'F': {
      std::string s = trimSpaces(raw);
      if (f.decimals == 0) return rt::Value(static_cast<long long>(std::atoll(s.c_str())));
      return rt::Value(rt::Float{std::atof(s.c_str()), f.decimals});
    }
    case 'D': {
      std::string s(raw);
      if (trimSpaces(s).empty() || s.size() < 8) return rt::Value(rt::Date{});
      int y = std::atoi(s.substr(0, 4).c_str()), m = std::atoi(s.substr(4, 2).c_str()), d = std::atoi(s.substr(6, 2).c_str());
      if (m < 1 || m > 12 || d < 1 || d > 31) return rt::Value(rt::Date{});
      return rt::Value(rt::Date{julianOf(y, m, d)});
    }
    default: return rt::Value(raw);
  }
}

std::string_view Table::rawField(int index) {
  Impl& t = *impl_;
  if (!t.isOpen || index < 0 || index >= fieldCount()) return {};
  if (!t.recLoaded) {
    Status s = t.loadRecord();
    if (!s.ok()) t.raise(rt::EG_READ, "cannot read record " + std::to_string(t.recno) + " of " + t.fullPath + ": " + s.message, "FIELDGET");
  }
  const FieldInfo& f = t.fields[static_cast<std::size_t>(index)];
  return std::string_view(t.rec.data() + f.offset, static_cast<std::size_t>(f.length));
}

bool Table::logical(int index) {
  std::string_view raw = rawField(index);
  return !raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y');
}

rt::Value Table::get(int index) {
  Impl& t = *impl_;
  if (!t.isOpen) return {};
  if (index < 0 || index >= fieldCount()) {
    t.raise(rt::EG_NOVAR, "field number " + std::to_string(index + 1) + " does not exist in " + t.fullPath, "FIELDGET");
    return {};
  }
  const FieldInfo& f = t.fields[static_cast<std::size_t>(index)];
  if (f.type == 'C') return rt::Value(text(index));
  return storedValue(f, rawField(index));
}

rt::Value Table::get(std::string_view name) {
  int i = fieldIndex(name);
  if (i < 0) {
    if (impl_->isOpen)
      impl_->raise(rt::EG_NOVAR, "field " + rt::toUpper(name) + " does not exist in " + impl_->fullPath, "FIELDGET");
    return {};
  }
  return get(i);
}

void Table::put(std::string_view name, const rt::Value& value) {
  int i = fieldIndex(name);
  if (i < 0) {
    if (impl_->isOpen)
      impl_->raise(rt::EG_NOVAR, "field " + rt::toUpper(name) + " does not exist in " + impl_->fullPath, "FIELDPUT");
    return;
  }
  put(i, value);
}

void Table::put(int index, const rt::Value& value) {
  Impl& t = *impl_;
  if (!t.isOpen) return;
  const char* op = "FIELDPUT";
  if (index < 0 || index >= fieldCount()) {
    t.raise(rt::EG_NOVAR, "field number " + std::to_string(index + 1) + " does not exist in " + t.fullPath, op);
    return;
  }
  const FieldInfo& f = t.fields[static_cast<std::size_t>(index)];
  if (t.options.readOnly) {
    t.raise(rt::EG_READONLY, "table " + t.fullPath + " is open read-only; field " + f.name + " not written", op);
    return;
  }
  if (t.atEof) {
    t.raise(rt::EG_BOUND, "no current record in " + t.fullPath + " (end of table); field " + f.name + " not written", op);
    return;
  }
  if (f.type == 'C' && value.isString()) return t.storeText(index, value.asString(), op);
  if (f.type == 'M' && value.isString()) return t.storeField(index, value.asString());
  if (f.type == 'L' && value.isLogical()) return t.storeField(index, value.asLogical() ? "T" : "F");
  std::string bytes(static_cast<std::size_t>(f.length), ' ');
  auto typeError = [&] {
    t.raise(rt::EG_DATATYPE, "field " + f.name + " of type " + std::string(1, f.type) + " cannot hold a " +
                                 rt::typeName(value.typeCode()) + " value", op);
  };
  switch (f.type) {
    case 'C': case 'M':
      if (!value.isString()) return typeError();
      std::memcpy(bytes.data(), value.asString().data(), std::min(bytes.size(), value.asString().size()));
      break;
    case 'L':
      if (!value.isLogical()) return typeError();
      bytes[0] = value.asLogical() ? 'T' : 'F';
      break;
    case 'N': case 'F': {
      if (!value.isNumber()) return typeError();
      char buf[64];
      std::snprintf(buf, sizeof buf, "%*.*f", f.length, f.decimals, value.asNumber());
      if (static_cast<int>(std::strlen(buf)) > f.length) {
        t.raise(rt::EG_DATAWIDTH, "value " + rt::toText(value) + " does not fit field " + f.name, op);
        return;
      }
      bytes = buf;
      break;
    }
    case 'D': {
      if (!value.isDate()) return typeError();
      if (!value.asDate().empty()) {
        int y, m, d;
        civilOf(value.asDate().julian, &y, &m, &d);
        char buf[48];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", y % 10000, m % 100, d % 100);
        bytes = buf;
      }
      break;
    }
  }
  t.storeField(index, bytes);
}

void Table::putLogical(int index, bool value) {
  Impl& t = *impl_;
  if (!t.isOpen || index < 0 || index >= fieldCount() || t.fields[static_cast<std::size_t>(index)].type != 'L' ||
      t.options.readOnly || t.atEof)
    return put(index, rt::Value(value));  // the general path raises what is wrong
  t.storeField(index, value ? "T" : "F");
}

void Table::putStr(int index, std::string_view value) {
  Impl& t = *impl_;
  if (!t.isOpen || index < 0 || index >= fieldCount() || t.fields[static_cast<std::size_t>(index)].type != 'C' ||
      t.options.readOnly || t.atEof)
    return put(index, rt::Value(value));
  t.storeText(index, value, "FIELDPUT");
}

// Stores already-converted bytes into the current record (blank-padded or cut to the width),
// remembering the record as it was when a key field changes.
void Table::Impl::storeField(int index, std::string_view bytes) {
  const FieldInfo& f = fields[static_cast<std::size_t>(index)];
  if (!recLoaded && !recordReadFor("FIELDPUT", "not written", &f.name)) return;
  char* dst = rec.data() + f.offset;
  const std::size_t width = static_cast<std::size_t>(f.length), n = std::min(width, bytes.size());
  // A record appended and not yet written is written whatever its fields hold; another one only
  // when a field changes.
  if (!appendedUncommitted) {
    bool same = width == 1 ? *dst == (n ? bytes[0] : ' ') : std::memcmp(dst, bytes.data(), n) == 0;
    for (std::size_t i = n; same && i < width; ++i) same = dst[i] == ' ';
    if (same) return;
    if (!keysTouched && fieldInKey[static_cast<std::size_t>(index)]) {
      origRec = rec;
      keysTouched = true;
    }
  }
  if (width == 1) {  // a logical flag or a one-character code
    *dst = n ? bytes[0] : ' ';
  } else {
    std::memcpy(dst, bytes.data(), n);
    std::memset(dst + n, ' ', width - n);
  }
  if (!recDirty) recordChangedBy = "FIELDPUT";
  recDirty = true;
}

}  // namespace rdd
