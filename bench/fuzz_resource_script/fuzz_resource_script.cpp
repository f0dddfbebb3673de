// Fuzzes the resource-script reader: any text either reads as a script or gives an error naming
// the script and a line; a script that reads is installed and every dialog, menu item, icon and
// string of it is looked up as the windows do.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "gui/gui.h"
#include "scratch.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Icon files named by the script: every name but one reads; its bytes are the name's.
  const gui::ResourceFileReader reader = [](const std::string& name) -> std::optional<std::string> {
    if (name == "missing.ico") return std::nullopt;
    return name;
  };
  gui::ScriptParseResult result = gui::parseResourceScript(text, "fuzz.rc", reader);
  if (!result.ok()) {
    if (result.errorMessage.rfind("fuzz.rc(" + std::to_string(result.errorLine) + "): ", 0) != 0) __builtin_trap();
    return 0;
  }
  gui::installResources(std::move(*result.script));
  const gui::ResourceScript& script = gui::resources();
  for (const gui::DialogTemplate& d : script.dialogs) {
    (void)gui::findDialog(d.name);
    for (const gui::ControlTemplate& c : d.controls) (void)d.control(c.id);
  }
  for (const gui::MenuTemplate& m : script.menus) {
    (void)gui::findMenu(m.name);
    for (int id = 0; id < 8; ++id) (void)m.item(id);
  }
  for (const gui::IconEntry& i : script.icons) (void)gui::findIcon(i.name);
  for (const auto& [id, text] : script.strings) (void)gui::resourceString(id);
  return 0;
}
