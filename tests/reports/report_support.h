// A working folder with a model table and layouts for report tests, and a layout writer.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace reporttest {

struct ModelRow {
  std::string version, className, parent, member, type;
  char propMethod = ' ', level = ' ';
  bool compared = false, allOk = false, noMatch = false, classFound = true, parentOk = true, typeProblem = false,
       levelProblem = false;
};

// A fresh folder under the temporary directory, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  void write(const std::string& name, const std::string& text) const;

 private:
  std::filesystem::path path_;
};

// Writes Mpdms.dbf with the model table's fields and the given rows.
void writeModelTable(const std::string& path, const std::vector<ModelRow>& rows);

// Rows of two compared versions of a small family, with some differences.
std::vector<ModelRow> comparedDemoRows();

// Rows of two compared versions "1.0" and "2.0" of a generated family: `classes` classes of
// `members` properties each; in every class the type of every third property differs.
std::vector<ModelRow> comparedFamilyRows(int classes, int members);

// A copy of a demo layout in `folder` whose page footer prints no clock time, so that two drawings
// of a page can be compared.
void copyDemoLayoutWithoutClock(const std::string& name, const std::string& target);

// Makes `dir` the working directory for the object's life.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::filesystem::path& dir);
  ~WorkingDirectory();

 private:
  std::filesystem::path previous_;
};

}  // namespace reporttest
