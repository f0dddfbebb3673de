// Installation of the built-in resource script.
#include "resources/resources.h"

#include "gui/resource_script.h"

namespace res {
namespace detail {
extern const std::pair<std::string_view, std::string_view> kEmbeddedFiles[];
extern const int kEmbeddedFileCount;
}  // namespace detail

constexpr std::string_view kScriptName = "zorbane.rc";

std::optional<std::string> EmbeddedFile(const std::string& fileName) {
  for (int i = 0; i < detail::kEmbeddedFileCount; ++i)
    if (detail::kEmbeddedFiles[i].first == fileName) return std::string(detail::kEmbeddedFiles[i].second);
  return std::nullopt;
}

std::string_view ScriptText() {
  for (int i = 0; i < detail::kEmbeddedFileCount; ++i)
    if (detail::kEmbeddedFiles[i].first == kScriptName) return detail::kEmbeddedFiles[i].second;
  return {};
}

bool InstallResources() {
  return gui::installResourceScript(ScriptText(), kScriptName,
                                    [](const std::string& name) { return EmbeddedFile(name); });
}

}  // namespace res
