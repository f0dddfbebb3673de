// Workflow operations whose work arrives with later changes. Each is a stub that does nothing;
// move an operation out of this file when its own source file implements it.
#include "mainwin/zorbanewin.h"
#include "runtime/callstack.h"

namespace mainwin {

void ZorbaneWin::GetClassList() { RT_FRAME("ZorbaneWin:GetClassList"); }
void ZorbaneWin::PbExecute() { RT_FRAME("ZorbaneWin:PbExecute"); }
void ZorbaneWin::LoadDbf() { RT_FRAME("ZorbaneWin:LoadDbf"); }
void ZorbaneWin::PbCompareModels() { RT_FRAME("ZorbaneWin:PbCompareModels"); }
void ZorbaneWin::CompareModels() { RT_FRAME("ZorbaneWin:CompareModels"); }
void ZorbaneWin::ClearComparisons() { RT_FRAME("ZorbaneWin:ClearComparisons"); }
void ZorbaneWin::UpdateModelList() { RT_FRAME("ZorbaneWin:UpdateModelList"); }
void ZorbaneWin::PbZapDbf() { RT_FRAME("ZorbaneWin:PbZapDbf"); }
void ZorbaneWin::InitialIndexBuild(bool /*force*/) { RT_FRAME("ZorbaneWin:InitialIndexBuild"); }
void ZorbaneWin::TwExistingReports() { RT_FRAME("ZorbaneWin:TwExistingReports"); }
std::string ZorbaneType2String(int /*typeCode*/) { return {}; }

// PbExit: the model table is closed first once the window holds one.
void ZorbaneWin::PbExit() {
  RT_FRAME("ZorbaneWin:PbExit");
  EndWindow();
}

}  // namespace mainwin
