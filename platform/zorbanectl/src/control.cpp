#include <atomic>

#include "objects.h"
#include "runtime/runtime.h"
#include "zorbanectl/zorbanectl.h"

namespace zctl {

namespace {

std::atomic<std::int32_t> sessionCounter{0};

constexpr std::int32_t kDisconnected = 0, kConnected = 1;

const MemberTable& controlTable();

// The control. Each member of its table carries the function that carries it out; the value
// properties' handlers also say what type the stored state and a put must give them.
class ZorbaneControl : public TableDispatch {
 public:
  ZorbaneControl() : TableDispatch(controlTable()) {
    for (const Member& m : controlTable().members())
      if (const ole::VarType type = storedType(m); type != ole::VT_EMPTY)
        values_[m.id] = type == ole::VT_BOOL ? Variant::boolean(m.id == ole::DISPID_ENABLED) : Variant::bstr("");
    values_[controlTable().byName("ShowLogon")->id] = Variant::boolean(true);
  }

  // Applies the stored state; false with excep filled on an unknown key or a bad value.
  bool load(const ole::StoredState& state, ExcepInfo& excep) {
    for (const auto& [key, text] : state.properties) {
      if (rt::toUpper(key) == "DATABASE") {
        database_ = state.resolvePath(text);
        continue;
      }
      const Member* m = controlTable().byName(key);
      const ole::VarType type = m ? storedType(*m) : ole::VT_EMPTY;
      if (type == ole::VT_EMPTY) {
        fail(excep, rt::EG_CORRUPTION, "Stored state " + state.filePath + ": unknown control property " + key,
             state.filePath);
        return false;
      }
      if (type == ole::VT_BSTR) {
        values_[m->id] = Variant::bstr(text);
        continue;
      }
      std::string upper = rt::toUpper(text);
      if (upper == "TRUE" || upper == "YES" || upper == "1" || upper == ".T.") {
        values_[m->id] = Variant::boolean(true);
      } else if (upper == "FALSE" || upper == "NO" || upper == "0" || upper == ".F.") {
        values_[m->id] = Variant::boolean(false);
      } else {
        fail(excep, rt::EG_CORRUPTION,
             "Stored state " + state.filePath + ": " + key + " must be true or false, not \"" + text + "\"",
             state.filePath);
        return false;
      }
    }
    return true;
  }

  // ---- handlers, as the member table names them

  // Runs `method` on the control called.
  template <HResult (ZorbaneControl::*method)(Invocation&)>
  static HResult on(TableDispatch& self, Invocation& call) {
    return (static_cast<ZorbaneControl&>(self).*method)(call);
  }
  // The same for a member that needs a connection.
  template <HResult (ZorbaneControl::*method)(Invocation&)>
  static HResult connected(TableDispatch& self, Invocation& call) {
    auto& control = static_cast<ZorbaneControl&>(self);
    if (!control.session_) return control.notConnected(call.excep, call.m.name);
    return (control.*method)(call);
  }
  // A read-only property: a put is refused and a get takes no argument.
  template <HResult (ZorbaneControl::*method)(Invocation&)>
  static HResult readOnly(TableDispatch& self, Invocation& call) {
    if (call.access == Access::Put)
      return fail(call.excep, rt::EG_READONLY, std::string(call.m.name) + " is a read-only property");
    if (!call.args.empty()) return ole::DISP_E_BADPARAMCOUNT;
    return (static_cast<ZorbaneControl&>(self).*method)(call);
  }
  static HResult logicalValue(TableDispatch& self, Invocation& call) {
    return static_cast<ZorbaneControl&>(self).value(call, ole::VT_BOOL);
  }
  static HResult textValue(TableDispatch& self, Invocation& call) {
    return static_cast<ZorbaneControl&>(self).value(call, ole::VT_BSTR);
  }
  // The type a value property keeps; VT_EMPTY for any other member.
  static ole::VarType storedType(const Member& m) {
    return m.handler == &logicalValue ? ole::VT_BOOL : m.handler == &textValue ? ole::VT_BSTR : ole::VT_EMPTY;
  }

