// Layout reader (good and bad files), field formats, the engine's formula functions and the
// aggregates over rows, all without a device.
#include <gtest/gtest.h>

#include <map>

#include "reportengine/reportengine.h"

namespace {

const bool kFunctionsReady = [] {
  rpt::InitRpFunctionLibraries();
  return true;
}();

std::string layoutText(const std::string& body) {
  return R"({"format": "zmc-report", "version": 1)" + std::string(body.empty() ? "" : ", ") + body + "}";
}

// Counts errors that reach the process's error block while it lives.
struct ErrorCounter {
  int raised = 0;
  rt::ErrorBlock saved = rt::errorBlock();
  ErrorCounter() {
    rt::setErrorBlock([this](const rt::ErrorPtr&) {
      ++raised;
      return rt::Value(false);
    });
  }
  ~ErrorCounter() { rt::setErrorBlock(saved); }
};

rt::Value eval(const std::string& text) {
  rt::BlockPtr block = rt::compile(text);
  EXPECT_TRUE(block) << text;
  return block ? block->eval(nullptr) : rt::Value();
}

const char* const kGroupedLayout = R"(
  "name": "Grouped",
  "page": {"paper": "A4", "orientation": "landscape", "unit": "mm",
           "margins": {"top": 10, "left": 15, "bottom": 10, "right": 15}},
  "font": {"face": "Courier New", "size": 9},
  "data": {"table": "t.dbf", "filter": "QTY > 0", "sort": "KIND"},
  "groups": [{"name": "Kind", "expression": "KIND", "newPage": true,
              "header": {"height": 8, "objects": [{"type": "field", "expression": "KIND", "align": "right",
                                                   "color": "#ff0000", "font": {"bold": true}}]},
              "footer": {"height": 6}}],
  "aggregates": [{"name": "nBig", "function": "count", "condition": "QTY > 10", "group": "Kind"}],
  "bands": {"detail": {"height": 5, "printWhen": "QTY < 100", "objects": [
              {"type": "text", "text": "x"}, {"type": "line", "x2": 20},
              {"type": "rectangle", "width": 5, "height": 5, "fill": "#00ff00"},
              {"type": "ellipse", "width": 5, "height": 5},
              {"type": "bitmap", "file": "logo.png"}, {"type": "richtext", "file": "note.rtf", "wrap": true}]}}
)";

// ---- Reading good layouts ------------------------------------------------------------------

TEST(LayoutReader, ReadsPageSetupInTheLayoutsOwnUnitWithOrientationApplied) {
  const auto result = rpt::parseLayout(layoutText(kGroupedLayout), "/reports/grouped.rpt");
  ASSERT_TRUE(result.ok()) << result.error;
  const rpt::PageSetup& page = result.layout->page;
  EXPECT_EQ(page.unit, rpt::Unit::Millimetres);
  EXPECT_TRUE(page.landscape);
  EXPECT_NEAR(page.width, 297, 1e-6);
  EXPECT_NEAR(page.length, 210, 1e-6);
  EXPECT_DOUBLE_EQ(page.left, 15);
  EXPECT_NEAR(page.toInches(25.4), 1.0, 1e-9);
  EXPECT_EQ(result.layout->directory, "/reports/");
}

