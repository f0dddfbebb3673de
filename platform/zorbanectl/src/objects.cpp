#include "objects.h"

#include <functional>
#include <limits>
#include <unordered_set>

#include "runtime/runtime.h"

namespace zctl {

namespace {

// A type code as the store holds it: a 4-byte integer where it fits, otherwise 8 bytes, so a
// code past 32 bits never arrives as another code.
Variant typeCodeVariant(std::int64_t code) {
  if (code >= std::numeric_limits<std::int32_t>::min() && code <= std::numeric_limits<std::int32_t>::max())
    return Variant::i4(static_cast<std::int32_t>(code));
  return Variant::i8(code);
}

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// ---- member tables (ids as the automation interface publishes them) ----

constexpr Member kCollection[] = {
    {"Item", 2, true}, {"_Item", ole::DISPID_VALUE, true}, {"_NewEnum", ole::DISPID_NEWENUM, true}, {"Count", 1, true}};
constexpr Member kQueries[] = {{"Item", 2, true}, {"Count", 1, true}};
constexpr Member kFamily[] = {{"Name", 1, true}, {"Classes", 2, true}, {"TopClasses", 3, true},
                              {"ClassFromName", 4, false}, {"Class_", 5, false}};
constexpr Member kClass[] = {{"Name", 1, true},            {"SuperClasses", 2, true},      {"SubClasses", 3, true},
                             {"Method_", 4, false},        {"Property", 5, false},         {"MethodFromName", 6, false},
                             {"PropertyFromName", 7, false}, {"Methods", 8, false},        {"Properties", 9, false},
                             {"NewInstance", 10, false}};
constexpr Member kProperty[] = {{"Name", 1, true},        {"ClassFamilyName", 2, true}, {"PropertyType", 3, true},
                                {"ClassName", 4, true},   {"IsClass", 5, true},         {"IsSet", 6, true},
                                {"IsMandatory", 7, true}, {"IsUnique", 8, true},        {"Description", 9, true},
                                {"Precision", 10, true},  {"Scale", 11, true},          {"DefaultValue", 12, true}};
constexpr Member kMethod[] = {{"Name", 1, true},        {"ClassFamilyName", 2, true},   {"MethodType", 3, true},
                              {"ClassName", 4, true},   {"IsSet", 5, true},             {"Description", 6, true},
                              {"Precision", 7, true},   {"Scale", 8, true},             {"Parameters_", 9, true},
                              {"ParameterFromName", 10, false}, {"Parameter_", 11, false}};
constexpr Member kParameter[] = {{"Name", 1, true},      {"Position", 2, true}, {"ClassName", 3, true},
                                 {"ClassFamilyName", 4, true}, {"Precision", 5, true}, {"Scale", 6, true},
                                 {"IsSet", 7, true},     {"ParameterType", 8, true}, {"DefaultValue", 9, true}};
constexpr Member kQuery[] = {{"Edit", 1, false},   {"Save", 2, false},   {"Execute", 3, false},
                             {"Create", 4, false}, {"Delete", 5, false}, {"GetQueryText", 6, false},
                             {"Run", 7, false},    {"Load", 8, false}};
constexpr Member kInstance[] = {{"ClassName", 1, true}, {"ClassFamilyName", 2, true}};
constexpr Member kFont[] = {{"Name", 0, true}, {"Size", 2, true}, {"Bold", 3, true}, {"Italic", 4, true}};

// The member table of one list of members, made on first use and kept for the program's life
// (the tables are the objects' name scopes).
template <const auto& members>
const MemberTable& table() {
  static const MemberTable t(members);
  return t;
}

// Reads argument 0 of a member that picks one of `count` elements by name (a string; any argument
// when `nameOnly`) or by number from 1. `found` becomes its 0-based position, or `count` when
// nothing matches; false (in.hr set) when the argument has the wrong type.
bool pickElement(ArgReader& in, bool nameOnly, const char* nameParam, const char* indexParam, std::size_t count,
                 const std::function<std::size_t(const std::string&)>& findName, std::size_t& found) {
  found = count;
  if (nameOnly || in.at(0).vt == ole::VT_BSTR) {
    std::string name;
    if (!in.text(0, nameParam, name)) return false;
    found = findName(name);
    return true;
  }
  std::int64_t index = 0;
  if (!in.integer(0, indexParam, index)) return false;
  if (index >= 1 && static_cast<std::size_t>(index) <= count) found = static_cast<std::size_t>(index - 1);
  return true;
}

// The first of `count` elements whose name equals `name` without regard to case; `count` when none.
std::size_t firstNamed(std::size_t count, const std::string& name,
                       const std::function<const std::string&(std::size_t)>& nameOf) {
  std::string upper = rt::toUpper(name);
  for (std::size_t i = 0; i < count; ++i)
    if (rt::toUpper(nameOf(i)) == upper) return i;
  return count;
}

// ---- collections ----

// What a collection lists: how many elements, each one's object and name. Shared by the
// collection and its enumerators, and read only.
class Elements {
 public:
  virtual ~Elements() = default;
  virtual std::size_t count() const = 0;
  virtual DispatchPtr item(std::size_t i) const = 0;
  virtual const std::string& name(std::size_t i) const = 0;
};
using ElementsPtr = std::shared_ptr<const Elements>;

class Enumerator : public ole::EnumVariantInterface {
 public:
  explicit Enumerator(ElementsPtr elements) : elements_(std::move(elements)) {}
  bool Next(Variant& item) override {
    if (next_ >= elements_->count()) return false;
    item = Variant::dispatch(elements_->item(next_++));
    return true;
  }
  void Reset() override { next_ = 0; }

