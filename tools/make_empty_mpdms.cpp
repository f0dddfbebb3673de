// Writes the empty model table Mpdms.dbf (15 fields, record length 210, no records) into the
// directory given as the only argument. The program never creates this file; it ships in demo/.
#include <cstdio>
#include <string>

#include "model/model.h"

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : ".";
  std::string path = dir + "/" + model::kTableName;
  bool failed = false;
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    std::fprintf(stderr, "make_empty_mpdms: %s\n", e->description.c_str());
    failed = true;
    return rt::Value(false);
  });
  if (!rdd::createTable(path, model::tableLayout()) || failed) return 1;
  std::printf("%s\n", path.c_str());
  return 0;
}
