// Connecting the control, listing its families, and counting the rows of each stored version.
#include "workflow/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "workflow/late_call.h"
#include "workflow/workflow.h"

namespace workflow {
namespace {

using detail::lateGet;
using detail::latePut;
using detail::lateSend;

}  // namespace

void connectControl(const rt::ObjectPtr& control) {
  RT_FRAME("Session:ConnectControl");
  const rt::Value object(control);
  latePut(object, "UseConnectionManager", rt::Value(false));
  latePut(object, "ShowLogon", rt::Value(false));
  latePut(object, "Environment", rt::Value(""));
  RT_LINE();
  (void)lateSend(object, "Connect");
}

std::vector<std::string> familyNames(const rt::ObjectPtr& control) {
  RT_FRAME("Session:FamilyNames");
  std::vector<std::string> names;
  const rt::Value collection = lateGet(rt::Value(control), "ClassFamilies");
  for (long i = 1; i <= lateGet(collection, "Count").asLong(); ++i) {
    RT_LINE();
    names.push_back(trimmedText(lateGet(lateSend(collection, "Item", {rt::Value(i)}), "Name").asString()));
  }
  return names;
}

bool tableReadOnlyHere() { return !tableReadOnlyCause().empty(); }

std::string tableReadOnlyCause() {
  for (const std::string path : {model::kTableName, "."}) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) continue;
    const int refusal = errno;
    if (refusal == EACCES || refusal == EROFS || refusal == EPERM)
      return (path == "." ? rt::workingDirectory() : path) + ": " + std::strerror(refusal);
  }
  return {};
}

std::string readOnlyTableText() {
  return std::string(model::kTableName) + " or its folder " + rt::workingDirectory() +
         " is read-only for this user; nothing was changed.";
}

std::vector<VersionRows> versionRows(model::Mpdms& table) {
  RT_FRAME("Session:VersionRows");
  std::vector<VersionRows> out;
  std::map<std::string, std::size_t, std::less<>> positions;
  for (auto& [version, number] : storedVersions(table)) {
    positions.emplace(version, out.size());
    out.push_back({version.substr(0, version.find_last_not_of(' ') + 1), {}, 0});
  }
  // The rows are counted in the table's own order, which reads no index. The family shown is that
  // of each version's first row in the controlling order, found with one seek a version (in a
  // table without an order, its first row in the table's own order).
  const int order = table.controllingOrder();
  table.setOrder(0);
  table.goTop();
  while (!table.eof()) {
    const auto found = positions.find(table.str(model::Field::MODELVERS));
    if (found != positions.end()) {
      VersionRows& entry = out[found->second];
      if (entry.rows++ == 0) entry.family = trimmedText(std::string(table.str(model::Field::FAMILYNAME)));
    }
    table.skip();
  }
  table.setOrder(order);
  if (order > 0)
    for (const auto& [version, at] : positions)
      if (table.seek(version)) out[at].family = trimmedText(std::string(table.str(model::Field::FAMILYNAME)));
  return out;
}

long familyRowsIn(model::Mpdms& table, std::string_view version, std::string_view family) {
  RT_FRAME("Session:FamilyRowsIn");
  const auto width = model::fieldDesc()[static_cast<std::size_t>(model::Field::FAMILYNAME)].fieldSpec->length;
  const std::string stored = rt::padRightChars(family, static_cast<std::size_t>(width));
  long rows = 0;
  table.setOrder(1);
  if (!table.seek(version)) return 0;
  for (; !table.eof() && table.str(model::Field::MODELVERS) == version; table.skip())
    if (table.str(model::Field::FAMILYNAME) == stored) ++rows;
  return rows;
}

}  // namespace workflow
