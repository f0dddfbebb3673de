#include "table_dispatch.h"

#include "runtime/runtime.h"

namespace zctl {

namespace {

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

}  // namespace

MemberTable::MemberTable(std::span<const Member> members) : members_(members) {
  for (const auto& m : members_) {
    upper_.push_back(rt::toUpper(m.name));
    if (m.id >= 0 && static_cast<std::size_t>(m.id) < small_.size() && !small_[static_cast<std::size_t>(m.id)])
      small_[static_cast<std::size_t>(m.id)] = &m;
  }
}

// A few dozen members at most: a scan that compares lengths first costs less than building an
// upper-case key to hash, and a late-bound walk looks a name up on every call.
const Member* MemberTable::byName(std::string_view name) const {
  for (std::size_t i = 0; i < upper_.size(); ++i) {
    const std::string& u = upper_[i];
    if (u.size() != name.size()) continue;
    std::size_t k = 0;
    while (k < u.size() && upperAscii(name[k]) == u[k]) ++k;
    if (k == u.size()) return &members_[i];
  }
  return nullptr;
}

// Every call looks its member up by id: most ids are small, and those take one index.
const Member* MemberTable::byId(ole::DispId id) const {
  if (id >= 0 && static_cast<std::size_t>(id) < small_.size()) return small_[static_cast<std::size_t>(id)];
  for (const auto& m : members_)
    if (m.id == id) return &m;
  return nullptr;
}

ole::HResult TableDispatch::GetIDsOfNames(std::string_view name, ole::DispId& id) {
  const Member* m = table_.byName(name);
  if (!m) {
    id = ole::DISPID_UNKNOWN;
    return ole::DISP_E_UNKNOWNNAME;
  }
  id = m->id;
  return ole::S_OK;
}

ole::HResult TableDispatch::Invoke(ole::DispId id, unsigned kind, std::vector<ole::Variant>& args,
                                   ole::Variant& result, ole::ExcepInfo& excep) {
  const Member* m = table_.byId(id);
  if (!m) return ole::DISP_E_MEMBERNOTFOUND;
  Access access;
  if (m->property) {
    if (kind & ole::DISPATCH_PROPERTYPUT)
      access = Access::Put;
    else if (kind & (ole::DISPATCH_PROPERTYGET | ole::DISPATCH_METHOD))
      access = Access::Get;
    else
      return ole::DISP_E_MEMBERNOTFOUND;
    if (access == Access::Put && args.empty()) return ole::DISP_E_BADPARAMCOUNT;
  } else {
    if (!(kind & ole::DISPATCH_METHOD)) return ole::DISP_E_MEMBERNOTFOUND;
    access = Access::Call;
  }
  if (result.vt != ole::VT_EMPTY) result = ole::Variant();
  if (m->handler) {
    Invocation call{*m, access, args, result, excep};
    return m->handler(*this, call);
  }
  return invokeMember(*m, access, args, result, excep);
}

ole::HResult TableDispatch::invokeMember(const Member&, Access, std::vector<ole::Variant>&, ole::Variant&,
                                         ole::ExcepInfo&) {
  return ole::DISP_E_MEMBERNOTFOUND;
}

ole::HResult fail(ole::ExcepInfo& excep, int genCode, std::string description, std::string fileName) {
  excep.source = "Zorbane";
  excep.genCode = genCode;
  excep.description = std::move(description);
  excep.fileName = std::move(fileName);
  return ole::DISP_E_EXCEPTION;
}

ole::HResult readOnly(ole::ExcepInfo& excep, const char* member) {
  return fail(excep, rt::EG_READONLY, std::string(member) + ": the schema store is opened read-only");
}

bool ArgReader::count(std::size_t min, std::size_t max) {
  if (args_.size() >= min && args_.size() <= max) return true;
  excep_.source = "Zorbane";
  excep_.genCode = rt::EG_ARG;
  excep_.description = std::string(member_) + ": expects " + std::to_string(min) +
                       (max != min ? " to " + std::to_string(max) : std::string()) + " arguments, got " +
                       std::to_string(args_.size());
  hr = ole::DISP_E_BADPARAMCOUNT;
  return false;
}

bool ArgReader::mismatch(const char* param, const char* wanted) {
  excep_.source = "Zorbane";
  excep_.genCode = rt::EG_ARG;
  excep_.description = std::string(member_) + ": " + param + " must be " + wanted;
  hr = ole::DISP_E_TYPEMISMATCH;
  return false;
}

bool ArgReader::text(std::size_t i, const char* param, std::string& out) {
  if (i >= args_.size() || args_[i].vt != ole::VT_BSTR) return mismatch(param, "a string");
  out = args_[i].bstrVal;
  return true;
}

bool ArgReader::integer(std::size_t i, const char* param, std::int64_t& out, std::int64_t fallback) {
  if (!has(i)) {
    out = fallback;
    return true;
  }
  const auto& v = args_[i];
  if (v.vt == ole::VT_I2 || v.vt == ole::VT_I4) {
    out = v.lVal;
    return true;
  }
  if (v.vt == ole::VT_R8 && v.dblVal == static_cast<double>(static_cast<std::int64_t>(v.dblVal))) {
    out = static_cast<std::int64_t>(v.dblVal);
    return true;
  }
  return mismatch(param, "a whole number");
}

bool ArgReader::logical(std::size_t i, const char* param, bool& out, bool fallback) {
  if (!has(i)) {
    out = fallback;
    return true;
  }
  const auto& v = args_[i];
  if (v.vt == ole::VT_BOOL) {
    out = v.boolVal;
    return true;
  }
  if (v.vt == ole::VT_I2 || v.vt == ole::VT_I4) {
    out = v.lVal != 0;
    return true;
  }
  return mismatch(param, "a logical");
}

}  // namespace zctl
