// The program as a user installs it: `cmake --install` of this build into a temporary prefix, and
// the Debian package made by cpack and unpacked with dpkg-deb. The installed program runs as a
// second process, offscreen, with a window driver preloaded that picks a family and presses the
// window's buttons; the test then reads the model table the program wrote.
#include <gtest/gtest.h>
#include <QImage>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "rdd/rdd.h"
#include "runtime/runtime.h"
#include "error_recorder.h"

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Outcome {
  int code = -1;
  std::string output;  // stdout and stderr
};

// Runs a command line in `dir` with extra environment settings, at most 60 seconds.
Outcome run(const std::vector<std::string>& argv, const fs::path& dir, const std::vector<std::string>& env = {}) {
  static int serial = 0;
  const fs::path out = fs::temp_directory_path() / ("zmc_install_out_" + std::to_string(::getpid()) + "_" +
                                                    std::to_string(++serial));
  std::string command = "cd " + quoted(dir.string()) + " && env";
  for (const auto& setting : env) command += " " + quoted(setting);
  command += " timeout 60";
  for (const auto& arg : argv) command += " " + quoted(arg);
  command += " >" + quoted(out.string()) + " 2>&1";
  const int status = std::system(command.c_str());
  Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(out)};
  fs::remove(out);
  return outcome;
}

// What the window driver noted while the program ran, and how the program ended.
struct Session {
  int code = -1;
  std::string output;
  std::vector<std::string> notes;
  bool noted(const std::string& prefix) const {
    for (const auto& n : notes)
      if (n.rfind(prefix, 0) == 0) return true;
    return false;
  }
  std::string note(const std::string& prefix) const {
    for (const auto& n : notes)
      if (n.rfind(prefix, 0) == 0) return n.substr(prefix.size());
    return {};
  }
  std::string all() const {
    std::string text = "exit " + std::to_string(code) + "\n" + output;
    for (const auto& n : notes) text += n + "\n";
    return text;
  }
};

// Starts `program` offscreen in `dir` with the window driver; a non-empty family is loaded as
// `version` before the driver presses "Exit".
Session drive(const fs::path& program, const fs::path& dir, const std::string& family = {},
              const std::string& version = {}, std::vector<std::string> env = {}) {
  const fs::path transcript = dir / "driver-transcript.txt";
  fs::remove(transcript);
  env.insert(env.end(), {"QT_QPA_PLATFORM=offscreen", "LD_PRELOAD=" ZMC_WINDOW_DRIVER,
                         "ZMC_DRIVE_TRANSCRIPT=" + transcript.string(), "ZMC_DRIVE_FAMILY=" + family,
                         "ZMC_DRIVE_VERSION=" + version});
  Outcome outcome = run({program.string()}, dir, env);
  Session session{outcome.code, outcome.output, {}};
  std::istringstream lines(readAll(transcript));
  for (std::string line; std::getline(lines, line);) session.notes.push_back(line);
  return session;
}

std::string trimmed(const rt::Value& v) {
  std::string s = v.asString();
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The rows of one version in Mpdms.dbf: class names of the class rows and the member count.
struct VersionRows {
  std::set<std::string> classes;
  int members = 0;
  std::set<std::string> families;
};

VersionRows rowsOf(const fs::path& dir, const std::string& version) {
  ErrorRecorder errors;
  VersionRows rows;
  rdd::OpenOptions options;
  options.readOnly = true;
  auto table = rdd::Table::open("Mpdms.dbf", dir.string() + "/", options);
  if (!table) {
    ADD_FAILURE() << "cannot open the model table in " << dir;
    return rows;
  }
  for (table->goTop(); !table->eof(); table->skip()) {
    if (trimmed(table->get("MODELVERS")) != version) continue;
    rows.families.insert(trimmed(table->get("FAMILYNAME")));
    if (trimmed(table->get("PROP_METHO")).empty())
      rows.classes.insert(trimmed(table->get("CLASSNAME")));
    else
      ++rows.members;
  }
  EXPECT_TRUE(errors.errors.empty());
  return rows;
}

// The same from the schema store: a family's classes and the members they define themselves.
VersionRows storeRowsOf(const fs::path& store, const std::string& family) {
  VersionRows rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << store;
    sqlite3_close(db);
    return rows;
  }
  auto each = [&](const char* sql, auto&& row) {
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK) << sql;
    sqlite3_bind_text(st, 1, family.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) row(st);
    sqlite3_finalize(st);
  };
  each("SELECT c.name FROM zclass c JOIN zfamily f USING (family_id) WHERE f.name = ?1",
       [&](sqlite3_stmt* st) { rows.classes.insert(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))); });
  each("SELECT (SELECT count(*) FROM zproperty p JOIN zclass c USING (class_id) JOIN zfamily f USING (family_id)"
       " WHERE f.name = ?1) + (SELECT count(*) FROM zmethod m JOIN zclass c USING (class_id) JOIN zfamily f"
       " USING (family_id) WHERE f.name = ?1)",
       [&](sqlite3_stmt* st) { rows.members = sqlite3_column_int(st, 0); });
  rows.families.insert(family.substr(0, 15));  // FAMILYNAME holds 15 characters
  sqlite3_close(db);
  return rows;
}

