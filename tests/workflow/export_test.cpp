// The exports read back: CSV by an RFC 4180 reader, JSON by Qt's parser, HTML by its markup,
// and the file writing that leaves an existing file alone when it fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "workflow/export.h"
#include "workflow_support.h"

namespace {

using workflow::Change;
using workflow::ExportFormat;
using workflow::Verdict;

workflow::DifferenceRow row(workflow::Side side, std::string version, std::string className, std::string member,
                           std::string kind, std::string type, Change change, std::initializer_list<Verdict> verdicts) {
  workflow::DifferenceRow r;
  r.side = side;
  r.version = std::move(version);
  r.family = "Fam";
  r.className = std::move(className);
  r.member = std::move(member);
  r.kind = std::move(kind);
  r.level = r.member.empty() ? "" : "Instance";
  r.type = std::move(type);
  r.change = change;
  for (Verdict v : verdicts) r.verdicts[static_cast<std::size_t>(v)] = true;
  return r;
}

// Names that need quoting and escaping in every format, and a byte that is not UTF-8.
workflow::Differences awkward() {
  workflow::Differences d;
  d.base = "1.0";
  d.reference = "2.0 \"beta\"";
  d.baseFamily = "Fam";
  d.referenceFamily = "Fam <new>";
  d.rows.push_back(row(workflow::Side::Base, "1.0", "Zeta, Inc", "Say \"hi\"", "Method", "String", Change::Removed,
                       {Verdict::MemberMissing}));
  d.rows.push_back(row(workflow::Side::Base, "1.0", "Alpha", "Line\nBreak", "Property", "Real", Change::Changed,
                       {Verdict::TypeDiffers, Verdict::LevelDiffers}));
  d.rows.back().counterpartType = "Decimal";
  d.rows.push_back(row(workflow::Side::Reference, "2.0 \"beta\"", "Alpha", "", "Class", "", Change::Added,
                       {Verdict::ClassMissing}));
  d.rows.push_back(row(workflow::Side::Reference, "2.0 \"beta\"", "<b>&Co", "Caf\xe9", "Property", "Price \x80",
                       Change::Added, {Verdict::MemberMissing, Verdict::ParentDiffers}));
  d.summary = workflow::DifferenceFilter{}.apply(d).summary;
  d.summary.compared = 10;
  d.summary.same = 6;
  workflow::ChangeEntry move;
  move.kind = workflow::ChangeKind::PulledUp;
  move.severity = workflow::Severity::Review;
  move.className = move.fromClass = move.before = "Zeta, Inc";
  move.member = "Say \"hi\"";
  move.memberKind = "Method";
  move.level = "Instance";
  move.toClass = move.after = "<b>&Co";
  workflow::ChangeEntry added;
  added.kind = workflow::ChangeKind::ClassAdded;
  added.severity = workflow::Severity::Additive;
  added.className = "Caf\xe9";
  d.changes.changes = {added, move};
  d.changes.suggestions.push_back({workflow::SuggestionKind::MemberRenamed, "Alpha", "Property", "Instance", "Real",
                                   "Line\nBreak", "LineBreak", 0.9, workflow::Severity::Breaking});
  d.changes.counts = workflow::countChanges(d.changes.changes);
  return d;
}

std::string written(const workflow::Differences& d, ExportFormat format,
                    workflow::ExportView view = workflow::ExportView::Rows) {
  std::ostringstream out;
  workflow::writeDifferences(out, d, format, view);
  return out.str();
}

// A reader of RFC 4180 records: quoted fields with doubled quotes, CR LF between records.
std::vector<std::vector<std::string>> readCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') records.back().back() += text[++i];
      else if (c == '"') quoted = false;
      else records.back().back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      records.emplace_back(1);
    } else {
      records.back().back() += c;
    }
  }
  if (records.back() == std::vector<std::string>(1)) records.pop_back();  // after the last CR LF
  return records;
}

