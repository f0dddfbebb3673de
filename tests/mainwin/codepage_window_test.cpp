// Names in Western languages through the real main window: loaded, listed, compared and found
// under accented versions of the full 15 characters, stored in the table's code page; a name the
// code page lacks shows the error box, and its Default stores '?' and is logged.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "errorsys/errorsys.h"
#include "gui/gui.h"
#include "mainwin/mainwin.h"
#include "ole/ole.h"
#include "resources/resources.h"
#include "workflow_support.h"
#include "zorbanectl/zorbanectl.h"

namespace {

using wftest::flagsOf;

// Two states of one family whose names need Windows-1252, and a family whose class name does not
// fit it.
const char* const kAccentedStoreSql = R"sql(
INSERT INTO zfamily (family_id, name, position) VALUES (1, 'Fämilie Ä', 1), (2, 'Fämilie B', 2), (3, 'Griechisch', 3);
INSERT INTO zclass (class_id, family_id, name, position) VALUES
  (10, 1, 'Größe', 1), (11, 1, 'Café', 2), (20, 2, 'Größe', 1), (21, 2, 'Café', 2), (30, 3, 'Ωmega', 1);
INSERT INTO zsuperclass (class_id, super_id, position) VALUES (11, 10, 1), (21, 20, 1);
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code) VALUES
  (100, 10, 'Ángel', 1, 'I', 5), (101, 11, 'Œuvre €', 1, 'I', 4),
  (110, 20, 'Ángel', 1, 'I', 5), (111, 21, 'Œuvre €', 1, 'I', 2);
INSERT INTO zfamily (family_id, name, position) VALUES (4, 'Gemischt', 4);
INSERT INTO zclass (class_id, family_id, name, position) VALUES (40, 4, 'Alpha', 1), (41, 4, 'KlasseΩ', 2), (42, 4, 'Beta', 3);
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code) VALUES
  (400, 40, 'A1', 1, 'I', 5), (401, 40, 'A2', 2, 'I', 2), (410, 41, 'K1', 1, 'I', 5), (420, 42, 'B1', 1, 'I', 4);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)
INSERT INTO zproperty (property_id, class_id, name, position, level, type_code) SELECT 1000 + i, 30, 'P' || i, i, 'I', 5 FROM n;
)sql";

class AccentedNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gui::registerWindowClasses();
    ASSERT_TRUE(res::InstallResources());
    zctl::registerControl();
  }
  void SetUp() override {
    ole::setStorageDirectories({dir.path().string()});
    win = std::make_unique<mainwin::ZorbaneWin>(nullptr);
    win->InitialIndexBuild(false);
    win->Show();
  }
  void TearDown() override {
    win.reset();
    ole::setStorageDirectories({});
  }
  static int itemOf(const gui::ListControl* list, const std::string& text) {
    for (int i = 1; i <= list->ItemCount(); ++i)
      if (list->GetItem(i) == text) return i;
    ADD_FAILURE() << "no item \"" << text << "\"";
    return 0;
  }
  void load(const std::string& family, const std::string& version) {
    win->ModelName(version);
    win->oClassFamilyName->pick(itemOf(win->oClassFamilyName, family));
    ASSERT_TRUE(win->oPbExecute->IsEnabled());
    win->oPbExecute->click();
  }
  model::Mpdms& table() { return *win->ModelServer; }

  wftest::WorkDir dir{kAccentedStoreSql};
  wftest::ErrorRecorder errors;
  gui::TestResponder responder;
  std::unique_ptr<mainwin::ZorbaneWin> win;
};

