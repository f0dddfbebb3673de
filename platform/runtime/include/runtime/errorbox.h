// The run-time's hooks for reporting to the user: the error message box with up to three
// choices, the plain message box, the tone generator, the floating-point reset and the
// internal-error report. The toolkit installs real boxes; tests install recorders. GUI thread only.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace rt {

// Choice values of the error box. The first is 1 (default or substitute) or 0 (not offered), the
// second 2 (retry) or 0; the third always has kChoiceFlag set and its low bits are
// kChoiceBreak when a recovery point can take a break, else 0 (quit the program).
inline constexpr std::uint32_t kChoiceFlag = 0x80000000u;
inline constexpr std::uint32_t kChoiceBreak = 3;

// Shows `text` under `caption` offering the non-zero choices among c1, c2, c3 and answers the
// value of the choice taken (closing the box counts as c3). Without a handler the box is not
// shown and the first non-zero value is answered.
using ErrorBoxHandler = std::function<std::uint32_t(const std::string& text, const std::string& caption,
                                                    std::uint32_t c1, std::uint32_t c2, std::uint32_t c3)>;
void setErrorBoxHandler(ErrorBoxHandler handler);
std::uint32_t errorMessageBox(const std::string& text, const std::string& caption, std::uint32_t c1,
                              std::uint32_t c2, std::uint32_t c3);

// A plain modal box with an OK button (the factory's and the internal-error reports).
// Without a handler nothing is shown.
using MessageBoxHandler = std::function<void(const std::string& text, const std::string& caption)>;
void setMessageBoxHandler(MessageBoxHandler handler);
void messageBox(const std::string& text, const std::string& caption);

// Sounds a tone of `frequency` Hz for `duration` ticks (1 tick = 1/18 s). Without a handler the
// tone is dropped (no sound device is assumed).
using ToneHandler = std::function<void(int frequency, int duration)>;
void setToneHandler(ToneHandler handler);
void tone(int frequency, int duration);

// Resets the floating-point environment: clears the sticky exception flags and restores
// round-to-nearest, so the next calculation starts clean after a processor exception.
void mathInit();

// Reports an internal fault of the run-time in a plain box captioned "Internal Error" with the
// text "Internal error <number>: <text>", then returns; the program goes on.
void internalError(int number, const std::string& text);

}  // namespace rt
