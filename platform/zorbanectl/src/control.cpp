#include <atomic>

#include "objects.h"
#include "runtime/runtime.h"
#include "zorbanectl/zorbanectl.h"

namespace zctl {

namespace {

constexpr Member kControl[] = {
    {"Connect", 24, false},
    {"Disconnect", 25, false},
    {"TransactionRollback", 26, false},
    {"ExecuteStatement", 27, false},
    {"ClassFamilyFromName", 30, false},
    {"ClassFamilyFromInstance", 31, false},
    {"ClassFromInstance", 32, false},
    {"PropertiesFromInstance", 33, false},
    {"MethodsFromInstance", 34, false},
    {"TransactionStart", 35, false},
    {"TransactionCommit", 36, false},
    {"ClassFamily", 37, false},
    {"RunQueryExpression", 38, false},
    {"GetClassObject", 39, false},
    {"IsWithinTransaction", 40, false},
    {"AboutBox", ole::DISPID_ABOUTBOX, false},
    {"ShowToolTip", 1, true},
    {"ToolTipText", 2, true},
    {"UserName", 3, true},
    {"Password", 4, true},
    {"ClassFamilies", 5, true},
    {"QueryExpression", 6, true},
    {"Environment", 10, true},
    {"HostName", 11, true},
    {"ShowLogon", 12, true},
    {"UseConnectionManager", 13, true},
    {"Query", 14, true},
    {"RemoteNode", 15, true},
    {"Protocol", 16, true},
    {"ListenAddress", 17, true},
    {"ServerPortID", 18, true},
    {"ConnectionName", 19, true},
    {"TransactionState", 20, true},
    {"ConnectionState", 21, true},
    {"ContainerType", 22, true},
    {"SessionHandle", 23, true},
    {"Caption", ole::DISPID_CAPTION, true},
    {"Font", ole::DISPID_FONT, true},
    {"Enabled", ole::DISPID_ENABLED, true},
};

// Persistent value properties: what the stored state may set and a put may change.
struct ValueProperty {
  ole::DispId id;
  ole::VarType type;
};
constexpr ValueProperty kValueProperties[] = {
    {1, ole::VT_BOOL},  {2, ole::VT_BSTR},  {3, ole::VT_BSTR},  {4, ole::VT_BSTR},  {6, ole::VT_BSTR},
    {10, ole::VT_BSTR}, {11, ole::VT_BSTR}, {12, ole::VT_BOOL}, {13, ole::VT_BOOL}, {15, ole::VT_BSTR},
    {16, ole::VT_BSTR}, {17, ole::VT_BSTR}, {18, ole::VT_BSTR}, {19, ole::VT_BSTR}, {ole::DISPID_CAPTION, ole::VT_BSTR},
    {ole::DISPID_ENABLED, ole::VT_BOOL},
};

const ValueProperty* valueProperty(ole::DispId id) {
  for (const auto& p : kValueProperties)
    if (p.id == id) return &p;
  return nullptr;
}

const MemberTable& controlTable() {
  static MemberTable t(kControl);
  return t;
}

std::atomic<std::int32_t> sessionCounter{0};

constexpr std::int32_t kDisconnected = 0, kConnected = 1;

class ZorbaneControl : public TableDispatch {
 public:
  ZorbaneControl() : TableDispatch(controlTable()) {
    for (const auto& p : kValueProperties)
      values_[p.id] = p.type == ole::VT_BOOL ? Variant::boolean(p.id == ole::DISPID_ENABLED) : Variant::bstr("");
    values_[12] = Variant::boolean(true);  // ShowLogon
  }

