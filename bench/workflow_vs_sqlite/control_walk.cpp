#include "control_walk.h"

#include <filesystem>

#include "mainwin/mainwin.h"
#include "ole/ole.h"

namespace bench {
namespace {

rt::Value call(const rt::Value& on, const char* member, std::vector<rt::Value> args = {}) {
  return on.asObject()->send(rt::Symbol(member), args);
}
rt::Value get(const rt::Value& on, const char* member) { return on.asObject()->get(rt::Symbol(member)); }

struct MemberPass {
  const char* collection;
  int filter;
  const char* kind;
  const char* level;
  const char* typeMember;
};
constexpr MemberPass kPasses[] = {
    {"Methods", 1, "M", "C", "MethodType"},
    {"Methods", 4, "M", "I", "MethodType"},
    {"Properties", 1, "P", "C", "PropertyType"},
    {"Properties", 2, "P", "I", "PropertyType"},
};

}  // namespace

rt::ObjectPtr connectControl() {
  ole::setStorageDirectories({std::filesystem::current_path().string()});
  auto control = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
  control->put(rt::Symbol("UseConnectionManager"), rt::Value(false));
  control->put(rt::Symbol("ShowLogon"), rt::Value(false));
  control->put(rt::Symbol("Environment"), rt::Value(""));
  (void)control->send(rt::Symbol("Connect"), {});
  return control;
}

long walkFamily(const rt::ObjectPtr& control, const std::string& family,
                const std::function<void(const WalkedRow&)>& row) {
  long rows = 0;
  const rt::Value classes = call(call(rt::Value(control), "ClassFamily", {rt::Value(family)}), "Classes");
  for (long i = 1; i <= get(classes, "Count").asLong(); ++i) {
    const rt::Value cls = call(classes, "Item", {rt::Value(i)});
    const rt::Value supers = get(cls, "SuperClasses");
    const std::string name = get(cls, "Name").asString();
    const std::string parent =
        get(supers, "Count").asLong() > 0 ? get(call(supers, "Item", {rt::Value(1)}), "Name").asString() : std::string();
    row(WalkedRow{name, parent, "", {}, {}, ""});
    ++rows;
    for (const MemberPass& pass : kPasses) {
      const rt::Value members = call(cls, pass.collection, {rt::Value(false), rt::Value(pass.filter)});
      for (long j = 1; j <= get(members, "Count").asLong(); ++j) {
        const rt::Value member = call(members, "Item", {rt::Value(j)});
        row(WalkedRow{name, parent, pass.kind, get(member, "Name").asString(),
                      mainwin::typeText(get(member, pass.typeMember)), pass.level});
        ++rows;
      }
    }
  }
  return rows;
}

}  // namespace bench
