// Loading a class family into the model table: PbExecute and LoadDbf.
#include <string>

#include "long_operation.h"
#include "mainwin/zorbanewin.h"
#include "workflow/operations.h"
#include "workflow/session.h"
#include "workflow/workflow.h"

namespace mainwin {
namespace {

// The load's on-screen part: the progress group and bar, and the version typed in the window.
class WindowLoadObserver : public workflow::LoadObserver {
 public:
  explicit WindowLoadObserver(ZorbaneWin& win) : win_(win) {}
  // The group names the process before the classes are counted, so a count that fails
  // leaves the caption of the load that broke.
  void classesReceived() override { win_.oProgressGroupBox->Caption("Progress of Reviewing Class Family"); }
  void classesCounted(long count) override { win_.oProgressBar->Range(0, static_cast<int>(count)); }
  void classRead(long /*position*/) override { win_.oProgressBar->Advance(); }
  rt::Value version() override { return win_.ModelName(); }

 private:
  ZorbaneWin& win_;
};

}  // namespace

void ZorbaneWin::PbExecute() {
  RT_FRAME("ZorbaneWin:PbExecute");
  (void)detail::runLongOperation(*this, {oPbExecute, oPbExit, oPbZapDbf}, [this] { LoadDbf(); },
                                 {oPbZapDbf, oPbExecute, oPbExit});
}

void ZorbaneWin::LoadDbf() {
  RT_FRAME("ZorbaneWin:LoadDbf");
  // Rows need a family to read and a version to be found under: refuse before anything is asked.
  if (isBlank(ChosenFamily)) {
    gui::InfoBox(this, "Read Class Structure", "No class family is picked; nothing was loaded.");
    return;
  }
  if (isBlank(ModelName())) {
    gui::InfoBox(this, "Read Class Structure",
                 "The model version is empty; nothing was loaded. Enter a model version first.");
    return;
  }
  Pointer(gui::Pointer::Busy);
  model::Mpdms* table = detail::openTable(*this, "LoadDbf");
  if (!table) return Pointer(gui::Pointer::Arrow);
  if (const std::string refusal = workflow::versionRefusal(*table, ModelName().asString()); !refusal.empty()) {
    gui::InfoBox(this, "Read Class Structure", refusal);
    return Pointer(gui::Pointer::Arrow);
  }
  // Reading a family again under the same version stores every row twice; it is the user's call.
  const std::string version = workflow::fullWidthVersion(ModelName().asString());
  if (const long held = workflow::familyRowsIn(*table, version, ChosenFamily); held > 0) {
    const std::string question = "Version " + workflow::trimmedText(version) + " already holds " +
                                 std::to_string(held) + " rows of " + ChosenFamily + ". Add them again?";
    if (gui::messageBox(this, "Read Class Structure", question,
                        gui::kBoxYesNo | gui::kBoxIconQuestion | gui::kBoxDefaultSecond) != gui::kIdYes)
      return Pointer(gui::Pointer::Arrow);
  }
  RT_LINE();
  WindowLoadObserver observer(*this);
  const workflow::LoadResult result = workflow::runLoad(DbControl, *table, ChosenFamily, observer);
  RT_LINE();
  UpdateModelList();
  const std::string rows = std::to_string(result.counts.rows);
  switch (result.outcome) {
    case workflow::LoadOutcome::Stopped:
      // The error was shown once; the next load or compare opens the table afresh.
      gui::InfoBox(this, "Load Stopped",
                   "The load of " + ChosenFamily + " stopped after a write error; " + rows + " rows were stored.");
      break;
    case workflow::LoadOutcome::Incomplete:
      gui::InfoBox(this, "Read Class Structure",
                   "The class family " + ChosenFamily + " was not read completely: errors were reported during the read. " +
                       rows + " rows were written; they stay in the database.");
      break;
    case workflow::LoadOutcome::Done:
      if (result.counts.substituted.empty()) {
        gui::InfoBox(this, "Finished", "We have loaded the " + ChosenFamily + " class information into the database!");
        if (result.counts.rows == 0)
          gui::InfoBox(this, "Read Class Structure",
                       "No rows were written: the class family " + ChosenFamily +
                           " has no classes, so the lists of model versions are unchanged.");
      } else {
        std::string names;
        for (const std::string& name : result.counts.substituted) names += (names.empty() ? "" : ", ") + name;
        gui::InfoBox(this, "Read Class Structure",
                     "The class family " + ChosenFamily + " was read completely: " + rows +
                         " rows were written. These names were stored with \"?\" for the characters the model table "
                         "cannot hold: " + names + ".");
      }
      break;
  }
  oProgressBar->Position(0);
  Pointer(gui::Pointer::Arrow);
}

}  // namespace mainwin
