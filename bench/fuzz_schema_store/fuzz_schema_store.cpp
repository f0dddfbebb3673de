// Fuzzes the schema store as the database control reads it. Each input makes the store file in a
// scratch folder, then the control is created from a stored state naming it, connected, and the
// whole schema walked. Byte 0 chooses the file:
//   0  the demo store, with the rows the rest of the input gives added or replaced;
//   1  an empty store (tables and marker only), with the rows of the input;
//   2  the rest of the input as the file itself.
// Rows: a byte picks the table, then each column takes a small signed integer (one byte, so ids
// collide and reference each other, superclass cycles included) or a short text (a length byte
// and that many bytes).
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "schema_walk.h"
#include "scratch.h"

namespace {

const fuzz::ScratchDir& scratch() {
  static const fuzz::ScratchDir dir("fuzz_schema_store");
  return dir;
}

// Each table with one letter per column: i integer, t text.
struct TableShape {
  const char* name;
  const char* columns;
};
constexpr TableShape kTables[] = {
    {"zfamily", "iti"},          {"zclass", "iiti"},       {"zsuperclass", "iii"},
    {"zproperty", "iititiiiitiit"}, {"zmethod", "iititiitii"}, {"zparameter", "iitiiiiit"},
    {"zquery", "itt"},           {"zstore_info", "tt"}};

std::string g_demoStore, g_emptyStore;

std::string emptyStore() {
  const std::string path = scratch().file("empty.db");
  const std::string schema = [] {
    std::ifstream in(std::string(ZMC_DEMO_DIR) + "/zorbane-schema.sql");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
    std::abort();
  sqlite3_close(db);
  std::string bytes = scratch().read("empty.db");
  scratch().remove("empty.db");
  return bytes;
}

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool more() const { return at_ < size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string text() {
    std::size_t n = byte() % 24;
    n = std::min(n, size_ - at_);
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void addRows(const std::string& path, InputReader& in) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) std::abort();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  while (in.more()) {
    const TableShape& table = kTables[in.byte() % std::size(kTables)];
    const std::string columns = table.columns;
    std::string sql = std::string("INSERT OR REPLACE INTO ") + table.name + " VALUES (?";
    for (std::size_t i = 1; i < columns.size(); ++i) sql += ", ?";
    sql += ")";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) std::abort();
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const int column = static_cast<int>(i) + 1;
      if (columns[i] == 'i') {
        sqlite3_bind_int(st, column, static_cast<std::int8_t>(in.byte()));
      } else {
        const std::string text = in.text();
        sqlite3_bind_text(st, column, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      }
    }
    (void)sqlite3_step(st);  // a row the schema's checks refuse is simply not there
    sqlite3_finalize(st);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (sqlite3_close(db) != SQLITE_OK) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
  std::filesystem::copy_file(std::string(ZMC_DEMO_DIR) + "/zorbane-demo.db", scratch().file("demo.db"));
  g_demoStore = scratch().read("demo.db");
  g_emptyStore = emptyStore();
  scratch().write("OLE29.ctlstate",
                  std::string("[ZorbaneWin.Zorbane]\nClass = Zorbane.Control\nDatabase = store.db\nShowLogon = false\n"));
  ole::setStorageDirectories({scratch().folder()});
  zctl::registerControl();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  InputReader in(data + 1, size - 1);
  const std::string path = scratch().file("store.db");
  switch (data[0] % 3) {
    case 0: scratch().write("store.db", g_demoStore); addRows(path, in); break;
    case 1: scratch().write("store.db", g_emptyStore); addRows(path, in); break;
    default: scratch().write("store.db", data + 1, size - 1); break;
  }
  ole::AutoObjectPtr control = ole::createFromAppDocStorage({"OLE29", "ZorbaneWin", "Zorbane"});
  if (!control) std::abort();  // the stored state is fixed and good
  control->send(rt::Symbol("Connect"), {});
  fuzz::walkSchema(control);
  control->send(rt::Symbol("Disconnect"), {});
  return 0;
}
