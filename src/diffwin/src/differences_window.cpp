// The differences window: its controls, the reading of the picked pair and the exports.
#include <cstring>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "diffwin/diffwin.h"
#include "differences_model.h"
#include "runtime/runtime.h"
#include "workflow/workflow.h"

namespace diffwin {
namespace {

constexpr const char* kObjectName = "DifferencesWin";

QString qs(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string trimmedVersion(const std::string& fullWidth) {
  return fullWidth.substr(0, fullWidth.find_last_not_of(' ') + 1);
}

std::string pickedVersion(const QComboBox* list) {
  const QVariant data = list->currentData();
  return data.isValid() ? data.toString().toStdString() : std::string();
}

const char* extensionOf(workflow::ExportFormat format) {
  switch (format) {
    case workflow::ExportFormat::Csv: return "csv";
    case workflow::ExportFormat::Json: return "json";
    case workflow::ExportFormat::Html: return "html";
    case workflow::ExportFormat::Text: break;
  }
  return "txt";
}

}  // namespace

DifferencesWindow::DifferencesWindow(QWidget* parent, TableSource table)
    : QWidget(parent, Qt::Window), source_(std::move(table)) {
  setObjectName(kObjectName);
  setWindowTitle("Differences");
  buildControls();
  chooseExportFile = [this](workflow::ExportFormat format) {
    const QString ext = extensionOf(format);
    const QString suggested = qs(all_.base + "-" + all_.reference + "-differences.") + ext;
    return QFileDialog::getSaveFileName(this, "Export Differences", suggested, ext.toUpper() + " files (*." + ext + ")")
        .toStdString();
  };
}

DifferencesWindow::~DifferencesWindow() = default;

void DifferencesWindow::buildControls() {
  auto* layout = new QVBoxLayout(this);

  auto* versions = new QHBoxLayout;
  baseList = new QComboBox(this);
  referenceList = new QComboBox(this);
  for (auto [caption, list] : {std::pair{"Base:", baseList}, std::pair{"Reference:", referenceList}}) {
    versions->addWidget(new QLabel(caption, this));
    list->setMinimumContentsLength(15);
    versions->addWidget(list);
    connect(list, &QComboBox::activated, this, [this] { refresh(); });
  }
  versions->addStretch(1);
  layout->addLayout(versions);

  summary = new QLabel(this);
  summary->setTextFormat(Qt::PlainText);
  summary->setWordWrap(true);
  layout->addWidget(summary);

  auto* filters = new QHBoxLayout;
  for (std::size_t i = 0; i < workflow::kVerdictCount; ++i) {
    verdictBoxes[i] = new QCheckBox(qs(std::string(workflow::verdictText(workflow::kVerdicts[i]))), this);
    verdictBoxes[i]->setChecked(true);
    connect(verdictBoxes[i], &QCheckBox::toggled, this, [this] { applyFilter(); });
    filters->addWidget(verdictBoxes[i]);
  }
  filters->addSpacing(12);
  filters->addWidget(new QLabel("Search:", this));
  search = new QLineEdit(this);
  search->setClearButtonEnabled(true);
  search->setPlaceholderText("class, member, type, parent or verdict");
  connect(search, &QLineEdit::textChanged, this, [this] {
    applyFilter();
    changesView->setSearch(search->text().trimmed().toStdString());
  });
  filters->addWidget(search, 1);
  layout->addLayout(filters);

  model_ = new DifferencesModel(this);
  proxy_ = new DifferencesProxy(this);
  proxy_->setSourceModel(model_);
  proxy_->setSortCaseSensitivity(Qt::CaseInsensitive);
  table = new QTableView(this);
  table->setModel(proxy_);
  table->setSortingEnabled(true);
  table->sortByColumn(-1, Qt::AscendingOrder);  // the order read until a heading is clicked
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setAlternatingRowColors(true);
  table->setWordWrap(false);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  changesView = new ChangesView(this);
  changesView->openHistory = [this](const std::string& className) { showHistory(className); };
  changesView->addRule = [this](const std::string& rule) {
    if (workflow::appendIgnoreRule(ignoreFile(), rule)) refresh();
  };
  views = new QTabWidget(this);
  views->addTab(table, "&Rows");
  views->addTab(changesView, "Chan&ges");
  // The verdict boxes narrow the rows only; the Changes tab has its own filters.
  connect(views, &QTabWidget::currentChanged, this, [this] {
    for (QCheckBox* box : verdictBoxes) box->setVisible(views->currentWidget() == table);
    showSummary();
  });
  layout->addWidget(views, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  exportCsv = new QPushButton("Export &CSV...", this);
  exportJson = new QPushButton("Export &JSON...", this);
  exportHtml = new QPushButton("Export &HTML...", this);
  for (auto [button, format] : {std::pair{exportCsv, workflow::ExportFormat::Csv},
                                std::pair{exportJson, workflow::ExportFormat::Json},
                                std::pair{exportHtml, workflow::ExportFormat::Html}}) {
    connect(button, &QPushButton::clicked, this, [this, format = format] { exportAs(format); });
    buttons->addWidget(button);
  }
  auto* close = new QPushButton("Cl&ose", this);
  connect(close, &QPushButton::clicked, this, &QWidget::close);
  buttons->addWidget(close);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
  layout->addLayout(buttons);
  resize(980, 560);
}

void DifferencesWindow::fillVersionLists() {
  const std::string base = pickedVersion(baseList);
  const std::string reference = pickedVersion(referenceList);
  baseList->clear();
  referenceList->clear();
  if (model::Mpdms* open = source_ ? source_() : nullptr) {
    for (const auto& [version, number] : workflow::storedVersions(*open)) {
      baseList->addItem(qs(trimmedVersion(version)), qs(version));
      referenceList->addItem(qs(trimmedVersion(version)), qs(version));
    }
  }
  baseList->setCurrentIndex(std::max(0, baseList->findData(qs(base))));
  referenceList->setCurrentIndex(std::max(0, referenceList->findData(qs(reference))));
  // A version against itself shows nothing: with two or more stored, the reference is another.
  if (referenceList->count() > 1 && referenceList->currentIndex() == baseList->currentIndex())
    referenceList->setCurrentIndex(baseList->currentIndex() == 0 ? 1 : 0);
}

void DifferencesWindow::preset(const std::string& base, const std::string& reference) {
  fillVersionLists();
  if (const int at = baseList->findData(qs(base)); at >= 0) baseList->setCurrentIndex(at);
  if (const int at = referenceList->findData(qs(reference)); at >= 0) referenceList->setCurrentIndex(at);
  refresh();
}

void DifferencesWindow::refresh() {
  RT_FRAME("DifferencesWin:Refresh");
  const std::string base = pickedVersion(baseList);
  const std::string reference = pickedVersion(referenceList);
  model_->setRows(nullptr);
  changesView->setChanges(nullptr);
  all_ = workflow::Differences{};
  model::Mpdms* open = source_ ? source_() : nullptr;
  // The ignore file is read again each time, so that a rule just added or edited applies.
  const workflow::IgnoreRules rules = workflow::readIgnoreRules(ignoreFile());
  std::vector<std::string> problems;
  for (const workflow::RuleProblem& problem : rules.problems) problems.push_back(workflow::problemText(rules, problem));
  changesView->setRuleProblems(problems);
  if (open && open->used() && !base.empty() && !reference.empty() && base != reference)
    all_ = workflow::readDifferences(*open, base, reference, rules.empty() ? nullptr : &rules);
  model_->setRows(&all_.rows);
  changesView->setChanges(&all_.changes);
  table->resizeColumnsToContents();
  setWindowTitle(all_.base.empty() ? QString("Differences")
                                   : qs("Differences: " + all_.base + " against " + all_.reference));
  for (std::size_t i = 0; i < workflow::kVerdictCount; ++i)
    verdictBoxes[i]->setText(qs(std::string(workflow::verdictText(workflow::kVerdicts[i])) + " (" +
                                std::to_string(all_.summary.perVerdict[i]) + ")"));
  applyFilter();
}

void DifferencesWindow::applyFilter() {
  workflow::DifferenceFilter filter;
  bool allTicked = true;
  for (std::size_t i = 0; i < workflow::kVerdictCount; ++i) {
    if (verdictBoxes[i]->isChecked())
      filter.verdicts.push_back(workflow::kVerdicts[i]);
    else
      allTicked = false;
  }
  const bool noneTicked = filter.verdicts.empty();
  if (allTicked) filter.verdicts.clear();  // every row, also one without a verdict word
  filter.text = search->text().trimmed().toStdString();
  proxy_->setFilter(std::move(filter), noneTicked);
  showSummary();
}

void DifferencesWindow::showSummary() {
  const workflow::DifferenceSummary& s = all_.summary;
  std::string text;
  if (all_.base.empty()) {
    text = "Pick two different versions.";
  } else {
    text = "Base " + all_.base + " (" + all_.baseFamily + "), reference " + all_.reference + " (" +
           all_.referenceFamily + ")\nRows compared " + std::to_string(s.compared) + ", the same " +
           std::to_string(s.same) + ", differing " + std::to_string(s.differing) + ": added " +
           std::to_string(s.added) + ", removed " + std::to_string(s.removed) + ", changed " +
           std::to_string(s.changed) + ". Showing " + std::to_string(proxy_->rowCount()) + " of " +
           std::to_string(all_.rows.size()) +
           (all_.rowsHiddenByRules > 0 ? " (" + std::to_string(all_.rowsHiddenByRules) + " hidden by rules)" : "") +
           ".\nChanges " + std::to_string(all_.changes.counts.total) + ": ";
    for (workflow::Severity severity : workflow::kSeverities)
      text += std::string(severity == workflow::kSeverities.front() ? "" : ", ") +
              std::string(workflow::severityText(severity)) + " " + std::to_string(all_.changes.counts.count(severity));
    if (!all_.changes.suggestions.empty())
      text += "; " + std::to_string(all_.changes.suggestions.size()) + " rename suggestion(s), not counted";
    if (!all_.changes.rules.empty())
      text += "; " + std::to_string(all_.changes.hidden.size() + all_.changes.hiddenSuggestions.size()) +
              " hidden by rules";
    text += ".";
  }
  summary->setText(qs(text));
  for (QPushButton* button : {exportCsv, exportJson, exportHtml}) button->setEnabled(!all_.base.empty());
}

workflow::Differences DifferencesWindow::visible() const {
  if (views->currentWidget() == changesView) {
    workflow::Differences shown = all_;
    shown.changes = changesView->visible();
    return shown;
  }
  workflow::Differences shown;
  shown.base = all_.base;
  shown.reference = all_.reference;
  shown.baseFamily = all_.baseFamily;
  shown.referenceFamily = all_.referenceFamily;
  shown.summary = all_.summary;
  shown.changes = all_.changes;
  for (int row = 0; row < proxy_->rowCount(); ++row)
    shown.rows.push_back(model_->rowAt(proxy_->mapToSource(proxy_->index(row, 0)).row()));
  // The counts of an export are those of the rows it holds.
  return workflow::DifferenceFilter{}.apply(shown);
}

void DifferencesWindow::exportAs(workflow::ExportFormat format) {
  RT_FRAME("DifferencesWin:Export");
  const std::string file = chooseExportFile ? chooseExportFile(format) : std::string();
  if (file.empty()) return;
  // The export is this window's own: its failure is told in a sentence with the one choice
  // there is, not as the run-time's error report.
  rt::ErrorPtr failure;
  struct KeepFirstError {
    explicit KeepFirstError(rt::ErrorPtr& kept) : previous(rt::errorBlock()) {
      rt::setErrorBlock([&kept](const rt::ErrorPtr& error) {
        if (!kept) kept = error;
        return rt::Value(false);  // the default: the export gives up and leaves the file as it was
      });
    }
    ~KeepFirstError() { rt::setErrorBlock(previous); }
    rt::ErrorBlock previous;
  };
  const workflow::ExportView view =
      views->currentWidget() == changesView ? workflow::ExportView::Changes : workflow::ExportView::Rows;
  bool written = false;
  {
    KeepFirstError keep(failure);
    written = workflow::exportDifferences(file, visible(), format, view);
  }
  if (written) return;
  std::string reason = failure && failure->osCode != 0 ? std::strerror(static_cast<int>(failure->osCode))
                       : failure                       ? failure->description
                                                       : std::string("the export did not finish");
  gui::messageBox(nullptr, "Export Failed",
                  "The differences were not exported to " + file + ": " + reason +
                      ".\n\nA file already there under that name was left as it was. Choose another folder or "
                      "name and export again.",
                  gui::kBoxOk | gui::kBoxIconExclamation);
}

std::filesystem::path DifferencesWindow::ignoreFile() const {
  model::Mpdms* open = source_ ? source_() : nullptr;
  const std::string folder = open && open->used() ? open->tablePath() : std::string();
  return std::filesystem::path(folder) / workflow::kIgnoreFileName;
}

void DifferencesWindow::showHistory(const std::string& className) {
  if (!history_) history_ = new HistoryWindow(this, source_, ignoreFile());
  history_->showClass(className);
  history_->show();
  history_->raise();
  history_->activateWindow();
}

DifferencesWindow* differencesWindowOf(const gui::Window& owner) {
  QWidget* top = owner.widget();
  return top ? dynamic_cast<DifferencesWindow*>(top->findChild<QWidget*>(kObjectName, Qt::FindDirectChildrenOnly))
             : nullptr;
}

DifferencesWindow* ShowDifferences(gui::Window& owner, TableSource table, const std::string& base,
                                   const std::string& reference) {
  RT_FRAME("ShowDifferences");
  DifferencesWindow* window = differencesWindowOf(owner);
  if (!window) window = new DifferencesWindow(owner.widget(), std::move(table));
  window->preset(base, reference);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace diffwin