 private:
  ElementsPtr elements_;
  std::size_t next_ = 0;
};

class Collection : public SchemaNode {
 public:
  explicit Collection(ElementsPtr elements)
      : SchemaNode(table<kCollection>()), elements_(std::move(elements)), count_(elements_->count()) {}

 protected:
  bool takesArguments(const Member& m) const override { return m.id == 2 || m.id == ole::DISPID_VALUE; }  // Item

  HResult get(const Member& m, Variant& result, ExcepInfo&) override {
    if (m.id == 1)  // Count
      result = Variant::i4(static_cast<std::int32_t>(count_));
    else if (m.id == ole::DISPID_NEWENUM)
      result = Variant::unknown(ole::UnknownPtr(new Enumerator(elements_)));
    else
      return ole::DISP_E_MEMBERNOTFOUND;
    return ole::S_OK;
  }

  HResult call(const Member& m, ArgReader& in, Variant& result, ExcepInfo& excep) override {
    if (!in.count(1, 1)) return in.hr;
    std::size_t position = 0;
    if (in.at(0).vt == ole::VT_BSTR) {
      if (!findByName(in.at(0).bstrVal, position))
        return fail(excep, rt::EG_BOUND, std::string(m.name) + ": no element named " + in.at(0).bstrVal);
    } else {
      std::int64_t index = 0;
      if (!in.integer(0, "index", index, -1) || !in.has(0)) {
        if (in.hr == ole::S_OK) return fail(excep, rt::EG_ARG, std::string(m.name) + ": index is missing");
        return in.hr;
      }
      if (index < 1 || static_cast<std::size_t>(index) > count_) {
        fail(excep, rt::EG_BOUND,
             std::string(m.name) + ": index " + std::to_string(index) + " is outside 1 to " + std::to_string(count_));
        return ole::DISP_E_BADINDEX;
      }
      position = static_cast<std::size_t>(index - 1);
    }
    result = Variant::dispatch(elements_->item(position));
    return ole::S_OK;
  }

