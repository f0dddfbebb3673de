// The workflow against SQLite: a generated family (default 10,000 classes with 30 own members
// each) is loaded through the control stand-in into Mpdms.dbf, a changed copy is loaded as a
// second version, and the two are compared; the same comparison runs over an SQLite table with
// equivalent indexes in the same process. Two sizes are run so that growth can be read off.
//
// Usage: workflow_vs_sqlite [classes] [members]
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "zorbanectl/zorbanectl.h"

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

long peakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
  std::exit(1);
}

void exec(sqlite3* db, const std::string& sql) { check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, sql.c_str()); }

struct Stmt {
  Stmt(sqlite3* db, const char* sql) : db(db) { check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db, sql); }
  ~Stmt() { sqlite3_finalize(s); }
  Stmt& bind(int i, const std::string& v) {
    sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& bind(int i, long long v) {
    sqlite3_bind_int64(s, i, v);
    return *this;
  }
  bool step() {
    int rc = sqlite3_step(s);
    check(rc, db, sqlite3_sql(s));
    return rc == SQLITE_ROW;
  }
  void reset() {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
  std::string text(int c) const {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, c))) : std::string();
  }
  long long integer(int c) const { return sqlite3_column_int64(s, c); }
  sqlite3* db;
  sqlite3_stmt* s = nullptr;
};

std::string className(int c) {
  char name[32];
  std::snprintf(name, sizeof name, "Class%05d", c);
  return name;
}

// Family 1 is the original, family 2 the changed copy: some types changed, members moved between
// levels, members removed and added, parents changed and a few leaf classes removed.
void generateStore(const fs::path& file, int classes, int members) {
  sqlite3* db = nullptr;
  check(sqlite3_open(file.c_str(), &db), db, "open store");
  std::ifstream in(fs::path(ZMC_DEMO_DIR) / "zorbane-schema.sql");
  std::stringstream schema;
  schema << in.rdbuf();
  exec(db, schema.str());
  exec(db, "BEGIN; INSERT INTO zfamily VALUES (1, 'Generated', 1), (2, 'Generated Two', 2);");
  Stmt cls(db, "INSERT INTO zclass (class_id, family_id, name, position) VALUES (?, ?, ?, ?)");
  Stmt sup(db, "INSERT INTO zsuperclass (class_id, super_id, position) VALUES (?, ?, 1)");
  Stmt prop(db, "INSERT INTO zproperty (class_id, name, position, level, type_code) VALUES (?, ?, ?, ?, ?)");
  Stmt meth(db, "INSERT INTO zmethod (class_id, name, position, level, type_code) VALUES (?, ?, ?, ?, ?)");
  for (int family = 1; family <= 2; ++family) {
    const bool changed = family == 2;
    const long long base = family * 1000000LL;
    for (int c = 0; c < classes; ++c) {
      if (changed && c >= 100 && c % 1000 == 500) continue;  // a removed leaf class
      cls.bind(1, base + c).bind(2, family).bind(3, className(c)).bind(4, c + 1);
      cls.step();
      cls.reset();
      if (c > 0) {
        int parent = (c - 1) % 100;
        if (changed && c % 100 == 7 && c > 100) parent = (parent + 1) % 100;
        sup.bind(1, base + c).bind(2, base + parent);
        sup.step();
        sup.reset();
      }
      for (int m = 0; m < members; ++m) {
        if (changed && c % 50 == 3 && m == 1) continue;  // removed member
        const bool method = m % 2 == 0;
        std::string level = (m % 4) < 2 ? "C" : "I";
        if (changed && c % 40 == 5 && m == 2) level = level == "C" ? "I" : "C";
        int type = m % 11;
        if (changed && c % 10 == 1 && m == 0) type = (type + 1) % 11;
        Stmt& s = method ? meth : prop;
        s.bind(1, base + c).bind(2, (method ? "Method" : "Property") + std::to_string(m)).bind(3, m + 1)
            .bind(4, level).bind(5, type);
        s.step();
        s.reset();
      }
      if (changed && c % 25 == 9) {  // an added member
        prop.bind(1, base + c).bind(2, std::string("Added")).bind(3, members + 1).bind(4, std::string("I")).bind(5, 5);
        prop.step();
        prop.reset();
      }
    }
  }
  exec(db, "COMMIT;");
  sqlite3_close(db);
}

class QuietLoad : public mainwin::LoadObserver {
 public:
  explicit QuietLoad(std::string version) : version_(std::move(version)) {}
  rt::Value version() override { return rt::Value(version_); }

