// The preview window over Qt Widgets: a tool row (pages, zoom, print, print to file, export),
// the page image in a scroll area, and a status line that shows the printing message and where
// files were written. The first pass over the report runs in slices on the event loop while
// page 1 is already on screen.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "reportengine/rpreport.h"

namespace rpt {

namespace {

PrintDialogDriver& printDialogDriver() {
  static PrintDialogDriver driver;
  return driver;
}

FileNameChooser& fileNameChooser() {
  static FileNameChooser chooser;
  return chooser;
}

constexpr long kBandsPerSlice = 5000;     // first-pass work between two looks at the event loop
constexpr long kBandsAtOpening = 20000;   // small reports are laid out before the window shows
constexpr int kFitWidth = -1;
constexpr int kWholePage = -2;
constexpr int kZoomSteps[] = {25, 50, 75, 100, 125, 150, 200, 300, 400};
constexpr double kScreenDpi = 96.0;
constexpr int kPagePadding = 24;  // pixels around the page inside the scroll area

// The path a relative name has in the working directory.
std::string inWorkingDirectory(const std::string& name) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(name).filename(), ec);
  return ec ? name : absolute.string();
}

// Asks for the name of a file to write, suggesting `suggested`; "" when the user cancelled.
std::string askFileName(QWidget* parent, const std::string& caption, const std::string& suggested,
                        const QString& filter) {
  if (const FileNameChooser& chooser = fileNameChooser()) return chooser(caption, suggested);
  return QFileDialog::getSaveFileName(parent, QString::fromStdString(caption), QString::fromStdString(suggested),
                                      filter)
      .toStdString();
}

}  // namespace

void setPrintDialogDriver(PrintDialogDriver driver) { printDialogDriver() = std::move(driver); }
void setFileNameChooser(FileNameChooser chooser) { fileNameChooser() = std::move(chooser); }

struct PreviewWindow::Impl {
  RpReport& report;
  std::unique_ptr<PagedReport> pages;
  std::string printFile;
  std::string layoutName;
  std::string message;
  std::string lastMessage;
  int page = 1;
  ZoomMode zoomMode = ZoomMode::FitWidth;
  int zoomPercent = 100;
  QImage pageFull;  // the page shown, at its recorded resolution
  int pageFullIndex = -1;
  bool pageFullCounted = false;  // drawn when the page count was known

  QDialog* dialog = nullptr;
  QScrollArea* scroll = nullptr;
  QLabel* image = nullptr;
  QLabel* pageLabel = nullptr;
  QLabel* status = nullptr;
  QComboBox* zoomBox = nullptr;
  QPushButton* first = nullptr;
  QPushButton* previous = nullptr;
  QPushButton* next = nullptr;
  QPushButton* last = nullptr;
  QTimer* layOutTimer = nullptr;

  Impl(RpReport& r, std::unique_ptr<PagedReport> p) : report(r), pages(std::move(p)) {}

  int known() const { return pages->knownPages(); }

  double pageWidthInches() const { return double(pages->widthPx()) / std::max(1, pages->dpiX()); }
  double pageHeightInches() const { return double(pages->heightPx()) / std::max(1, pages->dpiY()); }

  int effectiveZoom() const {
    if (zoomMode == ZoomMode::Percent) return zoomPercent;
    const QSize room = scroll->viewport()->size() - QSize(kPagePadding, kPagePadding);
    const double across = room.width() * 100.0 / (pageWidthInches() * kScreenDpi);
    const double down = room.height() * 100.0 / (pageHeightInches() * kScreenDpi);
    const double fit = zoomMode == ZoomMode::FitWidth ? across : std::min(across, down);
    return std::clamp(static_cast<int>(std::floor(fit)), 10, 400);
  }

