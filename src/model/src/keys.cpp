// The orders' keys read directly: the key layout of the compare's two orders, the version width
// of the controlling order, key scans and the stored form of a text.
#include <cctype>

#include "model/model.h"

namespace model {
namespace {

// A key expression without blanks, in upper case: how two expressions are told equal.
std::string squeezed(std::string_view expression) {
  std::string out;
  for (char c : expression)
    if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The width of character field `name`; 0 when the table has none of that name and type.
std::size_t charWidth(const rdd::Table& table, const char* name) {
  const int i = table.fieldIndex(name);
  return i < 0 || table.field(i).type != 'C' ? 0 : static_cast<std::size_t>(table.field(i).length);
}

}  // namespace

std::optional<KeyLayout> Mpdms::keyLayout() const {
  const std::vector<OrderDesc>& described = indexList().front().orders;
  if (!used() || table_->orderCount() < 2 || described.size() < 2) return std::nullopt;
  for (int n = 1; n <= 2; ++n)
    if (squeezed(table_->orderKey(n)) != squeezed(described[n - 1].keyExpr) || !table_->orderFor(n).empty())
      return std::nullopt;
  const KeyLayout layout{charWidth(*table_, "MODELVERS"), charWidth(*table_, "CLASSNAME"),
                         charWidth(*table_, "PARENTNAME"), charWidth(*table_, "INS_CLASS")};
  if (!layout.version || !layout.className || !layout.parent || !layout.level || bound(Field::TYPE) < 0)
    return std::nullopt;
  return layout;
}

std::size_t Mpdms::versionKeyWidth() const {
  if (!used()) return 0;
  const int order = table_->order();
  if (order == 0 || !table_->orderFor(order).empty()) return 0;
  const std::string key = squeezed(table_->orderKey(order));
  if (key != "MODELVERS" && !key.starts_with("MODELVERS+")) return 0;
  return charWidth(*table_, "MODELVERS");
}

void Mpdms::scanOrder(int n, std::string_view from, const KeyVisitor& visit) {
  RT_FRAME("Mpdms:ScanOrder");
  if (used()) table_->scanOrder(n, from, visit);
}

std::optional<std::string> Mpdms::storedForm(std::string_view text) const {
  std::string stored;
  if (!table_ || !table_->storedForm(text, &stored)) return std::nullopt;
  return stored;
}

}  // namespace model
