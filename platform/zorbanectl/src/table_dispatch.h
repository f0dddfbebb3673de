// A dispatch interface driven by a member table: names resolve without regard to case, ids are
// checked against the member's kind (a late-bound call reaches a property as a get), and the
// argument readers turn variants into C++ values or a filled ExcepInfo.
#pragma once
#include <array>
#include <span>
#include <string>
#include <vector>

#include "ole/ole.h"

namespace zctl {

using ole::DispatchPtr;
using ole::ExcepInfo;
using ole::HResult;
using ole::Variant;

enum class Access { Call, Get, Put };

struct Member;
class TableDispatch;

// One call of a member, as the dispatch interface received it.
struct Invocation {
  const Member& m;
  Access access;
  std::vector<ole::Variant>& args;
  ole::Variant& result;
  ole::ExcepInfo& excep;
};
// Carries out a member on the object that was called.
using MemberHandler = ole::HResult (*)(TableDispatch& self, Invocation& call);

struct Member {
  const char* name;
  ole::DispId id;
  bool property;  // a property has a get and a put; a method is called
  MemberHandler handler = nullptr;  // none: the object's invokeMember carries it out
};

class MemberTable {
 public:
  explicit MemberTable(std::span<const Member> members);
  const Member* byName(std::string_view name) const;
  const Member* byId(ole::DispId id) const;
  std::span<const Member> members() const { return members_; }

 private:
  std::span<const Member> members_;
  std::vector<std::string> upper_;  // the members' names in upper case, in table order
  std::array<const Member*, 64> small_{};  // members with ids 0 to 63, by id
};

class TableDispatch : public ole::DispatchInterface {
 public:
  explicit TableDispatch(const MemberTable& table) : table_(table) {}
  ole::HResult GetIDsOfNames(std::string_view name, ole::DispId& id) override;
  ole::HResult Invoke(ole::DispId id, unsigned kind, std::vector<ole::Variant>& args, ole::Variant& result,
                      ole::ExcepInfo& excep) override;
  // Every object over the same member table resolves names alike (the tables are static).
  const void* nameScope() const override { return &table_; }

 protected:
  // The members without a handler of their own.
  virtual ole::HResult invokeMember(const Member& m, Access access, std::vector<ole::Variant>& args,
                                    ole::Variant& result, ole::ExcepInfo& excep);

 private:
  const MemberTable& table_;
};

// Reads the arguments of one member call; every failure fills the ExcepInfo and sets hr.
class ArgReader {
 public:
  ArgReader(const std::vector<ole::Variant>& args, const char* member, ole::ExcepInfo& excep)
      : args_(args), member_(member), excep_(excep) {}
  bool count(std::size_t min, std::size_t max);
  bool has(std::size_t i) const { return i < args_.size() && !args_[i].isEmpty(); }
  bool text(std::size_t i, const char* param, std::string& out);
  bool integer(std::size_t i, const char* param, std::int64_t& out, std::int64_t fallback = 0);
  bool logical(std::size_t i, const char* param, bool& out, bool fallback = false);
  const ole::Variant& at(std::size_t i) const { return args_[i]; }
  ole::HResult hr = ole::S_OK;

 private:
  bool mismatch(const char* param, const char* wanted);
  const std::vector<ole::Variant>& args_;
  const char* member_;
  ole::ExcepInfo& excep_;
};

// Fills excep for a failure of `member` and answers DISP_E_EXCEPTION.
ole::HResult fail(ole::ExcepInfo& excep, int genCode, std::string description, std::string fileName = {});
// The answer to a put on a read-only schema object.
ole::HResult readOnly(ole::ExcepInfo& excep, const char* member);

}  // namespace zctl
