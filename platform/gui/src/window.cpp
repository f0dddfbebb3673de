// Application object, window base, data window and data dialog.
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QMenuBar>
#include <QPixmap>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <optional>

#include "gui/controls.h"
#include "gui/window.h"
#include "internal.h"
#include "runtime/error.h"

namespace gui {
namespace {

// A quit asked for while the loop was not running, or by the error handler inside an event.
bool g_quitRequested = false;
std::optional<int> g_pendingQuitCode;

}  // namespace

namespace detail {

void raiseGui(int genCode, const std::string& description, const std::string& operation,
              const std::string& fileName) {
  auto error = rt::makeError(genCode, "GUI", description, operation, fileName);
  error->canDefault = true;
  (void)rt::raise(error);
}

}  // namespace detail

// ---------------------------------------------------------------- toolkit and application

void ensureToolkit() {
  if (QApplication::instance()) return;
  static int argc = 1;
  static char name[] = "zorbane-compare";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives until the process ends
}

void registerWindowClasses() {
  ensureToolkit();
  // Faces of the original platform, mapped to metric-compatible faces installed here.
  for (const char* face : {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Arial"})
    QFont::insertSubstitution(QString::fromLatin1(face), QString::fromStdString(substituteFace(face)));
}

App::App() {
  ensureToolkit();
  QApplication::setQuitOnLastWindowClosed(false);
}

App::~App() = default;

int App::Exec() {
  if (!g_quitRequested) QApplication::exec();
  g_quitRequested = false;
  if (g_pendingQuitCode) {
    const int code = *g_pendingQuitCode;
    g_pendingQuitCode.reset();
    rt::quit(code);
  }
  return 0;
}

void App::quitLoop() {
  g_quitRequested = true;
  QCoreApplication::quit();
}

// ---------------------------------------------------------------- fonts and icons

std::string substituteFace(const std::string& face) {
  const std::string key = rt::toUpper(face);
  if (key == "MS SANS SERIF" || key == "MS SHELL DLG" || key == "MS SHELL DLG 2" ||
      key == "MICROSOFT SANS SERIF" || key == "ARIAL" || key == "HELVETICA")
    return "Liberation Sans";
  if (key == "TIMES NEW ROMAN") return "Liberation Serif";
  if (key == "COURIER NEW" || key == "COURIER") return "Liberation Mono";
  return face;
}

Font::Font(int /*family*/, int pointSize, std::string face) : pointSize_(pointSize), face_(std::move(face)) {}

std::string Font::resolvedFace() const { return substituteFace(face_); }

QFont Font::toQFont() const {
  QFont font(QString::fromStdString(resolvedFace()));
  font.setPointSize(pointSize_ > 0 ? pointSize_ : 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

Icon::Icon() : icon_(std::make_unique<QIcon>()) {}

Icon::Icon(const std::string& resourceName) : name_(resourceName), icon_(std::make_unique<QIcon>()) {
  ensureToolkit();
  const IconEntry* entry = findIcon(resourceName);
  if (!entry) return;
  QPixmap pixmap;
  if (!pixmap.loadFromData(reinterpret_cast<const uchar*>(entry->data.data()),
                           static_cast<uint>(entry->data.size()), "ICO")) {
    detail::raiseGui(rt::EG_CORRUPTION, "icon resource " + resourceName + " (" + entry->fileName +
                                            ") is not a readable icon", "Icon", entry->fileName);
    return;
  }
  *icon_ = QIcon(pixmap);
}

Icon::Icon(const Icon& other) : name_(other.name_), icon_(std::make_unique<QIcon>(*other.icon_)) {}

Icon& Icon::operator=(const Icon& other) {
  name_ = other.name_;
  *icon_ = *other.icon_;
  return *this;
}

Icon::~Icon() = default;
bool Icon::isNull() const { return icon_->isNull(); }
const QIcon& Icon::qicon() const { return *icon_; }

// ---------------------------------------------------------------- window base

// Reports the user's closing of a host widget to its window.
class HostFilter : public QObject {
 public:
  explicit HostFilter(Window* window) : window_(window) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close) Window::runEvent([this] { window_->windowClosed(); });
    return QObject::eventFilter(watched, event);
  }

 private:
  Window* window_;
};

struct Window::Host {
  QWidget* top = nullptr;      // QWidget or QDialog, owns everything below
  QWidget* surface = nullptr;  // client area
  QVBoxLayout* layout = nullptr;
  QWidget* menuBar = nullptr;
  std::unique_ptr<HostFilter> filter;
};

Window::Window(bool dialog) : dialog_(dialog), host_(std::make_unique<Host>()) {
  ensureToolkit();
  host_->top = dialog ? new QDialog(nullptr) : new QWidget(nullptr, Qt::Window);
  host_->layout = new QVBoxLayout(host_->top);
  host_->layout->setContentsMargins(0, 0, 0, 0);
  host_->layout->setSpacing(0);
  host_->layout->setSizeConstraint(QLayout::SetFixedSize);
  host_->surface = new QWidget(host_->top);
  host_->layout->addWidget(host_->surface);
  host_->filter = std::make_unique<HostFilter>(this);
  host_->top->installEventFilter(host_->filter.get());
}

Window::~Window() {
  if (pointerOverride_) QApplication::restoreOverrideCursor();
  if (host_->top) {
    host_->top->removeEventFilter(host_->filter.get());
    delete host_->top;
  }
}

QWidget* Window::widget() const { return host_->top; }
QWidget* Window::surface() const { return host_->surface; }

void Window::setOwner(Owner* owner) {
  owner_ = owner;
  if (Window* parent = owner ? owner->asWindow() : nullptr) {
    host_->top->setParent(parent->widget(), dialog_ ? Qt::Dialog : Qt::Window);
  }
}

std::string Window::Caption() const { return host_->top->windowTitle().toStdString(); }
void Window::Caption(const std::string& text) { host_->top->setWindowTitle(QString::fromStdString(text)); }

void Window::Icon(const gui::Icon& icon) {
  icon_ = icon;
  QIcon combined = icon.qicon();
  for (const QSize& size : iconSm_.qicon().availableSizes())
    combined.addPixmap(iconSm_.qicon().pixmap(size));
  host_->top->setWindowIcon(combined);
}

void Window::IconSm(const gui::Icon& icon) {
  iconSm_ = icon;
  QIcon combined = icon_.qicon();
  for (const QSize& size : icon.qicon().availableSizes()) combined.addPixmap(icon.qicon().pixmap(size));
  host_->top->setWindowIcon(combined);
}

void Window::Menu(std::shared_ptr<gui::Menu> menu) {
  if (host_->menuBar) {
    host_->layout->setMenuBar(nullptr);
    delete host_->menuBar;
    host_->menuBar = nullptr;
  }
  if (menu_) menu_->window_ = nullptr;
  menu_ = std::move(menu);
  if (!menu_) return;
  auto* bar = new QMenuBar(host_->top);
  host_->menuBar = bar;
  host_->layout->setMenuBar(bar);
  menu_->attach(this, bar);
}

void Window::Pointer(gui::Pointer pointer) {
  pointer_ = pointer;
  if (pointer == gui::Pointer::Busy && !pointerOverride_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    pointerOverride_ = true;
  } else if (pointer == gui::Pointer::Arrow && pointerOverride_) {
    QApplication::restoreOverrideCursor();
    pointerOverride_ = false;
  }
}

void Window::Show() {
  ended_ = false;
  host_->top->show();
}

bool Window::IsVisible() const { return host_->top->isVisible(); }

void Window::EndWindow() {
  if (ended_) return;
  windowClosed();
  host_->top->removeEventFilter(host_->filter.get());
  host_->top->close();
  host_->top->installEventFilter(host_->filter.get());
}

void Window::windowClosed() {
  if (ended_) return;
  ended_ = true;
  Pointer(gui::Pointer::Arrow);
  if (quitOnClose_) App::quitLoop();
}

void Window::PreInit(const InitArgs&) {}
void Window::PostInit(const InitArgs&) {}
void Window::ListBoxSelect(const ControlEvent&) {}
void Window::EditFocusChange(const FocusEvent&) {}
bool Window::EditReturn(const ControlEvent&) { return false; }
void Window::ListBoxActivate(const ControlEvent&) {}

void Window::registerHandler(rt::Symbol name, std::function<void()> handler) {
  handlers_[name] = std::move(handler);
}

bool Window::hasHandler(rt::Symbol name) const { return handlers_.count(name) != 0; }

bool Window::dispatch(rt::Symbol name) {
  auto it = handlers_.find(name);
  if (it == handlers_.end()) return false;
  auto handler = it->second;  // the handler may replace the table's entry while it runs
  handler();
  return true;
}

void Window::runEvent(const std::function<void()>& work) {
  std::string failure;
  try {
    (void)rt::withRecovery(work);  // a break ends this event only
    return;
  } catch (const rt::QuitSignal& quit) {
    g_pendingQuitCode = quit.exitCode;
    App::quitLoop();
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown failure";
  }
  // A C++ failure inside an event handler is reported like any run-time error.
  runEvent([&failure] { detail::raiseGui(rt::EG_INTERNAL, failure, "event handler"); });
}

// ---------------------------------------------------------------- dialog units

int DialogUnits::toPixelsX(int du) const { return static_cast<int>(std::lround(du * baseX / 4.0)); }
int DialogUnits::toPixelsY(int du) const { return static_cast<int>(std::lround(du * baseY / 8.0)); }

DialogUnits DialogUnits::forFont(const QFont& font) {
  QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogUnits units;
  units.baseX = std::max(1.0, width / 52.0);
  units.baseY = std::max(1, metrics.height());
  return units;
}

// ---------------------------------------------------------------- data window

DataWindow::DataWindow(bool dialog) : Window(dialog) {}
DataWindow::~DataWindow() {
  byName_.clear();
  controls_.clear();  // before the widgets go with the host
}

void DataWindow::Init(Owner* owner, const std::string& templateName, const rt::Value& /*controlId*/) {
  setOwner(owner);
  const DialogTemplate* tpl = findDialog(templateName);
  if (!tpl) return;
  template_ = std::make_shared<const DialogTemplate>(*tpl);
  const QFont font = gui::Font(0, tpl->fontPointSize, tpl->fontFace).toQFont();
  surface()->setFont(font);
  units_ = DialogUnits::forFont(font);
  surface()->setFixedSize(units_.toPixelsX(tpl->cx), units_.toPixelsY(tpl->cy));
  if (!tpl->caption.empty()) Caption(tpl->caption);
  controls_.clear();
  byName_.clear();
  for (const ControlTemplate& c : template_->controls)
    controls_.push_back(detail::makeControl(*this, c, surface(), units_));
}

Control* DataWindow::labelControl(int id, const gui::HyperLabel& label, const char* wanted,
                                  const std::function<bool(Control*)>& isKind) {
  Control* c = control(id);
  const std::string where = template_ ? template_->name : std::string("(no template)");
  if (!c) {
    detail::raiseGui(rt::EG_ARG, "dialog " + where + " has no control " + std::to_string(id), "CreateControl");
    return nullptr;
  }
  if (!isKind(c)) {
    detail::raiseGui(rt::EG_DATATYPE, "control " + std::to_string(id) + " of dialog " + where + " is a " +
                                          std::string(controlKindName(c->kind())) + ", not the kind asked (" +
                                          wanted + ")",
                     "CreateControl");
    return nullptr;
  }
  if (!c->nameSymbol().isNull()) byName_.erase(c->nameSymbol());
  c->HyperLabel(label);
  if (!c->nameSymbol().isNull()) byName_[c->nameSymbol()] = c;
  return c;
}

Control* DataWindow::bindControl(std::string_view name, const char* wanted,
                                 const std::function<bool(Control*)>& isKind) {
  if (template_)
    for (const ControlTemplate& c : template_->controls)
      if (c.symbol == name) return labelControl(c.id, gui::HyperLabel{c.symbol, c.text, "", ""}, wanted, isKind);
  detail::raiseGui(rt::EG_ARG,
                   "dialog " + (template_ ? template_->name : std::string("(no template)")) + " has no control " +
                       std::string(name),
                   "BindControl");
  return nullptr;
}

Control* DataWindow::control(int id) const {
  for (const auto& c : controls_)
    if (c->id() == id) return c.get();
  return nullptr;
}

Control* DataWindow::control(rt::Symbol name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

rt::Value DataWindow::FieldGet(rt::Symbol name) const {
  if (Control* c = control(name)) return c->Value();
  auto error = rt::makeError(rt::EG_NOVAR, "GUI",
                             "window " + HyperLabel().name + " has no control named " + name.name(), "FieldGet");
  error->canDefault = true;
  error->canSubstitute = true;
  rt::Answer answer = rt::raise(error);
  return answer.kind == rt::Answer::Substitute ? answer.substitute : rt::Value();
}

rt::Value DataWindow::FieldPut(rt::Symbol name, const rt::Value& value) {
  if (Control* c = control(name)) {
    c->Value(value);
    return value;
  }
  detail::raiseGui(rt::EG_NOVAR, "window " + HyperLabel().name + " has no control named " + name.name(), "FieldPut");
  return value;
}

// ---------------------------------------------------------------- data dialog

// A data dialog's host is a dialog so that default buttons and Escape behave as in a dialog.
DataDialog::DataDialog() : DataWindow(true) {}

void DataDialog::Show() {
  auto* dialog = qobject_cast<QDialog*>(widget());
  if (!dialog || !modal_) {
    Window::Show();
    return;
  }
  dialog->setModal(true);
  dialog->exec();
}

}  // namespace gui
