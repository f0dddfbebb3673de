#include "control_walk.h"

#include <filesystem>

#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "workflow/session.h"

namespace bench {
namespace {

rt::Value call(const rt::Value& on, const char* member, std::vector<rt::Value> args = {}) {
  return on.asObject()->send(rt::Symbol(member), args);
}
rt::Value get(const rt::Value& on, const char* member) { return on.asObject()->get(rt::Symbol(member)); }

}  // namespace

rt::ObjectPtr connectControl() {
  ole::setStorageDirectories({std::filesystem::current_path().string()});
  auto control = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
  mainwin::connectControl(control);
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
    for (const mainwin::MemberPass& pass : mainwin::kMemberPasses) {
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
