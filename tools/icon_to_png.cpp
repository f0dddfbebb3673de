// Draws the program's desktop icon, a vector drawing (SVG), as the PNG files of the desktop's
// icon theme: <out>/<n>x<n>/apps/<name>.png for each size given, each drawn afresh at its size.
// Usage: icon_to_png <svg file> <out dir> <name> <size>...
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: icon_to_png <svg file> <out dir> <name> <size>...\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");  // a build machine need not have a display
  QGuiApplication app(argc, argv);
  QSvgRenderer drawing(QString::fromLocal8Bit(argv[1]));
  if (!drawing.isValid()) {
    std::fprintf(stderr, "icon_to_png: cannot read the drawing %s\n", argv[1]);
    return 1;
  }
  for (int i = 4; i < argc; ++i) {
    const int size = QString::fromLocal8Bit(argv[i]).toInt();
    if (size <= 0) {
      std::fprintf(stderr, "icon_to_png: bad size %s\n", argv[i]);
      return 2;
    }
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter);
    painter.end();
    const QString dir = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    const QString file = dir + "/" + QString::fromLocal8Bit(argv[3]) + ".png";
    if (!QDir().mkpath(dir) || !icon.save(file, "PNG")) {
      std::fprintf(stderr, "icon_to_png: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
