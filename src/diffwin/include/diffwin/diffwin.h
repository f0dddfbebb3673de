// The differences window: the two versions of a pair, the counts per verdict, a sortable and
// filterable table of the rows that differ beside the change list, and exports to CSV, JSON and
// HTML of the view shown. It reads the main window's table through a source function, shows each
// comparison the main window announces while it is open, and is a child of its owner's top-level
// widget, closed with it. GUI thread only.
#pragma once
#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QModelIndex>
#include <QWidget>

#include "gui/gui.h"
#include "model/model.h"
#include "workflow/differences.h"
#include "workflow/export.h"
#include "workflow/history.h"
#include "workflow/ignore_rules.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStandardItemModel;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTreeView;

namespace diffwin {

class DifferencesModel;
class DifferencesProxy;

// The Changes tab: the change list as a tree by class (each class with its own change and the
// counts of its members' changes, the members' changes beneath with Before and After), severity
// in words beside an icon, filters by severity and kind, and the window's search. The changes the
// ignore rules hid are counted ("12 changes hidden by rules") and listed, marked "(ignored)", with
// "Show ignored". A context menu offers rules to add; a double-click or "History..." asks for the
// current class's history. States: empty (no list) and showing (the entries that pass the
// filters); setChanges, setSearch and the filter controls rebuild the tree.
class ChangesView : public QWidget {
 public:
  enum Column { Name, Change, Before, After, Severity, MemberChanges, ColumnCount };

  explicit ChangesView(QWidget* parent);
  void setChanges(const workflow::ChangeList* list);  // not owned; null for none
  void setSearch(const std::string& text);
  // The ignore file's refused lines, shown above the tree; none hides the note.
  void setRuleProblems(const std::vector<std::string>& problems);
  // The entries and suggestions that pass the filters, in list order, with their counts (the
  // hidden ones as hidden, whether shown or not).
  workflow::ChangeList visible() const;

  // The class of the node at `index` (a member's class for a member); empty for none.
  std::string classAt(const QModelIndex& index) const;
  // The context menu's entries for the node at `index`: title and the rule line it appends.
  std::vector<std::pair<std::string, std::string>> menuFor(const QModelIndex& index) const;

  // What the view asks of its window: append a rule line, show a class's history.
  std::function<void(const std::string& rule)> addRule;
  std::function<void(const std::string& className)> openHistory;

  // The controls, for the program's own tests.
  std::array<QCheckBox*, workflow::kSeverityCount> severityBoxes{};
  QComboBox* kindList = nullptr;  // "All kinds of change", then each kind
  QCheckBox* showIgnored = nullptr;
  QLabel* hiddenCount = nullptr;   // "12 changes hidden by rules"; hidden without rules
  QLabel* ruleProblems = nullptr;
  QPushButton* historyButton = nullptr;
  QTreeView* tree = nullptr;

 private:
  // What a node of the tree stands for.
  struct Node {
    std::string className;
    const workflow::ChangeEntry* change = nullptr;
    const workflow::RenameSuggestion* suggestion = nullptr;
  };
  const Node* nodeAt(const QModelIndex& index) const;
  workflow::ChangeFilter filter() const;
  void rebuild();
  void showMenu(const QPoint& at);

  const workflow::ChangeList* all_ = nullptr;
  workflow::ChangeList shown_;  // what the tree shows, its nodes point here
  std::vector<Node> nodes_;
  std::string search_;
  QStandardItemModel* model_ = nullptr;
};

// One class through every stored version: a grid with one column per version and one row per
// member, with a mark where a member appears (+), changes (~) or goes away (-), and each step's
// changes beneath. States: empty and showing one class; showClass reads it from the table.
class HistoryWindow : public QWidget {
 public:
  HistoryWindow(QWidget* parent, std::function<model::Mpdms*()> table, std::filesystem::path ignoreFile);
  void showClass(const std::string& className);
  const workflow::ClassHistory& history() const { return history_; }

  // The controls, for the program's own tests.
  QLabel* heading = nullptr;
  QTableWidget* grid = nullptr;
  QPlainTextEdit* steps = nullptr;

 private:
  std::function<model::Mpdms*()> table_;
  std::filesystem::path ignoreFile_;
  workflow::ClassHistory history_;
};

// Where the window finds the open model table (null while there is none).
using TableSource = std::function<model::Mpdms*()>;

// States: without rows (no pair chosen, the same version twice, or a version without rows: the
// table is empty and the exports are disabled) and showing (the chosen pair's differing rows,
// narrowed by the filters). refresh() settles the state from the table; a pick in either list,
// preset (also on a comparison announced) and ShowDifferences call it.
class DifferencesWindow : public QWidget {
 public:
  DifferencesWindow(QWidget* parent, TableSource table);
  ~DifferencesWindow() override;

  // Fills both lists from the table and picks `base` and `reference` (full width) when listed.
  // The main window calls it when it announces a finished comparison.
  void preset(const std::string& base, const std::string& reference);
  // Reads the differences of the picked pair again.
  void refresh();

  const workflow::Differences& differences() const { return all_; }
  // The ignore file the window reads and appends to: zorbane-compare.ignore beside the table.
  std::filesystem::path ignoreFile() const;
  // The history window of the window, once a history has been asked for; null before.
  HistoryWindow* historyWindow() const { return history_; }
  void showHistory(const std::string& className);
  // What the view shown holds: the rows that pass the filters, in the table's current (sorted)
  // order, with the whole change list; or every row with the changes that pass the filters.
  workflow::Differences visible() const;

  // Asks where to write an export; empty when the user cancels. A file dialog unless replaced.
  std::function<std::string(workflow::ExportFormat)> chooseExportFile;

  // The controls, for the program's own tests.
  QComboBox* baseList = nullptr;
  QComboBox* referenceList = nullptr;
  QLabel* summary = nullptr;
  std::array<QCheckBox*, workflow::kVerdictCount> verdictBoxes{};
  QLineEdit* search = nullptr;
  QTableView* table = nullptr;
  QTabWidget* views = nullptr;  // the rows (table) and the changes (changesView)
  ChangesView* changesView = nullptr;
  QPushButton* exportCsv = nullptr;
  QPushButton* exportJson = nullptr;
  QPushButton* exportHtml = nullptr;

 private:
  void buildControls();
  void fillVersionLists();
  void applyFilter();
  void showSummary();
  void exportAs(workflow::ExportFormat format);

  TableSource source_;
  workflow::Differences all_;
  DifferencesModel* model_ = nullptr;
  DifferencesProxy* proxy_ = nullptr;
  HistoryWindow* history_ = nullptr;
};

// Shows the differences window of `owner`, creating it on first use, with Base and Reference
// preset to `base` and `reference` (full-width versions; empty leaves the lists' first entries).
DifferencesWindow* ShowDifferences(gui::Window& owner, TableSource table, const std::string& base,
                                   const std::string& reference);

// The differences window of `owner`, or null while it has none.
DifferencesWindow* differencesWindowOf(const gui::Window& owner);

}  // namespace diffwin
