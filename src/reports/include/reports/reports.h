// Reports: the report list window and menu, the engine hooks (SetRpLangDLL, RpForceLink) and the
// printer device the report engine draws on (RpPrinter), registered with the engine under that
// class name. Everything runs on the GUI thread.
#pragma once
#include "reports/ExistingReportsWin.h"
#include "reports/ReportHook.h"
#include "reports/RpPrinter.h"
