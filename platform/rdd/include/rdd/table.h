// A dBASE III table with its open compound-index orders: the cursor, field access and order
// maintenance of the "DBFCDX" driver.
//
// Cursor states: Closed (used() false; every operation is a no-op answering neutral values),
// Positioned on a record (1..lastRec), or at End (eof(): recNo() is lastRec()+1 and fields read
// blank). open() moves Closed -> Positioned/End; goTop/goTo/skip/seek/append move between
// Positioned and End; close() moves to Closed. Field writes go to the current record's buffer
// and reach the file and every open order before the next positioning (or flush/close).
// Failures are raised through the run-time's error protocol; nothing throws out of this class.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rdd/env.h"
#include "runtime/runtime.h"

namespace rdd {

struct FieldInfo {
  std::string name;  // upper case
  char type = 'C';
  int length = 0;
  int decimals = 0;
  int offset = 0;  // within the record, after the deletion flag
};

struct OpenOptions {
  bool shared = true;
  bool readOnly = false;
  Env* env = nullptr;  // null: the real file system
  // Test hooks: entries per in-memory block and keys per written index node (0 = as many as fit).
  std::size_t memoryBlockEntries = 0;  // 0: about 4 KB of entries per in-memory leaf
  int maxLeafKeys = 0;
  int maxInteriorKeys = 0;
  // Shared appends keep the header lock from one append to the next (an append burst) for at
  // most this many milliseconds; any positioning, flush, close or raised error releases it
  // sooner. 0: the lock is released after every append.
  int appendBurstMs = 25;
};

class Table {
 public:
  // Opens `fileSpec` (a name, with or without ".dbf"; relative names are taken in `directory`
  // when it is not empty). Raises and answers null when the table cannot be opened.
  static std::unique_ptr<Table> open(const std::string& fileSpec, const std::string& directory,
                                     const OpenOptions& options = {});
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  bool used() const;
  void close();
  void flush();  // writes the current record, the header and dirty indexes
  // Shared: takes in what other programs wrote since this opener last accounted for the file, as
  // every taking of the header lock does: their appends, a pack or zap, deletion marks, and every
  // order checked against the records and built again when it no longer describes them (a
  // warning in the log). An operation that must see the table as it is calls it first.
  void takeInOutsideChanges();
  // A write to the table or its index failed (raised once when it happened). The table was cut
  // back to the records that reached the file and takes no further write until opened again;
  // a long run of writes stops here instead of failing row after row.
  bool writeFailed() const;

  // Where the table lives.
  const std::string& fullPath() const;  // directory + file name
  std::string path() const;             // directory, ending in '/' (empty for the current one)
  std::string drive() const;            // "" on this platform
  static std::string indexExt() { return ".cdx"; }
  bool shared() const;
  bool readOnly() const;

  // Structure.
  int fieldCount() const;
  const FieldInfo& field(int index) const;  // 0-based
  int fieldIndex(std::string_view name) const;  // -1 when there is none (case-insensitive)
  std::uint32_t recordLength() const;

  // Navigation.
  void goTop();
  void goBottom();
  void skip(long count = 1);
  void goTo(std::uint32_t recno);
  bool eof() const;
  bool bof() const;
  std::uint32_t recNo() const;
  std::uint32_t lastRec();
  bool deleted();
  void deleteRecord();
  void recall();

  // Fields of the current record. Character values come back at full width.
  rt::Value get(int index);
  rt::Value get(std::string_view name);  // unknown name raises EG_NOVAR
  void put(int index, const rt::Value& value);
  void put(std::string_view name, const rt::Value& value);
  std::string_view rawField(int index);  // the stored bytes, no conversion
  // A character field's text in UTF-8 at full width (trailing blanks kept), converted from the
  // table's code page; valid until this field is read again or the record changes.
  std::string_view text(int index);
  bool logical(int index);
  void putLogical(int index, bool value);
  // Character field from text without a run-time value (blank-padded or cut to the width).
  // Character values are UTF-8 text: widths count characters, and the driver stores them in the
  // table's code page, raising a data error for a character the page lacks.
  void putStr(int index, std::string_view value);

