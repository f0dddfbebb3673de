#include <array>
#include <cmath>
#include <limits>

#include "ole/autoobject.h"

namespace ole {

namespace {

const rt::Symbol kPInterface("PINTERFACE");
const rt::Symbol kDwFuncs("DWFUNCS");
const rt::Symbol kDwVars("DWVARS");
const rt::Symbol kAllocArgDescs("__ALLOCARGDESCS");
const rt::Symbol kInvokeMethod("__INVOKEMETHOD");
const rt::Symbol kFreeArgs("__FREEARGS");

// Raises an automation failure naming the member and answers the operation's result.
rt::Value raiseFor(int genCode, const std::string& member, const std::string& description,
                   const ExcepInfo* excep = nullptr, HResult hr = S_OK, bool* retry = nullptr) {
  auto e = rt::makeError(genCode, "OLE", description, member, excep ? excep->fileName : std::string());
  e->funcSym = rt::Symbol(member);
  e->canDefault = true;
  e->canSubstitute = true;
  e->canRetry = retry != nullptr;
  e->subCode = hr ? static_cast<int>(static_cast<std::uint32_t>(hr) & 0xFFFF) : 0;
  e->osCode = excep && excep->osCode ? excep->osCode : static_cast<std::uint32_t>(hr);
  rt::Answer a = rt::raise(e);
  if (retry) *retry = a.retry();
  return a.kind == rt::Answer::Substitute ? a.substitute : rt::Value();
}

std::string invokeFailureText(const std::string& member, HResult hr, const ExcepInfo& excep) {
  std::string text = member + ": ";
  if (!excep.description.empty()) return text + excep.description;
  switch (hr) {
    case DISP_E_MEMBERNOTFOUND: return text + "member not found";
    case DISP_E_TYPEMISMATCH: return text + "argument type mismatch";
    case DISP_E_BADPARAMCOUNT: return text + "wrong number of arguments";
    case DISP_E_PARAMNOTOPTIONAL: return text + "a required argument is missing";
    case DISP_E_BADINDEX: return text + "index out of range";
    default: return text + "invoke failed";
  }
}

int genCodeFor(const ExcepInfo& excep) { return excep.genCode ? excep.genCode : rt::EG_OLE; }

const char* varTypeName(std::uint32_t vt) {
  switch (vt) {
    case VT_I2: return "VT_I2";
    case VT_I4: return "VT_I4";
    case VT_I8: return "VT_I8";
    case VT_R8: return "VT_R8";
    case VT_BSTR: return "VT_BSTR";
    case VT_DISPATCH: return "VT_DISPATCH";
    case VT_BOOL: return "VT_BOOL";
    case VT_VARIANT: return "VT_VARIANT";
    case VT_UNKNOWN: return "VT_UNKNOWN";
    case VT_PTR: return "VT_PTR";
    default: return "variant type";
  }
}

bool integral(const rt::Value& v, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (v.isLong()) {
    out = v.asLong();
  } else if (v.isFloat()) {
    double d = v.asNumber();
    if (!std::isfinite(d) || d != std::floor(d)) return false;
    if (d < static_cast<double>(lo) || d > static_cast<double>(hi)) return false;
    out = static_cast<std::int64_t>(d);
  } else {
    return false;
  }
  return out >= lo && out <= hi;
}

DispatchPtr dispatchOf(const rt::Value& v, bool& ok) {
  ok = true;
  if (v.isNil()) return {};
  if (auto a = v.as<OLEAutoObject>()) return a->dispatch();
  if (auto h = v.as<IDispatch>()) return h->pInterface;
  if (auto u = v.as<IUnknown>()) {
    if (auto* d = dynamic_cast<DispatchInterface*>(u->pInterface.get())) return DispatchPtr(d);
  }
  ok = false;
  return {};
}

// Ids resolved by name on interfaces that name their scope: a few probes of a small table answer
// a name asked again, of the same interface or of another of its scope, without the server's
// look-up. Failures are not kept, so an unknown name is always asked of the server.
struct ResolvedId {
  const void* scope = nullptr;
  std::uint32_t symbol = 0;
  DispId id = DISPID_UNKNOWN;
};
constexpr std::size_t kResolvedSlots = 256, kProbes = 4;  // slots: a power of two
static_assert((kResolvedSlots & (kResolvedSlots - 1)) == 0);
thread_local std::array<ResolvedId, kResolvedSlots> resolvedIds;

HResult resolve(DispatchInterface& iface, rt::Symbol member, DispId& id) {
  const void* scope = iface.nameScope();
  if (!scope) return iface.GetIDsOfNames(member.name(), id);
  const std::uint64_t key = reinterpret_cast<std::uintptr_t>(scope) ^ (std::uint64_t{member.id()} << 40);
  const std::size_t home = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 56);
  ResolvedId* vacant = nullptr;
  for (std::size_t probe = 0; probe < kProbes; ++probe) {
    ResolvedId& known = resolvedIds[(home + probe) & (kResolvedSlots - 1)];
    if (known.scope == scope && known.symbol == member.id()) {
      id = known.id;
      return S_OK;
    }
    if (!known.scope && !vacant) vacant = &known;
  }
  const HResult hr = iface.GetIDsOfNames(member.name(), id);
  if (!failed(hr)) *(vacant ? vacant : &resolvedIds[home]) = {scope, member.id(), id};
  return hr;
}

}  // namespace

