// OLEAutoObject: the run-time object around one dispatch interface. Calls, reads and writes of
// names it does not declare are resolved through the interface at run time (late binding);
// typed wrappers invoke through a member descriptor instead (early binding, InvokeMethod).
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "ole/dispatch.h"
#include "runtime/runtime.h"

namespace ole {

// Raw interface holders: what an object result of an early-bound call arrives as. pInterface is
// null when the call returned no interface.
class IDispatch : public rt::Object {
 public:
  explicit IDispatch(DispatchPtr p = {}) : pInterface(std::move(p)) {}
  std::string className() const override { return "IDISPATCH"; }
  rt::Value get(rt::Symbol member) override;  // PINTERFACE: a pointer, 0 when empty
  DispatchPtr pInterface;
};

class IUnknown : public rt::Object {
 public:
  explicit IUnknown(UnknownPtr p = {}) : pInterface(std::move(p)) {}
  std::string className() const override { return "IUNKNOWN"; }
  rt::Value get(rt::Symbol member) override;
  UnknownPtr pInterface;
};

// The type descriptor of one parameter or of a result (the fields a wrapper writes).
struct ArgDesc {
  std::uint32_t flags = 0;     // PARAMFLAG_FOPT marks an optional parameter
  std::uint32_t vartype = 0;   // a VarType
  std::uint32_t refType = 0;   // the pointed-to VarType, with VT_PTR only
  rt::Symbol name;             // parameter name; null where the member carries none
};
inline constexpr std::uint32_t PARAMFLAG_FOPT = 0x10;

// Positions (0-based) in a member descriptor, an array of exactly eight values.
enum FuncDescItem : int {
  kFuncName = 0,        // symbol
  kFuncId = 1,          // long, the member id
  kFuncInvokeKind = 2,  // long: 1 method, 2 property get, 4 property put
  kFuncParamCount = 3,  // long
  kFuncOptCount = 4,    // long
  kFuncNamedParams = 5, // logical: a method that declares parameters
  kFuncParams = 6,      // pointer to the parameter block, or nil
  kFuncResult = 7,      // pointer to the result descriptor; a null pointer for a property put
  kFuncDescSize = 8,
};

class OLEAutoObject;
using AutoObjectPtr = std::shared_ptr<OLEAutoObject>;

class OLEAutoObject : public rt::Object {
 public:
  // Wraps what `source` holds: an IDispatch holder, another OLEAutoObject, or an IUnknown holder
  // whose interface is a dispatch interface. localeId is kept for the invoke (0: the default);
  // shareInterface false takes the holder's reference over and empties the holder. Anything
  // else is raised (EG_ARG) and leaves the object without an interface.
  explicit OLEAutoObject(const rt::Value& source, std::int64_t localeId = 0, bool shareInterface = true);
  explicit OLEAutoObject(DispatchPtr iface);
  std::string className() const override { return "OLEAUTOOBJECT"; }

  const DispatchPtr& dispatch() const { return iface_; }
  bool hasInterface() const { return static_cast<bool>(iface_); }

  // Late binding. send invokes as method or property get (so a call without arguments reaches
  // a readable property); get reads, put writes. Object results come back as new OLEAutoObjects,
  // an empty interface as nil. The object's own names (DWFUNCS, DWVARS, __ALLOCARGDESCS,
  // __INVOKEMETHOD, __FREEARGS) are answered first.
  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;
  rt::Value get(rt::Symbol member) override;
  rt::Value put(rt::Symbol member, const rt::Value& value) override;

  // Counts of the wrapped interface's functions and variables, as the typed wrappers set them.
  std::uint32_t dwFuncs = 0;
  std::uint32_t dwVars = 0;

  // Early binding. AllocArgDescs hands out a block of `count` records owned by this object until
  // FreeArgs; argDescs finds a block (null for a pointer this object did not hand out).
  rt::Pointer AllocArgDescs(std::size_t count);
  ArgDesc* argDescs(rt::Pointer block, std::size_t* count = nullptr);
  void FreeArgs(rt::Pointer block);
  std::size_t openArgBlocks() const { return blocks_.size(); }

  // Invokes the member that funcDesc describes with the first countPassed of args, converting
  // each to its declared type. Results arrive unconverted: VT_DISPATCH as an IDispatch holder,
  // VT_UNKNOWN as an IUnknown holder, integers as longs, VT_BSTR as strings, VT_BOOL as logicals.
  // Too few arguments, a wrong argument type, a malformed descriptor and a failed invoke are
  // raised naming the member; the answer's default is nil, its substitute the call's result.
  rt::Value InvokeMethod(const rt::Value& funcDesc, const std::vector<rt::Value>& args,
                         std::size_t countPassed);

 private:
  rt::Value lateBound(rt::Symbol member, unsigned kind, const std::vector<rt::Value>& args);
  bool convertArguments(rt::Symbol member, const std::vector<rt::Value>& args, std::vector<Variant>& variants,
                        rt::Value& answer);
  DispatchPtr iface_;
  std::vector<Variant> spareArguments_;  // a late-bound call's argument vector, kept for the next call
  std::int64_t localeId_ = 0;
  std::map<std::uintptr_t, std::vector<ArgDesc>> blocks_;
};

// Conversions between run-time values and variants. toVariant returns false when the value
// cannot become the requested type (VT_VARIANT or VT_EMPTY: its natural type).
[[nodiscard]] bool toVariant(const rt::Value& value, VarType wanted, Variant& out);
// Holders for interfaces (early binding) or automation objects / nil (late binding).
rt::Value fromVariant(const Variant& v, bool wrapObjects);
// The same, taking the variant's string or interface over instead of copying it.
rt::Value fromVariant(Variant&& v, bool wrapObjects);

}  // namespace ole
