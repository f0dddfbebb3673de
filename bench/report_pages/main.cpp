// Reports at scale: the demo's Differences layout over a generated compared table (default 10,000
// classes in two versions, 622,476 rows), previewed page by page and exported to PDF; the peer is
// the same report drawn in one walk with every page kept, as the preview once did. Each figure is
// taken in a child process of its own, so that its peak resident size is its own. The sizes run
// twice, the second time with the rows doubled, so that growth can be read off.
//
// Usage: report_pages [classes=10000] [--no-peer]
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "reportengine/reportengine.h"
#include "reports/reports.h"
#include "runtime/runtime.h"

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// Processor time of this process in seconds: on a machine shared with other work the wall-clock
// figures stretch, these do not.
double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// Resident and peak resident size in MB, from /proc/self/status.
double statusMb(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0) return std::atof(line.c_str() + std::strlen(key)) / 1024.0;
  return 0;
}
double residentMb() { return statusMb("VmRSS:"); }
double peakMb() { return statusMb("VmHWM:"); }
// The part of the resident size that is the table file's pages, mapped by the table driver: shared
// with the system's file cache and given back under memory pressure.
double fileMb() { return statusMb("RssFile:"); }

// Resets the peak to the current size, so a child measures only its own work.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Field {
  const char* name;
  char type;
  int length;
};
constexpr Field kFields[] = {{"MODELVERS", 'C', 15}, {"ATTRIBUTE", 'C', 50}, {"CLASSNAME", 'C', 50},
                             {"TYPE", 'C', 20},      {"INS_CLASS", 'C', 1},  {"PARENTNAME", 'C', 50},
                             {"PROP_METHO", 'C', 1}, {"FAMILYNAME", 'C', 15}, {"NO_MATCH", 'L', 1},
                             {"ALL_OK", 'L', 1},     {"TYPEPROBLM", 'L', 1}, {"LEVELPROB", 'L', 1},
                             {"COMPARED", 'L', 1},   {"PARENTOK", 'L', 1},   {"CLASSFOUND", 'L', 1}};

void put32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v);
  s[at + 1] = static_cast<char>(v >> 8);
}

// Writes the compared table of two versions of a family of `classes` classes, with 30 or 31 own
// properties each (622,476 rows for 10,000 classes); two properties of every class differ in type.
long writeTable(const fs::path& path, int classes) {
  const int fieldCount = static_cast<int>(std::size(kFields));
  const int headerLength = 32 + 32 * fieldCount + 1;
  int recordLength = 1;
  for (const Field& f : kFields) recordLength += f.length;
  std::string header(headerLength, '\0');
  header[0] = 0x03;
  header[1] = 126;
  header[2] = 12;
  header[3] = 1;
  put16(header, 8, static_cast<std::uint16_t>(headerLength));
  put16(header, 10, static_cast<std::uint16_t>(recordLength));
  header[29] = 0x03;
  int offset = 1;
  for (int i = 0; i < fieldCount; ++i) {
    const std::size_t at = 32 + 32 * i;
    std::memcpy(&header[at], kFields[i].name, std::strlen(kFields[i].name));
    header[at + 11] = kFields[i].type;
    put32(header, at + 12, static_cast<std::uint32_t>(offset));
    header[at + 16] = static_cast<char>(kFields[i].length);
    offset += kFields[i].length;
  }
  header[headerLength - 1] = 0x0D;
  std::ofstream out(path, std::ios::binary);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  long rows = 0;
  std::string record;
  auto row = [&](const std::string& version, const std::string& cls, const std::string& member, const std::string& type,
                 char pm, char level, bool differs) {
    record.assign(1, ' ');
    const std::string texts[] = {version, member, cls, type, std::string(1, level), "Object", std::string(1, pm),
                                 "Generated"};
    for (int i = 0; i < 8; ++i) {
      std::string v = texts[i];
      v.resize(static_cast<std::size_t>(kFields[i].length), ' ');
      record += v;
    }
    const bool flags[] = {false, !differs, differs, false, true, true, true};
    for (bool f : flags) record += f ? 'T' : 'F';
    out.write(record.data(), static_cast<std::streamsize>(record.size()));
    ++rows;
  };
  for (const char* version : {"1.0", "2.0"})
    for (int c = 0; c < classes; ++c) {
      const std::string cls = "GeneratedClass" + std::to_string(100000 + c);
      row(version, cls, "", "", ' ', ' ', false);
      const int members = 30 + (c < classes * 1238 / 10000 ? 1 : 0);
      for (int m = 0; m < members; ++m) {
        const bool differs = m == 7 || m == 19;
        row(version, cls, "property" + std::to_string(m), differs && *version == '2' ? "Real" : "Integer", 'P', 'I',
            differs);
      }
    }
  out.put(0x1A);
  out.close();
  std::string count(4, '\0');
  put32(count, 0, static_cast<std::uint32_t>(rows));
  std::fstream patch(path, std::ios::binary | std::ios::in | std::ios::out);
  patch.seekp(4);
  patch.write(count.data(), 4);
  return rows;
}

struct Figures {
  double firstPage = 0, whole = 0, export_ = 0;        // seconds
  double firstPageCpu = 0, wholeCpu = 0, exportCpu = 0;  // processor seconds
  double before = 0, growth = 0;                 // MB: resident before the report, peak above it
  double previewGrowth = 0;                      // MB: peak above it while previewing, before the export
  double filePages = 0;                          // MB of it that are file pages, after the first pass
  int pages = 0;
};

