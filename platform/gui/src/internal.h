// Internals shared by the toolkit's source files.
#pragma once
#include <memory>

#include "gui/controls.h"

class QWidget;

namespace gui::detail {

// Creates the Qt widget and control object for one template control, placed in `parent`.
std::unique_ptr<Control> makeControl(DataWindow& owner, const ControlTemplate& tpl, QWidget* parent,
                                     const DialogUnits& units);

// Raises a toolkit error (subsystem "GUI") and answers the protocol's result.
void raiseGui(int genCode, const std::string& description, const std::string& operation,
              const std::string& fileName = {});

}  // namespace gui::detail