TEST(LayoutReader, ReadsBandsGroupsAggregatesAndObjectProperties) {
  const auto result = rpt::parseLayout(layoutText(kGroupedLayout), "grouped.rpt");
  ASSERT_TRUE(result.ok()) << result.error;
  const rpt::Layout& l = *result.layout;
  EXPECT_EQ(l.directory, "");
  ASSERT_EQ(l.groups.size(), 1u);
  EXPECT_TRUE(l.groups[0].newPage);
  ASSERT_EQ(l.groups[0].header.objects.size(), 1u);
  const rpt::BandObject& field = l.groups[0].header.objects[0];
  EXPECT_EQ(field.align, 2);
  EXPECT_EQ(field.color, 0x0000FFu);  // "#ff0000" is red, stored as 0x00BBGGRR
  EXPECT_TRUE(field.font.bold);
  EXPECT_EQ(field.font.face, "Courier New");  // the report's font is the default
  ASSERT_EQ(l.aggregates.size(), 1u);
  EXPECT_EQ(l.aggregates[0].groupLevel, 0);
  EXPECT_TRUE(l.aggregates[0].conditionBlock);
  ASSERT_EQ(l.detail.objects.size(), 6u);
  EXPECT_EQ(l.detail.objects[2].fill, 0x00FF00u);
  EXPECT_EQ(l.detail.objects[5].kind, rpt::ObjectKind::RichText);
  EXPECT_TRUE(l.detail.printWhenBlock);
  EXPECT_FALSE(l.title.present);
  EXPECT_TRUE(l.data.filterBlock);
  EXPECT_TRUE(l.data.sortBlock);
}

TEST(LayoutReader, EveryDemoLayoutReads) {
  for (const char* name : {"Differences.rpt", "Model Versions.rpt", "Class Listing.rpt"}) {
    const auto result = rpt::readLayoutFile(std::string(ZMC_DEMO_DIR) + "/" + name);
    EXPECT_TRUE(result.ok()) << result.error;
  }
}

// ---- Rejecting bad layouts -----------------------------------------------------------------

TEST(LayoutReader, BadLayoutsAreRejectedWithFileNameAndWithoutRaisingAnError) {
  const std::map<std::string, std::string> bad = {
      {"not json", "this is not a layout"},
      {"array at top", "[1, 2]"},
      {"wrong format tag", R"({"format": "other", "version": 1})"},
      {"future version", R"({"format": "zmc-report", "version": 2})"},
      {"unknown band", layoutText(R"("bands": {"middle": {"height": 1}})")},
      {"unknown object type", layoutText(R"("bands": {"detail": {"objects": [{"type": "circle"}]}})")},
      {"bad colour", layoutText(R"("bands": {"detail": {"objects": [{"type": "text", "color": "red"}]}})")},
      {"field without expression", layoutText(R"("bands": {"detail": {"objects": [{"type": "field"}]}})")},
      {"syntax error", layoutText(R"("bands": {"detail": {"objects": [{"type": "field", "expression": "1 +"}]}})")},
      {"unknown function",
       layoutText(R"j("bands": {"detail": {"objects": [{"type": "field", "expression": "NoSuchFunction(1)"}]}})j")},
      {"aggregate of unknown group", layoutText(R"("aggregates": [{"name": "n", "group": "Nope"}])")},
      {"unknown aggregate function", layoutText(R"("aggregates": [{"name": "n", "function": "avg"}])")},
      {"group without expression", layoutText(R"("groups": [{"name": "g"}])")},
      {"group name twice", layoutText(R"("groups": [{"name": "g", "expression": "A"}, {"name": "G", "expression": "B"}])")},
      {"margins eat the page", layoutText(R"("page": {"margins": {"left": 5, "right": 4}})")},
      {"header and footer fill the page",
       layoutText(R"("bands": {"pageHeader": {"height": 5}, "pageFooter": {"height": 5}})")},
      {"negative height", layoutText(R"("bands": {"detail": {"height": -1}})")},
      {"height as text", layoutText(R"("bands": {"detail": {"height": "1"}})")},
      {"bitmap outside the folder",
       layoutText(R"("bands": {"detail": {"objects": [{"type": "bitmap", "file": "../x.png"}]}})")},
      {"table with a path", layoutText(R"("data": {"table": "/etc/passwd"})")},
      {"order without index", layoutText(R"("data": {"table": "t", "order": "tag"})")},
      {"custom paper without size", layoutText(R"("page": {"paper": "Custom"})")},
      {"unknown unit", layoutText(R"("page": {"unit": "furlongs"})")},
  };
  for (const auto& [what, text] : bad) {
    ErrorCounter errors;
    const auto result = rpt::parseLayout(text, "bad.rpt");
    EXPECT_FALSE(result.ok()) << what;
    EXPECT_EQ(result.error.rfind("bad.rpt: ", 0), 0u) << what << ": " << result.error;
    EXPECT_EQ(errors.raised, 0) << what;
  }
}

