// Controls of a data window, each built on one control of the window's dialog template.
// A control's events go to its owner window: a push button calls the owner's method of the
// button's name, a list or combo pick by the user calls ListBoxSelect (never a pick made by
// code), and an edit field's focus change calls EditFocusChange.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QtContainerFwd>

#include "gui/resource_script.h"
#include "gui/window.h"
#include "runtime/object.h"
#include "runtime/value.h"

class QTimer;
class QWidget;

namespace gui {

class Control {
 public:
  Control(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  DataWindow& owner() const { return owner_; }
  const ControlTemplate& controlTemplate() const { return tpl_; }
  int id() const { return tpl_.id; }
  ControlKind kind() const { return tpl_.kind; }
  QWidget* widget() const { return widget_; }

  rt::Symbol nameSymbol() const { return name_; }
  std::string Name() const { return label_.name; }
  const gui::HyperLabel& HyperLabel() const { return label_; }
  virtual void HyperLabel(const gui::HyperLabel& label);
  // With this on, the hyper-label's description is the control's tool tip.
  void UseHLforToolTip(bool on);

  virtual std::string Caption() const;
  virtual void Caption(const std::string& text);
  // The control's value: what FieldGet answers and FieldPut sets.
  virtual rt::Value Value() const;
  virtual void Value(const rt::Value& value);

  void Enable();
  void Disable();
  bool IsEnabled() const;
  void Show();
  void Hide();
  bool IsVisible() const;  // the control's own visible state
  void SetFocus();
  // Sets the font without resizing the control.
  void Font(const gui::Font& font);
  const gui::Font* Font() const { return font_.get(); }

 protected:
  DataWindow& owner_;
  ControlTemplate tpl_;
  QWidget* widget_;
  gui::HyperLabel label_;
  rt::Symbol name_;
  bool toolTipFromLabel_ = false;
  std::unique_ptr<gui::Font> font_;
};

class FixedText : public Control {
 public:
  using Control::Control;
};

// A static icon of the template; its picture comes from the icon resource the template names.
class IconControl : public Control {
 public:
  using Control::Control;
};

class SingleLineEdit : public Control {
 public:
  SingleLineEdit(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget);
  rt::Value Value() const override;  // the text typed
  void Value(const rt::Value& value) override;

 private:
  std::string text_;  // the widget's text, kept at every change: a long run may read it per row
};

class PushButton : public Control {
 public:
  PushButton(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget);
  // Presses the button as the user would.
  void click();
};

class CheckBox : public Control {
 public:
  using Control::Control;
  rt::Value Value() const override;  // a logical
  void Value(const rt::Value& value) override;
  bool Checked() const;
  void Checked(bool on);
};

class GroupBox : public Control {
 public:
  using Control::Control;
};

// A progress bar that a synchronous operation may advance once per row at no cost. Range,
// position and step are kept here, exactly as set. The widget is told only when what it draws
// changes (the filled width in pixels), and the window system is let through to show the change
// (user input excluded) at most once per kShowInterval; a change that comes sooner is shown when
// the interval has passed and the event loop runs, or by the first step after it.
// A range of one value (high = low) draws an empty bar, never the toolkit's busy animation.
//
// States: shown (the widget draws the current values) -> pending (a change not yet drawn, a
// timer armed) -> shown again by the first step past the interval or by the timer.
class ProgressBar : public Control {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using ClockFunction = std::function<TimePoint()>;
  static constexpr std::chrono::milliseconds kShowInterval{30};

  ProgressBar(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget);
  ~ProgressBar() override;
  void Range(int low, int high);
  int RangeLow() const { return low_; }
  int RangeHigh() const { return high_; }
  void UnitSize(int step) { step_ = step; }  // the step of Advance
  int UnitSize() const { return step_; }
  void Position(int pos);
  int Position() const { return pos_; }
  void Advance();  // one step forward
  rt::Value Value() const override { return Position(); }
  void Value(const rt::Value& value) override { Position(static_cast<int>(value.asLong())); }
  // The clock that paces the showing (the steady clock unless a test sets its own).
  void UseClock(ClockFunction clock);

