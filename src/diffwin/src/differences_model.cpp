#include "differences_model.h"

namespace diffwin {
namespace {

QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString joinedVerdicts(const workflow::DifferenceRow& row) {
  QStringList words;
  for (const std::string& word : row.verdictTexts()) words << qs(word);
  return words.join(", ");
}

}  // namespace

void DifferencesModel::setRows(const std::vector<workflow::DifferenceRow>* rows) {
  beginResetModel();
  rows_ = rows;
  endResetModel();
}

int DifferencesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() || !rows_ ? 0 : static_cast<int>(rows_->size());
}

int DifferencesModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant DifferencesModel::data(const QModelIndex& index, int role) const {
  if (!rows_ || !index.isValid() || role != Qt::DisplayRole) return {};
  const workflow::DifferenceRow& row = rowAt(index.row());
  switch (index.column()) {
    case Version: return qs(row.version);
    case Change: return qs(std::string(workflow::changeText(row.change)));
    case Class: return qs(row.className);
    case Member: return row.member.empty() ? QStringLiteral("(the class itself)") : qs(row.member);
    case Kind: return qs(row.kind);
    case Level: return qs(row.level);
    case Type: return qs(row.type);
    case OtherType: return qs(row.counterpartType);
    case Parent: return qs(row.parent);
    case Verdicts: return joinedVerdicts(row);
    default: return {};
  }
}

QVariant DifferencesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  static const char* const kTitles[ColumnCount] = {"Version", "Change", "Class", "Member", "Kind",
                                                   "Level",   "Type",   "Other type", "Parent", "Verdicts"};
  return section >= 0 && section < ColumnCount ? QString(kTitles[section]) : QVariant();
}

void DifferencesProxy::setFilter(workflow::DifferenceFilter filter, bool noneWanted) {
  filter_ = std::move(filter);
  noneWanted_ = noneWanted;
  invalidateFilter();
}

bool DifferencesProxy::filterAcceptsRow(int sourceRow, const QModelIndex& /*sourceParent*/) const {
  if (noneWanted_) return false;
  const auto* model = static_cast<const DifferencesModel*>(sourceModel());
  return filter_.passes(model->rowAt(sourceRow));
}

}  // namespace diffwin
