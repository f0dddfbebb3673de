// The engine reaches the device by class name and calls it by member name.
#include "../support/error_recorder.h"
#include "rpprinter_fixture.h"

namespace {
using rpprinter_test::Page;

TEST(RpPrinterByName, RegisteredUnderItsClassName) {
  reports::registerRpPrinter();
  reports::registerRpPrinter();
  auto device = rpt::createDevice("RpPrinter", "a", "b");
  ASSERT_NE(std::dynamic_pointer_cast<reports::RpPrinter>(device), nullptr);
  EXPECT_EQ(device->className(), "RPPRINTER");
  EXPECT_TRUE(device->NoSelection());
}

TEST(RpPrinterByName, DrawingOperationsAnswerTheDevice) {
  Page page;
  const rt::Value result = page.p->send(rt::Symbol("TextOut"), {1.0, 1.0, "abc"});
  EXPECT_EQ(result.asObject(), page.p);
  EXPECT_EQ(page.recordsOf(gdi::Record::TextOut).size(), 1u);
  EXPECT_EQ(page.p->send(rt::Symbol("drawline"), {}).asObject(), page.p);
}

TEST(RpPrinterByName, PropertiesReadAndWriteInTheUnit) {
  Page page;
  EXPECT_EQ(page.p->put(rt::Symbol("PRow"), 1.5).asLong(), 450);
  EXPECT_DOUBLE_EQ(page.p->get(rt::Symbol("PROW")).asNumber(), 1.5);
  EXPECT_TRUE(page.p->send(rt::Symbol("UnitOfMeasure"), {5}).asLogical());
  EXPECT_EQ(page.p->get(rt::Symbol("AvgCharWidth")).asNumber(), page.p->avgWidthDevice());
  EXPECT_EQ(page.p->send(rt::Symbol("PCol"), {12}).asLong(), 12);
  EXPECT_EQ(page.p->send(rt::Symbol("PCol"), {}).asNumber(), 12);
  page.p->put(rt::Symbol("TopMargin"), 300);
  EXPECT_DOUBLE_EQ(page.p->PtrDevice::TopMargin(), 1.0);
  EXPECT_TRUE(page.p->get(rt::Symbol("NoSelection")).asLogical());
}

TEST(RpPrinterByName, ConversionsAndMeasuringByName) {
  Page page;
  EXPECT_EQ(page.p->send(rt::Symbol("_XlateVUnitOfMeasure2Logical"), {1.5}).asNumber(), 450);
  EXPECT_GT(page.p->send(rt::Symbol("GetTextLength"), {"abc"}).asNumber(), 0);
  EXPECT_EQ(page.p->send(rt::Symbol("GetTextFace"), {}).asString(), page.p->GetTextFace());
  page.p->PRow(1);
  page.p->send(rt::Symbol("CallPrintPageHeader"), {});
  EXPECT_EQ(page.p->printRowDevice(), 0);
}

TEST(RpPrinterByName, UnknownMemberRaisesNamingIt) {
  Page page;
  ErrorRecorder errors;
  page.p->get(rt::Symbol("NoSuchThing"));
  page.p->send(rt::Symbol("UnitOfMeasure"), {});  // a setter without a value is not a getter
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_NOVAR);
  EXPECT_NE(errors.errors[0]->description.find("NOSUCHTHING"), std::string::npos);
}

}  // namespace