TEST_F(AccentedNames, LoadAndCompareUnderFifteenCharacterAccentedVersions) {
  const std::string base = "äpfel-Birnen-öü", reference = "Birnen-äpfel-üö";  // 15 characters, 18 bytes
  load("Fämilie Ä", base);
  load("Fämilie B", reference);
  const std::vector<std::string> rows = wftest::rowsInRecordOrder(table());
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0], "äpfel-Birnen-öü|Größe||||||Fämilie Ä");
  EXPECT_EQ(rows[1], "äpfel-Birnen-öü|Größe||P|Ángel|String|I|Fämilie Ä");
  EXPECT_EQ(rows[3], "äpfel-Birnen-öü|Café|Größe|P|Œuvre €|Real|I|Fämilie Ä");
  // The file holds the names in Windows-1252, one byte per character.
  const std::string bytes = wftest::readFile(dir.path() / "Mpdms.dbf");
  for (const char* stored : {"\xE4pfel-Birnen-\xF6\xFC", "Gr\xF6\xDF" "e", "\xC1ngel", "\x8Cuvre \x80"})
    EXPECT_NE(bytes.find(stored), std::string::npos) << stored;
  EXPECT_EQ(bytes.find("Größe"), std::string::npos);

  // Both versions are listed whole and compare; every row is found by its accented keys.
  ASSERT_EQ(win->oBaseModel->ItemCount(), 2);
  win->oBaseModel->pick(itemOf(win->oBaseModel, base));
  win->oRefModel->pick(itemOf(win->oRefModel, reference));
  ASSERT_TRUE(win->oPbCompareModels->IsEnabled());
  win->oPbCompareModels->click();
  EXPECT_EQ(responder.records().back().text, "We have finished comparing the two model structures!");
  for (const std::string& v : {base, reference}) {
    EXPECT_EQ(flagsOf(table(), v, "Größe"), "FTFFTTT") << v;
    EXPECT_EQ(flagsOf(table(), v, "Größe", "Ángel"), "FTFFTTT") << v;
    EXPECT_EQ(flagsOf(table(), v, "Café"), "FTFFTTT") << v;
    EXPECT_EQ(flagsOf(table(), v, "Café", "Œuvre €"), "FFTFTTT") << v;  // Real here, Integer there
  }
  EXPECT_TRUE(errors.errors.empty());
}

TEST_F(AccentedNames, ShortAccentedVersionTypedByHandIsComparedAtFieldWidth) {
  load("Fämilie Ä", "Größe 1");
  load("Fämilie B", "Größe 2");
  win->oBaseModel->pick(itemOf(win->oBaseModel, "Größe 1        "));  // padded to 15 characters
  win->oRefModel->pick(itemOf(win->oRefModel, "Größe 2        "));
  win->BaseModel(rt::Value("Größe 1"));  // typed over the picked entry, without the stored blanks
  win->oPbCompareModels->click();
  EXPECT_EQ(responder.records().back().text, "We have finished comparing the two model structures!");
  EXPECT_EQ(flagsOf(table(), "Größe 1", "Café", "Œuvre €"), "FFTFTTT");
  EXPECT_TRUE(errors.errors.empty());
}

std::vector<gui::BoxRecord> errorBoxesOf(const gui::TestResponder& responder) {
  std::vector<gui::BoxRecord> boxes;
  for (const auto& box : responder.records())
    if (box.kind == gui::BoxRecord::Kind::Error) boxes.push_back(box);
  return boxes;
}

TEST_F(AccentedNames, ANameOutsideTheCodePageIsAskedOnceForAllItsRowsAndDefaultStoresAQuestionMark) {
  app::InstallErrorSys();
  gui::installErrorBox();
  responder.clear();  // an empty queue takes each box's first choice: Default for the error box
  load("Griechisch", "1.0");  // the class Ωmega and its 300 properties: 301 rows
  rt::setErrorBlock({});

  const std::vector<gui::BoxRecord> errorBoxes = errorBoxesOf(responder);
  ASSERT_EQ(errorBoxes.size(), 1u);
  const gui::BoxRecord& box = errorBoxes[0];
  EXPECT_EQ(box.choices[0], 1u);  // Default offered
  EXPECT_EQ(box.answer, 1);
  for (const char* part : {"CLASSNAME", "\"Ωmega\"", "\"Ω\" (U+03A9)", "Default stores \"?\" in its place"})
    EXPECT_NE(box.text.find(part), std::string::npos) << part << "\n" << box.text;
  // Every row was written, and the closing box says which name was changed, not that rows are missing.
  EXPECT_EQ(responder.records().back().caption, "Read Class Structure");
  EXPECT_NE(responder.records().back().text.find("was read completely: 301 rows were written"), std::string::npos)
      << responder.records().back().text;
  EXPECT_NE(responder.records().back().text.find("Ωmega"), std::string::npos);

  const std::vector<std::string> rows = wftest::rowsInRecordOrder(table());
  ASSERT_EQ(rows.size(), 301u);
  EXPECT_EQ(rows[0], "1.0|?mega||||||Griechisch");
  EXPECT_EQ(rows[300], "1.0|?mega||P|P300|String|I|Griechisch");
  const std::string log = wftest::readFile(dir.path() / "APPERROR.LOG");
  EXPECT_NE(log.find("\"Ω\" (U+03A9)"), std::string::npos) << log;
  EXPECT_EQ(log.find("*ERROR*"), log.rfind("*ERROR*"));  // one entry
}

