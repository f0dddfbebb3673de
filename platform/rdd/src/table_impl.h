// Internal state of a Table: the open table file, the current record buffer, the open index
// files and their orders held in memory.
//
// States of one opener, and what moves it between them:
//
//                open()                 put/delete/recall/append, createOrder, deleteOrder, zap
//   CLOSED ------------------> CLEAN ---------------------------------------------------> DIRTY
//     ^                        |  ^  <--- settle(): commit, endBurst, flushIndexes (shared) ---  |
//     |        close()         |  +--------- flush(), close(): the same, every file -----------+ |
//     +------------------------+                                                               |
//     |                  any write fails: writeBroke(); an append past a file's limit: stopAtLimit() v
//     +--- close() --------------------------------------------------------------- WRITE_FAILED
//
//   Within DIRTY, a shared opener may also be in a BURST (append() took the header lock and
//   keeps it; endBurst() lets go), in a BATCH of order changes (beginOrderChanges() took it;
//   endOrderChanges() builds the orders created in it that wait (buildPending) and lets go) or in a RUN of in-place writes (between beginWrites() and
//   endWrites(), a commit takes it: holdRunLock(); the budget, endWrites() or another opener of
//   this thread lets go: releaseRunLock()).
//
// Invariants:
//   1. CLOSED: isOpen is false; every public operation is a no-op answering neutral values.
//   2. Records [1, appendFirst) are in the file; when appendBuf is not empty it holds records
//      [appendFirst, appendFirst + appendBuf.size() / recordLen), all <= count, not yet written.
//   3. The header on disk never counts a record whose bytes are not in the file: records are
//      written first, the header that counts them after (writeAppended). headerDirty: the header
//      in memory (count, date) differs from the one on disk.
//   4. recDirty: the record buffer `rec` holds a change of record `recno` (by recordChangedBy)
//      not yet written; then recLoaded and !atEof. keysTouched: the change may move the record in
//      an order; origRec is the record before it, unless the record is new (appendedUncommitted).
//   5. A shared opener touches the header count, the file's length and the index files only
//      under the header lock: holdsHeaderLock() is true exclusive, in a BURST (burstHeld, the
//      opener is in the thread's burst list), in a BATCH (orderBatch) or while a RUN holds it
//      (runHeld, the opener in the burst list too); lockHeader() is then a no-op. Only with the
//      lock may a failed write cut the file back.
//   6. An index file that is dirty differs from the orders held in memory; one that is marked
//      counts this opener in its stamp and holds its "changing" lock byte shared, so that a stop
//      before it is written is noticed at the next open (the stamp then names a dead changer).
//      An abandoned file (an error was raised within a BATCH that changed it) is written no more
//      by this opener; its stamp still counts it, so the next open rebuilds its orders.
//   7. The order cursor is valid while cursorGen equals the order's generation; cursorEntryStale:
//      cursorEntry must first be worked out from the current record.
//   8. WRITE_FAILED is sticky (writeFailed): the table was cut back to the records that reached
//      the file (or, at a file's size limit, everything before the refused row was written),
//      appendBuf is empty, no record change is pending, and every later write raises
//      writeFailure naming the first failure until the table is opened again. Reads go on.
//   9. Every Status is looked at (the layer builds with -Werror=unused-result): a failure is
//      raised through the run-time's protocol at the public operation, naming the table (or
//      index file) and the operation whose change failed to reach the file.
//  10. Shared: seenModifiedNs is the table file's modification time as this opener last accounted
//      for it: when it took in what others wrote, or as it released the header lock after writing
//      under it. ownWritesUnnoted: it wrote since, without the lock (records changed in place).
//      When it takes the lock, another time on disk that no index stamp of another opener accounts
//      for, or writes of its own it could not tell from others', mean another program may have
//      written: the orders and deletion marks are checked against the records
//      (takeInOutsideWrites) before anything is written or stamped under the lock.
#pragma once
#include <map>
#include <optional>

#include "cdx_file.h"
#include "codepage.h"
#include "format.h"
#include "key_index.h"
#include "rdd/table.h"

