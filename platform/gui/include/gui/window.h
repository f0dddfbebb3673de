// Windows of the toolkit: the application object with its message loop, the window base with
// caption, icons, menu, pointer and handlers called by name, and the data window and data dialog
// laid out from a dialog template. A window owns its controls and its Qt widgets.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "gui/resource_script.h"
#include "runtime/value.h"

class QWidget;
class QFont;
class QIcon;

namespace gui {

class Control;
class Window;
class Menu;

// Name, caption, description and help context of a window, control or menu item.
struct HyperLabel {
  std::string name;
  std::string caption;
  std::string description;
  std::string helpContext;
};

// A font by face and point size; faces of the original platform map to metric-compatible ones.
class Font {
 public:
  Font() = default;
  Font(int family, int pointSize, std::string face);
  int pointSize() const { return pointSize_; }
  const std::string& face() const { return face_; }
  std::string resolvedFace() const;  // the face actually asked of the system
  QFont toQFont() const;

 private:
  int pointSize_ = 8;
  std::string face_;
};

// Maps a face of the original platform ("MS Sans Serif", "Arial", ...) to an installed one.
std::string substituteFace(const std::string& face);

enum class Pointer { Arrow, Busy };

// An icon image; built from an icon resource by name.
class Icon {
 public:
  Icon();
  explicit Icon(const std::string& resourceName);  // a missing resource is raised; the icon stays empty
  Icon(const Icon&);
  Icon& operator=(const Icon&);
  ~Icon();
  bool isNull() const;
  const QIcon& qicon() const;
  const std::string& resourceName() const { return name_; }

 private:
  std::string name_;
  std::unique_ptr<QIcon> icon_;
};

// Anything that can own a window: the application object or another window.
class Owner {
 public:
  virtual ~Owner() = default;
  virtual Window* asWindow() { return nullptr; }
};

// The four standard arguments of a window constructor, handed on to PreInit and PostInit.
struct InitArgs {
  Owner* owner = nullptr;
  rt::Value controlId;
  rt::Value server;
  rt::Value extra;
};

// The events a window's handlers receive.
struct ControlEvent {
  Control* control = nullptr;
};
struct FocusEvent {
  Control* control = nullptr;
  bool gotFocus = false;
};

// The application object: owns the Qt application and runs the message loop.
class App : public Owner {
 public:
  App();
  ~App() override;
  // Runs the message loop until a quit-on-close window closes. A quit requested by the error
  // handler inside an event continues to the run-time's orderly quit once the loop has ended.
  virtual int Exec();
  static void quitLoop();
};

// Creates the process's Qt application when there is none (argc/argv are kept alive here).
void ensureToolkit();
// Registers the toolkit's window classes: face substitutions and the OLE container class.
void registerWindowClasses();

class Window : public Owner {
 public:
  explicit Window(bool dialog = false);
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  Window* asWindow() override { return this; }

  Owner* owner() const { return owner_; }
  QWidget* widget() const;  // the top-level widget

  std::string Caption() const;
  void Caption(const std::string& text);
  void Icon(const gui::Icon& icon);
  void IconSm(const gui::Icon& icon);
  const gui::Icon& Icon() const { return icon_; }
  const gui::Icon& IconSm() const { return iconSm_; }
  void Menu(std::shared_ptr<gui::Menu> menu);
  const std::shared_ptr<gui::Menu>& Menu() const { return menu_; }
  void Pointer(gui::Pointer pointer);
  gui::Pointer Pointer() const { return pointer_; }
  void QuitOnClose(bool on) { quitOnClose_ = on; }
  bool QuitOnClose() const { return quitOnClose_; }
  void HyperLabel(gui::HyperLabel label) { hyperLabel_ = std::move(label); }
  const gui::HyperLabel& HyperLabel() const { return hyperLabel_; }

  virtual void Show();
  bool IsVisible() const;
  // Closes the window; with QuitOnClose the application's message loop ends.
  void EndWindow();
  bool ended() const { return ended_; }

  // Hooks of the constructor protocol; the toolkit's own do nothing.
  virtual void PreInit(const InitArgs& args);
  virtual void PostInit(const InitArgs& args);

  // Event handlers; the toolkit's own do nothing.
  virtual void ListBoxSelect(const ControlEvent& event);
  virtual void EditFocusChange(const FocusEvent& event);
  // Enter in a single-line edit field; answers whether the window acted on it (the toolkit's own
  // does not, and the key goes on to the dialog's default button, if any).
  virtual bool EditReturn(const ControlEvent& event);
  // A double-click on a list box's entry, or Enter on its picked entry.
  virtual void ListBoxActivate(const ControlEvent& event);

  // Methods callable by name: push buttons and menu commands reach the window through these.
  void registerHandler(rt::Symbol name, std::function<void()> handler);
  bool hasHandler(rt::Symbol name) const;
  // Calls the method of that name; false when the window has none.
  bool dispatch(rt::Symbol name);