 private:
  bool findByName(const std::string& name, std::size_t& position) const {
    for (std::size_t i = 0; i < count_; ++i)
      if (elements_->name(i) == name) return (position = i, true);
    std::string upper = rt::toUpper(trim(name));
    for (std::size_t i = 0; i < count_; ++i)
      if (rt::toUpper(trim(elements_->name(i))) == upper) return (position = i, true);
    return false;
  }
  ElementsPtr elements_;
  std::size_t count_;
};

// ---- member selection ----

struct MemberRef {
  int owner;  // class position
  int index;  // position in that class's list
};

// Own members first, then (when asked) those of the superclasses depth-first in declared order;
// a name seen already hides an inherited one; cycles in the superclass graph are cut. The walk
// keeps its own stack, so a store's chain of any length cannot exhaust the call stack.
template <class Info, class Pick, class Select>
std::vector<MemberRef> collect(const Family& f, int cls, bool inherited, std::int64_t filter, Pick pick,
                               Select selected) {
  std::vector<MemberRef> out;
  if (!inherited) {
    const std::span<const Info> own = pick(f.classes[cls]);
    out.reserve(own.size());
    for (std::size_t i = 0; i < own.size(); ++i)
      if (selected(own[i].level, filter)) out.push_back({cls, static_cast<int>(i)});
    return out;
  }
  std::unordered_set<std::string> seen;
  std::unordered_set<int> visited;
  std::vector<int> pending{cls};
  while (!pending.empty()) {
    const int c = pending.back();
    pending.pop_back();
    if (!visited.insert(c).second) continue;
    const std::span<const Info> list = pick(f.classes[c]);
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (!selected(list[i].level, filter)) continue;
      if (!seen.insert(list[i].name).second) continue;
      out.push_back({c, static_cast<int>(i)});
    }
    const std::vector<int>& supers = f.classes[c].superClasses;
    pending.insert(pending.end(), supers.rbegin(), supers.rend());  // the first superclass comes next
  }
  return out;
}

std::vector<MemberRef> methodsOf(const Family& f, int cls, bool inherited, std::int64_t filter) {
  return collect<MethodInfo>(
      f, cls, inherited, filter, [](const ClassInfo& c) { return c.methods; },
      methodSelected);
}
std::vector<MemberRef> propertiesOf(const Family& f, int cls, bool inherited, std::int64_t filter) {
  return collect<PropertyInfo>(
      f, cls, inherited, filter, [](const ClassInfo& c) { return c.properties; },
      propertySelected);
}

// ---- single objects ----

// A schema object that belongs to one class of a loaded family.
class ClassNode : public SchemaNode {
 public:
  ClassNode(const MemberTable& members, FamilyPtr f, int cls) : SchemaNode(members), f_(std::move(f)), cls_(cls) {}
  FamilyPtr familySchema() const override { return f_; }
  int classPosition() const override { return cls_; }

 protected:
  const ClassInfo& ownerClass() const { return f_->classes[cls_]; }
  FamilyPtr f_;
  int cls_;
};

class ParameterObject : public ClassNode {
 public:
  ParameterObject(FamilyPtr f, int cls, int method, int param)
      : ClassNode(table<kParameter>(), std::move(f), cls), method_(method), param_(param) {}

 protected:
  HResult get(const Member& m, Variant& result, ExcepInfo&) override {
    const auto& p = ownerClass().methods[method_].parameters[param_];
    switch (m.id) {
      case 1: result = Variant::bstr(p.name); break;
      case 2: result = Variant::i4(p.position); break;
      case 3: result = Variant::bstr(ownerClass().name); break;
      case 4: result = Variant::bstr(f_->name); break;
      case 5: result = Variant::i4(p.precision); break;
      case 6: result = Variant::i4(p.scale); break;
      case 7: result = Variant::boolean(p.isSet); break;
      case 8: result = typeCodeVariant(p.typeCode); break;
      case 9: result = Variant::bstr(p.defaultValue); break;
      default: return ole::DISP_E_MEMBERNOTFOUND;
    }
    return ole::S_OK;
  }

 private:
  int method_, param_;
};

class ParameterList : public Elements {
 public:
  ParameterList(FamilyPtr f, int cls, int method) : f_(std::move(f)), cls_(cls), method_(method) {}
  std::size_t count() const override { return parameters().size(); }
  DispatchPtr item(std::size_t i) const override {
    return DispatchPtr(new ParameterObject(f_, cls_, method_, static_cast<int>(i)));
  }
  const std::string& name(std::size_t i) const override { return parameters()[i].name; }

