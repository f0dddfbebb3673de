// The window toolkit over Qt Widgets: application object and message loop, windows and dialogs
// laid out from dialog-template resources, controls by name, menus, icons, fonts, pointers and
// modal boxes. Windows own their controls; the application owns nothing but the Qt application.
// Everything here runs on the one GUI thread.
#pragma once
#include "gui/boxes.h"
#include "gui/controls.h"
#include "gui/resource_script.h"
#include "gui/window.h"
