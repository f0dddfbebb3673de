// The data side of a run: rows read from the table, group instances and aggregates, and the
// current run that formulas read.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <numeric>
#include <string_view>

#include "rdd/rdd.h"
#include "run_context.h"

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

rt::Value RowSet::value(std::size_t row, int field) const {
  if (!table) return rows[row][field];
  if (positioned_ != row) {
    table->goTo(recordNumbers[row]);
    positioned_ = row;
  }
  return table->get(field);
}

namespace {

// Text keys kept without their trailing blanks, as long as that keeps their order: while every key
// has one length and no byte below the blank (a blank then sorts before every other byte they
// hold), the trimmed keys compare as the whole ones do. A key that breaks the rule puts the blanks
// back on the keys before it.
class TextKeys {
 public:
  void add(const std::string& key, bool fold) {
    const std::size_t begin = text_.size();
    for (const char c : key) text_ += fold ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
    if (ends_.empty()) length_ = key.size();
    if (trimmed_ && (key.size() != length_ || std::any_of(key.begin(), key.end(), [](char c) {
                       return static_cast<unsigned char>(c) < ' ';
                     })))
      restoreBlanks(begin);
    if (trimmed_)
      while (text_.size() > begin && text_.back() == ' ') text_.pop_back();
    ends_.push_back(text_.size());
  }
  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }

 private:
  // Pads the keys before `pendingFrom` back to their common length.
  void restoreBlanks(std::size_t pendingFrom) {
    std::string whole;
    std::size_t begin = 0;
    for (std::size_t& end : ends_) {
      whole.append(text_, begin, end - begin);
      whole.append(length_ - (end - begin), ' ');
      begin = end;
      end = whole.size();
    }
    whole.append(text_, pendingFrom, std::string::npos);
    text_ = std::move(whole);
    trimmed_ = false;
  }

  std::string text_;
  std::vector<std::size_t> ends_;
  std::size_t length_ = 0;
  bool trimmed_ = true;
};

// The order of the rows by the sort expression, stable. Keys that are all texts (the usual case)
// are kept in one buffer, folded as the collation compares them, rather than as a run-time value
// a row: sorting a large table then holds little more than the keys' bytes.
std::vector<std::uint32_t> sortedOrder(const Layout& layout, const RowSet& set) {
  RecordResolver resolver(set.fields, *set.table);
  const auto keyOf = [&](std::size_t i) {
    set.table->goTo(set.recordNumbers[i]);
    return layout.data.sortBlock->eval(&resolver);
  };
  std::vector<std::uint32_t> order(set.size());
  std::iota(order.begin(), order.end(), 0u);
  const bool fold = rt::settings().collation == rt::Collation::Locale;
  TextKeys texts;
  for (std::size_t i = 0; i < set.size(); ++i) {
    const rt::Value key = keyOf(i);
    if (!key.isString()) break;
    texts.add(key.asString(), fold);
  }
  if (texts.size() == set.size()) {
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return texts[a] < texts[b]; });
    return order;
  }
  std::vector<rt::Value> keys(set.size());
  for (std::size_t i = 0; i < set.size(); ++i) keys[i] = keyOf(i);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return compareValues(keys[a], keys[b]).value_or(0) < 0;
  });
  return order;
}

void sortRows(const Layout& layout, RowSet& set) {
  const std::vector<std::uint32_t> order = sortedOrder(layout, set);
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
  RecordResolver resolver(set.fields, *table);
  for (table->goTop(); !table->eof(); table->skip(1)) {
    if (layout.data.filterBlock && !layout.data.filterBlock->eval(&resolver).asLogical()) continue;
    set.deleted.push_back(table->deleted());
    set.recordNumbers.push_back(table->recNo());
  }
  table->setOrder(0);
  set.table = std::move(table);
  if (layout.data.sortBlock && set.size() > 1) sortRows(layout, set);
  if (set.size() == 0)
    for (int i = 0; i < set.table->fieldCount(); ++i) set.blank.push_back(blankOf(set.table->field(i)));
  return set;
}

AggregateValues computeAggregates(const Layout& layout, const RowSet& rows) {
  AggregateValues out;
  const std::size_t levels = layout.groups.size();
  out.instanceOfRow.assign(levels, std::vector<int>(rows.size(), 0));
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
  for (std::size_t r = 0; r < rows.size(); ++r) {
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
      if (changed || instances.empty()) {
        instances.push_back(0);
        for (std::size_t a = 0; a < values.size(); ++a)
          if (layout.aggregates[a].groupLevel == static_cast<int>(level))
            values[a].push_back(startValue(layout.aggregates[a]));
      }
      ++instances.back();
      out.instanceOfRow[level][r] = static_cast<int>(instances.size()) - 1;
    }
    for (std::size_t a = 0; a < values.size(); ++a) {
      const Aggregate& agg = layout.aggregates[a];
      if (agg.conditionBlock && !agg.conditionBlock->eval(&resolver).asLogical()) continue;
      rt::Value& slot = values[a][agg.groupLevel < 0 ? 0 : out.instanceOfRow[agg.groupLevel][r]];
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

RunContext* currentRun() { return currentRunSlot(); }

CurrentRunScope::CurrentRunScope(RunContext* run) : previous_(currentRunSlot()) { currentRunSlot() = run; }
CurrentRunScope::~CurrentRunScope() { currentRunSlot() = previous_; }

std::optional<rt::Value> runField(const RunContext& run, rt::Symbol name) {
  if (!run.rows) return std::nullopt;
  const int index = run.rows->fieldIndex(name);
  if (index < 0) return std::nullopt;
  if (run.row >= 0 && static_cast<std::size_t>(run.row) < run.rows->size()) return run.rows->value(run.row, index);
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
