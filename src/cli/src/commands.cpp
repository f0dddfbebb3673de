// The commands: the same units the main window calls, in the same order, on a shared table.
#include "commands.h"

#include <unistd.h>

#include <QString>

#include <algorithm>
#include <iostream>
#include <vector>

#include "ole/ole.h"
#include "unattended.h"
#include "workflow/differences.h"
#include "workflow/history.h"
#include "workflow/ignore_rules.h"
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

// Ends the command after a failure. When the step that failed has reported why already (a file
// that cannot be opened, a store that cannot be reached), it is not told again in other words.
[[noreturn]] void failUnlessReported(int genCode, const std::string& description, const std::string& operation,
                                     const std::string& fileName = {}) {
  if (errorReported())
    rt::breakToRecovery(rt::Value(rt::makeError(genCode, "ZMCCLI", description, operation, fileName)));
  fail(genCode, description, operation, fileName);
}

// The hosted control of the window program, created from the same stored state and connected.
rt::ObjectPtr connectedControl() {
  RT_FRAME("Cli:ConnectedControl");
  zctl::registerControl();
  ole::AutoObjectPtr control = ole::createFromAppDocStorage(workflow::kControlStorage);
  if (!control)
    failUnlessReported(rt::EG_OLE, "the database control could not be created", "CONNECT", "OLE29.ctlstate");
  RT_LINE();
  workflow::connectControl(control);
  // A store that cannot be reached has said why; asking it for families would only fail again.
  if (errorReported()) failUnlessReported(rt::EG_OLE, "the database could not be connected", "CONNECT");
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
  if (!table->used())
    failUnlessReported(rt::EG_OPEN, std::string("the model table ") + model::kTableName + " could not be opened",
                       operation, model::kTableName);
  return table;
}

// A command that writes stops before it opens anything when it may not write.
void refuseWhenReadOnly(const char* operation) {
  if (const std::string cause = workflow::tableReadOnlyCause(); !cause.empty())
    fail(rt::EG_READONLY, cause + "; " + workflow::readOnlyTableText() + " 'versions' and 'diff' read a read-only table.",
         operation, model::kTableName);
}

// The shared table with its index file built when it is missing, as at the window's start. A
// table this process may not write is refused before anything is opened.
std::unique_ptr<model::Mpdms> sharedTable(const char* operation) {
  refuseWhenReadOnly(operation);
  auto table = openShared(operation);
  (void)workflow::buildIndexes(*table, false);
  return table;
}

// The listed name a mistyped one most likely meant: the same but for case and blanks, or at
// most two letters away; empty when none is that close.
std::string closestName(const std::string& typed, const std::vector<std::string>& names) {
  const std::string wanted = rt::toUpper(workflow::trimmedText(typed));
  std::string best;
  std::size_t bestDistance = 3;
  for (const std::string& name : names) {
    const std::string candidate = rt::toUpper(name);
    // Edit distance, one row at a time.
    std::vector<std::size_t> row(candidate.size() + 1);
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= wanted.size(); ++i) {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= candidate.size(); ++j) {
        const std::size_t above = row[j];
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (wanted[i - 1] == candidate[j - 1] ? 0 : 1)});
        diagonal = above;
      }
    }
    if (row.back() < bestDistance) {
      bestDistance = row.back();
      best = name;
    }
  }
  return best;
}

std::string trimmedVersion(const std::string& fullWidth) {
  return fullWidth.substr(0, fullWidth.find_last_not_of(' ') + 1);
}

}  // namespace

int listFamilies() {
  RT_FRAME("Cli:Families");
  std::vector<std::string> names = workflow::familyNames(connectedControl());
  // In the order of the window's family list, a sorted list box: by text regardless of case,
  // equal texts in the database's order.
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return QString::compare(QString::fromStdString(a), QString::fromStdString(b), Qt::CaseInsensitive) < 0;
  });
  for (const std::string& name : names) std::cout << name << '\n';
  return 0;
}

int listVersions() {
  RT_FRAME("Cli:Versions");
  // Listing writes nothing: a table this process may not write is read as it is, index and all.
  auto table = workflow::tableReadOnlyHere() ? openShared("VERSIONS", true) : sharedTable("VERSIONS");
  for (const workflow::VersionRows& entry : workflow::versionRows(*table))
    std::cout << entry.version << '\t' << entry.family << '\t' << entry.rows << '\n';
  return 0;
}