void expectSameRows(const VersionRows& got, const VersionRows& want) {
  EXPECT_EQ(got.classes, want.classes);
  EXPECT_EQ(got.members, want.members);
  EXPECT_EQ(got.families, want.families);
  EXPECT_FALSE(want.classes.empty());
}

void copyFolder(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  // Installed files may be read-only; a user's copy is theirs to write.
  for (const auto& entry : fs::recursive_directory_iterator(to))
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
}

void copyEmptyTable(const fs::path& dir) {
  fs::copy_file(ZMC_SOURCE_DIR "/demo/Mpdms.dbf", dir / "Mpdms.dbf");
  fs::permissions(dir / "Mpdms.dbf", fs::perms::owner_write, fs::perm_options::add);
}

// Every regular file under `root`, as paths relative to it.
std::set<std::string> filesUnder(const fs::path& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
  return files;
}

bool executable(const fs::path& file) { return ::access(file.c_str(), X_OK) == 0; }

// How many different colours a picture holds.
std::size_t coloursIn(const QImage& image) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  return colours.size();
}

const std::vector<std::string> kLayouts{"Class Listing.rpt", "Differences.rpt", "Model Versions.rpt"};
const std::string kPrivateLibrary = ZMC_PRIVATE_LIB "/libzmcbitmap.so";
const std::vector<int> kIconSizes{16, 32, 48, 64, 128, 256};

// The files an install must hold, relative to the prefix.
std::vector<std::string> expectedFiles() {
  std::vector<std::string> files{"bin/zorbane-compare", "bin/zorbane-compare-desktop",
                                 kPrivateLibrary,
                                 "share/applications/zorbane-compare.desktop",
                                 "share/icons/hicolor/scalable/apps/zorbane-compare.svg",
                                 "share/zorbane-compare/OLE29.ctlstate", "share/zorbane-compare/zorbane-demo.db",
                                 "share/zorbane-compare/zorbane-schema.sql", "share/zorbane-compare/zorbane-demo.sql",
                                 "share/zorbane-compare/demo/Mpdms.dbf", "share/zorbane-compare/demo/OLE29.ctlstate",
                                 "share/zorbane-compare/demo/zorbane-demo.db", "share/doc/zorbane-compare/README.md",
                                 "share/doc/zorbane-compare/docs/user-guide.md",
                                 "share/doc/zorbane-compare/docs/zorbane-database.md",
                                 "share/doc/zorbane-compare/docs/formats/dbf.md",
                                 "share/doc/zorbane-compare/docs/formats/cdx.md"};
  if (ZMC_HAS_CLI) files.push_back("bin/zorbane-compare-cli");
  for (const auto& layout : kLayouts) {
    files.push_back("share/zorbane-compare/layouts/" + layout);
    files.push_back("share/zorbane-compare/demo/" + layout);
  }
  for (int n : kIconSizes)
    files.push_back("share/icons/hicolor/" + std::to_string(n) + "x" + std::to_string(n) + "/apps/zorbane-compare.png");
  return files;
}

// One temporary folder per test process, holding the install prefix and the users' folders.
class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("zmc_install_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    const Outcome install = run({ZMC_CMAKE, "--install", ZMC_BUILD_DIR, "--prefix", prefix().string()}, root_);
    ASSERT_EQ(install.code, 0) << install.output;
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }
  void SetUp() override {
    if (!fs::exists(prefix() / "bin/zorbane-compare")) GTEST_SKIP() << "the install failed";
  }

  static fs::path prefix() { return root_ / "prefix"; }
  static fs::path program() { return prefix() / "bin/zorbane-compare"; }
  static fs::path shared() { return prefix() / "share/zorbane-compare"; }
  // A fresh folder under the temporary root.
  static fs::path folder(const std::string& name) {
    fs::path dir = root_ / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
  }
  // A copy of the prefix made of hard links: its folders can change without touching the install.
  static fs::path linkedPrefix(const std::string& name) {
    fs::path copy = root_ / name;
    fs::remove_all(copy);
    fs::copy(prefix(), copy, fs::copy_options::recursive | fs::copy_options::create_hard_links);
    return copy;
  }

  static fs::path root_;
};
fs::path Installed::root_;

