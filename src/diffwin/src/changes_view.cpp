// The Changes tab of the differences window.
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <tuple>

#include "diffwin/diffwin.h"

namespace diffwin {
namespace {

QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The icon shown beside each severity's word, so that it is not told by colour alone.
QStyle::StandardPixmap severityIcon(workflow::Severity severity) {
  switch (severity) {
    case workflow::Severity::Breaking: return QStyle::SP_MessageBoxCritical;
    case workflow::Severity::Review: return QStyle::SP_MessageBoxWarning;
    case workflow::Severity::Additive: break;
  }
  return QStyle::SP_MessageBoxInformation;
}

// "2 breaking, 1 additive": the counts that are not zero.
QString countsText(const workflow::ChangeCounts& counts) {
  QStringList parts;
  for (workflow::Severity severity : workflow::kSeverities)
    if (counts.count(severity) > 0)
      parts << QString::number(counts.count(severity)) + " " + qs(workflow::severityText(severity));
  return parts.join(", ");
}

constexpr int kNodeRole = Qt::UserRole + 1;

// Changes the rules hid stay readable but are set apart in words and in grey.
constexpr const char* kIgnoredMark = " (ignored)";

QList<QStandardItem*> itemRow(std::initializer_list<QString> texts) {
  QList<QStandardItem*> row;
  for (const QString& text : texts) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    row << item;
  }
  return row;
}

}  // namespace

ChangesView::ChangesView(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* filters = new QHBoxLayout;
  for (std::size_t i = 0; i < workflow::kSeverityCount; ++i) {
    severityBoxes[i] = new QCheckBox(qs(workflow::severityText(workflow::kSeverities[i])), this);
    severityBoxes[i]->setIcon(style()->standardIcon(severityIcon(workflow::kSeverities[i])));
    severityBoxes[i]->setChecked(true);
    connect(severityBoxes[i], &QCheckBox::toggled, this, [this] { rebuild(); });
    filters->addWidget(severityBoxes[i]);
  }
  filters->addSpacing(12);
  kindList = new QComboBox(this);
  kindList->addItem("All kinds of change", -1);
  for (workflow::ChangeKind kind : workflow::changeKinds())
    kindList->addItem(qs(workflow::changeKindText(kind)), static_cast<int>(kind));
  kindList->setAccessibleName("Kind of change");
  connect(kindList, &QComboBox::currentIndexChanged, this, [this] { rebuild(); });
  filters->addWidget(kindList);
  filters->addSpacing(12);
  showIgnored = new QCheckBox("Show ignored", this);
  connect(showIgnored, &QCheckBox::toggled, this, [this] { rebuild(); });
  filters->addWidget(showIgnored);
  hiddenCount = new QLabel(this);
  filters->addWidget(hiddenCount);
  filters->addStretch(1);
  historyButton = new QPushButton("History...", this);
  historyButton->setToolTip("The current class through every stored version");
  connect(historyButton, &QPushButton::clicked, this, [this] {
    if (const std::string name = classAt(tree->currentIndex()); !name.empty() && openHistory) openHistory(name);
  });
  filters->addWidget(historyButton);
  layout->addLayout(filters);
  ruleProblems = new QLabel(this);
  ruleProblems->setTextFormat(Qt::PlainText);
  ruleProblems->setWordWrap(true);
  ruleProblems->setVisible(false);
  layout->addWidget(ruleProblems);

  model_ = new QStandardItemModel(this);
  model_->setHorizontalHeaderLabels({"Class / member", "Change", "Before", "After", "Severity", "Member changes"});
  tree = new QTreeView(this);
  tree->setModel(model_);
  tree->setAccessibleName("Changes");
  tree->setUniformRowHeights(true);
  tree->setAlternatingRowColors(true);
  tree->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree->header()->setStretchLastSection(true);
  tree->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tree, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) { showMenu(at); });
  connect(tree, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
    const Node* node = nodeAt(index);
    // A class's node opens its history; a member's double-click leaves the tree as it is.
    if (node && !node->suggestion && (!node->change || node->change->member.empty()) && openHistory)
      openHistory(node->className);
  });
  layout->addWidget(tree, 1);
}