bool toVariant(const rt::Value& value, VarType wanted, Variant& out) {
  std::int64_t n = 0;
  bool ok = true;
  switch (wanted) {
    case VT_I2:
      if (!integral(value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max(), n))
        return false;
      out = Variant::i2(static_cast<std::int16_t>(n));
      return true;
    case VT_I4:
      if (!integral(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), n))
        return false;
      out = Variant::i4(static_cast<std::int32_t>(n));
      return true;
    case VT_R8:
      if (!value.isNumber()) return false;
      out = Variant::r8(value.asNumber());
      return true;
    case VT_BSTR:
      if (!value.isString()) return false;
      out = Variant::bstr(value.asString());
      return true;
    case VT_BOOL:
      if (!value.isLogical()) return false;
      out = Variant::boolean(value.asLogical());
      return true;
    case VT_DISPATCH:
    case VT_USERDEFINED: {
      DispatchPtr d = dispatchOf(value, ok);
      if (!ok) return false;
      out = Variant::dispatch(std::move(d));
      return true;
    }
    case VT_UNKNOWN:
      if (auto u = value.as<IUnknown>()) {
        out = Variant::unknown(u->pInterface);
        return true;
      }
      return toVariant(value, VT_DISPATCH, out);
    case VT_EMPTY:
    case VT_VARIANT:
    default:
      switch (value.type()) {
        case rt::Type::Nil: out = Variant(); return true;
        case rt::Type::Long:
          if (integral(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), n))
            out = Variant::i4(static_cast<std::int32_t>(n));
          else
            out = Variant::r8(value.asNumber());
          return true;
        case rt::Type::Float: out = Variant::r8(value.asNumber()); return true;
        case rt::Type::String: out = Variant::bstr(value.asString()); return true;
        case rt::Type::Logical: out = Variant::boolean(value.asLogical()); return true;
        case rt::Type::Symbol: out = Variant::bstr(value.asSymbol().name()); return true;
        case rt::Type::Object: {
          if (auto u = value.as<IUnknown>()) {
            out = Variant::unknown(u->pInterface);
            return true;
          }
          DispatchPtr d = dispatchOf(value, ok);
          if (!ok) return false;
          out = Variant::dispatch(std::move(d));
          return true;
        }
        default: return false;
      }
  }
}

rt::Value fromVariant(Variant&& v, bool wrapObjects) {
  switch (v.vt) {
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_ERROR: return rt::Value(static_cast<long long>(v.lVal));
    case VT_R8: return rt::Value(v.dblVal);
    case VT_BSTR: return rt::Value(std::move(v.bstrVal));
    case VT_BOOL: return rt::Value(v.boolVal);
    case VT_DISPATCH:
      if (wrapObjects) {
        if (!v.pdispVal) return rt::Value();
        return rt::Value(std::make_shared<OLEAutoObject>(std::move(v.pdispVal)));
      }
      return rt::Value(std::make_shared<IDispatch>(std::move(v.pdispVal)));
    case VT_UNKNOWN: return rt::Value(std::make_shared<IUnknown>(std::move(v.punkVal)));
    default: return rt::Value();
  }
}

rt::Value fromVariant(const Variant& v, bool wrapObjects) { return fromVariant(Variant(v), wrapObjects); }

rt::Value IDispatch::get(rt::Symbol member) {
  if (member == kPInterface) return rt::Value(rt::Pointer{reinterpret_cast<std::uintptr_t>(pInterface.get())});
  return noIVarGet(member);
}

rt::Value IUnknown::get(rt::Symbol member) {
  if (member == kPInterface) return rt::Value(rt::Pointer{reinterpret_cast<std::uintptr_t>(pInterface.get())});
  return noIVarGet(member);
}

OLEAutoObject::OLEAutoObject(DispatchPtr iface) : iface_(std::move(iface)) {}

OLEAutoObject::OLEAutoObject(const rt::Value& source, std::int64_t localeId, bool shareInterface)
    : localeId_(localeId) {
  bool ok = true;
  iface_ = dispatchOf(source, ok);
  if (!ok) {
    raiseFor(rt::EG_ARG, "OLEAutoObject:Init",
             "OLEAutoObject: cannot wrap a value of type " + rt::typeName(source.typeCode()));
    return;
  }
  if (!shareInterface) {
    if (auto h = source.as<IDispatch>()) h->pInterface.reset();
  }
}