  // UTF-8 text as a character field of this table keeps it: `kept` holds '?' for each character
  // the table's code page lacks, and `lacking` describes those characters for a person
  // ("\"Ω\" (U+03A9)"), once each. Storing `kept` raises nothing.
  struct TextFit {
    std::string kept;
    std::vector<std::string> lacking;
  };
  TextFit fitText(std::string_view text) const;
  std::string codePageName() const;

  void append();  // a blank record that becomes current
  // A new record with these character fields (index, UTF-8 text) that becomes current. It is
  // committed whole before anything else happens: no other opener ever sees it with some fields
  // still blank. Texts should be storable (fitText); a character the page lacks is raised as by
  // putStr.
  void appendRecord(std::span<const std::pair<int, std::string_view>> texts);
  void zap();     // exclusive only: removes every record and empties the open orders

  // Orders. Numbers count from 1 over the open index files in opening order, tags in file order.
  bool openIndex(const std::string& fileSpec);  // raises and answers false on failure
  // Whether the index file openIndex(fileSpec) would open exists, asked of the table's Env.
  bool indexFileExists(const std::string& fileSpec) const;
  // An index file was found damaged when opened, and a warning said what became of its orders.
  bool indexDamageReported() const;
  int orderCount() const;
  int order() const;  // 0: natural order
  void setOrder(int number);
  std::string orderName(int number) const;
  std::string orderKey(int number) const;
  std::string orderFor(int number) const;
  std::string orderFile(int number) const;
  bool seek(std::string_view keyPrefix);  // soft seek off; answers found
  // Visits the entries of order `number` in key order, from the first whose key is >= `from`,
  // skipping those a seek skips, until `visit` answers false; moves no cursor. `from` and the keys
  // handed over are stored bytes (storedForm); a key is valid during its call only, and `visit`
  // must not use the table. Many seeks over one stretch of an order cost one walk this way.
  void scanOrder(int number, std::string_view from,
                 const std::function<bool(std::string_view key, std::uint32_t recno)>& visit);
  // The stored bytes of UTF-8 text, as fields and keys hold them; false when the table's code
  // page lacks one of its characters (no stored key can then hold it).
  bool storedForm(std::string_view text, std::string* out) const;
  bool found() const;
  void deleteOrder(int number, const std::string& indexFile = {});
  void setOrderCondition(const std::string& forExpr = {}, rt::BlockPtr forBlock = nullptr);
  void createOrder(const std::string& tag, const std::string& indexFile, const std::string& keyExpr,
                   rt::BlockPtr keyBlock = nullptr, bool unique = false);
  // Orders deleted and created between these two calls write each index file once, at the end.
  // A shared table holds its header lock in between, so no other opener sees a half-built index;
  // a stop in between is noticed at the next open, which builds the orders again.
  void beginOrderChanges();
  void endOrderChanges();
  // Records changed in place between these two calls (a compare flagging every row) are written
  // under the header lock when shared, as appends are: held a time budget at a time while another
  // opener has the table open, for as long as needed otherwise. Writes made under the lock are
  // known to be this opener's own, so the next lock need not check the orders against every
  // record for another program's writes.
  void beginWrites();
  void endWrites();
  // Text dump of the index file that holds order `number`, as it is on disk.
  std::string dumpIndexFile(int number);

  class Impl;

 private:
  explicit Table(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The table the run-time function DELETED() answers for: the last one opened or positioned.
Table* currentTable();

// Registers the driver's run-time functions (DELETED). Idempotent.
void registerFunctions();

// Writes a new empty table with the given fields (name, type, length, decimals) — used by the
// project's tools and tests, never by the program. Raises and answers false on failure.
bool createTable(const std::string& path, const std::vector<FieldInfo>& fields, Env* env = nullptr);

}  // namespace rdd
