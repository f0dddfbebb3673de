// Model list and table maintenance: UpdateModelList, PbZapDbf and InitialIndexBuild.
#include "long_operation.h"
#include "workflow/workflow.h"
#include "mainwin/zorbanewin.h"

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

namespace {

// While it lives, notes whether an open was refused because another process holds the file
// (an open error with OS code 32); every error still goes on to the installed error block.
class SharingConflictWatch {
 public:
  SharingConflictWatch() : previous_(rt::errorBlock()) {
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      if (e->genCode == rt::EG_OPEN && e->osCode == 32) conflict_ = true;
      return previous_ ? previous_(e) : rt::Value(false);
    });
  }
  ~SharingConflictWatch() { rt::setErrorBlock(previous_); }
  SharingConflictWatch(const SharingConflictWatch&) = delete;
  SharingConflictWatch& operator=(const SharingConflictWatch&) = delete;
  bool conflict() const { return conflict_; }

 private:
  rt::ErrorBlock previous_;
  bool conflict_ = false;
};

}  // namespace

void ZorbaneWin::PbZapDbf() {
  RT_FRAME("ZorbaneWin:PbZapDbf");
  if (!gui::Confirm(this, "Zap DBF Database",
                    "Are you sure you want to empty the DBF (not the Zorbane) database of records?"))
    return;
  // The buttons keep their states; a break while the table is closed and reopened still
  // leaves the window with a shared table.
  (void)detail::runLongOperation(
      *this, {},
      [&] {
        RT_LINE();
        if (ModelServer) ModelServer->close();
        model::Mpdms::Args exclusive;
        exclusive.shared = false;
        bool heldElsewhere = false;
        {
          SharingConflictWatch watch;
          ModelServer = std::make_shared<model::Mpdms>(exclusive);
          heldElsewhere = watch.conflict();
        }
        if (ModelServer->used()) {
          RT_LINE();
          ModelServer->zap();
          gui::InfoBox(this, "Zapped Success", "Server was zapped!");
          ModelServer->close();
          detail::openSharedTable(*this);
        } else if (heldElsewhere) {
          RT_LINE();
          detail::openSharedTable(*this);  // the refused exclusive server is dropped unclosed
          gui::InfoBox(this, "Zapped Failed", "Unable to open server exclusively, server has not been zapped!");
        } else {
          // The file itself cannot be opened (missing, damaged, unreadable): the open has
          // reported why, and a shared open would only fail again.
          RT_LINE();
          gui::InfoBox(this, "Zapped Failed",
                       std::string("Unable to open the model table ") + model::kTableName +
                           ", server has not been zapped!");
        }
        InitialIndexBuild(true);
        UpdateModelList();
      },
      {});
}

void ZorbaneWin::InitialIndexBuild(bool force) {
  RT_FRAME("ZorbaneWin:InitialIndexBuild");
  if (ModelServer) (void)workflow::buildIndexes(*ModelServer, force);
}

}  // namespace mainwin
