#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../support/fifo.h"

#include "fake_server.h"

namespace {

namespace fs = std::filesystem;

TEST(StoredStateText, SectionKeysAndQuotedValuesAreRead) {
  ole::StoredState state;
  std::string message;
  ASSERT_TRUE(ole::parseStoredState("; comment\n[Other.X]\nClass = Nope\n[Win.Ctl]\nClass = Test.Control\n"
                                    "HostName = host one\nEnvironment = \"  padded  \"\nEmpty =\n",
                                    "win.ctl", state, message))
      << message;
  EXPECT_EQ(state.className, "Test.Control");
  EXPECT_EQ(state.value("hostname"), "host one");
  EXPECT_EQ(state.value("Environment"), "  padded  ");
  EXPECT_TRUE(state.has("Empty"));
  EXPECT_EQ(state.value("Missing", "fallback"), "fallback");
}

TEST(StoredStateText, MalformedTextIsRefusedNamingTheLine) {
  ole::StoredState state;
  std::string message;
  EXPECT_FALSE(ole::parseStoredState("[Win.Ctl]\nClass = A\njust words\n", "Win.Ctl", state, message));
  EXPECT_NE(message.find("line 3"), std::string::npos);
  EXPECT_FALSE(ole::parseStoredState("[Win.Ctl\n", "Win.Ctl", state, message));
  EXPECT_FALSE(ole::parseStoredState("[Win.Ctl]\nHostName = x\n", "Win.Ctl", state, message));
  EXPECT_NE(message.find("Class"), std::string::npos);
  EXPECT_FALSE(ole::parseStoredState("[A.B]\nClass = x\n", "Win.Ctl", state, message));
  EXPECT_FALSE(ole::parseStoredState("[Win.Ctl]\nClass = A\n[Win.Ctl]\nClass = B\n", "Win.Ctl", state, message));
}

TEST(StoredStateText, QuotedValuesMustCloseAtTheEndOfTheValue) {
  ole::StoredState state;
  std::string message;
  ASSERT_TRUE(ole::parseStoredState("[W.C]\nClass = A\nQ = \"say \\\"hi\\\" \\\\ \"\n", "W.C", state, message)) << message;
  EXPECT_EQ(state.value("Q"), "say \"hi\" \\ ");
  for (const char* bad : {"Q = \"open", "Q = \"", "Q = \"ends in escape\\\"", "Q = \"a\" b"}) {
    message.clear();
    EXPECT_FALSE(ole::parseStoredState(std::string("[W.C]\nClass = A\n") + bad + "\nZ = 1\n", "W.C", state, message))
        << bad;
    EXPECT_NE(message.find("line 3"), std::string::npos) << bad << ": " << message;
    EXPECT_NE(message.find("quote"), std::string::npos) << bad << ": " << message;
  }
}

TEST(StoredStateText, RelativePathsResolveAgainstTheFilesDirectory) {
  ole::StoredState state;
  state.directory = "/opt/zmc/";
  EXPECT_EQ(state.resolvePath("store.db"), "/opt/zmc/store.db");
  EXPECT_EQ(state.resolvePath("/abs/store.db"), "/abs/store.db");
}

// The default search: the working folder, the executable's folder, then the data folder of an
// installed program (bin/../share/zorbane-compare), each listed once.
struct DefaultStorageDirectories : ::testing::Test {
  void SetUp() override {
    ole::setStorageDirectories({});
    previous = fs::current_path();
    exeDir = fs::canonical("/proc/self/exe").parent_path();
  }
  void TearDown() override { fs::current_path(previous); }
  fs::path previous, exeDir;
};

TEST_F(DefaultStorageDirectories, WorkingFolderExecutableFolderThenInstalledData) {
  const fs::path work = fs::temp_directory_path() / ("zmc_ole_cwd_" + std::to_string(::getpid()));
  fs::create_directories(work);
  fs::current_path(work);
  const std::vector<std::string> dirs = ole::storageDirectories();
  fs::current_path(previous);
  fs::remove_all(work);
  ASSERT_EQ(dirs.size(), 3u);
  EXPECT_EQ(dirs[0], work.string() + "/");
  EXPECT_EQ(dirs[1], exeDir.string() + "/");
  EXPECT_EQ(dirs[2], (exeDir.parent_path() / "share/zorbane-compare").string() + "/");
}

TEST_F(DefaultStorageDirectories, WorkingFolderThatIsTheExecutablesIsListedOnce) {
  fs::current_path(exeDir);
  const std::vector<std::string> dirs = ole::storageDirectories();
  ASSERT_EQ(dirs.size(), 2u);
  EXPECT_EQ(dirs[0], exeDir.string() + "/");
  EXPECT_EQ(dirs[1], (exeDir.parent_path() / "share/zorbane-compare").string() + "/");
}

struct CreateFromStorage : ::testing::Test {
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zmc_ole_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ole::setStorageDirectories({dir.string()});
    ole::registerControlClass("Test.Control", [this](const ole::StoredState& state, ole::ExcepInfo& excep) {
      seen = state;
      if (state.value("Fail") == "yes") {
        excep.genCode = rt::EG_OPEN;
        excep.description = "store missing";
        excep.fileName = state.resolvePath("store.db");
        return ole::DispatchPtr();
      }
      return ole::DispatchPtr(new FakeServer());
    });
  }
  void TearDown() override {
    ole::setStorageDirectories({});
    fs::remove_all(dir);
  }
  void write(const std::string& text) { std::ofstream(dir / "OLE29.ctlstate") << text; }
  fs::path dir;
  ole::StoredState seen;
  const ole::OleAppDocStorage storage{"OLE29", "ZorbaneWin", "Zorbane"};
};

