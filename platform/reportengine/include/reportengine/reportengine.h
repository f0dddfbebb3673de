// The report engine: initialisation, report objects (RpReport), the printer device base
// (PtrDevice) and the text, bitmap and rich-text drawing pieces the device calls.
// Everything runs on the GUI thread.
#pragma once

namespace rpt {

// The six initialisers, called once at process start in this order.
void _RPInitGetFormFunction();
void _InitErrorHandler();
void rpGetDefaultFont();
void InitRpFunctionLibraries();
void InitRpEvalObject();
void InitRpDataSourceList();

}  // namespace rpt
