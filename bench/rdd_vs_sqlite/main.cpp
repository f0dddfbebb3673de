// Benchmark: the model table through our driver and through SQLite with two equivalent indexes,
// in one run. Prints each job's time for both and the ratio (ours / SQLite).
// Usage: rdd_vs_sqlite [rows=300000] [seeks=1000000] [scratch dir=/tmp]
#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/model.h"
#include "runtime/runtime.h"

using model::Field;
using Clock = std::chrono::steady_clock;

namespace {

struct Row {
  std::string vers, cls, parent, pm, attr, ic, type;
};

// Synthetic schema: classes with 2..30 members each, two versions that differ a little.
std::vector<Row> makeRows(std::size_t n) {
  std::vector<Row> rows;
  std::mt19937 rng(42);
  for (int v = 0; rows.size() < n; ++v) {
    std::string vers = v % 2 ? "Release-2.1" : "Release-2.0";
    for (int c = 0; rows.size() < n; ++c) {
      std::string cls = "Class" + std::to_string(c * 7919 % 100003);
      std::string parent = c % 5 ? "Class" + std::to_string((c / 5) * 7919 % 100003) : "Object";
      rows.push_back({vers, cls, parent, "", "", "", ""});
      int members = 2 + static_cast<int>(rng() % 29);
      for (int m = 0; m < members && rows.size() < n; ++m)
        rows.push_back({vers, cls, parent, m % 3 ? "P" : "M", "member" + std::to_string(rng() % 500),
                        m % 4 ? "I" : "C", "String"});
      if (c > static_cast<int>(n / 30 / 2) + 1) break;
    }
  }
  return rows;
}

std::string pad(const std::string& s, std::size_t n) {
  std::string r = s;
  r.resize(n, ' ');
  return r;
}

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void report(const char* job, double ours, double theirs) {
  std::printf("%-34s ours %8.3f s   sqlite %8.3f s   ratio %.3f\n", job, ours, theirs, ours / theirs);
}

void exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", err);
    sqlite3_free(err);
  }
}

std::uintmax_t sizeOf(const std::filesystem::path& p) {
  std::error_code ec;
  auto s = std::filesystem::file_size(p, ec);
  return ec ? 0 : s;
}

const char* const kUsage = "Usage: rdd_vs_sqlite [rows=300000] [seeks=1000000] [scratch dir=/tmp]\n";

