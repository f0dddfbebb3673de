// A printer device drawing onto a recorded page at 300 units per inch, as the engine sets it up.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "reports/reports.h"

namespace rpprinter_test {

// A colour object read through Red, Green and Blue.
class TestColor : public rt::Object {
 public:
  TestColor(int r, int g, int b) : r_(r), g_(g), b_(b) {}
  rt::Value get(rt::Symbol m) override {
    if (m.name() == "RED") return r_;
    if (m.name() == "GREEN") return g_;
    if (m.name() == "BLUE") return b_;
    return noIVarGet(m);
  }

 private:
  int r_, g_, b_;
};

inline rt::Value color(int r, int g, int b) { return rt::Value(std::make_shared<TestColor>(r, g, b)); }

struct Page {
  std::shared_ptr<reports::RpPrinter> p = std::make_shared<reports::RpPrinter>(rt::Value(), rt::Value());
  gdi::Handle out = gdi::createRecordingDc(2550, 3300, 300, 300);
  gdi::Handle printer = gdi::createMeasuringDc(300, 300);

  // printing, previewing, exporting
  explicit Page(bool printing = false, bool previewing = true, bool exporting = false) {
    p->setOutputDc(out, true);
    p->setPrinterDc(printer, true);
    p->setActivity(printing, previewing, exporting);
    p->CallPrintSetPage(rt::Value(1));
  }
  const gdi::RecordedPage& page() const { return *gdi::recordedPage(out); }
  std::size_t recordCount() const { return page().records.size(); }
  std::vector<gdi::Record> recordsOf(gdi::Record::Kind kind) const {
    std::vector<gdi::Record> found;
    for (const auto& r : page().records)
      if (r.kind == kind) found.push_back(r);
    return found;
  }
  std::string dump() const { return gdi::dump(page()); }
};

inline std::vector<std::uint8_t> marker(std::int32_t kind, std::int32_t align, std::int32_t x, std::int32_t y,
                                        std::int32_t w, std::int32_t h) {
  std::vector<std::uint8_t> bytes(24);
  const std::int32_t fields[] = {kind, align, x, y, w, h};
  for (int f = 0; f < 6; ++f)
    for (int i = 0; i < 4; ++i) bytes[f * 4 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(fields[f]) >> (8 * i));
  return bytes;
}

}  // namespace rpprinter_test
