// Comparing two model versions: PbCompareModels, CompareModels and ClearComparisons.
#include "long_operation.h"
#include "workflow/workflow.h"
#include "mainwin/zorbanewin.h"

namespace mainwin {
namespace {

class WindowCompareObserver : public workflow::CompareObserver {
 public:
  explicit WindowCompareObserver(ZorbaneWin& win) : win_(win) {}
  void started(std::uint32_t records) override {
    win_.oProgressGroupBox->Caption("Progress of Comparing Models");
    win_.oProgressBar->Range(0, static_cast<int>(std::min<std::uint32_t>(records, INT32_MAX)));
  }
  void rowPassed() override { win_.oProgressBar->Advance(); }

 private:
  ZorbaneWin& win_;
};

}  // namespace

void ZorbaneWin::PbCompareModels() {
  RT_FRAME("ZorbaneWin:PbCompareModels");
  (void)detail::runLongOperation(
      *this, {oPbExecute, oPbExit, oPbZapDbf, oPbCompareModels},
      [&] {
        // A version typed by hand lacks the stored blanks: compare at the stored width.
        CompareModels(workflow::fullWidthVersion(oBaseModel->CurrentText()),
                      workflow::fullWidthVersion(oRefModel->CurrentText()));
      },
      {oPbCompareModels, oPbZapDbf, oPbExecute, oPbExit},
      // Unchecked after every run, a broken one included: the next run must not reset again unasked.
      [&] { ResetToggles(rt::Value(false)); });
}

void ZorbaneWin::CompareModels(const std::string& base, const std::string& reference) {
  RT_FRAME("ZorbaneWin:CompareModels");
  // A text typed over a picked entry can name the other side's version: the lists' rule that
  // the two differ is checked again at the width the rows are compared at.
  if (base == reference) {
    gui::InfoBox(this, "Compare Above Models",
                 "Base and reference are the same model version \"" + workflow::trimmedText(base) +
                     "\"; nothing was compared.");
    return;
  }
  model::Mpdms* table = detail::openTable(*this, "CompareModels");
  if (!table) return;
  // A version without rows would compare nothing; say so instead of reporting "Finished".
  for (const std::string* version : {&base, &reference}) {
    if (!workflow::versionHasRows(*table, *version)) {
      RT_LINE();
      InitialIndexBuild(true);  // the closing rebuild runs all the same: it repairs a broken index
      gui::InfoBox(this, "Compare Above Models",
                   "Model version \"" + workflow::trimmedText(*version) +
                       "\" has no rows in the database; nothing was compared.");
      return;
    }
  }
  RT_LINE();
  if (ResetToggles().asLogical()) ClearComparisons();
  table->setOrder(1);
  Pointer(gui::Pointer::Busy);
  WindowCompareObserver observer(*this);
  const workflow::CompareCounts counts = workflow::compareVersions(*table, base, reference, observer);
  RT_LINE();
  if (counts.writeFailed) {
    // The error was shown once; nothing more is written until the table is opened afresh.
    gui::InfoBox(this, "Compare Stopped",
                 "The compare stopped after a write error; " + std::to_string(counts.baseRows + counts.referenceRows) +
                     " rows were compared.");
    oProgressBar->Position(0);
    return Pointer(gui::Pointer::Arrow);
  }
  InitialIndexBuild(true);
  gui::InfoBox(this, "Finished", "We have finished comparing the two model structures!");
  oProgressBar->Position(0);
  Pointer(gui::Pointer::Arrow);
}

void ZorbaneWin::ClearComparisons() {
  RT_FRAME("ZorbaneWin:ClearComparisons");
  if (model::Mpdms* table = detail::openTable(*this, "ClearComparisons")) workflow::clearComparisons(*table);
}

}  // namespace mainwin
