// One row of a generated family as the benches write it: the flags of a compare that found it
// all right, so that a bench's first compare starts from stored verdicts like a user's table.
#pragma once
#include <string>

#include "model/model.h"

namespace bench {

inline void appendGeneratedRow(model::Mpdms& table, const std::string& version, const std::string& className,
                               const std::string& parent, const char* kind = "", const std::string& member = {},
                               const char* type = "", const char* level = "") {
  using model::Field;
  table.append();
  table.setStr(Field::MODELVERS, version);
  table.setStr(Field::FAMILYNAME, "Generated");
  table.setStr(Field::CLASSNAME, className);
  table.setStr(Field::PARENTNAME, parent);
  table.setStr(Field::PROP_METHO, kind);
  table.setStr(Field::ATTRIBUTE, member);
  table.setStr(Field::TYPE, type);
  table.setStr(Field::INS_CLASS, level);
  table.setFlag(Field::ALL_OK, true);
  table.setFlag(Field::PARENTOK, true);
  table.setFlag(Field::CLASSFOUND, true);
}

}  // namespace bench
