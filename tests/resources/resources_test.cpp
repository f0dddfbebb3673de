// The program's resource script, read exactly: templates, menu, icons and error texts.
#include <gtest/gtest.h>

#include <QImage>

#include "gui/gui.h"
#include "resources/resources.h"
#include "runtime/runtime.h"

namespace {

using gui::ControlKind;

class ProgramResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::ensureToolkit();
    ASSERT_TRUE(res::InstallResources());
  }
};

struct Expected {
  int id;
  const char* name;
  ControlKind kind;
  const char* text;
  int x, y, cx, cy;
  std::vector<const char*> styles;
};

TEST_F(ProgramResources, MainWindowTemplateHoldsSeventeenControlsInOrder) {
  const gui::DialogTemplate* d = gui::resources().dialog("ZorbaneWin");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->x, 2);
  EXPECT_EQ(d->y, 3);
  EXPECT_EQ(d->cx, 277);
  EXPECT_EQ(d->cy, 288);
  EXPECT_EQ(d->fontFace, "MS Sans Serif");
  EXPECT_EQ(d->fontPointSize, 8);
  EXPECT_TRUE(d->style.has("WS_CHILD"));
  EXPECT_TRUE(d->caption.empty());
  EXPECT_TRUE(d->menu.empty());
  const std::vector<Expected> expected = {
      {100, "FixedText1", ControlKind::FixedText,
       "This will read the class family structure and save it to the database.", 18, 4, 240, 36, {"SS_CENTER"}},
      {101, "ClassFamilyName", ControlKind::ComboBox, "", 105, 40, 153, 72,
       {"CBS_DROPDOWNLIST", "CBS_SORT", "WS_VSCROLL", "CBS_DISABLENOSCROLL", "WS_TABSTOP"}},
      {102, "ModelName", ControlKind::SingleLineEdit, "", 100, 62, 158, 12, {"WS_BORDER", "ES_AUTOHSCROLL", "WS_TABSTOP"}},
      {103, "PbExecute", ControlKind::PushButton, "Read Class Structure", 80, 80, 103, 15, {"WS_DISABLED", "WS_TABSTOP"}},
      {104, "PbExit", ControlKind::PushButton, "&Exit", 88, 244, 103, 15, {"WS_TABSTOP"}},
      {105, "FixedText2", ControlKind::FixedText, "Pick the Class Family to load:", 8, 41, 95, 12, {"SS_LEFT"}},
      {106, "ProgressBar", ControlKind::ProgressBar, "", 48, 118, 183, 9, {}},
      {107, "ProgressGroupBox", ControlKind::GroupBox, "Progress of Processes", 4, 102, 267, 40, {"BS_GROUPBOX"}},
      {108, "ModelName1", ControlKind::FixedText, "Enter Model Version:", 30, 62, 69, 12, {"SS_LEFT"}},
      {109, "BaseModel", ControlKind::ComboBox, "", 34, 152, 90, 72,
       {"CBS_DROPDOWN", "CBS_SORT", "WS_VSCROLL", "CBS_DISABLENOSCROLL", "WS_TABSTOP"}},
      {110, "RefModel", ControlKind::ComboBox, "", 170, 152, 88, 72,
       {"CBS_DROPDOWN", "CBS_SORT", "WS_VSCROLL", "CBS_DISABLENOSCROLL", "WS_TABSTOP"}},
      {111, "FixedText4", ControlKind::FixedText, "Reference:", 129, 152, 39, 12, {"SS_LEFT"}},
      {112, "FixedText5", ControlKind::FixedText, "Base:", 12, 153, 20, 12, {"SS_LEFT"}},
      {113, "PbCompareModels", ControlKind::PushButton, "Compare Above Models", 32, 177, 137, 20, {"WS_DISABLED", "WS_TABSTOP"}},
      {114, "PbZapDbf", ControlKind::PushButton, "Zap Database", 88, 220, 103, 15, {"WS_TABSTOP"}},
      {115, "ResetToggles", ControlKind::CheckBox, "Reset Flags", 176, 182, 80, 11, {"BS_AUTOCHECKBOX", "WS_TABSTOP"}},
      {116, "Zorbane", ControlKind::OleControl, "", 22, 27, 66, 30, {"WS_BORDER", "WS_TABSTOP"}},
  };
  ASSERT_EQ(d->controls.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const gui::ControlTemplate& c = d->controls[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.symbol, e.name);
    EXPECT_EQ(c.kind, e.kind);
    EXPECT_EQ(c.text, e.text);
    EXPECT_EQ(c.x, e.x);
    EXPECT_EQ(c.y, e.y);
    EXPECT_EQ(c.cx, e.cx);
    EXPECT_EQ(c.cy, e.cy);
    for (const char* style : e.styles) EXPECT_TRUE(c.style.has(style)) << style;
    EXPECT_EQ(c.visible(), e.id != 116);
    EXPECT_EQ(c.disabled(), e.id == 103 || e.id == 113);
  }
  EXPECT_TRUE(d->controls[2].exStyle.has("WS_EX_CLIENTEDGE"));   // sunken edit
  EXPECT_TRUE(d->controls[6].exStyle.has("WS_EX_STATICEDGE"));   // progress bar
}