TEST(LayoutReader, MissingFileIsAnErrorNamingIt) {
  const auto result = rpt::readLayoutFile("/no/such/place/x.rpt");
  EXPECT_FALSE(result.ok());
  EXPECT_NE(result.error.find("/no/such/place/x.rpt"), std::string::npos);
}

TEST(LayoutReader, EveryTruncationOfAGoodLayoutIsRejectedCleanly) {
  const std::string text = layoutText(kGroupedLayout);
  ErrorCounter errors;
  for (std::size_t n = 0; n + 1 < text.size(); n += 3) EXPECT_FALSE(rpt::parseLayout(text.substr(0, n), "t.rpt").ok());
  EXPECT_EQ(errors.raised, 0);
}

// ---- Field formats -------------------------------------------------------------------------

TEST(FieldFormat, LogicalsShowWordsAndStringsLoseTrailingBlanks) {
  EXPECT_EQ(rpt::formatValue(rt::Value(true), "Same/Differs"), "Same");
  EXPECT_EQ(rpt::formatValue(rt::Value(false), "Same/Differs"), "Differs");
  EXPECT_EQ(rpt::formatValue(rt::Value(false), ""), "No");
  EXPECT_EQ(rpt::formatValue(rt::Value("Widget   "), ""), "Widget");
  EXPECT_EQ(rpt::formatValue(rt::Value("abc"), "@!"), "ABC");
  EXPECT_EQ(rpt::formatValue(rt::Value(), ""), "");
}

TEST(FieldFormat, NumberPicturesSetDecimalsAndGrouping) {
  EXPECT_EQ(rpt::formatValue(rt::Value(1234567.891), "9,999.99"), "1,234,567.89");
  EXPECT_EQ(rpt::formatValue(rt::Value(42), "9999"), "42");
  EXPECT_EQ(rpt::formatValue(rt::Value(2.5), "9.9"), "2.5");
}

// ---- Formula functions ---------------------------------------------------------------------

TEST(FormulaFunctions, EngineFunctionsAreRegisteredWithTheirParameterCounts) {
  const std::map<std::string, int> expected = {
      {"ADDRESSBLK", 6}, {"ATNOCASE", 2},     {"ATLINENUM", 2},    {"ATLINENOCASE", 2}, {"CEILING", 1},
      {"COSINE", 1},     {"COTANGENT", 1},    {"ELAPSEDTIME", 2},  {"GROUPMEMBERS", 1}, {"HOURSBETWEEN", 5},
      {"PROPERIZE", 1},  {"ISBETWEEN", 3},    {"MAKEDATE", 3},     {"MAKETIME", 3},     {"MODULUS", 2},
      {"MINUTESBETWEEN", 5}, {"NUM2CDOW", 1}, {"NUM2CMONTH", 1},   {"NUMTRIM", 1},      {"OCCURSIN", 2},
      {"POWER", 2},      {"RPDSGETFIELD", 2}, {"RPEOF", 0},        {"RPVARVALUE", 2},   {"RPFIELDGET", 2},
      {"RPSECTIONEOF", 0}, {"SEC2DAYS", 1},   {"SINE", 1},         {"SQLBIT", 3},       {"SQLC", 3},
      {"SQLD", 3},       {"SQLLI", 3},        {"SQLR4", 3},        {"SQLR8", 3},        {"SQLSI", 3},
      {"SQLTS", 3},      {"TANGENT", 1},      {"PGCOUNT", 0},      {"PGNO", 0}};
  EXPECT_EQ(rpt::engineFunctionTable().size(), expected.size());
  for (const auto& [name, count] : expected) {
    const rt::FunctionEntry* entry = rt::findFunction(rt::Symbol(name));
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->paramCount, count) << name;
  }
}

