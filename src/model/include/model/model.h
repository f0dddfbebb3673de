// The model table: the server class Mpdms over Mpdms.dbf and its index file mpdms1, with the
// record layout, field specs and index descriptors as data. Promises full-width character values
// and that opening failures are raised (then used() is false). A server owns its table; the
// main window owns the one open server. Thread rule: the GUI thread only.
#pragma once
#include <array>
#include <span>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rdd/rdd.h"
#include "runtime/runtime.h"

namespace model {

// Fields in record order; the values index kFields and the server's typed accessors.
enum class Field {
  MODELVERS, ATTRIBUTE, CLASSNAME, TYPE, INS_CLASS, PARENTNAME, PROP_METHO, FAMILYNAME,
  NO_MATCH, ALL_OK, TYPEPROBLM, LEVELPROB, COMPARED, PARENTOK, CLASSFOUND,
};
inline constexpr int kFieldCount = 15;

// A field descriptor object (classes Mpdms_<FIELD>): label and dBASE type, length and decimals.
class FieldSpec : public rt::Object {
 public:
  rt::Symbol symbol;
  std::string caption, description, helpContext;
  char type = 'C';
  int length = 0, decimals = 0;
  std::string className() const override { return "MPDMS_" + symbol.name(); }
  rt::Value get(rt::Symbol member) override;
};
using FieldSpecPtr = std::shared_ptr<FieldSpec>;

struct FieldDescEntry {
  rt::Symbol symbol;
  std::string name;
  FieldSpecPtr fieldSpec;
};

struct OrderDesc {
  std::string tag;
  bool duplicatesAllowed = true;
  bool second = true;  // kept as listed, not read by the program
  std::string keyExpr;
  std::string condition;
};

struct IndexDesc {
  std::string stem;
  std::string path;  // empty: the table's own directory
  std::vector<OrderDesc> orders;
};

// Width of MODELVERS: versions are stored, keyed and compared at this width, blank-padded.
inline constexpr int kVersionWidth = 15;

// A version as the table stores it: cut or blank-padded to kVersionWidth characters.
std::string fullWidthVersion(std::string_view typed);

// The text without its leading and trailing blanks.
std::string trimmedText(std::string_view text);

// The stored text of a type code (0 to 10); the empty string for anything else.
std::string ZorbaneType2String(int typeCode);
// The same for a value the control delivered: only a whole number is a code.
std::string typeText(const rt::Value& typeCode);

// The widths of the key fields of orders 1 and 2 (MODELVERS+CLASSNAME+PARENTNAME+PROP_METHO+
// ATTRIBUTE+INS_CLASS, and the same without PARENTNAME): a key is the concatenation of the
// stored fields at these widths, so a key's part after version and class can be cut apart.
struct KeyLayout {
  std::size_t version = 0, className = 0, parent = 0, level = 0;
};

// Visits one key of an order (stored bytes, valid during the call) and its record; answers
// whether to go on.
using KeyVisitor = std::function<bool(std::string_view key, std::uint32_t recno)>;

// The 15 field descriptors, built once from the layout table.
const std::vector<FieldDescEntry>& fieldDesc();
const std::vector<IndexDesc>& indexList();
inline constexpr const char* kTableName = "Mpdms.dbf";
inline constexpr const char* kDriver = "DBFCDX";
inline constexpr int kRecordLength = 210;

// The fields as the driver needs them to create the empty table (project tool and tests only).
std::vector<rdd::FieldInfo> tableLayout();

class Mpdms : public rt::Object {
 public:
  // Constructor arguments, each optional, plus where the table lives and test hooks.
  struct Args {
    std::optional<std::string> name;
    std::optional<bool> shared;
    std::optional<bool> readOnly;
    std::optional<rt::Value> driver;  // a string or an array of strings
    std::string dbfPath;              // cDbfPath
    rdd::OpenOptions options;         // env and node sizes for tests
  };
  explicit Mpdms(const Args& args);
  Mpdms() : Mpdms(Args{}) {}
  ~Mpdms() override;

  std::string className() const override { return "MPDMS"; }
  // Properties and fields by name (cName, lSharedMode, MODELVERS, ...).
  rt::Value get(rt::Symbol member) override;
  rt::Value put(rt::Symbol member, const rt::Value& value) override;
  // Table operations by name (GOTOP, SKIP, SEEK, ...).
  rt::Value send(rt::Symbol member, const std::vector<rt::Value>& args) override;

