#include "scenarios.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <QCoreApplication>

#include "control_walk.h"
#include "generated_store.h"
#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "resources/resources.h"
#include "sqlite_peer.h"
#include "workflow/operations.h"
#include "zorbanectl/zorbanectl.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

// Any error raised during a scenario ends it: figures of a broken run would mislead.
void stopOnErrors() {
  rt::setErrorBlock([](const rt::ErrorPtr& e) -> rt::Value {
    fail("error " + std::to_string(e->genCode) + ": " + e->description + " (" + e->fileName + ")");
  });
}

const std::string kFirstVersion = workflow::fullWidthVersion("1.0");
const std::string kSecondVersion = workflow::fullWidthVersion("2.0");

Verdicts verdictsOf(model::Mpdms& table) {
  using model::Field;
  Verdicts v;
  for (std::uint32_t r = 1; r <= table.lastRec(); ++r) {
    table.goTo(r);
    ++v.rows;
    v.allOk += table.flag(Field::ALL_OK);
    v.noMatch += table.flag(Field::NO_MATCH);
    v.typeProblem += table.flag(Field::TYPEPROBLM);
    v.levelProblem += table.flag(Field::LEVELPROB);
    v.parentOk += table.flag(Field::PARENTOK);
    v.classFound += table.flag(Field::CLASSFOUND);
  }
  return v;
}

// ---------------------------------------------------------------- the window

int itemOf(const gui::ListControl* list, const std::string& text) {
  for (int i = 1; i <= list->ItemCount(); ++i)
    if (list->GetItem(i) == text) return i;
  fail("the window lists no \"" + text + "\"");
}

// Clicks `button` and answers the seconds until its "Finished" box.
double clickUntilFinished(gui::PushButton* button, const gui::TestResponder& responder) {
  if (!button->IsEnabled()) fail("button " + button->Name() + " is disabled");
  const std::size_t boxesBefore = responder.records().size();
  const auto start = Clock::now();
  button->click();
  const double elapsed = secondsSince(start);
  if (responder.records().size() != boxesBefore + 1 || responder.records().back().caption != "Finished")
    fail("button " + button->Name() + " did not end with the \"Finished\" box" +
         (responder.records().size() > boxesBefore ? ": " + responder.records().back().text : std::string()));
  return elapsed;
}

}  // namespace

Figures runWindow() {
  stopOnErrors();
  gui::registerWindowClasses();
  if (!res::InstallResources()) fail("the resources did not install");
  zctl::registerControl();
  ole::setStorageDirectories({std::filesystem::current_path().string()});
  gui::TestResponder responder;
  mainwin::ZorbaneWin win(nullptr);
  win.InitialIndexBuild(false);
  win.Show();
  // A user clicks a window that is on the screen already: its first drawing (fonts and all) is
  // done before the first step is timed.
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();

  Figures f;
  const std::pair<Step, std::pair<const char*, const char*>> loads[] = {
      {Step::LoadFirst, {kFirstFamily, "1.0"}}, {Step::LoadSecond, {kSecondFamily, "2.0"}}};
  for (const auto& [step, load] : loads) {
    win.ModelName(rt::Value(std::string(load.second)));
    win.oClassFamilyName->pick(itemOf(win.oClassFamilyName, load.first));
    f.note(step, clickUntilFinished(win.oPbExecute, responder));
  }
  win.oBaseModel->pick(itemOf(win.oBaseModel, kFirstVersion));
  win.oRefModel->pick(itemOf(win.oRefModel, kSecondVersion));
  f.note(Step::Compare, clickUntilFinished(win.oPbCompareModels, responder));

  f.verdicts = verdictsOf(*win.ModelServer);
  f.rowsPerVersion = f.verdicts.rows / 2;
  f.ok = true;
  return f;
}

// ---------------------------------------------------------------- the screen-free units

namespace {

// The sizes of the table file and of its index file: length, disk blocks held, current image.
void noteFileSizes(Figures& f) {
  struct stat st {};
  if (::stat(model::kTableName, &st) == 0) f.tableBytes = st.st_size;
  if (::stat("mpdms1.cdx", &st) == 0) {
    f.indexBytes = st.st_size;
    f.indexOnDisk = st.st_blocks * 512;
  }
  // The current image runs from the directory's root page (header bytes 0-3) to the end of the
  // file, behind the 1,024-byte header.
  std::ifstream index("mpdms1.cdx", std::ios::binary);
  unsigned char root[4] = {};
  if (index.read(reinterpret_cast<char*>(root), 4))
    f.indexLive = f.indexBytes - (root[0] | root[1] << 8 | root[2] << 16 | static_cast<long>(root[3]) << 24) + 1024;
}

class QuietLoad : public workflow::LoadObserver {
 public:
  explicit QuietLoad(const char* version) : version_(version) {}
  rt::Value version() override { return rt::Value(std::string(version_)); }