  // Runs an event's work so that a break ends only that event and a quit ends the loop.
  static void runEvent(const std::function<void()>& work);

 protected:
  void setOwner(Owner* owner);
  QWidget* surface() const;  // the client area that holds the controls
  void windowClosed();       // the host widget was closed by the user or by EndWindow

 private:
  friend class HostFilter;
  Owner* owner_ = nullptr;
  bool dialog_ = false;
  bool quitOnClose_ = false;
  bool ended_ = false;
  bool pointerOverride_ = false;
  gui::Pointer pointer_ = gui::Pointer::Arrow;
  gui::Icon icon_;
  gui::Icon iconSm_;
  gui::HyperLabel hyperLabel_;
  std::shared_ptr<gui::Menu> menu_;
  std::unordered_map<rt::Symbol, std::function<void()>> handlers_;
  struct Host;
  std::unique_ptr<Host> host_;
};

// Pixel geometry of dialog units: a horizontal unit is a quarter of the template font's average
// character width, a vertical unit an eighth of its height. The average is kept unrounded so
// that texts measured in the template font fit the widths the template gives them.
struct DialogUnits {
  double baseX = 6;
  double baseY = 13;
  int toPixelsX(int du) const;
  int toPixelsY(int du) const;
  static DialogUnits forFont(const QFont& font);
};

// A window laid out from a dialog template, keeping its controls by name.
class DataWindow : public Window {
 public:
  explicit DataWindow(bool dialog = false);
  ~DataWindow() override;

  // Builds the client area and every control of the template; a missing template is raised.
  void Init(Owner* owner, const std::string& templateName, const rt::Value& controlId = {});

  const DialogTemplate* dialogTemplate() const { return template_.get(); }
  const DialogUnits& dialogUnits() const { return units_; }

  // The control object on template control `id`, given its hyper-label (name and caption).
  // The caption, when not empty, replaces the control's text. A wrong kind or id is raised.
  template <class T>
  T* CreateControl(int id, const gui::HyperLabel& label) {
    return dynamic_cast<T*>(labelControl(id, label, typeid(T).name(), [](Control* c) {
      return dynamic_cast<T*>(c) != nullptr;
    }));
  }

  // The control object of the template control whose id is written as `name`, labelled with
  // that name and the template's caption: ids, captions and positions all come from the
  // template. A name the template lacks, or a wrong kind, is raised.
  template <class T>
  T* BindControl(std::string_view name) {
    return dynamic_cast<T*>(bindControl(name, typeid(T).name(), [](Control* c) {
      return dynamic_cast<T*>(c) != nullptr;
    }));
  }

  Control* control(int id) const;
  Control* control(rt::Symbol name) const;  // by hyper-label name
  template <class T>
  T* controlAs(rt::Symbol name) const { return dynamic_cast<T*>(control(name)); }
  const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }

  // The value of the control of that name; an unknown name is raised (EG_NOVAR) and NIL answered.
  rt::Value FieldGet(rt::Symbol name) const;
  // Sets the control's value; returns the value. An unknown name is raised (EG_NOVAR).
  rt::Value FieldPut(rt::Symbol name, const rt::Value& value);

 private:
  Control* labelControl(int id, const gui::HyperLabel& label, const char* wanted,
                        const std::function<bool(Control*)>& isKind);
  Control* bindControl(std::string_view name, const char* wanted, const std::function<bool(Control*)>& isKind);
  std::shared_ptr<const DialogTemplate> template_;
  DialogUnits units_;
  std::vector<std::unique_ptr<Control>> controls_;  // template order
  std::map<rt::Symbol, Control*> byName_;
};

// A data window shown as a dialog.
class DataDialog : public DataWindow {
 public:
  DataDialog();
  // Shows the dialog modally; returns when it has been ended.
  void Show() override;
  // Ends the dialog (the toolkit's Cancel).
  void Cancel() { EndWindow(); }
  bool modal() const { return modal_; }
  void setModal(bool on) { modal_ = on; }

 private:
  bool modal_ = true;
};

// A menu built from a menu resource; command items call the owner's method named by the item's
// hyper-label when chosen.
class Menu {
 public:
  explicit Menu(const std::string& resourceName);  // a missing resource is raised
  virtual ~Menu();
  const MenuTemplate* menuTemplate() const { return template_.get(); }
  // Binds a hyper-label to the item of that id (its caption replaces the item's text when given).
  void RegisterItem(int id, const gui::HyperLabel& label);
  const gui::HyperLabel* itemLabel(int id) const;
  // Chooses the item as the user would: calls the attached window's method of the label's name.
  bool choose(int id);
  Window* window() const { return window_; }

 private:
  friend class Window;
  void attach(Window* window, QWidget* menuBar);
  std::shared_ptr<const MenuTemplate> template_;
  std::map<int, gui::HyperLabel> labels_;
  Window* window_ = nullptr;
};

}  // namespace gui
