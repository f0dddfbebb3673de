// Benchmark: how long the main window takes to open over a schema store of N class families
// (the control's walk of the families and the sorted family list), against the peer "bare
// combo": std::sort of the same names and one QComboBox::addItems, the least any window could
// do. Runs N/20, N/5 and N in one process so the growth can be read off; the time to open must
// grow like n log n, and N = 100,000 should open in under 2 s.
//
// Usage: family_list [families=100000]
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "model/model.h"
#include "ole/ole.h"
#include "resources/resources.h"
#include "runtime/runtime.h"
#include "zorbanectl/zorbanectl.h"

namespace fs = std::filesystem;

namespace {

// Processor time of this process: the machine may be shared, and waiting for a core is not the
// program's cost.
double cpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Family names in no order, so the list has sorting to do.
std::vector<std::string> familyNames(int n) {
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "Family %07d", static_cast<int>((i * 7919LL) % n));
    names.emplace_back(name);
  }
  return names;
}

bool writeStore(const fs::path& file, const std::vector<std::string>& names) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
  std::ifstream in(fs::path(ZMC_DEMO_DIR) / "zorbane-schema.sql");
  std::stringstream sql;
  sql << in.rdbuf() << "BEGIN;";
  for (std::size_t i = 0; i < names.size(); ++i)
    sql << "INSERT INTO zfamily VALUES (" << i + 1 << ", '" << names[i] << "', " << i + 1 << ");";
  sql << "COMMIT;";
  const bool ok = sqlite3_exec(db, sql.str().c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

struct Figures {
  int families = 0;
  double window = 0;  // construction of the main window: connect, walk, fill the lists
  double peer = 0;    // std::sort and addItems of the same names
};

Figures measure(int n) {
  Figures f;
  f.families = n;
  const std::vector<std::string> names = familyNames(n);
  char pattern[] = "/tmp/zmc-family-list-XXXXXX";
  const fs::path dir = ::mkdtemp(pattern);
  const fs::path previous = fs::current_path();
  if (!writeStore(dir / "store.db", names) || !rdd::createTable((dir / model::kTableName).string(), model::tableLayout())) {
    std::fprintf(stderr, "family_list: cannot set up %s\n", dir.c_str());
    std::exit(1);
  }
  std::ofstream(dir / "OLE29.ctlstate") << "[ZorbaneWin.Zorbane]\nClass = Zorbane.Control\nDatabase = store.db\n";
  fs::current_path(dir);
  ole::setStorageDirectories({dir.string()});
  {
    const double start = cpuNow();
    mainwin::ZorbaneWin win(nullptr);
    f.window = cpuNow() - start;
    if (win.oClassFamilyName->ItemCount() != n) std::fprintf(stderr, "family_list: %d families listed\n", win.oClassFamilyName->ItemCount());
  }
  {
    QComboBox box;
    const double start = cpuNow();
    std::vector<QString> sorted;
    sorted.reserve(names.size());
    for (const std::string& name : names) sorted.push_back(QString::fromStdString(name));
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
    box.addItems(QStringList(sorted.begin(), sorted.end()));
    f.peer = cpuNow() - start;
  }
  ole::setStorageDirectories({});
  fs::current_path(previous);
  fs::remove_all(dir);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();  // as the programs do
  if (argc > 2 || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::atoi(argv[1]) < 20))) {
    std::fputs("Usage: family_list [families=100000 (at least 20)]\n", argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
    return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  const int n = argc == 2 ? std::atoi(argv[1]) : 100000;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  rt::setErrorBlock([](const rt::ErrorPtr& e) {
    std::fprintf(stderr, "error %d: %s\n", e->genCode, e->description.c_str());
    return rt::Value(false);
  });
  gui::registerWindowClasses();
  res::InstallResources();
  zctl::registerControl();

  std::printf("family_list: the main window opening over N class families, against the bare combo (processor seconds)\n");
  std::vector<Figures> runs;
  for (int size : {n / 20, n / 5, n}) runs.push_back(measure(size));
  for (const Figures& f : runs)
    std::printf("  %7d families: window %7.3f s, bare combo %7.3f s, ratio %5.1f\n", f.families, f.window, f.peer,
                f.window / f.peer);
  std::printf("growth x%.0f families: window x%.2f, bare combo x%.2f (n log n: x%.1f)\n",
              static_cast<double>(runs[2].families) / runs[1].families, runs[2].window / runs[1].window,
              runs[2].peer / runs[1].peer,
              (runs[2].families * std::log2(runs[2].families)) / (runs[1].families * std::log2(runs[1].families)));
  std::printf("target: %d families open in under 2 s: %s\n", runs[2].families, runs[2].window < 2.0 ? "met" : "missed");
  return 0;
}