rt::Pointer OLEAutoObject::AllocArgDescs(std::size_t count) {
  std::vector<ArgDesc> block(count == 0 ? 1 : count);
  auto address = reinterpret_cast<std::uintptr_t>(block.data());
  blocks_.emplace(address, std::move(block));
  return rt::Pointer{address};
}

ArgDesc* OLEAutoObject::argDescs(rt::Pointer block, std::size_t* count) {
  auto it = blocks_.find(block.address);
  if (it == blocks_.end()) return nullptr;
  if (count) *count = it->second.size();
  return it->second.data();
}

void OLEAutoObject::FreeArgs(rt::Pointer block) { blocks_.erase(block.address); }

rt::Value OLEAutoObject::InvokeMethod(const rt::Value& funcDesc, const std::vector<rt::Value>& args,
                                      std::size_t countPassed) {
  auto desc = funcDesc.asArray();
  if (!funcDesc.isArray() || !desc || desc->size() != kFuncDescSize || !(*desc)[kFuncName].isSymbol()) {
    return raiseFor(rt::EG_ARG, "OLEAutoObject:__InvokeMethod", "malformed member descriptor");
  }
  const auto& d = *desc;
  std::string member = d[kFuncName].asSymbol().name();
  auto kind = d[kFuncInvokeKind].asLong();
  auto paramCount = d[kFuncParamCount].asLong();
  auto optCount = d[kFuncOptCount].asLong();
  if (!d[kFuncId].isNumber() || (kind != DISPATCH_METHOD && kind != DISPATCH_PROPERTYGET && kind != DISPATCH_PROPERTYPUT) ||
      paramCount < 0 || optCount < 0 || optCount > paramCount) {
    return raiseFor(rt::EG_ARG, member, member + ": malformed member descriptor");
  }
  auto id = static_cast<DispId>(d[kFuncId].asLong());

  // Parameter records: a block this object handed out, with at least paramCount records.
  ArgDesc* params = nullptr;
  if (paramCount > 0) {
    std::size_t have = 0;
    params = d[kFuncParams].isPointer() ? argDescs(d[kFuncParams].asPointer(), &have) : nullptr;
    if (!params || have < static_cast<std::size_t>(paramCount)) {
      return raiseFor(rt::EG_ARG, member, member + ": parameter descriptors missing or not allocated here");
    }
  }
  if (countPassed > args.size() || countPassed > static_cast<std::size_t>(paramCount)) {
    auto e = rt::makeError(rt::EG_ARG, "OLE", member + ": too many arguments (" + std::to_string(countPassed) +
                           " passed, " + std::to_string(paramCount) + " declared)", member);
    e->funcSym = rt::Symbol(member);
    e->canDefault = true;
    e->canSubstitute = true;
    rt::Answer a = rt::raise(e);
    return a.kind == rt::Answer::Substitute ? a.substitute : rt::Value();
  }
  for (auto i = static_cast<std::int64_t>(countPassed); i < paramCount; ++i) {
    if (!(params[i].flags & PARAMFLAG_FOPT)) {
      std::string name = params[i].name.isNull() ? "parameter " + std::to_string(i + 1) : params[i].name.name();
      return raiseFor(rt::EG_ARG, member, member + ": required argument " + name + " is missing");
    }
  }
  if (!iface_) return raiseFor(rt::EG_OLE, member, member + ": object has no automation interface");

  std::vector<Variant> variants(countPassed);
  for (std::size_t i = 0; i < countPassed; ++i) {
    auto vt = static_cast<VarType>(params[i].vartype == VT_PTR ? params[i].refType : params[i].vartype);
    if (!toVariant(args[i], vt, variants[i])) {
      std::string name = params[i].name.isNull() ? "argument " + std::to_string(i + 1) : params[i].name.name();
      auto e = rt::makeError(rt::EG_ARG, "OLE", member + ": " + name + " must be " + varTypeName(vt) + ", got " +
                             rt::typeName(args[i].typeCode()), member);
      e->funcSym = rt::Symbol(member);
      e->argNum = static_cast<int>(i + 1);
      e->arg = args[i];
      e->argType = args[i].typeCode();
      e->canDefault = true;
      e->canSubstitute = true;
      rt::Answer a = rt::raise(e);
      return a.kind == rt::Answer::Substitute ? a.substitute : rt::Value();
    }
  }
  for (;;) {
    std::vector<Variant> callArgs = variants;
    Variant result;
    ExcepInfo excep;
    HResult hr = iface_->Invoke(id, static_cast<unsigned>(kind), callArgs, result, excep);
    if (!failed(hr)) return fromVariant(std::move(result), false);
    bool retry = false;
    rt::Value answer = raiseFor(genCodeFor(excep), member, invokeFailureText(member, hr, excep), &excep, hr, &retry);
    if (!retry) return answer;
  }
}

