// The history of one class on a generated table of several versions (default 10,000 classes with
// 30 own members each, 5 versions, every version changing about one class in ten against the one
// before), beside the time of one diff of two of those versions. Wall-clock and processor time,
// the best of the rounds; the history's target is at most 2 s.
//
// Usage: class_history [classes] [members] [versions] [rounds]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "generated_rows.h"
#include "runtime/runtime.h"
#include "workflow/differences.h"
#include "workflow/history.h"
#include "workflow/workflow.h"

namespace fs = std::filesystem;

namespace {


struct Clock {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  double wallSeconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(); }
  double cpuSeconds() const { return static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC; }
};


// Version `v` (0 first): from version 1 on, class c changes a member's type when c % 10 == v,
// gains a member when c % 25 == v, and the watched class 7 changes in every version.
void appendVersion(model::Mpdms& table, int v, int classes, int members) {
  const std::string version = "1." + std::to_string(v);
  for (int c = 0; c < classes; ++c) {
    const std::string name = "Class" + std::to_string(c);
    const std::string parent = c == 0 ? "" : "Class0";
    bench::appendGeneratedRow(table, version, name, parent);
    const bool typeChanged = v > 0 && (c % 10 == v || c == 7);
    for (int m = 0; m < members; ++m) {
      const std::string member = "Member" + std::to_string(m);
      const char* type = typeChanged && m == v ? "Decimal" : (m % 3 == 0 ? "String" : "Integer");
      bench::appendGeneratedRow(table, version, name, parent, m % 2 ? "P" : "M", member, type, m % 5 ? "I" : "C");
    }
    for (int added = 1; added <= v; ++added)
      if (c % 25 == added || c == 7) bench::appendGeneratedRow(table, version, name, parent, "P", "Added" + std::to_string(added), "Integer", "I");
  }
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();  // as the programs do
  const int classes = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int members = argc > 2 ? std::atoi(argv[2]) : 30;
  const int versions = argc > 3 ? std::max(2, std::atoi(argv[3])) : 5;
  const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
  rt::setErrorBlock([](const rt::ErrorPtr& e) {
    std::fprintf(stderr, "error %d: %s (%s)\n", e->genCode, e->description.c_str(), e->fileName.c_str());
    return rt::Value(false);
  });

  const fs::path dir = fs::temp_directory_path() / ("zmc-history-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  (void)rdd::createTable((dir / model::kTableName).string(), model::tableLayout());

  std::printf("class_history: %d classes x %d own members, %d versions, %d rounds\n", classes, members, versions, rounds);
  double historyWall = 1e300, historyCpu = 1e300, diffWall = 1e300, diffCpu = 1e300;
  std::size_t steps = 0, changes = 0;
  {
    model::Mpdms::Args args;
    args.shared = true;
    model::Mpdms table(args);
    (void)workflow::buildIndexes(table, false);
    for (int v = 0; v < versions; ++v) appendVersion(table, v, classes, members);
    const std::string base = workflow::fullWidthVersion("1.0"), reference = workflow::fullWidthVersion("1.1");
    for (int round = 0; round < rounds; ++round) {
      Clock history;
      const workflow::ClassHistory h = workflow::classHistory(table, "Class7");
      historyWall = std::min(historyWall, history.wallSeconds());
      historyCpu = std::min(historyCpu, history.cpuSeconds());
      steps = h.steps.size();
      changes = 0;
      for (const workflow::HistoryStep& s : h.steps) changes += s.changes.size();

      Clock diff;
      (void)workflow::readDifferences(table, base, reference);
      diffWall = std::min(diffWall, diff.wallSeconds());
      diffCpu = std::min(diffCpu, diff.cpuSeconds());
    }
    table.close();
  }
  fs::current_path(previous);
  fs::remove_all(dir);

  std::printf("history of Class7: %zu steps, %zu changes of the class\n", steps, changes);
  std::printf("  history of one class   %8.3f s  (processor %.3f s; target <= 2 s)\n", historyWall, historyCpu);
  std::printf("  one diff (1.0 vs 1.1)  %8.3f s  (processor %.3f s)\n", diffWall, diffCpu);
  return 0;
}