int loadFamily(const std::string& family, const std::string& version, bool append) {
  RT_FRAME("Cli:Load");
  const rt::ObjectPtr control = connectedControl();
  const std::vector<std::string> families = workflow::familyNames(control);
  if (std::find(families.begin(), families.end(), family) == families.end()) {
    const std::string closest = closestName(family, families);
    fail(rt::EG_ARG,
         "the database has no class family named \"" + family + "\"" +
             (closest.empty() ? std::string(".") : "; did you mean \"" + closest + "\"?") + " Nothing was loaded.",
         "LOAD");
  }
  auto table = sharedTable("LOAD");
  if (const std::string refusal = workflow::versionRefusal(*table, version); !refusal.empty())
    fail(rt::EG_ARG, refusal, "LOAD");
  RT_LINE();
  const std::string stored = trimmedVersion(workflow::fullWidthVersion(version));
  if (const long held = workflow::familyRowsIn(*table, workflow::fullWidthVersion(version), family); held > 0 && !append)
    fail(rt::EG_ARG,
         "version " + stored + " already holds " + std::to_string(held) + " rows of " + family +
             "; reading it again would store every row twice. Give --append to add them anyway, or load it "
             "under another version.",
         "LOAD");
  ProgressLoad observer(stored);
  const workflow::LoadResult result = workflow::runLoad(control, *table, family, observer);
  const workflow::LoadCounts& counts = result.counts;
  table->close();
  // A load stopped by a write error or a full table, or one that left part of the family unread,
  // gets no summary; a stopped one says how many rows it stored.
  if (result.outcome == workflow::LoadOutcome::Stopped)
    std::cerr << "zorbane-compare-cli: Load Stopped: the load of " << family << " stopped; " << counts.rows
              << " rows were stored as version " << stored << ".\n";
  if (result.outcome != workflow::LoadOutcome::Done) return kExitTrouble;
  std::cout << "Loaded " << counts.classes << " classes (" << counts.rows << " rows) of " << family << " as version "
            << stored << ".\n";
  if (counts.rows == 0) std::cout << "No rows were written: " << family << " has no classes.\n";
  for (const std::string& name : counts.substituted)
    std::cout << "Stored with \"?\" for characters the model table cannot hold: " << name << "\n";
  return 0;
}

namespace {

[[noreturn]] void failSameVersion(const std::string& version, const char* operation) {
  fail(rt::EG_ARG, "the base and the reference version are the same (\"" + trimmedVersion(version) + "\")", operation);
}

// A refused output file stops the command before the table is touched (the refusal is raised).
bool outputAllowed(const CompareOptions& options) {
  return !options.output || workflow::exportTargetAllowed(*options.output);
}

[[noreturn]] void failWithoutRows(const std::string& version, const char* operation) {
  fail(rt::EG_ARG, "Model version \"" + trimmedVersion(version) + "\" has no rows in the database; nothing was compared.",
       operation);
}

// The rules of the working folder's ignore file, each refused line told on standard error (the
// command goes on without it); none when the user turned them off.
std::optional<workflow::IgnoreRules> ignoreRules(bool wanted) {
  if (!wanted) return std::nullopt;
  workflow::IgnoreRules rules = workflow::readIgnoreRules(workflow::kIgnoreFileName);
  for (const workflow::RuleProblem& problem : rules.problems)
    std::cerr << "zorbane-compare-cli: " << workflow::problemText(rules, problem) << "\n";
  return rules;
}

const workflow::IgnoreRules* inForce(const std::optional<workflow::IgnoreRules>& rules) {
  return rules && !rules->empty() ? &*rules : nullptr;
}

// Prints or writes the differences as asked and answers the exit code --fail-on sets.
int report(const CompareOptions& options, const workflow::Differences& differences) {
  RT_FRAME("Cli:Report");
  const workflow::ExportView view = options.changes ? workflow::ExportView::Changes : workflow::ExportView::Rows;
  if (options.output) {
    if (!workflow::exportDifferences(*options.output, differences, options.format, view)) return kExitTrouble;
    if (::isatty(STDERR_FILENO) == 1)
      std::cerr << "zorbane-compare-cli: differences written to " << options.output->string() << "\n";
  } else {
    workflow::writeDifferences(std::cout, differences, options.format, view);  // main.cpp writes it out
  }
  switch (options.failOn) {
    // With rules in force, what they hid does not count.
    case FailOn::Any: return differences.changes.rules.empty() ? !differences.rows.empty() : differences.changes.counts.total > 0;
    case FailOn::Breaking: return differences.changes.counts.count(workflow::Severity::Breaking) > 0 ? 1 : 0;
    case FailOn::None: break;
  }
  return 0;
}

}  // namespace

