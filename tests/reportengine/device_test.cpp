// The device base and the device registry.
#include <gtest/gtest.h>

#include "../support/error_recorder.h"
#include "reportengine/reportengine.h"

namespace {

TEST(DeviceRegistry, RegisteredClassIsCreatedByNameWithoutRegardToCase) {
  rt::Value seenFirst;
  rpt::registerDeviceClass("TestDevice", [&](const rt::Value& a, const rt::Value& b) {
    seenFirst = a;
    return std::make_shared<rpt::PtrDevice>(a, b);
  });
  EXPECT_TRUE(rpt::isDeviceClass("TESTDEVICE"));
  auto device = rpt::createDevice("testdevice", "report", 2);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(seenFirst.asString(), "report");
  EXPECT_EQ(device->initArgument(1).asLong(), 2);
}

TEST(DeviceRegistry, UnknownClassRaisesNamingItAndGivesNoDevice) {
  ErrorRecorder errors;
  EXPECT_EQ(rpt::createDevice("NoSuchDevice", {}, {}), nullptr);
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_NOFUNC);
  EXPECT_NE(errors.errors[0]->description.find("NoSuchDevice"), std::string::npos);
}

TEST(DeviceRegistry, UnknownClassTakesASubstitutedDevice) {
  ErrorRecorder errors;
  auto substitute = std::make_shared<rpt::PtrDevice>(rt::Value(), rt::Value());
  errors.answer = rt::Value(substitute);
  EXPECT_EQ(rpt::createDevice("Missing", {}, {}), substitute);
}

TEST(PtrDeviceState, ActiveWhenAnyFlagIsSet) {
  rpt::PtrDevice d({}, {});
  EXPECT_FALSE(d.active());
  d.setActivity(false, false, true);
  EXPECT_TRUE(d.active());
  EXPECT_TRUE(d.exporting());
  d.setActivity(false, true, false);
  EXPECT_TRUE(d.previewing());
  d.setActivity(false, false, false);
  EXPECT_FALSE(d.active());
}

TEST(PtrDeviceState, PrintAreaIsThePaperLessTheMargins) {
  rpt::PtrDevice d({}, {});
  d.setResolution(300, 600);
  d.setPaperSize(8.5, 11);
  d.LeftMargin(1.0);
  d.RightMargin(0.5);
  d.TopMargin(1.0);
  d.BottomMargin(1.0);
  EXPECT_EQ(d.LogPrintAreaWidth(), 2100);
  EXPECT_EQ(d.LogPrintAreaLength(), 5400);
  d.LeftMargin(20.0);  // margins wider than the paper leave no area rather than a negative one
  EXPECT_EQ(d.LogPrintAreaWidth(), 0);
}

TEST(PtrDeviceState, PrinterContextMeasuresAtTheDeviceResolution) {
  rpt::PtrDevice d({}, {});
  d.setResolution(600, 600);
  const gdi::Handle dc = d.CreatePrinterDC();
  EXPECT_EQ(gdi::deviceCaps(dc, gdi::LOGPIXELSY), 600);
  EXPECT_TRUE(gdi::deleteDc(dc));
}

TEST(PtrDeviceState, AxitDeletesOwnedContextsAndKeepsLentOnes) {
  const gdi::Handle owned = gdi::createRecordingDc(10, 10, 300, 300);
  const gdi::Handle lent = gdi::createMeasuringDc(300, 300);
  {
    rpt::PtrDevice d({}, {});
    d.setOutputDc(owned, true);
    d.setPrinterDc(lent);
    d.Axit();
    d.Axit();
    EXPECT_EQ(d.outputDc(), 0u);
  }
  EXPECT_FALSE(gdi::isDc(owned));
  EXPECT_TRUE(gdi::deleteDc(lent));
}

TEST(PtrDeviceState, PropertiesByName) {
  auto d = std::make_shared<rpt::PtrDevice>(rt::Value(), rt::Value());
  d->put(rt::Symbol("NoSelection"), true);
  EXPECT_TRUE(d->NoSelection());
  d->send(rt::Symbol("TopMargin"), {1.25});
  EXPECT_DOUBLE_EQ(d->get(rt::Symbol("TOPMARGIN")).asNumber(), 1.25);
  EXPECT_EQ(d->get(rt::Symbol("LogPrintAreaWidth")).asLong(), d->LogPrintAreaWidth());
  EXPECT_TRUE(d->send(rt::Symbol("CallPrintSetPage"), {1}).asLogical());
  EXPECT_EQ(d->pagesStarted(), 1);
}

}  // namespace
