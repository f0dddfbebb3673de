// Connecting and choosing a class family: PostInit, GetClassList and PbExit.
#include "workflow/late_call.h"
#include "long_operation.h"
#include "workflow/session.h"
#include "workflow/workflow.h"
#include "mainwin/zorbanewin.h"

namespace mainwin {

using workflow::detail::lateGet;
using workflow::detail::lateSend;

void ZorbaneWin::PostInit(const gui::InitArgs& /*args*/) {
  RT_FRAME("ZorbaneWin:PostInit");
  Pointer(gui::Pointer::Busy);
  QuitOnClose(true);
  DbControl = oZorbane ? oZorbane->AutoObject() : nullptr;
  // Without a control its creation has already been reported: there is nothing to connect.
  if (DbControl) {
    RT_LINE();
    workflow::connectControl(DbControl);
    GetClassList();
  }
  RT_LINE();
  detail::openSharedTable(*this);
  UpdateModelList();
  Pointer(gui::Pointer::Arrow);
}

void ZorbaneWin::GetClassList() {
  RT_FRAME("ZorbaneWin:GetClassList");
  gui::ListItems families;
  Pointer(gui::Pointer::Busy);
  const rt::Value collection = lateGet(rt::Value(DbControl), "ClassFamilies");
  for (long i = 1; i <= lateGet(collection, "Count").asLong(); ++i) {
    RT_LINE();
    const rt::Value family = lateSend(collection, "Item", {rt::Value(i)});
    families.emplace_back(workflow::trimmedText(lateGet(family, "Name").asString()), rt::Value(i));
  }
  RT_LINE();
  oClassFamilyName->FillUsing(families);
  // Made current from code: not a pick, so ChosenFamily stays as it was.
  if (oClassFamilyName->ItemCount() > 0) oClassFamilyName->CurrentItemNo(1);
  oClassFamilyName->SetFocus();
  Pointer(gui::Pointer::Arrow);
}

void ZorbaneWin::PbExit() {
  RT_FRAME("ZorbaneWin:PbExit");
  if (ModelServer) ModelServer->close();
  RT_LINE();
  EndWindow();
}

}  // namespace mainwin