  // Server properties.
  const std::string& cDbfPath() const { return dbfPath_; }
  const std::string& cName() const { return name_; }
  const rt::Value& xDriver() const { return driver_; }
  bool lReadOnlyMode() const { return readOnly_; }
  std::optional<bool> lSharedMode() const { return shared_; }
  int nOrder() const { return order_; }
  static std::string labelName() { return "Mpdms"; }

  // Table operations.
  bool used() const;
  // A write to the table failed and was raised; the table takes no more writes until reopened.
  bool writeFailed() const { return table_ && table_->writeFailed(); }
  // Takes in what other programs wrote since this table last wrote or looked (rdd::Table):
  // an operation that must see the table as it is on disk calls it first.
  void takeInOutsideChanges();
  void goTop();
  void skip(long n = 1);
  bool eof() const;
  std::uint32_t recNo() const;
  void goTo(std::uint32_t recno);
  std::uint32_t lastRec();
  void setOrder(int n);
  bool seek(std::string_view key);
  void append();
  // A new row with these character fields, reaching the table whole (see rdd::Table::appendRecord).
  void appendRow(std::span<const std::pair<Field, std::string_view>> texts);
  void zap();
  void close();
  int orderCount() const;
  // The index file was found damaged at the open, and the user was told (see rdd::Table).
  bool indexDamageReported() const { return table_ && table_->indexDamageReported(); }
  std::string indexExt() const { return rdd::Table::indexExt(); }
  std::string tablePath() const;
  std::string tableDrive() const;
  void deleteOrder(int n, const std::string& indexName = {});
  void setOrderCondition(const std::string& cond = {}, rt::BlockPtr block = nullptr);
  void createOrder(const std::string& tag, const std::string& indexFile, const std::string& keyExpr,
                   rt::BlockPtr keyBlock, bool unique);

  // Reading the orders' keys directly, for walks that would otherwise seek once per row.
  // The key layout when orders 1 and 2 key over every row as the index descriptors say; none
  // otherwise (a table indexed some other way is read with seeks).
  std::optional<KeyLayout> keyLayout() const;
  // The width of MODELVERS when the controlling order keys every row by it first; 0 otherwise.
  std::size_t versionKeyWidth() const;
  // Visits the keys of order `n` in key order from the first >= `from`, while `visit` answers
  // true; moves no row pointer, and `visit` must not use the table.
  void scanOrder(int n, std::string_view from, const KeyVisitor& visit);
  // The stored bytes of UTF-8 text, as fields and keys hold them; none when the table's code
  // page lacks one of its characters (no key can then hold it).
  std::optional<std::string> storedForm(std::string_view text) const;
  int controllingOrder() const;
  std::string orderName(int n) const;
  std::string orderKey(int n) const;
  std::string orderFor(int n) const;  // the order's FOR condition; empty when it has none
  // Whether the index file `stem` exists beside the table (asked of the table's file layer).
  bool indexFileExists(const std::string& stem) const;
  void goBottom();
  // Writes what the table still holds in memory (the current record, the header, changed index
  // pages), so that another process with the table open sees the work done so far.
  void flush();
  // Orders deleted and created between these two calls write each index file once, at the end.
  void beginOrderChanges();
  void endOrderChanges();
  // Rows changed in place between these two calls are written under the table's header lock.
  void beginWrites();
  void endWrites();

  // Fields of the current row.
  rt::Value fieldGet(std::string_view name);
  void fieldPut(std::string_view name, const rt::Value& value);
  std::string_view str(Field f);  // UTF-8 at full width; valid until the field or row is read again
  bool flag(Field f);
  void setStr(Field f, std::string_view value);
  void setFlag(Field f, bool value);
  // Text as a character field keeps it, '?' for what the table's code page lacks (see rdd::Table).
  rdd::Table::TextFit fitText(std::string_view text) const;
  std::string codePageName() const;
  // The stored bytes of a field (no conversion): equal bytes are equal texts.
  std::string_view storedField(Field f);
  // The width of a field's stored bytes; 0 when the table lacks the field.
  std::size_t storedWidth(Field f) const;

 private:
  int bound(Field f) const { return bound_[static_cast<std::size_t>(f)]; }
  std::string dbfPath_;
  std::string name_ = kTableName;
  rt::Value driver_ = rt::Value(kDriver);
  bool readOnly_ = false;
  std::optional<bool> shared_;
  int order_ = 1;
  std::unique_ptr<rdd::Table> table_;
  std::array<int, kFieldCount> bound_{};
};

}  // namespace model
