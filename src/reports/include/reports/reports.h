// Reports: the report list window and menu, the engine hooks (SetRpLangDLL, RpForceLink) and the
// printer device the report engine draws on (RpPrinter), registered with the engine under that
// class name. Everything runs on the GUI thread.
#pragma once
#include "reports/existing_reports_win.h"
#include "reports/report_hook.h"
#include "reports/rp_printer.h"
