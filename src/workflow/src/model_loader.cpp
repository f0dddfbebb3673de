// The load: walks one class family through the database control and appends its rows.
#include <algorithm>
#include <cstdio>
#include <map>
#include <span>
#include <string_view>

#include "workflow/late_call.h"
#include "workflow/workflow.h"

namespace workflow {
namespace {

using detail::LateMember;
using detail::lateGet;
using detail::lateSend;
using model::Field;

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

// One row's field texts, all worked out before the row is appended: no question to the user (an
// error box) can come between the append and the row's last field, so another process never
// sees the row half written and a break leaves no blank row behind.
using RowText = std::pair<Field, std::string_view>;

// Turns what the control answered into texts the table stores without a question. A name holding
// characters the table's code page lacks is raised once per load, whatever the number of rows
// that carry it; Default stores '?' in their place, in every row.
class RowBuilder {
 public:
  RowBuilder(model::Mpdms& table, LoadCounts& counts) : table_(table), counts_(counts) {}

  std::string text(const char* name, const rt::Value& value) {
    if (value.isString()) return storable(name, value.asString());
    auto e = rt::makeError(rt::EG_DATATYPE, "DBFCDX",
                           std::string("field ") + name + " of type C cannot hold a " + rt::typeName(value.typeCode()) +
                               " value; Default leaves it blank",
                           "FIELDPUT", table_.tablePath() + model::kTableName);
    e->canDefault = true;
    (void)rt::raise(e);
    return {};
  }

  std::string storable(const char* name, const std::string& text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return text;
    if (const auto met = fitted_.find(text); met != fitted_.end()) return met->second;
    rdd::Table::TextFit fit = table_.fitText(text);
    if (!fit.lacking.empty()) {
      std::string listed;
      for (const std::string& c : fit.lacking) listed += (listed.empty() ? "" : ", ") + c;
      auto e = rt::makeError(rt::EG_DATATYPE, "DBFCDX",
                             std::string("field ") + name + ": value \"" + text + "\" holds " + listed +
                                 ", which code page " + table_.codePageName() + " of " + table_.tablePath() +
                                 model::kTableName + " cannot store; Default stores \"?\" in " +
                                 (fit.lacking.size() == 1 ? "its" : "their") + " place, in every row of this load",
                             "FIELDPUT", table_.tablePath() + model::kTableName);
      e->canDefault = true;
      (void)rt::raise(e);
      counts_.substituted.push_back(text);
    }
    return fitted_.emplace(text, std::move(fit.kept)).first->second;
  }

 private:
  model::Mpdms& table_;
  LoadCounts& counts_;
  std::map<std::string, std::string, std::less<>> fitted_;  // every name met that is not ASCII
};

}  // namespace

std::string versionRefusal(const model::Mpdms& table, std::string_view typed) {
  const std::string stored = fullWidthVersion(typed);
  for (const char c : stored) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", byte);
      return std::string("The model version holds a control character (") + code +
             "); nothing was loaded. A version is one line of visible characters.";
    }
  }
  const rdd::Table::TextFit fit = table.fitText(stored);
  if (fit.lacking.empty()) return {};
  std::string listed;
  for (const std::string& c : fit.lacking) listed += (listed.empty() ? "" : ", ") + c;
  return "The model version \"" + trimmedText(stored) + "\" holds " + listed + ", which code page " +
         table.codePageName() + " of the model table cannot store; nothing was loaded.";
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
  // The walk, which holds the control's schema of the family; false when it ended early (nothing
  // more is written then). The schema is let go when it returns, before the closing write of the
  // index.
  auto walk = [&] {
    const rt::Value familyObject = lateSend(rt::Value(control), "ClassFamily", {rt::Value(family)});
    // A family the control does not have was raised by the control; asking its classes of nothing
    // would only add errors that follow from that one.
    if (!familyObject.isObject()) return false;
    RT_LINE();
    const rt::Value classes = lateSend(familyObject, "Classes");
    if (!classes.isObject()) return false;
    observer.classesReceived();
    observer.classesCounted(countOf(classes));
    RowBuilder rows(table, counts);
    const std::string familyText = rows.storable("FAMILYNAME", family);
    const std::string version = rows.text("MODELVERS", observer.version());
    auto write = [&](std::span<const RowText> row) {
      table.appendRow(row);
      if (stopped()) return false;
      ++counts.rows;
      return true;
    };

    for (long i = 1; i <= countOf(classes); ++i) {
      RT_LINE();
      const rt::Value cls = lateSend(classes, kItem, {rt::Value(i)});
      const rt::Value supers = lateGet(cls, kSuperClasses);
      const std::string className = rows.text("CLASSNAME", lateGet(cls, kName));
      const std::string parent =
          countOf(supers) > 0 ? rows.text("PARENTNAME", lateGet(lateSend(supers, kItem, {rt::Value(1)}), kName))
                              : std::string();
      observer.classRead(i);
      ++counts.classes;
      const RowText classRow[] = {{Field::CLASSNAME, className},
                                  {Field::FAMILYNAME, familyText},
                                  {Field::PARENTNAME, parent},
                                  {Field::MODELVERS, version}};
      if (!write(classRow)) return false;

      for (const auto& [pass, collection, typeMember] : passMembers()) {
        RT_LINE();
        const rt::Value members = lateSend(cls, collection, {rt::Value(false), rt::Value(pass.filter)});
        const long n = countOf(members);
        for (long j = 1; j <= n; ++j) {
          const rt::Value member = lateSend(members, kItem, {rt::Value(j)});
          const std::string attribute = rows.text("ATTRIBUTE", lateGet(member, kName));
          const std::string type = typeText(lateGet(member, typeMember));
          const RowText memberRow[] = {{Field::FAMILYNAME, familyText}, {Field::CLASSNAME, className},
                                       {Field::PARENTNAME, parent},     {Field::ATTRIBUTE, attribute},
                                       {Field::PROP_METHO, pass.kind},  {Field::TYPE, type},
                                       {Field::INS_CLASS, pass.level},  {Field::MODELVERS, version}};
          if (!write(memberRow)) return false;
        }
      }
    }
    return true;
  };
  if (!walk()) return counts;
  table.goTop();  // the last row is written now, so a failure to write it is counted too
  if (!stopped()) table.flush();
  return counts;
}

}  // namespace workflow
