// The process-wide set of resources that windows, menus and icons are built from.
#include "gui/resource_script.h"
#include "internal.h"
#include "runtime/error.h"

namespace gui {
namespace {

ResourceScript& installed() {
  static ResourceScript script;
  return script;
}

}  // namespace

bool installResourceScript(std::string_view text, std::string_view scriptName, const ResourceFileReader& reader) {
  ScriptParseResult result = parseResourceScript(text, scriptName, reader);
  if (!result.ok()) {
    auto error = rt::makeError(rt::EG_SYNTAX, "GUI", result.errorMessage, "installResourceScript",
                               std::string(scriptName));
    error->canDefault = true;
    (void)rt::raise(error);
    return false;
  }
  installed() = std::move(*result.script);
  return true;
}

void installResources(ResourceScript script) { installed() = std::move(script); }
const ResourceScript& resources() { return installed(); }

const DialogTemplate* findDialog(std::string_view name) {
  if (const DialogTemplate* d = installed().dialog(name)) return d;
  detail::raiseGui(rt::EG_ARG, "no dialog resource named " + std::string(name), "findDialog");
  return nullptr;
}

const MenuTemplate* findMenu(std::string_view name) {
  if (const MenuTemplate* m = installed().menu(name)) return m;
  detail::raiseGui(rt::EG_ARG, "no menu resource named " + std::string(name), "findMenu");
  return nullptr;
}

const IconEntry* findIcon(std::string_view name) {
  if (const IconEntry* i = installed().icon(name)) return i;
  detail::raiseGui(rt::EG_ARG, "no icon resource named " + std::string(name), "findIcon");
  return nullptr;
}

std::string resourceString(int id) {
  auto it = installed().strings.find(id);
  return it == installed().strings.end() ? std::string() : it->second;
}

}  // namespace gui
