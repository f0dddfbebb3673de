// The load: walks one class family through the database control and appends its rows.
#include <algorithm>
#include <array>

#include "workflow/late_call.h"
#include "workflow/workflow.h"

namespace workflow {
namespace {

using detail::LateMember;
using detail::lateGet;
using detail::lateSend;
using model::Field;

constexpr std::array<const char*, 11> kTypeTexts = {
    "Void", "Boolean", "Integer", "Decimal", "Real", "String", "ByteSequence", "Reference to Object",
    "Value Collection (Set)", "Multimedia", "Date"};

// The members asked of every class and member row.
const LateMember kCount("Count");
const LateMember kItem("Item");
const LateMember kName("Name");
const LateMember kSuperClasses("SuperClasses");

// Each member pass with the names it asks, made once.
struct PassMembers {
  const MemberPass& pass;
  LateMember collection, typeMember;
};
const std::vector<PassMembers>& passMembers() {
  static const auto members = [] {
    std::vector<PassMembers> all;
    for (const MemberPass& p : kMemberPasses) all.push_back({p, LateMember(p.collection), LateMember(p.typeMember)});
    return all;
  }();
  return members;
}

long countOf(const rt::Value& collection) { return static_cast<long>(lateGet(collection, kCount).asLong()); }

// Text goes straight into the field's bytes; anything else takes the general path, which raises
// what the field cannot hold (a failed call answered nil, say) naming the field.
void putText(model::Mpdms& table, model::Field field, const char* name, const rt::Value& value) {
  if (value.isString())
    table.setStr(field, value.asString());
  else
    table.fieldPut(name, value);
}

}  // namespace

std::string ZorbaneType2String(int typeCode) {
  if (typeCode < 0 || typeCode >= static_cast<int>(kTypeTexts.size())) return {};
  return kTypeTexts[static_cast<std::size_t>(typeCode)];
}

std::string typeText(const rt::Value& typeCode) {
  if (typeCode.isLong()) {
    const std::int64_t code = typeCode.asLong();
    return code >= 0 && code < static_cast<std::int64_t>(kTypeTexts.size()) ? ZorbaneType2String(static_cast<int>(code))
                                                                             : std::string();
  }
  if (typeCode.isFloat()) {
    const double code = typeCode.asNumber();
    if (code >= 0 && code < static_cast<double>(kTypeTexts.size()) && code == static_cast<double>(static_cast<int>(code)))
      return ZorbaneType2String(static_cast<int>(code));
  }
  return {};
}

std::string fullWidthVersion(std::string_view typed) { return rt::padRightChars(typed, kVersionWidth); }

std::string trimmedText(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

LoadCounts loadFamily(const rt::ObjectPtr& control, model::Mpdms& table, const std::string& family,
                      LoadObserver& observer) {
  RT_FRAME("ModelLoader:LoadFamily");
  LoadCounts counts;
  table.takeInOutsideChanges();
  const std::uint32_t rowsBefore = table.lastRec();
  // After a failed write (raised once by the table) nothing more is tried: the rows stored are
  // those the table holds now.
  auto stopped = [&] {
    if (!table.writeFailed()) return false;
    counts.writeFailed = true;
    counts.rows = std::min<long>(counts.rows, static_cast<long>(table.lastRec()) - static_cast<long>(rowsBefore));
    return true;
  };
  const rt::Value familyName(family);
  const rt::Value familyObject = lateSend(rt::Value(control), "ClassFamily", {familyName});
  RT_LINE();
  const rt::Value classes = lateSend(familyObject, "Classes");
  observer.classesReceived();
  observer.classesCounted(countOf(classes));

  for (long i = 1; i <= countOf(classes); ++i) {
    RT_LINE();
    const rt::Value cls = lateSend(classes, kItem, {rt::Value(i)});
    const rt::Value supers = lateGet(cls, kSuperClasses);
    const rt::Value className = lateGet(cls, kName);
    const rt::Value parent = countOf(supers) > 0 ? lateGet(lateSend(supers, kItem, {rt::Value(1)}), kName)
                                                 : rt::Value(std::string());
    observer.classRead(i);
    ++counts.classes;

    table.append();
    if (stopped()) return counts;
    putText(table, Field::CLASSNAME, "CLASSNAME", className);
    table.setStr(Field::FAMILYNAME, family);
    putText(table, Field::PARENTNAME, "PARENTNAME", parent);
    putText(table, Field::MODELVERS, "MODELVERS", observer.version());
    ++counts.rows;

    for (const auto& [pass, collection, typeMember] : passMembers()) {
      RT_LINE();
      const rt::Value members = lateSend(cls, collection, {rt::Value(false), rt::Value(pass.filter)});
      const long n = countOf(members);
      for (long j = 1; j <= n; ++j) {
        const rt::Value member = lateSend(members, kItem, {rt::Value(j)});
        table.append();
        if (stopped()) return counts;
        table.setStr(Field::FAMILYNAME, family);
        putText(table, Field::CLASSNAME, "CLASSNAME", className);
        putText(table, Field::PARENTNAME, "PARENTNAME", parent);
        putText(table, Field::ATTRIBUTE, "ATTRIBUTE", lateGet(member, kName));
        table.setStr(Field::PROP_METHO, pass.kind);
        table.setStr(Field::TYPE, typeText(lateGet(member, typeMember)));
        table.setStr(Field::INS_CLASS, pass.level);
        putText(table, Field::MODELVERS, "MODELVERS", observer.version());
        ++counts.rows;
      }
    }
  }
  table.goTop();  // the last row is written now, so a failure to write it is counted too
  if (!stopped()) publishChanges(table);
  return counts;
}

}  // namespace workflow