// ---------------------------------------------------------------- layout

TEST_F(Installed, PrefixHoldsProgramLibraryDataMenuEntryIconsAndDocs) {
  for (const auto& file : expectedFiles()) EXPECT_TRUE(fs::is_regular_file(prefix() / file)) << file;
  for (const char* bin : {"bin/zorbane-compare", "bin/zorbane-compare-desktop"})
    EXPECT_TRUE(executable(prefix() / bin)) << bin;
  const auto icon = [](int n) {
    const std::string size = std::to_string(n);
    return QImage(QString::fromStdString((prefix() / "share/icons/hicolor" / (size + "x" + size) /
                                          "apps/zorbane-compare.png").string()));
  };
  for (int n : kIconSizes) EXPECT_EQ(icon(n).size(), QSize(n, n)) << n;
  // Each size is drawn from the vector drawing, not a 16-colour picture enlarged: the largest
  // shows the drawing's shading and smoothed edges.
  EXPECT_GT(coloursIn(icon(256)), 256u);
  // The demo's table is the empty one, and the printer tests' reference pages are not user docs.
  EXPECT_EQ(fs::file_size(shared() / "demo/Mpdms.dbf"), fs::file_size(ZMC_SOURCE_DIR "/demo/Mpdms.dbf"));
  EXPECT_FALSE(fs::exists(prefix() / "share/doc/zorbane-compare/docs/reference"));
}

TEST_F(Installed, VersionIsTheBuildsVersion) {
  const Outcome version = run({program().string(), "--version"}, root_);
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.output, "zorbane-compare " ZMC_VERSION "\n");
}