rt::Value OLEAutoObject::lateBound(rt::Symbol member, unsigned kind, const std::vector<rt::Value>& args) {
  for (;;) {
    if (!iface_) return raiseFor(rt::EG_OLE, member.name(), member.name() + ": object has no automation interface");
    DispId id = DISPID_UNKNOWN;
    HResult hr = resolve(*iface_, member, id);
    bool retry = false;
    if (failed(hr)) {
      const std::string& name = member.name();
      auto e = rt::makeError(rt::EG_NOVAR, "OLE", "No exported member " + name + " of the automation object", name);
      e->funcSym = member;
      e->canDefault = true;
      e->canSubstitute = true;
      e->canRetry = true;
      e->osCode = static_cast<std::uint32_t>(hr);
      rt::Answer a = rt::raise(e);
      if (a.retry()) continue;
      return a.kind == rt::Answer::Substitute ? a.substitute : rt::Value();
    }
    // The argument vector of the last call is reused; a call made while this one runs (from the
    // server, say) finds none spare and makes its own.
    std::vector<Variant> variants = std::move(spareArguments_);
    rt::Value refused;
    if (!convertArguments(member, args, variants, refused)) return refused;
    Variant result;
    ExcepInfo excep;
    hr = iface_->Invoke(id, kind, variants, result, excep);
    variants.clear();
    spareArguments_ = std::move(variants);
    if (!failed(hr)) return fromVariant(std::move(result), true);
    const std::string& name = member.name();
    rt::Value answer = raiseFor(genCodeFor(excep), name, invokeFailureText(name, hr, excep), &excep, hr, &retry);
    if (!retry) return answer;
  }
}

// Converts every argument to its natural variant; false, with the error's answer, for a value
// that has no variant form.
bool OLEAutoObject::convertArguments(rt::Symbol member, const std::vector<rt::Value>& args,
                                     std::vector<Variant>& variants, rt::Value& answer) {
  variants.resize(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (toVariant(args[i], VT_VARIANT, variants[i])) continue;
    const std::string& name = member.name();
    auto e = rt::makeError(rt::EG_ARG, "OLE", name + ": argument " + std::to_string(i + 1) + " of type " +
                           rt::typeName(args[i].typeCode()) + " cannot be passed to an automation member", name);
    e->funcSym = member;
    e->argNum = static_cast<int>(i + 1);
    e->arg = args[i];
    e->canDefault = true;
    e->canSubstitute = true;
    rt::Answer a = rt::raise(e);
    answer = a.kind == rt::Answer::Substitute ? a.substitute : rt::Value();
    return false;
  }
  return true;
}

rt::Value OLEAutoObject::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  if (member == kAllocArgDescs) {
    return rt::Value(AllocArgDescs(args.empty() ? 0 : static_cast<std::size_t>(std::max<std::int64_t>(0, args[0].asLong()))));
  }
  if (member == kFreeArgs) {
    if (!args.empty()) FreeArgs(args[0].asPointer());
    return rt::Value();
  }
  if (member == kInvokeMethod) {
    rt::Value desc = args.size() > 0 ? args[0] : rt::Value();
    std::vector<rt::Value> callArgs;
    if (args.size() > 1 && args[1].isArray()) callArgs = *args[1].asArray();
    std::size_t count = args.size() > 2 ? static_cast<std::size_t>(std::max<std::int64_t>(0, args[2].asLong()))
                                        : callArgs.size();
    return InvokeMethod(desc, callArgs, count);
  }
  if (member == kDwFuncs && args.empty()) return rt::Value(static_cast<long long>(dwFuncs));
  if (member == kDwVars && args.empty()) return rt::Value(static_cast<long long>(dwVars));
  return lateBound(member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

rt::Value OLEAutoObject::get(rt::Symbol member) {
  if (member == kDwFuncs) return rt::Value(static_cast<long long>(dwFuncs));
  if (member == kDwVars) return rt::Value(static_cast<long long>(dwVars));
  return lateBound(member, DISPATCH_PROPERTYGET, {});
}

rt::Value OLEAutoObject::put(rt::Symbol member, const rt::Value& value) {
  if (member == kDwFuncs) {
    dwFuncs = static_cast<std::uint32_t>(value.asLong());
    return value;
  }
  if (member == kDwVars) {
    dwVars = static_cast<std::uint32_t>(value.asLong());
    return value;
  }
  lateBound(member, DISPATCH_PROPERTYPUT, {value});
  return value;
}

}  // namespace ole
