// ZorbaneWin declares every operation of the main window. The window skeleton (constructor,
// controls, properties, focus and selection rules) lives in zorbanewin.cpp; each workflow
// operation lives in a source file of its own.
//
// Button states: PbExecute and PbCompareModels start disabled (template). PbExecute is enabled
// by EditFocusChange once a model version is typed and a family has been picked, and by a pick
// of a family while a version is typed; a pick with no version typed disables it; it is never
// disabled by a focus change. PbCompareModels follows each pick in the version lists: enabled
// exactly when both versions are given and differ. Enter in the version field applies the focus
// rule at once and, when that leaves PbExecute enabled, presses it.
#pragma once
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <string>

#include "gui/gui.h"
#include "workflow/workflow.h"
#include "runtime/object.h"

namespace model {
class Mpdms;
}

namespace mainwin {

class ZorbaneWin : public gui::DataWindow {
 public:
  // The standard data-window arguments; Start passes only the owner.
  explicit ZorbaneWin(gui::Owner* owner, const rt::Value& controlId = {}, const rt::Value& server = {},
                      const rt::Value& extra = {});
  ~ZorbaneWin() override;

  // Fields besides the controls.
  std::string ChosenFamily;                     // picked family, trimmed; empty until a pick
  rt::ObjectPtr DbControl;                      // the hosted automation control
  std::shared_ptr<model::Mpdms> ModelServer;    // the open model table
  std::optional<workflow::ComparedPair> LastComparison;  // the window's last finished comparison

  // Controls, in template order; bound by controlBindings().
  gui::FixedText* oFixedText1 = nullptr;
  gui::ComboBox* oClassFamilyName = nullptr;
  gui::SingleLineEdit* oModelName = nullptr;
  gui::PushButton* oPbExecute = nullptr;
  gui::PushButton* oPbExit = nullptr;
  gui::FixedText* oFixedText2 = nullptr;
  gui::ProgressBar* oProgressBar = nullptr;
  gui::GroupBox* oProgressGroupBox = nullptr;
  gui::FixedText* oModelName1 = nullptr;
  gui::ComboBox* oBaseModel = nullptr;
  gui::ComboBox* oRefModel = nullptr;
  gui::FixedText* oFixedText4 = nullptr;
  gui::FixedText* oFixedText5 = nullptr;
  gui::PushButton* oPbCompareModels = nullptr;
  gui::PushButton* oPbZapDbf = nullptr;
  gui::CheckBox* oResetToggles = nullptr;
  gui::OleControl* oZorbane = nullptr;

  // Value properties over the controls of the same name.
  rt::Value ClassFamilyName() const;
  rt::Value ClassFamilyName(const rt::Value& value);
  rt::Value ModelName() const;
  rt::Value ModelName(const rt::Value& value);
  rt::Value BaseModel() const;
  rt::Value BaseModel(const rt::Value& value);
  rt::Value RefModel() const;
  rt::Value RefModel(const rt::Value& value);
  rt::Value ResetToggles() const;
  rt::Value ResetToggles(const rt::Value& value);

  // Constructor hooks and event handlers.
  void PostInit(const gui::InitArgs& args) override;
  void ListBoxSelect(const gui::ControlEvent& event) override;
  void EditFocusChange(const gui::FocusEvent& event) override;
  bool EditReturn(const gui::ControlEvent& event) override;

  // Workflow operations (each in its own source file).
  void GetClassList();
  void PbExit();
  void PbExecute();
  void LoadDbf();
  void PbCompareModels();
  // Either width: a version typed by hand lacks the stored blanks.
  void CompareModels(const std::string& base, const std::string& reference);
  void UpdateModelList();
  void PbZapDbf();
  void InitialIndexBuild(bool force = false);
  void TwExistingReports();
  void TwDifferences();

  // Text blank or empty: what the enabling rules count as empty.
  static bool isBlank(const rt::Value& value);

 private:
  // The focus rule: enables PbExecute once a version is typed and a family picked.
  void enableReadWhenReady();
};

// One control member and the name its template control's id is written as.
struct ControlBinding {
  std::variant<gui::FixedText* ZorbaneWin::*, gui::ComboBox* ZorbaneWin::*, gui::SingleLineEdit* ZorbaneWin::*,
               gui::PushButton* ZorbaneWin::*, gui::ProgressBar* ZorbaneWin::*, gui::GroupBox* ZorbaneWin::*,
               gui::CheckBox* ZorbaneWin::*, gui::OleControl* ZorbaneWin::*>
      member;
  const char* name;
};
// The window's controls, bound to the template "ZORBANEWIN" by name in the constructor.
std::span<const ControlBinding> controlBindings();


}  // namespace mainwin