TEST_F(CreateFromStorage, RegisteredClassIsCreatedWithItsSection) {
  write("[ZorbaneWin.Zorbane]\nClass = test.control\nHostName = h\n");
  auto control = ole::createFromAppDocStorage(storage);
  ASSERT_TRUE(control);
  EXPECT_TRUE(control->hasInterface());
  EXPECT_EQ(seen.value("HostName"), "h");
  EXPECT_EQ(seen.directory, dir.string() + "/");
}

TEST_F(CreateFromStorage, MissingFileIsAnOpenErrorNamingIt) {
  ErrorRecorder errors;
  EXPECT_FALSE(ole::createFromAppDocStorage(storage));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OPEN);
  EXPECT_EQ(errors.last()->fileName, "OLE29.ctlstate");
  EXPECT_NE(errors.last()->description.find(dir.string()), std::string::npos);
}

TEST_F(CreateFromStorage, RetryAfterTheFileAppearsSucceeds) {
  ErrorRecorder errors;
  rt::setErrorBlock([this](const rt::ErrorPtr&) {
    write("[ZorbaneWin.Zorbane]\nClass = Test.Control\n");
    return rt::Value(true);
  });
  EXPECT_TRUE(ole::createFromAppDocStorage(storage));
}

TEST_F(CreateFromStorage, MissingSectionIsCorruptionNamingFileAndSection) {
  ErrorRecorder errors;
  write("[Other.Window]\nClass = Test.Control\n");
  EXPECT_FALSE(ole::createFromAppDocStorage(storage));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_CORRUPTION);
  EXPECT_NE(errors.last()->description.find("ZorbaneWin.Zorbane"), std::string::npos);
  EXPECT_NE(errors.last()->fileName.find("OLE29.ctlstate"), std::string::npos);
}

TEST_F(CreateFromStorage, UnregisteredClassIsRaisedNamingIt) {
  ErrorRecorder errors;
  write("[ZorbaneWin.Zorbane]\nClass = No.Such.Control\n");
  EXPECT_FALSE(ole::createFromAppDocStorage(storage));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OLE);
  EXPECT_NE(errors.last()->description.find("No.Such.Control"), std::string::npos);
}

TEST_F(CreateFromStorage, FactoryFailureKeepsItsCodeAndFile) {
  ErrorRecorder errors;
  write("[ZorbaneWin.Zorbane]\nClass = Test.Control\nFail = yes\n");
  EXPECT_FALSE(ole::createFromAppDocStorage(storage));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_OPEN);
  EXPECT_EQ(errors.last()->fileName, (dir / "store.db").string());
}

TEST_F(CreateFromStorage, FifoInPlaceOfTheFileIsRefusedWithoutBlocking) {
  ErrorRecorder errors;
  Fifo fifo((dir / "OLE29.ctlstate").string());
  ASSERT_TRUE(fifo.made());
  EXPECT_FALSE(ole::createFromAppDocStorage(storage));
  EXPECT_FALSE(fifo.blockedAReader());
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_READ);
  EXPECT_NE(errors.last()->description.find("not a regular file"), std::string::npos);
  EXPECT_NE(errors.last()->fileName.find("OLE29.ctlstate"), std::string::npos);
}

TEST_F(CreateFromStorage, UnterminatedQuoteInTheFileIsCorruptionWithItsLine) {
  ErrorRecorder errors;
  write("[ZorbaneWin.Zorbane]\nClass = Test.Control\nEnvironment = \"cut short\n");
  EXPECT_FALSE(ole::createFromAppDocStorage(storage));
  ASSERT_EQ(errors.errors.size(), 1u);
  EXPECT_EQ(errors.last()->genCode, rt::EG_CORRUPTION);
  EXPECT_NE(errors.last()->description.find("line 3: unterminated quote"), std::string::npos);
}

}  // namespace
