// RTF: a rich-text document read from a file and drawn wrapped into a rectangle.
// Read: paragraphs, bold, italic, underline, font size, paragraph alignment, tabs, escaped and
// Unicode characters; destinations and groups the reader does not know are skipped. A malformed
// file reads as far as it makes sense; reading never fails on content, only on a missing file or
// one that does not start as rich text.
#pragma once
#include <string>
#include <string_view>

#include "reportengine/rtfdocument.h"
#include "runtime/runtime.h"

namespace rpt {

class PtrDevice;

class RTF : public rt::Object {
 public:
  std::string className() const override { return "RTF"; }

  bool LoadRTFFromFile(const std::string& fileName);
  bool loadFromMemory(std::string_view text);
  const RtfDocument& document() const { return doc_; }

  // Draws on the device's output context at (column, row) in device units, wrapped to `width`.
  // Option 1: 0 measures only, anything else draws. Option 2: true stops at the rectangle's
  // bottom, false lays out every line. Returns the row below the last line laid out.
  int DrawText(PtrDevice& device, int row, int column, int height, int width, const rt::Value& option1,
               const rt::Value& option2);

  void Destroy() { doc_ = RtfDocument{}; }

  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;

 private:
  RtfDocument doc_;
};

}  // namespace rpt
