// PtrDevice: the engine's printer device base, and the registry through which the engine obtains
// a device by class name.
//
// States: inactive (no activity flag; drawing operations of a derived device do nothing) and
// active (printing, previewing or exporting: the output context is where the current page goes).
// The engine moves between them with setActivity and attaches contexts with setOutputDc and
// setPrinterDc; contexts attached as owned are deleted by Axit, others stay the attacher's.
#pragma once
#include <functional>
#include <memory>
#include <string_view>

#include "gdi/gdi.h"
#include "runtime/runtime.h"

namespace rpt {

class PtrDevice : public rt::Object {
 public:
  // The two values are the engine's own (the report and its owner); kept as given.
  PtrDevice(const rt::Value& first, const rt::Value& second);
  ~PtrDevice() override;
  std::string className() const override { return "PTRDEVICE"; }

  // Releases the contexts the device owns. Safe to call twice.
  virtual void Axit();

  const rt::Value& initArgument(int index) const { return index == 0 ? first_ : second_; }

  // Device units (pixels) per inch of the target.
  int unitsPerInchH() const { return upiH_; }
  int unitsPerInchV() const { return upiV_; }
  void setResolution(int horizontal, int vertical);

  bool printing() const { return printing_; }
  bool previewing() const { return previewing_; }
  bool exporting() const { return exporting_; }
  bool active() const { return printing_ || previewing_ || exporting_; }
  void setActivity(bool printing, bool previewing, bool exporting);

  gdi::Handle outputDc() const { return outputDc_; }
  gdi::Handle printerDc() const { return printerDc_; }
  std::uint32_t thirdHandle() const { return thirdHandle_; }
  void setOutputDc(gdi::Handle dc, bool owned = false);
  void setPrinterDc(gdi::Handle dc, bool owned = false);
  void setThirdHandle(std::uint32_t handle) { thirdHandle_ = handle; }

  // A measuring context for the current printer at its resolution; the caller deletes it.
  gdi::Handle CreatePrinterDC() const;

  // Paper size in inches (default 8.5 x 11); the print area is the paper less the margins.
  void setPaperSize(double widthInches, double lengthInches);
  int LogPrintAreaWidth() const;
  int LogPrintAreaLength() const;

  // Margins in inches (default 0.5 each).
  double TopMargin() const { return top_; }
  double LeftMargin() const { return left_; }
  double BottomMargin() const { return bottom_; }
  double RightMargin() const { return right_; }
  void TopMargin(double inches) { top_ = inches; }
  void LeftMargin(double inches) { left_ = inches; }
  void BottomMargin(double inches) { bottom_ = inches; }
  void RightMargin(double inches) { right_ = inches; }

  bool NoSelection() const { return noSelection_; }
  void NoSelection(bool on) { noSelection_ = on; }

  // Page events: a page starts (the value is the engine's page set-up) and its header begins.
  virtual rt::Value CallPrintSetPage(const rt::Value& setup);
  virtual rt::Value CallPrintPageHeader();
  int pagesStarted() const { return pagesStarted_; }

  // By-name access to the base's properties and operations.
  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;
  rt::Value get(rt::Symbol member) override;
  rt::Value put(rt::Symbol member, const rt::Value& value) override;

 private:
  rt::Value first_;
  rt::Value second_;
  int upiH_ = 300;
  int upiV_ = 300;
  bool printing_ = false;
  bool previewing_ = false;
  bool exporting_ = false;
  gdi::Handle outputDc_ = 0;
  gdi::Handle printerDc_ = 0;
  bool ownsOutputDc_ = false;
  bool ownsPrinterDc_ = false;
  std::uint32_t thirdHandle_ = 0;
  double paperWidth_ = 8.5;
  double paperLength_ = 11.0;
  double top_ = 0.5;
  double left_ = 0.5;
  double bottom_ = 0.5;
  double right_ = 0.5;
  bool noSelection_ = false;
  int pagesStarted_ = 0;
};
using PtrDevicePtr = std::shared_ptr<PtrDevice>;

// Device classes by name (case-insensitive). The engine creates its device through createDevice;
// an unknown name raises EG_NOFUNC naming the class and yields nullptr (or the substitute).
using DeviceFactory = std::function<PtrDevicePtr(const rt::Value&, const rt::Value&)>;
void registerDeviceClass(std::string_view className, DeviceFactory factory);
bool isDeviceClass(std::string_view className);
PtrDevicePtr createDevice(std::string_view className, const rt::Value& first, const rt::Value& second);

}  // namespace rpt
