// Data windows built from a template: layout in dialog units, controls by name, and the events
// that reach the window (button by name, menu by hyper-label, user picks only, focus changes).
#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "gui/gui.h"
#include "runtime/runtime.h"

namespace {

constexpr const char* kScript = R"(
T_WIN DIALOGEX 0, 0, 200, 100
STYLE WS_CHILD | DS_SETFONT
FONT 8, "MS Sans Serif"
BEGIN
  CONTROL "Label", 10, "Static", SS_LEFT, 4, 8, 40, 12
  CONTROL "", 11, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP, 50, 8, 60, 60
  CONTROL "", 12, "ComboBox", CBS_DROPDOWN | WS_TABSTOP, 50, 24, 60, 60
  CONTROL "", 13, "Edit", WS_BORDER | WS_TABSTOP, 50, 40, 60, 12
  CONTROL "Go", 14, "Button", WS_TABSTOP, 120, 8, 40, 14
  CONTROL "", 15, "ListBox", LBS_SORT | LBS_NOTIFY | WS_TABSTOP, 120, 30, 60, 40
  CONTROL "", 16, "msctls_progress32", 0, 4, 80, 100, 8
  CONTROL "Check", 17, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 4, 60, 40, 10
  CONTROL "", 18, "OleContainer", NOT WS_VISIBLE, 0, 0, 10, 10
END
T_MENU MENU
BEGIN
  POPUP "&Tools", 500
  BEGIN
    MENUITEM "Run", 501
  END
END
)";

class TestWin : public gui::DataWindow {
 public:
  TestWin() {
    Init(nullptr, "t_win");  // names match without regard to case
    label = CreateControl<gui::FixedText>(10, {"Label", "", "", ""});
    picker = CreateControl<gui::ComboBox>(11, {"Picker", "", "", ""});
    typed = CreateControl<gui::ComboBox>(12, {"Typed", "", "", ""});
    edit = CreateControl<gui::SingleLineEdit>(13, {"Edit", "", "", ""});
    go = CreateControl<gui::PushButton>(14, {"Go", "&Go now", "", ""});
    list = CreateControl<gui::ListBox>(15, {"List", "", "Pick one", ""});
    bar = CreateControl<gui::ProgressBar>(16, {"Bar", "", "", ""});
    check = CreateControl<gui::CheckBox>(17, {"Check", "", "", ""});
    registerHandler("Go", [this] { ++goPressed; });
    registerHandler("Run", [this] { ++runChosen; });
  }
  void ListBoxSelect(const gui::ControlEvent& e) override { selections.push_back(e.control); }
  void EditFocusChange(const gui::FocusEvent& e) override { focus.push_back(e.gotFocus); }
  bool EditReturn(const gui::ControlEvent&) override {
    ++editReturns;
    return takesEditReturn;
  }
  void ListBoxActivate(const gui::ControlEvent&) override { ++activations; }

  gui::FixedText* label;
  gui::ComboBox* picker;
  gui::ComboBox* typed;
  gui::SingleLineEdit* edit;
  gui::PushButton* go;
  gui::ListBox* list;
  gui::ProgressBar* bar;
  gui::CheckBox* check;
  std::vector<gui::Control*> selections;
  std::vector<bool> focus;
  int goPressed = 0;
  int runChosen = 0;
  int editReturns = 0;
  int activations = 0;
  bool takesEditReturn = true;
};

// Counts the key presses that reach the widget it watches: those its children passed on.
struct KeysPassedOn : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) ++count;
    return false;
  }
  int count = 0;
};

class DataWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::registerWindowClasses();
    ASSERT_TRUE(gui::installResourceScript(kScript, "t.rc", {}));
  }
  void TearDown() override { rt::setErrorBlock({}); }
};