void ChangesView::setRuleProblems(const std::vector<std::string>& problems) {
  QStringList lines;
  for (const std::string& problem : problems) lines << qs(problem);
  ruleProblems->setText(lines.join("\n"));
  ruleProblems->setVisible(!lines.isEmpty());
}

const ChangesView::Node* ChangesView::nodeAt(const QModelIndex& index) const {
  if (!index.isValid()) return nullptr;
  const QVariant at = index.siblingAtColumn(Name).data(kNodeRole);
  if (!at.isValid()) return nullptr;
  const auto i = static_cast<std::size_t>(at.toULongLong());
  return i < nodes_.size() ? &nodes_[i] : nullptr;
}

std::string ChangesView::classAt(const QModelIndex& index) const {
  const Node* node = nodeAt(index);
  return node && !node->suggestion ? node->className : std::string();
}

std::vector<std::pair<std::string, std::string>> ChangesView::menuFor(const QModelIndex& index) const {
  const Node* node = nodeAt(index);
  if (!node) return {};
  if (node->suggestion) return {{"Accept rename", workflow::acceptRenameRule(*node->suggestion)}};
  if (!node->change) return {{"Ignore this class", node->className}};
  const workflow::OfferedRules offered = workflow::offeredRules(*node->change);
  std::vector<std::pair<std::string, std::string>> out;
  if (!offered.member.empty()) out.emplace_back("Ignore this member", offered.member);
  out.emplace_back("Ignore this class", offered.wholeClass);
  out.emplace_back("Ignore this kind of change in this class", offered.kindInClass);
  return out;
}

void ChangesView::showMenu(const QPoint& at) {
  const auto entries = menuFor(tree->indexAt(at));
  if (entries.empty()) return;
  QMenu menu(this);
  for (const auto& [title, rule] : entries) {
    QAction* action = menu.addAction(qs(title));
    action->setToolTip(qs("Adds \"" + rule + "\" to " + workflow::kIgnoreFileName));
    connect(action, &QAction::triggered, this, [this, rule = rule] {
      if (addRule) addRule(rule);
    });
  }
  menu.exec(tree->viewport()->mapToGlobal(at));
}

void ChangesView::setChanges(const workflow::ChangeList* list) {
  all_ = list;
  rebuild();
}

void ChangesView::setSearch(const std::string& text) {
  search_ = text;
  rebuild();
}

workflow::ChangeFilter ChangesView::filter() const {
  workflow::ChangeFilter f;
  bool all = true;
  for (std::size_t i = 0; i < workflow::kSeverityCount; ++i) {
    if (severityBoxes[i]->isChecked())
      f.severities.push_back(workflow::kSeverities[i]);
    else
      all = false;
  }
  if (all) f.severities.clear();
  if (const int kind = kindList->currentData().toInt(); kind >= 0) f.kinds.push_back(static_cast<workflow::ChangeKind>(kind));
  f.text = search_;
  return f;
}

workflow::ChangeList ChangesView::visible() const {
  const bool noneTicked =
      std::none_of(severityBoxes.begin(), severityBoxes.end(), [](const QCheckBox* box) { return box->isChecked(); });
  return all_ && !noneTicked ? filter().apply(*all_) : workflow::ChangeList{};
}

