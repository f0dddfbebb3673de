// Model list and table maintenance: UpdateModelList, PbZapDbf and InitialIndexBuild.
#include "long_operation.h"
#include "mainwin/zorbanewin.h"
#include "workflow/operations.h"

namespace mainwin {

void ZorbaneWin::UpdateModelList() {
  RT_FRAME("ZorbaneWin:UpdateModelList");
  Pointer(gui::Pointer::Busy);
  gui::ListItems versions;
  if (ModelServer)
    for (auto& [version, number] : workflow::storedVersions(*ModelServer))
      versions.emplace_back(version, rt::Value(number));
  RT_LINE();
  oBaseModel->FillUsing(versions);
  oRefModel->FillUsing(versions);
  oBaseModel->CurrentItemNo(0);
  oRefModel->CurrentItemNo(0);
  oBaseModel->SetFocus();
  oPbCompareModels->Disable();
  Pointer(gui::Pointer::Arrow);
}

void ZorbaneWin::PbZapDbf() {
  RT_FRAME("ZorbaneWin:PbZapDbf");
  if (detail::refusedReadOnly(*this)) return;
  if (!gui::Confirm(this, "Zap DBF Database",
                    "Are you sure you want to empty the DBF (not the Zorbane) database of records?"))
    return;
  // The buttons keep their states; a break while the table is closed and reopened still
  // leaves the window with a shared table.
  (void)detail::runLongOperation(
      *this, {},
      [&] {
        RT_LINE();
        switch (workflow::runZap(ModelServer)) {
          case workflow::ZapOutcome::Zapped:
            gui::InfoBox(this, "Zapped Success", "Server was zapped!");
            break;
          case workflow::ZapOutcome::HeldElsewhere:
            gui::InfoBox(this, "Zapped Failed", "Unable to open server exclusively, server has not been zapped!");
            break;
          case workflow::ZapOutcome::NotOpened:
            gui::InfoBox(this, "Zapped Failed",
                         std::string("Unable to open the model table ") + model::kTableName +
                             ", server has not been zapped!");
            break;
        }
        UpdateModelList();
      },
      {});
}

void ZorbaneWin::InitialIndexBuild(bool force) {
  RT_FRAME("ZorbaneWin:InitialIndexBuild");
  if (ModelServer && !ModelServer->lReadOnlyMode()) (void)workflow::buildIndexes(*ModelServer, force);
}

}  // namespace mainwin
