// The rich-text document model and its reader; plain C++, no drawing.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace rpt {

struct RtfRun {
  std::string text;  // UTF-8; empty for a tab or a line break
  bool tab = false;
  bool lineBreak = false;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int halfPoints = 24;
};

struct RtfParagraph {
  int alignment = 0;  // 0 left, 1 centre, 2 right, 3 justified (drawn left)
  std::vector<RtfRun> runs;
};

struct RtfDocument {
  std::vector<RtfParagraph> paragraphs;
  // The document as plain text: paragraphs end in "\n", tabs are "\t"; for tests and dumps.
  std::string plainText() const;
};

// Reads rich text from memory; false when it does not start with "{\rtf".
bool parseRtf(std::string_view input, RtfDocument& out);

}  // namespace rpt
