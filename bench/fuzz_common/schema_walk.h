// Walks everything a connected database control offers, as the program's load and the report
// hooks read it: every family, class, superclass, subclass, member and parameter, and every
// stored query run. Counts are capped so that a large store still gives a quick run.
#pragma once
#include <algorithm>
#include <vector>

#include "zorbanectl/zorbanectl.h"

namespace fuzz {

inline rt::Value send(const rt::Value& on, const char* member, std::vector<rt::Value> args = {}) {
  if (!on.isObject()) return rt::Value();
  return on.asObject()->send(rt::Symbol(member), args);
}

inline long countOf(const rt::Value& collection) {
  const rt::Value n = send(collection, "Count");
  return n.isNumber() ? std::min(static_cast<long>(n.asNumber()), 40L) : 0;
}

template <class Visit>
void eachItem(const rt::Value& collection, Visit visit) {
  const long n = countOf(collection);
  for (long i = 1; i <= n; ++i) visit(send(collection, "Item", {rt::Value(i)}));
}

inline void walkMembers(const rt::Value& cls, const char* what, bool inherited) {
  eachItem(send(cls, what, {rt::Value(inherited), rt::Value(inherited ? 4 : 1)}), [&](const rt::Value& m) {
    (void)send(m, "Name");
    (void)send(m, "ClassName");
    (void)send(m, "DefaultValue");
    eachItem(send(m, "Parameters_"), [](const rt::Value& p) { (void)send(p, "ParameterType"); });
  });
}

inline void walkSchema(const ole::AutoObjectPtr& control) {
  const rt::Value self(control);
  eachItem(send(self, "ClassFamilies"), [&](const rt::Value& family) {
    (void)send(self, "ClassFamily", {send(family, "Name")});
    eachItem(send(family, "TopClasses"), [](const rt::Value& c) { (void)send(c, "Name"); });
    eachItem(send(family, "Classes"), [&](const rt::Value& cls) {
      eachItem(send(cls, "SuperClasses"), [](const rt::Value& c) { (void)send(c, "Name"); });
      eachItem(send(cls, "SubClasses"), [](const rt::Value& c) { (void)send(c, "Name"); });
      walkMembers(cls, "Methods", false);
      walkMembers(cls, "Methods", true);
      walkMembers(cls, "Properties", false);
      walkMembers(cls, "Properties", true);
      (void)send(self, "GetClassObject", {send(family, "Name"), send(cls, "Name")});
    });
  });
  const rt::Value query = send(self, "Query");
  for (long i = 1; i <= 8; ++i) {
    (void)send(query, "GetQueryText", {rt::Value(i)});
    eachItem(send(query, "Execute", {rt::Value(i)}), [](const rt::Value& c) { (void)send(c, "Name"); });
  }
}

}  // namespace fuzz