 private:
  std::string version_;
};

class QuietCompare : public mainwin::CompareObserver {};

// The same calls as the load, with nothing written: the control's share of the load.
long walkOnly(const rt::ObjectPtr& control, const std::string& family) {
  auto call = [](const rt::Value& on, const char* m, std::vector<rt::Value> args = {}) {
    return on.asObject()->send(rt::Symbol(m), args);
  };
  auto get = [](const rt::Value& on, const char* m) { return on.asObject()->get(rt::Symbol(m)); };
  long rows = 0;
  rt::Value classes = call(call(rt::Value(control), "ClassFamily", {rt::Value(family)}), "Classes");
  for (long i = 1; i <= get(classes, "Count").asLong(); ++i) {
    rt::Value c = call(classes, "Item", {rt::Value(i)});
    rt::Value supers = get(c, "SuperClasses");
    (void)get(c, "Name");
    if (get(supers, "Count").asLong() > 0) (void)get(call(supers, "Item", {rt::Value(1)}), "Name");
    ++rows;
    const std::pair<const char*, int> passes[] = {{"Methods", 1}, {"Methods", 4}, {"Properties", 1}, {"Properties", 2}};
    for (auto [what, filter] : passes) {
      rt::Value ms = call(c, what, {rt::Value(false), rt::Value(filter)});
      for (long j = 1; j <= get(ms, "Count").asLong(); ++j) {
        rt::Value m = call(ms, "Item", {rt::Value(j)});
        (void)get(m, "Name");
        (void)get(m, what[0] == 'M' ? "MethodType" : "PropertyType");
        ++rows;
      }
    }
  }
  return rows;
}

// ---------------------------------------------------------------- the comparison over SQLite

const char* kFlagSql =
    "UPDATE mpdms SET no_match=?, all_ok=?, typeproblm=?, levelprob=?, compared=1, parentok=?, classfound=? WHERE rowid=?";

struct SqlComparer {
  explicit SqlComparer(sqlite3* db)
      : db(db),
        rows(db, "SELECT rowid FROM mpdms WHERE modelvers=? ORDER BY modelvers, classname, parentname, prop_metho, attribute, ins_class, rowid"),
        row(db, "SELECT parentname, classname, attribute, prop_metho, type, ins_class, compared FROM mpdms WHERE rowid=?"),
        classSeek(db, "SELECT 1 FROM mpdms WHERE modelvers=? AND classname=? LIMIT 1"),
        parentSeek(db, "SELECT 1 FROM mpdms WHERE modelvers=? AND classname=? AND parentname=? LIMIT 1"),
        member1(db, "SELECT rowid, parentname, ins_class, type FROM mpdms WHERE modelvers=? AND classname=? AND parentname=? AND prop_metho=? AND attribute=? AND (?=0 OR ins_class=?) ORDER BY modelvers, classname, parentname, prop_metho, attribute, ins_class, rowid LIMIT 1"),
        member2(db, "SELECT rowid, parentname, ins_class, type FROM mpdms WHERE modelvers=? AND classname=? AND prop_metho=? AND attribute=? AND (?=0 OR ins_class=?) ORDER BY modelvers, classname, prop_metho, attribute, ins_class, rowid LIMIT 1"),
        flags(db, kFlagSql),
        missing(db, "UPDATE mpdms SET all_ok=0, no_match=1, compared=1, parentok=?, classfound=? WHERE rowid=?") {}

  std::vector<long long> rowsOf(const std::string& version) {
    std::vector<long long> ids;
    rows.bind(1, version);
    while (rows.step()) ids.push_back(rows.integer(0));
    rows.reset();
    return ids;
  }

