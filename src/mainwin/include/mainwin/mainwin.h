// The main window: ZorbaneWin, laid out from the dialog template "ZORBANEWIN", with its fields,
// value properties and handlers. The window owns its controls, the hosted control and the one
// open model table. Everything runs on the GUI thread, synchronously, inside the message loop.
#pragma once
#include "mainwin/zorbanewin.h"