// A count argument: a whole number of at least 1, or nothing when the text is not one.
std::optional<std::size_t> countArgument(const char* text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || value == 0 || text[0] == '-') return std::nullopt;
  return static_cast<std::size_t>(value);
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();  // as the programs do
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  const std::optional<std::size_t> rowsArg = argc > 1 ? countArgument(argv[1]) : 300000;
  const std::optional<std::size_t> seeksArg = argc > 2 ? countArgument(argv[2]) : 1000000;
  if (!rowsArg || !seeksArg || argc > 4) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::size_t n = *rowsArg;
  std::size_t seeks = *seeksArg;
  std::filesystem::path dir = std::filesystem::path(argc > 3 ? argv[3] : "/tmp") / "zmc_rdd_bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  rt::setErrorBlock([](const rt::ErrorPtr& e) {
    std::fprintf(stderr, "error: %s\n", e->description.c_str());
    return rt::Value(false);
  });
  std::vector<Row> rows = makeRows(n);
  std::vector<std::string> probes;  // version + class prefixes, as the comparison seeks them
  std::mt19937 rng(7);
  for (std::size_t i = 0; i < 4096; ++i) {
    const Row& r = rows[rng() % rows.size()];
    probes.push_back(pad(r.vers, 15) + pad(r.cls, 50) + (i % 2 ? pad(r.parent, 50) : std::string()));
  }
  std::printf("rows %zu, seeks %zu\n", rows.size(), seeks);

  struct rusage base{};
  getrusage(RUSAGE_SELF, &base);
  // ---------------- our driver ----------------
  std::string dbf = (dir / "Mpdms.dbf").string();
  rdd::createTable(dbf, model::tableLayout());
  model::Mpdms::Args args;
  args.dbfPath = dir.string();
  args.shared = false;
  auto m = std::make_unique<model::Mpdms>(args);
  const auto& il = model::indexList()[0];
  for (const auto& o : il.orders) m->createOrder(o.tag, (dir / il.stem).string(), o.keyExpr, nullptr, false);
  auto t0 = Clock::now();
  for (const Row& r : rows) {
    m->append();
    m->setStr(Field::MODELVERS, r.vers);
    m->setStr(Field::ATTRIBUTE, r.attr);
    m->setStr(Field::CLASSNAME, r.cls);
    m->setStr(Field::TYPE, r.type);
    m->setStr(Field::INS_CLASS, r.ic);
    m->setStr(Field::PARENTNAME, r.parent);
    m->setStr(Field::PROP_METHO, r.pm);
    m->setStr(Field::FAMILYNAME, "Family");
  }
  m->flush();
  double oursAppend = secondsSince(t0);

  m->setOrder(1);
  t0 = Clock::now();
  std::size_t hits = 0;
  for (std::size_t i = 0; i < seeks; ++i) hits += m->seek(probes[i % probes.size()]);
  double oursSeek = secondsSince(t0);

  t0 = Clock::now();
  m->deleteOrder(1);
  m->deleteOrder(1);
  for (const auto& o : il.orders) m->createOrder(o.tag, (dir / il.stem).string(), o.keyExpr, nullptr, false);
  m->flush();  // the index file written
  double oursBuild = secondsSince(t0);
  m->close();
  std::uintmax_t ourIndex = sizeOf(dir / "mpdms1.cdx");
  std::uintmax_t ourFiles = sizeOf(dbf) + ourIndex;
  struct rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  long peakOursKb = ru.ru_maxrss;

  args.shared = false;
  m = std::make_unique<model::Mpdms>(args);
  t0 = Clock::now();
  m->zap();
  m->close();
  double oursZap = secondsSince(t0);
  m.reset();

  // Shared appends, as the program loads: with the header lock taken and released around every
  // append, and held across bursts of appends. Every release of the lock leaves the index file
  // complete on disk, so a release per row rewrites it per row: that variant runs on few rows.
  auto sharedAppend = [&](int burstMs, std::size_t count) {
    std::filesystem::path sub = dir / ("shared" + std::to_string(burstMs));
    std::filesystem::create_directories(sub);
    rdd::createTable((sub / "Mpdms.dbf").string(), model::tableLayout());
    rdd::OpenOptions opt;
    opt.appendBurstMs = burstMs;
    auto t = rdd::Table::open("Mpdms", sub.string(), opt);
    for (const auto& o : il.orders) t->createOrder(o.tag, (sub / il.stem).string(), o.keyExpr, nullptr, false);
    const char* names[] = {"MODELVERS", "ATTRIBUTE", "CLASSNAME", "TYPE", "INS_CLASS", "PARENTNAME", "PROP_METHO", "FAMILYNAME"};
    int idx[8];
    for (int i = 0; i < 8; ++i) idx[i] = t->fieldIndex(names[i]);
    auto start = Clock::now();
    for (std::size_t k = 0; k < count; ++k) {
      const Row& r = rows[k];
      t->append();
      const std::string* vals[] = {&r.vers, &r.attr, &r.cls, &r.type, &r.ic, &r.parent, &r.pm};
      for (int i = 0; i < 7; ++i) t->putStr(idx[i], *vals[i]);
      t->putStr(idx[7], "Family");
    }
    t->flush();
    double took = secondsSince(start);
    t->close();
    std::filesystem::remove_all(sub);
    return took;
  };
  const std::size_t eachRows = std::min<std::size_t>(rows.size(), 2000);
  double sharedEach = sharedAppend(0, eachRows);
  double sharedBurst = sharedAppend(rdd::OpenOptions{}.appendBurstMs, rows.size());

  // ---------------- SQLite ----------------
  sqlite3* db = nullptr;
  std::string dbPath = (dir / "mpdms.sqlite").string();
  sqlite3_open(dbPath.c_str(), &db);
  exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  exec(db,
       "CREATE TABLE mpdms(modelvers TEXT, attribute TEXT, classname TEXT, type TEXT, ins_class TEXT, parentname "
       "TEXT, prop_metho TEXT, familyname TEXT, no_match INT, all_ok INT, typeproblm INT, levelprob INT, compared "
       "INT, parentok INT, classfound INT)");
  const char* idx1 = "CREATE INDEX mpdms1 ON mpdms(modelvers, classname, parentname, prop_metho, attribute, ins_class)";
  const char* idx2 = "CREATE INDEX mpdms2 ON mpdms(modelvers, classname, prop_metho, attribute, ins_class)";
  exec(db, idx1);
  exec(db, idx2);
  sqlite3_stmt* ins = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO mpdms VALUES(?,?,?,?,?,?,?,?,0,0,0,0,0,0,0)", -1, &ins, nullptr);
  t0 = Clock::now();
  exec(db, "BEGIN");
  for (const Row& r : rows) {
    const std::string* vals[] = {&r.vers, &r.attr, &r.cls, &r.type, &r.ic, &r.parent, &r.pm};
    for (int i = 0; i < 7; ++i) sqlite3_bind_text(ins, i + 1, vals[i]->c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 8, "Family", -1, SQLITE_STATIC);
    sqlite3_step(ins);
    sqlite3_reset(ins);
  }
  exec(db, "COMMIT");
  double sqlAppend = secondsSince(t0);
  sqlite3_finalize(ins);

  // Prefix seeks: first row of (version, class[, parent]) in index order.
  sqlite3_stmt* q2 = nullptr;
  sqlite3_stmt* q3 = nullptr;
  sqlite3_prepare_v2(db, "SELECT rowid FROM mpdms INDEXED BY mpdms1 WHERE modelvers=? AND classname=? ORDER BY "
                     "modelvers, classname, parentname, prop_metho, attribute, ins_class LIMIT 1", -1, &q2, nullptr);
  sqlite3_prepare_v2(db, "SELECT rowid FROM mpdms INDEXED BY mpdms1 WHERE modelvers=? AND classname=? AND parentname=? "
                     "ORDER BY modelvers, classname, parentname, prop_metho, attribute, ins_class LIMIT 1", -1, &q3, nullptr);
  std::vector<Row> probeRows;
  for (const auto& p : probes) {
    auto trim = [](std::string s) { s.erase(s.find_last_not_of(' ') + 1); return s; };
    probeRows.push_back({trim(p.substr(0, 15)), trim(p.substr(15, 50)), p.size() > 65 ? trim(p.substr(65)) : "", "", "", "", ""});
  }
  t0 = Clock::now();
  std::size_t sqlHits = 0;
  for (std::size_t i = 0; i < seeks; ++i) {
    const Row& r = probeRows[i % probeRows.size()];
    sqlite3_stmt* q = r.parent.empty() ? q2 : q3;
    sqlite3_bind_text(q, 1, r.vers.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(q, 2, r.cls.c_str(), -1, SQLITE_STATIC);
    if (q == q3) sqlite3_bind_text(q, 3, r.parent.c_str(), -1, SQLITE_STATIC);
    sqlHits += sqlite3_step(q) == SQLITE_ROW;
    sqlite3_reset(q);
  }
  double sqlSeek = secondsSince(t0);
  sqlite3_finalize(q2);
  sqlite3_finalize(q3);

  t0 = Clock::now();
  exec(db, "DROP INDEX mpdms1");
  exec(db, "DROP INDEX mpdms2");
  exec(db, idx1);
  exec(db, idx2);
  double sqlBuild = secondsSince(t0);

  t0 = Clock::now();
  exec(db, "DELETE FROM mpdms");
  exec(db, "VACUUM");
  double sqlZap = secondsSince(t0);
  sqlite3_close(db);

  report("append rows, both orders kept", oursAppend, sqlAppend);
  report("append rows shared, lock per burst", sharedBurst, sqlAppend);
  std::printf("shared appends, lock per row: %.1f us a row over the first %zu rows; in bursts %.1f us a row\n",
              sharedEach * 1e6 / static_cast<double>(eachRows), eachRows,
              sharedBurst * 1e6 / static_cast<double>(rows.size()));
  report("prefix seeks", oursSeek, sqlSeek);
  report("build both orders", oursBuild, sqlBuild);
  report("zap", oursZap, sqlZap);
  std::printf("seek hits: ours %zu, sqlite %zu\n", hits, sqlHits);
  double driverKb = static_cast<double>(peakOursKb - base.ru_maxrss);
  std::printf("table + index files %.1f MB (index %.1f MB); peak memory of our jobs %.1f MB above the %.1f MB of "
              "generated rows (%.2f x files)\n",
              ourFiles / 1e6, ourIndex / 1e6, driverKb / 1024.0, base.ru_maxrss / 1024.0, driverKb * 1024.0 / ourFiles);
  std::filesystem::remove_all(dir);
  return 0;
}
