// Menus built from menu resources; command items call the owner window's methods by name.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "gui/window.h"
#include "internal.h"
#include "runtime/error.h"

namespace gui {
namespace {

// The mnemonic letter of a caption ("&Reports" has 'r'), or none.
QChar mnemonicOf(const QString& caption) {
  for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] != '&') return caption[i + 1].toLower();
    ++i;  // "&&" is a literal ampersand
  }
  return {};
}

// Gives every caption of one menu level a mnemonic: a caption's own is kept, one without gets
// its first letter that no other item of the level uses. The words stay as they are.
std::vector<QString> withMnemonics(std::vector<QString> captions) {
  QString used;
  for (const QString& caption : captions)
    if (const QChar own = mnemonicOf(caption); !own.isNull()) used += own;
  for (QString& caption : captions) {
    if (caption.isEmpty() || !mnemonicOf(caption).isNull()) continue;
    for (qsizetype i = 0; i < caption.size(); ++i) {
      if (!caption[i].isLetterOrNumber() || used.contains(caption[i].toLower()) || caption[i] == '&') continue;
      used += caption[i].toLower();
      caption.insert(i, '&');
      break;
    }
  }
  return captions;
}

void addItems(Menu& menu, QWidget* into, const std::vector<MenuItemTemplate>& items) {
  std::vector<QString> captions;
  for (const MenuItemTemplate& item : items) {
    const gui::HyperLabel* label = menu.itemLabel(item.id);
    captions.push_back(item.separator ? QString()
                                      : QString::fromStdString(label && !label->caption.empty() ? label->caption
                                                                                                 : item.caption));
  }
  captions = withMnemonics(std::move(captions));
  for (std::size_t at = 0; at < items.size(); ++at) {
    const MenuItemTemplate& item = items[at];
    const gui::HyperLabel* label = menu.itemLabel(item.id);
    const QString& caption = captions[at];
    if (item.separator) {
      if (auto* m = qobject_cast<QMenu*>(into)) m->addSeparator();
      continue;
    }
    if (item.popup) {
      QMenu* sub = nullptr;
      if (auto* bar = qobject_cast<QMenuBar*>(into)) sub = bar->addMenu(caption);
      else if (auto* m = qobject_cast<QMenu*>(into)) sub = m->addMenu(caption);
      if (!sub) continue;
      addItems(menu, sub, item.items);
      continue;
    }
    QAction* action = nullptr;
    if (auto* bar = qobject_cast<QMenuBar*>(into)) action = bar->addAction(caption);
    else if (auto* m = qobject_cast<QMenu*>(into)) action = m->addAction(caption);
    if (!action) continue;
    if (label && !label->description.empty()) {
      action->setStatusTip(QString::fromStdString(label->description));
      action->setToolTip(QString::fromStdString(label->description));
    }
    const int id = item.id;
    QObject::connect(action, &QAction::triggered, action, [&menu, id] {
      Window::runEvent([&menu, id] { (void)menu.choose(id); });
    });
  }
}

}  // namespace

Menu::Menu(const std::string& resourceName) {
  if (const MenuTemplate* tpl = findMenu(resourceName)) template_ = std::make_shared<const MenuTemplate>(*tpl);
}

Menu::~Menu() = default;

void Menu::RegisterItem(int id, const gui::HyperLabel& label) {
  if (template_ && !template_->item(id)) {
    detail::raiseGui(rt::EG_ARG, "menu " + template_->name + " has no item " + std::to_string(id), "RegisterItem");
    return;
  }
  labels_[id] = label;
}

const gui::HyperLabel* Menu::itemLabel(int id) const {
  auto it = labels_.find(id);
  return it == labels_.end() ? nullptr : &it->second;
}

bool Menu::choose(int id) {
  const gui::HyperLabel* label = itemLabel(id);
  if (!window_ || !label || label->name.empty()) return false;
  return window_->dispatch(rt::Symbol(label->name));
}

void Menu::attach(Window* window, QWidget* menuBar) {
  window_ = window;
  if (template_) addItems(*this, menuBar, template_->items);
}

}  // namespace gui
