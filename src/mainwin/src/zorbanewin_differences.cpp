// TwDifferences: the "Differences…" menu command of the main window.
#include "diffwin/diffwin.h"
#include "mainwin/zorbanewin.h"
#include "runtime/callstack.h"

namespace mainwin {

// Opens the differences window on the window's last comparison, or on the two versions picked
// in the window when there has been none yet.
void ZorbaneWin::TwDifferences() {
  RT_FRAME("ZorbaneWin:TwDifferences");
  std::string base, reference;
  if (const auto& last = LastComparison) {
    base = last->base;
    reference = last->reference;
  } else {
    if (!isBlank(BaseModel())) base = workflow::fullWidthVersion(oBaseModel->CurrentText());
    if (!isBlank(RefModel())) reference = workflow::fullWidthVersion(oRefModel->CurrentText());
  }
  diffwin::ShowDifferences(*this, [this] { return ModelServer.get(); }, base, reference);
}

}  // namespace mainwin
