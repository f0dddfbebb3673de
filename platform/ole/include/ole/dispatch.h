// Dispatch interfaces: reference-counted interfaces, variants, and the name look-up / invoke-by-id
// contract that every automation server in this program implements.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ole {

// Published variant type codes (VARTYPE) used by the automation members of this program.
enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I8 = 20,
  VT_VOID = 24,
  VT_PTR = 26,
  VT_USERDEFINED = 29,
};

// Invoke kinds; a late-bound call passes METHOD | PROPERTYGET so that it also reaches a property.
enum InvokeKind : unsigned {
  DISPATCH_METHOD = 1,
  DISPATCH_PROPERTYGET = 2,
  DISPATCH_PROPERTYPUT = 4,
};

using DispId = std::int32_t;
inline constexpr DispId DISPID_UNKNOWN = -1;
inline constexpr DispId DISPID_VALUE = 0;
inline constexpr DispId DISPID_NEWENUM = -4;
inline constexpr DispId DISPID_FONT = -512;
inline constexpr DispId DISPID_ENABLED = -514;
inline constexpr DispId DISPID_CAPTION = -518;
inline constexpr DispId DISPID_ABOUTBOX = -552;

// Result codes, with the published values.
using HResult = std::int32_t;
inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);
inline constexpr HResult DISP_E_MEMBERNOTFOUND = static_cast<HResult>(0x80020003u);
inline constexpr HResult DISP_E_TYPEMISMATCH = static_cast<HResult>(0x80020005u);
inline constexpr HResult DISP_E_UNKNOWNNAME = static_cast<HResult>(0x80020006u);
inline constexpr HResult DISP_E_EXCEPTION = static_cast<HResult>(0x80020009u);
inline constexpr HResult DISP_E_BADINDEX = static_cast<HResult>(0x8002000Bu);
inline constexpr HResult DISP_E_BADPARAMCOUNT = static_cast<HResult>(0x8002000Eu);
inline constexpr HResult DISP_E_PARAMNOTOPTIONAL = static_cast<HResult>(0x8002000Fu);
inline bool failed(HResult hr) { return hr < 0; }

// The base of every interface: an intrusive reference count. A new interface starts at 0;
// the first ComPtr that holds it raises the count to 1; the last Release deletes it.
class UnknownInterface {
 public:
  UnknownInterface() = default;
  UnknownInterface(const UnknownInterface&) = delete;
  UnknownInterface& operator=(const UnknownInterface&) = delete;
  std::uint32_t AddRef() { return ++refs_; }
  std::uint32_t Release() {
    std::uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  std::uint32_t refCount() const { return refs_; }

 protected:
  virtual ~UnknownInterface() = default;

 private:
  std::atomic<std::uint32_t> refs_{0};
};

// Owning handle on an interface: copies AddRef, destruction Releases.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  explicit ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.get())) {}
  ~ComPtr() { reset(); }
  ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }
  void reset() { if (auto* p = std::exchange(p_, nullptr)) p->Release(); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }

  template <class... Args>
  static ComPtr make(Args&&... args) { return ComPtr(new T(std::forward<Args>(args)...)); }

 private:
  T* p_ = nullptr;
};

class DispatchInterface;
using DispatchPtr = ComPtr<DispatchInterface>;
using UnknownPtr = ComPtr<UnknownInterface>;

// A variant argument or result. Integers of every width live in lVal; VT_EMPTY and VT_VOID
// carry nothing.
struct Variant {
  VarType vt = VT_EMPTY;
  std::int64_t lVal = 0;
  double dblVal = 0;
  bool boolVal = false;
  std::string bstrVal;
  DispatchPtr pdispVal;
  UnknownPtr punkVal;

  static Variant i2(std::int16_t v) { Variant r; r.vt = VT_I2; r.lVal = v; return r; }
  static Variant i4(std::int32_t v) { Variant r; r.vt = VT_I4; r.lVal = v; return r; }
  static Variant i8(std::int64_t v) { Variant r; r.vt = VT_I8; r.lVal = v; return r; }
  static Variant r8(double v) { Variant r; r.vt = VT_R8; r.dblVal = v; return r; }
  static Variant bstr(std::string v) { Variant r; r.vt = VT_BSTR; r.bstrVal = std::move(v); return r; }
  static Variant boolean(bool v) { Variant r; r.vt = VT_BOOL; r.boolVal = v; return r; }
  static Variant dispatch(DispatchPtr v);
  static Variant unknown(UnknownPtr v) { Variant r; r.vt = VT_UNKNOWN; r.punkVal = std::move(v); return r; }
  bool isEmpty() const { return vt == VT_EMPTY || vt == VT_VOID; }
};

// What a failed Invoke reports. genCode, fileName and osCode let a server say which generic
// failure it met (open error, corruption, ...) and which file was at fault.
struct ExcepInfo {
  std::string source;
  std::string description;
  int genCode = 0;  // 0: the automation error code
  std::string fileName;
  std::int64_t osCode = 0;
};

// The dispatch contract. Name look-up ignores case. Invoke receives the arguments in call
// order; a property put carries the new value as its last argument. Servers never throw.
// A server whose interfaces resolve names from fixed tables may name the table (nameScope): every
// interface answering the same scope resolves every name to the same id, at any time, so a caller
// may keep an id it resolved on one of them for all of them. The scope must live as long as the
// program (a static table); null (the default) promises nothing.
class DispatchInterface : public UnknownInterface {
 public:
  virtual HResult GetIDsOfNames(std::string_view name, DispId& id) = 0;
  virtual HResult Invoke(DispId id, unsigned kind, std::vector<Variant>& args, Variant& result,
                         ExcepInfo& excep) = 0;
  virtual const void* nameScope() const { return nullptr; }
};

inline Variant Variant::dispatch(DispatchPtr v) {
  Variant r;
  r.vt = VT_DISPATCH;
  r.pdispVal = std::move(v);
  return r;
}

// An enumerator handed out as VT_UNKNOWN (a collection's _NewEnum): Next fills the next item.
class EnumVariantInterface : public UnknownInterface {
 public:
  virtual bool Next(Variant& item) = 0;
  virtual void Reset() = 0;
};

}  // namespace ole