 private:
  const std::vector<ParameterInfo>& parameters() const { return f_->classes[cls_].methods[method_].parameters; }
  FamilyPtr f_;
  int cls_, method_;
};

DispatchPtr makeParameterCollection(const FamilyPtr& f, int cls, int method) {
  return DispatchPtr(new Collection(std::make_shared<ParameterList>(f, cls, method)));
}

class MethodObject : public ClassNode {
 public:
  MethodObject(FamilyPtr f, int cls, int method) : ClassNode(table<kMethod>(), std::move(f), cls), method_(method) {}

 protected:
  HResult get(const Member& m, Variant& result, ExcepInfo& excep) override {
    const auto& info = ownerClass().methods[method_];
    switch (m.id) {
      case 1: result = Variant::bstr(info.name); break;
      case 2: result = Variant::bstr(f_->name); break;
      case 3: result = typeCodeVariant(info.typeCode); break;
      case 4: result = Variant::bstr(ownerClass().name); break;
      case 5:
      case 6:
      case 7:
      case 8: return detail(m, info, result, excep);
      case 9: result = Variant::dispatch(makeParameterCollection(f_, cls_, method_)); break;
      default: return ole::DISP_E_MEMBERNOTFOUND;
    }
    return ole::S_OK;
  }

  // IsSet (5), Description (6), Precision (7), Scale (8): read from the store when asked.
  HResult detail(const Member& m, const MethodInfo& info, Variant& result, ExcepInfo& excep) {
    MethodDetails d;
    if (auto e = readDetails(*f_, info, d)) return fail(excep, e->genCode, e->description, e->fileName);
    switch (m.id) {
      case 5: result = Variant::boolean(d.isSet); break;
      case 6: result = Variant::bstr(std::move(d.description)); break;
      case 7: result = Variant::i4(d.precision); break;
      default: result = Variant::i4(d.scale); break;
    }
    return ole::S_OK;
  }

  // ParameterFromName (10), Parameter_ (11)
  HResult call(const Member& m, ArgReader& in, Variant& result, ExcepInfo&) override {
    if (!in.count(1, 1)) return in.hr;
    const auto& params = ownerClass().methods[method_].parameters;
    std::size_t found = 0;
    auto named = [&](const std::string& name) {
      return firstNamed(params.size(), name, [&](std::size_t i) -> const std::string& { return params[i].name; });
    };
    if (!pickElement(in, m.id == 10, m.id == 10 ? "ParamName" : "VarParam", "VarParam", params.size(), named, found))
      return in.hr;
    result = Variant::dispatch(found < params.size()
                                   ? DispatchPtr(new ParameterObject(f_, cls_, method_, static_cast<int>(found)))
                                   : DispatchPtr());
    return ole::S_OK;
  }

 private:
  int method_;
};

class PropertyObject : public ClassNode {
 public:
  PropertyObject(FamilyPtr f, int cls, int prop) : ClassNode(table<kProperty>(), std::move(f), cls), prop_(prop) {}

 protected:
  HResult get(const Member& m, Variant& result, ExcepInfo& excep) override {
    const auto& p = ownerClass().properties[prop_];
    switch (m.id) {
      case 1: result = Variant::bstr(p.name); break;
      case 2: result = Variant::bstr(f_->name); break;
      case 3: result = typeCodeVariant(p.typeCode); break;
      case 4: result = Variant::bstr(ownerClass().name); break;
      case 5: result = Variant::boolean(p.level == Level::Class); break;
      default: return m.id <= 12 ? detail(m, p, result, excep) : ole::DISP_E_MEMBERNOTFOUND;
    }
    return ole::S_OK;
  }

  // IsSet (6) to DefaultValue (12): read from the store when asked.
  HResult detail(const Member& m, const PropertyInfo& p, Variant& result, ExcepInfo& excep) {
    PropertyDetails d;
    if (auto e = readDetails(*f_, p, d)) return fail(excep, e->genCode, e->description, e->fileName);
    switch (m.id) {
      case 6: result = Variant::boolean(d.isSet); break;
      case 7: result = Variant::boolean(d.isMandatory); break;
      case 8: result = Variant::boolean(d.isUnique); break;
      case 9: result = Variant::bstr(std::move(d.description)); break;
      case 10: result = Variant::i4(d.precision); break;
      case 11: result = Variant::i4(d.scale); break;
      default: result = Variant::bstr(std::move(d.defaultValue)); break;
    }
    return ole::S_OK;
  }