  QImage shown() {
    const bool counted = pages->laidOut();
    if (pageFullIndex != page - 1 || pageFullCounted != counted) {
      pageFull = pageImage(pages->drawPage(page - 1));
      pageFullIndex = page - 1;
      pageFullCounted = counted;
    }
    if (pageFull.isNull() || pages->dpiX() <= 0) return {};
    const double scale = kScreenDpi / pages->dpiX() * effectiveZoom() / 100.0;
    return pageFull.scaled(std::max(1, static_cast<int>(std::lround(pageFull.width() * scale))),
                           std::max(1, static_cast<int>(std::lround(pageFull.height() * scale))),
                           Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }

  std::string labelText() const {
    const QString count = pages->laidOut() ? QString::number(pages->pageCount()) : QStringLiteral("\u2026");
    return QStringLiteral("Page %1 of %2").arg(page).arg(count).toStdString();
  }

  void refreshLabel() {
    pageLabel->setText(QString::fromStdString(labelText()));
    first->setEnabled(page > 1);
    previous->setEnabled(page > 1);
    next->setEnabled(page < known());
    last->setEnabled(pages->laidOut() && page < known());
  }

  void refresh() {
    image->setPixmap(QPixmap::fromImage(shown()));
    image->adjustSize();
    refreshLabel();
  }

  // One slice of the first pass; once the count is known the page shown is drawn again, since
  // it may print the count.
  void layOutSlice() {
    if (pages->layOut(kBandsPerSlice)) {
      layOutTimer->stop();
      refresh();
      return;
    }
    refreshLabel();
  }

  void showZoomInBox() {
    const int data = zoomMode == ZoomMode::FitWidth ? kFitWidth : zoomMode == ZoomMode::WholePage ? kWholePage
                                                                                                  : zoomPercent;
    const int index = zoomBox->findData(data);
    if (index >= 0) zoomBox->setCurrentIndex(index);
  }

  // Runs `work` with the printing message on the status line and a progress dialog with Cancel;
  // the status line then says `done` or why it did not complete.
  bool whilePrinting(const std::function<bool(const PageProgress&)>& work, const std::string& done) {
    lastMessage = message;
    status->setText(QString::fromStdString(message));
    QProgressDialog progress(QString::fromStdString(message), QStringLiteral("Cancel"), 0, 0, dialog);
    progress.setWindowTitle(dialog->windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    const PageProgress report = [&](int reached, int count) {
      if (count > 0) {
        progress.setMaximum(count);
        progress.setValue(std::min(reached, count));
        progress.setLabelText(QStringLiteral("Page %1 of %2").arg(reached).arg(count));
      } else {
        progress.setLabelText(QStringLiteral("Laying out page %1").arg(reached));
      }
      QApplication::processEvents();
      return !progress.wasCanceled();
    };
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents();
    const bool ok = work(report);
    QApplication::restoreOverrideCursor();
    const bool cancelled = progress.wasCanceled();
    progress.reset();
    status->setText(ok          ? QString::fromStdString(done)
                    : cancelled ? QStringLiteral("Cancelled")
                                : QStringLiteral("Printing did not complete"));
    return ok;
  }
};

PreviewWindow::PreviewWindow(RpReport& report, std::unique_ptr<PagedReport> pages, QWidget* owner,
                             const std::string& caption, const std::string& printFile,
                             const std::string& layoutName, const std::string& message)
    : impl_(std::make_unique<Impl>(report, std::move(pages))) {
  Impl& d = *impl_;
  d.printFile = printFile;
  d.layoutName = layoutName.empty() ? report.fileName() : layoutName;
  d.message = message;
  (void)d.pages->layOut(kBandsAtOpening);
  d.dialog = new QDialog(owner);
  d.dialog->setWindowTitle(QString::fromStdString(caption));
  d.dialog->setAttribute(Qt::WA_DeleteOnClose, false);
  d.dialog->resize(1000, 760);
  auto* layout = new QVBoxLayout(d.dialog);
  auto* tools = new QHBoxLayout;
  auto button = [&](const char* text, const char* tip) {
    auto* b = new QPushButton(QString::fromUtf8(text), d.dialog);
    b->setAutoDefault(false);
    b->setToolTip(QString::fromUtf8(tip));
    tools->addWidget(b);
    return b;
  };
  d.first = button("|<", "First page (Home)");
  d.previous = button("<", "Previous page (PgUp)");
  d.pageLabel = new QLabel(d.dialog);
  tools->addWidget(d.pageLabel);
  d.next = button(">", "Next page (PgDn)");
  d.last = button(">|", "Last page (End)");
  d.zoomBox = new QComboBox(d.dialog);
  d.zoomBox->addItem(QStringLiteral("Fit Width"), kFitWidth);
  d.zoomBox->addItem(QStringLiteral("Whole Page"), kWholePage);
  for (int z : kZoomSteps) d.zoomBox->addItem(QStringLiteral("%1%").arg(z), z);
  d.zoomBox->setToolTip(QStringLiteral("Zoom (Ctrl+ and Ctrl-)"));
  tools->addWidget(d.zoomBox);
  tools->addStretch();
  QPushButton* print = button("Print...", "Print on a printer (Ctrl+P)");
  QPushButton* toFile = button("Print to File...", "Print to a file of your choice");
  QPushButton* exportPdf = button("Export PDF...", "Save the report as a PDF file");
  QPushButton* close = button("Close", "Close the preview (Esc)");
  layout->addLayout(tools);
  d.scroll = new QScrollArea(d.dialog);
  d.scroll->setAlignment(Qt::AlignHCenter);
  d.scroll->setBackgroundRole(QPalette::Dark);
  d.image = new QLabel;
  d.scroll->setWidget(d.image);
  layout->addWidget(d.scroll, 1);
  d.status = new QLabel(QStringLiteral("Ready"), d.dialog);
  layout->addWidget(d.status);
  layout->activate();  // the viewport's size is known before the window shows: fit-to-width needs it

  QObject::connect(d.first, &QPushButton::clicked, [this] { showPage(1); });
  QObject::connect(d.previous, &QPushButton::clicked, [this] { previousPage(); });
  QObject::connect(d.next, &QPushButton::clicked, [this] { nextPage(); });
  QObject::connect(d.last, &QPushButton::clicked, [this] { showPage(impl_->known()); });
  QObject::connect(d.zoomBox, &QComboBox::activated, [this](int index) {
    const int data = impl_->zoomBox->itemData(index).toInt();
    if (data == kFitWidth) setZoomMode(ZoomMode::FitWidth);
    else if (data == kWholePage) setZoomMode(ZoomMode::WholePage);
    else setZoom(data);
  });
  QObject::connect(print, &QPushButton::clicked, [this] { (void)printWithDialog(); });
  QObject::connect(toFile, &QPushButton::clicked, [this] { (void)printToFile(); });
  QObject::connect(exportPdf, &QPushButton::clicked, [this] { (void)exportPdfAsked(); });
  QObject::connect(close, &QPushButton::clicked, [this] { this->close(); });

  const auto key = [&](QKeySequence sequence, std::function<void()> action) {
    auto* shortcut = new QShortcut(sequence, d.dialog);
    QObject::connect(shortcut, &QShortcut::activated, std::move(action));
  };
  key(QKeySequence(Qt::Key_PageDown), [this] { nextPage(); });
  key(QKeySequence(Qt::Key_PageUp), [this] { previousPage(); });
  key(QKeySequence(Qt::Key_Home), [this] { showPage(1); });
  key(QKeySequence(Qt::Key_End), [this] { showPage(impl_->known()); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Plus), [this] { zoomIn(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Equal), [this] { zoomIn(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Minus), [this] { zoomOut(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_P), [this] { (void)printWithDialog(); });
  key(QKeySequence(Qt::Key_Escape), [this] { this->close(); });

  // Fit-to-width and whole-page follow the window's size.
  struct ResizeWatch : QObject {
    PreviewWindow* window;
    explicit ResizeWatch(PreviewWindow* w, QObject* parent) : QObject(parent), window(w) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Resize && window->zoomMode() != ZoomMode::Percent) window->impl_->refresh();
      return false;
    }
  };
  d.scroll->viewport()->installEventFilter(new ResizeWatch(this, d.dialog));

  d.layOutTimer = new QTimer(d.dialog);
  QObject::connect(d.layOutTimer, &QTimer::timeout, [this] { impl_->layOutSlice(); });
  if (!d.pages->laidOut()) d.layOutTimer->start(0);
  d.showZoomInBox();
  d.refresh();
}

PreviewWindow::~PreviewWindow() { delete impl_->dialog; }

QWidget* PreviewWindow::widget() const { return impl_->dialog; }
std::string PreviewWindow::caption() const { return impl_->dialog->windowTitle().toStdString(); }
int PreviewWindow::pageCount() const { return impl_->pages->pageCount(); }
int PreviewWindow::knownPages() const { return impl_->known(); }
std::string PreviewWindow::pageLabel() const { return impl_->pageLabel->text().toStdString(); }
std::string PreviewWindow::statusText() const { return impl_->status->text().toStdString(); }
int PreviewWindow::currentPage() const { return impl_->page; }

void PreviewWindow::finishLayout() {
  if (impl_->pages->laidOut()) return;
  (void)impl_->pages->layOut();
  impl_->layOutTimer->stop();
  impl_->refresh();
}

void PreviewWindow::showPage(int page) {
  impl_->page = std::clamp(page, 1, std::max(1, impl_->known()));
  impl_->refresh();
  impl_->scroll->verticalScrollBar()->setValue(0);
}
void PreviewWindow::nextPage() { showPage(impl_->page + 1); }
void PreviewWindow::previousPage() { showPage(impl_->page - 1); }
int PreviewWindow::zoom() const { return impl_->effectiveZoom(); }
PreviewWindow::ZoomMode PreviewWindow::zoomMode() const { return impl_->zoomMode; }

void PreviewWindow::setZoom(int percent) {
  impl_->zoomMode = ZoomMode::Percent;
  impl_->zoomPercent = std::clamp(percent, 25, 400);
  impl_->showZoomInBox();
  impl_->refresh();
}

void PreviewWindow::setZoomMode(ZoomMode mode) {
  if (mode == ZoomMode::Percent) impl_->zoomPercent = impl_->effectiveZoom();
  impl_->zoomMode = mode;
  impl_->showZoomInBox();
  impl_->refresh();
}

void PreviewWindow::zoomIn() {
  const int now = zoom();
  for (int step : kZoomSteps)
    if (step > now) return setZoom(step);
}

void PreviewWindow::zoomOut() {
  const int now = zoom();
  for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
    if (*it < now) return setZoom(*it);
}

QImage PreviewWindow::shownImage() const { return impl_->shown(); }

bool PreviewWindow::printWithDialog() {
  const Layout* layout = impl_->report.layout();
  if (!layout) return false;
  finishLayout();  // the dialog offers the report's page range
  QPrinter printer(QPrinter::HighResolution);
  matchPrinterToPage(printer, layout->page);
  QPrintDialog dialog(&printer, impl_->dialog);
  dialog.setWindowTitle(QStringLiteral("Print"));
  // Every choice the dialog offers is honoured; a selection of text has no meaning in a report.
  dialog.setMinMax(1, pageCount());
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
  dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, true);
  dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, true);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  const PrintDialogDriver& driver = printDialogDriver();
  if (!(driver ? driver(dialog) : dialog.exec() == QDialog::Accepted)) return false;
  PrintSelection selection;
  switch (printer.printRange()) {
    case QPrinter::PageRange:
      selection.from = printer.fromPage();
      selection.to = printer.toPage();
      break;
    case QPrinter::CurrentPage: selection.from = selection.to = currentPage(); break;
    case QPrinter::AllPages:
    case QPrinter::Selection: break;
  }
  // A printer that makes copies itself is left to do so; otherwise each copy is drawn here.
  if (!printer.supportsMultipleCopies()) {
    selection.copies = printer.copyCount();
    selection.collate = printer.collateCopies();
  }
  const std::string where = printer.outputFileName().isEmpty() ? printer.printerName().toStdString()
                                                               : printer.outputFileName().toStdString();
  return impl_->whilePrinting(
      [&](const PageProgress& progress) { return impl_->report.print(printer, progress, selection); },
      "Printed on " + where);
}

bool PreviewWindow::printToFile() {
  const std::string path = askFileName(impl_->dialog, "Print to File", inWorkingDirectory(impl_->printFile),
                                       QStringLiteral("Print files (*.prn);;All files (*)"));
  if (path.empty()) return false;
  return impl_->whilePrinting(
      [&](const PageProgress& progress) { return impl_->report.printToFile(path, progress); },
      "Printed to " + path);
}

bool PreviewWindow::exportPdf(const std::string& path) {
  return impl_->whilePrinting([&](const PageProgress& progress) { return impl_->report.exportPdf(path, progress); },
                              "Exported to " + path);
}

bool PreviewWindow::exportPdfAsked() {
  const std::string suggested =
      inWorkingDirectory(std::filesystem::path(impl_->layoutName).stem().string() + ".pdf");
  const std::string path =
      askFileName(impl_->dialog, "Export to PDF", suggested, QStringLiteral("PDF files (*.pdf)"));
  if (path.empty()) return false;
  return exportPdf(path);
}

const std::string& PreviewWindow::lastMessageShown() const { return impl_->lastMessage; }

void PreviewWindow::exec() { impl_->dialog->exec(); }

void PreviewWindow::close() { impl_->dialog->done(QDialog::Rejected); }

}  // namespace rpt
