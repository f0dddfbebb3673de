// Resource scripts: dialog templates, menus, icons and string tables read from the text of a
// resource script, and the process-wide set of resources the windows are built from.
// Names of resources match without regard to case. Positions stay in dialog units here.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gui {

// The style words of one DIALOG/CONTROL, as written, and the numeric value they add up to.
struct StyleSet {
  std::vector<std::string> words;     // upper case, in script order, without the NOT ones
  std::vector<std::string> notWords;  // words written after NOT
  std::uint32_t value = 0;
  bool has(std::string_view word) const;     // written (and not negated)
  bool hasNot(std::string_view word) const;  // written after NOT
};

enum class ControlKind {
  FixedText, Icon, ComboBox, SingleLineEdit, PushButton, CheckBox, GroupBox, ProgressBar,
  ListBox, OleControl, Unknown
};
std::string_view controlKindName(ControlKind kind);

struct ControlTemplate {
  std::string text;        // caption, or the icon's resource name for a static icon
  int id = 0;
  std::string symbol;      // the #define name the id was written as; empty for a literal id
  std::string className;   // window class as written ("Static", "ComboBox", ...)
  ControlKind kind = ControlKind::Unknown;
  StyleSet style;          // WS_CHILD and WS_VISIBLE are implied unless negated
  StyleSet exStyle;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  int line = 0;            // line of the CONTROL statement
  bool visible() const { return !style.hasNot("WS_VISIBLE"); }
  bool disabled() const { return style.has("WS_DISABLED"); }
};

struct DialogTemplate {
  std::string name;
  bool extended = false;   // DIALOGEX
  int x = 0, y = 0, cx = 0, cy = 0;
  StyleSet style;
  StyleSet exStyle;
  int fontPointSize = 8;
  std::string fontFace = "MS Sans Serif";
  std::string caption;
  std::string menu;
  std::string windowClass;
  std::vector<ControlTemplate> controls;  // template order, which is the tab order
  const ControlTemplate* control(int id) const;
};

struct MenuItemTemplate {
  std::string caption;
  int id = 0;
  bool popup = false;
  bool separator = false;
  std::vector<MenuItemTemplate> items;  // of a pop-up
};

struct MenuTemplate {
  std::string name;
  std::vector<MenuItemTemplate> items;
  const MenuItemTemplate* item(int id) const;  // searched depth-first
};

struct IconEntry {
  std::string name;
  std::string fileName;
  std::string data;  // the file's bytes
};

struct ResourceScript {
  std::vector<DialogTemplate> dialogs;
  std::vector<MenuTemplate> menus;
  std::vector<IconEntry> icons;
  std::map<int, std::string> strings;
  std::map<std::string, int> defines;  // #define name -> value
  const DialogTemplate* dialog(std::string_view name) const;
  const MenuTemplate* menu(std::string_view name) const;
  const IconEntry* icon(std::string_view name) const;
};

// Reads the bytes of a file an ICON statement names; nullopt when it cannot.
using ResourceFileReader = std::function<std::optional<std::string>(const std::string& fileName)>;

struct ScriptParseResult {
  std::optional<ResourceScript> script;
  int errorLine = 0;
  std::string errorMessage;  // "<scriptName>(<line>): <what>"
  bool ok() const { return script.has_value(); }
};

// Parses a resource script. Without a reader, ICON entries keep no data.
[[nodiscard]] ScriptParseResult parseResourceScript(std::string_view text, std::string_view scriptName,
                                                    const ResourceFileReader& reader = {});

// The process-wide resources. installResourceScript parses and installs; a malformed script is
// raised (EG_SYNTAX, naming the script and line) and leaves the previous set installed.
bool installResourceScript(std::string_view text, std::string_view scriptName,
                           const ResourceFileReader& reader);
void installResources(ResourceScript script);
const ResourceScript& resources();

// Look-ups in the installed set; a missing resource is raised (EG_ARG) naming it, and null returned.
const DialogTemplate* findDialog(std::string_view name);
const MenuTemplate* findMenu(std::string_view name);
const IconEntry* findIcon(std::string_view name);
// A string of the string table; empty when the id is absent.
std::string resourceString(int id);

// The numeric value of a style word (WS_TABSTOP, CBS_SORT, ...); nullopt for unknown words.
std::optional<std::uint32_t> styleWordValue(std::string_view word);

}  // namespace gui