TEST(CsvExport, HeaderAndOneRecordPerRowSurviveQuotingAndLineBreaks) {
  const std::string text = written(awkward(), ExportFormat::Csv);
  const auto records = readCsv(text);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0], (std::vector<std::string>{"version", "family", "class", "member", "kind", "level", "type",
                                                  "counterpart_type", "parent", "change", "verdicts"}));
  EXPECT_EQ(records[1], (std::vector<std::string>{"1.0", "Fam", "Zeta, Inc", "Say \"hi\"", "Method", "Instance",
                                                  "String", "", "", "removed", "member missing"}));
  EXPECT_EQ(records[2][3], "Line\nBreak");
  EXPECT_EQ(records[2][7], "Decimal");
  EXPECT_EQ(records[2][10], "type differs; level differs");
  EXPECT_EQ(records[3][0], "2.0 \"beta\"");
  EXPECT_EQ(records[4][3], "Caf\xc3\xa9");  // a byte of the table's code page arrives as UTF-8
  for (const auto& record : records) EXPECT_EQ(record.size(), 11u);
}

TEST(CsvExport, ACellASpreadsheetWouldRunAsAFormulaIsWrittenAsText) {
  const struct {
    const char* stored;
    const char* written;
  } cases[] = {{"=HYPERLINK(\"x\")", "'=HYPERLINK(\"x\")"}, {"+1", "'+1"}, {"-2", "'-2"}, {"@SUM(A1)", "'@SUM(A1)"},
               {"\tTab", "'\tTab"}, {"\rCr", "'\rCr"}, {"a=b", "a=b"}, {"", ""}};
  for (const auto& c : cases) {
    workflow::Differences d;
    d.rows.push_back(row(workflow::Side::Base, "1.0", c.stored, "", "Class", "", Change::Removed, {Verdict::ClassMissing}));
    const auto records = readCsv(written(d, ExportFormat::Csv));
    ASSERT_EQ(records.size(), 2u) << c.stored;
    EXPECT_EQ(records[1][2], c.written);
  }
}

TEST(HtmlExport, ControlCharactersAreShownAsTheirPictures) {
  workflow::Differences d = awkward();
  d.rows[0].member = std::string("nul\0one\x01" "del\x7F" "tab\t", 16);
  const std::string page = written(d, ExportFormat::Html);
  EXPECT_NE(page.find("nul\u2400one\u2401del\u2421tab\t"), std::string::npos);
  for (const char c : page) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_FALSE((byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F) << static_cast<int>(byte);
  }
}

TEST(JsonExport, ParsesBackWithVersionsSummaryAndRows) {
  const std::string text = written(awkward(), ExportFormat::Json);
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << text;
  const QJsonObject root = doc.object();
  EXPECT_EQ(root["format"].toString(), "zmc-differences");
  EXPECT_EQ(root["formatVersion"].toInt(), 2);
  EXPECT_EQ(root["base"].toObject()["version"].toString(), "1.0");
  EXPECT_EQ(root["reference"].toObject()["version"].toString(), "2.0 \"beta\"");
  EXPECT_EQ(root["reference"].toObject()["family"].toString(), "Fam <new>");
  const QJsonObject summary = root["summary"].toObject();
  EXPECT_EQ(summary["compared"].toInt(), 10);
  EXPECT_EQ(summary["same"].toInt(), 6);
  EXPECT_EQ(summary["differing"].toInt(), 4);
  EXPECT_EQ(summary["added"].toInt(), 2);
  EXPECT_EQ(summary["verdicts"].toObject()["memberMissing"].toInt(), 2);
  EXPECT_EQ(summary["verdicts"].toObject()["classMissing"].toInt(), 1);
  const QJsonArray rows = root["rows"].toArray();
  ASSERT_EQ(rows.size(), 4);
  const QJsonObject second = rows[1].toObject();
  EXPECT_EQ(second["side"].toString(), "base");
  EXPECT_EQ(second["member"].toString(), "Line\nBreak");
  EXPECT_EQ(second["counterpartType"].toString(), "Decimal");
  EXPECT_TRUE(rows[0].toObject()["counterpartType"].isNull());
  EXPECT_EQ(second["verdicts"].toArray(), (QJsonArray{"type differs", "level differs"}));
  EXPECT_EQ(rows[3].toObject()["member"].toString(), QString::fromUtf8("Caf\xc3\xa9"));
  EXPECT_EQ(rows[3].toObject()["change"].toString(), "added");
  EXPECT_EQ(rows[3].toObject()["type"].toString(), QString::fromUtf8("Price \u20ac"));

  // The change list beside the rows: a move names both classes, other changes neither.
  const QJsonArray changes = root["changes"].toArray();
  ASSERT_EQ(changes.size(), 2);
  EXPECT_EQ(changes[0].toObject()["class"].toString(), QString::fromUtf8("Caf\xc3\xa9"));
  EXPECT_FALSE(changes[0].toObject().contains("fromClass"));
  const QJsonObject move = changes[1].toObject();
  for (const auto& [key, value] : std::vector<std::pair<const char*, const char*>>{
           {"change", "pulled up"}, {"class", "Zeta, Inc"}, {"member", "Say \"hi\""}, {"memberKind", "Method"},
           {"level", "Instance"}, {"before", "Zeta, Inc"}, {"after", "<b>&Co"}, {"severity", "review"},
           {"fromClass", "Zeta, Inc"}, {"toClass", "<b>&Co"}})
    EXPECT_EQ(move[key].toString().toStdString(), value) << key;
  const QJsonObject counts = root["changeCounts"].toObject();
  EXPECT_EQ(counts["total"].toInt(), 2);
  EXPECT_EQ(counts["severity"].toObject()["additive"].toInt(), 1);
  EXPECT_EQ(counts["kinds"].toObject()["pulledUp"].toInt(), 1);
  const QJsonObject suggestion = root["suggestions"].toArray()[0].toObject();
  EXPECT_EQ(suggestion["oldName"].toString(), "Line\nBreak");
  EXPECT_EQ(suggestion["newName"].toString(), "LineBreak");
  EXPECT_DOUBLE_EQ(suggestion["similarity"].toDouble(), 0.9);
}

