// Fuzzes the report layout reader and the report run as the program makes them. Each input is
// written as a layout file into a scratch folder that also holds the table the demo
// layouts read (with rows of every kind), a bitmap and a rich-text file; the layout is read from
// that file and, when it reads, its pages are produced through the program's printer device onto
// recorded pages. Reading must never raise (a bad layout only gives an error text naming the
// file); the run may raise, and every error is answered "default".
#include <QGuiApplication>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "rdd/rdd.h"
#include "reportengine/reportengine.h"
#include "reports/reports.h"
#include "scratch.h"

namespace {

const fuzz::ScratchDir& scratch() {
  static const fuzz::ScratchDir dir("fuzz_rpt");
  return dir;
}

bool g_running = false;  // errors may be raised only while the pages are produced

// The demo's empty table with rows whose fields take blank, short, long, true and false values.
void writeTable() {
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/Mpdms.dbf", scratch().file("Mpdms.dbf"),
                             std::filesystem::copy_options::overwrite_existing);
  rdd::OpenOptions options;
  options.shared = false;
  auto t = rdd::Table::open("Mpdms.dbf", scratch().folder(), options);
  if (!t) std::abort();
  for (int row = 0; row < 24; ++row) {
    t->append();
    for (int i = 0; i < t->fieldCount(); ++i) {
      const rdd::FieldInfo& f = t->field(i);
      if (f.type == 'L') t->putLogical(i, (row + i) % 3 == 0);
      else if (f.type == 'N') t->put(i, rt::Value(row * 7 - 20));
      else if (f.type == 'C') t->putStr(i, row % 5 == 0 ? "" : f.name + "_" + std::to_string(row / 4));
    }
  }
  t->close();
}

void writeObjects() {
  QImage image(16, 8, QImage::Format_RGB32);
  image.fill(Qt::darkGreen);
  image.save(QString::fromStdString(scratch().file("logo.bmp")), "BMP");
  scratch().write("note.rtf", std::string(R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0\fs20 Plain {\b bold} and {\i italic}\par Second\tab line\par})"));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "fuzz_rpt";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
  rt::setErrorBlock([](const rt::ErrorPtr&) -> rt::Value {
    if (!g_running) std::abort();
    return rt::Value(false);
  });
  rpt::InitRpFunctionLibraries();
  rpt::InitRpEvalObject();
  rpt::InitRpDataSourceList();
  reports::registerRpPrinter();
  writeTable();
  writeObjects();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  scratch().write("fuzz.rpt", data, size);
  const std::string path = scratch().file("fuzz.rpt");
  rpt::RpReport report(nullptr, path);
  if (!report.IsValid()) {
    if (report.errorText().rfind(path + ": ", 0) != 0) std::abort();
    return 0;
  }
  g_running = true;
  (void)report.render(rpt::Activity::Previewing);
  g_running = false;
  report.Close();
  return 0;
}
