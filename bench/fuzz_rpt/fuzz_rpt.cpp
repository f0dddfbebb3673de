// libFuzzer target for the report layout reader: any bytes either read as a layout or give an
// error text naming the file; nothing crashes, leaks or reaches the process's error block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "reportengine/layout.h"
#include "runtime/runtime.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rt::registerGeneralLibrary();
  // The engine's run functions the demo layouts call; the reader only needs their names.
  for (const char* name : {"rpVarValue", "NumTrim", "PgNo", "PgCount", "RpEOF", "GroupMembers"})
    rt::registerFunction(name, 2, [](std::span<const rt::Value>) { return rt::Value(); });
  rt::setErrorBlock([](const rt::ErrorPtr&) -> rt::Value { std::abort(); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const rpt::LayoutResult result = rpt::parseLayout(text, "fuzz.rpt");
  if (!result.ok() && result.error.rfind("fuzz.rpt: ", 0) != 0) std::abort();
  if (result.ok()) {
    // Field formats of every constant the layout could show.
    for (const rpt::BandObject& o : result.layout->detail.objects) (void)rpt::formatValue(rt::Value(o.text), o.format);
  }
  return 0;
}
