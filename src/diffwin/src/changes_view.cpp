// The Changes tab of the differences window.
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

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
  filters->addStretch(1);
  layout->addLayout(filters);

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
  layout->addWidget(tree, 1);
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
  const workflow::ChangeList shown = visible();
  // One node per class, in list order; a class's own change fills its node, its members' changes
  // hang beneath.
  std::map<std::string, QStandardItem*> classNodes;
  std::map<std::string, std::vector<workflow::ChangeEntry>> memberChanges;
  const auto severityItem = [this](QStandardItem* item, workflow::Severity severity) {
    item->setText(qs(workflow::severityText(severity)));
    item->setIcon(style()->standardIcon(severityIcon(severity)));
  };
  for (const workflow::ChangeEntry& c : shown.changes) {
    QStandardItem*& node = classNodes[c.className];
    if (!node) {
      QList<QStandardItem*> row = itemRow({qs(c.className), {}, {}, {}, {}, {}});
      model_->appendRow(row);
      node = row.front();
    }
    if (!c.member.empty()) {
      QList<QStandardItem*> row = itemRow({qs(c.member) + " (" + qs(c.memberKind) + ", " + qs(c.level) + ")",
                                           qs(workflow::changeKindText(c.kind)), qs(c.before), qs(c.after), {}, {}});
      severityItem(row[Severity], c.severity);
      node->appendRow(row);
      memberChanges[c.className].push_back(c);
      continue;
    }
    const int at = node->row();
    model_->item(at, Change)->setText(qs(workflow::changeKindText(c.kind)));
    model_->item(at, Before)->setText(qs(c.before));
    model_->item(at, After)->setText(qs(c.after));
    severityItem(model_->item(at, Severity), c.severity);
  }
  for (const auto& [className, changes] : memberChanges)
    model_->item(classNodes[className]->row(), MemberChanges)
        ->setText(QString::number(changes.size()) + (changes.size() == 1 ? " change: " : " changes: ") +
                  countsText(workflow::countChanges(changes)));
  if (!shown.suggestions.empty()) {
    QList<QStandardItem*> group = itemRow({"Rename suggestions (not counted as changes)", {}, {}, {}, {}, {}});
    model_->appendRow(group);
    for (const workflow::RenameSuggestion& s : shown.suggestions) {
      const bool member = s.kind == workflow::SuggestionKind::MemberRenamed;
      QList<QStandardItem*> row =
          itemRow({member ? qs(s.className) + "." + qs(s.oldName) : qs(s.oldName),
                   QString(member ? "member" : "class") + " renamed? (similarity " +
                       qs(workflow::similarityText(s.similarity)) + ")",
                   qs(s.oldName), qs(s.newName), {}, {}});
      severityItem(row[Severity], s.severity);
      group.front()->appendRow(row);
    }
  }
  tree->expandAll();
  for (int column = 0; column < ColumnCount - 1; ++column) tree->resizeColumnToContents(column);
  if (model_->rowCount() > 0) tree->setCurrentIndex(model_->index(0, 0));
}

}  // namespace diffwin
