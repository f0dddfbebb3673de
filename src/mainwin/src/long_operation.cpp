#include "long_operation.h"

#include "workflow/session.h"
#include "workflow/workflow.h"

namespace mainwin::detail {

bool runLongOperation(ZorbaneWin& win, std::initializer_list<gui::PushButton*> disable,
                      const std::function<void()>& work, std::initializer_list<gui::PushButton*> enable,
                      const std::function<void()>& always) {
  for (gui::PushButton* button : disable)
    if (button) button->Disable();
  bool finished = false;
  (void)rt::withRecovery([&] {
    work();
    finished = true;
  });
  if (!finished) {
    if (!win.ModelServer || !win.ModelServer->used() || win.ModelServer->lSharedMode() != true) {
      if (win.ModelServer) win.ModelServer->close();
      (void)rt::withRecovery([&] { openSharedTable(win); });
    }
    if (win.oProgressBar) win.oProgressBar->Position(0);
    win.Pointer(gui::Pointer::Arrow);
  }
  if (always) (void)rt::withRecovery(always);
  for (gui::PushButton* button : enable)
    if (button) button->Enable();
  return finished;
}

void openSharedTable(ZorbaneWin& win) {
  model::Mpdms::Args args;
  args.shared = true;
  args.readOnly = workflow::tableReadOnlyHere();  // then it is listed and shown, and nothing writes
  win.ModelServer = std::make_shared<model::Mpdms>(args);
}

bool refusedReadOnly(ZorbaneWin& win) {
  if (!win.ModelServer || !win.ModelServer->lReadOnlyMode()) return false;
  gui::InfoBox(&win, "Model Table Read-Only", workflow::readOnlyTableText());
  return true;
}

model::Mpdms* openTable(ZorbaneWin& win, const char* operation) {
  // A table whose write failed takes no more writes: new work starts on a fresh open of it.
  if (win.ModelServer && win.ModelServer->writeFailed()) {
    win.ModelServer->close();
    openSharedTable(win);
  }
  if (refusedReadOnly(win)) return nullptr;
  if (win.ModelServer && win.ModelServer->used()) return win.ModelServer.get();
  auto e = rt::makeError(rt::EG_NOTABLE, "DBFCDX", std::string("the model table ") + model::kTableName + " is not open",
                         operation, model::kTableName);
  e->canDefault = true;
  (void)rt::raise(e);
  return nullptr;
}

}  // namespace mainwin::detail
