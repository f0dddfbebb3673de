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
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return rc_ == SQLITE_OK && stmt_; }
  int rc() const { return rc_; }
  void bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  int step() { return rc_ = sqlite3_step(stmt_); }
  std::int64_t i64(int c) const { return sqlite3_column_int64(stmt_, c); }
  int i32(int c) const { return sqlite3_column_int(stmt_, c); }
  int type(int c) const { return sqlite3_column_type(stmt_, c); }
  std::string text(int c) const {
    auto* p = sqlite3_column_text(stmt_, c);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c)))
             : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
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

// A type code column: a whole number (any value; codes without a text are the loader's concern).
std::optional<StoreError> typeCodeOf(const Statement& st, int c, const std::string& path, const char* table,
                                     const char* key, std::int64_t id, int& out) {
  if (st.type(c) != SQLITE_INTEGER)
    return damaged(path, table, std::string(key) + " " + std::to_string(id), "type_code",
                   shownValue(st, c) + " is not a whole number");
  out = st.i32(c);
  return std::nullopt;
}

// A level column: exactly 'C' (class level) or 'I' (instance level).
std::optional<StoreError> levelOf(const Statement& st, int c, const std::string& path, const char* table,
                                  const char* key, std::int64_t id, Level& out) {
  const std::string text = st.type(c) == SQLITE_TEXT ? st.text(c) : std::string();
  if (text == "C" || text == "I") {
    out = text == "C" ? Level::Class : Level::Instance;
    return std::nullopt;
  }
  return damaged(path, table, std::string(key) + " " + std::to_string(id), "level",
                 shownValue(st, c) + " is neither 'C' nor 'I'");
}

}  // namespace

int Family::findClass(const std::string& wanted) const {
  if (auto it = classByName.find(wanted); it != classByName.end()) return it->second;
  std::string upper = rt::toUpper(wanted);
  for (std::size_t i = 0; i < classes.size(); ++i)
    if (rt::toUpper(classes[i].name) == upper) return static_cast<int>(i);
  return -1;
}

SchemaStore::~SchemaStore() { close(); }

bool SchemaStore::close() {
  loaded_.clear();
  if (!db_) return true;
  // Every statement is scoped to the call that prepared it, so none is alive here and the close
  // releases the connection and its descriptor. Should one ever be left, the close is handed to
  // SQLite to finish when that statement goes, rather than leaking the connection.
  const bool closed = sqlite3_close(db_) == SQLITE_OK;
  if (!closed) sqlite3_close_v2(db_);
  db_ = nullptr;
  return closed;
}

StoreError SchemaStore::failure(int genCode, const std::string& what) const {
  std::string detail = db_ ? sqlite3_errmsg(db_) : "";
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
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
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
    Statement tables(db_, "SELECT name FROM sqlite_master WHERE type = 'table'");
    if (!tables.ok()) return failure(rt::EG_CORRUPTION, path_ + " is not a Zorbane schema store");
    int rc;
    while ((rc = tables.step()) == SQLITE_ROW) have.push_back(tables.text(0));
    if (rc != SQLITE_DONE) return failure(rt::EG_CORRUPTION, path_ + " is not a Zorbane schema store");
  }
  for (const char* t : kRequiredTables)
    if (std::find(have.begin(), have.end(), t) == have.end())
      return StoreError{rt::EG_CORRUPTION, path_ + " is not a Zorbane schema store: table " + t + " is missing", path_};
  Statement marker(db_, "SELECT value FROM zstore_info WHERE key = 'format'");
  if (!marker.ok() || marker.step() != SQLITE_ROW || marker.text(0) != kStoreFormat)
    return StoreError{rt::EG_CORRUPTION,
                      path_ + " is not a Zorbane schema store: zstore_info has no format '" + kStoreFormat + "'", path_};
  return std::nullopt;
}

std::optional<StoreError> SchemaStore::families(std::vector<FamilyEntry>& out) {
  out.clear();
  if (!db_) return StoreError{rt::EG_OLE, "Not connected to a schema store", path_};
  Statement st(db_, "SELECT family_id, name FROM zfamily ORDER BY position, family_id");
  if (!st.ok()) return failure(rt::EG_READ, "Cannot read the class families of " + path_);
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) out.push_back({st.i64(0), st.text(1)});
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, "Cannot read the class families of " + path_);
  return std::nullopt;
}

std::optional<StoreError> SchemaStore::queries(std::vector<StoredQuery>& out) {
  out.clear();
  if (!db_) return StoreError{rt::EG_OLE, "Not connected to a schema store", path_};
  Statement st(db_, "SELECT query_id, name, query_text FROM zquery ORDER BY query_id");
  if (!st.ok()) return failure(rt::EG_READ, "Cannot read the stored queries of " + path_);
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) out.push_back({st.i64(0), st.text(1), st.text(2)});
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, "Cannot read the stored queries of " + path_);
  return std::nullopt;
}

