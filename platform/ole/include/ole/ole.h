// The automation layer: reference-counted dispatch interfaces, variants, OLEAutoObject with late
// binding by name and early binding through member descriptors, and controls created from
// stored state by registered class name. Interfaces are owned by reference count; run-time
// objects own their interfaces. Failures are raised through the run-time. GUI thread only.
#pragma once
#include "ole/autoobject.h"
#include "ole/dispatch.h"
#include "ole/storage.h"