TEST(FormulaFunctions, TextFunctionsAnswerSensibly) {
  EXPECT_EQ(eval("Properize('hello wORLD-wide')").asString(), "Hello World-Wide");
  EXPECT_EQ(eval("AtNoCase('B', 'abc')").asLong(), 2);
  EXPECT_EQ(eval("AtNoCase('', 'abc')").asLong(), 0);
  EXPECT_EQ(eval("AtLineNum('two', 'one' + CHR(10) + 'two')").asLong(), 2);
  EXPECT_EQ(eval("OccursIn('an', 'banana')").asLong(), 2);
  EXPECT_EQ(eval("OccursIn('', 'banana')").asLong(), 0);
  EXPECT_EQ(eval("NumTrim(42)").asString(), "42");
  EXPECT_EQ(eval("SQLC(\"O'Brien  \", 10, 0)").asString(), "'O''Brien'");
  EXPECT_EQ(eval("SQLC('Größe€xyz', 6, 0)").asString(), "'Größe€'");  // the width counts characters
  EXPECT_EQ(eval("SQLBIT(.T., 1, 0)").asString(), "1");
  EXPECT_EQ(eval("SQLD(MakeDate(2024, 2, 29), 0, 0)").asString(), "'2024-02-29'");
  EXPECT_EQ(eval("SQLSI(99999, 0, 0)").asString(), "32767");
  EXPECT_EQ(eval("AddressBlk('Ann', '', '1 High St', 'Tarnwell', 'TW', '12345')").asString(),
            "Ann\r\n1 High St\r\nTarnwell, TW  12345");
}

TEST(FormulaFunctions, NumberAndTimeFunctionsHandleEdges) {
  EXPECT_EQ(eval("Modulus(-7, 3)").asLong(), 2);
  EXPECT_EQ(eval("Modulus(7, 0)").asLong(), 0);
  EXPECT_EQ(eval("Ceiling(1.2)").asLong(), 2);
  EXPECT_DOUBLE_EQ(eval("Power(2, 10)").asNumber(), 1024);
  EXPECT_TRUE(eval("IsBetween(5, 1, 10)").asLogical());
  EXPECT_FALSE(eval("IsBetween('z', 'a', 'm')").asLogical());
  EXPECT_EQ(eval("MakeTime(1, 2, 3)").asString(), "01:02:03");
  EXPECT_EQ(eval("ElapsedTime('10:00:00', '11:30:15')").asString(), "01:30:15");
  EXPECT_EQ(eval("Sec2Days(90061)").asString(), "1 01:01:01");
  EXPECT_EQ(eval("Num2CMonth(13)").asString(), "");
  EXPECT_EQ(eval("Num2CDOW(1)").asString(), "Sunday");
  EXPECT_EQ(eval("HoursBetween(MakeDate(2024,1,1), '00:00:00', MakeDate(2024,1,2), '06:30:00', .T.)").asLong(), 30);
  EXPECT_TRUE(eval("MakeDate(2023, 2, 30)").asDate().empty());
}

TEST(FormulaFunctions, RunFunctionsAnswerNeutralValuesOutsideARun) {
  EXPECT_EQ(eval("PgNo()").asLong(), 0);
  EXPECT_EQ(eval("PgCount()").asLong(), 0);
  EXPECT_TRUE(eval("RpEOF()").asLogical());
  EXPECT_EQ(eval("rpVarValue('nothing', 7)").asLong(), 7);
  EXPECT_TRUE(eval("rpFieldGet('', 'X')").isNil());
}

// ---- Aggregates ----------------------------------------------------------------------------

