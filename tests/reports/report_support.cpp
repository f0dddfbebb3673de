#include "report_support.h"

#include <fstream>
#include <iterator>
#include <random>

#include "rdd/rdd.h"

namespace reporttest {

TempFolder::TempFolder() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / ("zmc-reports-" + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempFolder::write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ / name, std::ios::binary) << text;
}

void writeModelTable(const std::string& path, const std::vector<ModelRow>& rows) {
  const std::vector<rdd::FieldInfo> fields = {
      {"MODELVERS", 'C', 15}, {"ATTRIBUTE", 'C', 50}, {"CLASSNAME", 'C', 50}, {"TYPE", 'C', 20},
      {"INS_CLASS", 'C', 1},  {"PARENTNAME", 'C', 50}, {"PROP_METHO", 'C', 1}, {"FAMILYNAME", 'C', 15},
      {"NO_MATCH", 'L', 1},   {"ALL_OK", 'L', 1},      {"TYPEPROBLM", 'L', 1}, {"LEVELPROB", 'L', 1},
      {"COMPARED", 'L', 1},   {"PARENTOK", 'L', 1},    {"CLASSFOUND", 'L', 1}};
  std::filesystem::remove(path);
  if (!rdd::createTable(path, fields)) return;
  rdd::OpenOptions options;
  options.shared = false;
  auto table = rdd::Table::open(path, "", options);
  if (!table) return;
  for (const ModelRow& r : rows) {
    table->append();
    table->put("MODELVERS", rt::Value(r.version));
    table->put("ATTRIBUTE", rt::Value(r.member));
    table->put("CLASSNAME", rt::Value(r.className));
    table->put("TYPE", rt::Value(r.type));
    table->put("INS_CLASS", rt::Value(std::string(1, r.level)));
    table->put("PARENTNAME", rt::Value(r.parent));
    table->put("PROP_METHO", rt::Value(std::string(1, r.propMethod)));
    table->put("FAMILYNAME", rt::Value("Inventory"));
    table->put("NO_MATCH", rt::Value(r.noMatch));
    table->put("ALL_OK", rt::Value(r.allOk));
    table->put("TYPEPROBLM", rt::Value(r.typeProblem));
    table->put("LEVELPROB", rt::Value(r.levelProblem));
    table->put("COMPARED", rt::Value(r.compared));
    table->put("PARENTOK", rt::Value(r.parentOk));
    table->put("CLASSFOUND", rt::Value(r.classFound));
  }
  table->close();
}

std::vector<ModelRow> comparedDemoRows() {
  std::vector<ModelRow> rows;
  auto add = [&](std::string version, std::string cls, std::string parent, std::string member, std::string type,
                 char pm, char level, bool ok) {
    ModelRow r{std::move(version), std::move(cls), std::move(parent), std::move(member), std::move(type), pm, level};
    r.compared = true;
    r.allOk = ok;
    rows.push_back(r);
    return &rows.back();
  };
  for (const char* v : {"V1", "V2"}) {
    add(v, "Item", "Object", "", "", ' ', ' ', true);
    add(v, "Item", "Object", "name", "String", 'P', 'I', true);
    add(v, "Stock", "Item", "", "", ' ', ' ', true);
    add(v, "Stock", "Item", "count", "Integer", 'P', 'I', true);
  }
  add("V1", "Stock", "Item", "weight", "Real", 'P', 'I', false)->typeProblem = true;
  add("V2", "Stock", "Item", "weight", "Integer", 'P', 'I', false)->typeProblem = true;
  add("V1", "Stock", "Item", "reorder", "", 'M', 'C', false)->levelProblem = true;
  add("V2", "Stock", "Item", "reorder", "", 'M', 'I', false)->levelProblem = true;
  ModelRow* gone = add("V1", "Supplier", "Object", "", "", ' ', ' ', false);
  gone->classFound = false;
  gone->noMatch = true;
  add("V2", "Order", "Thing", "", "", ' ', ' ', false)->parentOk = false;
  return rows;
}

WorkingDirectory::WorkingDirectory(const std::filesystem::path& dir) : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

std::vector<ModelRow> comparedFamilyRows(int classes, int members) {
  std::vector<ModelRow> rows;
  for (const char* version : {"1.0", "2.0"})
    for (int c = 0; c < classes; ++c) {
      const std::string name = "Class" + std::to_string(1000 + c);
      ModelRow head{version, name, "Object", "", "", ' ', ' '};
      head.compared = head.allOk = true;
      rows.push_back(head);
      for (int m = 0; m < members; ++m) {
        const bool differs = m % 3 == 0;
        ModelRow member{version, name, "Object", "member" + std::to_string(m), differs && *version == '2' ? "Real" : "Integer",
                        'P', 'I'};
        member.compared = true;
        member.allOk = !differs;
        member.typeProblem = differs;
        rows.push_back(member);
      }
    }
  return rows;
}

void copyDemoLayoutWithoutClock(const std::string& name, const std::string& target) {
  std::ifstream in(std::string(ZMC_DEMO_DIR) + "/" + name, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  for (const std::string clock : {"DTOC(TODAY())", "TIME()"})
    for (auto at = text.find(clock); at != std::string::npos; at = text.find(clock))
      text.replace(at, clock.size(), "'-'");
  std::ofstream(target, std::ios::binary) << text;
}

}  // namespace reporttest
