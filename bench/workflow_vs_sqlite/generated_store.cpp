#include "generated_store.h"

#include <fstream>
#include <sstream>
#include <string>

#include "sqlite_stmt.h"

namespace bench {
namespace {

std::string className(int c) {
  char name[32];
  std::snprintf(name, sizeof name, "Class%05d", c);
  return name;
}

}  // namespace

// The changed copy differs in every way the compare looks at: some types changed, members moved
// between levels, members removed and added, parents changed and a few leaf classes removed.
void generateStore(const std::filesystem::path& file, int classes, int members) {
  sqlite3* db = nullptr;
  check(sqlite3_open(file.c_str(), &db), db, "open store");
  std::ifstream in(std::filesystem::path(ZMC_DEMO_DIR) / "zorbane-schema.sql");
  std::stringstream schema;
  schema << in.rdbuf();
  exec(db, schema.str());
  exec(db, std::string("BEGIN; INSERT INTO zfamily VALUES (1, '") + kFirstFamily + "', 1), (2, '" + kSecondFamily +
               "', 2);");
  Stmt cls(db, "INSERT INTO zclass (class_id, family_id, name, position) VALUES (?, ?, ?, ?)");
  Stmt sup(db, "INSERT INTO zsuperclass (class_id, super_id, position) VALUES (?, ?, 1)");
  Stmt prop(db, "INSERT INTO zproperty (class_id, name, position, level, type_code) VALUES (?, ?, ?, ?, ?)");
  Stmt meth(db, "INSERT INTO zmethod (class_id, name, position, level, type_code) VALUES (?, ?, ?, ?, ?)");
  for (int family = 1; family <= 2; ++family) {
    const bool changed = family == 2;
    const long long base = family * 1000000LL;
    for (int c = 0; c < classes; ++c) {
      if (changed && c >= 100 && c % 1000 == 500) continue;  // a removed leaf class
      cls.bind(1, base + c).bind(2, family).bind(3, className(c)).bind(4, c + 1).run();
      if (c > 0) {
        int parent = (c - 1) % 100;
        if (changed && c % 100 == 7 && c > 100) parent = (parent + 1) % 100;
        sup.bind(1, base + c).bind(2, base + parent).run();
      }
      for (int m = 0; m < members; ++m) {
        if (changed && c % 50 == 3 && m == 1) continue;  // a removed member
        const bool method = m % 2 == 0;
        std::string level = (m % 4) < 2 ? "C" : "I";
        if (changed && c % 40 == 5 && m == 2) level = level == "C" ? "I" : "C";
        int type = m % 11;
        if (changed && c % 10 == 1 && m == 0) type = (type + 1) % 11;
        Stmt& s = method ? meth : prop;
        s.bind(1, base + c).bind(2, (method ? "Method" : "Property") + std::to_string(m)).bind(3, m + 1)
            .bind(4, level).bind(5, type).run();
      }
      if (changed && c % 25 == 9)  // an added member
        prop.bind(1, base + c).bind(2, std::string("Added")).bind(3, members + 1).bind(4, std::string("I")).bind(5, 5).run();
    }
  }
  exec(db, "COMMIT;");
  sqlite3_close(db);
}

}  // namespace bench
