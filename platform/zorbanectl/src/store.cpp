#include "store.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "runtime/runtime.h"

namespace zctl {

namespace {

// A prepared statement that finalizes itself.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { prepared_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK; }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return prepared_ && stmt_; }
  void bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  int step() { return sqlite3_step(stmt_); }
  void reset() { sqlite3_reset(stmt_); }
  std::int64_t i64(int c) const { return sqlite3_column_int64(stmt_, c); }
  int i32(int c) const { return sqlite3_column_int(stmt_, c); }
  int type(int c) const { return sqlite3_column_type(stmt_, c); }
  // The column's text as SQLite holds it, valid until the next step: a string is built only
  // where one is kept.
  std::string_view view(int c) const {
    auto* p = sqlite3_column_text(stmt_, c);
    return p ? std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)))
             : std::string_view();
  }
  std::string text(int c) const { return std::string(view(c)); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  bool prepared_ = false;
};

// A read transaction around the statements of one load, so that they all see the same store
// even while another program writes to it. Released when it goes.
class ReadTransaction {
 public:
  explicit ReadTransaction(sqlite3* db) : db_(db) { open_ = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK; }
  ~ReadTransaction() {
    if (open_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  bool open() const { return open_; }

 private:
  sqlite3* db_;
  bool open_ = false;
};

const char* const kRequiredTables[] = {"zstore_info", "zfamily", "zclass", "zsuperclass",
                                       "zproperty",   "zmethod", "zparameter", "zquery"};

// A column value as an error message shows it.
std::string shownValue(const Statement& st, int c) {
  switch (st.type(c)) {
    case SQLITE_NULL: return "NULL";
    case SQLITE_BLOB: return "a blob";
    case SQLITE_TEXT: return "'" + st.text(c) + "'";
    default: return st.text(c);
  }
}

// The store is ours: a value that breaks its schema is damage, never something to guess around.
StoreError damaged(const std::string& path, const std::string& table, const std::string& row,
                   const std::string& column, const std::string& problem) {
  return StoreError{rt::EG_CORRUPTION,
                    "Schema store " + path + " is damaged: table " + table + ", row " + row + ", column " + column +
                        ": " + problem,
                    path};
}

// Where a member row sits, for the messages about it: its table, key column and the statement
// column that holds the key.
struct RowKey {
  const char* table;
  const char* key;
  int column;
};

std::string rowName(const Statement& st, const RowKey& row) {
  return std::string(row.key) + " " + std::to_string(st.i64(row.column));
}

// A type code column: a whole number (any value; codes without a text are the loader's concern).
std::optional<StoreError> typeCodeOf(const Statement& st, int c, const std::string& path, const RowKey& row,
                                     std::int64_t& out) {
  if (st.type(c) != SQLITE_INTEGER)
    return damaged(path, row.table, rowName(st, row), "type_code", shownValue(st, c) + " is not a whole number");
  out = st.i64(c);
  return std::nullopt;
}

// A level column: exactly 'C' (class level) or 'I' (instance level).
std::optional<StoreError> levelOf(const Statement& st, int c, const std::string& path, const RowKey& row,
                                  Level& out) {
  const std::string_view text = st.type(c) == SQLITE_TEXT ? st.view(c) : std::string_view();
  if (text == "C" || text == "I") {
    out = text == "C" ? Level::Class : Level::Instance;
    return std::nullopt;
  }
  return damaged(path, row.table, rowName(st, row), "level", shownValue(st, c) + " is neither 'C' nor 'I'");
}

// Reads one family's rows into a Family. Every statement walks the family's classes in order
// and each class's rows through an index, so none needs a sort; member rows arrive grouped by
// class, so a class is looked up once per group rather than once per row.
class FamilyReader {
 public:
  // `what` opens the message of a failure SQLite reports.
  FamilyReader(sqlite3* db, const std::string& path, Family& family, std::string what)
      : db_(db), path_(path), family_(family), what_(std::move(what)) {}

  // Fills the family; on failure answers the error.
  std::optional<StoreError> read() {
    ReadTransaction transaction(db_);
    if (!transaction.open()) return sqlFailure();
    for (auto part : {&FamilyReader::classes, &FamilyReader::superclasses, &FamilyReader::properties,
                      &FamilyReader::methods, &FamilyReader::parameters})
      if (auto e = (this->*part)()) return e;
    return std::nullopt;
  }

 private:
  std::optional<StoreError> sqlFailure() const {
    std::string detail = sqlite3_errmsg(db_);
    return StoreError{rt::EG_READ, what_ + (detail.empty() || detail == "not an error" ? "" : " (" + detail + ")"),
                      path_};
  }
  std::optional<StoreError> finished(int rc) const {
    return rc == SQLITE_DONE ? std::nullopt : sqlFailure();
  }

  // Class `id` of the family, looked up once for each group of rows of one class; null for a
  // class the family does not have (the statements join through its classes, so none is).
  ClassInfo* classOf(std::int64_t id) {
    if (id != lastClassId_ || !lastClass_) {
      auto it = classPos_.find(id);
      lastClassId_ = id;
      lastClass_ = it == classPos_.end() ? nullptr : &family_.classes[static_cast<std::size_t>(it->second)];
    }
    return lastClass_;
  }

  std::optional<StoreError> classes() {
    Statement st(db_, "SELECT class_id, name FROM zclass WHERE family_id = ?1 ORDER BY position, class_id");
    if (!st.ok()) return sqlFailure();
    st.bind(1, family_.id);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
      const int position = static_cast<int>(family_.classes.size());
      classPos_.emplace(st.i64(0), position);
      family_.classes.push_back(ClassInfo{st.text(1), {}, {}, {}, {}});
      family_.classByName.emplace(family_.classes.back().name, position);
    }
    return finished(rc);
  }

  // A superclass is always a class of the same family.
  std::optional<StoreError> superclasses() {
    Statement st(db_,
                 "SELECT s.class_id, s.super_id, s.position FROM zsuperclass s JOIN zclass c ON c.class_id = s.class_id "
                 "WHERE c.family_id = ?1 ORDER BY c.position, c.class_id, s.position");
    if (!st.ok()) return sqlFailure();
    st.bind(1, family_.id);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
      auto sub = classPos_.find(st.i64(0));
      auto sup = classPos_.find(st.i64(1));
      if (sub == classPos_.end()) return sqlFailure();
      if (sup == classPos_.end())
        return damaged(path_, "zsuperclass",
                       "class_id " + std::to_string(st.i64(0)) + " position " + std::to_string(st.i64(2)), "super_id",
                       shownValue(st, 1) + " is not a class of family " + family_.name);
      family_.classes[sub->second].superClasses.push_back(sup->second);
      family_.classes[sup->second].subClasses.push_back(sub->second);
    }
    return finished(rc);
  }