  // Applies the stored state; false with excep filled on an unknown key or a bad value.
  bool load(const ole::StoredState& state, ExcepInfo& excep) {
    for (const auto& [key, text] : state.properties) {
      if (rt::toUpper(key) == "DATABASE") {
        database_ = state.resolvePath(text);
        continue;
      }
      const Member* m = controlTable().byName(key);
      const ValueProperty* vp = m ? valueProperty(m->id) : nullptr;
      if (!vp) {
        fail(excep, rt::EG_CORRUPTION, "Stored state " + state.filePath + ": unknown control property " + key,
             state.filePath);
        return false;
      }
      if (vp->type == ole::VT_BSTR) {
        values_[vp->id] = Variant::bstr(text);
        continue;
      }
      std::string upper = rt::toUpper(text);
      if (upper == "TRUE" || upper == "YES" || upper == "1" || upper == ".T.") {
        values_[vp->id] = Variant::boolean(true);
      } else if (upper == "FALSE" || upper == "NO" || upper == "0" || upper == ".F.") {
        values_[vp->id] = Variant::boolean(false);
      } else {
        fail(excep, rt::EG_CORRUPTION,
             "Stored state " + state.filePath + ": " + key + " must be true or false, not \"" + text + "\"",
             state.filePath);
        return false;
      }
    }
    return true;
  }

 protected:
  HResult invokeMember(const Member& m, Access access, std::vector<Variant>& args, Variant& result,
                       ExcepInfo& excep) override {
    if (m.property) return property(m, access, args, result, excep);
    ArgReader in(args, m.name, excep);
    switch (m.id) {
      case 24:  // Connect
        if (!in.count(0, 0)) return in.hr;
        return connect(excep);
      case 25:  // Disconnect
        if (!in.count(0, 0)) return in.hr;
        if (session_) session_->store.close();
        session_.reset();
        transaction_ = 0;
        return ole::S_OK;
      case ole::DISPID_ABOUTBOX:
        return in.count(0, 0) ? ole::S_OK : in.hr;
      case 40:  // IsWithinTransaction
        if (!in.count(0, 0)) return in.hr;
        result = Variant::boolean(transaction_ != 0);
        return ole::S_OK;
    }
    if (!session_) return notConnected(excep, m.name);
    switch (m.id) {
      case 26:  // TransactionRollback
        if (!in.count(0, 0)) return in.hr;
        transaction_ = 0;
        return ole::S_OK;
      case 27: {  // ExecuteStatement(Statement)
        std::string statement;
        if (!in.count(1, 1) || !in.text(0, "Statement", statement)) return in.hr;
        return readOnly(excep, m.name);
      }
      case 30:    // ClassFamilyFromName(ClassFamily)
      case 37: {  // ClassFamily(NameOrIndex)
        if (!in.count(1, 1)) return in.hr;
        return familyByKey(m, in, args, result, excep);
      }
      case 31:    // ClassFamilyFromInstance(Instance)
      case 32:    // ClassFromInstance(Instance)
      case 33:    // PropertiesFromInstance(Instance, IncludeInherited, Filter)
      case 34: {  // MethodsFromInstance(Instance, IncludeInherited, Filter)
        if (!in.count(1, m.id >= 33 ? 3 : 1)) return in.hr;
        auto* node = args[0].vt == ole::VT_DISPATCH ? dynamic_cast<SchemaNode*>(args[0].pdispVal.get()) : nullptr;
        if (!node)
          return fail(excep, rt::EG_ARG, std::string(m.name) + ": Instance is not an object of this database");
        if (m.id == 31) {
          const FamilyEntry* entry = node->familyEntry();
          FamilyPtr f = node->familySchema();
          for (std::size_t i = 0; i < session_->families.size(); ++i)
            if ((entry && session_->families[i].id == entry->id) || (f && session_->families[i].id == f->id)) {
              result = Variant::dispatch(makeFamily(session_, i));
              return ole::S_OK;
            }
          result = Variant::dispatch(DispatchPtr());
          return ole::S_OK;
        }
        FamilyPtr f = node->familySchema();
        int cls = node->classPosition();
        if (!f || cls < 0) {
          result = Variant::dispatch(DispatchPtr());
          return ole::S_OK;
        }
        if (m.id == 32) {
          result = Variant::dispatch(makeClass(f, cls));
          return ole::S_OK;
        }
        bool inherited = false;
        std::int64_t filter = 0;
        if (!in.logical(1, "IncludeInherited", inherited) || !in.integer(2, "Filter", filter)) return in.hr;
        result = Variant::dispatch(m.id == 33 ? makePropertyCollection(f, cls, inherited, filter)
                                              : makeMethodCollection(f, cls, inherited, filter));
        return ole::S_OK;
      }
      case 35:  // TransactionStart(ReadOnly)
        if (!in.count(0, 1)) return in.hr;
        transaction_ = 1;
        result = Variant::i4(transaction_);
        return ole::S_OK;
      case 36:  // TransactionCommit(Flag)
        if (!in.count(0, 1)) return in.hr;
        transaction_ = 0;
        return ole::S_OK;
      case 38: {  // RunQueryExpression(Expression)
        if (!in.count(0, 1)) return in.hr;
        std::string expression = values_[6].bstrVal;
        if (in.has(0) && !in.text(0, "Expression", expression)) return in.hr;
        return runQueryExpression(session_, expression, result, excep);
      }
      case 39: {  // GetClassObject(ClassFamily, Class)
        std::string familyName, className;
        if (!in.count(2, 2) || !in.text(0, "ClassFamily", familyName) || !in.text(1, "Class", className)) return in.hr;
        int pos = session_->findFamily(familyName);
        if (pos < 0) return unknownFamily(familyName, excep);
        FamilyPtr f;
        if (HResult hr = session_->family(static_cast<std::size_t>(pos), f, excep); ole::failed(hr)) return hr;
        int cls = f->findClass(className);
        result = Variant::dispatch(cls >= 0 ? makeClass(f, cls) : DispatchPtr());
        return ole::S_OK;
      }
    }
    return ole::DISP_E_MEMBERNOTFOUND;
  }

