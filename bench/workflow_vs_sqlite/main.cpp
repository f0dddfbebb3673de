// The user's workflow against SQLite: a generated family is loaded as version 1.0, a changed copy
// as 2.0, and the two are compared: through the real main window offscreen, through the window's
// screen-free units, and over an SQLite table with the same indexes, loaded through the same
// control. Every scenario runs in a process of its own, so each peak resident size is its own;
// every scenario runs at a quarter of the classes too, so that growth can be read off.
// The bench runs in rounds; a round runs every scenario at both sizes (in an order that changes
// from round to round). Times shown are medians over the rounds, and every ratio is the median of
// the ratios taken within each round, so a stretch in which the machine is slower for everyone
// does not decide a ratio. The verdicts of all three must agree, or the bench fails.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "figures.h"
#include "generated_store.h"
#include "mainwin/mainwin.h"
#include "runtime/runtime.h"
#include "scenarios.h"

namespace fs = std::filesystem;
using bench::Figures;
using bench::Step;

namespace {

constexpr const char* kUsage =
    "usage: workflow_vs_sqlite [--rounds N | --only SCENARIO] [classes [members]]\n"
    "  classes       classes per family, at least 4 (default 10000; the growth run takes a quarter of them)\n"
    "  members       own members per class, at least 1 (default 30)\n"
    "  --rounds N    runs of every scenario at each size, at least 1 (default 7); times are medians\n"
    "  --only NAME   runs scenario window, units, sqlite or walk once at the given size, in this\n"
    "                process, and prints its step times (for profilers)\n";

using Scenario = Figures (*)();

struct Named {
  const char* name;
  Scenario run;
};
constexpr Named kScenarios[] = {{"window", bench::runWindow},
                                 {"units", bench::runUnits},
                                 {"sqlite", bench::runSqlite},
                                 {"walk", bench::runWalk},
                                 {"restart", bench::runRestart}};
constexpr std::size_t kUnits = 1, kRestart = 4;

// One round at one size: the figures of each scenario.
struct Run {
  Figures window, units, sqlite, walk, restart;
};

// Empties the working directory's model table and removes what an earlier scenario left.
void resetTable(const fs::path& dir) {
  for (const char* left : {"mpdms1.cdx", "peer.db", "APPERROR.LOG"}) fs::remove(dir / left);
  fs::remove(dir / model::kTableName);
  if (!rdd::createTable((dir / model::kTableName).string(), model::tableLayout())) {
    std::fprintf(stderr, "bench: cannot create %s\n", (dir / model::kTableName).c_str());
    std::exit(1);
  }
}

// What a child started with "--child NAME FD" does: runs scenario NAME in its working directory
// and writes its figures to descriptor FD.
int runAsChild(const Named& scenario, int fd) {
  const Figures f = scenario.run();
  const ssize_t written = ::write(fd, &f, sizeof f);
  return written == static_cast<ssize_t>(sizeof f) ? 0 : 1;
}

// Runs `scenario` in a fresh process of this program in `dir`, as a user starts the program (a
// forked copy would carry the bench's own memory along); the parent takes its figures from a pipe
// and its peak resident size from its end.
// `fresh`: on an empty table; otherwise on what the scenario before it left.
Figures inChild(const fs::path& dir, const Named& scenario, bool fresh = true) {
  if (fresh) resetTable(dir);
  int fds[2];
  if (::pipe(fds) != 0) std::exit(1);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    fs::current_path(dir);
    const std::string fd = std::to_string(fds[1]);
    ::execl("/proc/self/exe", "workflow_vs_sqlite", "--child", scenario.name, fd.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const char* name = scenario.name;
  ::close(fds[1]);
  Figures f;
  const ssize_t got = ::read(fds[0], &f, sizeof f);
  ::close(fds[0]);
  int status = 0;
  rusage usage{};
  (void)::wait4(child, &status, 0, &usage);
  if (got != static_cast<ssize_t>(sizeof f) || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !f.ok) {
    std::fprintf(stderr, "bench: the %s scenario failed\n", name);
    std::exit(1);
  }
  f.peakKiB = usage.ru_maxrss;
  return f;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The median of every step's time over `rounds`, the highest peak and the last memory readings.
Figures medianOf(const std::vector<Run>& rounds, Figures Run::*scenario) {
  Figures f = rounds.back().*scenario;
  const auto over = [&](auto time) {
    std::vector<double> times;
    for (const Run& r : rounds) times.push_back(time(r.*scenario));
    return median(times);
  };
  for (int s = 0; s < static_cast<int>(Step::Count); ++s) f.seconds[s] = over([s](const Figures& r) { return r.seconds[s]; });
  f.compareOnly = over([](const Figures& r) { return r.compareOnly; });
  f.open = over([](const Figures& r) { return r.open; });
  f.start = over([](const Figures& r) { return r.start; });
  f.reindex = over([](const Figures& r) { return r.reindex; });
  for (const Run& r : rounds) f.peakKiB = std::max(f.peakKiB, (r.*scenario).peakKiB);
  return f;
}

Run medianOf(const std::vector<Run>& rounds) {
  return {medianOf(rounds, &Run::window), medianOf(rounds, &Run::units), medianOf(rounds, &Run::sqlite),
          medianOf(rounds, &Run::walk), medianOf(rounds, &Run::restart)};
}

fs::path preparedDirectory(int classes, int members) {
  const fs::path dir = fs::temp_directory_path() /
                       ("zmc-workflow-bench-" + std::to_string(::getpid()) + "-" + std::to_string(classes));
  fs::remove_all(dir);
  fs::create_directories(dir);
  bench::generateStore(dir / "store.db", classes, members);
  std::ofstream(dir / "OLE29.ctlstate") << "[ZorbaneWin.Zorbane]\nClass = Zorbane.Control\nDatabase = store.db\n";
  return dir;
}

void checkVerdicts(const Run& run) {
  if (!(run.window.verdicts == run.units.verdicts) || !(run.units.verdicts == run.sqlite.verdicts)) {
    std::fprintf(stderr, "bench: the verdicts differ between the window, the screen-free units and SQLite\n");
    std::exit(1);
  }
}

// The order of the scenarios (indexes into kScenarios) in successive rounds: each takes every
// place in turn, and the window and the screen-free units always run one right after the other,
// since the window's overhead is read off the pair.
constexpr std::size_t kRoundOrders[][4] = {{0, 1, 2, 3}, {1, 0, 3, 2}, {2, 3, 0, 1}, {3, 2, 1, 0}};

// The rounds at each size, in `sizes` order.
std::vector<std::vector<Run>> runRounds(const std::vector<int>& sizes, int members, int rounds) {
  std::vector<fs::path> dirs;
  for (int classes : sizes) dirs.push_back(preparedDirectory(classes, members));
  std::vector<std::vector<Run>> done(sizes.size());
  for (int round = 0; round < rounds; ++round)
    for (std::size_t size = 0; size < sizes.size(); ++size) {
      Run run;
      Figures* into[] = {&run.window, &run.units, &run.sqlite, &run.walk};
      for (std::size_t s : kRoundOrders[static_cast<std::size_t>(round) % std::size(kRoundOrders)]) {
        *into[s] = inChild(dirs[size], kScenarios[s]);
        if (s == kUnits) run.restart = inChild(dirs[size], kScenarios[kRestart], false);
      }
      checkVerdicts(run);
      done[size].push_back(run);
    }
  for (const fs::path& dir : dirs) fs::remove_all(dir);
  return done;
}

// One scenario, once, in this process: what a profiler attached to the bench should see.
int runOnly(const Named& scenario, int classes, int members) {
  const fs::path dir = preparedDirectory(classes, members);
  resetTable(dir);
  fs::current_path(dir);
  const Figures f = scenario.run();
  std::printf("%s: %ld rows per version; load 1.0 %.3f s, load 2.0 %.3f s, compare %.3f s\n", scenario.name,
              f.rowsPerVersion, f.at(Step::LoadFirst), f.at(Step::LoadSecond), f.at(Step::Compare));
  fs::current_path(dir.parent_path());
  fs::remove_all(dir);
  return 0;
}

double mib(long kib) { return kib / 1024.0; }

void printRun(const Run& r) {
  std::printf("\n%ld rows per version, medians  window  screen-free      sqlite  control walk\n", r.units.rowsPerVersion);
  const std::pair<Step, const char*> steps[] = {
      {Step::LoadFirst, "load 1.0"}, {Step::LoadSecond, "load 2.0"}, {Step::Compare, "compare"}};
  for (auto [step, label] : steps) {
    std::printf("  %-18s %9.3f s %9.3f s %9.3f s", label, r.window.at(step), r.units.at(step), r.sqlite.at(step));
    if (step == Step::Compare)
      std::printf("             -\n");
    else
      std::printf(" %9.3f s\n", r.walk.at(step));
  }
  std::printf("  %-18s         - %9.3f s %9.3f s\n", "  the rows' pass", r.units.compareOnly, r.sqlite.compareOnly);
  std::printf("  %-18s         - %9.3f s         -\n", "  index rebuild", r.units.at(Step::Compare) - r.units.compareOnly);
  std::printf("  %-18s         - %9.3f s %9.3f s\n", "open at a restart", r.restart.open, r.sqlite.open);
  std::printf("  %-18s         - %7.0f MB %7.0f MB\n", "  resident after it",
              mib(r.restart.afterOpen.anon + r.restart.afterOpen.file),
              mib(r.sqlite.afterOpen.anon + r.sqlite.afterOpen.file));
  std::printf("  %-18s %9.3f s         -         -\n", "  the window's start", r.restart.start);
  std::printf("  %-18s %7.0f MB         -         -\n", "  restart's peak", mib(r.restart.peakKiB));
  std::printf("  files after the compare: table %.0f MB; index %.0f MB long, %.0f MB on disk, %.0f MB in its current "
              "image\n",
              r.units.tableBytes / 1048576.0, r.units.indexBytes / 1048576.0, r.units.indexOnDisk / 1048576.0,
              r.units.indexLive / 1048576.0);
  std::printf("  %-18s         - %9.3f s %9.3f s\n", "reindex", r.units.reindex, r.sqlite.reindex);
  std::printf("  %-18s %7.0f MB %7.0f MB %7.0f MB %7.0f MB\n", "peak RSS", mib(r.window.peakKiB), mib(r.units.peakKiB),
              mib(r.sqlite.peakKiB), mib(r.walk.peakKiB));
  for (auto [f, name] : {std::pair{&r.window, "window"}, std::pair{&r.units, "screen-free"}}) {
    std::printf("  %-12s resident after each step, heap + mapped files (peak so far):", name);
    for (auto [step, label] : steps) {
      const bench::Memory& m = f->after[static_cast<int>(step)];
      std::printf("  %s %.0f + %.0f MB (%.0f)", label, mib(m.anon), mib(m.file), mib(m.peak));
    }
    std::printf("\n");
  }
  std::fflush(stdout);
}

// A ratio taken within each round (`full` and `small` pair up): its median over the rounds, and
// the lowest and highest, which show how much the machine wavered.
struct Spread {
  double median, low, high;
};
using RoundRatio = std::function<double(const Run& full, const Run& small)>;
Spread spreadOf(const std::vector<Run>& full, const std::vector<Run>& small, const RoundRatio& ratio) {
  std::vector<double> values;
  for (std::size_t r = 0; r < full.size(); ++r) values.push_back(ratio(full[r], small[r]));
  return {median(values), *std::min_element(values.begin(), values.end()),
          *std::max_element(values.begin(), values.end())};
}

void printRatios(const std::vector<Run>& full, const std::vector<Run>& small) {
  const auto overhead = [](double window, double units) { return 100.0 * (window - units) / units; };
  struct Line {
    const char* label;
    const char* target;
    bool percent;
    RoundRatio ratio;
  };
  const Line lines[] = {
      {"compare, window / sqlite", "<= 0.12; worst <= 0.15", false,
       [](const Run& r, const Run&) { return r.window.at(Step::Compare) / r.sqlite.at(Step::Compare); }},
      {"load of both, window / sqlite", "<= 0.40; worst <= 0.5", false,
       [](const Run& r, const Run&) { return r.window.load() / r.sqlite.load(); }},
      {"window overhead on the load", "<= 10%", true,
       [&](const Run& r, const Run&) { return overhead(r.window.load(), r.units.load()); }},
      {"window overhead on the compare", "<= 10%", true,
       [&](const Run& r, const Run&) { return overhead(r.window.at(Step::Compare), r.units.at(Step::Compare)); }},
      {"open at a restart, seconds", "<= 0.15", false, [](const Run& r, const Run&) { return r.restart.open; }},
      {"resident after the open, MB", "<= 60", false,
       [](const Run& r, const Run&) { return (r.restart.afterOpen.anon + r.restart.afterOpen.file) / 1024.0; }},
      {"window's start, seconds", "", false, [](const Run& r, const Run&) { return r.restart.start; }},
      {"restart's peak / table file", "<= 2", false,
       [](const Run& r, const Run&) { return r.restart.peakKiB * 1024.0 / r.units.tableBytes; }},
      {"window's peak / table file", "<= 2", false,
       [](const Run& r, const Run&) { return r.window.peakKiB * 1024.0 / r.units.tableBytes; }},
      {"index on disk / current image", "<= 1.2", false,
       [](const Run& r, const Run&) { return static_cast<double>(r.units.indexOnDisk) / r.units.indexLive; }},
      {"index length / current image", "", false,
       [](const Run& r, const Run&) { return static_cast<double>(r.units.indexBytes) / r.units.indexLive; }},
      {"reindex, units / sqlite", "<= 0.2", false,
       [](const Run& r, const Run&) { return r.units.reindex / r.sqlite.reindex; }},
      {"load's share spent in the control", "", true,
       [](const Run& r, const Run&) { return 100.0 * r.walk.load() / r.units.load(); }},
  };
  const Run fullMedian = medianOf(full), smallMedian = medianOf(small);
  std::printf("\nratios at %ld rows per version: median of the rounds' own ratios (lowest ... highest) (target)\n",
              fullMedian.units.rowsPerVersion);
  for (const Line& l : lines) {
    const Spread v = spreadOf(full, small, l.ratio);
    const char* unit = l.percent ? "%" : "";
    std::printf("  %-34s %6.2f%s  (%.2f%s ... %.2f%s)  %s\n", l.label, v.median, unit, v.low, unit, v.high, unit,
                *l.target ? (std::string("(") + l.target + ")").c_str() : "");
  }

  const double rows =
      static_cast<double>(fullMedian.units.rowsPerVersion) / static_cast<double>(smallMedian.units.rowsPerVersion);
  std::printf("\ngrowth for x%.2f rows, median of the rounds (lowest ... highest) (target: time <= x4.4 for x4 rows)\n",
              rows);
  for (auto [scenario, name] : {std::pair{&Run::window, "window"}, std::pair{&Run::units, "screen-free"},
                                std::pair{&Run::sqlite, "sqlite"}}) {
    const Spread load = spreadOf(full, small, [&](const Run& f, const Run& s) {
      return (f.*scenario).load() / (s.*scenario).load();
    });
    const Spread compare = spreadOf(full, small, [&](const Run& f, const Run& s) {
      return (f.*scenario).at(Step::Compare) / (s.*scenario).at(Step::Compare);
    });
    std::printf("  %-12s load x%.2f (%.2f ... %.2f)  compare x%.2f (%.2f ... %.2f)", name, load.median, load.low,
                load.high, compare.median, compare.low, compare.high);
    if (scenario == &Run::window)
      std::printf("  peak RSS x%.2f", static_cast<double>(fullMedian.window.peakKiB) / smallMedian.window.peakKiB);
    std::printf("\n");
  }
}

bool wholeNumber(const char* text, long least, int* out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < least || value > 1000000) return false;
  *out = static_cast<int>(value);
  return true;
}

struct Options {
  int classes = 10000, members = 30, rounds = 7;
  const Named* only = nullptr;
  const Named* child = nullptr;  // the bench's own children: a scenario in the current directory
  int childFd = -1;
};

const Named* scenarioNamed(const char* name) {
  for (const Named& s : kScenarios)
    if (std::strcmp(name, s.name) == 0) return &s;
  return nullptr;
}

// Answers false for arguments that do not parse.
bool parse(int argc, char** argv, Options* o) {
  std::vector<const char*> sizes;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0) {
      if (++i == argc || !wholeNumber(argv[i], 1, &o->rounds)) return false;
    } else if (std::strcmp(argv[i], "--only") == 0) {
      if (++i == argc || !(o->only = scenarioNamed(argv[i]))) return false;
    } else if (std::strcmp(argv[i], "--child") == 0) {
      if (i + 2 >= argc || !(o->child = scenarioNamed(argv[i + 1])) || !wholeNumber(argv[i + 2], 0, &o->childFd))
        return false;
      i += 2;
    } else {
      sizes.push_back(argv[i]);
    }
  }
  return sizes.size() <= 2 && (sizes.size() < 1 || wholeNumber(sizes[0], 4, &o->classes)) &&
         (sizes.size() < 2 || wholeNumber(sizes[1], 1, &o->members));
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (o.child) return runAsChild(*o.child, o.childFd);
  if (o.only) return runOnly(*o.only, o.classes, o.members);
  std::printf("workflow_vs_sqlite: %d classes x %d own members per version, and %d classes for the growth; %d rounds\n",
              o.classes, o.members, o.classes / 4, o.rounds);
  std::fflush(stdout);
  const std::vector<std::vector<Run>> rounds = runRounds({o.classes / 4, o.classes}, o.members, o.rounds);
  printRun(medianOf(rounds[0]));
  printRun(medianOf(rounds[1]));
  printRatios(rounds[1], rounds[0]);
  return 0;
}