TEST(ChangesExport, CsvAndTextListOneChangeARecordWithTheSuggestionsAfter) {
  const auto records = readCsv(written(awkward(), ExportFormat::Csv, workflow::ExportView::Changes));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], (std::vector<std::string>{"class", "member", "member_kind", "level", "change", "before", "after",
                                                  "from_class", "to_class", "severity", "similarity"}));
  EXPECT_EQ(records[2], (std::vector<std::string>{"Zeta, Inc", "Say \"hi\"", "Method", "Instance", "pulled up",
                                                  "Zeta, Inc", "<b>&Co", "Zeta, Inc", "<b>&Co", "review", ""}));
  EXPECT_EQ(records[3], (std::vector<std::string>{"Alpha", "", "Property", "Instance", "member renamed?", "Line\nBreak",
                                                  "LineBreak", "", "", "breaking", "0.90"}));
  const std::string text = written(awkward(), ExportFormat::Text, workflow::ExportView::Changes);
  EXPECT_NE(text.find("Changes 2: breaking 0, review 1, additive 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nZeta, Inc.Say \"hi\"  pulled up  Zeta, Inc -> <b>&Co  [review]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n  Alpha.Line\nBreak  member renamed to LineBreak?  similarity 0.90  [breaking]\n"),
            std::string::npos) << text;
  const std::string page = written(awkward(), ExportFormat::Html, workflow::ExportView::Changes);
  EXPECT_NE(page.find("&#x26A0; review"), std::string::npos);  // severity in words beside its symbol
  EXPECT_EQ(page.find("Differing rows"), std::string::npos);
}

TEST(JsonExport, NoRowsIsAnEmptyArray) {
  workflow::Differences d;
  d.base = "a";
  d.reference = "b";
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(written(d, ExportFormat::Json)));
  ASSERT_TRUE(doc.isObject());
  EXPECT_TRUE(doc.object()["rows"].isArray());
  EXPECT_EQ(doc.object()["rows"].toArray().size(), 0);
}

