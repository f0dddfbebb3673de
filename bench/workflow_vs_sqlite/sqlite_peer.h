// The peer the bench measures against: the same rows in an SQLite table with the model table's
// two orders as indexes, loaded through the same control walk and compared with the same
// look-ups and flag writes as the model table's compare.
#pragma once
#include <memory>
#include <string>

#include "figures.h"
#include "runtime/runtime.h"

struct sqlite3;

namespace bench {

class SqlitePeer {
 public:
  explicit SqlitePeer(const std::string& path);
  ~SqlitePeer();
  SqlitePeer(const SqlitePeer&) = delete;
  SqlitePeer& operator=(const SqlitePeer&) = delete;

  // Appends every row of `family` stamped with `version` (full width), in one transaction.
  long load(const rt::ObjectPtr& control, const std::string& family, const std::string& version);
  // Both passes, in one transaction.
  void compare(const std::string& base, const std::string& reference);
  Verdicts verdicts() const;
  // Closes the database and opens it again as a restart does, its schema read.
  void reopen(const std::string& path);
  // Drops both indexes, then (timed by the caller) creates them again.
  void dropIndexes();
  void createIndexes();

 private:
  struct Comparer;
  sqlite3* db_ = nullptr;
};

}  // namespace bench
