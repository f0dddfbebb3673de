// DIBMP: a bitmap loaded from a file (BMP, PNG and the other formats Qt reads) and drawn into a
// rectangle of a device context.
#pragma once
#include <memory>
#include <string>

#include <QImage>

#include "gdi/gdi.h"
#include "runtime/runtime.h"

namespace rpt {

class DIBMP : public rt::Object {
 public:
  std::string className() const override { return "DIBMP"; }

  // False (and nothing loaded) for a missing, unreadable or malformed file.
  bool LoadDIBFromFile(const std::string& fileName);
  bool loaded() const { return !image_.isNull(); }
  const QImage& image() const { return image_; }

  // Draws at (column, row). A missing height or width follows the bitmap's own size at its
  // resolution (96 dpi when the file gives none), keeping the aspect ratio when only one is given.
  // The vertical and horizontal values are accepted and not used. A true option keeps the aspect
  // ratio inside the rectangle. Returns false when nothing was drawn.
  bool DrawDIB(gdi::Handle dc, const rt::Value& row, const rt::Value& column, const rt::Value& height,
               const rt::Value& width, const rt::Value& vertical, const rt::Value& horizontal,
               const rt::Value& option);

  void Destroy() { image_ = QImage(); }

  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;

 private:
  QImage image_;
};

}  // namespace rpt
