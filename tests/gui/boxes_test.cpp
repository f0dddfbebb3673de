// Modal boxes under the test responder: answers, records and defaults.
#include <gtest/gtest.h>

#include "gui/gui.h"
#include "runtime/runtime.h"
#include "runtime/errorbox.h"

namespace {

TEST(TestResponder, AnswersFromItsQueueAndRecordsEachBox) {
  gui::TestResponder responder;
  responder.queueAnswer(gui::kIdNo);
  gui::Window owner;
  EXPECT_EQ(gui::messageBox(&owner, "Zap", "Sure?", 36), gui::kIdNo);
  EXPECT_EQ(gui::InfoBox(&owner, "Finished", "Done"), gui::kIdOk);
  ASSERT_EQ(responder.records().size(), 2u);
  const auto& first = responder.records()[0];
  EXPECT_EQ(first.owner, &owner);
  EXPECT_EQ(first.caption, "Zap");
  EXPECT_EQ(first.text, "Sure?");
  EXPECT_EQ(first.style, 36u);
  EXPECT_EQ(first.answer, gui::kIdNo);
  EXPECT_EQ(responder.records()[1].style, 0x40u);
}

TEST(TestResponder, EmptyQueueTakesTheFirstButton) {
  gui::TestResponder responder;
  EXPECT_EQ(gui::messageBox(nullptr, "Q", "?", gui::kBoxYesNo | gui::kBoxIconQuestion), gui::kIdYes);
  EXPECT_EQ(gui::errorBox(nullptr, "ERROR", "x", 0, 2, 0x80000003u), 2u);
  EXPECT_EQ(gui::errorBox(nullptr, "ERROR", "x", 0, 0, 0x80000000u), 0x80000000u);
}

TEST(TestResponder, ErrorBoxRecordsItsThreeChoices) {
  gui::TestResponder responder;
  responder.queueAnswer(static_cast<int>(0x80000003u));
  EXPECT_EQ(gui::errorBox(nullptr, "WARNING", "text", 1, 2, 0x80000003u), 0x80000003u);
  const auto& r = responder.records().at(0);
  EXPECT_EQ(r.kind, gui::BoxRecord::Kind::Error);
  EXPECT_EQ(r.choices[0], 1u);
  EXPECT_EQ(r.choices[1], 2u);
  EXPECT_EQ(r.choices[2], 0x80000003u);
}

TEST(TestResponder, NestedRespondersAnswerNewestFirst) {
  gui::TestResponder outer;
  {
    gui::TestResponder inner;
    gui::InfoBox(nullptr, "a", "b");
    EXPECT_EQ(inner.records().size(), 1u);
  }
  gui::InfoBox(nullptr, "c", "d");
  EXPECT_EQ(outer.records().size(), 1u);
  EXPECT_EQ(outer.records()[0].caption, "c");
}

TEST(TestResponder, RunTimeErrorBoxReachesTheToolkitOnceInstalled) {
  gui::installErrorBox();
  gui::TestResponder responder;
  responder.queueAnswer(2);
  EXPECT_EQ(rt::errorMessageBox("msg", "ERROR", 1, 2, 0x80000000u), 2u);
  ASSERT_EQ(responder.records().size(), 1u);
  EXPECT_EQ(responder.records()[0].text, "msg");
  EXPECT_EQ(responder.records()[0].caption, "ERROR");
  rt::messageBox("No error object created !", "FROM DefErrorGen");
  EXPECT_EQ(responder.records().size(), 2u);
  rt::setErrorBoxHandler({});
  rt::setMessageBoxHandler({});
}

}  // namespace

namespace {

TEST(TestResponder, InstalledToneGeneratorSoundsThroughTheWindowSystem) {
  gui::installErrorBox();
  gui::TestResponder responder;
  rt::tone(440, 1);
  rt::tone(523, 2);
  EXPECT_EQ(responder.tones(), (std::vector<std::pair<int, int>>{{440, 1}, {523, 2}}));
  rt::setToneHandler({});
  rt::setErrorBoxHandler({});
  rt::setMessageBoxHandler({});
}

TEST(Confirm, IsAYesNoQuestionTrueOnlyOnYes) {
  gui::TestResponder responder;
  gui::Window owner;
  responder.queueAnswer(gui::kIdYes);
  responder.queueAnswer(gui::kIdNo);
  EXPECT_TRUE(gui::Confirm(&owner, "Zap DBF Database", "Sure?"));
  EXPECT_FALSE(gui::Confirm(&owner, "Zap DBF Database", "Sure?"));
  ASSERT_EQ(responder.records().size(), 2u);
  EXPECT_EQ(responder.records()[0].style, 36u);
  EXPECT_EQ(responder.records()[0].owner, &owner);
  EXPECT_EQ(responder.records()[0].caption, "Zap DBF Database");
}

}  // namespace
