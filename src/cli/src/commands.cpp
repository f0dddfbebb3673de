// The commands: the same units the main window calls, in the same order, on a shared table.
#include "commands.h"

#include <iostream>

#include "ole/ole.h"
#include "unattended.h"
#include "workflow/differences.h"
#include "workflow/operations.h"
#include "workflow/session.h"
#include "workflow/workflow.h"
#include "zorbanectl/zorbanectl.h"

namespace cli {
namespace {

// Raises a plain failure of the command; it cannot be defaulted, so the command stops.
[[noreturn]] void fail(int genCode, const std::string& description, const std::string& operation,
                       const std::string& fileName = {}) {
  auto e = rt::makeError(genCode, "ZMCCLI", description, operation, fileName);
  (void)rt::raise(e);
  // The unattended handler breaks on an error that cannot be defaulted; should an error block
  // answer otherwise, the command still must not go on.
  rt::breakToRecovery(rt::Value(e));
}

// The hosted control of the window program, created from the same stored state and connected.
rt::ObjectPtr connectedControl() {
  RT_FRAME("Cli:ConnectedControl");
  zctl::registerControl();
  ole::AutoObjectPtr control = ole::createFromAppDocStorage(ole::OleAppDocStorage{"OLE29", "ZorbaneWin", "Zorbane"});
  if (!control) fail(rt::EG_OLE, "the database control could not be created", "CONNECT", "OLE29.ctlstate");
  RT_LINE();
  workflow::connectControl(control);
  return control;
}

// The model table opened shared, as the window program opens it; read-only for a command that
// writes nothing.
std::unique_ptr<model::Mpdms> openShared(const char* operation, bool readOnly = false) {
  RT_FRAME("Cli:OpenShared");
  model::Mpdms::Args args;
  args.shared = true;
  args.readOnly = readOnly;
  auto table = std::make_unique<model::Mpdms>(args);
  if (!table->used()) fail(rt::EG_OPEN, std::string("the model table ") + model::kTableName + " could not be opened",
                           operation, model::kTableName);
  return table;
}

// The shared table with its index file built when it is missing, as at the window's start.
std::unique_ptr<model::Mpdms> sharedTable(const char* operation) {
  auto table = openShared(operation);
  (void)workflow::buildIndexes(*table, false);
  return table;
}

std::string trimmedVersion(const std::string& fullWidth) {
  return fullWidth.substr(0, fullWidth.find_last_not_of(' ') + 1);
}

}  // namespace

int listFamilies() {
  RT_FRAME("Cli:Families");
  for (const std::string& name : workflow::familyNames(connectedControl())) std::cout << name << '\n';
  return 0;
}

int listVersions() {
  RT_FRAME("Cli:Versions");
  auto table = sharedTable("VERSIONS");
  for (const workflow::VersionRows& entry : workflow::versionRows(*table))
    std::cout << entry.version << '\t' << entry.family << '\t' << entry.rows << '\n';
  return 0;
}

int loadFamily(const std::string& family, const std::string& version) {
  RT_FRAME("Cli:Load");
  const rt::ObjectPtr control = connectedControl();
  auto table = sharedTable("LOAD");
  RT_LINE();
  const std::string stored = trimmedVersion(workflow::fullWidthVersion(version));
  ProgressLoad observer(stored);
  const workflow::LoadCounts counts = workflow::runLoad(control, *table, family, observer).counts;
  table->close();
  if (counts.writeFailed) {
    // The error that stopped it was printed; the rows before it are stored and indexed.
    std::cerr << "zorbane-compare-cli: Load Stopped: the load of " << family << " stopped; " << counts.rows
              << " rows were stored as version " << stored << ".\n";
    return 2;
  }
  std::cout << "Loaded " << counts.classes << " classes (" << counts.rows << " rows) of " << family << " as version "
            << stored << ".\n";
  return 0;
}

namespace {

// Both versions at full width; the same version twice is refused.
std::pair<std::string, std::string> pairOf(const CompareOptions& options, const char* operation) {
  std::pair<std::string, std::string> pair{workflow::fullWidthVersion(options.base),
                                           workflow::fullWidthVersion(options.reference)};
  if (pair.first == pair.second)
    fail(rt::EG_ARG, "the base and the reference version are the same (\"" + trimmedVersion(pair.first) + "\")",
         operation);
  return pair;
}

void failWithoutRows(const std::string& version, const char* operation) {
  fail(rt::EG_ARG, "Model version \"" + trimmedVersion(version) + "\" has no rows in the database; nothing was compared.",
       operation);
}

// Prints or writes the differences as asked and answers the exit code --fail-on sets.
int report(const CompareOptions& options, const workflow::Differences& differences, const char* operation) {
  RT_FRAME("Cli:Report");
  const workflow::ExportView view = options.changes ? workflow::ExportView::Changes : workflow::ExportView::Rows;
  if (options.output) {
    if (!workflow::exportDifferences(*options.output, differences, options.format, view))
      fail(rt::EG_WRITE, "the differences were not written", operation, *options.output);
  } else {
    workflow::writeDifferences(std::cout, differences, options.format, view);
    std::cout.flush();
    if (!std::cout) fail(rt::EG_WRITE, "the differences could not be written to standard output", operation);
  }
  switch (options.failOn) {
    case FailOn::Any: return differences.rows.empty() ? 0 : 1;
    case FailOn::Breaking: return differences.changes.counts.count(workflow::Severity::Breaking) > 0 ? 1 : 0;
    case FailOn::None: break;
  }
  return 0;
}

}  // namespace

int compare(const CompareOptions& options) {
  RT_FRAME("Cli:Compare");
  auto table = sharedTable("COMPARE");
  workflow::CompareResult result;
  {
    ProgressCompare observer;
    result = workflow::runCompare(*table, options.base, options.reference, options.reset, observer);
  }
  const std::string base = workflow::fullWidthVersion(options.base);
  const std::string reference = workflow::fullWidthVersion(options.reference);
  RT_LINE();
  switch (result.outcome) {
    case workflow::CompareOutcome::SameVersion:
      fail(rt::EG_ARG, "the base and the reference version are the same (\"" + trimmedVersion(base) + "\")", "COMPARE");
    case workflow::CompareOutcome::NoRows:
      fail(rt::EG_ARG,
           "Model version \"" + trimmedVersion(result.versionWithoutRows) +
               "\" has no rows in the database; nothing was compared.",
           "COMPARE");
    case workflow::CompareOutcome::Stopped:
      fail(rt::EG_WRITE,
           "the compare stopped after a write error; " +
               std::to_string(result.counts.baseRows + result.counts.referenceRows) + " rows were compared",
           "COMPARE", model::kTableName);
    case workflow::CompareOutcome::Done:
      break;
  }
  const workflow::Differences differences = workflow::readDifferences(*table, base, reference);
  table->close();
  RT_LINE();
  return report(options, differences, "COMPARE");
}

int diff(const CompareOptions& options) {
  RT_FRAME("Cli:Diff");
  const auto [base, reference] = pairOf(options, "DIFF");
  auto table = openShared("DIFF", true);
  RT_LINE();
  const workflow::PairVerdicts verdicts = workflow::computePairVerdicts(*table, base, reference);
  table->close();
  if (verdicts.baseRows == 0) failWithoutRows(base, "DIFF");
  if (verdicts.size() == verdicts.baseRows) failWithoutRows(reference, "DIFF");
  return report(options, workflow::differencesOf(verdicts), "DIFF");
}

int zap() {
  RT_FRAME("Cli:Zap");
  std::shared_ptr<model::Mpdms> table;
  const workflow::ZapOutcome outcome = workflow::runZap(table);
  table->close();
  if (outcome != workflow::ZapOutcome::Zapped)
    fail(rt::EG_SHARED, "Unable to open server exclusively, server has not been zapped!", "ZAP", model::kTableName);
  std::cout << "Server was zapped!\n";
  return 0;
}

int reindex() {
  RT_FRAME("Cli:Reindex");
  auto table = openShared("REINDEX");
  const workflow::IndexBuildResult result = workflow::runReindex(*table);
  table->close();
  std::cout << "Index rebuilt: " << result.ordersCreated << " orders.\n";
  return 0;
}

}  // namespace cli
