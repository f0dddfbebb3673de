// The schema store: an SQLite file opened read-only. Validates the file on open, lists the
// families, and loads a family's whole schema with a handful of prepared statements on first
// use. A loaded family is shared for as long as any object handed out holds it and is read
// again after that: a large family's schema does not stay in memory once its walk is over.
//
// States: closed (no handle) -> open (handle, validated) -> closed by close() or destruction.
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
  // Answers false when SQLite could not close at once (a statement was still alive).
  bool close();
  bool isOpen() const { return db_ != nullptr; }
  const std::string& path() const { return path_; }

  [[nodiscard]] std::optional<StoreError> families(std::vector<FamilyEntry>& out);
  [[nodiscard]] std::optional<StoreError> loadFamily(const FamilyEntry& entry, FamilyPtr& out);
  [[nodiscard]] std::optional<StoreError> queries(std::vector<StoredQuery>& out);

 private:
  StoreError failure(int genCode, const std::string& what) const;
  std::optional<StoreError> validate();
  sqlite3* db_ = nullptr;
  std::string path_;
  std::map<std::int64_t, std::weak_ptr<const Family>> loaded_;
};

// The store's format marker (table zstore_info, key 'format').
inline constexpr const char* kStoreFormat = "zorbane-schema-store";

}  // namespace zctl
