// The progress bar under long runs (what it draws, how often, and that it still moves) and the
// sorted fill of list and combo boxes, on a data window built from a small template.
#include <gtest/gtest.h>

#include <random>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>
#include <set>

#include "gui/gui.h"
#include "runtime/runtime.h"

namespace {

constexpr const char* kScript = R"(
P_WIN DIALOGEX 0, 0, 200, 100
STYLE WS_CHILD | DS_SETFONT
FONT 8, "MS Sans Serif"
BEGIN
  CONTROL "", 21, "msctls_progress32", 0, 4, 80, 150, 8
  CONTROL "", 22, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP, 4, 8, 60, 60
  CONTROL "", 23, "ListBox", LBS_SORT | LBS_NOTIFY | WS_TABSTOP, 80, 8, 60, 40
END
)";

class BarWin : public gui::DataWindow {
 public:
  BarWin() {
    Init(nullptr, "P_WIN");
    bar = CreateControl<gui::ProgressBar>(21, {"Bar", "", "", ""});
    combo = CreateControl<gui::ComboBox>(22, {"Combo", "", "", ""});
    list = CreateControl<gui::ListBox>(23, {"List", "", "", ""});
  }
  gui::ProgressBar* bar;
  gui::ComboBox* combo;
  gui::ListBox* list;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
  int paints = 0;
};

// A clock that moves only when the test says so.
struct TestClock {
  gui::ProgressBar::TimePoint now{};
  void advance(std::chrono::milliseconds by) { now += by; }
};

class ProgressBarRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::registerWindowClasses();
    ASSERT_TRUE(gui::installResourceScript(kScript, "p.rc", {}));
  }
  void SetUp() override {
    win.Show();
    win.bar->UseClock([this] { return clock.now; });
  }
  QProgressBar* widget() const { return static_cast<QProgressBar*>(win.bar->widget()); }

  // Advances the bar over `rows` steps, the clock moving `perRow` each; answers how many distinct
  // positions the widget showed along the way (sampled a hundred times).
  int run(int rows, std::chrono::milliseconds perRow) {
    win.bar->Range(0, rows);
    std::set<int> shown;
    for (int i = 0; i < rows; ++i) {
      clock.advance(perRow);
      win.bar->Advance();
      if (i % (rows / 100) == 0) shown.insert(widget()->value());
    }
    return static_cast<int>(shown.size());
  }

  BarWin win;
  TestClock clock;
};

TEST_F(ProgressBarRun, MovesDuringALongRunAndRepaintsABoundedNumberOfTimes) {
  const int width = win.bar->widget()->width();
  ASSERT_GT(width, 50);
  for (int rows : {20000, 2000000}) {
    PaintCounter counter(win.bar->widget());
    const int positions = run(rows, std::chrono::milliseconds(1));
    EXPECT_GE(positions, 50) << rows;  // the bar visibly moves while the run holds the loop
    EXPECT_GE(counter.paints, 10) << rows;              // drawn as it goes
    EXPECT_LE(counter.paints, 2 * width + 10) << rows;  // bounded by its drawn width, not the rows
    EXPECT_EQ(win.bar->Position(), rows);
  }
}

