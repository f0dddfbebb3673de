// The run-time layer: dynamic values, symbols, objects with late binding, error objects and the
// raise protocol, process settings and memory, formatting, the call stack, the function table
// and the expression compiler. Everything here runs on the one GUI thread; nothing here knows
// of Qt.
#pragma once
#include "runtime/callstack.h"
#include "runtime/error.h"
#include "runtime/errorbox.h"
#include "runtime/errorrecord.h"
#include "runtime/expression.h"
#include "runtime/files.h"
#include "runtime/format.h"
#include "runtime/functions.h"
#include "runtime/memory.h"
#include "runtime/object.h"
#include "runtime/settings.h"
#include "runtime/symbol.h"
#include "runtime/utf8.h"
#include "runtime/value.h"
