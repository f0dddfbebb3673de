// The bench's scenarios. Each runs in a process of its own, in the working directory prepared
// for it (an empty Mpdms.dbf, the control's stored state and the generated store), and does the
// user's three steps: load the first family as version 1.0, the second as 2.0, compare them.
#pragma once
#include "figures.h"

namespace bench {

// Through the real main window, offscreen: buttons clicked, boxes answered by the test
// responder, each step timed from the click to its "Finished" box.
Figures runWindow();
// The same steps through the window's screen-free units, with no window at all.
Figures runUnits();
// The same rows through SQLite.
Figures runSqlite();
// The control's share: both families walked with the load's calls, nothing written.
Figures runWalk();
// A restart over the table the screen-free units left: the table opened alone, then the window
// started over it.
Figures runRestart();

}  // namespace bench
