// The bitmap support library: ten C entry points over QImage. Exported with C linkage so the
// loader finds them by name. Errors are kept in the last-error slot, never printed.
#include <QImage>
#include <QPainter>
#include <QString>

#include <string>

#include "bitmaplib/dib.h"
#include "runtime/files.h"

struct ZmcDib {
  QImage image;
};

namespace {

constexpr std::size_t kMaxFileBytes = 256u << 20;

int g_lastError = ZMCDIB_OK;
std::string g_lastMessage;
ZmcDibErrorCallback g_showErrors = nullptr;

int fail(int code, std::string message) {
  g_lastError = code;
  g_lastMessage = std::move(message);
  if (g_showErrors) g_showErrors(g_lastMessage.c_str());
  return 0;
}

int succeed() {
  g_lastError = ZMCDIB_OK;
  g_lastMessage.clear();
  return 1;
}

ZmcDibHandle failHandle(int code, std::string message) {
  fail(code, std::move(message));
  return nullptr;
}

ZmcDibHandle adopt(QImage image) {
  succeed();
  return new ZmcDib{std::move(image)};
}

}  // namespace

#define ZMCDIB_EXPORT extern "C" __attribute__((visibility("default")))

ZMCDIB_EXPORT ZmcDibHandle ZmcDibCreateFromFile(const char* fileName) {
  if (!fileName || !*fileName) return failHandle(ZMCDIB_BAD_ARGUMENT, "No file name given");
  std::string bytes, why;
  if (!rt::readRegularFile(fileName, kMaxFileBytes, bytes, why))
    return failHandle(ZMCDIB_NOT_FOUND, std::string("Cannot read a bitmap from ") + fileName + ": it " + why);
  QImage image;
  if (!image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size())))
    return failHandle(ZMCDIB_BAD_FORMAT, std::string("Cannot read a bitmap from ") + fileName);
  return adopt(std::move(image));
}

ZMCDIB_EXPORT ZmcDibHandle ZmcDibCreateFromMemory(const void* data, size_t size) {
  if (!data || size == 0) return failHandle(ZMCDIB_BAD_ARGUMENT, "No image data given");
  if (size > static_cast<size_t>(INT32_MAX)) return failHandle(ZMCDIB_BAD_ARGUMENT, "Image data too large");
  QImage image;
  if (!image.loadFromData(static_cast<const uchar*>(data), static_cast<int>(size)))
    return failHandle(ZMCDIB_BAD_FORMAT, "The data is not an image in a known format");
  return adopt(std::move(image));
}

ZMCDIB_EXPORT void ZmcDibDelete(ZmcDibHandle dib) { delete dib; }

ZMCDIB_EXPORT int ZmcDibStretchDraw(ZmcDibHandle dib, void* painter, int x, int y, int width, int height) {
  if (!dib || !painter) return fail(ZMCDIB_BAD_ARGUMENT, "No bitmap or no painter");
  if (width <= 0 || height <= 0) return fail(ZMCDIB_BAD_ARGUMENT, "Empty target rectangle");
  static_cast<QPainter*>(painter)->drawImage(QRect(x, y, width, height), dib->image);
  return succeed();
}

ZMCDIB_EXPORT int ZmcDibShow(ZmcDibHandle dib, void* painter, int x, int y) {
  if (!dib || !painter) return fail(ZMCDIB_BAD_ARGUMENT, "No bitmap or no painter");
  static_cast<QPainter*>(painter)->drawImage(QPoint(x, y), dib->image);
  return succeed();
}

ZMCDIB_EXPORT int ZmcDibGetInfo(ZmcDibHandle dib, ZmcDibInfo* info) {
  if (!dib || !info) return fail(ZMCDIB_BAD_ARGUMENT, "No bitmap or no information record");
  info->width = dib->image.width();
  info->height = dib->image.height();
  info->bitsPerPixel = dib->image.depth();
  info->byteCount = static_cast<long long>(dib->image.sizeInBytes());
  return succeed();
}

ZMCDIB_EXPORT int ZmcDibSaveAs(ZmcDibHandle dib, const char* fileName) {
  if (!dib || !fileName || !*fileName) return fail(ZMCDIB_BAD_ARGUMENT, "No bitmap or no file name");
  if (!dib->image.save(QString::fromLocal8Bit(fileName)))
    return fail(ZMCDIB_WRITE, std::string("Cannot write the bitmap to ") + fileName);
  return succeed();
}

ZMCDIB_EXPORT const char* ZmcDibLastErrorMessage(void) { return g_lastMessage.c_str(); }

ZMCDIB_EXPORT int ZmcDibLastError(void) { return g_lastError; }

ZMCDIB_EXPORT ZmcDibErrorCallback ZmcDibShowErrors(ZmcDibErrorCallback callback) {
  ZmcDibErrorCallback previous = g_showErrors;
  g_showErrors = callback;
  return previous;
}
