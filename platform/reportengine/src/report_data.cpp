// The data side of a run: rows read from the table, group instances and aggregates, and the
// current run that formulas read.
#include <algorithm>
#include <cstdlib>

#include "rdd/rdd.h"
#include "run_context.h"

namespace rpt {

namespace {

RunContext*& currentRunSlot() {
  static RunContext* run = nullptr;
  return run;
}

// Resolves names against one row being read, before it is part of a RowSet.
class PendingRowResolver : public rt::FieldResolver {
 public:
  PendingRowResolver(const std::vector<rt::Symbol>& fields, const std::vector<rt::Value>& row)
      : fields_(fields), row_(row) {}
  std::optional<rt::Value> field(rt::Symbol name) override {
    for (std::size_t i = 0; i < fields_.size(); ++i)
      if (fields_[i] == name) return row_[i];
    return std::nullopt;
  }

 private:
  const std::vector<rt::Symbol>& fields_;
  const std::vector<rt::Value>& row_;
};

rt::Value blankOf(const rdd::FieldInfo& f) {
  switch (f.type) {
    case 'L': return rt::Value(false);
    case 'N':
    case 'F': return f.decimals > 0 ? rt::Value(rt::Float{0.0, f.decimals}) : rt::Value(0);
    case 'D': return rt::Value(rt::Date{});
    default: return rt::Value(std::string(static_cast<std::size_t>(std::max(0, f.length)), ' '));
  }
}

// The order of the index that `order` names: a tag name or a number; 0 when there is none.
int orderNumber(rdd::Table& table, const std::string& order) {
  if (order.empty()) return 0;
  if (std::all_of(order.begin(), order.end(), [](unsigned char c) { return std::isdigit(c); })) {
    const int n = std::atoi(order.c_str());
    return n >= 1 && n <= table.orderCount() ? n : 0;
  }
  for (int i = 1; i <= table.orderCount(); ++i)
    if (rt::toUpper(table.orderName(i)) == rt::toUpper(order)) return i;
  return 0;
}

}  // namespace

int RowSet::fieldIndex(rt::Symbol name) const {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (fields[i] == name) return static_cast<int>(i);
  return -1;
}

std::optional<RowSet> loadRows(const Layout& layout) {
  RowSet set;
  if (layout.data.table.empty()) return set;
  rdd::OpenOptions options;
  options.shared = true;
  options.readOnly = true;
  std::unique_ptr<rdd::Table> table = rdd::Table::open(layout.data.table, layout.directory, options);
  if (!table || !table->used()) return std::nullopt;
  for (int i = 0; i < table->fieldCount(); ++i) set.fields.emplace_back(table->field(i).name);
  if (!layout.data.indexFile.empty()) {
    if (!table->openIndex(layout.directory + layout.data.indexFile)) return std::nullopt;
    const int number = orderNumber(*table, layout.data.order);
    if (!layout.data.order.empty() && number == 0) {
      auto e = rt::makeError(rt::EG_ARG, "REPORT",
                             "No order \"" + layout.data.order + "\" in index " + layout.data.indexFile,
                             "LOADROWS", layout.directory + layout.data.indexFile);
      (void)rt::raise(e);
      return std::nullopt;
    }
    table->setOrder(number == 0 ? 1 : number);
  }
  std::vector<rt::Value> blank;
  for (int i = 0; i < table->fieldCount(); ++i) blank.push_back(blankOf(table->field(i)));
  for (table->goTop(); !table->eof(); table->skip(1)) {
    std::vector<rt::Value> row;
    row.reserve(set.fields.size());
    for (int i = 0; i < table->fieldCount(); ++i) row.push_back(table->get(i));
    if (layout.data.filterBlock) {
      PendingRowResolver resolver(set.fields, row);
      if (!layout.data.filterBlock->eval(&resolver).asLogical()) continue;
    }
    set.deleted.push_back(table->deleted());
    set.rows.push_back(std::move(row));
  }
  if (layout.data.sortBlock && set.rows.size() > 1) {
    std::vector<std::pair<rt::Value, std::size_t>> keys;
    keys.reserve(set.rows.size());
    for (std::size_t i = 0; i < set.rows.size(); ++i) {
      PendingRowResolver resolver(set.fields, set.rows[i]);
      keys.emplace_back(layout.data.sortBlock->eval(&resolver), i);
    }
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
      return compareValues(a.first, b.first).value_or(0) < 0;
    });
    RowSet sorted;
    sorted.fields = set.fields;
    for (const auto& k : keys) {
      sorted.rows.push_back(std::move(set.rows[k.second]));
      sorted.deleted.push_back(set.deleted[k.second]);
    }
    set = std::move(sorted);
  }
  if (set.rows.empty()) set.blank = std::move(blank);
  return set;
}