 private:
  int filledPixels() const;
  void noteShown();
  void stateChanged();
  void showNow();
  void pushToWidget();
  int low_ = 0;
  int high_ = 100;  // the common control's default range
  int pos_ = 0;
  int step_ = 1;
  int shownFilled_ = 0;
  int shownWidth_ = 0;
  std::int64_t sameFrom_ = 0, sameTo_ = 0;  // the positions drawn as shown: [from, to)
  bool showing_ = false;
  bool pending_ = false;  // a change not drawn yet waits for its interval
  TimePoint lastShown_{};
  ClockFunction clock_;
  QTimer* timer_ = nullptr;  // a child of the widget; fires once per pending change
};

// The (text, value) pairs a list or combo box is filled with.
using ListItems = std::vector<std::pair<std::string, rt::Value>>;

// Common part of list and combo boxes: entries of text and value, sorted by text without regard
// to case when the template asks for it; item numbers start at 1, 0 meaning none.
class ListControl : public Control {
 public:
  ListControl(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget, bool sorted);
  // Replaces the entries. Each element of an array is either a {text, value} array or a value
  // that serves as both.
  void FillUsing(const ListItems& items);
  void FillUsing(const rt::Value& items);
  void AddItem(const std::string& text, const rt::Value& value);
  void Clear();
  int ItemCount() const;
  std::string GetItem(int itemNo) const;
  rt::Value GetItemValue(int itemNo) const;
  int CurrentItemNo() const;
  // Selects from code: raises no ListBoxSelect.
  void CurrentItemNo(int itemNo);
  virtual std::string CurrentText() const;
  rt::Value Value() const override;  // the chosen entry's value; NIL when none
  // Chooses the first entry whose value equals `value` exactly; none when no entry has it.
  void Value(const rt::Value& value) override;
  bool sorted() const { return sorted_; }
  // Picks an item as the user would: selects it and raises ListBoxSelect.
  void pick(int itemNo);

 protected:
  virtual int insertRow(int row, const std::string& text) = 0;  // returns the row used
  virtual void appendRows(const QStringList& texts) = 0;        // after the last row, in order
  virtual void removeAll() = 0;
  virtual int currentRow() const = 0;
  virtual void setCurrentRow(int row) = 0;
  int insertPosition(const std::string& text) const;
  void userPicked();
  bool chooseValue(const rt::Value& value);  // Value(value); false when no entry has it

  std::vector<std::pair<std::string, rt::Value>> entries_;  // in shown order
  bool sorted_;
  bool settingFromCode_ = false;
};

class ComboBox : public ListControl {
 public:
  ComboBox(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget);
  bool editable() const;
  std::string CurrentText() const override;  // the edit field's text for a box with one
  // The chosen entry's value; for a box with an edit field whose text matches no entry, the text;
  // NIL when nothing is chosen.
  rt::Value Value() const override;
  void Value(const rt::Value& value) override;

 protected:
  int insertRow(int row, const std::string& text) override;
  void appendRows(const QStringList& texts) override;
  void removeAll() override;
  int currentRow() const override;
  void setCurrentRow(int row) override;
};

class ListBox : public ListControl {
 public:
  ListBox(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget);

 protected:
  int insertRow(int row, const std::string& text) override;
  void appendRows(const QStringList& texts) override;
  void removeAll() override;
  int currentRow() const override;
  void setCurrentRow(int row) override;
};

// The container of a hosted automation control created from stored state.
class OleControl : public Control {
 public:
  using Control::Control;
  // Creates the hosted control from the named stored state; failures are raised.
  bool CreateFromAppDocStorage(const std::string& storage, const std::string& document,
                               const std::string& controlName);
  // The hosted control's automation object; null before creation or after a failure.
  rt::ObjectPtr AutoObject() const { return object_; }
  void setAutoObject(rt::ObjectPtr object) { object_ = std::move(object); }

 private:
  rt::ObjectPtr object_;
};

}  // namespace gui
