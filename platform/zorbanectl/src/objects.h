// The schema objects the control hands out: collections indexed from 1, class families, classes,
// properties, methods, parameters, class instances and the stored-query object. Each holds its
// session (for a family not yet loaded) or the immutable family schema it belongs to.
#pragma once
#include <memory>
#include <string>

#include "store.h"
#include "table_dispatch.h"

namespace zctl {

// One connection: the open store and the families listed when it opened.
struct Session {
  SchemaStore store;
  std::vector<FamilyEntry> families;
  std::vector<StoredQuery> queries;
  // Loads the family at `position` (0-based); fills excep on failure.
  ole::HResult family(std::size_t position, FamilyPtr& out, ole::ExcepInfo& excep);
  // The position of the family called `name`: exact, then trimmed, then trimmed without regard
  // to case; -1 when there is none.
  int findFamily(const std::string& name) const;
};
using SessionPtr = std::shared_ptr<Session>;

// What every schema object can say about where it belongs (for the *FromInstance members), and
// the shape its members share: the schema is read-only, so every put is refused here; a member
// that takes arguments reads them in call(), any other is answered by get() once it is known to
// have been given none.
class SchemaNode : public TableDispatch {
 public:
  using TableDispatch::TableDispatch;
  virtual FamilyPtr familySchema() const { return nullptr; }
  virtual int classPosition() const { return -1; }
  virtual const FamilyEntry* familyEntry() const { return nullptr; }
  virtual SessionPtr session() const { return nullptr; }

 protected:
  HResult invokeMember(const Member& m, Access access, std::vector<Variant>& args, Variant& result,
                       ExcepInfo& excep) final;
  // By default the methods take arguments and the properties do not.
  virtual bool takesArguments(const Member& m) const { return !m.property; }
  virtual HResult get(const Member& m, Variant& result, ExcepInfo& excep);
  virtual HResult call(const Member& m, ArgReader& in, Variant& result, ExcepInfo& excep);
};

// Factories for the objects, used by the control and by each other.
ole::DispatchPtr makeFamilyCollection(const SessionPtr& session);
ole::DispatchPtr makeFamily(const SessionPtr& session, std::size_t position);
ole::DispatchPtr makeClass(const FamilyPtr& family, int cls);
ole::DispatchPtr makeClassCollection(const FamilyPtr& family, std::vector<int> classes);
// Over one of the family's own lists (a class's superclasses or subclasses), without a copy.
ole::DispatchPtr makeClassCollection(const FamilyPtr& family, const std::vector<int>* familyList);
ole::DispatchPtr makeMethodCollection(const FamilyPtr& family, int cls, bool inherited, std::int64_t filter);
ole::DispatchPtr makePropertyCollection(const FamilyPtr& family, int cls, bool inherited, std::int64_t filter);
ole::DispatchPtr makeQueryObject(const SessionPtr& session);
ole::DispatchPtr makeFont();

// Classes of a family matching a query expression "family : pattern" ('*' and '?' wildcards);
// fills excep when the expression is malformed or names no family.
ole::HResult runQueryExpression(const SessionPtr& session, const std::string& expression, ole::Variant& result,
                                ole::ExcepInfo& excep);

// Member tables, for the control's and the wrappers' tests.
std::span<const Member> collectionMembers();
std::span<const Member> queriesMembers();
std::span<const Member> familyMembers();
std::span<const Member> classMembers();
std::span<const Member> propertyMembers();
std::span<const Member> methodMembers();
std::span<const Member> parameterMembers();
std::span<const Member> queryMembers();

}  // namespace zctl
