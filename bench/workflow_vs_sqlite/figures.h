// What one scenario of the bench measures, passed from the child process that ran it to the
// parent as plain bytes through a pipe; and the memory readings taken along the way.
#pragma once
#include <cstdint>

namespace bench {

// Resident memory of this process from /proc/self/status, in KiB.
struct Memory {
  long peak = 0;  // VmHWM: the highest resident size so far
  long anon = 0;  // RssAnon: heap and other private memory now
  long file = 0;  // RssFile: mapped files (the table, libraries) now
};
Memory memoryNow();

// How the compared rows came out: the same rows must get the same verdicts on every path.
struct Verdicts {
  long rows = 0;
  long allOk = 0;
  long noMatch = 0;
  long typeProblem = 0;
  long levelProblem = 0;
  long parentOk = 0;
  long classFound = 0;
  bool operator==(const Verdicts&) const = default;
};

enum class Step { LoadFirst, LoadSecond, Compare, Count };

struct Figures {
  bool ok = false;
  long rowsPerVersion = 0;
  double seconds[static_cast<int>(Step::Count)] = {};
  Memory after[static_cast<int>(Step::Count)] = {};  // readings right after each step
  double compareOnly = 0;  // of the compare step: the pass over the rows without the index rebuild
  double open = 0;         // a restart after the compare: the table opened again with its indexes
  Memory afterOpen;        // resident right after that open
  double reindex = 0;      // both indexes built from scratch over the compared rows
  // A restart in a process of its own, over the table another scenario left: the table opened
  // with its index alone (`open`, resident `afterOpen`), then the window's start (`start`).
  double start = 0;
  long tableBytes = 0;
  long indexBytes = 0, indexOnDisk = 0, indexLive = 0;  // length, blocks held, the current image
  long peakKiB = 0;        // the whole scenario's peak resident size (from the parent's wait)
  Verdicts verdicts;

  double& at(Step s) { return seconds[static_cast<int>(s)]; }
  double at(Step s) const { return seconds[static_cast<int>(s)]; }
  double load() const { return at(Step::LoadFirst) + at(Step::LoadSecond); }
  void note(Step s, double elapsed) {
    at(s) = elapsed;
    after[static_cast<int>(s)] = memoryNow();
  }
};

}  // namespace bench