  HResult Connect(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(0, 0)) return in.hr;
    if (session_) return ole::S_OK;
    auto s = std::make_shared<Session>();
    if (auto e = s->store.open(database_)) return fail(c.excep, e->genCode, e->description, e->fileName);
    if (auto e = s->store.families(s->families)) return fail(c.excep, e->genCode, e->description, e->fileName);
    if (auto e = s->store.queries(s->queries)) return fail(c.excep, e->genCode, e->description, e->fileName);
    session_ = std::move(s);
    sessionHandle_ = ++sessionCounter;
    return ole::S_OK;
  }
  HResult Disconnect(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(0, 0)) return in.hr;
    if (session_) session_->store.close();
    session_.reset();
    transaction_ = 0;
    return ole::S_OK;
  }
  HResult AboutBox(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    return in.count(0, 0) ? ole::S_OK : in.hr;
  }
  HResult IsWithinTransaction(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(0, 0)) return in.hr;
    c.result = Variant::boolean(transaction_ != 0);
    return ole::S_OK;
  }
  HResult TransactionRollback(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(0, 0)) return in.hr;
    transaction_ = 0;
    return ole::S_OK;
  }
  HResult ExecuteStatement(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    std::string statement;
    if (!in.count(1, 1) || !in.text(0, "Statement", statement)) return in.hr;
    return zctl::readOnly(c.excep, c.m.name);
  }
  HResult ClassFamilyFromName(Invocation& c) { return familyByKey(c, true, "ClassFamily"); }
  HResult ClassFamily(Invocation& c) { return familyByKey(c, false, "NameOrIndex"); }
  HResult ClassFamilyFromInstance(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    SchemaNode* node = nullptr;
    if (HResult hr = instance(c, in, 1, node); hr != ole::S_OK) return hr;
    const FamilyEntry* entry = node->familyEntry();
    FamilyPtr f = node->familySchema();
    for (std::size_t i = 0; i < session_->families.size(); ++i)
      if ((entry && session_->families[i].id == entry->id) || (f && session_->families[i].id == f->id)) {
        c.result = Variant::dispatch(makeFamily(session_, i));
        return ole::S_OK;
      }
    c.result = Variant::dispatch(DispatchPtr());
    return ole::S_OK;
  }
  HResult ClassFromInstance(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    SchemaNode* node = nullptr;
    if (HResult hr = instance(c, in, 1, node); hr != ole::S_OK) return hr;
    FamilyPtr f = node->familySchema();
    const int cls = node->classPosition();
    c.result = Variant::dispatch(f && cls >= 0 ? makeClass(f, cls) : DispatchPtr());
    return ole::S_OK;
  }
  HResult PropertiesFromInstance(Invocation& c) { return membersFromInstance(c, makePropertyCollection); }
  HResult MethodsFromInstance(Invocation& c) { return membersFromInstance(c, makeMethodCollection); }
  HResult TransactionStart(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(0, 1)) return in.hr;
    transaction_ = 1;
    c.result = Variant::i4(transaction_);
    return ole::S_OK;
  }
  HResult TransactionCommit(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(0, 1)) return in.hr;
    transaction_ = 0;
    return ole::S_OK;
  }
  HResult RunQueryExpression(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(0, 1)) return in.hr;
    std::string expression = values_[controlTable().byName("QueryExpression")->id].bstrVal;
    if (in.has(0) && !in.text(0, "Expression", expression)) return in.hr;
    return runQueryExpression(session_, expression, c.result, c.excep);
  }
  HResult GetClassObject(Invocation& c) {
    ArgReader in(c.args, c.m.name, c.excep);
    std::string familyName, className;
    if (!in.count(2, 2) || !in.text(0, "ClassFamily", familyName) || !in.text(1, "Class", className)) return in.hr;
    const int pos = session_->findFamily(familyName);
    if (pos < 0) return unknownFamily(familyName, c.excep);
    FamilyPtr f;
    if (HResult hr = session_->family(static_cast<std::size_t>(pos), f, c.excep); ole::failed(hr)) return hr;
    const int cls = f->findClass(className);
    c.result = Variant::dispatch(cls >= 0 ? makeClass(f, cls) : DispatchPtr());
    return ole::S_OK;
  }

  HResult Font(Invocation& c) {
    if (c.access == Access::Get) {
      if (!font_) font_ = makeFont();
      c.result = Variant::dispatch(font_);
      return ole::S_OK;
    }
    if (c.args.size() != 1 || c.args[0].vt != ole::VT_DISPATCH || !c.args[0].pdispVal)
      return fail(c.excep, rt::EG_ARG, "Font must be a font object");
    font_ = c.args[0].pdispVal;
    return ole::S_OK;
  }
  HResult ClassFamilies(Invocation& c) {
    if (!session_) return notConnected(c.excep, c.m.name);
    c.result = Variant::dispatch(makeFamilyCollection(session_));
    return ole::S_OK;
  }
  HResult Query(Invocation& c) {
    if (!session_) return notConnected(c.excep, c.m.name);
    c.result = Variant::dispatch(makeQueryObject(session_));
    return ole::S_OK;
  }
  HResult TransactionState(Invocation& c) {
    c.result = Variant::i4(transaction_);
    return ole::S_OK;
  }
  HResult ConnectionState(Invocation& c) {
    c.result = Variant::i4(session_ ? kConnected : kDisconnected);
    return ole::S_OK;
  }
  HResult ContainerType(Invocation& c) {
    c.result = Variant::i2(0);
    return ole::S_OK;
  }
  HResult SessionHandle(Invocation& c) {
    c.result = Variant::i4(session_ ? sessionHandle_ : 0);
    return ole::S_OK;
  }

 private:
  // A value property: the stored value, or a put of one of the property's type.
  HResult value(Invocation& c, ole::VarType type) {
    if (c.access == Access::Get) {
      if (!c.args.empty()) return ole::DISP_E_BADPARAMCOUNT;
      c.result = values_[c.m.id];
      return ole::S_OK;
    }
    if (c.args.size() != 1) return ole::DISP_E_BADPARAMCOUNT;
    if (c.args[0].vt != type)
      return fail(c.excep, rt::EG_ARG,
                  std::string(c.m.name) + (type == ole::VT_BOOL ? " must be a logical" : " must be a string"));
    values_[c.m.id] = c.args[0];
    return ole::S_OK;
  }

  // A family by name (only, or else by number from 1) in argument 0, called `param`.
  HResult familyByKey(Invocation& c, bool nameOnly, const char* param) {
    ArgReader in(c.args, c.m.name, c.excep);
    if (!in.count(1, 1)) return in.hr;
    int pos = -1;
    if (nameOnly || c.args[0].vt == ole::VT_BSTR) {
      std::string name;
      if (!in.text(0, param, name)) return in.hr;
      pos = session_->findFamily(name);
      if (pos < 0) return unknownFamily(name, c.excep);
    } else {
      std::int64_t index = 0;
      if (!in.integer(0, param, index) || !in.has(0)) {
        if (in.hr != ole::S_OK) return in.hr;
        return fail(c.excep, rt::EG_ARG, "ClassFamily: NameOrIndex is missing");
      }
      if (index < 1 || static_cast<std::size_t>(index) > session_->families.size())
        return fail(c.excep, rt::EG_BOUND,
                    "ClassFamily: index " + std::to_string(index) + " is outside 1 to " +
                        std::to_string(session_->families.size()));
      pos = static_cast<int>(index - 1);
    }
    c.result = Variant::dispatch(makeFamily(session_, static_cast<std::size_t>(pos)));
    return ole::S_OK;
  }

  // Argument 0 of a *FromInstance member, of `maxArgs` in all, as an object of this database.
  HResult instance(Invocation& c, ArgReader& in, std::size_t maxArgs, SchemaNode*& node) {
    if (!in.count(1, maxArgs)) return in.hr;
    node = c.args[0].vt == ole::VT_DISPATCH ? dynamic_cast<SchemaNode*>(c.args[0].pdispVal.get()) : nullptr;
    if (!node) return fail(c.excep, rt::EG_ARG, std::string(c.m.name) + ": Instance is not an object of this database");
    return ole::S_OK;
  }

  using MemberCollection = DispatchPtr (*)(const FamilyPtr&, int, bool, std::int64_t);
  HResult membersFromInstance(Invocation& c, MemberCollection make) {
    ArgReader in(c.args, c.m.name, c.excep);
    SchemaNode* node = nullptr;
    if (HResult hr = instance(c, in, 3, node); hr != ole::S_OK) return hr;
    FamilyPtr f = node->familySchema();
    const int cls = node->classPosition();
    if (!f || cls < 0) {
      c.result = Variant::dispatch(DispatchPtr());
      return ole::S_OK;
    }
    bool inherited = false;
    std::int64_t filter = 0;
    if (!in.logical(1, "IncludeInherited", inherited) || !in.integer(2, "Filter", filter)) return in.hr;
    c.result = Variant::dispatch(make(f, cls, inherited, filter));
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

using Z = ZorbaneControl;

// The control's members: name, id as the automation interface publishes it, kind, and what
// carries it out.
const Member kControl[] = {
    {"Connect", 24, false, &Z::on<&Z::Connect>},
    {"Disconnect", 25, false, &Z::on<&Z::Disconnect>},
    {"TransactionRollback", 26, false, &Z::connected<&Z::TransactionRollback>},
    {"ExecuteStatement", 27, false, &Z::connected<&Z::ExecuteStatement>},
    {"ClassFamilyFromName", 30, false, &Z::connected<&Z::ClassFamilyFromName>},
    {"ClassFamilyFromInstance", 31, false, &Z::connected<&Z::ClassFamilyFromInstance>},
    {"ClassFromInstance", 32, false, &Z::connected<&Z::ClassFromInstance>},
    {"PropertiesFromInstance", 33, false, &Z::connected<&Z::PropertiesFromInstance>},
    {"MethodsFromInstance", 34, false, &Z::connected<&Z::MethodsFromInstance>},
    {"TransactionStart", 35, false, &Z::connected<&Z::TransactionStart>},
    {"TransactionCommit", 36, false, &Z::connected<&Z::TransactionCommit>},
    {"ClassFamily", 37, false, &Z::connected<&Z::ClassFamily>},
    {"RunQueryExpression", 38, false, &Z::connected<&Z::RunQueryExpression>},
    {"GetClassObject", 39, false, &Z::connected<&Z::GetClassObject>},
    {"IsWithinTransaction", 40, false, &Z::on<&Z::IsWithinTransaction>},
    {"AboutBox", ole::DISPID_ABOUTBOX, false, &Z::on<&Z::AboutBox>},
    {"ShowToolTip", 1, true, &Z::logicalValue},
    {"ToolTipText", 2, true, &Z::textValue},
    {"UserName", 3, true, &Z::textValue},
    {"Password", 4, true, &Z::textValue},
    {"ClassFamilies", 5, true, &Z::readOnly<&Z::ClassFamilies>},
    {"QueryExpression", 6, true, &Z::textValue},
    {"Environment", 10, true, &Z::textValue},
    {"HostName", 11, true, &Z::textValue},
    {"ShowLogon", 12, true, &Z::logicalValue},
    {"UseConnectionManager", 13, true, &Z::logicalValue},
    {"Query", 14, true, &Z::readOnly<&Z::Query>},
    {"RemoteNode", 15, true, &Z::textValue},
    {"Protocol", 16, true, &Z::textValue},
    {"ListenAddress", 17, true, &Z::textValue},
    {"ServerPortID", 18, true, &Z::textValue},
    {"ConnectionName", 19, true, &Z::textValue},
    {"TransactionState", 20, true, &Z::readOnly<&Z::TransactionState>},
    {"ConnectionState", 21, true, &Z::readOnly<&Z::ConnectionState>},
    {"ContainerType", 22, true, &Z::readOnly<&Z::ContainerType>},
    {"SessionHandle", 23, true, &Z::readOnly<&Z::SessionHandle>},
    {"Caption", ole::DISPID_CAPTION, true, &Z::textValue},
    {"Font", ole::DISPID_FONT, true, &Z::on<&Z::Font>},
    {"Enabled", ole::DISPID_ENABLED, true, &Z::logicalValue},
};

const MemberTable& controlTable() {
  static MemberTable t(kControl);
  return t;
}

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
