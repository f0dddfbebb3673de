// The table behind the differences window: one row per differing row, one column per word of
// it, and a proxy that sorts by any column and lets through the rows that pass a filter.
#pragma once
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include "workflow/differences.h"

namespace diffwin {

class DifferencesModel : public QAbstractTableModel {
 public:
  enum Column { Version, Change, Class, Member, Kind, Level, Type, OtherType, Parent, Verdicts, ColumnCount };

  explicit DifferencesModel(QObject* parent) : QAbstractTableModel(parent) {}
  void setRows(const std::vector<workflow::DifferenceRow>* rows);  // not owned; null for none
  const workflow::DifferenceRow& rowAt(int row) const { return (*rows_)[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const std::vector<workflow::DifferenceRow>* rows_ = nullptr;
};

class DifferencesProxy : public QSortFilterProxyModel {
 public:
  explicit DifferencesProxy(QObject* parent) : QSortFilterProxyModel(parent) {}
  // `noneWanted` hides every row (no verdict box ticked).
  void setFilter(workflow::DifferenceFilter filter, bool noneWanted);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  workflow::DifferenceFilter filter_;
  bool noneWanted_ = false;
};

}  // namespace diffwin
