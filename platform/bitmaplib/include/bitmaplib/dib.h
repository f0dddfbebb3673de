// The ten C entry points of the bitmap support library (libzmcbitmap.so), as exported by the
// library and resolved by the loader. A handle is an opaque pointer to an image; functions
// answering int answer 1 on success and 0 on failure, with the reason in the last error.
#pragma once
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZmcDib* ZmcDibHandle;

typedef struct ZmcDibInfo {
  int width;
  int height;
  int bitsPerPixel;
  long long byteCount;
} ZmcDibInfo;

// Error codes of ZmcDibLastError.
enum { ZMCDIB_OK = 0, ZMCDIB_BAD_ARGUMENT = 1, ZMCDIB_NOT_FOUND = 2, ZMCDIB_BAD_FORMAT = 3, ZMCDIB_WRITE = 4 };

typedef ZmcDibHandle (*ZmcDibCreateFromFileFn)(const char* fileName);
typedef ZmcDibHandle (*ZmcDibCreateFromMemoryFn)(const void* data, size_t size);
typedef void (*ZmcDibDeleteFn)(ZmcDibHandle dib);
// `painter` is a QPainter*; draws the image scaled into the rectangle.
typedef int (*ZmcDibStretchDrawFn)(ZmcDibHandle dib, void* painter, int x, int y, int width, int height);
// Draws the image at its own size with its top-left corner at (x, y).
typedef int (*ZmcDibShowFn)(ZmcDibHandle dib, void* painter, int x, int y);
typedef int (*ZmcDibGetInfoFn)(ZmcDibHandle dib, ZmcDibInfo* info);
// The format follows the file name's suffix (bmp, png, ...).
typedef int (*ZmcDibSaveAsFn)(ZmcDibHandle dib, const char* fileName);
typedef const char* (*ZmcDibLastErrorMessageFn)(void);
typedef int (*ZmcDibLastErrorFn)(void);
// Errors are handed to `callback` as they happen (null: kept silent); answers the previous one.
typedef void (*ZmcDibErrorCallback)(const char* message);
typedef ZmcDibErrorCallback (*ZmcDibShowErrorsFn)(ZmcDibErrorCallback callback);

#ifdef __cplusplus
}
#endif