  std::optional<StoreError> properties() {
    return members("zproperty", "property_id", &Family::allProperties, &ClassInfo::properties);
  }
  std::optional<StoreError> methods() {
    return members("zmethod", "method_id", &Family::allMethods, &ClassInfo::methods);
  }

  // The rows of one member table (properties or methods), in class order and then member order:
  // name, id, level and type code of each. They go into one list of the family's, allocated once
  // at its size; each class then gets its stretch (a class's rows arrive together).
  template <class Info>
  std::optional<StoreError> members(const char* table, const char* idColumn, std::vector<Info> Family::*all,
                                    std::span<Info> ClassInfo::*list) {
    const std::string t(table), id(idColumn);
    const std::string from = " FROM zclass c JOIN " + t + " m ON m.class_id = c.class_id WHERE c.family_id = ?1";
    Statement count(db_, ("SELECT count(*)" + from).c_str());
    if (!count.ok()) return sqlFailure();
    count.bind(1, family_.id);
    if (count.step() != SQLITE_ROW) return sqlFailure();
    std::vector<Info>& listed = family_.*all;
    listed.reserve(static_cast<std::size_t>(std::max<std::int64_t>(count.i64(0), 0)));
    Statement st(db_, ("SELECT m.class_id, m." + id + ", m.name, m.level, m.type_code" + from +
                       " ORDER BY c.position, c.class_id, m.position, m." + id)
                          .c_str());
    if (!st.ok()) return sqlFailure();
    st.bind(1, family_.id);
    const RowKey row{table, idColumn, 1};
    std::vector<std::pair<ClassInfo*, std::size_t>> stretches;  // each class and its first row in `listed`
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
      Info m;
      m.name = st.view(2);
      m.id = st.i64(1);
      if (auto e = levelOf(st, 3, path_, row, m.level)) return e;
      if (auto e = typeCodeOf(st, 4, path_, row, m.typeCode)) return e;
      ClassInfo* owner = classOf(st.i64(0));
      if (!owner) return sqlFailure();
      if (stretches.empty() || stretches.back().first != owner) stretches.emplace_back(owner, listed.size());
      listed.push_back(std::move(m));
    }
    if (auto e = finished(rc)) return e;
    for (std::size_t k = 0; k < stretches.size(); ++k) {
      const std::size_t end = k + 1 < stretches.size() ? stretches[k + 1].second : listed.size();
      stretches[k].first->*list = std::span<Info>(listed.data() + stretches[k].second, end - stretches[k].second);
    }
    return std::nullopt;
  }

  // Parameters arrive in the order the methods were read, so one cursor over the methods finds
  // the owner of each. The join looks up every method of the family in the parameters' index,
  // so a store that holds no parameter at all skips it.
  std::optional<StoreError> parameters() {
    Statement any(db_, "SELECT EXISTS (SELECT 1 FROM zparameter)");
    if (!any.ok() || any.step() != SQLITE_ROW) return sqlFailure();
    if (any.i32(0) == 0) return std::nullopt;
    Statement st(db_,
                 "SELECT m.method_id, p.name, p.position, p.type_code, p.precision, p.scale, p.is_set, "
                 "p.default_value, p.parameter_id FROM zclass c JOIN zmethod m ON m.class_id = c.class_id "
                 "JOIN zparameter p ON p.method_id = m.method_id WHERE c.family_id = ?1 "
                 "ORDER BY c.position, c.class_id, m.position, m.method_id, p.position, p.parameter_id");
    if (!st.ok()) return sqlFailure();
    st.bind(1, family_.id);
    const RowKey row{"zparameter", "parameter_id", 8};
    std::size_t cls = 0, method = 0;
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
      MethodInfo* owner = advanceTo(st.i64(0), cls, method);
      if (!owner) return sqlFailure();  // within the read transaction the methods read are all there
      ParameterInfo p{st.text(1), st.i32(2), 0, st.i32(4), st.i32(5), st.i32(6) != 0, st.text(7)};
      if (auto e = typeCodeOf(st, 3, path_, row, p.typeCode)) return e;
      owner->parameters.push_back(std::move(p));
    }
    return finished(rc);
  }

  // Moves the cursor (class, method) forward to method `id`; null past the last method.
  MethodInfo* advanceTo(std::int64_t id, std::size_t& cls, std::size_t& method) {
    auto& classes = family_.classes;
    while (cls < classes.size()) {
      auto& methods = classes[cls].methods;
      if (method < methods.size() && methods[method].id == id) return &methods[method];
      if (method < methods.size()) {
        ++method;
      } else {
        ++cls;
        method = 0;
      }
    }
    return nullptr;
  }

  sqlite3* db_;
  const std::string& path_;
  Family& family_;
  std::string what_;
  std::unordered_map<std::int64_t, int> classPos_;
  std::int64_t lastClassId_ = 0;
  ClassInfo* lastClass_ = nullptr;
};

}  // namespace

