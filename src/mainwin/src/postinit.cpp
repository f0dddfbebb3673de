// PostInit: the last step of the constructor. Connecting to the object database, listing the
// class families and opening the model table arrive with the connecting workflow; until then
// the window only takes its quit-on-close rule and its hosted control.
#include "mainwin/zorbanewin.h"
#include "runtime/callstack.h"

namespace mainwin {

void ZorbaneWin::PostInit(const gui::InitArgs& /*args*/) {
  RT_FRAME("ZorbaneWin:PostInit");
  Pointer(gui::Pointer::Busy);
  QuitOnClose(true);
  DbControl = oZorbane ? oZorbane->AutoObject() : nullptr;
  RT_LINE();
  Pointer(gui::Pointer::Arrow);
}

}  // namespace mainwin