 private:
  int prop_;
};

class InstanceObject : public ClassNode {
 public:
  InstanceObject(FamilyPtr f, int cls) : ClassNode(table<kInstance>(), std::move(f), cls) {}

 protected:
  // ClassName (1), ClassFamilyName (2)
  HResult get(const Member& m, Variant& result, ExcepInfo&) override {
    result = Variant::bstr(m.id == 1 ? ownerClass().name : f_->name);
    return ole::S_OK;
  }
};

class ClassObject : public ClassNode {
 public:
  ClassObject(FamilyPtr f, int cls) : ClassNode(table<kClass>(), std::move(f), cls) {}

 protected:
  HResult get(const Member& m, Variant& result, ExcepInfo&) override {
    const ClassInfo& c = ownerClass();
    switch (m.id) {
      case 1: result = Variant::bstr(c.name); break;
      case 2: result = Variant::dispatch(makeClassCollection(f_, &c.superClasses)); break;
      case 3: result = Variant::dispatch(makeClassCollection(f_, &c.subClasses)); break;
      default: return ole::DISP_E_MEMBERNOTFOUND;
    }
    return ole::S_OK;
  }

  HResult call(const Member& m, ArgReader& in, Variant& result, ExcepInfo&) override {
    switch (m.id) {
      case 4:    // Method_(MethodVar, IncludeInherited, SearchFilter)
      case 5:    // Property(PropVar, IncludeInherited, SearchFilter)
      case 6:    // MethodFromName(Name, IncludeInherited, SearchFilter)
      case 7: {  // PropertyFromName(Name, IncludeInherited, SearchFilter)
        if (!in.count(1, 3)) return in.hr;
        bool inherited = false;
        std::int64_t filter = 0;
        if (!in.logical(1, "IncludeInherited", inherited) || !in.integer(2, "SearchFilter", filter)) return in.hr;
        bool byName = m.id >= 6;
        bool methods = (m.id == 4 || m.id == 6);
        auto refs = methods ? methodsOf(*f_, cls_, inherited, filter) : propertiesOf(*f_, cls_, inherited, filter);
        auto nameOf = [&](std::size_t i) -> const std::string& {
          const auto& owner = f_->classes[refs[i].owner];
          return methods ? owner.methods[refs[i].index].name : owner.properties[refs[i].index].name;
        };
        const char* indexParam = methods ? "MethodVar" : "PropVar";
        std::size_t found = 0;
        if (!pickElement(in, byName, byName ? "Name" : indexParam, indexParam, refs.size(),
                         [&](const std::string& name) { return firstNamed(refs.size(), name, nameOf); }, found))
          return in.hr;
        if (found == refs.size()) {
          result = Variant::dispatch(DispatchPtr());
        } else if (methods) {
          result = Variant::dispatch(DispatchPtr(new MethodObject(f_, refs[found].owner, refs[found].index)));
        } else {
          result = Variant::dispatch(DispatchPtr(new PropertyObject(f_, refs[found].owner, refs[found].index)));
        }
        return ole::S_OK;
      }
      case 8:    // Methods(IncludeInherited, Filter)
      case 9: {  // Properties(IncludeInherited, Filter)
        if (!in.count(0, 2)) return in.hr;
        bool inherited = false;
        std::int64_t filter = 0;
        if (!in.logical(0, "IncludeInherited", inherited) || !in.integer(1, "Filter", filter)) return in.hr;
        result = Variant::dispatch(m.id == 8 ? makeMethodCollection(f_, cls_, inherited, filter)
                                             : makePropertyCollection(f_, cls_, inherited, filter));
        return ole::S_OK;
      }
      case 10:  // NewInstance
        if (!in.count(0, 0)) return in.hr;
        result = Variant::dispatch(DispatchPtr(new InstanceObject(f_, cls_)));
        return ole::S_OK;
    }
    return ole::DISP_E_MEMBERNOTFOUND;
  }
};

class FamilyObject : public SchemaNode {
 public:
  FamilyObject(SessionPtr s, std::size_t position) : SchemaNode(table<kFamily>()), s_(std::move(s)), pos_(position) {}
  FamilyPtr familySchema() const override { return loaded_; }
  const FamilyEntry* familyEntry() const override { return &s_->families[pos_]; }
  SessionPtr session() const override { return s_; }