// While the load waits at the box, another process rebuilds the index from the table as it is
// on disk: it must find only whole rows there, and no lock held by the waiting load.
TEST_F(AccentedNames, AnIndexRebuiltByAnotherProcessWhileTheLoadWaitsAtABoxAgreesWithTheTable) {
  int reindexStatus = -1;
  rt::setErrorBlock([&](const rt::ErrorPtr& e) -> rt::Value {
    errors.errors.push_back(e);
    const std::string command = "timeout 30 " + std::string(ZMC_CLI) + " -C " + dir.path().string() +
                                " reindex >/dev/null 2>&1";
    reindexStatus = std::system(command.c_str());
    return rt::Value(false);
  });
  load("Gemischt", "1.0");
  ASSERT_EQ(errors.count(rt::EG_DATATYPE), 1);
  EXPECT_EQ(reindexStatus, 0) << "the other process could not rebuild the index while the box was up";
  const std::size_t rows = wftest::rowsInRecordOrder(table()).size();
  ASSERT_EQ(rows, 7u);
  // The command line lists the version from the index: once, with every row.
  const std::string listing = dir.path() / "versions.out";
  ASSERT_EQ(std::system((std::string(ZMC_CLI) + " -C " + dir.path().string() + " versions >" + listing).c_str()), 0);
  EXPECT_EQ(wftest::readFile(listing), "1.0\tGemischt\t7\n");
  // Every row is found under its own key in both orders, by another opener of the table.
  model::Mpdms::Args args;
  args.shared = true;
  model::Mpdms other(args);
  for (int order = 1; order <= 2; ++order) {
    other.setOrder(order);
    std::size_t found = 0;
    for (other.seek(workflow::fullWidthVersion("1.0")); !other.eof() && other.str(model::Field::MODELVERS) == workflow::fullWidthVersion("1.0"); other.skip())
      ++found;
    EXPECT_EQ(found, rows) << "order " << order;
  }
}

TEST_F(AccentedNames, BreakAtTheBoxOfANameOutsideTheCodePageLeavesNoRow) {
  errors.breakOnError = true;
  load("Griechisch", "1.0");
  ASSERT_EQ(errors.count(rt::EG_DATATYPE), 1);
  EXPECT_EQ(table().lastRec(), 0u);
  EXPECT_EQ(win->oBaseModel->ItemCount(), 0);
}

TEST_F(AccentedNames, AVersionTheTableCannotHoldIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* version;
    const char* says;
  } cases[] = {
      {"Ω1", "holds \"Ω\" (U+03A9), which code page Windows-1252 of the model table cannot store"},
      {"v\t1", "control character (U+0009)"},
      {"v\n1", "control character (U+000A)"},
      {"v\x7F", "control character (U+007F)"},
  };
  for (const Case& c : cases) {
    responder.clear();
    load("Fämilie Ä", c.version);
    EXPECT_EQ(responder.records().size(), 1u) << c.version;
    EXPECT_EQ(responder.records().back().caption, "Read Class Structure");
    EXPECT_NE(responder.records().back().text.find(c.says), std::string::npos) << responder.records().back().text;
    EXPECT_NE(responder.records().back().text.find("nothing was loaded"), std::string::npos);
  }
  EXPECT_EQ(table().lastRec(), 0u);
  EXPECT_TRUE(errors.errors.empty());
}

}  // namespace

namespace {

TEST(VersionWidth, FifteenCharactersAreCountedInCharactersNotBytes) {
  EXPECT_EQ(workflow::fullWidthVersion("äpfel-Birnen-öü"), "äpfel-Birnen-öü");      // 18 bytes, kept whole
  EXPECT_EQ(workflow::fullWidthVersion("äpfel-Birnen-öüß"), "äpfel-Birnen-öü");     // cut after a whole character
  EXPECT_EQ(workflow::fullWidthVersion("Größe"), "Größe" + std::string(10, ' '));   // padded to 15 characters
}

}  // namespace
