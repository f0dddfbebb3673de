// Workflow operations whose work arrives with later changes. Each is a stub that does nothing;
// move an operation out of this file when its own source file implements it.
#include "mainwin/zorbanewin.h"
#include "runtime/callstack.h"

namespace mainwin {

void ZorbaneWin::TwExistingReports() { RT_FRAME("ZorbaneWin:TwExistingReports"); }

}  // namespace mainwin