 protected:
  HResult get(const Member& m, Variant& result, ExcepInfo& excep) override {
    if (m.id == 1) {  // Name
      result = Variant::bstr(s_->families[pos_].name);
      return ole::S_OK;
    }
    // Classes (2), TopClasses (3)
    if (HResult hr = load(excep); ole::failed(hr)) return hr;
    std::vector<int> list;
    for (std::size_t i = 0; i < loaded_->classes.size(); ++i)
      if (m.id == 2 || loaded_->classes[i].superClasses.empty()) list.push_back(static_cast<int>(i));
    result = Variant::dispatch(makeClassCollection(loaded_, std::move(list)));
    return ole::S_OK;
  }

  // ClassFromName (4), Class_ (5)
  HResult call(const Member& m, ArgReader& in, Variant& result, ExcepInfo& excep) override {
    if (HResult hr = load(excep); ole::failed(hr)) return hr;
    if (!in.count(1, 1)) return in.hr;
    std::size_t count = loaded_->classes.size(), found = 0;
    auto named = [&](const std::string& name) {
      int c = loaded_->findClass(name);
      return c < 0 ? count : static_cast<std::size_t>(c);
    };
    if (!pickElement(in, m.id == 4, m.id == 4 ? "ClassName" : "VarClass", "VarClass", count, named, found))
      return in.hr;
    result = Variant::dispatch(found < count ? makeClass(loaded_, static_cast<int>(found)) : DispatchPtr());
    return ole::S_OK;
  }

 private:
  // Everything but the name needs the family's schema, loaded whole on first use.
  HResult load(ExcepInfo& excep) { return loaded_ ? ole::S_OK : s_->family(pos_, loaded_, excep); }

  SessionPtr s_;
  std::size_t pos_;
  FamilyPtr loaded_;
};

bool wildcardMatch(const char* pattern, const char* text) {
  if (*pattern == 0) return *text == 0;
  if (*pattern == '*') return wildcardMatch(pattern + 1, text) || (*text && wildcardMatch(pattern, text + 1));
  if (*text && (*pattern == '?' || rt::toUpper(std::string(1, *pattern)) == rt::toUpper(std::string(1, *text))))
    return wildcardMatch(pattern + 1, text + 1);
  return false;
}

class QueryObject : public SchemaNode {
 public:
  explicit QueryObject(SessionPtr s) : SchemaNode(table<kQuery>()), s_(std::move(s)) {}

 protected:
  HResult call(const Member& m, ArgReader& in, Variant& result, ExcepInfo& excep) override {
    switch (m.id) {
      case 1:  // Edit
      case 2:  // Save
      case 4:  // Create
      case 5:  // Delete
        return readOnly(excep, m.name);
      case 8:  // Load: re-reads the stored queries; a query file is not supported by a read-only store
        if (!in.count(0, 1)) return in.hr;
        if (in.has(0)) return fail(excep, rt::EG_UNSUPPORTED, "Load: loading queries from a file is not supported");
        if (auto e = s_->store.queries(s_->queries)) return fail(excep, e->genCode, e->description, e->fileName);
        result = Variant::i4(static_cast<std::int32_t>(s_->queries.size()));
        return ole::S_OK;
    }
    if (!in.count(1, 1)) return in.hr;
    const StoredQuery* q = nullptr;
    std::string key;
    std::int64_t id = 0;
    if (in.at(0).vt == ole::VT_BSTR) {
      key = in.at(0).bstrVal;
      for (const auto& s : s_->queries)
        if (rt::toUpper(s.name) == rt::toUpper(key)) q = &s;
    } else {
      if (!in.integer(0, "QueryId", id)) return in.hr;
      key = std::to_string(id);
      for (const auto& s : s_->queries)
        if (s.id == id) q = &s;
    }
    if (!q) return fail(excep, rt::EG_ARG, std::string(m.name) + ": no stored query " + key);
    if (m.id == 6) {
      result = Variant::bstr(q->text);
      return ole::S_OK;
    }
    return runQueryExpression(s_, q->text, result, excep);  // Execute, Run
  }