rpt::RowSet rowsOf(std::vector<std::pair<std::string, int>> data, std::vector<std::string> inner = {}) {
  rpt::RowSet set;
  set.fields = {rt::Symbol("KIND"), rt::Symbol("QTY"), rt::Symbol("SUB")};
  for (std::size_t i = 0; i < data.size(); ++i)
    set.rows.push_back({rt::Value(data[i].first), rt::Value(data[i].second),
                        rt::Value(i < inner.size() ? inner[i] : std::string("-"))});
  set.deleted.assign(data.size(), false);
  return set;
}

rpt::Layout aggregateLayout() {
  const auto result = rpt::parseLayout(layoutText(R"(
    "groups": [{"name": "Kind", "expression": "KIND"}, {"name": "Sub", "expression": "SUB"}],
    "aggregates": [
      {"name": "nAll", "function": "count"},
      {"name": "nBig", "function": "count", "condition": "QTY >= 10"},
      {"name": "total", "function": "sum", "expression": "QTY", "group": "Kind"},
      {"name": "least", "function": "min", "expression": "QTY", "group": "Kind"},
      {"name": "most", "function": "max", "expression": "QTY"},
      {"name": "bigSum", "function": "sum", "expression": "QTY", "condition": "QTY >= 10"}])"),
                                       "agg.rpt");
  EXPECT_TRUE(result.ok()) << result.error;
  return *result.layout;
}

TEST(Aggregates, CountSumMinMaxOverTheReportAndPerGroupWithConditions) {
  const rpt::Layout layout = aggregateLayout();
  const rpt::RowSet rows = rowsOf({{"A", 5}, {"A", 20}, {"B", 1}, {"B", 30}, {"B", 12}});
  const rpt::AggregateValues v = rpt::computeAggregates(layout, rows);
  EXPECT_EQ(v.byName.at("NALL").at(0).asLong(), 5);
  EXPECT_EQ(v.byName.at("NBIG").at(0).asLong(), 3);
  EXPECT_EQ(v.byName.at("MOST").at(0).asLong(), 30);
  EXPECT_EQ(v.byName.at("BIGSUM").at(0).asLong(), 62);
  ASSERT_EQ(v.byName.at("TOTAL").size(), 2u);
  EXPECT_EQ(v.byName.at("TOTAL")[0].asLong(), 25);
  EXPECT_EQ(v.byName.at("TOTAL")[1].asLong(), 43);
  EXPECT_EQ(v.byName.at("LEAST")[1].asLong(), 1);
  EXPECT_EQ(v.membersOfInstance[0], (std::vector<int>{2, 3}));
}

TEST(Aggregates, NoRowsGiveZeroCountsAndNilExtremes) {
  const rpt::AggregateValues v = rpt::computeAggregates(aggregateLayout(), rowsOf({}));
  EXPECT_EQ(v.byName.at("NALL").at(0).asLong(), 0);
  EXPECT_EQ(v.byName.at("TOTAL").at(0).asLong(), 0);
  EXPECT_TRUE(v.byName.at("MOST").at(0).isNil());
}

TEST(Aggregates, InnerGroupRestartsWhenTheOuterKeyChangesEvenIfItsOwnKeyDoesNot) {
  const rpt::RowSet rows = rowsOf({{"A", 1}, {"A", 2}, {"B", 3}}, {"x", "x", "x"});
  const rpt::AggregateValues v = rpt::computeAggregates(aggregateLayout(), rows);
  EXPECT_EQ(v.instanceStarts[1], (std::vector<std::uint32_t>{0, 2}));
  EXPECT_EQ(v.membersOfInstance[1], (std::vector<int>{2, 1}));
  EXPECT_EQ(v.instanceOf(1, 1), 0);
  EXPECT_EQ(v.instanceOf(1, 2), 1);
  EXPECT_TRUE(v.startsInstance(1, 2));
  EXPECT_FALSE(v.startsInstance(1, 1));
}

}  // namespace
