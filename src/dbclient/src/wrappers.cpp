// Early-bound invocation of the declared members and the wrapper classes around it.
#include "dbclient/dbclient.h"

namespace dbclient {

namespace {

const MemberRow* declared(const InterfaceTable& table, rt::Symbol member) { return table.find(member.name()); }

rt::Value raiseUndeclared(const std::string& className, std::string_view member) {
  auto e = rt::makeError(rt::EG_NOVAR, "OLE", "No member " + std::string(member) + " declared by class " + className,
                         className + ":" + std::string(member));
  e->funcSym = rt::Symbol(member);
  e->canDefault = true;
  e->canSubstitute = true;
  rt::Answer a = rt::raise(e);
  return a.kind == rt::Answer::Substitute ? a.substitute : rt::Value();
}

// A property get or method call by name: methods are called, properties read (with their index
// arguments), so that a call by name with no arguments reaches a readable property.
Access accessForSend(const MemberRow& m) { return m.kind == MemberKind::Method ? Access::Call : Access::Get; }

}  // namespace

BuiltFuncDesc buildFuncDesc(ole::OLEAutoObject& on, const MemberRow& row, Access access) {
  RT_FRAME("Zorbane OCX:BuildFuncDesc");
  const bool isPut = access == Access::Put;
  const int count = row.paramCount + (isPut ? 1 : 0);
  const bool named = row.kind == MemberKind::Method && row.paramCount > 0;
  int optional = 0;
  BuiltFuncDesc out;
  if (count > 0) {
    out.params = on.AllocArgDescs(static_cast<std::size_t>(count));
    ole::ArgDesc* records = on.argDescs(out.params);
    for (int i = 0; i < row.paramCount; ++i) {
      const ParamRow& p = row.params[i];
      records[i].flags = p.optional ? ole::PARAMFLAG_FOPT : 0;
      records[i].vartype = p.vartype;
      records[i].refType = p.vartype == ole::VT_PTR ? p.refType : 0;
      records[i].name = named && p.name ? rt::Symbol(p.name) : rt::Symbol();
      optional += p.optional ? 1 : 0;
    }
    if (isPut) {
      ole::ArgDesc& value = records[row.paramCount];
      value.flags = row.flags;
      value.vartype = row.putType ? row.putType : row.resultType;
      value.refType = row.putType ? row.putRef : row.resultRef;
    }
  }
  if (!isPut) {
    out.result = on.AllocArgDescs(1);
    ole::ArgDesc* result = on.argDescs(out.result);
    result->flags = row.flags;
    result->vartype = row.resultType;
    result->refType = row.resultType == ole::VT_PTR ? row.resultRef : 0;
  }
  const long long kind = access == Access::Call ? ole::DISPATCH_METHOD
                         : isPut                ? ole::DISPATCH_PROPERTYPUT
                                                : ole::DISPATCH_PROPERTYGET;
  out.desc = rt::Value::array({rt::Value(rt::Symbol(row.name)), rt::Value(static_cast<long long>(row.id)),
                               rt::Value(kind), rt::Value(count), rt::Value(optional), rt::Value(named),
                               count > 0 ? rt::Value(out.params) : rt::Value(),
                               rt::Value(isPut ? rt::Pointer{0} : out.result)});
  return out;
}

rt::Value invokeTyped(ole::OLEAutoObject& on, const MemberRow& row, Access access,
                      const std::vector<rt::Value>& args, std::size_t countPassed) {
  RT_FRAME("Zorbane OCX:InvokeTyped");
  BuiltFuncDesc built = buildFuncDesc(on, row, access);
  RT_LINE();
  rt::Value result = on.InvokeMethod(built.desc, args, countPassed);
  if (built.params.address) on.FreeArgs(built.params);
  if (built.result.address) on.FreeArgs(built.result);
  if (access == Access::Put) return result;
  const bool objectResult = row.resultType == ole::VT_DISPATCH ||
                            (row.resultType == ole::VT_PTR && row.resultRef == ole::VT_USERDEFINED);
  if (objectResult) {
    if (auto holder = result.as<ole::IDispatch>()) {
      if (!holder->pInterface) return rt::Value();
      return rt::Value(std::make_shared<ole::OLEAutoObject>(result, 0, true));
    }
  }
  return result;
}

SchemaWrapper::SchemaWrapper(const InterfaceTable& table, const rt::Value& wrapped)
    : ole::OLEAutoObject(wrapped, 0, true), table_(table) {
  dwFuncs = table.dwFuncs;
  dwVars = table.dwVars;
}

std::string SchemaWrapper::className() const { return rt::toUpper(table_.className); }

rt::Value SchemaWrapper::invoke(std::string_view member, Access access, const std::vector<rt::Value>& args,
                                std::size_t countPassed) {
  RT_FRAME("SchemaWrapper:Invoke");
  const MemberRow* m = table_.find(member);
  if (!m || (access == Access::Put && m->kind != MemberKind::Property) ||
      (access == Access::Call && m->kind != MemberKind::Method) ||
      (access == Access::Get && m->kind == MemberKind::Method))
    return raiseUndeclared(table_.className, member);
  return invokeTyped(*this, *m, access, args, countPassed);
}

rt::Value SchemaWrapper::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  if (const MemberRow* m = declared(table_, member)) return invokeTyped(*this, *m, accessForSend(*m), args, args.size());
  return ole::OLEAutoObject::send(member, args);
}

