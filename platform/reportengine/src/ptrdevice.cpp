// The printer device base and the device class registry.
#include <cmath>
#include <map>

#include "reportengine/ptrdevice.h"

namespace rpt {

PtrDevice::PtrDevice(const rt::Value& first, const rt::Value& second) : first_(first), second_(second) {}

PtrDevice::~PtrDevice() { PtrDevice::Axit(); }

void PtrDevice::Axit() {
  setOutputDc(0);
  setPrinterDc(0);
}

void PtrDevice::setResolution(int horizontal, int vertical) {
  if (horizontal > 0) upiH_ = horizontal;
  if (vertical > 0) upiV_ = vertical;
}

void PtrDevice::setActivity(bool printing, bool previewing, bool exporting) {
  printing_ = printing;
  previewing_ = previewing;
  exporting_ = exporting;
}

void PtrDevice::setOutputDc(gdi::Handle dc, bool owned) {
  if (outputDc_ == dc) {
    ownsOutputDc_ = owned;
    return;
  }
  if (ownsOutputDc_ && outputDc_ && outputDc_ != printerDc_) gdi::deleteDc(outputDc_);
  outputDc_ = dc;
  ownsOutputDc_ = owned;
}

void PtrDevice::setPrinterDc(gdi::Handle dc, bool owned) {
  if (printerDc_ == dc) {
    ownsPrinterDc_ = owned;
    return;
  }
  if (ownsPrinterDc_ && printerDc_ && printerDc_ != outputDc_) gdi::deleteDc(printerDc_);
  printerDc_ = dc;
  ownsPrinterDc_ = owned;
}

gdi::Handle PtrDevice::CreatePrinterDC() const { return gdi::createMeasuringDc(upiH_, upiV_); }

void PtrDevice::setPaperSize(double widthInches, double lengthInches) {
  if (widthInches > 0) paperWidth_ = widthInches;
  if (lengthInches > 0) paperLength_ = lengthInches;
}

int PtrDevice::LogPrintAreaWidth() const {
  return std::max(0, static_cast<int>(std::lround((paperWidth_ - left_ - right_) * upiH_)));
}

int PtrDevice::LogPrintAreaLength() const {
  return std::max(0, static_cast<int>(std::lround((paperLength_ - top_ - bottom_) * upiV_)));
}

rt::Value PtrDevice::CallPrintSetPage(const rt::Value&) {
  ++pagesStarted_;
  return true;
}

rt::Value PtrDevice::CallPrintPageHeader() { return true; }

rt::Value PtrDevice::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  const std::string& name = member.name();
  auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : rt::Value(); };
  if (name == "AXIT") {
    Axit();
    return rt::Value();
  }
  if (name == "CALLPRINTSETPAGE") return CallPrintSetPage(arg(0));
  if (name == "CALLPRINTPAGEHEADER") return CallPrintPageHeader();
  if (name == "CREATEPRINTERDC") return static_cast<long long>(CreatePrinterDC());
  if (!args.empty()) return put(member, args[0]);
  return get(member);
}

rt::Value PtrDevice::get(rt::Symbol member) {
  const std::string& name = member.name();
  if (name == "NOSELECTION") return noSelection_;
  if (name == "TOPMARGIN") return top_;
  if (name == "LEFTMARGIN") return left_;
  if (name == "BOTTOMMARGIN") return bottom_;
  if (name == "RIGHTMARGIN") return right_;
  if (name == "LOGPRINTAREAWIDTH") return LogPrintAreaWidth();
  if (name == "LOGPRINTAREALENGTH") return LogPrintAreaLength();
  return noIVarGet(member);
}

rt::Value PtrDevice::put(rt::Symbol member, const rt::Value& value) {
  const std::string& name = member.name();
  if (name == "NOSELECTION") noSelection_ = value.asLogical();
  else if (name == "TOPMARGIN") top_ = value.asNumber();
  else if (name == "LEFTMARGIN") left_ = value.asNumber();
  else if (name == "BOTTOMMARGIN") bottom_ = value.asNumber();
  else if (name == "RIGHTMARGIN") right_ = value.asNumber();
  else return noIVarPut(member, value);
  return value;
}

namespace {
std::map<std::string, DeviceFactory>& registry() {
  static std::map<std::string, DeviceFactory> r;
  return r;
}
}  // namespace

void registerDeviceClass(std::string_view className, DeviceFactory factory) {
  registry()[rt::toUpper(className)] = std::move(factory);
}

bool isDeviceClass(std::string_view className) { return registry().count(rt::toUpper(className)) != 0; }

PtrDevicePtr createDevice(std::string_view className, const rt::Value& first, const rt::Value& second) {
  for (;;) {
    auto it = registry().find(rt::toUpper(className));
    if (it != registry().end() && it->second) return it->second(first, second);
    auto e = rt::makeError(rt::EG_NOFUNC, "REPORT", "Unknown printer device class: " + std::string(className),
                           "CREATEDEVICE");
    e->canRetry = true;
    e->canSubstitute = true;
    const rt::Answer answer = rt::raise(e);
    if (answer.retry()) continue;
    if (answer.kind == rt::Answer::Substitute) return answer.substitute.as<PtrDevice>();
    return nullptr;
  }
}

}  // namespace rpt
