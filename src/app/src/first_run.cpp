#include "first_run.h"

namespace app {

std::string usageText() {
  return "Usage: zorbane-compare [--help | --version]\n"
         "Opens the window of Zorbane Model Compare Utility - Tarnwell on the current folder: it reads\n"
         "class families of a Zorbane schema store into the model table Mpdms.dbf there, compares two\n"
         "recorded versions and prints reports over them.\n"
         "The folder must hold Mpdms.dbf and may hold report layouts (*.rpt); the control's stored state\n"
         "OLE29.ctlstate is looked for there, then beside the program, then in its shared data.\n"
         "The menu entry (zorbane-compare-desktop) starts it in ~/.local/share/zorbane-compare.\n"
         "The same work without a window: zorbane-compare-cli --help.\n"
         "  --help     prints this text\n"
         "  --version  prints the version\n";
}

std::optional<std::string> workingFolderProblem(const std::filesystem::path& folder,
                                                const std::vector<std::string>& dataFolders) {
  std::error_code ec;
  if (std::filesystem::exists(folder / "Mpdms.dbf", ec)) return std::nullopt;
  std::string text = "The folder " + folder.string() +
                     " has no model table Mpdms.dbf.\n\n"
                     "The program works on the files of the folder it is started in: the model table "
                     "Mpdms.dbf, the report layouts (*.rpt) and the error log APPERROR.LOG.\n\n";
  for (const auto& data : dataFolders) {
    const std::filesystem::path demo = std::filesystem::path(data) / "demo";
    if (!std::filesystem::is_directory(demo, ec)) continue;
    return text + "Start it from the application menu, which keeps your own folder in "
                  "~/.local/share/zorbane-compare, or copy the demo and start it there:\n"
                  "    cp -r " + demo.lexically_normal().string() + " ~/zorbane-demo\n"
                  "    cd ~/zorbane-demo && zorbane-compare";
  }
  return text + "Start it in a folder that holds Mpdms.dbf; in a source tree, scripts/demo-workdir "
                "prints a working copy of the demo.";
}

}  // namespace app