int compare(const CompareOptions& options) {
  RT_FRAME("Cli:Compare");
  if (!outputAllowed(options)) return kExitTrouble;
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
      failSameVersion(base, "COMPARE");
    case workflow::CompareOutcome::NoRows:
      failWithoutRows(result.versionWithoutRows, "COMPARE");
    case workflow::CompareOutcome::Stopped:
      fail(rt::EG_WRITE,
           "the compare stopped after a write error; " +
               std::to_string(result.counts.baseRows + result.counts.referenceRows) + " rows were compared",
           "COMPARE", model::kTableName);
    case workflow::CompareOutcome::Done:
      break;
  }
  const auto rules = ignoreRules(options.ignoreRules);
  const workflow::Differences differences = workflow::readDifferences(*table, base, reference, inForce(rules));
  table->close();
  RT_LINE();
  return report(options, differences);
}

int diff(const CompareOptions& options) {
  RT_FRAME("Cli:Diff");
  const std::string base = workflow::fullWidthVersion(options.base);
  const std::string reference = workflow::fullWidthVersion(options.reference);
  if (base == reference) failSameVersion(base, "DIFF");
  if (!outputAllowed(options)) return kExitTrouble;
  auto table = openShared("DIFF", true);
  RT_LINE();
  const workflow::PairVerdicts verdicts = workflow::computePairVerdicts(*table, base, reference);
  table->close();
  if (verdicts.baseRows == 0) failWithoutRows(base, "DIFF");
  if (verdicts.size() == verdicts.baseRows) failWithoutRows(reference, "DIFF");
  const auto rules = ignoreRules(options.ignoreRules);
  return report(options, workflow::differencesOf(verdicts, inForce(rules)));
}

int history(const HistoryCommand& command) {
  RT_FRAME("Cli:History");
  const auto rules = ignoreRules(command.ignoreRules);
  auto table = openShared("HISTORY", true);
  RT_LINE();
  workflow::HistoryOptions options;
  options.family = command.family;
  options.order = command.storedOrder ? workflow::VersionOrder::Stored : workflow::VersionOrder::Natural;
  options.rules = inForce(rules);
  const workflow::ClassHistory history = workflow::classHistory(*table, command.className, options);
  table->close();
  if (history.versions.empty())
    fail(rt::EG_ARG, command.family ? "no version was read from family \"" + *command.family + "\"" : "the table holds no version",
         "HISTORY");
  if (!history.found())
    fail(rt::EG_ARG, "class \"" + command.className + "\" is in none of the " + std::to_string(history.versions.size()) +
                         " versions", "HISTORY");
  if (command.json)
    workflow::writeHistoryJson(std::cout, history);
  else
    workflow::writeHistoryText(std::cout, history);
  std::cout.flush();
  if (!std::cout) fail(rt::EG_WRITE, "the history could not be written to standard output", "HISTORY");
  return 0;
}

int zap() {
  RT_FRAME("Cli:Zap");
  refuseWhenReadOnly("ZAP");
  std::shared_ptr<model::Mpdms> table;
  const workflow::ZapOutcome outcome = workflow::runZap(table);
  table->close();
  if (outcome == workflow::ZapOutcome::HeldElsewhere)
    fail(rt::EG_SHARED, "Unable to open server exclusively, server has not been zapped!", "ZAP", model::kTableName);
  // Not opened: the open has said why (a file this user may not write, a missing table).
  if (outcome == workflow::ZapOutcome::NotOpened)
    failUnlessReported(rt::EG_OPEN, "the model table could not be opened to empty it; nothing was removed", "ZAP",
                       model::kTableName);
  std::cout << "Server was zapped!\n";
  return 0;
}

int reindex() {
  RT_FRAME("Cli:Reindex");
  refuseWhenReadOnly("REINDEX");
  auto table = openShared("REINDEX");
  const workflow::IndexBuildResult result = workflow::runReindex(*table);
  table->close();
  std::cout << "Index rebuilt: " << result.ordersCreated << " orders.\n";
  return 0;
}

}  // namespace cli
