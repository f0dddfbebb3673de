// Nine of the ten entry points: the loader must refuse a library missing ZmcDibShowErrors.
#include "bitmaplib/dib.h"

extern "C" {
ZmcDibHandle ZmcDibCreateFromFile(const char*) { return nullptr; }
ZmcDibHandle ZmcDibCreateFromMemory(const void*, size_t) { return nullptr; }
void ZmcDibDelete(ZmcDibHandle) {}
int ZmcDibStretchDraw(ZmcDibHandle, void*, int, int, int, int) { return 0; }
int ZmcDibShow(ZmcDibHandle, void*, int, int) { return 0; }
int ZmcDibGetInfo(ZmcDibHandle, ZmcDibInfo*) { return 0; }
int ZmcDibSaveAs(ZmcDibHandle, const char*) { return 0; }
const char* ZmcDibLastErrorMessage(void) { return ""; }
int ZmcDibLastError(void) { return 0; }
}
