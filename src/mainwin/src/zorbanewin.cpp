// ZorbaneWin: construction from the template, controls, value properties, and the focus and
// selection rules that enable the buttons.
#include "mainwin/zorbanewin.h"

#include "runtime/callstack.h"

namespace mainwin {
namespace {

struct HandlerEntry {
  const char* name;
  void (ZorbaneWin::*method)();
};

// Methods reachable by name: push buttons by their names, the menu command by its hyper-label.
const HandlerEntry kHandlers[] = {
    {"PbExecute", &ZorbaneWin::PbExecute},
    {"PbExit", &ZorbaneWin::PbExit},
    {"PbCompareModels", &ZorbaneWin::PbCompareModels},
    {"PbZapDbf", &ZorbaneWin::PbZapDbf},
    {"TwExistingReports", &ZorbaneWin::TwExistingReports},
    {"TwDifferences", &ZorbaneWin::TwDifferences},
};

const ControlBinding kControlBindings[] = {
    {&ZorbaneWin::oFixedText1, "FixedText1"},
    {&ZorbaneWin::oClassFamilyName, "ClassFamilyName"},
    {&ZorbaneWin::oModelName, "ModelName"},
    {&ZorbaneWin::oPbExecute, "PbExecute"},
    {&ZorbaneWin::oPbExit, "PbExit"},
    {&ZorbaneWin::oFixedText2, "FixedText2"},
    {&ZorbaneWin::oProgressBar, "ProgressBar"},
    {&ZorbaneWin::oProgressGroupBox, "ProgressGroupBox"},
    {&ZorbaneWin::oModelName1, "ModelName1"},
    {&ZorbaneWin::oBaseModel, "BaseModel"},
    {&ZorbaneWin::oRefModel, "RefModel"},
    {&ZorbaneWin::oFixedText4, "FixedText4"},
    {&ZorbaneWin::oFixedText5, "FixedText5"},
    {&ZorbaneWin::oPbCompareModels, "PbCompareModels"},
    {&ZorbaneWin::oPbZapDbf, "PbZapDbf"},
    {&ZorbaneWin::oResetToggles, "ResetToggles"},
    {&ZorbaneWin::oZorbane, "Zorbane"},
};

}  // namespace

std::span<const ControlBinding> controlBindings() { return kControlBindings; }

bool ZorbaneWin::isBlank(const rt::Value& value) {
  if (value.isNil()) return true;
  if (value.isString()) return value.asString().find_first_not_of(' ') == std::string::npos;
  return false;
}

ZorbaneWin::ZorbaneWin(gui::Owner* owner, const rt::Value& controlId, const rt::Value& server,
                       const rt::Value& extra) {
  RT_FRAME("ZorbaneWin:Init");
  const gui::InitArgs args{owner, controlId, server, extra};
  PreInit(args);
  RT_LINE();
  Init(owner, "ZORBANEWIN", controlId);
  RT_LINE();
  for (const ControlBinding& binding : kControlBindings)
    std::visit(
        [&](auto member) {
          using Kind = std::remove_pointer_t<std::remove_reference_t<decltype(this->*member)>>;
          this->*member = BindControl<Kind>(binding.name);
        },
        binding.member);
  if (oFixedText1) oFixedText1->Font(gui::Font(0, 16, "Arial"));
  RT_LINE();
  if (oZorbane) oZorbane->CreateFromAppDocStorage("OLE29", "ZorbaneWin", "Zorbane");

  RT_LINE();
  Caption("Load Database with Zorbane Class Structures");
  HyperLabel(gui::HyperLabel{"ZORBANEWIN", "Load Database with Zorbane Class Structures", "", ""});

  for (const HandlerEntry& entry : kHandlers) {
    auto method = entry.method;
    registerHandler(rt::Symbol(entry.name), [this, method] { (this->*method)(); });
  }
  registerHandler(rt::Symbol("InitialIndexBuild"), [this] { InitialIndexBuild(false); });

  RT_LINE();
  PostInit(args);
}

ZorbaneWin::~ZorbaneWin() = default;

// ---------------------------------------------------------------- value properties

namespace {

// The controls behind the value properties, their names interned once: a load reads ModelName
// for every row it writes.
struct PropertyNames {
  rt::Symbol classFamilyName{"ClassFamilyName"}, modelName{"ModelName"}, baseModel{"BaseModel"},
      refModel{"RefModel"}, resetToggles{"ResetToggles"};
};
const PropertyNames& names() {
  static const PropertyNames interned;
  return interned;
}

}  // namespace

rt::Value ZorbaneWin::ClassFamilyName() const { return FieldGet(names().classFamilyName); }
rt::Value ZorbaneWin::ClassFamilyName(const rt::Value& value) { return FieldPut(names().classFamilyName, value); }
rt::Value ZorbaneWin::ModelName() const { return FieldGet(names().modelName); }
rt::Value ZorbaneWin::ModelName(const rt::Value& value) { return FieldPut(names().modelName, value); }
rt::Value ZorbaneWin::BaseModel() const { return FieldGet(names().baseModel); }
rt::Value ZorbaneWin::BaseModel(const rt::Value& value) { return FieldPut(names().baseModel, value); }
rt::Value ZorbaneWin::RefModel() const { return FieldGet(names().refModel); }
rt::Value ZorbaneWin::RefModel(const rt::Value& value) { return FieldPut(names().refModel, value); }
rt::Value ZorbaneWin::ResetToggles() const { return FieldGet(names().resetToggles); }
rt::Value ZorbaneWin::ResetToggles(const rt::Value& value) { return FieldPut(names().resetToggles, value); }

// ---------------------------------------------------------------- events

void ZorbaneWin::enableReadWhenReady() {
  // Enables only: a focus change never disables "Read Class Structure".
  if (!isBlank(ModelName()) && !isBlank(ChosenFamily) && oPbExecute) oPbExecute->Enable();
}

void ZorbaneWin::EditFocusChange(const gui::FocusEvent& event) {
  RT_FRAME("ZorbaneWin:EditFocusChange");
  gui::DataWindow::EditFocusChange(event);
  enableReadWhenReady();
}

bool ZorbaneWin::EditReturn(const gui::ControlEvent& event) {
  RT_FRAME("ZorbaneWin:EditReturn");
  if (event.control != oModelName) return gui::DataWindow::EditReturn(event);
  enableReadWhenReady();
  if (oPbExecute && oPbExecute->IsEnabled()) oPbExecute->click();
  return true;
}

void ZorbaneWin::ListBoxSelect(const gui::ControlEvent& event) {
  RT_FRAME("ZorbaneWin:ListBoxSelect");
  gui::Control* control = event.control;
  gui::DataWindow::ListBoxSelect(event);
  if (!control) return;
  RT_LINE();
  if (control == oClassFamilyName) {
    ChosenFamily = workflow::trimmedText(oClassFamilyName->CurrentText());
    if (!isBlank(ModelName())) oPbExecute->Enable();
    else oPbExecute->Disable();
  } else if (control == oBaseModel || control == oRefModel) {
    const rt::Value base = BaseModel();
    const rt::Value ref = RefModel();
    if (!isBlank(base) && !isBlank(ref) && !rt::exactlyEqual(ref, base)) oPbCompareModels->Enable();
    else oPbCompareModels->Disable();
  }
}

}  // namespace mainwin
