// rpDrawText: lays a text block out in its rectangle and measures or draws it.
#include <map>

#include "reportengine/drawtext.h"
#include "gdi/gdi.h"
#include "textlayout.h"

namespace rpt {

TextBlock& rpTextBlock() {
  static TextBlock block;
  return block;
}
ParagraphBlock& rpParagraphBlock() {
  static ParagraphBlock block;
  return block;
}
CharacterBlock& rpCharacterBlock() {
  static CharacterBlock block;
  return block;
}

namespace {
struct Pins {
  std::int32_t next = 16;  // below 16: the fixed block references
  std::map<std::int32_t, std::string_view> texts;
};
Pins& pins() {
  static Pins p;
  return p;
}
}  // namespace

PinnedText::PinnedText(std::string_view text) : ref_(pins().next++) { pins().texts[ref_] = text; }
PinnedText::~PinnedText() { pins().texts.erase(ref_); }

void rpDrawText(TextBlock& block) {
  const int left = block.get(tb::kLeft);
  const int top = block.get(tb::kTop);
  const int right = block.get(tb::kRight);
  block.set(tb::kLastLineRow, top);

  auto pinned = pins().texts.find(block.get(tb::kText));
  if (pinned == pins().texts.end()) return;
  std::string_view text = pinned->second;
  const auto length = static_cast<std::size_t>(std::max(0, block.get(tb::kLength)));
  text = text.substr(0, std::min(length, text.size()));

  const bool draw = block.get(tb::kPass) == 1;
  const auto outputDc = static_cast<gdi::Handle>(block.get(tb::kOutputDc));
  auto measureDc = static_cast<gdi::Handle>(block.get(tb::kPrinterDc));
  if (!gdi::isDc(measureDc)) measureDc = outputDc;
  if (!gdi::isDc(measureDc) || (draw && !gdi::isDc(outputDc))) return;

  const int alignment =
      block.get(tb::kParagraph) == kParagraphBlockRef ? rpParagraphBlock().get(pb::kAlignment) : 0;
  gdi::TextMetrics tm;
  if (!gdi::textMetrics(measureDc, tm)) return;
  const int lineHeight = std::max(1, tm.height + tm.externalLeading);
  const int width = right - left;
  auto measure = [&](std::string_view s) { return gdi::textExtent(measureDc, s).cx; };
  const std::vector<std::string> lines = detail::wrapText(text, width, measure);

  int savedAlign = 0, savedMode = 0;
  if (draw) {
    savedAlign = gdi::setTextAlign(outputDc, gdi::TA_LEFT | gdi::TA_TOP);
    savedMode = gdi::setBkMode(outputDc, gdi::TRANSPARENT);
  }
  int y = top;
  for (std::size_t i = 0; i < lines.size(); ++i, y += lineHeight) {
    block.set(tb::kLastLineRow, y);
    if (!draw || lines[i].empty()) continue;
    const std::string& line = lines[i];
    const int w = measure(line);
    const bool lastOfParagraph = i + 1 == lines.size() || lines[i + 1].empty();
    if (alignment == 4 && !lastOfParagraph && line.find(' ') != std::string::npos && width > w) {
      // Justified: the spare width goes into the gaps between words.
      std::vector<std::string_view> words;
      std::string_view rest = line;
      while (!rest.empty()) {
        std::size_t sp = rest.find(' ');
        if (sp != 0) words.push_back(rest.substr(0, sp));
        if (sp == std::string_view::npos) break;
        rest.remove_prefix(sp + 1);
      }
      int wordsWidth = 0;
      for (auto word : words) wordsWidth += measure(word);
      const int gaps = static_cast<int>(words.size()) - 1;
      int x = left;
      for (int k = 0; k <= gaps; ++k) {
        gdi::textOut(outputDc, x, y, words[k]);
        if (gaps > 0) x += measure(words[k]) + (width - wordsWidth) * (k + 1) / gaps - (width - wordsWidth) * k / gaps;
      }
      continue;
    }
    int x = left;
    if (alignment == 1) x = left + (width - w) / 2;
    else if (alignment == 2) x = right - w;
    gdi::textOut(outputDc, x, y, line);
  }
  if (draw) {
    gdi::setTextAlign(outputDc, savedAlign);
    if (savedMode) gdi::setBkMode(outputDc, savedMode);
  }
}

}  // namespace rpt
