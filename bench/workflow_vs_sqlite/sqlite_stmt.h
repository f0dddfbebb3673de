// A thin layer over SQLite's C interface for the bench: every failure ends the process with the
// statement and SQLite's message, so a broken bench run never prints figures.
#pragma once
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

inline void check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
  std::exit(1);
}

inline void exec(sqlite3* db, const std::string& sql) {
  check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, sql.c_str());
}

struct Stmt {
  Stmt(sqlite3* db, const char* sql) : db(db) { check(sqlite3_prepare_v2(db, sql, -1, &s, nullptr), db, sql); }
  ~Stmt() { sqlite3_finalize(s); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
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
  // Runs a statement that answers no rows, then makes it ready for the next bindings.
  void run() {
    step();
    reset();
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

}  // namespace bench
