// Fuzzes the control's stored-state file as the main window reads it: the input is written as
// OLE29.ctlstate into a scratch folder that also holds the demo schema store, the control is
// created from it, its properties read, and when it connects the whole schema is walked. A bad
// file must end in a raised error naming it, never in a control built from half a file.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "schema_walk.h"
#include "scratch.h"

namespace {

const fuzz::ScratchDir& scratch() {
  static const fuzz::ScratchDir dir("fuzz_ctlstate");
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/zorbane-demo.db", scratch().file("zorbane-demo.db"));
  ole::setStorageDirectories({scratch().folder()});
  zctl::registerControl();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  scratch().write("OLE29.ctlstate", data, size);
  ole::AutoObjectPtr control = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
  if (!control) return 0;
  for (const char* property : {"HostName", "Environment", "ShowLogon", "Caption", "ToolTipText", "Enabled"})
    (void)control->get(rt::Symbol(property));
  control->send(rt::Symbol("Connect"), {});
  fuzz::walkSchema(control);  // without a connection every call is a raised error
  control->send(rt::Symbol("Disconnect"), {});
  return 0;
}
