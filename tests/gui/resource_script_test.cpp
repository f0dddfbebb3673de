// Reading resource scripts: grammar, names, styles, and malformed scripts failing with a line.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>

#include "gui/gui.h"
#include "runtime/runtime.h"

namespace {

constexpr const char* kScript = R"(// a comment
#define Title 100
#define Picker 101
/* a block
   comment */
SAMPLEWIN DIALOGEX 2, 3, 100, 50
STYLE WS_CHILD | DS_SETFONT
FONT 8, "MS Sans Serif"
BEGIN
  CONTROL "Say ""hi""", Title, "Static", SS_CENTER, 1, 2, 30, 8
  CONTROL "", Picker, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP, 5, 6, 40, 30
  CONTROL "", 102, "OleContainer", NOT WS_VISIBLE | WS_BORDER, 0, 0, 10, 10, WS_EX_STATICEDGE
END
MainMenu MENU
BEGIN
  POPUP "&File", 300
  BEGIN
    MENUITEM "Open", 301
    MENUITEM SEPARATOR
  END
END
STRINGTABLE
BEGIN
  1, "one"
  2 "two"
END
)";

gui::ScriptParseResult parse(std::string_view text) { return gui::parseResourceScript(text, "test.rc"); }

TEST(ResourceScript, DialogControlsKeepIdsNamesKindsAndPositions) {
  auto result = parse(kScript);
  ASSERT_TRUE(result.ok()) << result.errorMessage;
  const gui::DialogTemplate* d = result.script->dialog("samplewin");  // any case
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->extended);
  EXPECT_EQ(d->fontPointSize, 8);
  EXPECT_EQ(d->fontFace, "MS Sans Serif");
  EXPECT_EQ(d->cx, 100);
  ASSERT_EQ(d->controls.size(), 3u);
  const auto& title = d->controls[0];
  EXPECT_EQ(title.text, "Say \"hi\"");
  EXPECT_EQ(title.id, 100);
  EXPECT_EQ(title.symbol, "Title");
  EXPECT_EQ(title.kind, gui::ControlKind::FixedText);
  EXPECT_EQ(title.x, 1);
  EXPECT_EQ(title.cy, 8);
  EXPECT_EQ(title.style.value, 0x50000001u);  // WS_CHILD | WS_VISIBLE | SS_CENTER
  const auto& picker = d->controls[1];
  EXPECT_EQ(picker.kind, gui::ControlKind::ComboBox);
  EXPECT_TRUE(picker.style.has("cbs_sort"));
  EXPECT_FALSE(picker.style.has("WS_BORDER"));
  const auto& ole = d->controls[2];
  EXPECT_EQ(ole.kind, gui::ControlKind::OleControl);
  EXPECT_FALSE(ole.visible());
  EXPECT_EQ(ole.style.value & 0x10000000u, 0u);
  EXPECT_TRUE(ole.exStyle.has("WS_EX_STATICEDGE"));
}

TEST(ResourceScript, MenusAndStringsAreRead) {
  auto result = parse(kScript);
  ASSERT_TRUE(result.ok()) << result.errorMessage;
  const gui::MenuTemplate* m = result.script->menu("MAINMENU");
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->items.size(), 1u);
  EXPECT_TRUE(m->items[0].popup);
  EXPECT_EQ(m->items[0].id, 300);
  ASSERT_EQ(m->items[0].items.size(), 2u);
  EXPECT_TRUE(m->items[0].items[1].separator);
  ASSERT_NE(m->item(301), nullptr);
  EXPECT_EQ(m->item(301)->caption, "Open");
  EXPECT_EQ(result.script->strings.at(1), "one");
  EXPECT_EQ(result.script->strings.at(2), "two");
}

struct Broken {
  const char* text;
  int line;
  const char* fragment;
};

// Names each case after the reason it must fail with, so test names stay the same from build to build.
void PrintTo(const Broken& broken, std::ostream* out) {
  bool gap = false;
  for (const char* c = broken.fragment; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      if (gap) *out << '_';
      *out << *c;
      gap = false;
    } else {
      gap = true;
    }
  }
}

class MalformedScript : public ::testing::TestWithParam<Broken> {};

