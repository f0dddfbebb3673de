// The preview window over Qt Widgets: a tool row (pages, zoom, print, print to file, export),
// the page image in a scroll area, and a status line that shows the printing message.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "reportengine/rpreport.h"

namespace rpt {

struct PreviewWindow::Impl {
  RpReport& report;
  RenderedReport pages;
  std::string printFile;
  std::string message;
  std::string lastMessage;
  int page = 1;
  int zoom = 100;
  QImage pageFull;  // the current page at its recorded resolution
  int pageFullIndex = -1;

  QDialog* dialog = nullptr;
  QLabel* image = nullptr;
  QLabel* pageLabel = nullptr;
  QLabel* status = nullptr;
  QComboBox* zoomBox = nullptr;
  QPushButton* first = nullptr;
  QPushButton* previous = nullptr;
  QPushButton* next = nullptr;
  QPushButton* last = nullptr;

  Impl(RpReport& r, RenderedReport p) : report(r), pages(std::move(p)) {}

  int count() const { return static_cast<int>(pages.pages.size()); }

  QImage shown() {
    if (pageFullIndex != page - 1) {
      pageFull = pageImage(pages, page - 1);
      pageFullIndex = page - 1;
    }
    if (pageFull.isNull() || pages.dpiX <= 0) return {};
    const double scale = 96.0 / pages.dpiX * zoom / 100.0;
    return pageFull.scaled(std::max(1, static_cast<int>(std::lround(pageFull.width() * scale))),
                           std::max(1, static_cast<int>(std::lround(pageFull.height() * scale))),
                           Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }

  void refresh() {
    image->setPixmap(QPixmap::fromImage(shown()));
    image->adjustSize();
    pageLabel->setText(QStringLiteral("Page %1 of %2").arg(page).arg(count()));
    first->setEnabled(page > 1);
    previous->setEnabled(page > 1);
    next->setEnabled(page < count());
    last->setEnabled(page < count());
  }

  // Shows the printing message while `work` runs, then restores the status line.
  bool whilePrinting(const std::function<bool()>& work) {
    lastMessage = message;
    status->setText(QString::fromStdString(message));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents();
    const bool ok = work();
    QApplication::restoreOverrideCursor();
    status->setText(ok ? QStringLiteral("Ready") : QStringLiteral("Printing did not complete"));
    return ok;
  }
};

PreviewWindow::PreviewWindow(RpReport& report, RenderedReport pages, QWidget* owner, const std::string& caption,
                             const std::string& printFile, const std::string& message)
    : impl_(std::make_unique<Impl>(report, std::move(pages))) {
  Impl& d = *impl_;
  d.printFile = printFile;
  d.message = message;
  d.dialog = new QDialog(owner);
  d.dialog->setWindowTitle(QString::fromStdString(caption));
  d.dialog->setAttribute(Qt::WA_DeleteOnClose, false);
  d.dialog->resize(900, 760);
  auto* layout = new QVBoxLayout(d.dialog);
  auto* tools = new QHBoxLayout;
  auto button = [&](const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text), d.dialog);
    b->setAutoDefault(false);
    tools->addWidget(b);
    return b;
  };
  d.first = button("|<");
  d.previous = button("<");
  d.pageLabel = new QLabel(d.dialog);
  tools->addWidget(d.pageLabel);
  d.next = button(">");
  d.last = button(">|");
  d.zoomBox = new QComboBox(d.dialog);
  for (int z : {50, 75, 100, 125, 150, 200}) d.zoomBox->addItem(QStringLiteral("%1%").arg(z), z);
  d.zoomBox->setCurrentIndex(2);
  tools->addWidget(d.zoomBox);
  tools->addStretch();
  QPushButton* print = button("Print...");
  QPushButton* toFile = button("Print to File");
  QPushButton* exportPdf = button("Export PDF...");
  QPushButton* close = button("Close");
  layout->addLayout(tools);
  auto* scroll = new QScrollArea(d.dialog);
  scroll->setAlignment(Qt::AlignHCenter);
  scroll->setBackgroundRole(QPalette::Dark);
  d.image = new QLabel;
  scroll->setWidget(d.image);
  layout->addWidget(scroll, 1);
  d.status = new QLabel(QStringLiteral("Ready"), d.dialog);
  layout->addWidget(d.status);

