// The data side of a run: rows read from the table, group instances and aggregates, and the
// current run that formulas read.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <numeric>

#include "rdd/rdd.h"
#include "run_context.h"
#include "sort_keys.h"

namespace rpt {

namespace {

RunContext*& currentRunSlot() {
  static RunContext* run = nullptr;
  return run;
}

// Resolves names against the record the table stands on, reading only the fields asked for.
class RecordResolver : public rt::FieldResolver {
 public:
  RecordResolver(const std::vector<rt::Symbol>& fields, rdd::Table& table) : fields_(fields), table_(table) {}
  std::optional<rt::Value> field(rt::Symbol name) override {
    for (std::size_t i = 0; i < fields_.size(); ++i)
      if (fields_[i] == name) return table_.get(static_cast<int>(i));
    return std::nullopt;
  }

 private:
  const std::vector<rt::Symbol>& fields_;
  rdd::Table& table_;
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

const rt::Value& RowSet::valueRef(std::size_t row, int field) const {
  if (!table) return rows[row][field];
  if (positioned_ != row) {
    table->goTo(recordNumbers[row]);
    positioned_ = row;
    current_.resize(fields.size());
    readFor_.resize(fields.size(), SIZE_MAX);
  }
  if (readFor_[field] != row) {
    current_[field] = table->get(field);
    readFor_[field] = row;
  }
  return current_[field];
}

namespace {

// The order of the rows by sort keys that are not all texts, compared as run-time values, stable.
std::vector<std::uint32_t> orderByValues(const Layout& layout, const RowSet& set) {
  RecordResolver resolver(set.fields, *set.table);
  std::vector<rt::Value> keys(set.size());
  for (std::size_t i = 0; i < set.size(); ++i) {
    set.table->goTo(set.recordNumbers[i]);
    keys[i] = layout.data.sortBlock->eval(&resolver);
  }
  std::vector<std::uint32_t> order(set.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return compareValues(keys[a], keys[b]).value_or(0) < 0;
  });
  return order;
}

// Whether a group's key differs from the row before's: a key of another type or one that does not
// compare equal. Texts, the usual keys, are told equal without the general comparison.
bool keyChanged(const rt::Value& key, const rt::Value& previous, bool fold) {
  if (key.isString() && previous.isString()) {
    const std::string& a = key.asString();
    const std::string& b = previous.asString();
    if (a == b) return false;
    return !fold || a.size() != b.size() || !std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
  }
  const auto order = rt::compareValues(key, previous);
  return !order || *order != 0 || key.type() != previous.type();
}

void applyOrder(const std::vector<std::uint32_t>& order, RowSet& set) {
  std::vector<std::uint32_t> records;
  std::vector<bool> deleted;
  records.reserve(order.size());
  deleted.reserve(order.size());
  for (const std::uint32_t i : order) {
    records.push_back(set.recordNumbers[i]);
    deleted.push_back(set.deleted[i]);
  }
  set.recordNumbers = std::move(records);
  set.deleted = std::move(deleted);
}

}  // namespace

std::optional<RowSet> loadRows(const Layout& layout) {
  RowSet set;
  if (layout.data.table.empty()) return set;
  rdd::OpenOptions options;
  options.shared = true;
  options.readOnly = true;
  std::shared_ptr<rdd::Table> table = rdd::Table::open(layout.data.table, layout.directory, options);
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
  // One walk over the table: the filter, and the sort key of each row taken while the row is at
  // hand. Keys that are all texts (the usual case) are kept packed in blocks; otherwise they
  // are read again as values once the walk is over.
  RecordResolver resolver(set.fields, *table);
  const rt::BlockPtr& sortBlock = layout.data.sortBlock;
  SortKeys texts(rt::settings().collation == rt::Collation::Locale);
  bool textKeys = sortBlock != nullptr;
  std::string key;
  for (table->goTop(); !table->eof(); table->skip(1)) {
    if (layout.data.filterBlock && !layout.data.filterBlock->eval(&resolver).asLogical()) continue;
    set.deleted.push_back(table->deleted());
    set.recordNumbers.push_back(table->recNo());
    textKeys = textKeys && sortBlock->evalString(&resolver, key) && texts.add(key);
  }
  table->setOrder(0);
  set.table = std::move(table);
  if (sortBlock && set.size() > 1) applyOrder(textKeys ? texts.order() : orderByValues(layout, set), set);
  if (set.size() == 0)
    for (int i = 0; i < set.table->fieldCount(); ++i) set.blank.push_back(blankOf(set.table->field(i)));
  return set;
}

AggregateValues computeAggregates(const Layout& layout, const RowSet& rows) {
  AggregateValues out;
  const std::size_t levels = layout.groups.size();
  out.instanceStarts.assign(levels, {});
  out.membersOfInstance.assign(levels, {});
  RunContext run;
  run.layout = &layout;
  run.rows = &rows;
  RunResolver resolver(run);

  const auto startValue = [](const Aggregate& agg) {
    return agg.kind == AggregateKind::Count || agg.kind == AggregateKind::Sum ? rt::Value(0) : rt::Value();
  };
  std::vector<std::vector<rt::Value>> values;
  for (const Aggregate& agg : layout.aggregates)
    values.emplace_back(agg.groupLevel < 0 ? 1 : 0, startValue(agg));

  // One walk over the rows, each row read once: a change of the key at one level starts a new
  // instance there and at every level inside it (and a new slot of that level's aggregates); then
  // the row takes part in every aggregate whose condition it meets.
  std::vector<rt::Value> previous(levels);
  const bool fold = rt::settings().collation == rt::Collation::Locale;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    run.row = static_cast<int>(r);
    bool changed = r == 0;
    for (std::size_t level = 0; level < levels; ++level) {
      rt::Value key = layout.groups[level].block->eval(&resolver);
      changed = changed || keyChanged(key, previous[level], fold);
      previous[level] = std::move(key);
      auto& instances = out.membersOfInstance[level];
      if (changed || instances.empty()) {
        instances.push_back(0);
        out.instanceStarts[level].push_back(static_cast<std::uint32_t>(r));
        for (std::size_t a = 0; a < values.size(); ++a)
          if (layout.aggregates[a].groupLevel == static_cast<int>(level))
            values[a].push_back(startValue(layout.aggregates[a]));
      }
      ++instances.back();
    }
    for (std::size_t a = 0; a < values.size(); ++a) {
      const Aggregate& agg = layout.aggregates[a];
      if (agg.conditionBlock && !agg.conditionBlock->eval(&resolver).asLogical()) continue;
      rt::Value& slot = values[a][agg.groupLevel < 0 ? 0 : out.membersOfInstance[agg.groupLevel].size() - 1];
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
  }
  for (std::size_t a = 0; a < values.size(); ++a) {
    if (values[a].empty()) values[a].push_back(startValue(layout.aggregates[a]));
    out.byName[rt::toUpper(layout.aggregates[a].name)] = std::move(values[a]);
  }
  return out;
}

int AggregateValues::instanceOf(std::size_t level, std::size_t row) const {
  const std::vector<std::uint32_t>& starts = instanceStarts[level];
  const auto after = std::upper_bound(starts.begin(), starts.end(), row);
  return after == starts.begin() ? 0 : static_cast<int>(after - starts.begin()) - 1;
}

bool AggregateValues::startsInstance(std::size_t level, std::size_t row) const {
  return std::binary_search(instanceStarts[level].begin(), instanceStarts[level].end(), row);
}

RunContext* currentRun() { return currentRunSlot(); }

CurrentRunScope::CurrentRunScope(RunContext* run) : previous_(currentRunSlot()), clock_(run->startedAt) {
  currentRunSlot() = run;
}
CurrentRunScope::~CurrentRunScope() { currentRunSlot() = previous_; }

std::optional<rt::Value> runField(const RunContext& run, rt::Symbol name) {
  if (!run.rows) return std::nullopt;
  const int index = run.rows->fieldIndex(name);
  if (index < 0) return std::nullopt;
  return runFieldAt(run, index);
}

rt::Value runFieldAt(const RunContext& run, int index) {
  if (const rt::Value* v = runFieldRef(run, index)) return *v;
  return rt::Value();
}

const rt::Value* runFieldRef(const RunContext& run, int index) {
  if (run.row >= 0 && static_cast<std::size_t>(run.row) < run.rows->size()) return &run.rows->valueRef(run.row, index);
  if (static_cast<std::size_t>(index) < run.rows->blank.size()) return &run.rows->blank[index];
  return nullptr;
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
  if (level >= 0 && run.row >= 0 && run.rows && static_cast<std::size_t>(run.row) < run.rows->size())
    slot = static_cast<std::size_t>(run.aggregates->instanceOf(static_cast<std::size_t>(level), run.row));
  return slot < it->second.size() ? it->second[slot] : rt::Value();
}

const RunResolver::Name& RunResolver::resolved(rt::Symbol name) {
  if (resolvedFor_ != run_.rows) {
    names_.clear();
    nameAt_.clear();
    resolvedFor_ = run_.rows;
  }
  if (name.id() < nameAt_.size() && nameAt_[name.id()] >= 0) return names_[static_cast<std::size_t>(nameAt_[name.id()])];
  const std::string& text = name.name();
  const auto arrow = text.find("->");
  Name fresh{arrow == std::string::npos ? name : rt::Symbol(text.substr(arrow + 2))};
  if (run_.rows) fresh.field = run_.rows->fieldIndex(fresh.plain);
  if (name.id() >= nameAt_.size()) nameAt_.resize(name.id() + 1, -1);
  nameAt_[name.id()] = static_cast<int>(names_.size());
  return names_.emplace_back(fresh);
}

const rt::Value* RunResolver::fieldRef(rt::Symbol name) {
  const Name& n = resolved(name);
  return n.field >= 0 ? runFieldRef(run_, n.field) : nullptr;
}

std::optional<rt::Value> RunResolver::field(rt::Symbol name) {
  const Name& n = resolved(name);
  if (n.field >= 0) return runFieldAt(run_, n.field);
  return runAggregate(run_, n.plain.name());
}

}  // namespace rpt
