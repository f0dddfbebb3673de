// Long operations of the main window's buttons: the work runs inside a recovery point, so an
// error answered with Break ends only the work, and the window is left usable all the same.
#pragma once
#include <functional>
#include <initializer_list>
#include <string>

#include "mainwin/zorbanewin.h"

namespace mainwin::detail {

// Disables `disable` in order, runs `work`, then `always` (when given), then enables `enable` in
// order. When the work broke off: arrow pointer back, progress bar at 0, and the model table open
// shared again if the break left it closed or exclusive; `always` runs all the same. Answers true
// when the work ran to its end.
bool runLongOperation(ZorbaneWin& win, std::initializer_list<gui::PushButton*> disable,
                      const std::function<void()>& work, std::initializer_list<gui::PushButton*> enable,
                      const std::function<void()>& always = {});

// Opens a new shared model table in the window's ModelServer.
void openSharedTable(ZorbaneWin& win);

// True, after a box saying so, when the window's table is open for reading alone (this user
// may not write it or its folder).
bool refusedReadOnly(ZorbaneWin& win);

// The model table, or a raised EG_NOTABLE and null when the window holds none or its table is
// not open (a missing or unreadable file): appends to a closed table would write nothing. A
// read-only table is refused with a box (refusedReadOnly) and null.
model::Mpdms* openTable(ZorbaneWin& win, const char* operation);

}  // namespace mainwin::detail