 private:
  SessionPtr s_;
};

class FontObject : public TableDispatch {
 public:
  FontObject() : TableDispatch(table<kFont>()) {}

 protected:
  HResult invokeMember(const Member& m, Access access, std::vector<Variant>& args, Variant& result,
                       ExcepInfo& excep) override {
    Variant& slot = values_[m.id];
    if (access == Access::Put) {
      ole::VarType want = m.id == 0 ? ole::VT_BSTR : m.id == 2 ? ole::VT_I4 : ole::VT_BOOL;
      if (args.back().vt != want && !(want == ole::VT_I4 && args.back().vt == ole::VT_I2))
        return fail(excep, rt::EG_ARG, std::string(m.name) + ": wrong value type");
      slot = args.back();
      return ole::S_OK;
    }
    result = slot;
    return ole::S_OK;
  }

 private:
  std::unordered_map<ole::DispId, Variant> values_{{0, Variant::bstr("Arial")},
                                                  {2, Variant::i4(8)},
                                                  {3, Variant::boolean(false)},
                                                  {4, Variant::boolean(false)}};
};

}  // namespace

HResult SchemaNode::invokeMember(const Member& m, Access access, std::vector<Variant>& args, Variant& result,
                                 ExcepInfo& excep) {
  if (access == Access::Put) return readOnly(excep, m.name);
  ArgReader in(args, m.name, excep);
  if (takesArguments(m)) return call(m, in, result, excep);
  if (!in.count(0, 0)) return in.hr;
  return get(m, result, excep);
}

HResult SchemaNode::get(const Member&, Variant&, ExcepInfo&) { return ole::DISP_E_MEMBERNOTFOUND; }

HResult SchemaNode::call(const Member&, ArgReader&, Variant&, ExcepInfo&) { return ole::DISP_E_MEMBERNOTFOUND; }

HResult Session::family(std::size_t position, FamilyPtr& out, ExcepInfo& excep) {
  if (!store.isOpen()) return fail(excep, rt::EG_OLE, "The connection to the schema store is closed");
  if (auto e = store.loadFamily(families[position], out)) return fail(excep, e->genCode, e->description, e->fileName);
  return ole::S_OK;
}

int Session::findFamily(const std::string& name) const {
  for (std::size_t i = 0; i < families.size(); ++i)
    if (families[i].name == name) return static_cast<int>(i);
  std::string t = trim(name);
  for (std::size_t i = 0; i < families.size(); ++i)
    if (trim(families[i].name) == t) return static_cast<int>(i);
  std::string upper = rt::toUpper(t);
  for (std::size_t i = 0; i < families.size(); ++i)
    if (rt::toUpper(trim(families[i].name)) == upper) return static_cast<int>(i);
  return -1;
}

namespace {

class FamilyList : public Elements {
 public:
  explicit FamilyList(SessionPtr s) : s_(std::move(s)) {}
  std::size_t count() const override { return s_->families.size(); }
  DispatchPtr item(std::size_t i) const override { return makeFamily(s_, i); }
  const std::string& name(std::size_t i) const override { return s_->families[i].name; }

 private:
  SessionPtr s_;
};

// Classes of a family by position: a list of the family's own (a class's superclasses or
// subclasses) or one made for the collection.
class ClassList : public Elements {
 public:
  ClassList(FamilyPtr f, const std::vector<int>* borrowed) : f_(std::move(f)), list_(borrowed) {}
  ClassList(FamilyPtr f, std::vector<int> owned) : f_(std::move(f)), owned_(std::move(owned)), list_(&owned_) {}
  ClassList(const ClassList&) = delete;
  ClassList& operator=(const ClassList&) = delete;
  std::size_t count() const override { return list_->size(); }
  DispatchPtr item(std::size_t i) const override { return makeClass(f_, (*list_)[i]); }
  const std::string& name(std::size_t i) const override { return f_->classes[(*list_)[i]].name; }

