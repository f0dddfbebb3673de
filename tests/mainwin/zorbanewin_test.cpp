// The main window's skeleton: controls from the template, fonts, initial button states, and the
// focus and selection rules that enable "Read Class Structure" and "Compare Above Models".
#include <gtest/gtest.h>

#include <set>

#include <QApplication>
#include <QFocusEvent>
#include <QFontInfo>
#include <QWidget>

#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "resources/resources.h"
#include "runtime/runtime.h"

namespace {

using mainwin::ZorbaneWin;

class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::registerWindowClasses();
    ASSERT_TRUE(res::InstallResources());
  }
  void SetUp() override {
    // No hosted control is registered here: its creation is raised and defaulted.
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      raised.push_back(e);
      return rt::Value(false);
    });
    win = std::make_unique<ZorbaneWin>(nullptr);
  }
  void TearDown() override {
    win.reset();
    rt::setErrorBlock({});
  }
  void focusChange(gui::Control* control, bool gained) {
    QFocusEvent event(gained ? QEvent::FocusIn : QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(control->widget(), &event);
  }

  std::vector<rt::ErrorPtr> raised;
  std::unique_ptr<ZorbaneWin> win;
};

// The template gives ids, captions and positions; the window only binds members to names.
TEST_F(MainWindow, EveryTemplateControlIsBoundAndEveryBindingNamesATemplateControl) {
  const gui::DialogTemplate* layout = win->dialogTemplate();
  ASSERT_NE(layout, nullptr);
  std::set<std::string> inTemplate, bound;
  for (const gui::ControlTemplate& c : layout->controls) inTemplate.insert(c.symbol);
  for (const mainwin::ControlBinding& binding : mainwin::controlBindings()) {
    SCOPED_TRACE(binding.name);
    EXPECT_TRUE(bound.insert(binding.name).second) << "bound twice";
    const gui::Control* member = std::visit([&](auto m) -> const gui::Control* { return win.get()->*m; }, binding.member);
    ASSERT_NE(member, nullptr) << "not in the template, or of another kind";
    EXPECT_EQ(member, win->control(rt::Symbol(binding.name)));
    EXPECT_EQ(member->Caption(), layout->control(member->id())->text);
  }
  EXPECT_EQ(bound, inTemplate);
}

TEST_F(MainWindow, ConstructorCaptionAndHyperLabel) {
  EXPECT_EQ(win->Caption(), "Load Database with Zorbane Class Structures");
  EXPECT_EQ(win->HyperLabel().name, "ZORBANEWIN");
  EXPECT_TRUE(win->QuitOnClose());
  EXPECT_EQ(win->Pointer(), gui::Pointer::Arrow);
}

TEST_F(MainWindow, OnlyTheTopTextIsSixteenPointArial) {
  ASSERT_NE(win->oFixedText1->Font(), nullptr);
  EXPECT_EQ(win->oFixedText1->Font()->pointSize(), 16);
  EXPECT_EQ(win->oFixedText1->Font()->face(), "Arial");
  EXPECT_EQ(QFontInfo(win->oFixedText1->widget()->font()).pointSize(), 16);
  const QRect expected(win->dialogUnits().toPixelsX(18), win->dialogUnits().toPixelsY(4),
                       win->dialogUnits().toPixelsX(240), win->dialogUnits().toPixelsY(36));
  EXPECT_EQ(win->oFixedText1->widget()->geometry(), expected);  // not resized by the font
  for (const auto& c : win->controls()) {
    if (c.get() == win->oFixedText1) continue;
    EXPECT_EQ(c->Font(), nullptr) << c->Name();
    EXPECT_EQ(QFontInfo(c->widget()->font()).pointSize(), 8) << c->Name();
  }
}

TEST_F(MainWindow, ReadAndCompareStartGreyedOut) {
  EXPECT_FALSE(win->oPbExecute->IsEnabled());
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());
  EXPECT_TRUE(win->oPbExit->IsEnabled());
  EXPECT_TRUE(win->oPbZapDbf->IsEnabled());
  EXPECT_TRUE(win->ChosenFamily.empty());
}