 private:
  HResult property(const Member& m, Access access, std::vector<Variant>& args, Variant& result, ExcepInfo& excep) {
    if (const ValueProperty* vp = valueProperty(m.id)) {
      if (access == Access::Get) {
        if (!args.empty()) return ole::DISP_E_BADPARAMCOUNT;
        result = values_[m.id];
        return ole::S_OK;
      }
      if (args.size() != 1) return ole::DISP_E_BADPARAMCOUNT;
      if (args[0].vt != vp->type)
        return fail(excep, rt::EG_ARG,
                    std::string(m.name) + (vp->type == ole::VT_BOOL ? " must be a logical" : " must be a string"));
      values_[m.id] = args[0];
      return ole::S_OK;
    }
    if (m.id == ole::DISPID_FONT) {
      if (access == Access::Get) {
        if (!font_) font_ = makeFont();
        result = Variant::dispatch(font_);
        return ole::S_OK;
      }
      if (args.size() != 1 || args[0].vt != ole::VT_DISPATCH || !args[0].pdispVal)
        return fail(excep, rt::EG_ARG, "Font must be a font object");
      font_ = args[0].pdispVal;
      return ole::S_OK;
    }
    if (access == Access::Put) return fail(excep, rt::EG_READONLY, std::string(m.name) + " is a read-only property");
    if (!args.empty()) return ole::DISP_E_BADPARAMCOUNT;
    switch (m.id) {
      case 5:  // ClassFamilies
        if (!session_) return notConnected(excep, m.name);
        result = Variant::dispatch(makeFamilyCollection(session_));
        return ole::S_OK;
      case 14:  // Query
        if (!session_) return notConnected(excep, m.name);
        result = Variant::dispatch(makeQueryObject(session_));
        return ole::S_OK;
      case 20: result = Variant::i4(transaction_); return ole::S_OK;
      case 21: result = Variant::i4(session_ ? kConnected : kDisconnected); return ole::S_OK;
      case 22: result = Variant::i2(0); return ole::S_OK;
      case 23: result = Variant::i4(session_ ? sessionHandle_ : 0); return ole::S_OK;
    }
    return ole::DISP_E_MEMBERNOTFOUND;
  }