 private:
  FamilyPtr f_;
  std::vector<int> owned_;
  const std::vector<int>* list_;
};

// The methods or properties a class lists, as Object over members of ClassInfo::*list.
template <class Object, class Info, std::span<Info> ClassInfo::*list>
class MemberList : public Elements {
 public:
  MemberList(FamilyPtr f, std::vector<MemberRef> refs) : f_(std::move(f)), refs_(std::move(refs)) {}
  std::size_t count() const override { return refs_.size(); }
  DispatchPtr item(std::size_t i) const override { return DispatchPtr(new Object(f_, refs_[i].owner, refs_[i].index)); }
  const std::string& name(std::size_t i) const override { return (f_->classes[refs_[i].owner].*list)[refs_[i].index].name; }

 private:
  FamilyPtr f_;
  std::vector<MemberRef> refs_;
};
using MethodList = MemberList<MethodObject, MethodInfo, &ClassInfo::methods>;
using PropertyList = MemberList<PropertyObject, PropertyInfo, &ClassInfo::properties>;

}  // namespace

DispatchPtr makeFamilyCollection(const SessionPtr& s) {
  return DispatchPtr(new Collection(std::make_shared<FamilyList>(s)));
}

DispatchPtr makeFamily(const SessionPtr& s, std::size_t position) { return DispatchPtr(new FamilyObject(s, position)); }

DispatchPtr makeClass(const FamilyPtr& f, int cls) { return DispatchPtr(new ClassObject(f, cls)); }

DispatchPtr makeClassCollection(const FamilyPtr& f, std::vector<int> classes) {
  return DispatchPtr(new Collection(std::make_shared<ClassList>(f, std::move(classes))));
}

DispatchPtr makeClassCollection(const FamilyPtr& f, const std::vector<int>* familyList) {
  return DispatchPtr(new Collection(std::make_shared<ClassList>(f, familyList)));
}

DispatchPtr makeMethodCollection(const FamilyPtr& f, int cls, bool inherited, std::int64_t filter) {
  return DispatchPtr(new Collection(std::make_shared<MethodList>(f, methodsOf(*f, cls, inherited, filter))));
}

DispatchPtr makePropertyCollection(const FamilyPtr& f, int cls, bool inherited, std::int64_t filter) {
  return DispatchPtr(new Collection(std::make_shared<PropertyList>(f, propertiesOf(*f, cls, inherited, filter))));
}

DispatchPtr makeQueryObject(const SessionPtr& s) { return DispatchPtr(new QueryObject(s)); }
DispatchPtr makeFont() { return DispatchPtr(new FontObject()); }

HResult runQueryExpression(const SessionPtr& s, const std::string& expression, Variant& result, ExcepInfo& excep) {
  auto colon = expression.find(':');
  if (colon == std::string::npos)
    return fail(excep, rt::EG_SYNTAX, "Query expression \"" + expression + "\" is not of the form family : pattern");
  std::string familyName = trim(expression.substr(0, colon));
  std::string pattern = trim(expression.substr(colon + 1));
  int pos = s->findFamily(familyName);
  if (pos < 0) return fail(excep, rt::EG_ARG, "Query expression names unknown class family " + familyName);
  FamilyPtr f;
  if (HResult hr = s->family(static_cast<std::size_t>(pos), f, excep); ole::failed(hr)) return hr;
  std::vector<int> list;
  for (std::size_t i = 0; i < f->classes.size(); ++i)
    if (wildcardMatch(pattern.c_str(), f->classes[i].name.c_str())) list.push_back(static_cast<int>(i));
  result = Variant::dispatch(makeClassCollection(f, std::move(list)));
  return ole::S_OK;
}

std::span<const Member> collectionMembers() { return kCollection; }
std::span<const Member> queriesMembers() { return kQueries; }
std::span<const Member> familyMembers() { return kFamily; }
std::span<const Member> classMembers() { return kClass; }
std::span<const Member> propertyMembers() { return kProperty; }
std::span<const Member> methodMembers() { return kMethod; }
std::span<const Member> parameterMembers() { return kParameter; }
std::span<const Member> queryMembers() { return kQuery; }

}  // namespace zctl