TEST(HtmlExport, OneSelfContainedPageWithSummaryFirstAndRowsGroupedByClass) {
  const std::string page = written(awkward(), ExportFormat::Html);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("<style>"), std::string::npos);
  EXPECT_NE(page.find("@media print"), std::string::npos);
  for (const char* external : {"<link", "<script", "src=", "http:", "https:"})
    EXPECT_EQ(page.find(external), std::string::npos) << external;
  // Markup in names is escaped, never taken as markup.
  EXPECT_EQ(page.find("<b>&Co"), std::string::npos);
  EXPECT_NE(page.find("Class &lt;b&gt;&amp;Co"), std::string::npos);
  EXPECT_NE(page.find("Fam &lt;new&gt;"), std::string::npos);
  // Summary before the rows; one group per class in name order, Alpha's rows of both versions together.
  const auto summary = page.find("class=\"summary\"");
  const auto groupLess = page.find("Class &lt;b&gt;&amp;Co");
  const auto alpha = page.find("Class Alpha");
  const auto zeta = page.find("Class Zeta, Inc");
  EXPECT_LT(summary, groupLess);
  EXPECT_LT(groupLess, alpha);
  EXPECT_LT(alpha, zeta);
  EXPECT_EQ(page.find("Class Alpha", alpha + 1), std::string::npos);
  const auto rowsTable = page.find("<table class=\"rows\">");  // after the change list
  const auto lineBreak = page.find("Line\nBreak", rowsTable);
  const auto alphaClassRow = page.find("(the class itself)", rowsTable);
  EXPECT_TRUE(alpha < lineBreak && lineBreak < zeta);
  EXPECT_TRUE(alpha < alphaClassRow && alphaClassRow < zeta);
}

TEST(TextExport, SummaryLinesThenOneLinePerRow) {
  const std::string text = written(awkward(), ExportFormat::Text);
  EXPECT_NE(text.find("Rows compared 10, the same 6, differing 4\n"), std::string::npos);
  EXPECT_NE(text.find("removed  1.0  Zeta, Inc.Say \"hi\" (Method, Instance, String): member missing\n"),
            std::string::npos);
  EXPECT_NE(text.find("changed  1.0  Alpha.Line\nBreak (Property, Instance, Real -> Decimal): type differs, level differs\n"),
            std::string::npos);
  workflow::Differences none;
  EXPECT_NE(written(none, ExportFormat::Text).find("No differences.\n"), std::string::npos);
}

TEST(ExportFormats, NamedWithoutRegardToCase) {
  EXPECT_EQ(workflow::exportFormatNamed("JSON"), ExportFormat::Json);
  EXPECT_EQ(workflow::exportFormatNamed("csv"), ExportFormat::Csv);
  EXPECT_EQ(workflow::exportFormatNamed("Html"), ExportFormat::Html);
  EXPECT_EQ(workflow::exportFormatNamed("text"), ExportFormat::Text);
  EXPECT_FALSE(workflow::exportFormatNamed("xml").has_value());
}

// ---------------------------------------------------------------- files

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class ExportFile : public ::testing::Test {
 protected:
  wftest::WorkDir dir{""};
  wftest::ErrorRecorder errors;
};

TEST_F(ExportFile, WritesTheWholeFileAndLeavesNoTemporaryBehind) {
  const auto file = dir.path() / "out.json";
  std::ofstream(file) << "old";
  EXPECT_TRUE(workflow::exportDifferences(file, awkward(), ExportFormat::Json));
  EXPECT_EQ(readFile(file), written(awkward(), ExportFormat::Json));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.json.part"));
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(ExportFile, AFolderThatDoesNotExistIsACreateErrorNamingTheFile) {
  const auto file = dir.path() / "missing" / "out.csv";
  EXPECT_FALSE(workflow::exportDifferences(file, awkward(), ExportFormat::Csv));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_CREATE);
  EXPECT_EQ(errors.errors[0]->fileName, file.string());
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(ExportFile, AFailedReplaceLeavesWhatWasThereAndRemovesThePart) {
  // A folder in the file's place cannot be replaced by a file.
  const auto file = dir.path() / "taken.html";
  std::filesystem::create_directory(file);
  std::ofstream(file / "keep.txt") << "kept";
  EXPECT_FALSE(workflow::exportDifferences(file, awkward(), ExportFormat::Html));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_WRITE);
  EXPECT_EQ(readFile(file / "keep.txt"), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "taken.html.part"));
}

TEST_F(ExportFile, AFullDeviceReachedThroughALinkIsAWriteErrorAndStaysADevice) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const auto link = dir.path() / "full.csv";
  std::filesystem::create_symlink("/dev/full", link);
  workflow::Differences big = awkward();
  for (int i = 0; i < 5000; ++i) big.rows.push_back(big.rows.front());
  EXPECT_FALSE(workflow::exportDifferences(link, big, ExportFormat::Csv));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.errors[0]->genCode, rt::EG_WRITE);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

}  // namespace
