// The program's resources: the resource script (dialog templates, menu, icons, error texts)
// compiled into the program, installed into the toolkit at start-up, and the icon classes
// that load an icon resource of their own name. GUI thread only.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "gui/window.h"

namespace res {

// Parses the built-in script and installs it in the toolkit; a malformed script is raised with
// its line number. Returns whether it was installed.
bool InstallResources();

// The built-in resource script's text and the bytes of a built-in file by name.
std::string_view ScriptText();
std::optional<std::string> EmbeddedFile(const std::string& fileName);

// The main window's icon: one 32 by 32, 16-colour image.
class ZORBANE_ICON : public gui::Icon {
 public:
  ZORBANE_ICON() : gui::Icon("ZORBANE_ICON") {}
};

// The report list's icon.
class INFOPAPR_ICON : public gui::Icon {
 public:
  INFOPAPR_ICON() : gui::Icon("INFOPAPR_ICON") {}
};

}  // namespace res
