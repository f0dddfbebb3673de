// The cost of the differences export: a comparison written to a JSON file (compare, index
// rebuild, the differences of the pair, export) against the comparison alone (compare and index
// rebuild), on the same generated table in the same run, the flags reset before each. Beside it,
// the change list's share of the comparison, and the compare that writes nothing (the pair's
// verdicts in memory, its differences and change list) against the command-line compare (the
// comparison and the same differences). Default 10,000 classes with 30 own members per version;
// about one class in ten changed.
//
// Usage: differences_export [classes] [members] [rounds]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "workflow/differences.h"
#include "generated_rows.h"
#include "runtime/runtime.h"
#include "workflow/export.h"
#include "workflow/operations.h"
#include "workflow/workflow.h"

namespace fs = std::filesystem;

namespace {


double seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}



// One version of the family. The second differs in every 10th class by a member's type, every
// 25th by a member removed and another added, every 100th by its parent, and every 500th class
// is replaced by another.
void appendVersion(model::Mpdms& table, const std::string& version, bool changed, int classes, int members) {
  for (int c = 0; c < classes; ++c) {
    std::string name = "Class" + std::to_string(c);
    if (changed && c % 500 == 499) name = "Renamed" + std::to_string(c);
    const std::string parent = c == 0 ? "" : (changed && c % 100 == 99) ? "Class1" : "Class0";
    bench::appendGeneratedRow(table, version, name, parent);
    for (int m = 0; m < members; ++m) {
      std::string member = "Member" + std::to_string(m);
      if (changed && c % 25 == 24 && m == 0) member = "Added" + std::to_string(m);
      const char* type = (changed && c % 10 == 9 && m == 1) ? "Decimal" : (m % 3 == 0 ? "String" : "Integer");
      bench::appendGeneratedRow(table, version, name, parent, m % 2 ? "P" : "M", member, type, m % 5 ? "I" : "C");
    }
  }
}

struct Timing {
  double alone = 0, withExport = 0, read = 0, write = 0;
  double changeList = 1e300, diff = 1e300, compareCommand = 1e300, verdicts = 1e300;
  std::size_t rows = 0;
  std::uintmax_t bytes = 0;
};

void compareAlone(model::Mpdms& table, const std::string& base, const std::string& reference) {
  workflow::CompareObserver quiet;
  if (workflow::runCompare(table, base, reference, false, quiet).outcome != workflow::CompareOutcome::Done) {
    std::fprintf(stderr, "the compare did not finish\n");
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();  // as the programs do
  const int classes = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int members = argc > 2 ? std::atoi(argv[2]) : 30;
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  rt::setErrorBlock([](const rt::ErrorPtr& e) {
    std::fprintf(stderr, "error %d: %s (%s)\n", e->genCode, e->description.c_str(), e->fileName.c_str());
    return rt::Value(false);
  });

  const fs::path dir = fs::temp_directory_path() / ("zmc-differences-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  (void)rdd::createTable((dir / model::kTableName).string(), model::tableLayout());

  std::printf("differences_export: %d classes x %d own members per version, %d rounds\n", classes, members, rounds);
  Timing best;
  best.alone = best.withExport = 1e300;
  {
    model::Mpdms::Args args;
    args.shared = true;
    model::Mpdms table(args);
    (void)workflow::buildIndexes(table, false);
    appendVersion(table, "1.0", false, classes, members);
    appendVersion(table, "2.0", true, classes, members);
    const std::string base = workflow::fullWidthVersion("1.0"), reference = workflow::fullWidthVersion("2.0");
    const fs::path output = dir / "differences.json";

    // Alternate the two so that drift of the machine falls on both; keep the best of each.
    for (int round = 0; round < rounds; ++round) {
      workflow::clearComparisons(table);
      auto t = std::chrono::steady_clock::now();
      compareAlone(table, base, reference);
      best.alone = std::min(best.alone, seconds(t));

      workflow::clearComparisons(table);
      t = std::chrono::steady_clock::now();
      compareAlone(table, base, reference);
      const auto compared = std::chrono::steady_clock::now();
      const workflow::Differences differences = workflow::readDifferences(table, base, reference);
      const auto read = std::chrono::steady_clock::now();
      (void)workflow::exportDifferences(output, differences, workflow::ExportFormat::Json);
      const double total = seconds(t);
      if (total < best.withExport) {
        best.withExport = total;
        best.read = std::chrono::duration<double>(read - compared).count();
        best.write = seconds(read);
      }
      best.rows = differences.rows.size();
      best.compareCommand = std::min(best.compareCommand, total - best.write);

      // The verdicts in memory, then the change list alone over them.
      t = std::chrono::steady_clock::now();
      const workflow::PairVerdicts verdicts = workflow::computePairVerdicts(table, base, reference);
      best.verdicts = std::min(best.verdicts, seconds(t));
      t = std::chrono::steady_clock::now();
      const workflow::ChangeList changes = workflow::changeListOf(verdicts);
      best.changeList = std::min(best.changeList, seconds(t));

      // The compare that writes nothing: everything the diff command works out.
      t = std::chrono::steady_clock::now();
      const workflow::Differences inMemory = workflow::differencesOf(workflow::computePairVerdicts(table, base, reference));
      best.diff = std::min(best.diff, seconds(t));
      if (inMemory.rows.size() != differences.rows.size() || changes.counts.total != inMemory.changes.counts.total)
        std::fprintf(stderr, "the compare that writes nothing found other differences\n");
    }
    best.bytes = fs::file_size(output);
    table.close();
  }
  fs::current_path(previous);
  fs::remove_all(dir);

  const long perVersion = static_cast<long>(classes) * (members + 1);
  std::printf("%ld rows per version, %zu differing rows, JSON %ju bytes\n", perVersion, best.rows, best.bytes);
  std::printf("  compare alone            %8.3f s\n", best.alone);
  std::printf("  compare --format json    %8.3f s  (reading the differences %.3f s, writing the file %.3f s)\n",
              best.withExport, best.read, best.write);
  std::printf("  ratio json/alone  %.3f (target <= 1.2)\n", best.withExport / best.alone);
  std::printf("  change list              %8.3f s  share of compare alone %.3f (target <= 0.10)\n", best.changeList,
              best.changeList / best.alone);
  std::printf("  diff (writes nothing)    %8.3f s  (the verdicts in memory %.3f s)\n", best.diff, best.verdicts);
  std::printf("  compare, then differences%8.3f s  ratio diff/compare %.3f (target <= 1)\n", best.compareCommand,
              best.diff / best.compareCommand);
  return 0;
}