 private:
  const char* version_;
};

// Notes when the rows' pass ends, before the index rebuild.
class TimedCompare : public workflow::CompareObserver {
 public:
  void rowsCompared() override { compared = Clock::now(); }
  Clock::time_point compared;
};

}  // namespace

// Each step makes the workflow call the window's step makes, less the screen: the load
// refreshes the version list, as the window does after it.
Figures runUnits() {
  stopOnErrors();
  zctl::registerControl();
  const rt::ObjectPtr control = connectControl();
  model::Mpdms::Args args;
  args.shared = true;
  model::Mpdms table(args);
  (void)workflow::buildIndexes(table, false);

  Figures f;
  const std::pair<Step, std::pair<const char*, const char*>> loads[] = {
      {Step::LoadFirst, {kFirstFamily, "1.0"}}, {Step::LoadSecond, {kSecondFamily, "2.0"}}};
  for (const auto& [step, load] : loads) {
    const auto start = Clock::now();
    QuietLoad observer(load.second);
    f.rowsPerVersion = workflow::runLoad(control, table, load.first, observer).counts.rows;
    (void)workflow::storedVersions(table);
    f.note(step, secondsSince(start));
  }
  const auto start = Clock::now();
  TimedCompare observer;
  if (workflow::runCompare(table, kFirstVersion, kSecondVersion, false, observer).outcome !=
      workflow::CompareOutcome::Done)
    fail("the compare of the loaded versions did not finish");
  f.note(Step::Compare, secondsSince(start));
  f.compareOnly = std::chrono::duration<double>(observer.compared - start).count();

  f.verdicts = verdictsOf(table);
  table.close();
  noteFileSizes(f);
  // The indexes built from scratch, as at a first start without the index file.
  std::filesystem::remove("mpdms1.cdx");
  model::Mpdms fresh(args);
  const auto restart = Clock::now();
  (void)workflow::buildIndexes(fresh, false);
  f.reindex = secondsSince(restart);
  f.ok = true;
  return f;
}

Figures runRestart() {
  stopOnErrors();
  Figures f;
  {
    model::Mpdms::Args args;
    args.shared = true;
    const auto start = Clock::now();
    model::Mpdms table(args);
    f.open = secondsSince(start);
    f.afterOpen = memoryNow();
  }
  // The window's start as the program makes it: constructed, its index checked, shown and drawn,
  // its lists of versions filled.
  gui::registerWindowClasses();
  if (!res::InstallResources()) fail("the resources did not install");
  zctl::registerControl();
  ole::setStorageDirectories({std::filesystem::current_path().string()});
  gui::TestResponder responder;
  const auto start = Clock::now();
  mainwin::ZorbaneWin win(nullptr);
  win.InitialIndexBuild(false);
  win.Show();
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  f.start = secondsSince(start);
  f.ok = win.oBaseModel->ItemCount() == 2 && responder.records().empty();
  return f;
}

// ---------------------------------------------------------------- SQLite and the control alone

Figures runSqlite() {
  stopOnErrors();
  zctl::registerControl();
  const rt::ObjectPtr control = connectControl();
  SqlitePeer peer("peer.db");
  Figures f;
  auto start = Clock::now();
  f.rowsPerVersion = peer.load(control, kFirstFamily, kFirstVersion);
  f.note(Step::LoadFirst, secondsSince(start));
  start = Clock::now();
  (void)peer.load(control, kSecondFamily, kSecondVersion);
  f.note(Step::LoadSecond, secondsSince(start));
  start = Clock::now();
  peer.compare(kFirstVersion, kSecondVersion);
  f.compareOnly = secondsSince(start);
  f.note(Step::Compare, f.compareOnly);
  f.verdicts = peer.verdicts();
  start = Clock::now();
  peer.reopen("peer.db");
  f.open = secondsSince(start);
  f.afterOpen = memoryNow();
  peer.dropIndexes();
  start = Clock::now();
  peer.createIndexes();
  f.reindex = secondsSince(start);
  f.ok = true;
  return f;
}

Figures runWalk() {
  stopOnErrors();
  zctl::registerControl();
  const rt::ObjectPtr control = connectControl();
  Figures f;
  for (auto [step, family] : {std::pair{Step::LoadFirst, kFirstFamily}, std::pair{Step::LoadSecond, kSecondFamily}}) {
    const auto start = Clock::now();
    f.rowsPerVersion = walkFamily(control, family, [](const WalkedRow&) {});
    f.note(step, secondsSince(start));
  }
  f.ok = true;
  return f;
}

// ---------------------------------------------------------------- memory

Memory memoryNow() {
  Memory m;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    const auto kib = [&] { return std::atol(line.c_str() + line.find(':') + 1); };
    if (line.starts_with("VmHWM:")) m.peak = kib();
    if (line.starts_with("RssAnon:")) m.anon = kib();
    if (line.starts_with("RssFile:")) m.file = kib();
  }
  return m;
}

}  // namespace bench