rt::Value SchemaWrapper::get(rt::Symbol member) {
  const MemberRow* m = declared(table_, member);
  if (m && m->kind != MemberKind::Method) return invokeTyped(*this, *m, Access::Get, {}, 0);
  return ole::OLEAutoObject::get(member);
}

rt::Value SchemaWrapper::put(rt::Symbol member, const rt::Value& value) {
  const MemberRow* m = declared(table_, member);
  if (m && m->kind == MemberKind::Property) {
    invokeTyped(*this, *m, Access::Put, {value}, 1);
    return value;
  }
  return ole::OLEAutoObject::put(member, value);
}

void Zorbane::InitAutoObject() {
  RT_FRAME("Zorbane:InitAutoObject");
  ole::DispatchPtr control;
  if (auto a = ControlSite.as<ole::OLEAutoObject>()) {
    control = a->dispatch();
  } else if (auto h = ControlSite.as<ole::IDispatch>()) {
    control = h->pInterface;
  } else if (auto u = ControlSite.as<ole::IUnknown>()) {
    if (auto* d = dynamic_cast<ole::DispatchInterface*>(u->pInterface.get())) control = ole::DispatchPtr(d);
  }
  if (!control) return;
  RT_LINE();
  AutoObject = std::make_shared<ole::OLEAutoObject>(rt::Value(std::make_shared<ole::IDispatch>(control)), 0, true);
}

rt::Value Zorbane::invoke(std::string_view member, Access access, const std::vector<rt::Value>& args,
                          std::size_t countPassed) {
  RT_FRAME("Zorbane:Invoke");
  const InterfaceTable& table = zorbaneTable();
  const MemberRow* m = table.find(member);
  if (!m || (access == Access::Put && m->kind != MemberKind::Property) ||
      (access == Access::Call && m->kind != MemberKind::Method) ||
      (access == Access::Get && m->kind == MemberKind::Method))
    return raiseUndeclared("Zorbane", member);
  if (!AutoObject) {
    auto e = rt::makeError(rt::EG_OLE, "OLE", std::string(member) + ": the control has no automation object",
                           "Zorbane:" + std::string(member));
    e->canDefault = true;
    e->canSubstitute = true;
    rt::Answer a = rt::raise(e);
    return a.kind == rt::Answer::Substitute ? a.substitute : rt::Value();
  }
  return invokeTyped(*AutoObject, *m, access, args, countPassed);
}

rt::Value Zorbane::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  if (const MemberRow* m = declared(zorbaneTable(), member))
    return invoke(m->name, accessForSend(*m), args, args.size());
  if (!AutoObject) return noMethod(member);
  return AutoObject->send(member, args);
}

rt::Value Zorbane::get(rt::Symbol member) {
  const MemberRow* m = declared(zorbaneTable(), member);
  if (m && m->kind != MemberKind::Method) return invoke(m->name, Access::Get, {}, 0);
  if (!AutoObject) return noIVarGet(member);
  return AutoObject->get(member);
}

rt::Value Zorbane::put(rt::Symbol member, const rt::Value& value) {
  const MemberRow* m = declared(zorbaneTable(), member);
  if (m && m->kind == MemberKind::Property) {
    invoke(m->name, Access::Put, {value}, 1);
    return value;
  }
  if (!AutoObject) return noIVarPut(member, value);
  return AutoObject->put(member, value);
}

}  // namespace dbclient