TEST_P(MalformedScript, FailsWithLineNumberAndReason) {
  auto result = parse(GetParam().text);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.errorLine, GetParam().line);
  EXPECT_NE(result.errorMessage.find("test.rc(" + std::to_string(GetParam().line) + ")"), std::string::npos)
      << result.errorMessage;
  EXPECT_NE(result.errorMessage.find(GetParam().fragment), std::string::npos) << result.errorMessage;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedScript,
    ::testing::Values(
        Broken{"D DIALOG 1, 2, 3\nBEGIN\nEND\n", 2, "expected ','"},
        Broken{"D DIALOG 1,2,3,4\nBEGIN\n  CONTROL \"x\", 1, \"Static\", WS_BOGUS, 1,1,1,1\nEND\n", 3, "unknown style"},
        Broken{"D DIALOG 1,2,3,4\nBEGIN\n  CONTROL \"x\", 1, \"Slider\", 0, 1,1,1,1\nEND\n", 3, "unsupported control class"},
        Broken{"D DIALOG 1,2,3,4\nBEGIN\n  CONTROL \"x, 1\n", 3, "unterminated string"},
        Broken{"D DIALOG 1,2,3,4\nBEGIN\n  CONTROL \"x\", NoSuchName, \"Static\", 0, 1,1,1,1\nEND\n", 3, "undefined name"},
        Broken{"D DIALOG 1,2,3,4\nBEGIN\n  CONTROL \"x\", 1, \"Static\", 0, 1,1,1,1\n", 4, "missing END"},
        Broken{"D DIALOG 1,2,3,4\nBEGIN\n  CONTROL \"a\", 1, \"Static\", 0, 1,1,1,1\n  CONTROL \"b\", 1, \"Static\", 0, 1,1,1,1\nEND\n", 4, "duplicate control id"},
        Broken{"STRINGTABLE\nBEGIN\n 5, \"a\"\n 5, \"b\"\nEND\n", 4, "duplicate string id"},
        Broken{"X ICON \"a.ico\"\nx icon \"b.ico\"\n", 2, "duplicate icon"},
        Broken{"\n\n#pragma once\n", 3, "unsupported directive"},
        Broken{"/* never closed\n", 1, "unterminated comment"},
        Broken{"W WIDGET 1\n", 1, "expected DIALOG"}));

// One POPUP per line, `levels` deep, around a single item.
std::string nestedMenu(int levels) {
  std::string text = "M MENU\nBEGIN\n";
  for (int i = 0; i < levels; ++i) text += "POPUP \"p\" BEGIN\n";
  text += "MENUITEM \"leaf\", 7\n";
  for (int i = 0; i < levels; ++i) text += "END\n";
  return text + "END\n";
}

TEST(ResourceScript, PopupsNestSixteenLevelsAndNoDeeper) {
  auto deepest = parse(nestedMenu(16));
  ASSERT_TRUE(deepest.ok()) << deepest.errorMessage;
  EXPECT_EQ(deepest.script->menu("M")->item(7)->caption, "leaf");
  auto tooDeep = parse(nestedMenu(17));
  ASSERT_FALSE(tooDeep.ok());
  EXPECT_EQ(tooDeep.errorLine, 2 + 17);  // the 17th POPUP's line
  EXPECT_NE(tooDeep.errorMessage.find("nested deeper than 16"), std::string::npos) << tooDeep.errorMessage;
}

TEST(ResourceScript, ThirtyThousandNestedPopupsAreRefusedWithoutExhaustingTheStack) {
  auto result = parse(nestedMenu(30000));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.errorLine, 2 + 17);
}

TEST(ResourceScript, IconFilesAreReadThroughTheReader) {
  auto reader = [](const std::string& name) -> std::optional<std::string> {
    if (name == "a.ico") return std::string("bytes");
    return std::nullopt;
  };
  auto ok = gui::parseResourceScript("A_ICON ICON \"a.ico\"\n", "t.rc", reader);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.script->icon("a_icon")->data, "bytes");
  auto missing = gui::parseResourceScript("\nB_ICON ICON \"b.ico\"\n", "t.rc", reader);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.errorLine, 2);
  EXPECT_NE(missing.errorMessage.find("b.ico"), std::string::npos);
}

TEST(ResourceScript, InstallingAMalformedScriptRaisesAndKeepsThePreviousSet) {
  ASSERT_TRUE(gui::installResourceScript("GOOD DIALOG 1,2,3,4\nBEGIN\nEND\n", "good.rc", {}));
  std::vector<rt::ErrorPtr> raised;
  rt::setErrorBlock([&](const rt::ErrorPtr& e) {
    raised.push_back(e);
    return rt::Value(false);
  });
  EXPECT_FALSE(gui::installResourceScript("BAD DIALOG 1,2 BEGIN\n", "bad.rc", {}));
  rt::setErrorBlock({});
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0]->genCode, rt::EG_SYNTAX);
  EXPECT_EQ(raised[0]->fileName, "bad.rc");
  EXPECT_NE(raised[0]->description.find("bad.rc(1)"), std::string::npos);
  EXPECT_NE(gui::resources().dialog("good"), nullptr);
}

}  // namespace