std::optional<StoreError> SchemaStore::loadFamily(const FamilyEntry& entry, FamilyPtr& out) {
  if (!db_) return StoreError{rt::EG_OLE, "Not connected to a schema store", path_};
  if (auto it = loaded_.find(entry.id); it != loaded_.end()) {
    if ((out = it->second.lock())) return std::nullopt;
  }
  auto family = std::make_shared<Family>();
  family->id = entry.id;
  family->name = entry.name;
  const std::string what = "Cannot read class family " + entry.name + " from " + path_;
  std::unordered_map<std::int64_t, int> classPos;
  int rc;

  Statement classes(db_, "SELECT class_id, name FROM zclass WHERE family_id = ?1 ORDER BY position, class_id");
  if (!classes.ok()) return failure(rt::EG_READ, what);
  classes.bind(1, entry.id);
  while ((rc = classes.step()) == SQLITE_ROW) {
    classPos.emplace(classes.i64(0), static_cast<int>(family->classes.size()));
    family->classByName.emplace(classes.text(1), static_cast<int>(family->classes.size()));
    family->classes.push_back(ClassInfo{classes.text(1), {}, {}, {}, {}});
  }
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, what);

  // Each statement walks the family's classes in order and each class's rows through an index,
  // so no statement needs a sort. A superclass is always a class of the same family.
  Statement supers(db_,
                   "SELECT s.class_id, s.super_id, s.position FROM zsuperclass s JOIN zclass c ON c.class_id = s.class_id "
                   "WHERE c.family_id = ?1 ORDER BY c.position, c.class_id, s.position");
  if (!supers.ok()) return failure(rt::EG_READ, what);
  supers.bind(1, entry.id);
  while ((rc = supers.step()) == SQLITE_ROW) {
    auto sub = classPos.find(supers.i64(0));
    auto sup = classPos.find(supers.i64(1));
    if (sub == classPos.end()) continue;  // the join keeps to the family's classes
    if (sup == classPos.end())
      return damaged(path_, "zsuperclass",
                     "class_id " + std::to_string(supers.i64(0)) + " position " + std::to_string(supers.i64(2)),
                     "super_id", shownValue(supers, 1) + " is not a class of family " + entry.name);
    family->classes[sub->second].superClasses.push_back(sup->second);
    family->classes[sup->second].subClasses.push_back(sub->second);
  }
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, what);

  Statement props(db_,
                  "SELECT p.class_id, p.name, p.level, p.type_code, p.is_set, p.is_mandatory, p.is_unique, "
                  "p.description, p.precision, p.scale, p.default_value, p.property_id FROM zclass c "
                  "JOIN zproperty p ON p.class_id = c.class_id WHERE c.family_id = ?1 "
                  "ORDER BY c.position, c.class_id, p.position, p.property_id");
  if (!props.ok()) return failure(rt::EG_READ, what);
  props.bind(1, entry.id);
  while ((rc = props.step()) == SQLITE_ROW) {
    auto cls = classPos.find(props.i64(0));
    if (cls == classPos.end()) continue;
    Level level{};
    int typeCode = 0;
    if (auto e = levelOf(props, 2, path_, "zproperty", "property_id", props.i64(11), level)) return e;
    if (auto e = typeCodeOf(props, 3, path_, "zproperty", "property_id", props.i64(11), typeCode)) return e;
    family->classes[cls->second].properties.push_back(PropertyInfo{
        props.text(1), level, typeCode, props.i32(4) != 0, props.i32(5) != 0,
        props.i32(6) != 0, props.text(7), props.i32(8), props.i32(9), props.text(10)});
  }
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, what);

  std::unordered_map<std::int64_t, std::pair<int, int>> methodPos;  // method_id -> class, index
  Statement methods(db_,
                    "SELECT m.method_id, m.class_id, m.name, m.level, m.type_code, m.is_set, m.description, "
                    "m.precision, m.scale FROM zclass c JOIN zmethod m ON m.class_id = c.class_id "
                    "WHERE c.family_id = ?1 ORDER BY c.position, c.class_id, m.position, m.method_id");
  if (!methods.ok()) return failure(rt::EG_READ, what);
  methods.bind(1, entry.id);
  while ((rc = methods.step()) == SQLITE_ROW) {
    auto cls = classPos.find(methods.i64(1));
    if (cls == classPos.end()) continue;
    Level level{};
    int typeCode = 0;
    if (auto e = levelOf(methods, 3, path_, "zmethod", "method_id", methods.i64(0), level)) return e;
    if (auto e = typeCodeOf(methods, 4, path_, "zmethod", "method_id", methods.i64(0), typeCode)) return e;
    auto& list = family->classes[cls->second].methods;
    methodPos.emplace(methods.i64(0), std::make_pair(cls->second, static_cast<int>(list.size())));
    list.push_back(MethodInfo{methods.text(2), level, typeCode, methods.i32(5) != 0, methods.text(6),
                              methods.i32(7), methods.i32(8), {}});
  }
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, what);

  Statement params(db_,
                   "SELECT p.method_id, p.name, p.position, p.type_code, p.precision, p.scale, p.is_set, "
                   "p.default_value, p.parameter_id FROM zparameter p JOIN zmethod m ON m.method_id = p.method_id "
                   "JOIN zclass c ON c.class_id = m.class_id WHERE c.family_id = ?1 "
                   "ORDER BY p.method_id, p.position, p.parameter_id");
  if (!params.ok()) return failure(rt::EG_READ, what);
  params.bind(1, entry.id);
  while ((rc = params.step()) == SQLITE_ROW) {
    auto m = methodPos.find(params.i64(0));
    if (m == methodPos.end()) continue;
    int typeCode = 0;
    if (auto e = typeCodeOf(params, 3, path_, "zparameter", "parameter_id", params.i64(8), typeCode)) return e;
    family->classes[m->second.first].methods[m->second.second].parameters.push_back(
        ParameterInfo{params.text(1), params.i32(2), typeCode, params.i32(4), params.i32(5), params.i32(6) != 0,
                      params.text(7)});
  }
  if (rc != SQLITE_DONE) return failure(rt::EG_READ, what);

  out = family;
  loaded_[entry.id] = out;
  return std::nullopt;
}

}  // namespace zctl