  void visit(long long id, const std::string& other) {
    row.bind(1, id);
    row.step();
    const std::string parent = row.text(0), cls = row.text(1), attr = row.text(2), kind = row.text(3),
                      type = row.text(4), level = row.text(5);
    row.reset();
    classSeek.bind(1, other).bind(2, cls);
    const bool classFound = classSeek.step();
    classSeek.reset();
    if (!classFound) {
      missing.bind(1, 0LL).bind(2, 0LL).bind(3, id);
      missing.step();
      missing.reset();
      return;
    }
    parentSeek.bind(1, other).bind(2, cls).bind(3, parent);
    bool parentOk = parentSeek.step();
    parentSeek.reset();
    const bool byParent = parentOk;
    long long found = 0;
    std::string fParent, fLevel, fType;
    for (int withLevel : {1, 0}) {
      Stmt& q = byParent ? member1 : member2;
      int i = 3;
      q.bind(1, other).bind(2, cls);
      if (byParent) q.bind(i++, parent);
      q.bind(i, kind).bind(i + 1, attr).bind(i + 2, static_cast<long long>(withLevel)).bind(i + 3, level);
      if (q.step()) {
        found = q.integer(0);
        fParent = q.text(1), fLevel = q.text(2), fType = q.text(3);
      }
      q.reset();
      if (found) break;
    }
    if (!found) {
      missing.bind(1, static_cast<long long>(parentOk)).bind(2, 1LL).bind(3, id);
      missing.step();
      missing.reset();
      return;
    }
    parentOk = fParent == parent;
    const bool levelProblem = fLevel != level, typeProblem = fType != type;
    const bool allOk = !levelProblem && !typeProblem && parentOk;
    for (long long target : {found, id}) {
      flags.bind(1, 0LL).bind(2, static_cast<long long>(allOk)).bind(3, static_cast<long long>(typeProblem))
          .bind(4, static_cast<long long>(levelProblem)).bind(5, static_cast<long long>(parentOk)).bind(6, 1LL).bind(7, target);
      flags.step();
      flags.reset();
    }
  }

  void compare(const std::string& base, const std::string& ref) {
    for (long long id : rowsOf(base)) visit(id, ref);
    for (long long id : rowsOf(ref)) {
      row.bind(1, id);
      row.step();
      const bool compared = row.integer(6) != 0;
      row.reset();
      if (!compared) visit(id, base);
    }
  }

  sqlite3* db;
  Stmt rows, row, classSeek, parentSeek, member1, member2, flags, missing;
};

// Copies the table's rows into SQLite with the two orders as indexes.
void copyToSqlite(model::Mpdms& table, sqlite3* db) {
  exec(db, "CREATE TABLE mpdms (modelvers TEXT, attribute TEXT, classname TEXT, type TEXT, ins_class TEXT, "
           "parentname TEXT, prop_metho TEXT, familyname TEXT, no_match INT DEFAULT 0, all_ok INT DEFAULT 0, "
           "typeproblm INT DEFAULT 0, levelprob INT DEFAULT 0, compared INT DEFAULT 0, parentok INT DEFAULT 0, "
           "classfound INT DEFAULT 0)");
  exec(db, "BEGIN");
  Stmt ins(db, "INSERT INTO mpdms (modelvers, attribute, classname, type, ins_class, parentname, prop_metho, familyname) "
               "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  using model::Field;
  for (std::uint32_t r = 1; r <= table.lastRec(); ++r) {
    table.goTo(r);
    int i = 1;
    for (Field f : {Field::MODELVERS, Field::ATTRIBUTE, Field::CLASSNAME, Field::TYPE, Field::INS_CLASS,
                    Field::PARENTNAME, Field::PROP_METHO, Field::FAMILYNAME})
      ins.bind(i++, std::string(table.str(f)));
    ins.step();
    ins.reset();
  }
  exec(db, "COMMIT");
  exec(db, "CREATE INDEX mpdms1 ON mpdms (modelvers, classname, parentname, prop_metho, attribute, ins_class)");
  exec(db, "CREATE INDEX mpdms2 ON mpdms (modelvers, classname, prop_metho, attribute, ins_class)");
}

struct Figures {
  long rows = 0;
  double load = 0, walk = 0, compare = 0, rebuild = 0, sqlite = 0;
};

Figures run(int classes, int members) {
  Figures f;
  const fs::path dir = fs::temp_directory_path() / ("zmc-workflow-bench-" + std::to_string(::getpid()) + "-" + std::to_string(classes));
  fs::create_directories(dir);
  const fs::path previous = fs::current_path();
  fs::current_path(dir);
  generateStore(dir / "store.db", classes, members);
  std::ofstream(dir / "OLE29.ctlstate") << "[ZorbaneWin.Zorbane]\nClass = Zorbane.Control\nDatabase = store.db\n";
  (void)rdd::createTable((dir / model::kTableName).string(), model::tableLayout());

  ole::setStorageDirectories({dir.string()});
  auto control = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
  control->put(rt::Symbol("UseConnectionManager"), rt::Value(false));
  control->put(rt::Symbol("ShowLogon"), rt::Value(false));
  control->put(rt::Symbol("Environment"), rt::Value(""));
  (void)control->send(rt::Symbol("Connect"), {});
  // Read each family once so that the control's first-use caching is not charged to either side.
  (void)walkOnly(control, "Generated");
  (void)walkOnly(control, "Generated Two");

  {
    model::Mpdms table;
    (void)mainwin::buildIndexes(table, false);  // as after start-up: both orders open during the load

    auto t = std::chrono::steady_clock::now();
    const long walked = walkOnly(control, "Generated");
    f.walk = seconds(t);

    t = std::chrono::steady_clock::now();
    QuietLoad v1("1.0"), v2("2.0");
    f.rows = mainwin::loadFamily(control, table, "Generated", v1).rows;
    f.load = seconds(t);
    (void)mainwin::loadFamily(control, table, "Generated Two", v2);
    if (walked != f.rows) std::fprintf(stderr, "walk saw %ld rows, load wrote %ld\n", walked, f.rows);

    QuietCompare quiet;
    table.setOrder(1);
    t = std::chrono::steady_clock::now();
    (void)mainwin::compareVersions(table, mainwin::fullWidthVersion("1.0"), mainwin::fullWidthVersion("2.0"), quiet);
    f.compare = seconds(t);
    t = std::chrono::steady_clock::now();
    (void)mainwin::buildIndexes(table, true);
    f.rebuild = seconds(t);

    sqlite3* db = nullptr;
    check(sqlite3_open((dir / "peer.db").c_str(), &db), db, "open peer");
    exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
    copyToSqlite(table, db);
    {
      SqlComparer peer(db);
      exec(db, "BEGIN");
      t = std::chrono::steady_clock::now();
      peer.compare(mainwin::fullWidthVersion("1.0"), mainwin::fullWidthVersion("2.0"));
      f.sqlite = seconds(t);
      exec(db, "COMMIT");
    }
    sqlite3_close(db);
    table.close();
  }
  control.reset();
  fs::current_path(previous);
  fs::remove_all(dir);
  return f;
}

}  // namespace

