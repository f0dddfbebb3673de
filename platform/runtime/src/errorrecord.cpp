#include "runtime/errorrecord.h"

namespace rt {
namespace {

ErrorFactory& installedFactory() {
  static ErrorFactory factory;
  return factory;
}

}  // namespace

std::string RawErrorRecord::readText(std::size_t offset) const {
  auto address = static_cast<std::uintptr_t>(read<std::uint64_t>(offset));
  return address == 0 ? std::string() : std::string(reinterpret_cast<const char*>(address));
}

RawErrorRecord& staticErrorRecord() {
  static RawErrorRecord record;
  return record;
}

void transferRecord(const RawErrorRecord& r, Error& e) {
  using namespace raw;
  const std::uint8_t flags = r.read<std::uint8_t>(kFlags);
  e.severity = r.read<std::uint8_t>(kSeverity);
  e.genCode = r.read<std::uint16_t>(kGenCode);
  e.subCode = r.read<std::uint16_t>(kSubCode);
  e.canDefault = (flags & kCanDefault) != 0;
  e.canRetry = (flags & kCanRetry) != 0;
  e.canSubstitute = (flags & kCanSubstitute) != 0;
  e.tries = r.read<std::uint8_t>(kTries);
  e.osCode = r.read<std::int32_t>(kOsCode);
  e.funcPtr = r.read<std::uint32_t>(kFuncPtr);
  e.fileHandle = r.read<std::int32_t>(kFileHandle);
  e.maxSize = r.read<std::uint32_t>(kMaxSize);
  e.argNum = r.read<std::uint8_t>(kArgNum);
  e.argType = r.read<std::uint8_t>(kArgType);
  e.argTypeReq = r.read<std::uint8_t>(kArgTypeReq);
  e.substituteType = r.read<std::uint8_t>(kSubstituteType);
  e.subSystem = r.readText(kSubSystem);
  e.subCodeText = r.readText(kSubCodeText);
  e.operation = r.readText(kOperation);
  e.description = r.readText(kDescription);
  e.fileName = r.readText(kFileName);
  std::string funcSym = r.readText(kFuncSym);
  e.funcSym = funcSym.empty() ? Symbol() : Symbol(funcSym);
  std::string callFuncSym = r.readText(kCallFuncSym);
  e.callFuncSym = callFuncSym.empty() ? Symbol() : Symbol(callFuncSym);
  if (flags & kArgIsValue) {
    const Value* arg = r.readValue(kArg);
    e.arg = arg ? *arg : Value();
  } else {
    e.arg = Value(r.readText(kArg));
  }
  const Value* args = r.readValue(kArgs);
  e.args = args && args->isArray() ? *args : Value::array();
}

void setErrorFactory(ErrorFactory factory) { installedFactory() = std::move(factory); }

ErrorPtr buildErrorFromRecord(const RawErrorRecord* record) {
  const ErrorFactory& factory = installedFactory();
  if (factory) {
    Value made = factory(Value(Pointer{reinterpret_cast<std::uintptr_t>(record)}));
    if (auto e = made.as<Error>()) return e;
  }
  auto e = std::make_shared<Error>();
  if (record && record->read<std::uint8_t>(raw::kTag) == kRawErrorTag) transferRecord(*record, *e);
  return e;
}

int instanceCount() { return 1; }

}  // namespace rt
