// The run being drawn, as the engine's formula functions and the field resolver see it.
#pragma once
#include "reportengine/render.h"

namespace rpt {

struct RunContext {
  const Layout* layout = nullptr;
  const RowSet* rows = nullptr;
  const AggregateValues* aggregates = nullptr;
  int row = -1;          // the row fields are read from; -1 when there are no rows
  int page = 0;          // current page number, from 1
  int pageCount = 0;     // known in the second pass; 0 in the first
  bool atEnd = false;    // the summary is being drawn
  std::time_t startedAt = std::time(nullptr);  // when the run began: the time every page prints
};

// The run being drawn, or nullptr outside renderReport.
RunContext* currentRun();

// Makes `run` current for its lifetime and restores the previous one afterwards.
class CurrentRunScope {
 public:
  explicit CurrentRunScope(RunContext* run);
  ~CurrentRunScope();
  CurrentRunScope(const CurrentRunScope&) = delete;
  CurrentRunScope& operator=(const CurrentRunScope&) = delete;

 private:
  RunContext* previous_;
  rt::FixedClock clock_;
};

// The value of a field of the current row (by name or by its place in the row set), or of an
// aggregate, by name.
std::optional<rt::Value> runField(const RunContext& run, rt::Symbol name);
rt::Value runFieldAt(const RunContext& run, int index);
const rt::Value* runFieldRef(const RunContext& run, int index);  // null when the field has no value
std::optional<rt::Value> runAggregate(const RunContext& run, const std::string& name);

// Resolves field names of expressions against a run. A name ("FIELD" or "ALIAS->FIELD") is looked
// up once among the row set's fields; later reads of it go straight to the field.
class RunResolver : public rt::FieldResolver {
 public:
  explicit RunResolver(const RunContext& run) : run_(run) {}
  std::optional<rt::Value> field(rt::Symbol name) override;
  const rt::Value* fieldRef(rt::Symbol name) override;

 private:
  struct Name {
    rt::Symbol plain;  // without the alias
    int field = -1;    // in the row set; -1: none, an aggregate's name perhaps
  };
  const Name& resolved(rt::Symbol name);

  const RunContext& run_;
  const RowSet* resolvedFor_ = nullptr;  // the row set the names were looked up in
  std::vector<Name> names_;
  std::vector<int> nameAt_;  // by the name's symbol number: its place in names_, -1 when not looked up
};

}  // namespace rpt
