#include "control_walk.h"

#include <filesystem>

#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "workflow/session.h"

namespace bench {
namespace {

rt::Value call(const rt::Value& on, rt::Symbol member, std::vector<rt::Value> args = {}) {
  return on.asObject()->send(member, args);
}
rt::Value get(const rt::Value& on, rt::Symbol member) { return on.asObject()->get(member); }

// Member names interned once, as the load does.
const rt::Symbol kClassFamily("ClassFamily"), kClasses("Classes"), kCount("Count"), kItem("Item"), kName("Name"),
    kSuperClasses("SuperClasses");

}  // namespace

rt::ObjectPtr connectControl() {
  ole::setStorageDirectories({std::filesystem::current_path().string()});
  auto control = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
  workflow::connectControl(control);
  return control;
}

long walkFamily(const rt::ObjectPtr& control, const std::string& family,
                const std::function<void(const WalkedRow&)>& row) {
  struct Pass {
    const workflow::MemberPass& pass;
    rt::Symbol collection, typeMember;
  };
  std::vector<Pass> passes;
  for (const workflow::MemberPass& pass : workflow::kMemberPasses)
    passes.push_back({pass, rt::Symbol(pass.collection), rt::Symbol(pass.typeMember)});
  long rows = 0;
  const rt::Value classes = call(call(rt::Value(control), kClassFamily, {rt::Value(family)}), kClasses);
  for (long i = 1; i <= get(classes, kCount).asLong(); ++i) {
    const rt::Value cls = call(classes, kItem, {rt::Value(i)});
    const rt::Value supers = get(cls, kSuperClasses);
    const std::string name = get(cls, kName).asString();
    const std::string parent =
        get(supers, kCount).asLong() > 0 ? get(call(supers, kItem, {rt::Value(1)}), kName).asString() : std::string();
    row(WalkedRow{name, parent, "", {}, {}, ""});
    ++rows;
    for (const Pass& p : passes) {
      const rt::Value members = call(cls, p.collection, {rt::Value(false), rt::Value(p.pass.filter)});
      const long count = get(members, kCount).asLong();
      for (long j = 1; j <= count; ++j) {
        const rt::Value member = call(members, kItem, {rt::Value(j)});
        row(WalkedRow{name, parent, p.pass.kind, get(member, kName).asString(),
                      workflow::typeText(get(member, p.typeMember)), p.pass.level});
        ++rows;
      }
    }
  }
  return rows;
}

}  // namespace bench
