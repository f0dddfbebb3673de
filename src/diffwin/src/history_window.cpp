// The history window: one class through every stored version.
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <sstream>

#include "diffwin/diffwin.h"
#include "runtime/runtime.h"

namespace diffwin {
namespace {

QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A mark in a sign and a word, so that it is not told by colour alone; an absent member's cell
// stays empty.
QString markText(workflow::MemberMark mark) {
  switch (mark) {
    case workflow::MemberMark::Absent: return {};
    case workflow::MemberMark::Present: return "present";
    case workflow::MemberMark::Appeared: return "+ appeared";
    case workflow::MemberMark::Changed: return "~ changed";
    case workflow::MemberMark::Gone: return "- gone";
  }
  return {};
}

// The changes of one member in the step that led to version `v`, one a line.
QString changesOf(const workflow::ClassHistory& h, const workflow::MemberHistory& m, std::size_t v) {
  if (v == 0) return {};
  QStringList lines;
  for (const workflow::ChangeEntry& c : h.steps[v - 1].changes)
    if (c.member == m.member && c.memberKind == m.kind) lines << qs(workflow::changeLine(c));
  return lines.join("\n");
}

}  // namespace

HistoryWindow::HistoryWindow(QWidget* parent, std::function<model::Mpdms*()> table, std::filesystem::path ignoreFile)
    : QWidget(parent, Qt::Window), table_(std::move(table)), ignoreFile_(std::move(ignoreFile)) {
  setObjectName("HistoryWin");
  setWindowTitle("History");
  auto* layout = new QVBoxLayout(this);
  heading = new QLabel(this);
  heading->setTextFormat(Qt::PlainText);
  heading->setWordWrap(true);
  layout->addWidget(heading);
  auto* split = new QSplitter(Qt::Vertical, this);
  grid = new QTableWidget(split);
  grid->setAccessibleName("Members by version");
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  grid->horizontalHeader()->setStretchLastSection(true);
  steps = new QPlainTextEdit(split);
  steps->setAccessibleName("Changes by step");
  steps->setReadOnly(true);
  steps->setLineWrapMode(QPlainTextEdit::NoWrap);
  steps->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  split->addWidget(grid);
  split->addWidget(steps);
  layout->addWidget(split, 1);
  resize(760, 560);
}

void HistoryWindow::showClass(const std::string& className) {
  RT_FRAME("HistoryWin:ShowClass");
  history_ = workflow::ClassHistory{};
  workflow::IgnoreRules rules = workflow::readIgnoreRules(ignoreFile_);
  if (model::Mpdms* open = table_ ? table_() : nullptr; open && open->used()) {
    workflow::HistoryOptions options;
    options.rules = rules.empty() ? nullptr : &rules;
    history_ = workflow::classHistory(*open, className, options);
  }
  setWindowTitle(qs("History of " + className));
  heading->setText(qs(history_.found() ? "Class " + className + " through " + std::to_string(history_.versions.size()) +
                                            " versions, in the natural order of their labels."
                                      : "Class " + className + " is in none of the stored versions."));
  grid->clear();
  grid->setColumnCount(static_cast<int>(history_.versions.size()));
  grid->setRowCount(static_cast<int>(history_.members.size()));
  for (std::size_t v = 0; v < history_.versions.size(); ++v)
    grid->setHorizontalHeaderItem(static_cast<int>(v), new QTableWidgetItem(qs(history_.versions[v].version)));
  for (std::size_t i = 0; i < history_.members.size(); ++i) {
    const workflow::MemberHistory& m = history_.members[i];
    grid->setVerticalHeaderItem(static_cast<int>(i), new QTableWidgetItem(qs(m.member + " (" + m.kind + ")")));
    for (std::size_t v = 0; v < m.marks.size(); ++v) {
      auto* cell = new QTableWidgetItem(markText(m.marks[v]));
      cell->setToolTip(changesOf(history_, m, v));
      grid->setItem(static_cast<int>(i), static_cast<int>(v), cell);
    }
  }
  grid->resizeColumnsToContents();
  std::ostringstream text;
  workflow::writeHistoryText(text, history_);
  steps->setPlainText(qs(text.str()));
}

}  // namespace diffwin