  QObject::connect(d.first, &QPushButton::clicked, [this] { showPage(1); });
  QObject::connect(d.previous, &QPushButton::clicked, [this] { previousPage(); });
  QObject::connect(d.next, &QPushButton::clicked, [this] { nextPage(); });
  QObject::connect(d.last, &QPushButton::clicked, [this] { showPage(pageCount()); });
  QObject::connect(d.zoomBox, &QComboBox::activated, [this](int index) {
    setZoom(impl_->zoomBox->itemData(index).toInt());
  });
  QObject::connect(print, &QPushButton::clicked, [this] { (void)printWithDialog(); });
  QObject::connect(toFile, &QPushButton::clicked, [this] { (void)printToFile(); });
  QObject::connect(exportPdf, &QPushButton::clicked, [this] { (void)exportPdfAsked(); });
  QObject::connect(close, &QPushButton::clicked, [this] { this->close(); });
  d.refresh();
}

PreviewWindow::~PreviewWindow() { delete impl_->dialog; }

QWidget* PreviewWindow::widget() const { return impl_->dialog; }
std::string PreviewWindow::caption() const { return impl_->dialog->windowTitle().toStdString(); }
int PreviewWindow::pageCount() const { return impl_->count(); }
int PreviewWindow::currentPage() const { return impl_->page; }

void PreviewWindow::showPage(int page) {
  impl_->page = std::clamp(page, 1, std::max(1, pageCount()));
  impl_->refresh();
}
void PreviewWindow::nextPage() { showPage(impl_->page + 1); }
void PreviewWindow::previousPage() { showPage(impl_->page - 1); }
int PreviewWindow::zoom() const { return impl_->zoom; }

void PreviewWindow::setZoom(int percent) {
  impl_->zoom = std::clamp(percent, 25, 400);
  const int index = impl_->zoomBox->findData(impl_->zoom);
  if (index >= 0) impl_->zoomBox->setCurrentIndex(index);
  impl_->refresh();
}

QImage PreviewWindow::shownImage() const { return impl_->shown(); }

bool PreviewWindow::printWithDialog() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, impl_->dialog);
  dialog.setWindowTitle(QStringLiteral("Print"));
  if (dialog.exec() != QDialog::Accepted) return false;
  return impl_->whilePrinting([&] {
    const auto pages = impl_->report.render(Activity::Printing);
    if (!pages) return false;
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const QRect target = printer.pageLayout().fullRectPixels(printer.resolution());
    for (std::size_t i = 0; i < pages->pages.size(); ++i) {
      if (i > 0) printer.newPage();
      const QImage page = pageImage(*pages, static_cast<int>(i));
      const QSize size = page.size().scaled(target.size(), Qt::KeepAspectRatio);
      painter.drawImage(QRect(target.topLeft(), size), page);
    }
    return painter.end();
  });
}

bool PreviewWindow::printToFile() {
  return impl_->whilePrinting([&] { return impl_->report.printToFile(impl_->printFile, impl_->message); });
}

bool PreviewWindow::exportPdf(const std::string& path) { return impl_->report.exportPdf(path); }

bool PreviewWindow::exportPdfAsked() {
  const QString path = QFileDialog::getSaveFileName(impl_->dialog, QStringLiteral("Export to PDF"),
                                                    QStringLiteral("report.pdf"), QStringLiteral("PDF files (*.pdf)"));
  if (path.isEmpty()) return false;
  return exportPdf(path.toStdString());
}

const std::string& PreviewWindow::lastMessageShown() const { return impl_->lastMessage; }

void PreviewWindow::exec() { impl_->dialog->exec(); }

void PreviewWindow::close() { impl_->dialog->done(QDialog::Rejected); }

}  // namespace rpt
