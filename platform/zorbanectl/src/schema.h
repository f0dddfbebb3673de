// The in-memory schema of one class family, loaded from the store in one pass and then only read.
// Classes refer to each other by position in Family::classes. A member keeps what a walk of the
// family asks of it (name, level, type code) and its row id; its other details stay in the store
// and are read when asked for (readDetails in store.h), through the connection the family holds.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace zctl {

enum class Level : char { Class = 'C', Instance = 'I' };

struct ParameterInfo {
  std::string name;
  int position = 0;
  std::int64_t typeCode = 0;  // as stored: any whole number
  int precision = 0;
  int scale = 0;
  bool isSet = false;
  std::string defaultValue;
};

struct PropertyInfo {
  std::string name;
  std::int64_t id = 0;  // property_id
  Level level = Level::Instance;
  std::int64_t typeCode = 0;  // as stored: any whole number
};

struct MethodInfo {
  std::string name;
  std::int64_t id = 0;  // method_id
  Level level = Level::Instance;
  std::int64_t typeCode = 0;  // as stored: any whole number
  std::vector<ParameterInfo> parameters;
};

struct PropertyDetails {
  bool isSet = false;
  bool isMandatory = false;
  bool isUnique = false;
  std::string description;
  int precision = 0;
  int scale = 0;
  std::string defaultValue;
};

struct MethodDetails {
  bool isSet = false;
  std::string description;
  int precision = 0;
  int scale = 0;
};

class StoreConnection;

struct ClassInfo {
  std::string name;
  std::vector<int> superClasses;  // positions in Family::classes, in declared order
  std::vector<int> subClasses;
  std::span<PropertyInfo> properties;  // its stretch of Family::allProperties
  std::span<MethodInfo> methods;       // its stretch of Family::allMethods
};

struct Family {
  std::int64_t id = 0;
  std::string name;
  std::vector<ClassInfo> classes;
  // Every class's members, class after class, each list one allocation: a large family's members
  // go back to the system as soon as the family is dropped.
  std::vector<PropertyInfo> allProperties;
  std::vector<MethodInfo> allMethods;
  std::unordered_map<std::string, int> classByName;  // exact name -> position
  std::shared_ptr<StoreConnection> connection;        // where the members' details are read
  int findClass(const std::string& name) const;      // exact, then without regard to case; -1
};
using FamilyPtr = std::shared_ptr<const Family>;

struct FamilyEntry {
  std::int64_t id = 0;
  std::string name;
};

struct StoredQuery {
  std::int64_t id = 0;
  std::string name;
  std::string text;
};

// Member filters. Methods: 1 class level, 4 instance level; properties: 1 class level,
// 2 instance level. A filter with neither bit of its kind (0, nil) selects both levels.
inline bool methodSelected(Level level, std::int64_t filter) {
  bool c = filter & 1, i = filter & 4;
  if (!c && !i) return true;
  return level == Level::Class ? c : i;
}
inline bool propertySelected(Level level, std::int64_t filter) {
  bool c = filter & 1, i = filter & 2;
  if (!c && !i) return true;
  return level == Level::Class ? c : i;
}

}  // namespace zctl
