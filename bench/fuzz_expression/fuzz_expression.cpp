// Fuzzes the expression compiler and evaluator: any text must compile or be refused with a
// raised error, and any compiled block must evaluate, dump and take the string fast path
// without crashing, hanging or tripping a sanitizer. The first byte picks the error block's answer.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "runtime/runtime.h"

namespace {

class FuzzResolver : public rt::FieldResolver {
 public:
  FuzzResolver() {
    values_[rt::Symbol("NAME")] = rt::Value("Person    ");
    values_[rt::Symbol("VERS")] = rt::Value("V1             ");
    values_[rt::Symbol("N")] = rt::Value(42);
    values_[rt::Symbol("F")] = rt::Value(rt::Float{2.5, 1});
    values_[rt::Symbol("L")] = rt::Value(true);
    values_[rt::Symbol("D")] = rt::Value(rt::makeDate(1999, 7, 4));
  }
  std::optional<rt::Value> field(rt::Symbol name) override {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  const rt::Value* fieldRef(rt::Symbol name) override {
    if (!byReference) return nullptr;
    auto it = values_.find(name);
    return it == values_.end() ? nullptr : &it->second;
  }
  bool byReference = false;

 private:
  std::map<rt::Symbol, rt::Value> values_;
};

rt::Value answerFor(std::uint8_t selector) {
  switch (selector % 4) {
    case 0: return rt::Value(false);
    case 1: return rt::Value("sub");
    case 2: return rt::Value(7);
    default: return rt::Value();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool initialised = [] {
    rt::registerGeneralLibrary();
    rt::setInternational(rt::InternationalMode::Fixed);
    rt::setEpoch(1976);
    return true;
  }();
  (void)initialised;
  if (size == 0) return 0;
  rt::Value answer = answerFor(data[0]);
  rt::setErrorBlock([&answer](const rt::ErrorPtr&) { return answer; });
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  rt::BlockPtr block = rt::compile(text);
  if (block) {
    FuzzResolver resolver;
    resolver.byReference = (data[0] & 4) != 0;
    (void)block->dump();
    rt::Value v = block->eval(&resolver);
    (void)rt::toText(v);
    std::string out;
    (void)block->evalString(&resolver, out);
  }
  rt::setErrorBlock({});
  return 0;
}
