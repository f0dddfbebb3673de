// The stored versions and the index build of the model table.
#include <unordered_set>

#include "workflow/workflow.h"

namespace workflow {

namespace {

// The shortest byte string that sorts after every string beginning with `prefix`; empty when
// there is none (the prefix is all 0xFF bytes).
std::string pastPrefix(std::string prefix) {
  while (!prefix.empty() && static_cast<unsigned char>(prefix.back()) == 0xFF) prefix.pop_back();
  if (!prefix.empty()) prefix.back() = static_cast<char>(static_cast<unsigned char>(prefix.back()) + 1);
  return prefix;
}

// Through an order keyed by version first, each version costs one look-up: from a version's
// first row the scan jumps past every key that begins with it. Leaves the table at its end, as
// a walk over every row does. Answers false when the order does not key that way.
bool versionsThroughOrder(model::Mpdms& table, std::vector<std::pair<std::string, long>>& versions) {
  const std::size_t width = table.versionKeyWidth();
  if (width == 0) return false;
  const int order = table.controllingOrder();
  std::string from;
  for (;;) {
    std::uint32_t first = 0;
    table.scanOrder(order, from, [&](std::string_view key, std::uint32_t recno) {
      from.assign(key.substr(0, width));
      first = recno;
      return false;
    });
    if (first == 0) break;
    table.goTo(first);
    versions.emplace_back(table.str(model::Field::MODELVERS), static_cast<long>(versions.size()) + 1);
    from = pastPrefix(from);
    if (from.empty()) break;
  }
  table.goBottom();
  table.skip();
  return true;
}

// An expression as written by anyone: upper case, blanks removed.
std::string normalised(std::string_view expression) {
  std::string out;
  for (char c : expression)
    if (c != ' ' && c != '\t') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// What tells the open orders from those described, in order (name, key expression, condition);
// empty when each open order is the one described at its place. Key lengths are the driver's to
// check: it takes none that its key expression's fields do not make.
std::string orderMismatch(model::Mpdms& table, const std::vector<model::IndexDesc>& indexes) {
  int number = 0;
  for (const model::IndexDesc& index : indexes)
    for (const model::OrderDesc& order : index.orders) {
      if (++number > table.orderCount()) return {};  // missing orders are noted on their own
      const std::pair<std::string, std::string> checks[] = {
          {normalised(table.orderName(number)), normalised(order.tag)},
          {normalised(table.orderKey(number)), normalised(order.keyExpr)},
          {normalised(table.orderFor(number)), normalised(order.condition)}};
      for (const auto& [found, described] : checks)
        if (found != described)
          return "order " + std::to_string(number) + " is " + table.orderName(number) + " keyed " +
                 table.orderKey(number) + (table.orderFor(number).empty() ? "" : " for " + table.orderFor(number)) +
                 ", where " + order.tag + " keyed " + order.keyExpr +
                 (order.condition.empty() ? "" : " for " + order.condition) + " is needed";
    }
  return {};
}

}  // namespace

std::vector<std::pair<std::string, long>> storedVersions(model::Mpdms& table) {
  RT_FRAME("ModelList:StoredVersions");
  std::vector<std::pair<std::string, long>> versions;
  if (versionsThroughOrder(table, versions)) return versions;
  std::unordered_set<std::string> seen;
  table.goTop();
  while (!table.eof()) {
    // Rows of a version lie together in an index order but not in natural order (a first start
    // without the index file): a version met again later is not listed twice.
    std::string version(table.str(model::Field::MODELVERS));
    if (seen.insert(version).second) versions.emplace_back(std::move(version), static_cast<long>(versions.size()) + 1);
    table.skip();
  }
  return versions;
}

IndexBuildResult buildIndexes(model::Mpdms& table, bool force) {
  RT_FRAME("IndexBuilder:Build");
  IndexBuildResult result;
  if (!table.used()) return result;  // a table that failed to open has no index to build
  const std::vector<model::IndexDesc>& indexes = model::indexList();
  const int openOrders = table.orderCount();
  const std::string drive = table.tableDrive();

  std::string dir = table.tablePath();
  if (!dir.empty() && dir.back() != '/') dir += '/';
  if (dir.find(':') == std::string::npos) dir = drive + dir;

  // Existence scan: the first missing index file forces the build.
  for (const model::IndexDesc& index : indexes) {
    if (!table.indexFileExists(index.stem)) {
      force = true;
      break;
    }
  }
  // An index file without every described order (damaged, or left by a stop during a rebuild),
  // or with an order that keys otherwise (another program's file of the same shape), is built
  // again too. Nothing is lost, so the log is told (unless the open of a damaged file told it
  // already) and the operation goes on.
  std::size_t described = 0;
  for (const model::IndexDesc& index : indexes) described += index.orders.size();
  std::string why;
  if (!force && static_cast<std::size_t>(openOrders) < described)
    why = "lacks " + std::to_string(described - static_cast<std::size_t>(openOrders)) + " of its orders";
  else if (!force)
    why = orderMismatch(table, indexes);
  if (!why.empty()) {
    force = true;
    if (!table.indexDamageReported())
      rt::logWarning(rt::makeError(rt::EG_CORRUPTION, "DBFCDX",
                                   "the index of " + dir + model::kTableName + " " + why + "; it is built again",
                                   "ORDLISTADD", dir + indexes.front().stem));
  }
  if (!force) return result;

  RT_LINE();
  result.rebuilt = true;
  // Every index file is written once, when the last order is built (and on the way out of an
  // error raised meanwhile).
  struct OrderChanges {
    model::Mpdms& table;
    explicit OrderChanges(model::Mpdms& changed) : table(changed) { table.beginOrderChanges(); }
    ~OrderChanges() { table.endOrderChanges(); }
  } changes(table);
  for (int i = 0; i < openOrders; ++i) {
    table.deleteOrder(1, std::string());
    ++result.ordersDeleted;
  }
  for (const model::IndexDesc& index : indexes) {
    for (const model::OrderDesc& order : index.orders) {
      RT_LINE();
      if (!order.condition.empty())
        table.setOrderCondition(order.condition, rt::compile("{||" + order.condition + "}"));
      else
        table.setOrderCondition();
      table.setOrder(0);
      table.goTop();
      table.createOrder(order.tag, dir + index.stem, order.keyExpr, rt::compile("{||" + order.keyExpr + "}"),
                        !order.duplicatesAllowed);
      table.setOrderCondition();
      ++result.ordersCreated;
    }
  }
  return result;
}

}  // namespace workflow