TEST_F(MainWindow, TypedVersionWithoutAPickedFamilyEnablesNothing) {
  win->ModelName("V1");
  focusChange(win->oModelName, false);
  EXPECT_FALSE(win->oPbExecute->IsEnabled());
  // A family made current by code is not a pick.
  win->oClassFamilyName->FillUsing(gui::ListItems{{"Sales", 1}, {"Accounts", 2}});
  win->oClassFamilyName->CurrentItemNo(1);
  focusChange(win->oModelName, true);
  EXPECT_FALSE(win->oPbExecute->IsEnabled());
  EXPECT_TRUE(win->ChosenFamily.empty());
}

TEST_F(MainWindow, PickingAFamilyFollowsTheTypedVersion) {
  win->oClassFamilyName->FillUsing(gui::ListItems{{"Sales", 1}, {"Accounts", 2}});
  win->ModelName("V1");
  win->oClassFamilyName->pick(1);
  EXPECT_EQ(win->ChosenFamily, "Accounts");  // sorted: Accounts first
  EXPECT_TRUE(win->oPbExecute->IsEnabled());
  win->ModelName("   ");  // blanks count as empty
  win->oClassFamilyName->pick(2);
  EXPECT_EQ(win->ChosenFamily, "Sales");
  EXPECT_FALSE(win->oPbExecute->IsEnabled());
}

TEST_F(MainWindow, FocusChangeEnablesOnceBothArePresentAndNeverDisables) {
  win->oClassFamilyName->FillUsing(gui::ListItems{{" Padded ", 1}});
  win->oClassFamilyName->pick(1);
  EXPECT_EQ(win->ChosenFamily, "Padded");
  EXPECT_FALSE(win->oPbExecute->IsEnabled());  // no version typed yet
  win->ModelName("V2");
  focusChange(win->oModelName, false);
  EXPECT_TRUE(win->oPbExecute->IsEnabled());
  win->ModelName("");
  focusChange(win->oModelName, true);
  focusChange(win->oModelName, false);
  EXPECT_TRUE(win->oPbExecute->IsEnabled());
}

TEST_F(MainWindow, CompareNeedsTwoDifferentVersions) {
  const gui::ListItems versions{{"V1             ", 1}, {"V2             ", 2}};
  win->oBaseModel->FillUsing(versions);
  win->oRefModel->FillUsing(versions);
  win->oBaseModel->pick(1);
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());  // reference still empty
  win->oRefModel->pick(1);
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());  // the same version
  win->oRefModel->pick(2);
  EXPECT_TRUE(win->oPbCompareModels->IsEnabled());
  EXPECT_EQ(win->BaseModel().asLong(), 1);
  EXPECT_EQ(win->RefModel().asLong(), 2);
  win->oBaseModel->CurrentItemNo(0);
  win->oRefModel->pick(2);
  EXPECT_FALSE(win->oPbCompareModels->IsEnabled());
}

TEST_F(MainWindow, ValuePropertiesReadAndWriteTheirControls) {
  EXPECT_EQ(win->ModelName("abc").asString(), "abc");
  EXPECT_EQ(win->ModelName().asString(), "abc");
  EXPECT_FALSE(win->ResetToggles().asLogical());
  win->ResetToggles(true);
  EXPECT_TRUE(win->oResetToggles->Checked());
  EXPECT_TRUE(win->ClassFamilyName().isNil());
}

TEST_F(MainWindow, ButtonsAndMenuCommandReachTheirMethodsByName) {
  for (const char* name : {"PbExecute", "PbExit", "PbCompareModels", "PbZapDbf", "TwExistingReports",
                           "InitialIndexBuild"})
    EXPECT_TRUE(win->hasHandler(rt::Symbol(name))) << name;
  win->Show();
  win->oPbExit->click();
  EXPECT_TRUE(win->ended());
}

TEST_F(MainWindow, MissingHostedControlIsRaisedNamingItsStoredState) {
  ASSERT_FALSE(raised.empty());
  EXPECT_EQ(win->DbControl, nullptr);
  bool named = false;
  for (const auto& e : raised)
    named = named || e->description.find("OLE29") != std::string::npos || e->fileName.find("OLE29") != std::string::npos;
  EXPECT_TRUE(named);
}

}  // namespace
