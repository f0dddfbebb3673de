// TwExistingReports: the "Existing Reports" menu command of the main window.
#include "mainwin/zorbanewin.h"
#include "reports/reports.h"
#include "runtime/callstack.h"

namespace mainwin {

void ZorbaneWin::TwExistingReports() {
  RT_FRAME("ZorbaneWin:TwExistingReports");
  reports::ShowExistingReports(this);
}

}  // namespace mainwin
