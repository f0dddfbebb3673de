// Reports: the printer device the report engine draws on (RpPrinter) and its registration under
// that class name with the engine. The report list window and menu join this header later.
// Everything runs on the GUI thread.
#pragma once
#include "reports/RpPrinter.h"
