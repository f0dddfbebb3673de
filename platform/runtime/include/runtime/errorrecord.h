// The raw error record: the run-time's fixed 100-byte form of an error, kept in one static
// buffer, from which the installed error-object factory builds an Error. Also the process
// instance count that decides whether a program installs its error handling.
//
// Layout, all numbers little-endian, no alignment assumed (read and write through the accessors):
//
//   off size field            meaning
//     0   1  tag              kRawErrorTag; any other value is "wrong tag"
//     1   1  severity         1 warning, 2 error, 3 error whose substitute is a pointer
//     2   2  genCode          generic code (rt::GenCode)
//     4   2  subCode          subsystem's code; 4660 marks a processor exception
//     6   1  flags            bit 0 CanDefault, bit 1 CanRetry, bit 2 CanSubstitute,
//                             bit 3 the argument field holds a dynamic value (else text)
//     7   1  tries            retry count
//     8   4  osCode           signed; exception code when subCode is 4660
//    12   4  funcPtr          unsigned; exception address when subCode is 4660
//    16   4  fileHandle       signed
//    20   4  maxSize          unsigned
//    24   1  argNum           position of the offending argument
//    25   1  argType          type code; exception flags when subCode is 4660
//    26   1  argTypeReq       type code required
//    27   1  substituteType   type code of a substitute value
//    28   8  subSystem        address of a NUL-terminated text, 0 for none
//    36   8  subCodeText      same
//    44   8  operation        same
//    52   8  description      same
//    60   8  fileName         same
//    68   8  funcSym          address of the function's name text, 0 for the null symbol
//    76   8  callFuncSym      address of the calling function's name text
//    84   8  arg              text address, or the address of an rt::Value when flags bit 3 is set
//    92   8  args             address of an rt::Value holding the argument array, 0 for none
//
// Texts and values the record points to belong to whoever filled it and must outlive the build.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "runtime/error.h"
#include "runtime/value.h"

namespace rt {

inline constexpr std::size_t kRawErrorRecordSize = 100;
inline constexpr std::uint8_t kRawErrorTag = 0xE5;

namespace raw {
inline constexpr std::size_t kTag = 0, kSeverity = 1, kGenCode = 2, kSubCode = 4, kFlags = 6, kTries = 7,
                             kOsCode = 8, kFuncPtr = 12, kFileHandle = 16, kMaxSize = 20, kArgNum = 24,
                             kArgType = 25, kArgTypeReq = 26, kSubstituteType = 27, kSubSystem = 28,
                             kSubCodeText = 36, kOperation = 44, kDescription = 52, kFileName = 60,
                             kFuncSym = 68, kCallFuncSym = 76, kArg = 84, kArgs = 92;
inline constexpr std::uint8_t kCanDefault = 1, kCanRetry = 2, kCanSubstitute = 4, kArgIsValue = 8;
}  // namespace raw

struct RawErrorRecord {
  std::array<std::uint8_t, kRawErrorRecordSize> bytes{};

  void clear() { bytes.fill(0); }

  template <class T>
  T read(std::size_t offset) const {
    T v{};
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
  }
  template <class T>
  void write(std::size_t offset, T v) {
    std::memcpy(bytes.data() + offset, &v, sizeof v);
  }
  // Text and value fields hold addresses.
  void writeText(std::size_t offset, const char* text) {
    write<std::uint64_t>(offset, reinterpret_cast<std::uintptr_t>(text));
  }
  std::string readText(std::size_t offset) const;
  void writeValue(std::size_t offset, const Value* value) {
    write<std::uint64_t>(offset, reinterpret_cast<std::uintptr_t>(value));
  }
  const Value* readValue(std::size_t offset) const {
    return reinterpret_cast<const Value*>(static_cast<std::uintptr_t>(read<std::uint64_t>(offset)));
  }
};
static_assert(sizeof(RawErrorRecord) == kRawErrorRecordSize);

// The one static record buffer of the process.
RawErrorRecord& staticErrorRecord();

// Fills `error` from a record: every numeric field, texts as strings, the argument list as an
// array (empty when the record has none), the argument as a dynamic value or as text.
void transferRecord(const RawErrorRecord& record, Error& error);

// The error-object factory. It receives a pointer value (rt::Pointer) to a record and answers
// an error object. Without an installed factory the run-time builds the object itself with
// transferRecord.
using ErrorFactory = std::function<Value(const Value& recordPointer)>;
void setErrorFactory(ErrorFactory factory);
// Builds an error object from `record` through the factory; never null.
ErrorPtr buildErrorFromRecord(const RawErrorRecord* record);

// How many programs in this process hold the run-time; always 1 here.
int instanceCount();

}  // namespace rt