TEST_F(Installed, MenuEntryIsValidAndNamesTheInstalledLauncherAndIcon) {
  const fs::path entry = prefix() / "share/applications/zorbane-compare.desktop";
  const Outcome check = run({"desktop-file-validate", entry.string()}, root_);
  EXPECT_EQ(check.code, 0) << check.output;
  EXPECT_EQ(check.output, "");
  std::map<std::string, std::string> keys;
  std::istringstream lines(readAll(entry));
  for (std::string line; std::getline(lines, line);)
    if (auto eq = line.find('='); eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
  EXPECT_TRUE(executable(prefix() / "bin" / keys["Exec"])) << keys["Exec"];
  EXPECT_TRUE(fs::exists(prefix() / ("share/icons/hicolor/48x48/apps/" + keys["Icon"] + ".png"))) << keys["Icon"];
}

// ---------------------------------------------------------------- the installed program

TEST_F(Installed, ProgramLoadsAFamilyInACopyOfTheInstalledDemo) {
  const fs::path work = folder("demo-copy");
  copyFolder(shared() / "demo", work);
  const Session session = drive(program(), work, "Library", "installed");
  EXPECT_EQ(session.code, 0) << session.all();
  EXPECT_EQ(session.note("window|"), "Zorbane Model Compare Utility - Tarnwell") << session.all();
  EXPECT_NE(session.note("families|").find("Library Revised Edition"), std::string::npos) << session.all();
  EXPECT_TRUE(session.noted("box|Finished|")) << session.all();
  EXPECT_FALSE(session.noted("box|ERROR")) << session.all();
  EXPECT_EQ(fs::path(session.note("bitmaplib|")).lexically_normal(),
            (prefix() / kPrivateLibrary).lexically_normal())
      << session.all();
  expectSameRows(rowsOf(work, "installed"), storeRowsOf(shared() / "demo/zorbane-demo.db", "Library"));
  // The installed demo itself is left as it was.
  EXPECT_FALSE(fs::exists(shared() / "demo/mpdms1.cdx"));
  EXPECT_EQ(fs::file_size(shared() / "demo/Mpdms.dbf"), fs::file_size(ZMC_SOURCE_DIR "/demo/Mpdms.dbf"));
}

TEST_F(Installed, StoredStateIsTakenFromTheSharedDataWhenTheWorkingFolderHasNone) {
  const fs::path work = folder("table-only");
  copyEmptyTable(work);
  const Session session = drive(program(), work, "Library", "from share");
  EXPECT_EQ(session.code, 0) << session.all();
  EXPECT_TRUE(session.noted("box|Finished|")) << session.all();
  expectSameRows(rowsOf(work, "from share"), storeRowsOf(shared() / "zorbane-demo.db", "Library"));
}

TEST_F(Installed, StoredStateBesideTheExecutableComesAfterTheWorkingFolderAndBeforeTheSharedData) {
  const fs::path moved = linkedPrefix("prefix-beside");
  std::ofstream(moved / "bin/OLE29.ctlstate") << "[ZorbaneWin.Zorbane]\nClass = Not.A.Control\n";
  const fs::path work = folder("beside");
  copyEmptyTable(work);
  const Session session = drive(moved / "bin/zorbane-compare", work);
  EXPECT_NE(session.code, 0) << session.all();
  const std::string box = session.note("box|ERROR|");
  EXPECT_NE(box.find("Not.A.Control"), std::string::npos) << session.all();
  EXPECT_NE(box.find((moved / "bin/OLE29.ctlstate").string()), std::string::npos) << session.all();
  EXPECT_FALSE(session.noted("window|")) << session.all();

  // The working folder's own stored state comes first of all.
  const fs::path demo = folder("beside-demo");
  copyFolder(shared() / "demo", demo);
  const Session fromDemo = drive(moved / "bin/zorbane-compare", demo, "Library", "cwd first");
  EXPECT_EQ(fromDemo.code, 0) << fromDemo.all();
  EXPECT_TRUE(fromDemo.noted("box|Finished|")) << fromDemo.all();
}

TEST_F(Installed, StoredStateFoundNowhereIsAnErrorListingEveryFolderSearched) {
  const fs::path moved = linkedPrefix("prefix-bare");
  fs::remove(moved / "share/zorbane-compare/OLE29.ctlstate");
  const fs::path work = folder("nowhere");
  copyEmptyTable(work);
  const Session session = drive(moved / "bin/zorbane-compare", work);
  EXPECT_NE(session.code, 0) << session.all();
  const std::string box = session.note("box|ERROR|");
  EXPECT_NE(box.find("OLE29.ctlstate"), std::string::npos) << session.all();
  for (const fs::path& searched : {work, moved / "bin", moved / "share/zorbane-compare"})
    EXPECT_NE(box.find(searched.string() + "/"), std::string::npos) << searched << "\n" << session.all();
  const std::string log = readAll(work / "APPERROR.LOG");
  EXPECT_NE(log.find((moved / "share/zorbane-compare/").string()), std::string::npos) << log;
  EXPECT_FALSE(session.noted("window|")) << session.all();
}

TEST_F(Installed, ProgramStartedInAFolderWithoutTheTableSaysWhatTheFolderNeedsAndWhereTheDemoIs) {
  const fs::path home = folder("no-table");
  const Session session = drive(program(), home);
  EXPECT_EQ(session.code, 1) << session.all();
  const std::string box = session.note("box|No Model Table|");
  EXPECT_NE(box.find("The folder " + home.string() + " has no model table Mpdms.dbf."), std::string::npos)
      << session.all();
  EXPECT_NE(box.find("cp -r " + (shared() / "demo").string() + " ~/zorbane-demo"), std::string::npos) << session.all();
  EXPECT_NE(session.output.find("has no model table Mpdms.dbf"), std::string::npos) << session.all();
  EXPECT_FALSE(session.noted("box|ERROR")) << session.all();
  EXPECT_FALSE(session.noted("window|")) << session.all();
  EXPECT_FALSE(fs::exists(home / "APPERROR.LOG"));
}

TEST_F(Installed, MenuLauncherStartsInTheUsersFolderAndKeepsItsTable) {
  const fs::path data = folder("xdg-data");
  const std::vector<std::string> env{"XDG_DATA_HOME=" + data.string()};
  const fs::path launcher = prefix() / "bin/zorbane-compare-desktop";
  const Session first = drive(launcher, root_, "Library", "first", env);
  EXPECT_EQ(first.code, 0) << first.all();
  EXPECT_TRUE(first.noted("box|Finished|")) << first.all();
  const fs::path work = data / "zorbane-compare";
  for (const auto& layout : kLayouts) EXPECT_TRUE(fs::exists(work / layout)) << layout;

  const Session second = drive(launcher, root_, "Library Revised Edition", "second", env);
  EXPECT_EQ(second.code, 0) << second.all();
  const fs::path store = shared() / "demo/zorbane-demo.db";
  expectSameRows(rowsOf(work, "first"), storeRowsOf(store, "Library"));
  expectSameRows(rowsOf(work, "second"), storeRowsOf(store, "Library Revised Edition"));
}

// ---------------------------------------------------------------- the Debian package

// The Debian package made by cpack from this build, made once for the tests that need it.
fs::path debianPackage(const fs::path& out) {
  static fs::path deb;
  if (!deb.empty()) return deb;
  const Outcome pack = run({ZMC_CPACK, "-G", "DEB", "--config", ZMC_BUILD_DIR "/CPackConfig.cmake", "-B", out.string()},
                           out);
  EXPECT_EQ(pack.code, 0) << pack.output;
  for (const auto& entry : fs::directory_iterator(out))
    if (entry.path().extension() == ".deb") deb = entry.path();
  EXPECT_FALSE(deb.empty()) << pack.output;
  return deb;
}

TEST_F(Installed, DebianPackageHoldsTheSameFilesUnderUsrAndItsProgramStarts) {
  const fs::path out = root_ / "cpack";
  fs::create_directories(out);
  const fs::path deb = debianPackage(out);
  ASSERT_FALSE(deb.empty());

  auto field = [&](const std::string& name) {
    std::string value = run({"dpkg-deb", "-f", deb.string(), name}, out).output;
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  };
  EXPECT_EQ(field("Package"), "zorbane-compare");
  EXPECT_EQ(field("Version"), ZMC_VERSION);
  EXPECT_EQ(field("Section"), "database");
  EXPECT_NE(field("Maintainer").find('@'), std::string::npos);
  EXPECT_NE(field("Description").find("Zorbane"), std::string::npos);
  const std::string depends = field("Depends");
  for (const char* library : {"libc6", "libstdc++6", "libqt6widgets6", "libqt6gui6", "libqt6core6", "libsqlite3-0"})
    EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;

  const fs::path unpacked = folder("unpacked");
  const Outcome extract = run({"dpkg-deb", "-x", deb.string(), unpacked.string()}, out);
  ASSERT_EQ(extract.code, 0) << extract.output;
  EXPECT_EQ(filesUnder(unpacked / "usr"), filesUnder(prefix()));

  const fs::path usr = unpacked / "usr";
  EXPECT_EQ(run({(usr / "bin/zorbane-compare").string(), "--version"}, out).output,
            "zorbane-compare " ZMC_VERSION "\n");
  const fs::path work = folder("deb-demo");
  copyFolder(usr / "share/zorbane-compare/demo", work);
  const Session session = drive(usr / "bin/zorbane-compare", work, "Library Revised Edition", "from deb");
  EXPECT_EQ(session.code, 0) << session.all();
  EXPECT_TRUE(session.noted("box|Finished|")) << session.all();
  EXPECT_EQ(fs::path(session.note("bitmaplib|")).lexically_normal(),
            (usr / kPrivateLibrary).lexically_normal())
      << session.all();
  expectSameRows(rowsOf(work, "from deb"), storeRowsOf(work / "zorbane-demo.db", "Library Revised Edition"));
}

// dpkg with its own database and file tree under `root`; maintainer scripts, if the package had
// any, would run outside it.
Outcome dpkg(const fs::path& root, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"dpkg", "--root=" + root.string(), "--force-not-root",
                                       "--force-depends", "--force-script-chrootless"});
  return run(arguments, root);
}

