// The bitmap support library's loader: finds the shared library by name (beside the executable
// first), resolves its ten entry points and keeps the process-wide availability flag.
// Promise: available() is true only when the library loaded and every entry point resolved.
// The loader owns the library handle for the life of the process. GUI thread only.
#pragma once
#include <string>
#include <vector>

#include "bitmaplib/dib.h"

namespace bmp {

// The resolved entry points; all null while the library is unavailable.
struct EntryPoints {
  ZmcDibCreateFromFileFn createFromFile = nullptr;
  ZmcDibCreateFromMemoryFn createFromMemory = nullptr;
  ZmcDibDeleteFn deleteDib = nullptr;
  ZmcDibStretchDrawFn stretchDraw = nullptr;
  ZmcDibShowFn show = nullptr;
  ZmcDibGetInfoFn getInfo = nullptr;
  ZmcDibSaveAsFn saveAs = nullptr;
  ZmcDibLastErrorMessageFn lastErrorMessage = nullptr;
  ZmcDibLastErrorFn lastError = nullptr;
  ZmcDibShowErrorsFn showErrors = nullptr;
};

// Loads the library `name` ("zmcbitmap", "libzmcbitmap.so" or a path), searching the
// executable's folder, then `extraDirs`, then the system's library path. Answers available().
bool loadSupportLibrary(const std::string& name, const std::vector<std::string>& extraDirs = {});
bool available();
const EntryPoints& entryPoints();
// Why the last load failed ("" after a success): the library or the entry point not found.
const std::string& lastLoadError();
// Releases the library and clears the flag (tests use it to start over).
void unloadSupportLibrary();

}  // namespace bmp
