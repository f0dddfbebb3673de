// The program's resource script, read exactly: the report list's template, menu, icons and error
// texts (the main window's template is checked against its bindings in the window's tests).
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