TEST_F(Installed, DebianPackageRemovedOrPurgedLeavesNothingBehind) {
  const fs::path out = root_ / "cpack";
  fs::create_directories(out);
  const fs::path deb = debianPackage(out);
  ASSERT_FALSE(deb.empty());
  const fs::path root = folder("dpkg-root");
  fs::create_directories(root / "var/lib/dpkg/info");
  fs::create_directories(root / "var/lib/dpkg/updates");
  std::ofstream(root / "var/lib/dpkg/status").flush();

  for (const char* removal : {"--remove", "--purge"}) {
    const Outcome install = dpkg(root, {"--install", deb.string()});
    ASSERT_EQ(install.code, 0) << install.output;
    ASSERT_TRUE(fs::exists(root / "usr/bin/zorbane-compare"));
    const Outcome removed = dpkg(root, {removal, "zorbane-compare"});
    EXPECT_EQ(removed.code, 0) << removal << "\n" << removed.output;
    // Not even "rc": dpkg no longer knows the package at all.
    const Outcome status = run({"dpkg-query", "--root=" + root.string(), "--show", "--showformat=${db:Status-Abbrev}",
                                "zorbane-compare"},
                               root);
    EXPECT_NE(status.code, 0) << removal << ": " << status.output;
    EXPECT_FALSE(fs::exists(root / "usr/bin/zorbane-compare")) << removal;
    EXPECT_FALSE(fs::exists(root / "usr/share/zorbane-compare")) << removal;
  }
}

}  // namespace