TEST(DialogUnits, ConvertWithQuarterWidthAndEighthHeight) {
  gui::DialogUnits units;
  units.baseX = 6;
  units.baseY = 13;
  EXPECT_EQ(units.toPixelsX(4), 6);
  EXPECT_EQ(units.toPixelsX(18), 27);
  EXPECT_EQ(units.toPixelsY(8), 13);
  EXPECT_EQ(units.toPixelsY(288), 468);
  EXPECT_EQ(units.toPixelsX(0), 0);
  units.baseX = 6.4;
  EXPECT_EQ(units.toPixelsX(95), 152);
}

TEST_F(DataWindowTest, ControlsArePlacedInDialogUnitsOfTheTemplateFont) {
  TestWin win;
  const gui::DialogUnits& u = win.dialogUnits();
  EXPECT_GT(u.baseX, 3.0);
  EXPECT_GT(u.baseY, 8.0);
  const QRect r = win.label->widget()->geometry();
  EXPECT_EQ(r.x(), u.toPixelsX(4));
  EXPECT_EQ(r.y(), u.toPixelsY(8));
  EXPECT_EQ(r.width(), u.toPixelsX(40));
  EXPECT_EQ(r.height(), u.toPixelsY(12));
  // A bigger template font keeps the relative layout: everything scales with the font.
  EXPECT_EQ(win.control(18)->IsVisible(), false);
  EXPECT_EQ(win.controls().size(), 9u);
}

TEST_F(DataWindowTest, ControlsAreFoundByHyperLabelNameAndCaptionReplacesText) {
  TestWin win;
  EXPECT_EQ(win.control(rt::Symbol("GO")), win.go);
  EXPECT_EQ(win.go->Caption(), "&Go now");
  EXPECT_EQ(win.label->Caption(), "Label");  // empty caption keeps the template text
  EXPECT_EQ(win.control(rt::Symbol("Nope")), nullptr);
}

TEST_F(DataWindowTest, WrongKindOrIdIsRaised) {
  TestWin win;
  std::vector<rt::ErrorPtr> raised;
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    raised.push_back(e);
    return rt::Value(false);
  });
  EXPECT_EQ(win.CreateControl<gui::PushButton>(13, {"X", "", "", ""}), nullptr);
  EXPECT_EQ(win.CreateControl<gui::PushButton>(99, {"Y", "", "", ""}), nullptr);
  ASSERT_EQ(raised.size(), 2u);
  EXPECT_EQ(raised[0]->genCode, rt::EG_DATATYPE);
  EXPECT_NE(raised[0]->description.find("SingleLineEdit"), std::string::npos);
  EXPECT_NE(raised[1]->description.find("99"), std::string::npos);
}

TEST_F(DataWindowTest, SelectionByCodeRaisesNoListBoxSelect) {
  TestWin win;
  win.picker->FillUsing(gui::ListItems{{"b", 2}, {"a", 1}});
  win.picker->CurrentItemNo(1);
  win.list->FillUsing(rt::Value::array({"x", "y"}));
  win.list->CurrentItemNo(2);
  win.picker->Value(rt::Value(2));
  EXPECT_TRUE(win.selections.empty());
  win.picker->pick(2);
  win.list->pick(1);
  ASSERT_EQ(win.selections.size(), 2u);
  EXPECT_EQ(win.selections[0], win.picker);
  EXPECT_EQ(win.selections[1], win.list);
}

TEST_F(DataWindowTest, UserActivationOfAComboRaisesListBoxSelect) {
  TestWin win;
  win.picker->FillUsing(gui::ListItems{{"a", 1}});
  auto* box = static_cast<QComboBox*>(win.picker->widget());
  box->setCurrentIndex(0);
  EXPECT_TRUE(win.selections.empty());
  emit box->activated(0);  // what a user's pick sends
  EXPECT_EQ(win.selections.size(), 1u);
}

