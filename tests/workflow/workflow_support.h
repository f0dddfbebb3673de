// Working directories for the workflow tests: a temporary directory holding an empty Mpdms.dbf,
// the control's stored state and a schema store built from SQL, made the current directory.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "model/model.h"
#include "runtime/runtime.h"

namespace wftest {

// Two states of one family ("Base Fam", "  Ref Fam  ") covering every verdict, a class with
// two superclasses ("Multi"), a family name longer than 15 characters and an empty family.
extern const char* const kStoreSql;

class WorkDir {
 public:
  // storeSql is run after the store's schema; empty leaves the store without families.
  explicit WorkDir(const std::string& storeSql = kStoreSql);
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }
  std::filesystem::path indexFile() const { return dir_ / "mpdms1.cdx"; }

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};

// Records every raised error; answers the default, or breaks to the recovery point once armed.
// Warnings handed to the log are recorded apart.
class ErrorRecorder {
 public:
  ErrorRecorder();
  ~ErrorRecorder();
  std::vector<rt::ErrorPtr> errors, warnings;
  bool breakOnError = false;
  int count(int genCode) const;
};

// An empty table opened shared in a working directory of its own, and the errors raised meanwhile.
struct ScratchTable {
  static model::Mpdms::Args shared() {
    model::Mpdms::Args args;
    args.shared = true;
    return args;
  }
  WorkDir dir{""};
  ErrorRecorder errors;
  model::Mpdms table{shared()};
};

// The rows in record order, one line each: version|class|parent|kind|attribute|type|level|family,
// character values with their trailing blanks removed.
// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

std::vector<std::string> rowsInRecordOrder(model::Mpdms& table);

// The seven flags of a row as letters in field order NO_MATCH ALL_OK TYPEPROBLM LEVELPROB
// COMPARED PARENTOK CLASSFOUND ("T" or "F" each), found by version, class and attribute
// (trimmed). Fails the test and answers "" when no or several rows match.
std::string flagsOf(model::Mpdms& table, const std::string& version, const std::string& className,
                    const std::string& attribute = {});

// Appends a row with the given key fields (test tables built without the control).
void appendRow(model::Mpdms& table, const std::string& version, const std::string& className,
               const std::string& parent, const std::string& kind = {}, const std::string& attribute = {},
               const std::string& type = {}, const std::string& level = {});

}  // namespace wftest
