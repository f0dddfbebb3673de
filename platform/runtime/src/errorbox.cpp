#include "runtime/errorbox.h"

#include <cfenv>

namespace rt {
namespace {

struct Hooks {
  ErrorBoxHandler errorBox;
  MessageBoxHandler messageBox;
  ToneHandler tone;
};

Hooks& hooks() {
  static Hooks h;
  return h;
}

}  // namespace

void setErrorBoxHandler(ErrorBoxHandler handler) { hooks().errorBox = std::move(handler); }

std::uint32_t errorMessageBox(const std::string& text, const std::string& caption, std::uint32_t c1,
                              std::uint32_t c2, std::uint32_t c3) {
  if (hooks().errorBox) return hooks().errorBox(text, caption, c1, c2, c3);
  return c1 != 0 ? c1 : c2 != 0 ? c2 : c3;
}

void setMessageBoxHandler(MessageBoxHandler handler) { hooks().messageBox = std::move(handler); }

void messageBox(const std::string& text, const std::string& caption) {
  if (hooks().messageBox) hooks().messageBox(text, caption);
}

void setToneHandler(ToneHandler handler) { hooks().tone = std::move(handler); }

void tone(int frequency, int duration) {
  if (hooks().tone) hooks().tone(frequency, duration);
}

void mathInit() {
  std::feclearexcept(FE_ALL_EXCEPT);
  std::fesetround(FE_TONEAREST);
}

void internalError(int number, const std::string& text) {
  messageBox("Internal error " + std::to_string(number) + ": " + text, "Internal Error");
}

}  // namespace rt
