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
};

// The value of a field of the current row, or of an aggregate, by name.
std::optional<rt::Value> runField(const RunContext& run, rt::Symbol name);
std::optional<rt::Value> runAggregate(const RunContext& run, const std::string& name);

// Resolves field names of expressions against a run.
class RunResolver : public rt::FieldResolver {
 public:
  explicit RunResolver(const RunContext& run) : run_(run) {}
  std::optional<rt::Value> field(rt::Symbol name) override;

 private:
  const RunContext& run_;
};

}  // namespace rpt