TEST_F(DataWindowTest, SortedBoxesOrderWithoutRegardToCaseAndKeepValues) {
  TestWin win;
  win.picker->FillUsing(gui::ListItems{{"c", 3}, {"A", 1}, {"b", 2}});
  EXPECT_EQ(win.picker->GetItem(1), "A");
  EXPECT_EQ(win.picker->GetItem(2), "b");
  EXPECT_EQ(win.picker->GetItem(3), "c");
  EXPECT_EQ(win.picker->CurrentItemNo(), 0);
  EXPECT_TRUE(win.FieldGet("Picker").isNil());
  win.picker->CurrentItemNo(2);
  EXPECT_EQ(win.FieldGet("Picker").asLong(), 2);
  EXPECT_EQ(win.picker->CurrentText(), "b");
  win.picker->CurrentItemNo(0);
  EXPECT_EQ(win.picker->CurrentItemNo(), 0);
}

TEST_F(DataWindowTest, UnsortedComboKeepsFillOrderAndTypedTextIsItsValue) {
  TestWin win;
  win.typed->FillUsing(gui::ListItems{{"v2  ", 1}, {"v1  ", 2}});
  EXPECT_EQ(win.typed->GetItem(1), "v2  ");
  win.typed->CurrentItemNo(2);
  EXPECT_EQ(win.FieldGet("Typed").asLong(), 2);
  static_cast<QComboBox*>(win.typed->widget())->setEditText("by hand");
  EXPECT_EQ(win.FieldGet("Typed").asString(), "by hand");
}

TEST_F(DataWindowTest, FieldGetAndPutReachControlValues) {
  TestWin win;
  EXPECT_EQ(win.FieldPut("Edit", "abc").asString(), "abc");
  EXPECT_EQ(win.FieldGet("edit").asString(), "abc");
  EXPECT_FALSE(win.FieldGet("Check").asLogical());
  win.FieldPut("Check", true);
  EXPECT_TRUE(win.check->Checked());
}

// The edit's value is whatever its widget shows after every kind of change: keys typed, text
// inserted, undone, cleared.
TEST_F(DataWindowTest, EditValueFollowsEveryChangeOfItsWidget) {
  TestWin win;
  win.Show();
  auto* line = static_cast<QLineEdit*>(win.edit->widget());
  for (char c : std::string("1.0")) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(c)));
    QApplication::sendEvent(line, &press);
  }
  EXPECT_EQ(win.FieldGet("Edit").asString(), "1.0");
  line->insert(" beta");
  EXPECT_EQ(win.FieldGet("Edit").asString(), "1.0 beta");
  line->undo();
  EXPECT_EQ(win.FieldGet("Edit").asString(), line->text().toStdString());
  line->clear();
  EXPECT_EQ(win.FieldGet("Edit").asString(), "");
  win.FieldPut("Edit", "2.0");
  EXPECT_EQ(line->text(), "2.0");
  EXPECT_EQ(win.edit->Value().asString(), "2.0");
}

TEST_F(DataWindowTest, UnknownFieldNameIsRaisedAsMissingMember) {
  TestWin win;
  std::vector<rt::ErrorPtr> raised;
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    raised.push_back(e);
    return rt::Value(false);
  });
  EXPECT_TRUE(win.FieldGet("Missing").isNil());
  win.FieldPut("Missing", 1);
  ASSERT_EQ(raised.size(), 2u);
  EXPECT_EQ(raised[0]->genCode, rt::EG_NOVAR);
  EXPECT_NE(raised[0]->description.find("MISSING"), std::string::npos);
}

TEST_F(DataWindowTest, PushButtonCallsTheWindowMethodOfItsName) {
  TestWin win;
  win.go->click();
  EXPECT_EQ(win.goPressed, 1);
  win.go->Disable();
  win.go->click();  // a disabled button does nothing
  EXPECT_EQ(win.goPressed, 1);
}