  HResult connect(ExcepInfo& excep) {
    if (session_) return ole::S_OK;
    auto s = std::make_shared<Session>();
    if (auto e = s->store.open(database_)) return fail(excep, e->genCode, e->description, e->fileName);
    if (auto e = s->store.families(s->families)) return fail(excep, e->genCode, e->description, e->fileName);
    if (auto e = s->store.queries(s->queries)) return fail(excep, e->genCode, e->description, e->fileName);
    session_ = std::move(s);
    sessionHandle_ = ++sessionCounter;
    return ole::S_OK;
  }

  HResult familyByKey(const Member& m, ArgReader& in, std::vector<Variant>& args, Variant& result, ExcepInfo& excep) {
    int pos = -1;
    if (m.id == 30 || args[0].vt == ole::VT_BSTR) {
      std::string name;
      if (!in.text(0, m.id == 30 ? "ClassFamily" : "NameOrIndex", name)) return in.hr;
      pos = session_->findFamily(name);
      if (pos < 0) return unknownFamily(name, excep);
    } else {
      std::int64_t index = 0;
      if (!in.integer(0, "NameOrIndex", index) || !in.has(0)) {
        if (in.hr != ole::S_OK) return in.hr;
        return fail(excep, rt::EG_ARG, "ClassFamily: NameOrIndex is missing");
      }
      if (index < 1 || static_cast<std::size_t>(index) > session_->families.size())
        return fail(excep, rt::EG_BOUND,
                    "ClassFamily: index " + std::to_string(index) + " is outside 1 to " +
                        std::to_string(session_->families.size()));
      pos = static_cast<int>(index - 1);
    }
    result = Variant::dispatch(makeFamily(session_, static_cast<std::size_t>(pos)));
    return ole::S_OK;
  }

  HResult unknownFamily(const std::string& name, ExcepInfo& excep) {
    return fail(excep, rt::EG_ARG, "Class family \"" + name + "\" does not exist in " + session_->store.path(),
                session_->store.path());
  }

  HResult notConnected(ExcepInfo& excep, const char* member) {
    return fail(excep, rt::EG_OLE, std::string(member) + ": not connected (call Connect first)");
  }

  std::unordered_map<ole::DispId, Variant> values_;
  std::string database_;
  SessionPtr session_;
  DispatchPtr font_;
  std::int32_t transaction_ = 0;
  std::int32_t sessionHandle_ = 0;
};

}  // namespace

DispatchPtr createControl(const ole::StoredState& state, ExcepInfo& excep) {
  auto* control = new ZorbaneControl();
  DispatchPtr holder(control);
  if (!control->load(state, excep)) return nullptr;
  return holder;
}

void registerControl() {
  if (!ole::isControlClassRegistered(kControlClassName)) ole::registerControlClass(kControlClassName, createControl);
}

std::vector<MemberInfo> interfaceMembers(std::string_view interfaceName) {
  std::span<const Member> members;
  std::string name = rt::toUpper(interfaceName);
  if (name == "ZORBANE") members = kControl;
  else if (name == "ZCLASSFAMILIES" || name == "ZCLASSES" || name == "ZMETHODS" || name == "ZPARAMETERS" ||
           name == "ZPROPERTIES") members = collectionMembers();
  else if (name == "ZQUERIES") members = queriesMembers();
  else if (name == "ZCLASSFAMILY") members = familyMembers();
  else if (name == "ZCLASS") members = classMembers();
  else if (name == "ZPROPERTY") members = propertyMembers();
  else if (name == "ZMETHOD") members = methodMembers();
  else if (name == "ZPARAMETER") members = parameterMembers();
  else if (name == "ZQUERY") members = queryMembers();
  std::vector<MemberInfo> out;
  for (const auto& m : members) out.push_back({m.name, m.id, m.property});
  return out;
}

}  // namespace zctl
