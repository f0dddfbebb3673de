// The record layout and index descriptors of the model table, written once as data.
#include "model/model.h"

namespace model {
namespace {

struct FieldRow {
  const char* name;
  const char* caption;
  char type;
  int length;
};

constexpr FieldRow kLayout[kFieldCount] = {
    {"MODELVERS", "Modelvers", 'C', kVersionWidth},   {"ATTRIBUTE", "Attribute", 'C', 50},
    {"CLASSNAME", "Classname", 'C', 50},   {"TYPE", "Type", 'C', 20},
    {"INS_CLASS", "Ins Class", 'C', 1},    {"PARENTNAME", "Parentname", 'C', 50},
    {"PROP_METHO", "Prop Metho", 'C', 1},  {"FAMILYNAME", "Familyname", 'C', 15},
    {"NO_MATCH", "No Match", 'L', 1},      {"ALL_OK", "All Ok", 'L', 1},
    {"TYPEPROBLM", "Typeproblm", 'L', 1},  {"LEVELPROB", "Levelprob", 'L', 1},
    {"COMPARED", "Compared", 'L', 1},      {"PARENTOK", "Parentok", 'L', 1},
    {"CLASSFOUND", "Classfound", 'L', 1},
};

}  // namespace

rt::Value FieldSpec::get(rt::Symbol member) {
  const std::string& m = member.name();
  if (m == "NAME" || m == "HYPERLABEL" || m == "SYMBOL") return rt::Value(symbol);
  if (m == "CAPTION") return rt::Value(caption);
  if (m == "DESCRIPTION") return rt::Value(description);
  if (m == "HELPCONTEXT") return rt::Value(helpContext);
  if (m == "VALTYPE" || m == "TYPE") return rt::Value(std::string(1, type));
  if (m == "LENGTH") return rt::Value(length);
  if (m == "DECIMALS") return rt::Value(decimals);
  return noIVarGet(member);
}

const std::vector<FieldDescEntry>& fieldDesc() {
  static const std::vector<FieldDescEntry> list = [] {
    std::vector<FieldDescEntry> out;
    for (const FieldRow& r : kLayout) {
      auto fieldSpec = std::make_shared<FieldSpec>();
      fieldSpec->symbol = rt::Symbol(r.name);
      fieldSpec->caption = r.caption;
      fieldSpec->helpContext = std::string("Mpdms_") + r.name;
      fieldSpec->type = r.type;
      fieldSpec->length = r.length;
      out.push_back({fieldSpec->symbol, r.name, fieldSpec});
    }
    return out;
  }();
  return list;
}

const std::vector<IndexDesc>& indexList() {
  static const std::vector<IndexDesc> list = {
      {"mpdms1",
       "",
       {{"mpdms1", true, true, "MODELVERS+CLASSNAME+PARENTNAME+PROP_METHO+ATTRIBUTE+INS_CLASS", ""},
        {"mpdms2", true, true, "MODELVERS+CLASSNAME+PROP_METHO+ATTRIBUTE+INS_CLASS", ""}}},
  };
  return list;
}

std::vector<rdd::FieldInfo> tableLayout() {
  std::vector<rdd::FieldInfo> out;
  for (const FieldRow& r : kLayout) out.push_back({r.name, r.type, r.length, 0, 0});
  return out;
}

}  // namespace model
