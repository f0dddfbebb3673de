// Recorded pages: replay onto another context, the text dump and the comment list.
#include <QCryptographicHash>
#include <cstdio>

#include "gdi_internal.h"

namespace gdi {

bool replay(const RecordedPage& page, Handle target) {
  if (!isDc(target)) return false;
  // Objects made during the replay; each kind's previous one is deleted once replaced.
  Handle font = 0, pen = 0, brush = 0;
  auto swapIn = [&](Handle& slot, Handle made) {
    selectObject(target, made);
    if (slot) deleteObject(slot);
    slot = made;
  };
  for (const Record& r : page.records) {
    switch (r.kind) {
      case Record::SelectFont: swapIn(font, createFont(r.font)); break;
      case Record::SelectPen: swapIn(pen, createPen(r.pen.style, r.pen.width, r.pen.color)); break;
      case Record::SelectBrush: swapIn(brush, createBrushIndirect(r.brush)); break;
      case Record::TextColor: setTextColor(target, static_cast<ColorRef>(r.a)); break;
      case Record::BkColor: setBkColor(target, static_cast<ColorRef>(r.a)); break;
      case Record::BkMode: setBkMode(target, r.a); break;
      case Record::TextAlignment: setTextAlign(target, r.a); break;
      case Record::TextOut: textOut(target, r.a, r.b, r.text); break;
      case Record::MoveTo: moveTo(target, r.a, r.b); break;
      case Record::LineTo: lineTo(target, r.a, r.b); break;
      case Record::Rectangle: rectangle(target, r.a, r.b, r.c, r.d); break;
      case Record::Ellipse: ellipse(target, r.a, r.b, r.c, r.d); break;
      case Record::Comment: gdiComment(target, r.data); break;
      case Record::Image: stretchImage(target, r.a, r.b, r.c, r.d, r.image); break;
    }
  }
  selectObject(target, stockObject(BLACK_PEN));
  selectObject(target, stockObject(WHITE_BRUSH));
  if (pen) deleteObject(pen);
  if (brush) deleteObject(brush);
  if (font) deleteObject(font);  // the context keeps a copy of the font it last had
  return true;
}

namespace {

std::string hex(ColorRef c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", redOf(c), greenOf(c), blueOf(c));
  return buf;
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (unsigned char ch : s) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", ch);
      out += buf;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

}  // namespace

std::string dump(const RecordedPage& page) {
  std::string out = "page " + std::to_string(page.width) + "x" + std::to_string(page.height) + " @" +
                    std::to_string(page.dpiX) + "x" + std::to_string(page.dpiY) + "\n";
  auto four = [](const Record& r) {
    return std::to_string(r.a) + " " + std::to_string(r.b) + " " + std::to_string(r.c) + " " + std::to_string(r.d);
  };
  for (const Record& r : page.records) {
    switch (r.kind) {
      case Record::SelectFont:
        out += "font h=" + std::to_string(r.font.height) + " w=" + std::to_string(r.font.width) +
               " esc=" + std::to_string(r.font.escapement) + " weight=" + std::to_string(r.font.weight) +
               " i=" + std::to_string(r.font.italic) + " u=" + std::to_string(r.font.underline) +
               " s=" + std::to_string(r.font.strikeOut) + " face=" + quoted(r.font.faceName);
        break;
      case Record::SelectPen:
        out += "pen style=" + std::to_string(r.pen.style) + " width=" + std::to_string(r.pen.width) +
               " color=" + hex(r.pen.color);
        break;
      case Record::SelectBrush:
        out += "brush style=" + std::to_string(r.brush.style) + " color=" + hex(r.brush.color) +
               " hatch=" + std::to_string(r.brush.hatch);
        break;
      case Record::TextColor: out += "textcolor " + hex(static_cast<ColorRef>(r.a)); break;
      case Record::BkColor: out += "bkcolor " + hex(static_cast<ColorRef>(r.a)); break;
      case Record::BkMode: out += "bkmode " + std::to_string(r.a); break;
      case Record::TextAlignment: out += "align " + std::to_string(r.a); break;
      case Record::TextOut:
        out += "text " + std::to_string(r.a) + " " + std::to_string(r.b) + " " + quoted(r.text);
        break;
      case Record::MoveTo: out += "moveto " + std::to_string(r.a) + " " + std::to_string(r.b); break;
      case Record::LineTo: out += "lineto " + std::to_string(r.a) + " " + std::to_string(r.b); break;
      case Record::Rectangle: out += "rectangle " + four(r); break;
      case Record::Ellipse: out += "ellipse " + four(r); break;
      case Record::Comment: {
        out += "comment";
        char buf[4];
        for (std::uint8_t byte : r.data) {
          std::snprintf(buf, sizeof buf, " %02X", byte);
          out += buf;
        }
        break;
      }
      case Record::Image: {
        QByteArray bytes(reinterpret_cast<const char*>(r.image.constBits()), r.image.sizeInBytes());
        out += "image " + four(r) + " " + std::to_string(r.image.width()) + "x" +
               std::to_string(r.image.height()) + " md5=" +
               QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().left(12).toStdString();
        break;
      }
    }
    out += "\n";
  }
  return out;
}

std::vector<std::vector<std::uint8_t>> comments(const RecordedPage& page) {
  std::vector<std::vector<std::uint8_t>> out;
  for (const Record& r : page.records)
    if (r.kind == Record::Comment) out.push_back(r.data);
  return out;
}

}  // namespace gdi
