// Preloaded into the window program (LD_PRELOAD) by scripts/screenshots to take the README's
// pictures of the real program: it picks what the pictures show through the program's own
// widgets, opens each window from the menu as a user would, and saves each one, menu bar and
// all, as PNG into $ZMC_SCREENSHOT_DIR:
//   compare.png          the main window with the demo's two versions picked for a comparison
//   reports-list.png     Reports > Existing Reports with Differences.rpt picked
//   reports-preview.png  its preview, as "Print It" opens it
//   differences.png      Reports > Differences…, on its Rows tab
//   changes.png          the same window on its Changes tab
// then presses "Exit". A message box is answered and reported on standard error; the program
// then ends with exit code 3, as it does when the pictures are not done within a minute.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kTickMs = 50;
constexpr int kSettleTicks = 20;  // a window drawn and its timers run before it is taken
constexpr qint64 kGiveUpMs = 60000;

class ScreenshotDriver : public QObject {
 public:
  ScreenshotDriver(QString folder, QObject* parent) : QObject(parent), folder_(std::move(folder)) {
    clock_.start();
    connect(&timer_, &QTimer::timeout, this, &ScreenshotDriver::tick);
    timer_.start(kTickMs);
  }

 private:
  enum class Step { PickVersions, TakeMain, OpenList, TakeList, TakePreview, CloseList, OpenDifferences,
                    TakeDifferences, TakeChanges, Exit, Done };

  void tick() {
    if (clock_.elapsed() > kGiveUpMs) fail("the pictures were not done within a minute");
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      fail("a box came up: " + box->windowTitle() + ": " + box->text());
    QWidget* main = mainWindow();
    if (!main || !main->isVisible() || ++ticks_ < kSettleTicks) return;
    QWidget* modal = QApplication::activeModalWidget();
    switch (step_) {
      case Step::PickVersions:
        // Typed into the version field and left, as a user does, which enables the read.
        QApplication::setActiveWindow(main);
        pick(main, "ClassFamilyName", "Library Revised Edition");
        main->findChild<QLineEdit*>("ModelName")->setFocus();
        main->findChild<QLineEdit*>("ModelName")->setText("2.0");
        pick(main, "BaseModel", "1.0");
        pick(main, "RefModel", "2.0");
        main->findChild<QComboBox*>("RefModel")->setFocus();
        next(Step::TakeMain);
        break;
      case Step::TakeMain:
        save(main, "compare.png");
        later(menuItem(main, "Existing Reports"), &QAction::trigger);
        next(Step::OpenList);
        break;
      case Step::OpenList:
        if (auto* list = modal ? modal->findChild<QListWidget*>("AvailableReports") : nullptr) {
          const auto found = list->findItems("Differences.rpt", Qt::MatchExactly);
          if (found.isEmpty()) fail("Existing Reports does not list Differences.rpt");
          list->setCurrentItem(found.front());
          next(Step::TakeList);
        } else {
          waitOn();
        }
        break;
      case Step::TakeList:
        list_ = modal;
        save(modal, "reports-list.png");
        later(modal->findChild<QPushButton*>("PrintButton"), &QAbstractButton::click);
        next(Step::TakePreview);
        break;
      case Step::TakePreview:
        if (!modal || modal == list_) return waitOn();
        save(modal, "reports-preview.png");
        later(static_cast<QDialog*>(modal), &QDialog::reject);
        next(Step::CloseList);
        break;
      case Step::CloseList:
        if (modal != list_) return waitOn();
        later(modal->findChild<QPushButton*>("CancelButton"), &QAbstractButton::click);
        next(Step::OpenDifferences);
        break;
      case Step::OpenDifferences:
        if (modal) return waitOn();
        later(menuItem(main, "Differences\u2026"), &QAction::trigger);
        next(Step::TakeDifferences);
        break;
      case Step::TakeDifferences:
        if (QWidget* differences = main->findChild<QWidget*>("DifferencesWin"); differences && differences->isVisible()) {
          save(differences, "differences.png");
          auto* tabs = differences->findChild<QTabWidget*>();
          if (!tabs || tabs->count() < 2) fail("the differences window has no Changes tab");
          tabs->setCurrentIndex(1);
          next(Step::TakeChanges);
        } else {
          waitOn();
        }
        break;
      case Step::TakeChanges: {
        QWidget* differences = main->findChild<QWidget*>("DifferencesWin");
        save(differences, "changes.png");
        differences->close();
        next(Step::Exit);
        break;
      }
      case Step::Exit:
        later(main->findChild<QPushButton*>("PbExit"), &QAbstractButton::click);
        next(Step::Done);
        break;
      case Step::Done: break;
    }
  }

  void next(Step step) {
    step_ = step;
    ticks_ = 0;
  }
  // The window a step waits for is not there yet: it is given the settling time once it is.
  void waitOn() { ticks_ = 0; }

  // Runs a press or a menu command from the event loop: it may open a modal window, whose own
  // loop then carries the next steps.
  template <class Target, class Slot>
  void later(Target* target, Slot slot) {
    if (!target) fail("a button or menu item is missing");
    QTimer::singleShot(0, target, slot);
  }

  // Picks the entry that reads `text` (the version lists show versions at their stored width).
  void pick(QWidget* main, const char* list, const QString& text) {
    auto* box = main->findChild<QComboBox*>(list);
    int index = -1;
    for (int i = 0; box && i < box->count() && index < 0; ++i)
      if (box->itemText(i).trimmed() == text) index = i;
    if (index < 0) fail(QString("%1 does not list %2").arg(list, text));
    box->setCurrentIndex(index);
    emit box->activated(index);
  }

  static QAction* menuItem(QWidget* main, const QString& caption) {
    for (QAction* top : main->findChild<QMenuBar*>()->actions())
      if (top->menu())
        for (QAction* item : top->menu()->actions())
          if (QString(item->text()).remove('&') == caption) return item;
    return nullptr;
  }

  static QWidget* mainWindow() {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->findChild<QComboBox*>("ClassFamilyName")) return top;
    return nullptr;
  }

  void save(QWidget* window, const char* name) {
    const QString file = folder_ + "/" + name;
    if (!window->grab().save(file, "PNG")) fail("cannot write " + file);
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(file));
  }

  [[noreturn]] static void fail(const QString& why) {
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(why));
    std::_Exit(3);
  }

  QString folder_;
  Step step_ = Step::PickVersions;
  int ticks_ = 0;
  QWidget* list_ = nullptr;
  QElapsedTimer clock_;
  QTimer timer_;
};

void startDriver() {
  const QString folder = qEnvironmentVariable("ZMC_SCREENSHOT_DIR");
  if (!folder.isEmpty() && qobject_cast<QApplication*>(QCoreApplication::instance()))
    new ScreenshotDriver(folder, QCoreApplication::instance());
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