AggregateValues computeAggregates(const Layout& layout, const RowSet& rows) {
  AggregateValues out;
  const std::size_t levels = layout.groups.size();
  out.instanceOfRow.assign(levels, std::vector<int>(rows.rows.size(), 0));
  out.membersOfInstance.assign(levels, {});
  RunContext run;
  run.layout = &layout;
  run.rows = &rows;
  RunResolver resolver(run);

  // Group instances: a change of the key at one level starts a new instance there and at every
  // level inside it.
  std::vector<rt::Value> previous(levels);
  for (std::size_t r = 0; r < rows.rows.size(); ++r) {
    run.row = static_cast<int>(r);
    bool changed = r == 0;
    for (std::size_t level = 0; level < levels; ++level) {
      rt::Value key = layout.groups[level].block->eval(&resolver);
      if (!changed) {
        const auto order = rt::compareValues(key, previous[level]);
        changed = !order || *order != 0 || key.type() != previous[level].type();
      }
      previous[level] = std::move(key);
      auto& instances = out.membersOfInstance[level];
      if (changed || instances.empty()) instances.push_back(0);
      ++instances.back();
      out.instanceOfRow[level][r] = static_cast<int>(instances.size()) - 1;
    }
  }

  for (const Aggregate& agg : layout.aggregates) {
    const std::size_t slotCount =
        agg.groupLevel < 0 ? 1 : std::max<std::size_t>(1, out.membersOfInstance[agg.groupLevel].size());
    rt::Value start;
    if (agg.kind == AggregateKind::Count || agg.kind == AggregateKind::Sum) start = rt::Value(0);
    std::vector<rt::Value> values(slotCount, start);
    for (std::size_t r = 0; r < rows.rows.size(); ++r) {
      run.row = static_cast<int>(r);
      if (agg.conditionBlock && !agg.conditionBlock->eval(&resolver).asLogical()) continue;
      rt::Value& slot = values[agg.groupLevel < 0 ? 0 : out.instanceOfRow[agg.groupLevel][r]];
      if (agg.kind == AggregateKind::Count) {
        slot = rt::Value(slot.asLong() + 1);
        continue;
      }
      const rt::Value v = agg.block->eval(&resolver);
      if (agg.kind == AggregateKind::Sum) {
        if (slot.isLong() && v.isLong()) slot = rt::Value(static_cast<long long>(slot.asLong() + v.asLong()));
        else slot = rt::Value(slot.asNumber() + v.asNumber());
      } else if (slot.isNil()) {
        slot = v;
      } else {
        const auto order = rt::compareValues(v, slot);
        if (order && ((agg.kind == AggregateKind::Min && *order < 0) || (agg.kind == AggregateKind::Max && *order > 0)))
          slot = v;
      }
    }
    out.byName[rt::toUpper(agg.name)] = std::move(values);
  }
  return out;
}

RunContext* currentRun() { return currentRunSlot(); }

CurrentRunScope::CurrentRunScope(RunContext* run) : previous_(currentRunSlot()) { currentRunSlot() = run; }
CurrentRunScope::~CurrentRunScope() { currentRunSlot() = previous_; }

std::optional<rt::Value> runField(const RunContext& run, rt::Symbol name) {
  if (!run.rows) return std::nullopt;
  const int index = run.rows->fieldIndex(name);
  if (index < 0) return std::nullopt;
  if (run.row >= 0 && static_cast<std::size_t>(run.row) < run.rows->rows.size())
    return run.rows->rows[run.row][index];
  if (static_cast<std::size_t>(index) < run.rows->blank.size()) return run.rows->blank[index];
  return rt::Value();
}

std::optional<rt::Value> runAggregate(const RunContext& run, const std::string& name) {
  if (!run.aggregates || !run.layout) return std::nullopt;
  const std::string upper = rt::toUpper(name);
  auto it = run.aggregates->byName.find(upper);
  if (it == run.aggregates->byName.end()) return std::nullopt;
  int level = -1;
  for (const Aggregate& agg : run.layout->aggregates)
    if (rt::toUpper(agg.name) == upper) level = agg.groupLevel;
  std::size_t slot = 0;
  if (level >= 0 && run.row >= 0 && static_cast<std::size_t>(run.row) < run.aggregates->instanceOfRow[level].size())
    slot = static_cast<std::size_t>(run.aggregates->instanceOfRow[level][run.row]);
  return slot < it->second.size() ? it->second[slot] : rt::Value();
}

std::optional<rt::Value> RunResolver::field(rt::Symbol name) {
  const std::string& text = name.name();
  const auto arrow = text.find("->");
  const rt::Symbol plain = arrow == std::string::npos ? name : rt::Symbol(text.substr(arrow + 2));
  if (auto v = runField(run_, plain)) return v;
  return runAggregate(run_, plain.name());
}

}  // namespace rpt
