// Comparing two model versions: PbCompareModels and CompareModels.
#include "diffwin/diffwin.h"
#include "long_operation.h"
#include "mainwin/zorbanewin.h"
#include "workflow/operations.h"

namespace mainwin {
namespace {

// The compare's on-screen part: the progress group and bar, and the announcement of a finished
// comparison, which the window keeps for its Differences command and tells its differences window.
class WindowCompareObserver : public workflow::CompareObserver {
 public:
  explicit WindowCompareObserver(ZorbaneWin& win) : win_(win) {}
  void started(std::uint32_t records) override {
    win_.oProgressGroupBox->Caption("Progress of Comparing Models");
    win_.oProgressBar->Range(0, static_cast<int>(std::min<std::uint32_t>(records, INT32_MAX)));
  }
  void rowPassed() override { win_.oProgressBar->Advance(); }
  void finished(const workflow::ComparedPair& pair) override {
    win_.LastComparison = pair;
    if (diffwin::DifferencesWindow* differences = diffwin::differencesWindowOf(win_))
      differences->preset(pair.base, pair.reference);
  }

 private:
  ZorbaneWin& win_;
};

}  // namespace

void ZorbaneWin::PbCompareModels() {
  RT_FRAME("ZorbaneWin:PbCompareModels");
  bool ranToItsEnd = false;
  (void)detail::runLongOperation(
      *this, {oPbExecute, oPbExit, oPbZapDbf, oPbCompareModels},
      [&] {
        CompareModels(oBaseModel->CurrentText(), oRefModel->CurrentText());
        ranToItsEnd = true;
      },
      {oPbCompareModels, oPbZapDbf, oPbExecute, oPbExit},
      // A run that broke off is unticked all the same: the next run must not reset again unasked.
      [&] {
        if (!ranToItsEnd) ResetToggles(rt::Value(false));
      });
}

void ZorbaneWin::CompareModels(const std::string& base, const std::string& reference) {
  RT_FRAME("ZorbaneWin:CompareModels");
  model::Mpdms* table = detail::openTable(*this, "CompareModels");
  if (!table) return;
  Pointer(gui::Pointer::Busy);
  WindowCompareObserver observer(*this);
  const workflow::CompareResult result =
      workflow::runCompare(*table, base, reference, ResetToggles().asLogical(), observer);
  RT_LINE();
  switch (result.outcome) {
    case workflow::CompareOutcome::SameVersion:
      // Nothing was compared, nor reset: "Reset Flags" keeps its tick for the next run.
      gui::InfoBox(this, "Compare Above Models",
                   "Base and reference are the same model version \"" + workflow::trimmedText(base) +
                       "\"; nothing was compared.");
      break;
    case workflow::CompareOutcome::NoRows:
      gui::InfoBox(this, "Compare Above Models",
                   "Model version \"" + workflow::trimmedText(result.versionWithoutRows) +
                       "\" has no rows in the database; nothing was compared.");
      break;
    case workflow::CompareOutcome::Stopped:
      ResetToggles(rt::Value(false));
      gui::InfoBox(this, "Compare Stopped",
                   "The compare stopped after a write error; " +
                       std::to_string(result.counts.baseRows + result.counts.referenceRows) + " rows were compared.");
      break;
    case workflow::CompareOutcome::Done:
      ResetToggles(rt::Value(false));
      gui::InfoBox(this, "Finished", "We have finished comparing the two model structures!");
      break;
  }
  oProgressBar->Position(0);
  Pointer(gui::Pointer::Arrow);
}

}  // namespace mainwin
