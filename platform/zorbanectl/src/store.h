// The schema store: an SQLite file opened read-only. Validates the file on open, lists the
// families, and loads a family's schema with a handful of statements, in one read transaction,
// on first use. A loaded family is shared for as long as any object handed out holds it and is
// read again after that: a large family's schema does not stay in memory once its walk is over.
// The details of a property or method (description, precision, ...) are read from the store
// when first asked for; a loaded family holds the connection for that, so it stays open (read
// only) until the store is closed and no loaded family is held any more.
//
// States: closed (no connection) -> open (connection, validated) -> closed by close() or
// destruction.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "schema.h"

struct sqlite3;

namespace zctl {

struct StoreError {
  int genCode = 0;  // a run-time generic code
  std::string description;
  std::string fileName;
};

class SchemaStore {
 public:
  SchemaStore() = default;
  ~SchemaStore();
  SchemaStore(const SchemaStore&) = delete;
  SchemaStore& operator=(const SchemaStore&) = delete;

  [[nodiscard]] std::optional<StoreError> open(const std::string& path);
  // Lets go of the connection: it closes now, or once no loaded family holds it any more.
  void close();
  bool isOpen() const { return connection_ != nullptr; }
  const std::string& path() const { return path_; }

  [[nodiscard]] std::optional<StoreError> families(std::vector<FamilyEntry>& out);
  [[nodiscard]] std::optional<StoreError> loadFamily(const FamilyEntry& entry, FamilyPtr& out);
  [[nodiscard]] std::optional<StoreError> queries(std::vector<StoredQuery>& out);

 private:
  StoreError failure(int genCode, const std::string& what) const;
  std::optional<StoreError> validate();
  std::optional<StoreError> readFamily(Family& family);
  sqlite3* db() const;
  std::shared_ptr<StoreConnection> connection_;
  std::string path_;
  std::map<std::int64_t, std::weak_ptr<const Family>> loaded_;
};

// The details of one member of a loaded family, read from the store it was loaded from. A row
// that is no longer there (the store was changed since) is an error naming table and row.
[[nodiscard]] std::optional<StoreError> readDetails(const Family& family, const PropertyInfo& property,
                                                    PropertyDetails& out);
[[nodiscard]] std::optional<StoreError> readDetails(const Family& family, const MethodInfo& method,
                                                    MethodDetails& out);

// The store's format marker (table zstore_info, key 'format').
inline constexpr const char* kStoreFormat = "zorbane-schema-store";

}  // namespace zctl
