// Preloaded into an installed program (LD_PRELOAD) to drive its main window as a user would,
// through the program's own Qt widgets only: when the window shows, it notes the window's caption
// and where the bitmap support library was loaded from; with ZMC_DRIVE_FAMILY set it picks that
// family (after typing ZMC_DRIVE_VERSION, as the button needs both) and presses "Read Class
// Structure" once it is enabled; after the "Finished" box it presses "Exit".
// Every message box is noted and answered (an error box with Quit, any other with its first
// button). Notes go to the file $ZMC_DRIVE_TRANSCRIPT, one line each:
//   window|<caption>   bitmaplib|<path>   families|<a>;<b>;...   box|<caption>|<text>   timeout
// Without ZMC_DRIVE_TRANSCRIPT the driver does nothing.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>
#include <cstdlib>

namespace {

class WindowDriver : public QObject {
 public:
  WindowDriver(const QString& transcript, QObject* parent) : QObject(parent), transcript_(transcript) {
    family_ = qEnvironmentVariable("ZMC_DRIVE_FAMILY");
    version_ = qEnvironmentVariable("ZMC_DRIVE_VERSION");
    timeoutMs_ = qEnvironmentVariableIntValue("ZMC_DRIVE_TIMEOUT_MS");
    if (timeoutMs_ <= 0) timeoutMs_ = 30000;
    clock_.start();
    connect(&timer_, &QTimer::timeout, this, &WindowDriver::tick);
    timer_.start(20);
  }

 private:
  enum class Step { WaitForWindow, Read, WaitForLoad, Exit, Done };

  void note(const QString& line) {
    QFile file(transcript_);
    if (!file.open(QIODevice::Append | QIODevice::Text)) return;
    QTextStream(&file) << QString(line).replace('\n', ' ') << '\n';
  }

  void tick() {
    if (clock_.elapsed() > timeoutMs_) {
      note("timeout");
      std::_Exit(3);
    }
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      answer(box);
      return;
    }
    QWidget* window = mainWindow();
    if (!window || !window->isVisible()) return;
    switch (step_) {
      case Step::WaitForWindow: startLoad(window); break;
      case Step::Read:
        if (press(window, "PbExecute")) step_ = Step::WaitForLoad;
        break;
      case Step::WaitForLoad: break;  // the "Finished" box moves on
      case Step::Exit:
        if (press(window, "PbExit")) step_ = Step::Done;
        break;
      case Step::Done: break;
    }
  }

  void answer(QMessageBox* box) {
    if (answered_ == box) return;  // its click is still on its way
    answered_ = box;
    note("box|" + box->windowTitle() + "|" + box->text());
    if (box->windowTitle() == "Finished" && step_ == Step::WaitForLoad) step_ = Step::Exit;
    QAbstractButton* button = box->icon() == QMessageBox::Critical && box->escapeButton()
                                  ? box->escapeButton()
                                  : box->buttons().value(0);
    if (button) QTimer::singleShot(0, button, &QAbstractButton::click);
  }

  void startLoad(QWidget* window) {
    note("window|" + window->windowTitle());
    note("bitmaplib|" + loadedBitmapLibrary());
    auto* families = window->findChild<QComboBox*>("ClassFamilyName");
    QStringList names;
    for (int i = 0; i < families->count(); ++i) names << families->itemText(i);
    note("families|" + names.join(';'));
    step_ = Step::Exit;
    if (family_.isEmpty()) return;
    const int index = families->findText(family_, Qt::MatchExactly);
    if (index < 0) return;
    window->findChild<QLineEdit*>("ModelName")->setText(version_);
    families->setCurrentIndex(index);
    emit families->activated(index);
    step_ = Step::Read;
  }

  // Clicks the button from the event loop when it is enabled; answers whether it will.
  static bool press(QWidget* window, const char* name) {
    auto* button = window->findChild<QPushButton*>(name);
    if (!button || !button->isEnabled()) return false;
    QTimer::singleShot(0, button, &QAbstractButton::click);
    return true;
  }

  static QWidget* mainWindow() {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->findChild<QComboBox*>("ClassFamilyName")) return top;
    return nullptr;
  }

  static QString loadedBitmapLibrary() {
    QFile maps("/proc/self/maps");
    if (!maps.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    for (const QString& line : QString::fromLocal8Bit(maps.readAll()).split('\n')) {
      const int at = line.indexOf('/');
      if (at >= 0 && line.contains("libzmcbitmap")) return line.mid(at);
    }
    return {};
  }

  QString transcript_, family_, version_;
  int timeoutMs_ = 0;
  Step step_ = Step::WaitForWindow;
  QPointer<QMessageBox> answered_;
  QElapsedTimer clock_;
  QTimer timer_;
};

void startDriver() {
  const QString transcript = qEnvironmentVariable("ZMC_DRIVE_TRANSCRIPT");
  if (!transcript.isEmpty() && qobject_cast<QApplication*>(QCoreApplication::instance()))
    new WindowDriver(transcript, QCoreApplication::instance());
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