namespace rdd {

struct IndexFileState;
extern Table* gCurrent;  // what DELETED() answers for

// The subsystem named in every error the driver raises.
inline constexpr const char* kSubsystem = "DBFCDX";
// Appended records collect up to this many bytes before they are written.
inline constexpr std::size_t kAppendChunk = 256u << 10;
// How often a reader reads an index image again, without the lock, that a writer replaced while
// it was being read; the read after that takes the header lock, which every writer holds.
inline constexpr int kLockFreeReads = 4;

inline std::string trimSpaces(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

// Whether the last part of a path has an extension.
inline bool hasExtension(const std::string& name) {
  std::size_t slash = name.find_last_of('/');
  std::size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// The value a stored field of any type other than character text stands for; character fields
// and unknown types answer their stored bytes. table_fields.cpp
rt::Value storedValue(const FieldInfo& f, std::string_view raw);

// Ends the append bursts this thread's openers hold on the file with identity `id` (every burst
// when it cannot be told), so that no opener waits for a lock its own thread holds.
void endBurstsOn(const std::string& id);

struct Order {
  std::string tag;  // upper case
  std::string keyExpr, forExpr;
  rt::BlockPtr keyBlock, forBlock;
  std::vector<int> keyFields;  // a plain concatenation of character fields, when not empty
  // The record bytes such a key is copied from: (offset, length), neighbouring fields joined.
  std::vector<std::pair<int, int>> keySpans;
  int keyLen = 0;
  bool unique = false;
  KeyIndex index;
  IndexFileState* file = nullptr;
  // Created within a batch and not built yet (its entries are not in the file either).
  bool buildPending = false;
  // While the entries are unread, look-ups are served from the file, this many more times: a walk
  // that goes on reads the whole order once instead of a path down the tree a step.
  int peeksLeft = 32;
  // Where the last exact layout of this order's tree (by a sizing or a write) began its last
  // leaves: for each, the leaves before it and its first entry, in leaf order; and the entry bytes
  // of the leaf layout it was laid out with. While nothing below one of those entries changes, the
  // tree is sized again from there (a load's rows arrive nearly in key order, a class at a time).
  struct LastLeaves {
    std::vector<std::pair<std::size_t, std::string>> starts;
    int entryBytes = 0;
  } lastLeaves;
  // Where this order's tree lies in its file, as this opener last wrote it (with the entries
  // changed since followed by the index's Written mark); it holds while the file's change counter
  // is the one that write left (IndexFileState::placedCounter).
  std::optional<TreePlace> placed;
};

struct IndexFileState {
  std::string path;
  std::unique_ptr<File> file;
  std::uint32_t counter = 0;      // change counter as we last wrote or read it
  std::uint64_t regionStart = 0;  // where the current image's pages begin (0: nothing written)
  std::uint64_t regionEnd = 0;    // end of its highest page
  // The change counter this opener's last write left: while the file's is still that, its orders'
  // trees lie as they were placed (Order::placed), and the next write keeps what did not change.
  std::optional<std::uint32_t> placedCounter;
  bool dirty = false;
  const char* changedBy = nullptr;  // the public operation that made it dirty, while it is
  // This opener has changes the file does not hold yet and has counted itself in the file's
  // stamp (and holds the shared "changing" lock byte) until it writes them.
  bool marked = false;
  // A batch of order changes to it failed part-way: what is held in memory is not written (see
  // abandonBatch).
  bool abandoned = false;
  TableFingerprint stamped;  // the table as the stamp on disk describes it
  std::uint64_t recordWritesAtStamp = 0;  // this opener's recordWrites when `stamped` was taken
  // Records whose keys changed since the last write, with their entries before the change
  // (per order of this file, in file order; nullopt when the record had no entry).
  std::map<std::uint32_t, std::vector<std::optional<std::string>>> pending;
  // Records that had no entry before (appended by this opener): 4 bytes each instead of a map node.
  std::vector<std::uint32_t> pendingNew;
  // The size of the image as last written or worked out exactly, the record count its leaf layout
  // was worked out for, and the entries added to its orders since: the most the next image can
  // take follows from them (table_limits.cpp).
  std::uint64_t sizedBytes = 0;
  std::uint32_t sizedRecords = 0;
  std::uint64_t addedSinceSized = 0;
  // What the last look at the bound found: while the image is sized as then, at most `added`
  // entries are added to each order since, and the table holds at most `records` records, the
  // next image surely fits the limit (table_limits.cpp).
  struct Headroom {
    std::uint64_t sizedBytes = 0;
    std::uint32_t sizedRecords = 0;
    std::uint64_t added = 0;
    std::uint32_t records = 0;
  } headroom;
  void clearPending() {
    pending.clear();
    std::vector<std::uint32_t>().swap(pendingNew);
  }
};

class Table::Impl {
 public:
  // ---- identity and files ----
  Env* env = nullptr;
  OpenOptions options;
  std::string fullPath, directory, fileName;
  std::unique_ptr<File> file;
  bool isOpen = false;
  // A write to the table or an index file failed. The table was cut back to the records that
  // reached the file; it takes no further write until it is opened again.
  bool writeFailed = false;
  std::string writeFailure;  // what failed, for the errors of later writes

  // ---- structure ----
  std::vector<FieldInfo> fields;
  std::uint32_t headerLen = 0, recordLen = 0;
  std::uint8_t headerBytes[32] = {};
  std::uint32_t count = 0;  // records in the file as far as this opener knows
  bool headerDirty = false;
  std::int64_t headerDateMinute = -1;  // minute the header's date bytes were worked out for
  std::vector<std::uint8_t> deletedMap;  // one byte per record: 1 when marked deleted
  const CodePage* codePage = nullptr;    // of character fields, from the language-driver byte
  std::vector<std::string> textCache;    // per field: the UTF-8 text text() last answered

  // ---- what other programs wrote (invariant 10) ----
  std::int64_t seenModifiedNs = 0;
  bool ownWritesUnnoted = false;
  bool outsideWriteSeen = false;

  // ---- cursor ----
  std::uint32_t recno = 0;  // 1..count, or count+1 at the end
  bool atEof = true, atBof = false, lastFound = false;
  std::string rec;          // current record bytes (recordLen)
  bool recLoaded = false, recDirty = false, keysTouched = false;
  std::optional<std::string> origRec;  // record as it was before the first key-field change
  bool appendedUncommitted = false;
  // The public operation whose change the record buffer holds (FIELDPUT, DBDELETE, DBRECALL,
  // DBAPPEND): a failure to write it is raised in that operation's name.
  const char* recordChangedBy = "FIELDPUT";

  // ---- append burst (shared mode): the header lock held across consecutive appends ----
  std::string fileId;        // the table file's identity, to find other openers of it
  bool burstHeld = false;
  std::int64_t burstStartMs = 0;
  std::int64_t indexWriteMs = 0;  // what writing the index files took at the end of the last burst
  // Between beginOrderChanges and endOrderChanges: order changes leave the index files dirty
  // (counted as changing in their stamps) and the header lock is held when shared.
  bool orderBatch = false;
  bool batchFailed = false;  // an error was raised within the batch
  // Orders created within a batch whose keys are plain fields are built together, in one scan,
  // at its end or at the first look at one of them (Order::buildPending); the record pointer
  // goes to the top of the last one created at the batch's end.
  bool topWhenBatchEnds = false;
  // Within a batch the pages of the orders deleted go to the orders built again.
  std::optional<KeyIndex::HoldFreedMemory> batchMemory;
  // Between beginWrites and endWrites (a RUN of in-place writes): the commits take the header
  // lock when shared and keep it (runHeld) until the budget of a burst is spent with another
  // opener there, the run ends, or another opener of this thread or a raised error needs it.
  bool writeRun = false;
  bool runHeld = false;

  // ---- buffered appends (exclusive mode, and a shared burst): records [appendFirst, +n) ----
  std::vector<char> appendBuf;
  std::uint32_t appendFirst = 0;

  // ---- orders ----
  bool indexDamageReported = false;  // an index file opened damaged, and the user was told
  std::vector<std::unique_ptr<IndexFileState>> indexFiles;
  std::vector<std::unique_ptr<Order>> orders;
  int controlling = 0;  // 0 natural
  KeyIndex::Cursor cursor{};
  std::uint64_t cursorGen = ~0ull;
  std::string cursorEntry;
  bool cursorEntryStale = false;  // after GoTo: cursorEntry is worked out from the record when needed
  std::string scratchBefore, scratchAfter, scratchRecord;
  std::vector<bool> fieldInKey;  // per field: writing it may change a key
  std::string nextForExpr;
  rt::BlockPtr nextForBlock;

  // ---- helpers ----
  // An index file named as the user names it (extension optional, relative to the table).
  std::string indexPathOf(std::string name) const;
  bool raise(int genCode, const std::string& description, const std::string& operation, std::int64_t osCode = 0,
             bool canRetry = false, const std::string& file = {});
  Status readHeaderCount(std::uint32_t* out);
  Status loadRecord();
  // Loads the current record before a change to it; raises (saying what was `notDone`, to which
  // field) and answers false when it cannot be read.
  bool recordReadFor(const char* operation, const char* notDone, const std::string* field = nullptr);
  Status readRecordInto(std::uint32_t r, char* out);
  Status writeRecord(std::uint32_t r, const char* data);
  Status flushAppends();
  Status writeHeader();
  // Every write and cut of the table file goes through these two (they count as unnoted writes).
  Status writeTable(std::uint64_t offset, const void* data, std::size_t n);
  Status truncateTable(std::uint64_t length);
  void noticeOutsideWrite();
  // Before the header lock is let go: the file's time now is the one this opener accounts for.
  void noteOwnWrites();
  // Under the header lock (or exclusive): when another program wrote, takes in its appends, a
  // pack or zap, and its deletion marks, and checks every order against the records; an order
  // that does not describe them is built again (its file becomes dirty) and the log is told.
  Status takeInOutsideWrites();
  // Reads every record: its deletion mark is taken in, and `wrong` gets the orders whose entries
  // are not exactly those the records give. table_order_build.cpp
  Status checkOrdersAgainstRecords(std::vector<Order*>* wrong);
  // The current record's change reaches the orders at its commit, which takes out the entry of
  // the record as it was before: an order built from the file meanwhile gets that entry instead
  // of the one the file gives (none for a record appended and not yet committed).
  void keepEntryBeforeChange(Order& o, const char* fileRecord);
  // Whether the index files' stamps, written by another opener of this driver, vouch for the
  // table file as it is now.
  bool stampsVouchFor(const TableFingerprint& now, std::uint32_t records);
  // The buffered records, then the header that counts them.
  Status writeAppended();
  // After a failed write: cuts the file back to the records that reached it (header count, end
  // mark) and refuses every later write. `what` tells what failed; at most `keepAtMost` records
  // stay. Answers the failure of that repair itself.
  Status writeBroke(const Status& what, std::uint32_t keepAtMost = UINT32_MAX);
  // " ...: why" for a repair that failed, "" otherwise.
  static std::string repairNote(const Status& repair);
  // Exclusive, or within our burst or batch of order changes.
  bool holdsHeaderLock() const;
  // After a failed write cut short: the buffered appended records that reached the file whole
  // become written records.
  void keepAppendsThatReachedTheFile();
  void unlockByte(File& f, std::uint64_t offset);
  // Removes from every order the entries of records after `last` (records that never reached
  // the file).
  void dropEntriesBeyond(std::uint32_t last);
  // The table file is shorter than the records this opener knows of (another program cut it):
  // every later write is refused and nothing is written, not even a repair.
  void stopWriting(const std::string& why);
  // Raises the failure of a write once, after the table was made consistent again.
  void reportWriteFailure(const Status& s, const std::string& what, const char* operation);
  // Raises (and answers true) when an earlier write failed.
  bool refuseAfterFailure(const char* operation);
  // Cuts bytes a stopped writer left beyond the counted records (under the header lock).
  Status trimTail();
  // Records this opener wrote (or changed) since it opened the table.
  std::uint64_t recordWrites = 0;
  void noteStamped(IndexFileState& f, const TableFingerprint& table) {
    f.stamped = table;
    f.recordWritesAtStamp = recordWrites;
  }
  // What ties an index file's stamp to this table file as it is now.
  Status tableFingerprint(TableFingerprint* out);
  // After the table changed without its orders changing: the stamps of index files that agree
  // with the table are brought up to date, so the next open does not take them for stale.
  void refreshStamps();
  // Shared: counts the records other openers appended since we last looked.
  Status takeInOthersAppends();
  void commit(const char* operation);
  // commit() and the end of this opener's append burst: for every operation other than append.
  void settle(const char* operation);
  // The header lock for one short step; every append burst on this file in this thread ends
  // first (our own too), so that no opener waits for a lock its own thread holds.
  // Calls nest: only the outermost takes the lock (and takes in what others wrote) and only its
  // unlockHeader lets go.
  Status lockHeader();
  void unlockHeader();
  int headerLockDepth = 0;  // lockHeader() calls not yet matched by unlockHeader()
  // Ends this opener's append burst: the buffered records, the header and the dirty index files
  // reach the disk before the lock is released. Raises a failure when `report`.
  void endBurst(bool report = true, std::uint32_t keepAtMost = UINT32_MAX);
  // A new blank record made current (the header lock taken when shared); false, raised or
  // refused, when none was added.
  bool beginAppend();
  // Ends a shared burst whose time budget is spent, the newest record committed first.
  void endBurstWhenSpent();
  void releaseBurst();  // drops the lock and the burst's bookkeeping, writing nothing
  // append(): false (raised) when no record was appended.
  bool appendBlank();
  // Shared: the burst's header lock is held and its buffer has room for one more record; false
  // (raised) when not.
  bool burstReady(const char* operation);
  bool beginBurst(const char* operation);
  // Within a RUN: the header lock for the commit about to write (a no-op when it is held; a run
  // that cannot take it writes as any write without it does, and the next lock checks).
  void holdRunLock();
  // Lets go of a RUN's lock, its writes noted as this opener's own.
  void releaseRunLock();
  // Every lock this opener holds across calls for appends or a RUN, let go (another opener of
  // this thread needs the lock, or an error is raised).
  void endBursts(bool report = true);
  std::int64_t nowMs() const;
  bool burstOver() const;  // the time budget of the current burst is spent
  // With the budget spent: true (and a new budget begun) when no other opener has the table open.
  bool keepBurstAlone();
  void updateKeys();
  bool visibleNatural(std::uint32_t r);
  bool isDeleted(std::uint32_t r);
  void setEof();
  void positionOn(std::uint32_t r);
  // The record an order entry names, with the order cursor on it.
  void positionOnEntry(const Order& o, KeyIndex::Cursor c);
  enum class Edge { Top, Bottom };
  // goTop and goBottom (and a skip back from the end): `operation` names the caller when it is
  // not one of those two.
  void goEdge(Table* self, Edge edge, const char* operation = nullptr);
  // The record count with what other openers appended taken in (shared).
  std::uint32_t currentCount(const char* operation);
  std::string keyOf(const Order& o, const char* record);
  bool forOf(const Order& o, const char* record);
  std::optional<std::string> entryOf(const Order& o, const char* record, std::uint32_t r);
  // Writes the entry (keyLen + 4 bytes) into out; false when the order's condition excludes it.
  bool entryInto(const Order& o, const char* record, std::uint32_t r, char* out);
  Status refreshCursorEntry(const Order& o);
  void storeField(int index, std::string_view bytes);
  // Stores UTF-8 text in a character field in the table's code page, cut to the field's width in
  // characters; a character the page lacks is raised (Default stores '?' for it). table_text.cpp
  void storeText(int index, std::string_view text, const char* operation);
  // The stored form of a seek prefix; false when it holds a character no stored key can hold.
  bool storedProbe(std::string_view text, std::string& out) const;
  // Before the first byte above 0x7F reaches a table whose header declares no code page: declares
  // Windows-1252 there. False (raised) when the header cannot be written.
  bool declareCodePage(std::string_view stored, const char* operation);
  // Before the first change that the index files do not hold yet: count this opener in each
  // file's stamp, so that a stop before the next write is noticed at the next open.
  bool markIndexesChanging(const char* operation);
  Status markChanging(IndexFileState& f);
  // Builds the entries of `o` from every record of the table, sorted, into o.index.
  Status buildOrder(Order& o);
  // Builds the orders from the records, in as few scans of the table as their keys allow.
  Status buildOrders(const std::vector<Order*>& list);
  std::vector<Order*> ordersOf(const IndexFileState& f) const;
  // Leaves `o` to be built with the batch's other new orders (see topWhenBatchEnds).
  void buildWithTheBatch(Order& o);
  // Builds every order left to be built; false when that failed and was raised (they are then
  // left to be built at their next use).
  bool buildPendingOrders();
  // Within a batch of order changes: the record sequence of each order deleted (without a
  // condition), by key expression. Building that order again writes its entries in that
  // sequence straight into its leaves and sorts only when they turn out not to be in key order.
  std::map<std::string, std::vector<std::uint32_t>> deletedSequences;
  // Within a batch: a digest of the orders of each index file whose image on disk was what this
  // opener held when the batch began. A file whose orders come out of the batch with the same
  // digest keeps its image; only its stamp is renewed.
  std::map<const IndexFileState*, std::uint64_t> batchImageDigests;
  // Within a batch: the index files whose orders agreed with the table when it began (the image
  // on disk is what this opener holds, its stamp counts the table's records with nobody changing
  // them, and the table is as the stamp describes it, or this opener wrote records since, which
  // changed no key: it held the image as on disk), with their orders' definitions then. An order deleted from such a file is
  // kept; created again with the same definition it takes over the kept entries instead of being
  // built from the records, and a file whose orders all came back so keeps its image. A key
  // written or a record appended within the batch ends this (markIndexesChanging).
  std::map<const IndexFileState*, std::vector<std::string>> batchTrusted;
  std::vector<std::unique_ptr<Order>> batchDeleted;
  std::vector<const Order*> batchReused;
  static std::string definitionOf(const Order& o);
  std::vector<std::string> definitionsIn(const IndexFileState& f) const;
  // The kept order `o` may take over (null when it must be built).
  std::unique_ptr<Order> takeKeptOrder(const Order& o);
  // createOrder: the entries of a new order built from the records (raised and false on failure),
  // and the order put in place among the open ones (answers its index in `orders`).
  bool buildNewOrder(Order& o, const std::string& tagName, const char* operation);
  int placeNewOrder(std::unique_ptr<Order> o, IndexFileState* f, const char* operation);
  std::uint64_t ordersDigest(const IndexFileState& f) const;
  bool imageHeldAsOnDisk(IndexFileState& f);
  void noteImagesAtBatchStart();
  void abandonBatch();
  void keepImagesTheBatchLeftAlone();
  bool buildInSequence(Order& o, const std::vector<std::uint32_t>& sequence, Status* s);
  // The sequence kept for `o` when it names every record once; null otherwise.
  const std::vector<std::uint32_t>* sequenceFor(const Order& o);
  bool entryVisible(const Order& o, KeyIndex::Cursor c);
  void refreshFieldInKey();
  bool prepareKey(Order& o, const char* operation);
  // Writes the whole file from memory; `rebuilt`: the orders were just built from the table.
  Status writeIndexFile(IndexFileState& f, bool rebuilt = false);
  // Tells whether f disagrees with the table (see docs/formats/cdx.md, staleness stamp).
  Status checkStale(IndexFileState& f, bool* stale, std::string* why);
  // Builds every order of `f` from the records (`built` tells it was done) and writes the file
  // (kept in memory when read-only).
  Status rebuildFile(IndexFileState& f, bool* built);
  bool changersAlive(IndexFileState& f);
  void orderChanged(IndexFileState& f, const char* operation);
  Status syncIndexForRead(IndexFileState& f);
  // syncIndexForRead for a public read: a failure is raised (Retry tries again), and the order is
  // then read as this opener holds it.
  void takeInIndexChanges(IndexFileState& f, const char* operation);
  // The orders of an image read from f. With `damage` (at open), an order whose key length its
  // fields do not make is taken empty, at their length, and `damage` says why it must be built.
  // `readLater`: the image holds tag definitions only; each order's entries are read at its first
  // use (readOrderEntries).
  Status loadIndexImage(IndexFileState& f, CdxImage& img, std::vector<std::unique_ptr<Order>>* out,
                        std::string* damage = nullptr, bool readLater = false);
  // Reads f's image with `read` until the change counter is the same after a read as before it
  // (another opener may be writing); the last try takes the header lock. `read` gets, and
  // `records` answers, the record count the entries may name, read after the counter: a writer
  // counts its records before it writes the image that names them. table_order_read.cpp
  // A file still marked as being written when read under the lock was left so by a writer that
  // stopped: Corruption, and `halfWritten` (when given) is set.
  Status readSettled(IndexFileState& f, const std::function<Status(std::uint32_t records)>& read,
                     std::uint32_t* records, bool* halfWritten = nullptr);
  // After a writer stopped part-way through an image of f: every order of f is built from the
  // records, the file is left dirty (written anew at the next write) and the log is told.
  Status rebuildHalfWritten(IndexFileState& f, std::uint32_t counterOnDisk);
  // After orders of f were built from the records because its image could not be used: the file
  // is left dirty (written anew at the next write) and the log is told `what`.
  void noteRebuiltFromRecords(IndexFileState& f, const std::string& what);
  // The open (or, within a batch, deleted) order whose entries `index` holds; null when none.
  Order* orderHolding(const KeyIndex& index);
  // Puts the entries of the order holding `index` in place at their first use: read from its index
  // file, or built from the records (with a warning, the file left dirty) when they cannot be.
  void readOrderEntries(KeyIndex& index);
  // For an order not read yet: the entry at `where` (see peekCdx), taken from the file; false when
  // the order must be read instead (it was read already, its look-ups from the file are spent, or
  // the file answers nothing usable: an error, a record beyond the count, a record not visible).
  // An empty `entry`: there is none.
  bool peekUnread(Order& o, PeekAt where, std::string_view probe, std::string* entry);
  // The cursor on an entry peekUnread answered: the position in the order is worked out again
  // from it when the order is read.
  void positionOnPeeked(const std::string& entry);
  Status mergeFromDisk(IndexFileState& f);
  bool flushIndexes(const char* operation);
  // Writes everything this opener holds: the record, appended records, header, index files and
  // stamps (flush()).
  void flushAll(const char* operation);
  void closeAll();
  // At open: repairs a table a stopped zap left cut to its header (`size` bytes); false (raised)
  // when it cannot.
  bool emptiedByAStoppedZap(std::uint64_t size);
  // The tags of f's orders as its next image holds them (entries point into the orders).
  std::vector<TagOut> tagOutsOf(const IndexFileState& f) const;

  // ---- the formats' size limits (table_limits.cpp) ----
  std::uint64_t tableLimit() const;
  std::uint64_t indexLimit() const;
  // Whether one more record fits the table file and every index file. When it does not, what
  // was appended before is written, the limit is raised (naming the file, the limit and the
  // records stored) and the table takes no further write.
  bool roomForOneMoreRecord(const char* operation);
  // The limit message of the first index file (named in `file`) that one more record could take
  // past its limit; "" when they all take it.
  std::string indexFullFor(std::uint32_t records, std::string* file);
  void stopAtLimit(const std::string& why, const std::string& file, const char* operation);
  // The pages of o's tree laid out for `records` records: from one of its last leaves (see
  // Order::LastLeaves) when nothing before it changed, else from its first entry; notes where its
  // last leaves begin now.
  std::uint64_t treePagesOf(Order& o, std::uint32_t records);
  // After the writer laid out f's orders for `records` records: where each one's last leaves begin.
  void noteLastLeaves(const IndexFileState& f, const CdxWriter& writer, std::uint32_t records);
};

}  // namespace rdd
