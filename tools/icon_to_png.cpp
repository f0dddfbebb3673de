// Writes the program's icon as PNG files for the desktop's icon theme: reads an icon file and
// writes <out>/<n>x<n>/apps/<name>.png for each size given. Enlarged sizes keep the pixels sharp.
// Usage: icon_to_png <icon file> <out dir> <name> <size>...
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: icon_to_png <icon file> <out dir> <name> <size>...\n");
    return 2;
  }
  QCoreApplication app(argc, argv);  // makes the image format plugins reachable
  const QString source = QString::fromLocal8Bit(argv[1]);
  QImage icon(source);
  if (icon.isNull()) {
    std::fprintf(stderr, "icon_to_png: cannot read %s\n", argv[1]);
    return 1;
  }
  icon = icon.convertToFormat(QImage::Format_ARGB32);
  for (int i = 4; i < argc; ++i) {
    const int size = QString::fromLocal8Bit(argv[i]).toInt();
    if (size <= 0) {
      std::fprintf(stderr, "icon_to_png: bad size %s\n", argv[i]);
      return 2;
    }
    const Qt::TransformationMode mode = size >= icon.width() ? Qt::FastTransformation : Qt::SmoothTransformation;
    const QString dir = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    const QString file = dir + "/" + QString::fromLocal8Bit(argv[3]) + ".png";
    if (!QDir().mkpath(dir) || !icon.scaled(size, size, Qt::IgnoreAspectRatio, mode).save(file, "PNG")) {
      std::fprintf(stderr, "icon_to_png: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
