#include "textlayout.h"

namespace rpt::detail {

std::size_t utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

namespace {

// Breaks one word that is too wide into pieces that fit (at least one character each).
void breakWord(std::string_view word, int width, const std::function<int(std::string_view)>& measure,
               std::vector<std::string>& lines) {
  std::size_t start = 0;
  while (start < word.size()) {
    std::size_t end = start;
    std::size_t lastFit = start;
    while (end < word.size()) {
      std::size_t next = std::min(word.size(), end + utf8Length(static_cast<unsigned char>(word[end])));
      if (measure(word.substr(start, next - start)) > width && lastFit > start) break;
      lastFit = next;
      end = next;
    }
    lines.emplace_back(word.substr(start, lastFit - start));
    start = lastFit;
  }
}

void wrapParagraph(std::string_view para, int width, const std::function<int(std::string_view)>& measure,
                   std::vector<std::string>& lines) {
  if (width <= 0 || measure(para) <= width) {
    lines.emplace_back(para);
    return;
  }
  std::string line;
  std::size_t i = 0;
  while (i < para.size()) {
    std::size_t spaceStart = i;
    while (i < para.size() && para[i] == ' ') ++i;
    std::string_view spaces = para.substr(spaceStart, i - spaceStart);
    std::size_t wordStart = i;
    while (i < para.size() && para[i] != ' ') ++i;
    std::string_view word = para.substr(wordStart, i - wordStart);
    if (word.empty()) break;  // trailing spaces do not start a new line
    std::string candidate = line.empty() ? std::string(word) : line + std::string(spaces) + std::string(word);
    if (measure(candidate) <= width) {
      line = std::move(candidate);
      continue;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    line.clear();
    if (measure(word) <= width) {
      line = std::string(word);
    } else {
      breakWord(word, width, measure, lines);
      line = std::move(lines.back());
      lines.pop_back();
    }
  }
  lines.push_back(std::move(line));
}

}  // namespace

std::vector<std::string> wrapText(std::string_view text, int width, const std::function<int(std::string_view)>& measure) {
  std::vector<std::string> lines;
  std::string cleaned;
  cleaned.reserve(text.size());
  for (char c : text)
    if (c != '\r') cleaned += c;
  std::string_view rest = cleaned;
  for (;;) {
    std::size_t nl = rest.find('\n');
    wrapParagraph(rest.substr(0, nl), width, measure, lines);
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
  return lines;
}

}  // namespace rpt::detail
