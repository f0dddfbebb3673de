#include "sqlite_peer.h"

#include <vector>

#include "control_walk.h"
#include "sqlite_stmt.h"

namespace bench {

namespace {

constexpr const char* kOrder1 = "modelvers, classname, parentname, prop_metho, attribute, ins_class";
constexpr const char* kOrder2 = "modelvers, classname, prop_metho, attribute, ins_class";

std::string orderBy(const char* order) { return std::string(" ORDER BY ") + order + ", rowid"; }

}  // namespace

// The compare's statements, prepared once: pass 1 visits every base row, pass 2 the reference
// rows that pass 1 did not mark.
struct SqlitePeer::Comparer {
  explicit Comparer(sqlite3* db)
      : rows(db, ("SELECT rowid FROM mpdms WHERE modelvers=?" + orderBy(kOrder1)).c_str()),
        row(db, "SELECT parentname, classname, attribute, prop_metho, type, ins_class, compared FROM mpdms WHERE rowid=?"),
        classSeek(db, "SELECT 1 FROM mpdms WHERE modelvers=? AND classname=? LIMIT 1"),
        parentSeek(db, "SELECT 1 FROM mpdms WHERE modelvers=? AND classname=? AND parentname=? LIMIT 1"),
        byParent(db, ("SELECT rowid, parentname, ins_class, type FROM mpdms WHERE modelvers=? AND classname=? AND "
                      "parentname=? AND prop_metho=? AND attribute=? AND (?=0 OR ins_class=?)" +
                      orderBy(kOrder1) + " LIMIT 1").c_str()),
        anyParent(db, ("SELECT rowid, parentname, ins_class, type FROM mpdms WHERE modelvers=? AND classname=? AND "
                       "prop_metho=? AND attribute=? AND (?=0 OR ins_class=?)" +
                       orderBy(kOrder2) + " LIMIT 1").c_str()),
        flags(db, "UPDATE mpdms SET no_match=0, all_ok=?, typeproblm=?, levelprob=?, compared=1, parentok=?, "
                  "classfound=1 WHERE rowid=?"),
        missing(db, "UPDATE mpdms SET all_ok=0, no_match=1, compared=1, parentok=?, classfound=? WHERE rowid=?") {}

  std::vector<long long> rowsOf(const std::string& version) {
    std::vector<long long> ids;
    rows.bind(1, version);
    while (rows.step()) ids.push_back(rows.integer(0));
    rows.reset();
    return ids;
  }

  bool exists(Stmt& seek) {
    const bool found = seek.step();
    seek.reset();
    return found;
  }

  void visit(long long id, const std::string& other) {
    row.bind(1, id).step();
    const std::string parent = row.text(0), cls = row.text(1), attr = row.text(2), kind = row.text(3),
                      type = row.text(4), level = row.text(5);
    row.reset();
    if (!exists(classSeek.bind(1, other).bind(2, cls))) {
      missing.bind(1, 0LL).bind(2, 0LL).bind(3, id).run();
      return;
    }
    const bool sameParent = exists(parentSeek.bind(1, other).bind(2, cls).bind(3, parent));
    Stmt& member = sameParent ? byParent : anyParent;
    long long found = 0;
    std::string foundParent, foundLevel, foundType;
    for (long long sameLevel : {1LL, 0LL}) {
      int i = 3;
      member.bind(1, other).bind(2, cls);
      if (sameParent) member.bind(i++, parent);
      member.bind(i, kind).bind(i + 1, attr).bind(i + 2, sameLevel).bind(i + 3, level);
      if (member.step()) {
        found = member.integer(0);
        foundParent = member.text(1), foundLevel = member.text(2), foundType = member.text(3);
      }
      member.reset();
      if (found) break;
    }
    if (!found) {
      missing.bind(1, static_cast<long long>(sameParent)).bind(2, 1LL).bind(3, id).run();
      return;
    }
    const bool parentOk = foundParent == parent, levelProblem = foundLevel != level, typeProblem = foundType != type;
    const bool allOk = parentOk && !levelProblem && !typeProblem;
    for (long long target : {found, id})
      flags.bind(1, static_cast<long long>(allOk)).bind(2, static_cast<long long>(typeProblem))
          .bind(3, static_cast<long long>(levelProblem)).bind(4, static_cast<long long>(parentOk)).bind(5, target).run();
  }

  bool compared(long long id) {
    row.bind(1, id).step();
    const bool done = row.integer(6) != 0;
    row.reset();
    return done;
  }

  Stmt rows, row, classSeek, parentSeek, byParent, anyParent, flags, missing;
};

SqlitePeer::SqlitePeer(const std::string& path) {
  check(sqlite3_open(path.c_str(), &db_), db_, "open peer");
  exec(db_, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF");
  exec(db_, "CREATE TABLE mpdms (modelvers TEXT, attribute TEXT, classname TEXT, type TEXT, ins_class TEXT, "
            "parentname TEXT, prop_metho TEXT, familyname TEXT, no_match INT DEFAULT 0, all_ok INT DEFAULT 0, "
            "typeproblm INT DEFAULT 0, levelprob INT DEFAULT 0, compared INT DEFAULT 0, parentok INT DEFAULT 0, "
            "classfound INT DEFAULT 0)");
  createIndexes();
}

void SqlitePeer::createIndexes() {
  exec(db_, std::string("CREATE INDEX mpdms1 ON mpdms (") + kOrder1 + ")");
  exec(db_, std::string("CREATE INDEX mpdms2 ON mpdms (") + kOrder2 + ")");
}

void SqlitePeer::dropIndexes() { exec(db_, "DROP INDEX mpdms1; DROP INDEX mpdms2"); }

void SqlitePeer::reopen(const std::string& path) {
  sqlite3_close(db_);
  db_ = nullptr;
  check(sqlite3_open(path.c_str(), &db_), db_, "open peer");
  exec(db_, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; SELECT count(*) FROM sqlite_master");
}

SqlitePeer::~SqlitePeer() { sqlite3_close(db_); }

long SqlitePeer::load(const rt::ObjectPtr& control, const std::string& family, const std::string& version) {
  Stmt insert(db_, "INSERT INTO mpdms (modelvers, attribute, classname, type, ins_class, parentname, prop_metho, "
                   "familyname) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  exec(db_, "BEGIN");
  const long rows = walkFamily(control, family, [&](const WalkedRow& r) {
    insert.bind(1, version).bind(2, r.attribute).bind(3, r.className).bind(4, r.type).bind(5, std::string(r.level))
        .bind(6, r.parent).bind(7, std::string(r.kind)).bind(8, family).run();
  });
  exec(db_, "COMMIT");
  return rows;
}

void SqlitePeer::compare(const std::string& base, const std::string& reference) {
  Comparer comparer(db_);
  exec(db_, "BEGIN");
  for (long long id : comparer.rowsOf(base)) comparer.visit(id, reference);
  for (long long id : comparer.rowsOf(reference))
    if (!comparer.compared(id)) comparer.visit(id, base);
  exec(db_, "COMMIT");
}

Verdicts SqlitePeer::verdicts() const {
  Stmt sums(db_, "SELECT count(*), sum(all_ok), sum(no_match), sum(typeproblm), sum(levelprob), sum(parentok), "
                 "sum(classfound) FROM mpdms");
  sums.step();
  return Verdicts{sums.integer(0), sums.integer(1), sums.integer(2), sums.integer(3),
                  sums.integer(4), sums.integer(5), sums.integer(6)};
}

}  // namespace bench