TEST_F(ProgressBarRun, ShowsNoMoreOftenThanItsIntervalAndTheLastStateOnceTheLoopRuns) {
  PaintCounter counter(win.bar->widget());
  const int rows = 100000;
  // A frozen clock: after the first change the bar waits for its interval to pass.
  run(rows, std::chrono::milliseconds(0));
  EXPECT_LE(counter.paints, 4);
  EXPECT_LT(widget()->value(), rows);
  EXPECT_EQ(win.bar->Position(), rows);  // the value itself is exact all along
  // Once the event loop runs, the pending state is drawn: the bar ends full.
  QElapsedTimer waited;
  waited.start();
  while (widget()->value() != rows && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(widget()->value(), rows);
}

// With every step past the interval, the widget always draws what the position fills, whatever
// the range and however the position moves (forward, back, in jumps, within one pixel).
TEST_F(ProgressBarRun, EveryChangeOfTheFilledWidthIsDrawnOnceItsIntervalHasPassed) {
  const std::int64_t width = win.bar->widget()->width();
  std::mt19937 random(7);
  const std::pair<int, int> ranges[] = {{0, 7}, {3, 1000}, {-5, 12345}, {0, 2000000}};
  for (const auto& range : ranges) {
    const int low = range.first, high = range.second;  // named, so the lambda below can capture them
    win.bar->Range(low, high);
    const auto filled = [&](std::int64_t pos) { return (pos - low) * width / (static_cast<std::int64_t>(high) - low); };
    std::uniform_int_distribution<int> anywhere(low, high), nearby(-3, 3);
    for (int i = 0; i < 3000; ++i) {
      clock.advance(std::chrono::seconds(1));
      if (i % 3 == 0)
        win.bar->Position(anywhere(random));
      else if (i % 3 == 1)
        win.bar->Position(win.bar->Position() + nearby(random));
      else
        win.bar->Advance();
      ASSERT_EQ(filled(widget()->value()), filled(win.bar->Position())) << low << ".." << high << " step " << i;
    }
  }
}

TEST_F(ProgressBarRun, ARangeOfOneValueDrawsAnEmptyBarNotTheBusyAnimation) {
  win.bar->Range(0, 5);
  clock.advance(std::chrono::seconds(1));
  for (int i = 0; i < 5; ++i) win.bar->Advance();
  win.bar->Range(0, 0);
  clock.advance(std::chrono::seconds(1));
  win.bar->Position(0);
  EXPECT_EQ(win.bar->RangeLow(), 0);
  EXPECT_EQ(win.bar->RangeHigh(), 0);
  EXPECT_EQ(win.bar->Position(), 0);
  QCoreApplication::processEvents();
  EXPECT_LT(widget()->minimum(), widget()->maximum());  // (0, 0) would be the busy animation
  EXPECT_EQ(widget()->value(), widget()->minimum());
}

TEST_F(ProgressBarRun, HiddenBarKeepsTheWidgetInStep) {
  win.bar->Hide();
  win.bar->Range(10, 20);
  win.bar->Position(15);
  EXPECT_EQ(widget()->minimum(), 10);
  EXPECT_EQ(widget()->maximum(), 20);
  EXPECT_EQ(widget()->value(), 15);
  win.bar->Position(99);
  EXPECT_EQ(win.bar->Position(), 20);
}

// ---------------------------------------------------------------- sorted fill

class SortedFill : public ProgressBarRun {};

TEST_F(SortedFill, OneFillOrdersAsAddingOneByOneWithoutRegardToCaseAndKeepsTiesInOrder) {
  const gui::ListItems items = {{"delta", 1}, {"Alpha", 2}, {"charlie", 3}, {"ALPHA", 4}, {"bravo", 5},
                                {"alpha", 6}, {"", 7},      {"Bravo", 8},   {"zulu", 9}};
  win.combo->FillUsing(items);
  for (const auto& [text, value] : items) win.list->AddItem(text, value);
  const std::vector<std::string> expected = {"", "Alpha", "ALPHA", "alpha", "bravo", "Bravo", "charlie", "delta", "zulu"};
  ASSERT_EQ(win.combo->ItemCount(), 9);
  auto* box = static_cast<QComboBox*>(win.combo->widget());
  for (int i = 1; i <= 9; ++i) {
    EXPECT_EQ(win.combo->GetItem(i), expected[i - 1]) << i;
    EXPECT_EQ(win.list->GetItem(i), expected[i - 1]) << i;
    EXPECT_EQ(box->itemText(i - 1).toStdString(), expected[i - 1]) << i;  // the widget shows the same order
    EXPECT_EQ(win.combo->GetItemValue(i).asLong(), win.list->GetItemValue(i).asLong()) << i;
  }
  EXPECT_EQ(win.combo->GetItemValue(2).asLong(), 2);
  EXPECT_EQ(win.combo->CurrentItemNo(), 0);
  win.combo->AddItem("Beta", 10);  // an item added to a filled box lands among its peers
  EXPECT_EQ(win.combo->GetItem(5), "Beta");
  EXPECT_EQ(box->itemText(4).toStdString(), "Beta");
}

TEST_F(SortedFill, RefillReplacesTheEntries) {
  win.combo->FillUsing(gui::ListItems{{"b", 1}, {"a", 2}});
  win.combo->CurrentItemNo(1);
  win.combo->FillUsing(gui::ListItems{{"c", 3}});
  EXPECT_EQ(win.combo->ItemCount(), 1);
  EXPECT_EQ(static_cast<QComboBox*>(win.combo->widget())->count(), 1);
  EXPECT_EQ(win.combo->CurrentItemNo(), 0);
}

}  // namespace