// One open store file: the SQLite connection, shared by the store and the families loaded from
// it, and the statements that read a member's details, each prepared on first use.
class StoreConnection {
 public:
  StoreConnection(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  ~StoreConnection() {
    propertyDetails_.reset();
    methodDetails_.reset();
    // Every other statement is scoped to the call that prepared it, so none is alive here and the
    // close releases the descriptor. Should one ever be left, SQLite finishes the close when it goes.
    if (sqlite3_close(db_) != SQLITE_OK) sqlite3_close_v2(db_);
  }
  StoreConnection(const StoreConnection&) = delete;
  StoreConnection& operator=(const StoreConnection&) = delete;

  sqlite3* db() const { return db_; }

  std::optional<StoreError> details(const PropertyInfo& p, PropertyDetails& out) {
    return detailsRow(propertyDetails_,
                      "SELECT is_set, is_mandatory, is_unique, description, precision, scale, default_value "
                      "FROM zproperty WHERE property_id = ?1",
                      "zproperty", "property_id", p.id, "property " + p.name, [&](const Statement& st) {
                        out = PropertyDetails{st.i32(0) != 0, st.i32(1) != 0, st.i32(2) != 0, st.text(3),
                                              st.i32(4),      st.i32(5),      st.text(6)};
                      });
  }

  std::optional<StoreError> details(const MethodInfo& m, MethodDetails& out) {
    return detailsRow(methodDetails_, "SELECT is_set, description, precision, scale FROM zmethod WHERE method_id = ?1",
                      "zmethod", "method_id", m.id, "method " + m.name, [&](const Statement& st) {
                        out = MethodDetails{st.i32(0) != 0, st.text(1), st.i32(2), st.i32(3)};
                      });
  }

 private:
  template <class Read>
  std::optional<StoreError> detailsRow(std::unique_ptr<Statement>& cached, const char* sql, const char* table,
                                       const char* key, std::int64_t id, const std::string& member, Read read) {
    const std::string what = "Cannot read the details of " + member + " from " + path_;
    if (!cached) cached = std::make_unique<Statement>(db_, sql);
    if (!cached->ok()) return StoreError{rt::EG_READ, what + " (" + sqlite3_errmsg(db_) + ")", path_};
    cached->bind(1, id);
    const int rc = cached->step();
    std::optional<StoreError> failure;
    if (rc == SQLITE_ROW)
      read(*cached);
    else if (rc == SQLITE_DONE)
      failure = StoreError{rt::EG_READ,
                           what + ": table " + table + " no longer holds row " + key + " " + std::to_string(id), path_};
    else
      failure = StoreError{rt::EG_READ, what + " (" + sqlite3_errmsg(db_) + ")", path_};
    cached->reset();
    return failure;
  }

  sqlite3* db_;
  std::string path_;
  std::unique_ptr<Statement> propertyDetails_, methodDetails_;
};

std::optional<StoreError> readDetails(const Family& family, const PropertyInfo& property, PropertyDetails& out) {
  return family.connection->details(property, out);
}

std::optional<StoreError> readDetails(const Family& family, const MethodInfo& method, MethodDetails& out) {
  return family.connection->details(method, out);
}

int Family::findClass(const std::string& wanted) const {
  if (auto it = classByName.find(wanted); it != classByName.end()) return it->second;
  std::string upper = rt::toUpper(wanted);
  for (std::size_t i = 0; i < classes.size(); ++i)
    if (rt::toUpper(classes[i].name) == upper) return static_cast<int>(i);
  return -1;
}

SchemaStore::~SchemaStore() { close(); }

void SchemaStore::close() {
  loaded_.clear();
  connection_.reset();
}

sqlite3* SchemaStore::db() const { return connection_ ? connection_->db() : nullptr; }

StoreError SchemaStore::failure(int genCode, const std::string& what) const {
  std::string detail = db() ? sqlite3_errmsg(db()) : "";
  return StoreError{genCode, what + (detail.empty() || detail == "not an error" ? "" : " (" + detail + ")"), path_};
}

std::optional<StoreError> SchemaStore::open(const std::string& path) {
  close();
  path_ = path;
  std::error_code ec;
  if (path.empty()) return StoreError{rt::EG_OPEN, "No schema store file is named in the connection settings", path};
  if (!std::filesystem::exists(path, ec))
    return StoreError{rt::EG_OPEN, "Schema store " + path + " does not exist", path};
  if (!std::filesystem::is_regular_file(path, ec))
    return StoreError{rt::EG_OPEN, "Schema store " + path + " is not a file", path};
  std::optional<StoreError> refused;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (db) connection_ = std::make_shared<StoreConnection>(db, path);
  if (rc != SQLITE_OK)
    refused = failure(rt::EG_OPEN, "Cannot open schema store " + path);
  else
    refused = validate();
  // validate()'s statements are finalized by now, so the close below releases the file.
  if (refused) close();
  return refused;
}

// A file that is not a schema store fails here: not a database, or tables or marker missing.
std::optional<StoreError> SchemaStore::validate() {
  std::vector<std::string> have;
  {
    Statement tables(db(), "SELECT name FROM sqlite_master WHERE type = 'table'");
    if (!tables.ok()) return failure(rt::EG_CORRUPTION, path_ + " is not a Zorbane schema store");
    int rc;
    while ((rc = tables.step()) == SQLITE_ROW) have.push_back(tables.text(0));
    if (rc != SQLITE_DONE) return failure(rt::EG_CORRUPTION, path_ + " is not a Zorbane schema store");
  }
  for (const char* t : kRequiredTables)
    if (std::find(have.begin(), have.end(), t) == have.end())
      return StoreError{rt::EG_CORRUPTION, path_ + " is not a Zorbane schema store: table " + t + " is missing", path_};
  Statement marker(db(), "SELECT value FROM zstore_info WHERE key = 'format'");
  if (!marker.ok() || marker.step() != SQLITE_ROW || marker.text(0) != kStoreFormat)
    return StoreError{rt::EG_CORRUPTION,
                      path_ + " is not a Zorbane schema store: zstore_info has no format '" + kStoreFormat + "'", path_};
  return std::nullopt;
}

std::optional<StoreError> SchemaStore::families(std::vector<FamilyEntry>& out) {
  out.clear();
  if (!db()) return StoreError{rt::EG_OLE, "Not connected to a schema store", path_};
  Statement st(db(), "SELECT family_id, name FROM zfamily ORDER BY position, family_id");
  if (!st.ok()) return failure(rt::EG_READ, "Cannot read the class families of " + path_);
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) out.push_back({st.i64(0), st.text(1)});
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, "Cannot read the class families of " + path_);
  return std::nullopt;
}