TEST_F(DataWindowTest, MenuCommandCallsTheMethodNamedByItsHyperLabel) {
  TestWin win;
  auto menu = std::make_shared<gui::Menu>("t_menu");
  menu->RegisterItem(501, {"Run", "", "Runs it", ""});
  win.Menu(menu);
  EXPECT_TRUE(menu->choose(501));
  EXPECT_EQ(win.runChosen, 1);
  EXPECT_FALSE(menu->choose(500));  // the pop-up has no method
}

TEST_F(DataWindowTest, EnterActsOnTheControlThatHasItAndOnlyAControlThatTakesItKeepsIt) {
  struct Case {
    const char* where;
    std::function<gui::Control*(TestWin&)> prepare;
    bool kept;  // the key is not passed on to the window
    int goPressed, editReturns, activations;
  };
  const Case cases[] = {
      {"an enabled button", [](TestWin& w) { return w.go; }, true, 1, 0, 0},
      {"a disabled button", [](TestWin& w) { w.go->Disable(); return w.go; }, false, 0, 0, 0},
      {"an edit its window takes it from", [](TestWin& w) { return w.edit; }, true, 0, 1, 0},
      {"an edit its window leaves it to", [](TestWin& w) { w.takesEditReturn = false; return w.edit; }, false, 0, 1, 0},
      {"a list with an entry picked",
       [](TestWin& w) {
         w.list->FillUsing(gui::ListItems{{"a", rt::Value(1)}});
         w.list->pick(1);
         return w.list;
       },
       true, 0, 0, 1},
      {"a list with nothing picked", [](TestWin& w) { return w.list; }, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    TestWin win;
    QWidget* widget = c.prepare(win)->widget();
    KeysPassedOn passedOn;
    widget->parentWidget()->installEventFilter(&passedOn);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    EXPECT_EQ(passedOn.count == 0, c.kept) << c.where;
    EXPECT_EQ(win.goPressed, c.goPressed) << c.where;
    EXPECT_EQ(win.editReturns, c.editReturns) << c.where;
    EXPECT_EQ(win.activations, c.activations) << c.where;
  }
}

TEST_F(DataWindowTest, EditFocusChangeFiresOnGainAndLoss) {
  TestWin win;
  QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(win.edit->widget(), &in);
  QApplication::sendEvent(win.edit->widget(), &out);
  ASSERT_EQ(win.focus.size(), 2u);
  EXPECT_TRUE(win.focus[0]);
  EXPECT_FALSE(win.focus[1]);
}

TEST_F(DataWindowTest, ProgressBarKeepsItsPositionInsideTheRange) {
  TestWin win;
  win.bar->Range(0, 3);
  win.bar->UnitSize(2);
  win.bar->Advance();
  EXPECT_EQ(win.bar->Position(), 2);
  win.bar->Advance();
  EXPECT_EQ(win.bar->Position(), 3);
  win.bar->Position(-5);
  EXPECT_EQ(win.bar->Position(), 0);
}

TEST_F(DataWindowTest, BreakInsideAnEventEndsOnlyThatEvent) {
  TestWin win;
  win.registerHandler("Go", [] { rt::breakToRecovery(rt::Value("stop")); });
  win.go->click();  // must not unwind through Qt
  SUCCEED();
}

TEST_F(DataWindowTest, QuitOnCloseEndsTheLoopWhenTheWindowEnds) {
  gui::App app;
  TestWin win;
  win.QuitOnClose(true);
  win.Show();
  win.EndWindow();
  EXPECT_TRUE(win.ended());
  EXPECT_EQ(app.Exec(), 0);  // returns at once: the quit was asked before the loop ran
}

TEST_F(DataWindowTest, MissingTemplateIsRaised) {
  std::vector<rt::ErrorPtr> raised;
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    raised.push_back(e);
    return rt::Value(false);
  });
  gui::DataWindow win;
  win.Init(nullptr, "NO_SUCH_DIALOG");
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_NE(raised[0]->description.find("NO_SUCH_DIALOG"), std::string::npos);
  EXPECT_TRUE(win.controls().empty());
}

}  // namespace
