// Control objects over Qt widgets, and the factory that builds them from template controls.
#include <algorithm>
#include <ctime>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/controls.h"
#include "internal.h"
#include "ole/ole.h"
#include "runtime/error.h"

namespace gui {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Hands focus changes of an edit field to its owner window's EditFocusChange.
class FocusFilter : public QObject {
 public:
  explicit FocusFilter(Control* control) : QObject(control->widget()), control_(control) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
      const bool gained = event->type() == QEvent::FocusIn;
      Control* c = control_;
      Window::runEvent([c, gained] { c->owner().EditFocusChange(FocusEvent{c, gained}); });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  Control* control_;
};

bool isEnter(QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
         (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// On Enter pressed in the watched widget, runs `take`, which answers whether it acted on the key.
// A key taken is kept from the window (whose default button would otherwise take it too); one
// not taken goes on as usual.
class EnterFilter : public QObject {
 public:
  EnterFilter(QWidget* widget, std::function<bool()> take) : QObject(widget), take_(std::move(take)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (isEnter(event) && take_()) return true;
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<bool()> take_;
};

}  // namespace

// ---------------------------------------------------------------- base

Control::Control(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget)
    : owner_(owner), tpl_(tpl), widget_(widget) {}

Control::~Control() = default;

void Control::HyperLabel(const gui::HyperLabel& label) {
  label_ = label;
  name_ = label.name.empty() ? rt::Symbol() : rt::Symbol(label.name);
  if (!label.caption.empty()) Caption(label.caption);
  if (toolTipFromLabel_) widget_->setToolTip(qs(label_.description));
}

void Control::UseHLforToolTip(bool on) {
  toolTipFromLabel_ = on;
  widget_->setToolTip(on ? qs(label_.description) : QString());
}

std::string Control::Caption() const {
  if (auto* l = qobject_cast<QLabel*>(widget_)) return l->text().toStdString();
  if (auto* b = qobject_cast<QAbstractButton*>(widget_)) return b->text().toStdString();
  if (auto* g = qobject_cast<QGroupBox*>(widget_)) return g->title().toStdString();
  if (auto* e = qobject_cast<QLineEdit*>(widget_)) return e->text().toStdString();
  return label_.caption;
}

void Control::Caption(const std::string& text) {
  if (auto* l = qobject_cast<QLabel*>(widget_)) {
    if (tpl_.kind != ControlKind::Icon) l->setText(qs(text));
  } else if (auto* b = qobject_cast<QAbstractButton*>(widget_)) {
    b->setText(qs(text));
  } else if (auto* g = qobject_cast<QGroupBox*>(widget_)) {
    g->setTitle(qs(text));
  } else if (auto* e = qobject_cast<QLineEdit*>(widget_)) {
    e->setText(qs(text));
  }
}

rt::Value Control::Value() const { return Caption(); }
void Control::Value(const rt::Value& value) { Caption(value.isString() ? value.asString() : rt::toText(value)); }

void Control::Enable() { widget_->setEnabled(true); }
void Control::Disable() { widget_->setEnabled(false); }
bool Control::IsEnabled() const { return widget_->isEnabled(); }
void Control::Show() { widget_->show(); }
void Control::Hide() { widget_->hide(); }
bool Control::IsVisible() const { return !widget_->isHidden(); }
void Control::SetFocus() { widget_->setFocus(Qt::OtherFocusReason); }

void Control::Font(const gui::Font& font) {
  font_ = std::make_unique<gui::Font>(font);
  const QRect geometry = widget_->geometry();
  widget_->setFont(font.toQFont());
  widget_->setGeometry(geometry);  // the control keeps its template size
}

// ---------------------------------------------------------------- edit, button, check box

SingleLineEdit::SingleLineEdit(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget)
    : Control(owner, tpl, widget) {
  widget->installEventFilter(new FocusFilter(this));
  auto* edit = static_cast<QLineEdit*>(widget);
  text_ = edit->text().toStdString();
  QObject::connect(edit, &QLineEdit::textChanged, widget, [this](const QString& text) { text_ = text.toStdString(); });
  widget->installEventFilter(new EnterFilter(widget, [this] {
    bool taken = false;
    Window::runEvent([this, &taken] { taken = owner_.EditReturn(ControlEvent{this}); });
    return taken;
  }));
}

rt::Value SingleLineEdit::Value() const { return rt::Value(text_); }

void SingleLineEdit::Value(const rt::Value& value) {
  static_cast<QLineEdit*>(widget_)->setText(qs(value.isString() ? value.asString() : rt::toText(value)));
}

PushButton::PushButton(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget)
    : Control(owner, tpl, widget) {
  QObject::connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, widget, [this] {
    if (name_.isNull()) return;
    Window::runEvent([this] { (void)owner_.dispatch(name_); });
  });
  // Enter presses the focused button, as Space does, in a window as in a dialog.
  widget->installEventFilter(new EnterFilter(widget, [this, widget] {
    if (!widget->isEnabled()) return false;
    click();
    return true;
  }));
}

void PushButton::click() { static_cast<QPushButton*>(widget_)->click(); }

rt::Value CheckBox::Value() const { return Checked(); }
void CheckBox::Value(const rt::Value& value) { Checked(value.asLogical()); }
bool CheckBox::Checked() const { return static_cast<QCheckBox*>(widget_)->isChecked(); }
void CheckBox::Checked(bool on) { static_cast<QCheckBox*>(widget_)->setChecked(on); }

// ---------------------------------------------------------------- progress bar

namespace {

// The pacing needs a few milliseconds of resolution, and a bar behind in its showing reads the
// clock on every step: the coarse monotonic clock costs a fraction of the precise one.
ProgressBar::TimePoint coarseNow() {
  timespec now{};
  if (::clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0) return std::chrono::steady_clock::now();
  return ProgressBar::TimePoint(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
}

}  // namespace

ProgressBar::ProgressBar(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget)
    : Control(owner, tpl, widget), clock_(coarseNow),
      timer_(new QTimer(widget)) {
  timer_->setSingleShot(true);
  QObject::connect(timer_, &QTimer::timeout, widget, [this] {
    if (showing_) return;
    if (filledPixels() != shownFilled_) return showNow();
    pending_ = false;  // moved back to what is drawn
  });
  pushToWidget();
}

// Controls go before their widgets, so the timer is still there to be deleted.
ProgressBar::~ProgressBar() { delete timer_; }

void ProgressBar::UseClock(ClockFunction clock) { clock_ = std::move(clock); }

void ProgressBar::Range(int low, int high) {
  low_ = low;
  high_ = high < low ? low : high;
  pos_ = low;
  sameFrom_ = sameTo_ = 0;  // the stretch drawn alike was measured on the old range
  stateChanged();
}

void ProgressBar::Position(int pos) {
  pos_ = std::clamp(pos, low_, high_);
  stateChanged();
}

void ProgressBar::Advance() { Position(pos_ + step_); }

// The drawn state now is the shown one; the positions that draw the same form one stretch, so a
// step inside it needs no arithmetic.
void ProgressBar::noteShown() {
  shownFilled_ = filledPixels();
  shownWidth_ = widget_->width();
  const std::int64_t span = static_cast<std::int64_t>(high_) - low_, width = std::max(shownWidth_, 1);
  if (span <= 0) {
    sameFrom_ = low_, sameTo_ = static_cast<std::int64_t>(low_) + 1;
    return;
  }
  const auto firstWith = [&](std::int64_t filled) { return low_ + (filled * span + width - 1) / width; };
  sameFrom_ = firstWith(shownFilled_);
  sameTo_ = firstWith(shownFilled_ + 1);
}

int ProgressBar::filledPixels() const {
  const std::int64_t span = static_cast<std::int64_t>(high_) - low_;
  if (span <= 0) return 0;
  const std::int64_t width = std::max(widget_->width(), 1);
  return static_cast<int>((static_cast<std::int64_t>(pos_) - low_) * width / span);
}

// Called on every change of the values, so it must stay cheap: most steps of a long run end at
// the first test.
void ProgressBar::stateChanged() {
  if (!widget_->isVisible()) {
    pushToWidget();  // nothing is drawn, so nothing is paced
    noteShown();
    return;
  }
  // A change waits for its interval: only the clock decides, and a step that moved back to what
  // is drawn costs no more than one drawn again.
  if (pending_) {
    if (clock_() - lastShown_ >= kShowInterval) showNow();
    return;
  }
  if (pos_ >= sameFrom_ && pos_ < sameTo_ && widget_->width() == shownWidth_) return;
  if (filledPixels() == shownFilled_) return;
  const TimePoint now = clock_();
  if (now - lastShown_ >= kShowInterval) return showNow();
  pending_ = true;
  timer_->start(std::chrono::ceil<std::chrono::milliseconds>(kShowInterval - (now - lastShown_)));
}

// The bar must move while a synchronous operation holds the message loop: draw now and let the
// window system show it, without taking user input.
void ProgressBar::showNow() {
  showing_ = true;
  pending_ = false;
  timer_->stop();
  pushToWidget();
  noteShown();
  lastShown_ = clock_();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  showing_ = false;
}

void ProgressBar::pushToWidget() {
  auto* bar = static_cast<QProgressBar*>(widget_);
  if (high_ > low_) {
    bar->setRange(low_, high_);
    bar->setValue(pos_);
  } else {
    bar->setRange(0, 1);  // a range of one value: empty, not the busy animation of (0, 0)
    bar->setValue(0);
  }
}

// ---------------------------------------------------------------- list and combo boxes

ListControl::ListControl(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget, bool sorted)
    : Control(owner, tpl, widget), sorted_(sorted) {}

// After every entry that sorts before or equal to `text`, so equal texts keep their order of
// arrival. A binary search: each step converts one entry.
int ListControl::insertPosition(const std::string& text) const {
  if (!sorted_) return static_cast<int>(entries_.size());
  const QString key = qs(text);
  const auto at = std::upper_bound(entries_.begin(), entries_.end(), key, [](const QString& k, const auto& entry) {
    return QString::compare(k, qs(entry.first), Qt::CaseInsensitive) < 0;
  });
  return static_cast<int>(at - entries_.begin());
}

void ListControl::AddItem(const std::string& text, const rt::Value& value) {
  settingFromCode_ = true;
  const int row = insertPosition(text);
  insertRow(row, text);
  entries_.insert(entries_.begin() + row, {text, value});
  settingFromCode_ = false;
}

void ListControl::Clear() {
  settingFromCode_ = true;
  removeAll();
  entries_.clear();
  settingFromCode_ = false;
}

// The same order as adding the items one by one, reached with one sort: each text is converted
// once, and the widget takes all rows in one call.
void ListControl::FillUsing(const ListItems& items) {
  Clear();
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (sorted_) {
    std::vector<QString> keys;
    keys.reserve(items.size());
    for (const auto& item : items) keys.push_back(qs(item.first));
    std::stable_sort(order.begin(), order.end(), [&keys](std::size_t a, std::size_t b) {
      return QString::compare(keys[a], keys[b], Qt::CaseInsensitive) < 0;
    });
  }
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(items.size()));
  entries_.reserve(items.size());
  for (std::size_t i : order) {
    entries_.push_back(items[i]);
    texts.push_back(qs(items[i].first));
  }
  settingFromCode_ = true;
  appendRows(texts);
  settingFromCode_ = false;
  CurrentItemNo(0);
}

void ListControl::FillUsing(const rt::Value& items) {
  ListItems list;
  if (auto array = items.asArray()) {
    for (const rt::Value& element : *array) {
      auto pair = element.asArray();
      if (pair && !pair->empty()) {
        const rt::Value& text = (*pair)[0];
        list.emplace_back(text.isString() ? text.asString() : rt::toText(text),
                          pair->size() > 1 ? (*pair)[1] : text);
      } else {
        list.emplace_back(element.isString() ? element.asString() : rt::toText(element), element);
      }
    }
  } else if (!items.isNil()) {
    detail::raiseGui(rt::EG_ARG, "FillUsing of " + Name() + " needs an array, not a " + rt::typeName(items.typeCode()),
                     "FillUsing");
  }
  FillUsing(list);
}

int ListControl::ItemCount() const { return static_cast<int>(entries_.size()); }

std::string ListControl::GetItem(int itemNo) const {
  if (itemNo < 1 || itemNo > ItemCount()) return {};
  return entries_[itemNo - 1].first;
}

rt::Value ListControl::GetItemValue(int itemNo) const {
  if (itemNo < 1 || itemNo > ItemCount()) return {};
  return entries_[itemNo - 1].second;
}

int ListControl::CurrentItemNo() const { return currentRow() + 1; }

void ListControl::CurrentItemNo(int itemNo) {
  settingFromCode_ = true;
  setCurrentRow(itemNo >= 1 && itemNo <= ItemCount() ? itemNo - 1 : -1);
  settingFromCode_ = false;
}

std::string ListControl::CurrentText() const { return GetItem(CurrentItemNo()); }

rt::Value ListControl::Value() const {
  const int row = currentRow();
  return row >= 0 ? entries_[row].second : rt::Value();
}

void ListControl::Value(const rt::Value& value) { chooseValue(value); }

bool ListControl::chooseValue(const rt::Value& value) {
  for (int i = 0; i < ItemCount(); ++i) {
    if (rt::exactlyEqual(entries_[i].second, value)) {
      CurrentItemNo(i + 1);
      return true;
    }
  }
  CurrentItemNo(0);
  return false;
}

void ListControl::pick(int itemNo) {
  CurrentItemNo(itemNo);
  userPicked();
}

void ListControl::userPicked() {
  Window::runEvent([this] { owner_.ListBoxSelect(ControlEvent{this}); });
}

ComboBox::ComboBox(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget)
    : ListControl(owner, tpl, widget, tpl.style.has("CBS_SORT")) {
  QObject::connect(static_cast<QComboBox*>(widget), &QComboBox::activated, widget, [this](int) {
    if (!settingFromCode_) userPicked();
  });
}

bool ComboBox::editable() const { return static_cast<QComboBox*>(widget_)->isEditable(); }

int ComboBox::insertRow(int row, const std::string& text) {
  static_cast<QComboBox*>(widget_)->insertItem(row, qs(text));
  return row;
}

void ComboBox::appendRows(const QStringList& texts) {
  auto* box = static_cast<QComboBox*>(widget_);
  box->insertItems(box->count(), texts);
}

void ComboBox::removeAll() { static_cast<QComboBox*>(widget_)->clear(); }
int ComboBox::currentRow() const { return static_cast<QComboBox*>(widget_)->currentIndex(); }

void ComboBox::setCurrentRow(int row) {
  auto* box = static_cast<QComboBox*>(widget_);
  box->setCurrentIndex(row);
  if (row < 0 && box->isEditable()) box->setEditText(QString());
}

std::string ComboBox::CurrentText() const {
  auto* box = static_cast<QComboBox*>(widget_);
  if (box->isEditable()) return box->currentText().toStdString();
  return GetItem(CurrentItemNo());
}

rt::Value ComboBox::Value() const {
  if (!editable()) return ListControl::Value();
  const int row = currentRow();
  const std::string text = static_cast<QComboBox*>(widget_)->currentText().toStdString();
  if (row >= 0 && entries_[row].first == text) return entries_[row].second;
  if (text.empty()) return {};
  return text;  // typed by hand
}

void ComboBox::Value(const rt::Value& value) {
  if (!chooseValue(value) && editable() && !value.isNil())
    static_cast<QComboBox*>(widget_)->setEditText(qs(value.isString() ? value.asString() : rt::toText(value)));
}

ListBox::ListBox(DataWindow& owner, const ControlTemplate& tpl, QWidget* widget)
    : ListControl(owner, tpl, widget, tpl.style.has("LBS_SORT") || tpl.style.has("LBS_STANDARD")) {
  auto* list = static_cast<QListWidget*>(widget);
  QObject::connect(list, &QListWidget::itemSelectionChanged, widget, [this] {
    if (!settingFromCode_) userPicked();
  });
  const auto activate = [this] { Window::runEvent([this] { owner_.ListBoxActivate(ControlEvent{this}); }); };
  QObject::connect(list, &QListWidget::itemDoubleClicked, widget, activate);
  widget->installEventFilter(new EnterFilter(widget, [this, activate] {
    if (currentRow() < 0) return false;
    activate();
    return true;
  }));
}

int ListBox::insertRow(int row, const std::string& text) {
  static_cast<QListWidget*>(widget_)->insertItem(row, qs(text));
  return row;
}

void ListBox::appendRows(const QStringList& texts) { static_cast<QListWidget*>(widget_)->addItems(texts); }

void ListBox::removeAll() { static_cast<QListWidget*>(widget_)->clear(); }

int ListBox::currentRow() const {
  auto* list = static_cast<QListWidget*>(widget_);
  const auto selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.first());
}

void ListBox::setCurrentRow(int row) {
  auto* list = static_cast<QListWidget*>(widget_);
  if (row < 0) {
    list->clearSelection();
    list->setCurrentRow(-1);
  } else {
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
  }
}

// ---------------------------------------------------------------- OLE container

bool OleControl::CreateFromAppDocStorage(const std::string& storage, const std::string& document,
                                         const std::string& controlName) {
  object_ = ole::createFromAppDocStorage(ole::OleAppDocStorage{storage, document, controlName});
  return object_ != nullptr;
}

// ---------------------------------------------------------------- factory

namespace detail {

std::unique_ptr<Control> makeControl(DataWindow& owner, const ControlTemplate& tpl, QWidget* parent,
                                     const DialogUnits& units) {
  QRect rect(units.toPixelsX(tpl.x), units.toPixelsY(tpl.y), units.toPixelsX(tpl.cx), units.toPixelsY(tpl.cy));
  const QString text = qs(tpl.text);
  const std::uint32_t low = tpl.style.value & 0xF;
  std::unique_ptr<Control> control;
  QWidget* widget = nullptr;

  switch (tpl.kind) {
    case ControlKind::FixedText: {
      auto* label = new QLabel(text, parent);
      label->setTextFormat(Qt::PlainText);
      label->setWordWrap(low != 0xC && low != 0xB);
      Qt::Alignment align = Qt::AlignTop | Qt::AlignLeft;
      if (low == 0x1) align = Qt::AlignTop | Qt::AlignHCenter;
      if (low == 0x2) align = Qt::AlignTop | Qt::AlignRight;
      if (tpl.style.has("SS_CENTERIMAGE")) align = (align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
      label->setAlignment(align);
      if (tpl.style.has("SS_SUNKEN")) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      widget = label;
      control = std::make_unique<FixedText>(owner, tpl, widget);
      break;
    }
    case ControlKind::Icon: {
      auto* label = new QLabel(parent);
      gui::Icon icon(tpl.text);
      if (!icon.isNull()) label->setPixmap(icon.qicon().pixmap(32, 32));
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      rect.setSize(QSize(std::max(rect.width(), 32), std::max(rect.height(), 32)));
      widget = label;
      control = std::make_unique<IconControl>(owner, tpl, widget);
      break;
    }
    case ControlKind::ComboBox: {
      auto* box = new QComboBox(parent);
      const bool withEdit = low == 0x1 || low == 0x2;
      box->setEditable(withEdit);
      if (withEdit) box->setInsertPolicy(QComboBox::NoInsert);
      // The template height is that of the dropped list; the closed box is one line high.
      const int lineHeight = box->sizeHint().height();
      const int rows = std::max(1, static_cast<int>((rect.height() - lineHeight) / std::max(1.0, units.baseY)));
      box->setMaxVisibleItems(std::max(rows, 5));
      rect.setHeight(lineHeight);
      widget = box;
      control = std::make_unique<ComboBox>(owner, tpl, widget);
      static_cast<ComboBox*>(control.get())->CurrentItemNo(0);
      break;
    }
    case ControlKind::SingleLineEdit: {
      auto* edit = new QLineEdit(text, parent);
      edit->setFrame(tpl.style.has("WS_BORDER") || tpl.exStyle.has("WS_EX_CLIENTEDGE"));
      if (tpl.style.has("ES_READONLY")) edit->setReadOnly(true);
      if (tpl.style.has("ES_PASSWORD")) edit->setEchoMode(QLineEdit::Password);
      widget = edit;
      control = std::make_unique<SingleLineEdit>(owner, tpl, widget);
      break;
    }
    case ControlKind::PushButton: {
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(false);
      button->setDefault(low == 0x1);
      widget = button;
      control = std::make_unique<PushButton>(owner, tpl, widget);
      break;
    }
    case ControlKind::CheckBox: {
      auto* box = new QCheckBox(text, parent);
      widget = box;
      control = std::make_unique<CheckBox>(owner, tpl, widget);
      break;
    }
    case ControlKind::GroupBox: {
      auto* group = new QGroupBox(text, parent);
      widget = group;
      control = std::make_unique<GroupBox>(owner, tpl, widget);
      break;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      widget = bar;
      control = std::make_unique<ProgressBar>(owner, tpl, widget);
      break;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(parent);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      if (tpl.style.has("LBS_DISABLENOSCROLL")) list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      widget = list;
      control = std::make_unique<ListBox>(owner, tpl, widget);
      break;
    }
    case ControlKind::OleControl:
    case ControlKind::Unknown: {
      auto* frame = new QFrame(parent);
      if (tpl.style.has("WS_BORDER")) frame->setFrameStyle(QFrame::Box | QFrame::Plain);
      widget = frame;
      control = std::make_unique<OleControl>(owner, tpl, widget);
      break;
    }
  }

  widget->setGeometry(rect);
  widget->setObjectName(qs(tpl.symbol.empty() ? std::to_string(tpl.id) : tpl.symbol));
  if (!tpl.style.has("WS_TABSTOP")) {
    if (widget->focusPolicy() & Qt::TabFocus) widget->setFocusPolicy(Qt::ClickFocus);
  }
  if (tpl.disabled()) widget->setEnabled(false);
  if (!tpl.visible()) widget->hide();
  // Frames drawn around other controls stay behind them.
  if (tpl.kind == ControlKind::GroupBox) widget->lower();
  return control;
}

}  // namespace detail
}  // namespace gui