TEST_F(ProgramResources, ReportListTemplateHoldsFourControls) {
  const gui::DialogTemplate* d = gui::resources().dialog("ExistingReportsWin");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->extended);
  EXPECT_EQ(d->x, 4);
  EXPECT_EQ(d->y, 3);
  EXPECT_EQ(d->cx, 265);
  EXPECT_EQ(d->cy, 146);
  ASSERT_EQ(d->controls.size(), 4u);
  const auto& list = d->controls[0];
  EXPECT_EQ(list.id, 100);
  EXPECT_EQ(list.kind, ControlKind::ListBox);
  for (const char* s : {"LBS_SORT", "LBS_NOTIFY", "WS_VSCROLL", "LBS_DISABLENOSCROLL", "LBS_NOINTEGRALHEIGHT",
                        "WS_BORDER", "WS_TABSTOP"})
    EXPECT_TRUE(list.style.has(s)) << s;
  EXPECT_EQ(std::tie(list.x, list.y, list.cx, list.cy), std::make_tuple(7, 7, 178, 132));
  EXPECT_EQ(d->controls[1].text, "Print It");
  EXPECT_TRUE(d->controls[1].disabled());
  EXPECT_EQ(d->controls[2].text, "Cancel");
  EXPECT_TRUE(d->controls[2].style.has("BS_DEFPUSHBUTTON"));
  EXPECT_EQ(d->controls[3].kind, ControlKind::Icon);
  EXPECT_EQ(d->controls[3].id, 103);
  EXPECT_EQ(d->controls[3].text, "InfoPapr_ICON");
  EXPECT_EQ(std::tie(d->controls[3].x, d->controls[3].y), std::make_tuple(206, 20));
}

TEST_F(ProgramResources, ReportMenuHasOnePopupWithExistingReportsThenDifferences) {
  const gui::MenuTemplate* m = gui::resources().menu("ReportAppMenu");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->items.size(), 1u);
  EXPECT_EQ(m->items[0].id, 19200);
  EXPECT_EQ(m->items[0].caption, "&Reports");
  ASSERT_EQ(m->items[0].items.size(), 2u);
  EXPECT_EQ(m->items[0].items[0].id, 19201);
  EXPECT_EQ(m->items[0].items[0].caption, "Existing Reports");
  EXPECT_EQ(m->items[0].items[1].id, 19202);
  EXPECT_EQ(m->items[0].items[1].caption, "Differences\u2026");
}

TEST_F(ProgramResources, IconsAre32By32With16Colours) {
  for (const char* name : {"ZORBANE_ICON", "infopapr_icon"}) {
    SCOPED_TRACE(name);
    const gui::IconEntry* icon = gui::resources().icon(name);
    ASSERT_NE(icon, nullptr);
    QImage image = QImage::fromData(reinterpret_cast<const uchar*>(icon->data.data()),
                                    static_cast<int>(icon->data.size()), "ICO");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(image.height(), 32);
    EXPECT_EQ(static_cast<unsigned char>(icon->data[6 + 2]), 16);  // colour count of the directory entry
    EXPECT_FALSE(res::ZORBANE_ICON().isNull());
  }
}

TEST_F(ProgramResources, ErrorStringTableHoldsIds65001To65043ExceptTwo) {
  const auto& strings = gui::resources().strings;
  EXPECT_EQ(strings.size(), 41u);
  for (int id = 65001; id <= 65043; ++id) EXPECT_EQ(strings.count(id), (id == 65039 || id == 65042) ? 0u : 1u) << id;
  EXPECT_EQ(gui::resourceString(65001), "aLookupTable must be dimensioned n by 2");
  EXPECT_EQ(gui::resourceString(65012), " CurDir");
  EXPECT_EQ(gui::resourceString(65036), "%V1s  to %s");
  EXPECT_EQ(gui::resourceString(65010), "%V1s Command Line: %-23s");
  EXPECT_EQ(gui::resourceString(65043), "%V1s%V2s in Function %s Called from: %s");
}

}  // namespace