namespace {

const char* const kUsage = "Usage: workflow_vs_sqlite [classes=10000 (at least 4)] [members=30]\n";

// A whole-number argument of at least `least`, or nothing when the text is not one.
std::optional<int> numberArgument(const char* text, int least) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || value < least || value > 100000000) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  // A quarter of the classes is run as well, so fewer than 4 would compare nothing.
  const std::optional<int> classesArg = argc > 1 ? numberArgument(argv[1], 4) : 10000;
  const std::optional<int> membersArg = argc > 2 ? numberArgument(argv[2], 0) : 30;
  if (!classesArg || !membersArg || argc > 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const int classes = *classesArg;
  const int members = *membersArg;
  rt::setErrorBlock([](const rt::ErrorPtr& e) {
    std::fprintf(stderr, "error %d: %s (%s)\n", e->genCode, e->description.c_str(), e->fileName.c_str());
    return rt::Value(false);
  });
  zctl::registerControl();

  std::printf("workflow_vs_sqlite: %d classes x %d own members per version\n", classes, members);
  const Figures small = run(classes / 4, members);
  const Figures full = run(classes, members);
  for (const Figures* f : {&small, &full}) {
    std::printf("\n%ld rows per version\n", f->rows);
    std::printf("  load            %8.3f s  %10.0f rows/s\n", f->load, f->rows / f->load);
    std::printf("  control walk    %8.3f s  (%.0f%% of the load; the table's share %.0f%%)\n", f->walk,
                100.0 * f->walk / f->load, 100.0 * (f->load - f->walk) / f->load);
    std::printf("  compare (dbf)   %8.3f s  %10.0f rows/s\n", f->compare, 2.0 * f->rows / f->compare);
    std::printf("  compare (sqlite)%8.3f s  %10.0f rows/s\n", f->sqlite, 2.0 * f->rows / f->sqlite);
    std::printf("  ratio compare dbf/sqlite  %.2f (target <= 0.25)\n", f->compare / f->sqlite);
    std::printf("  ratio load table/control  %.2f (target: the control's reading dominates)\n",
                (f->load - f->walk) / f->walk);
    std::printf("  index rebuild   %8.3f s\n", f->rebuild);
  }
  std::printf("\ngrowth x%.1f rows: load x%.2f, compare x%.2f, sqlite compare x%.2f\n",
              static_cast<double>(full.rows) / small.rows, full.load / small.load, full.compare / small.compare,
              full.sqlite / small.sqlite);
  std::printf("peak memory %ld KiB\n", peakKiB());
  return 0;
}