// Runs `work` in a child process and brings its figures back through a pipe.
Figures inChild(const std::function<Figures()>& work) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    resetPeak();
    const Figures f = work();
    if (write(fds[1], &f, sizeof f) != sizeof f) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Figures f;
  const bool got = read(fds[0], &f, sizeof f) == sizeof f;
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!got) {
    std::fprintf(stderr, "a measuring child failed\n");
    std::exit(1);
  }
  return f;
}

// The preview's way: rows read, page 1 drawn, then the first pass to the end; and the export.
Figures lazy(const std::string& layout, const fs::path& pdf) {
  Figures f;
  f.before = residentMb();
  rpt::RpReport report(nullptr, layout);
  auto start = std::chrono::steady_clock::now();
  double cpu = cpuSeconds();
  {
    const auto pages = report.open(rpt::Activity::Previewing);
    (void)pages->layOut(20000);
    (void)pages->drawPage(0);
    f.firstPage = seconds(start);
    f.firstPageCpu = cpuSeconds() - cpu;
    (void)pages->layOut();
    f.whole = seconds(start);
    f.wholeCpu = cpuSeconds() - cpu;
    f.pages = pages->pageCount();
    (void)pages->drawPage(f.pages - 1);  // the last page, reached directly
    f.previewGrowth = peakMb() - f.before;
    f.filePages = fileMb();
  }
  start = std::chrono::steady_clock::now();
  cpu = cpuSeconds();
  if (!report.exportPdf(pdf.string())) std::exit(2);
  f.export_ = seconds(start);
  f.exportCpu = cpuSeconds() - cpu;
  f.growth = peakMb() - f.before;
  return f;
}

// The peer: every page drawn and kept before the first is shown.
Figures eager(const std::string& layout) {
  Figures f;
  f.before = residentMb();
  rpt::RpReport report(nullptr, layout);
  const auto start = std::chrono::steady_clock::now();
  const double cpu = cpuSeconds();
  const auto pages = report.render(rpt::Activity::Previewing);
  f.firstPage = f.whole = seconds(start);
  f.firstPageCpu = f.wholeCpu = cpuSeconds() - cpu;
  f.pages = pages ? static_cast<int>(pages->pages.size()) : 0;
  f.growth = peakMb() - f.before;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  rt::setAllocationPolicy();  // as the programs do
  const bool help = argc > 1 && std::strcmp(argv[1], "--help") == 0;
  const bool badArguments = argc > 3 || (argc > 1 && std::atoi(argv[1]) <= 0) ||
                            (argc > 2 && std::strcmp(argv[2], "--no-peer") != 0);
  if (help || badArguments) {
    std::fputs("Usage: report_pages [classes=10000 (at least 1)] [--no-peer]\n", help ? stdout : stderr);
    return help ? 0 : 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int classes = argc > 1 ? std::atoi(argv[1]) : 10000;
  const bool peer = argc <= 2;
  rpt::InitRpFunctionLibraries();
  reports::registerRpPrinter();
  const fs::path dir = fs::temp_directory_path() / ("zmc-report-pages-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::copy_file(fs::path(ZMC_DEMO_DIR) / "Differences.rpt", dir / "Differences.rpt");
  const std::string layout = (dir / "Differences.rpt").string();

  std::printf("Differences report, lazy pages (the preview and the export) against every page drawn and kept\n");
  Figures previous;
  for (int factor : {1, 2}) {
    const long rows = writeTable(dir / "Mpdms.dbf", classes * factor);
    const Figures f = inChild([&] { return lazy(layout, dir / "out.pdf"); });
    std::printf("\n%ld rows, %d pages (resident before the report %.0f MB)\n", rows, f.pages, f.before);
    std::printf("  lazy:  first page %.2f s (%.2f s processor), page count known after %.2f s (%.2f s),\n"
                "         PDF export %.2f s (%.2f s); peak %.0f MB above while previewing, %.0f MB with the export\n",
                f.firstPage, f.firstPageCpu, f.whole, f.wholeCpu, f.export_, f.exportCpu, f.previewGrowth, f.growth);
    std::printf("         of the resident size %.0f MB are the table file's mapped pages; PDF %.1f MB, %.0f bytes kept a page\n",
                f.filePages, fs::file_size(dir / "out.pdf") / 1e6, double(sizeof(rpt::PageStart)));
    if (peer && factor == 1) {
      const Figures e = inChild([&] { return eager(layout); });
      std::printf("  peer:  every page kept: first page %.2f s (%.2f s processor), peak %.0f MB above\n", e.firstPage,
                  e.firstPageCpu, e.growth);
      std::printf("  ratio: first page %.2fx faster (processor %.2fx), peak memory %.1fx smaller\n",
                  e.firstPage / f.firstPage, e.firstPageCpu / f.firstPageCpu, e.growth / std::max(1.0, f.growth));
    }
    if (factor == 2)
      std::printf("  growth with twice the rows (processor time): first page %.2fx, export %.2fx, peak memory %.2fx\n",
                  f.firstPageCpu / previous.firstPageCpu, f.exportCpu / previous.exportCpu,
                  f.growth / std::max(1.0, previous.growth));
    previous = f;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