void ChangesView::rebuild() {
  model_->removeRows(0, model_->rowCount());
  nodes_.clear();
  shown_ = visible();
  const std::size_t hidden = shown_.hidden.size() + shown_.hiddenSuggestions.size();
  hiddenCount->setText(QString::number(hidden) + (hidden == 1 ? " change" : " changes") + " hidden by rules");
  hiddenCount->setVisible(all_ && !all_->rules.empty());
  // The changes to list: those shown, and with "Show ignored" those hidden, in list order.
  std::vector<std::pair<const workflow::ChangeEntry*, bool>> listed;
  for (const workflow::ChangeEntry& c : shown_.changes) listed.emplace_back(&c, false);
  if (showIgnored->isChecked())
    for (const workflow::ChangeEntry& c : shown_.hidden) listed.emplace_back(&c, true);
  std::stable_sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first->className, a.first->member) < std::tie(b.first->className, b.first->member);
  });
  nodes_.reserve(listed.size() * 2 + shown_.suggestions.size() + shown_.hiddenSuggestions.size() + 1);
  const auto remember = [this](QStandardItem* item, Node node) {
    item->setData(static_cast<qulonglong>(nodes_.size()), kNodeRole);
    nodes_.push_back(std::move(node));
  };
  const auto severityItem = [this](QStandardItem* item, workflow::Severity severity) {
    item->setText(qs(workflow::severityText(severity)));
    item->setIcon(style()->standardIcon(severityIcon(severity)));
  };
  const auto setApart = [this](const QList<QStandardItem*>& row) {
    for (QStandardItem* item : row) item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
  };
  // One node per class, in list order; a class's own change fills its node, its members' changes
  // hang beneath.
  std::map<std::string, QStandardItem*> classNodes;
  std::map<std::string, std::vector<workflow::ChangeEntry>> memberChanges;
  for (const auto& [c, ignored] : listed) {
    QStandardItem*& node = classNodes[c->className];
    if (!node) {
      QList<QStandardItem*> row = itemRow({qs(c->className), {}, {}, {}, {}, {}});
      model_->appendRow(row);
      node = row.front();
      remember(node, {c->className, nullptr, nullptr});
    }
    const QString change = qs(workflow::changeKindText(c->kind)) + (ignored ? kIgnoredMark : "");
    if (!c->member.empty()) {
      QList<QStandardItem*> row = itemRow({qs(c->member) + " (" + qs(c->memberKind) + ", " + qs(c->level) + ")",
                                           change, qs(c->before), qs(c->after), {}, {}});
      severityItem(row[Severity], c->severity);
      remember(row.front(), {c->className, c, nullptr});
      if (ignored) setApart(row);
      node->appendRow(row);
      if (!ignored) memberChanges[c->className].push_back(*c);
      continue;
    }
    const int at = node->row();
    nodes_[static_cast<std::size_t>(node->data(kNodeRole).toULongLong())].change = c;
    model_->item(at, Change)->setText(change);
    model_->item(at, Before)->setText(qs(c->before));
    model_->item(at, After)->setText(qs(c->after));
    severityItem(model_->item(at, Severity), c->severity);
    if (ignored) setApart({model_->item(at, Change), model_->item(at, Before), model_->item(at, After)});
  }
  for (const auto& [className, changes] : memberChanges)
    model_->item(classNodes[className]->row(), MemberChanges)
        ->setText(QString::number(changes.size()) + (changes.size() == 1 ? " change: " : " changes: ") +
                  countsText(workflow::countChanges(changes)));
  std::vector<std::pair<const workflow::RenameSuggestion*, bool>> suggestions;
  for (const workflow::RenameSuggestion& s : shown_.suggestions) suggestions.emplace_back(&s, false);
  if (showIgnored->isChecked())
    for (const workflow::RenameSuggestion& s : shown_.hiddenSuggestions) suggestions.emplace_back(&s, true);
  if (!suggestions.empty()) {
    QList<QStandardItem*> group = itemRow({"Rename suggestions (not counted as changes)", {}, {}, {}, {}, {}});
    model_->appendRow(group);
    for (const auto& [s, ignored] : suggestions) {
      const bool member = s->kind == workflow::SuggestionKind::MemberRenamed;
      QList<QStandardItem*> row =
          itemRow({member ? qs(s->className) + "." + qs(s->oldName) : qs(s->oldName),
                   QString(member ? "member" : "class") + " renamed? (similarity " +
                       qs(workflow::similarityText(s->similarity)) + ")" + (ignored ? kIgnoredMark : ""),
                   qs(s->oldName), qs(s->newName), {}, {}});
      severityItem(row[Severity], s->severity);
      remember(row.front(), {member ? s->className : s->oldName, nullptr, s});
      if (ignored) setApart(row);
      group.front()->appendRow(row);
    }
  }
  tree->expandAll();
  for (int column = 0; column < ColumnCount - 1; ++column) tree->resizeColumnToContents(column);
  if (model_->rowCount() > 0) tree->setCurrentIndex(model_->index(0, 0));
  historyButton->setEnabled(model_->rowCount() > 0);
}

}  // namespace diffwin
