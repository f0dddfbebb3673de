// The report engine: initialisation, report objects (RpReport), the printer device base
// (PtrDevice) and the text, bitmap and rich-text drawing pieces the device calls.
// Everything runs on the GUI thread.
#pragma once
#include "reportengine/dibmp.h"
#include "reportengine/drawtext.h"
#include "reportengine/ptrdevice.h"
#include "reportengine/rtf.h"

namespace rpt {

// The six initialisers, called once at process start in this order.
void _RPInitGetFormFunction();
void _InitErrorHandler();
void rpGetDefaultFont();
void InitRpFunctionLibraries();
void InitRpEvalObject();
void InitRpDataSourceList();

}  // namespace rpt