std::optional<StoreError> SchemaStore::queries(std::vector<StoredQuery>& out) {
  out.clear();
  if (!db()) return StoreError{rt::EG_OLE, "Not connected to a schema store", path_};
  Statement st(db(), "SELECT query_id, name, query_text FROM zquery ORDER BY query_id");
  if (!st.ok()) return failure(rt::EG_READ, "Cannot read the stored queries of " + path_);
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) out.push_back({st.i64(0), st.text(1), st.text(2)});
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, "Cannot read the stored queries of " + path_);
  return std::nullopt;
}

std::optional<StoreError> SchemaStore::loadFamily(const FamilyEntry& entry, FamilyPtr& out) {
  if (!db()) return StoreError{rt::EG_OLE, "Not connected to a schema store", path_};
  if (auto it = loaded_.find(entry.id); it != loaded_.end()) {
    if ((out = it->second.lock())) return std::nullopt;
  }
  auto family = std::make_shared<Family>();
  family->id = entry.id;
  family->name = entry.name;
  family->connection = connection_;
  if (auto e = FamilyReader(db(), path_, *family, "Cannot read class family " + entry.name + " from " + path_).read())
    return e;
  out = family;
  loaded_[entry.id] = out;
  return std::nullopt;
}

}  // namespace zctl
