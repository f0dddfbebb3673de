// Fuzzes the error-log writer: an error whose fields come from the input (texts with any bytes,
// codes, argument values of every type, floats included for the hexadecimal lines) is turned into
// its message and appended to APPERROR.LOG in a scratch folder, as the error handler does. The
// log only ever grows, and what is appended is whole lines ending in CR LF.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "errorsys/errorsys.h"
#include "scratch.h"

namespace {

const fuzz::ScratchDir& scratch() {
  static const fuzz::ScratchDir dir("fuzz_error_log");
  return dir;
}

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::int64_t integer() {
    std::int64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | byte();
    return v;
  }
  std::string text() {
    const std::size_t n = std::min<std::size_t>(byte(), size_ - at_);
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }
  rt::Value value() {
    switch (byte() % 6) {
      case 0: return rt::Value();
      case 1: return rt::Value(static_cast<long long>(integer()));
      case 2: {
        const std::int64_t bits = integer();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return rt::Value(rt::Float{d, static_cast<int>(byte() % 20) - 2});
      }
      case 3: return rt::Value((byte() & 1) != 0);
      case 4: return rt::Value(rt::makeDate(1900 + byte(), byte() % 14, byte() % 33));
      default: return rt::Value(text());
    }
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputReader in(data, size);
  const int genCode = in.byte();
  std::string subSystem = in.text(), description = in.text(), operation = in.text(), fileName = in.text();
  auto e = rt::makeError(genCode, std::move(subSystem), std::move(description), std::move(operation), std::move(fileName));
  // Either a processor exception (which logs five more lines) or any sub-code.
  e->subCode = (in.byte() & 1) ? rt::kExceptionSubCode : static_cast<int>(in.integer());
  e->subCodeText = in.text();
  e->osCode = in.integer();
  e->severity = in.byte() % 4;
  e->canDefault = in.byte() & 1;
  e->argType = in.byte() % 16;
  e->argTypeReq = in.byte() % 16;
  e->arg = in.value();
  rt::Array args;
  for (int n = in.byte() % 5; n > 0; --n) args.push_back(in.value());
  e->args = rt::Value::array(std::move(args));
  e->tries = in.byte();
  const std::string message = app::BuildErrorMessage(*e);
  (void)app::HexString(e->arg);

  const std::size_t before = scratch().read("APPERROR.LOG").size();
  const int handle = app::OpenErrorLog(scratch().folder());
  if (handle < 0) __builtin_trap();
  app::WriteErrorLog(handle, message, *e);
  ::close(handle);
  const std::string after = scratch().read("APPERROR.LOG");
  if (after.size() <= before || after.compare(after.size() - 2, 2, "\r\n") != 0) __builtin_trap();
  if (after.size() > (1u << 20)) scratch().remove("APPERROR.LOG");  // keep the file small
  return 0;
}
