// The report engine: initialisation, report layouts read and run (RpReport), the preview window,
// the printer device base (PtrDevice) and the text, bitmap and rich-text drawing pieces the
// device calls. Reports draw only through a device obtained by class name; layouts only read data.
// Everything runs on the GUI thread.
#pragma once
#include <string>

#include "reportengine/dibmp.h"
#include "reportengine/drawtext.h"
#include "reportengine/functions.h"
#include "reportengine/layout.h"
#include "reportengine/ptrdevice.h"
#include "reportengine/render.h"
#include "reportengine/rpreport.h"
#include "reportengine/rtf.h"

namespace rpt {

// The six initialisers, called once at process start in this order.
void _RPInitGetFormFunction();
void _InitErrorHandler();
void rpGetDefaultFont();
void InitRpFunctionLibraries();  // general run-time library, table functions, the engine's own
void InitRpEvalObject();
void InitRpDataSourceList();
// True once all six have run.
bool engineInitialised();

// Selects the library of the engine's language-dependent texts; the engine's texts are built in,
// so the name is only kept.
void SetRpRunLangDLL(const std::string& libraryName);
const std::string& rpRunLangDLL();

}  // namespace rpt
