// Fuzzes index reading through the real file layer. Four valid tables with their indexes are
// built once, each of another shape: many levels of small nodes over character keys, full pages
// of numeric, date and long character keys with conditions, a tiny table with an empty order and
// keys of many functions, and long keys sharing long prefixes. Each input damages or replaces the index of one pair,
// which is written to a scratch folder with the table's original time stamp (so the index is
// taken as written for it unless the input says otherwise), then opened shared read-only and exclusive: its orders are walked,
// sought and dumped, every field read and given values of every kind, records appended until
// nodes split, orders created and deleted, the table zapped; then the table is opened again by
// two shared users, one writing while the other reads, and both files are cut short under them.
//
// Input: byte 0 chooses, in its low three bits, what the table says against the index (its
// record count kept, halved, raised past the file, zeroed, the file cut to half its records, the
// index's stamp cleared as another program leaves it, or the table's time moved); in the next
// four, which write of the exclusive user fails as on a full disk (0: none; above 8 every write
// after it fails too) and which lock of the shared writer fails; and in its top bit whether the
// bytes set below are stored or xor-ed in. Byte 1 chooses the pair and, with its top bit, that
// the bytes after it are the whole index file. Otherwise the bytes after them are
// (offset, offset, offset, value) quadruples applied to the pair's index, the offset read as 24
// bits so that any node can be reached. The first form lets the fuzzer compose index files
// itself from the seeds (the pairs' own indexes, which the target writes into the folder named by
// FUZZ_WRITE_SEEDS when that is set); the second reaches the nodes of a large index from a short
// input. A whole index file takes its table's fingerprint from the pair's own index, since the
// table is written anew by each run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rdd/rdd.h"
#include "scratch.h"

namespace {

const fuzz::ScratchDir& scratch() {
  static const fuzz::ScratchDir dir("fuzz_cdx_page");
  return dir;
}

struct Pair {
  std::string table, index;
  struct timespec modified {};
  std::uint32_t rows = 0;
};

using Fill = std::function<void(rdd::Table&, int row)>;

void setCodePage(const std::string& path, std::uint8_t codePage) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(29);
  file.put(static_cast<char>(codePage));
}

struct Shape {
  std::uint8_t codePage;  // the table's language-driver byte
  std::vector<rdd::FieldInfo> fields;
  int rows;
  int nodeKeys;  // keys per written node (0: as many as fit)
  Fill fill;
  std::function<void(rdd::Table&)> orders;
};

Pair build(const Shape& shape) {
  const fuzz::ScratchDir& dir = scratch();
  dir.remove("t.cdx");
  rdd::createTable(dir.file("t.dbf"), shape.fields);
  setCodePage(dir.file("t.dbf"), shape.codePage);
  rdd::OpenOptions options;
  options.shared = false;
  options.maxLeafKeys = shape.nodeKeys;
  options.maxInteriorKeys = shape.nodeKeys;
  auto t = rdd::Table::open("t.dbf", dir.folder(), options);
  for (int i = 0; i < shape.rows; ++i) {
    t->append();
    shape.fill(*t, i);
  }
  shape.orders(*t);
  t->close();
  struct stat st {};
  ::stat(dir.file("t.dbf").c_str(), &st);
  return Pair{dir.read("t.dbf"), dir.read("t.cdx"), st.st_mtim, static_cast<std::uint32_t>(shape.rows)};
}

const std::vector<Pair>& validPairs() {
  static const std::vector<Pair> pairs = [] {
    std::vector<Pair> out;
    out.push_back(build({0x01, {{"NAME", 'C', 12, 0, 0}, {"CITY", 'C', 6, 0, 0}, {"N", 'N', 6, 0, 0}}, 90, 4,
                         [](rdd::Table& t, int i) {
                           t.put("NAME", rt::Value((i % 5 ? "n" : "\u00e9") + std::to_string(i * 37 % 90)));
                           t.put("CITY", rt::Value(i % 3 ? "Oslo" : "Rome"));
                           t.put("N", rt::Value(i));
                         },
                         [](rdd::Table& t) {
                           t.createOrder("a", "t", "NAME");
                           t.createOrder("b", "t", "CITY+NAME");
                           t.createOrder("c", "t", "CITY", nullptr, true);
                         }}));
    out.push_back(build({0x03, {{"AMOUNT", 'N', 10, 2, 0}, {"BORN", 'D', 8, 0, 0}, {"FLAG", 'L', 1, 0, 0},
                          {"CODE", 'C', 40, 0, 0}},
                         70, 0,
                         [](rdd::Table& t, int i) {
                           t.put("AMOUNT", rt::Value(rt::Float{(i * 7919 % 1000) / 4.0 - 50, 2}));
                           t.put("BORN", rt::Value(rt::makeDate(1950 + i % 60, 1 + i % 12, 1 + i % 28)));
                           t.putLogical(2, i % 4 != 0);
                           t.put("CODE", rt::Value(std::string(i % 9, 'k') + std::to_string(i % 40)));
                         },
                         [](rdd::Table& t) {
                           t.createOrder("amount", "t", "AMOUNT");
                           t.createOrder("born", "t", "BORN");
                           t.createOrder("bornkey", "t", "BORN+STR(AMOUNT,10,2)");
                           t.setOrderCondition("FLAG .AND. AMOUNT > -20");
                           t.createOrder("code", "t", "UPPER(SUBSTR(CODE,2,8))+LEFT(TRIM(CODE),3)");
                           t.setOrderCondition("!EMPTY(CODE) .AND. !DELETED()");
                           t.createOrder("padded", "t", "PADR(LOWER(CODE),12)+RIGHT(STR(AMOUNT*2,12,2),5)");
                           t.setOrderCondition();
                           t.createOrder("flag", "t", "IIF(FLAG,'Y','N')", nullptr, true);
                         }}));
    out.push_back(build({0x02, {{"K", 'C', 1, 0, 0}}, 3, 0,
                         [](rdd::Table& t, int i) { t.put("K", rt::Value(std::string(1, static_cast<char>('a' + i)))); },
                         [](rdd::Table& t) {
                           t.createOrder("k", "t", "K");
                           t.setOrderCondition(".F.");
                           t.createOrder("none", "t", "K");
                           t.setOrderCondition("K >= 'b' .OR. K $ 'xyz'");
                           t.createOrder("desc", "t", "DESCEND(K)");
                           t.setOrderCondition();
                           t.createOrder("pad", "t", "PADL(ALLTRIM(K),4,'*')+STRZERO(ASC(K),3)+PADC(K,3)");
                           t.createOrder("rep", "t", "REPLICATE(K,3)+STRTRAN(K,'a','b')+STUFF(K,1,0,'-')");
                           t.createOrder("chr", "t", "CHR(ASC(K)+1)+UPPER(K)+LOWER(K)+SPACE(2)+LTRIM(K)");
                           t.createOrder("num", "t", "STR(LEN(TRIM(K))*10+AT('b',K)+RAT('c',K),5)");
                           t.createOrder("test", "t", "IIF(ISALPHA(K) .AND. !ISDIGIT(K),'A','Z')+RIGHT(PADR(K,5),2)");
                         }}));
    out.push_back(build({0x57, {{"PATH", 'C', 60, 0, 0}, {"SEQ", 'N', 5, 0, 0}}, 90, 3,
                         [](rdd::Table& t, int i) {
                           t.put("PATH", rt::Value("/usr/share/zorbane/mod\u00e8les/family" + std::to_string(i % 17) +
                                                   "/class" + std::to_string(i)));
                           t.put("SEQ", rt::Value(90 - i));
                         },
                         [](rdd::Table& t) {
                           t.createOrder("path", "t", "PATH");
                           t.createOrder("seq", "t", "SEQ");
                         }}));
    return out;
  }();
  return pairs;
}

void setRecordCount(std::string& table, std::uint32_t count) {
  for (int i = 0; i < 4; ++i) table[4 + i] = static_cast<char>(count >> (8 * i));
}

// The index's stamp as another program leaves it: all zero.
void clearStamp(std::string& index) {
  constexpr std::size_t kStampStart = 448, kStampEnd = 488;
  if (index.size() >= kStampEnd) std::memset(index.data() + kStampStart, 0, kStampEnd - kStampStart);
}

// The stamp's record of the table file (its size, time and hash) as the pair's own index has it.
void adoptTableFingerprint(std::string& index, const Pair& pair) {
  constexpr std::size_t kFingerprintStart = 448, kFingerprintEnd = 472;
  if (index.size() >= kFingerprintEnd)
    index.replace(kFingerprintStart, kFingerprintEnd - kFingerprintStart, pair.index, kFingerprintStart,
                  kFingerprintEnd - kFingerprintStart);
}

// Seeds of the whole-file form, for the pairs whose index is small enough to mutate quickly.
void writeSeeds(const char* folder) {
  constexpr std::size_t kMaxSeedIndex = 16 * 1024;
  for (std::size_t i = 0; i < validPairs().size(); ++i) {
    if (validPairs()[i].index.size() > kMaxSeedIndex) continue;
    const std::string name = std::string(folder) + "/pair" + std::to_string(i) + "-whole-index";
    std::ofstream out(name, std::ios::binary);
    out << '\0' << static_cast<char>(0x80 | i) << validPairs()[i].index;
  }
}

void writePair(const Pair& pair, std::uint8_t mode, std::string index) {
  std::string table = pair.table;
  struct timespec modified = pair.modified;
  switch ((mode & 7) % 7) {
    case 1: setRecordCount(table, pair.rows / 2); break;
    case 2: setRecordCount(table, pair.rows + 100); break;
    case 3: setRecordCount(table, 0); break;
    case 4: table.resize(table.size() / 2); break;
    case 5: clearStamp(index); break;
    case 6: modified.tv_nsec = (modified.tv_nsec + 1) % 1000000000; break;
    default: break;
  }
  scratch().write("t.dbf", table);
  scratch().write("t.cdx", index);
  const struct timespec times[2] = {modified, modified};
  ::utimensat(AT_FDCWD, scratch().file("t.dbf").c_str(), times, 0);
}

std::string damagedIndex(const Pair& pair, bool store, const std::uint8_t* data, std::size_t size) {
  std::string index = pair.index;
  for (std::size_t i = 0; i + 3 < size; i += 4) {
    const std::size_t at = (data[i] | data[i + 1] << 8 | data[i + 2] << 16) % index.size();
    index[at] = static_cast<char>(store ? data[i + 3] : index[at] ^ data[i + 3]);
  }
  return index;
}

std::unique_ptr<rdd::Table> openWithIndex(bool shared, bool readOnly, rdd::Env* env = nullptr) {
  rdd::OpenOptions options;
  options.env = env;
  options.shared = shared;
  options.readOnly = readOnly;
  options.appendBurstMs = 0;  // two users in one thread: neither may keep the header lock
  options.maxLeafKeys = 4;    // appended keys split nodes soon, on disk and in memory
  options.maxInteriorKeys = 4;
  options.memoryBlockEntries = 4;
  auto t = rdd::Table::open("t.dbf", scratch().folder(), options);
  if (t && !t->openIndex("t")) return nullptr;
  return t;
}

// Every field of the current record, in each form it can be read.
void readFields(rdd::Table& t) {
  for (int i = 0; i < t.fieldCount(); ++i) {
    (void)t.get(i);
    if (t.field(i).type == 'C') (void)t.text(i);
    if (t.field(i).type == 'L') (void)t.logical(i);
  }
}

void walkOrders(rdd::Table& t, int limit) {
  for (int o = 1; o <= t.orderCount(); ++o) {
    t.setOrder(o);
    int n = 0;
    for (t.goTop(); !t.eof() && n < limit; t.skip(), ++n) readFields(t);
    for (t.goBottom(); !t.bof() && n < limit + limit / 2; t.skip(-1), ++n) (void)t.recNo();
    (void)t.seek("n1");
    (void)t.seek("Rome");
    (void)t.seek("KKK");
    (void)t.seek("19");
    (void)t.seek("/usr/share/zorbane/models/family1");
    (void)t.seek("zz");
    t.skip(-2);
  }
}

// A value of the field's own type, different for each `seed`.
void putSample(rdd::Table& t, int i, int seed) {
  switch (t.field(i).type) {
    case 'C': t.putStr(i, "zz" + std::to_string(seed)); break;
    case 'L': t.putLogical(i, seed % 2 == 0); break;
    case 'N': t.put(i, rt::Value(seed % 1000)); break;
    case 'D': t.put(i, rt::Value(rt::makeDate(2000 + seed % 20, 1 + seed % 12, 1 + seed % 28))); break;
    default: break;
  }
}

void putRecord(rdd::Table& t, int seed) {
  for (int i = 0; i < t.fieldCount(); ++i) putSample(t, i, seed);
}

void change(rdd::Table& t) {
  if (t.orderCount() > 0) t.setOrder(1);
  t.goTop();
  for (int n = 0; n < 3 && !t.eof(); ++n, t.skip()) putRecord(t, 500 + n);
  t.goTop();
  for (int i = 0; i < t.fieldCount(); ++i) {  // values of every kind into every field: stored or refused
    t.put(i, rt::Value("7"));
    t.put(i, rt::Value(rt::Float{-1.5, 1}));
    t.put(i, rt::Value(true));
    t.put(i, rt::Value(rt::makeDate(2001, 2, 3)));
    (void)t.get(t.field(i).name);
  }
  t.goBottom();
  t.deleteRecord();
  t.skip(-1);
  t.deleteRecord();
  t.recall();
  for (int n = 0; n < 12; ++n) {
    t.append();
    putRecord(t, n);
  }
  if (t.orderCount() > 0) (void)t.dumpIndexFile(t.orderCount());
}

// Orders created into the damaged file and deleted from it, the orders' definitions read back.
void reshapeOrders(rdd::Table& t) {
  (void)t.used();
  (void)t.writeFailed();
  (void)t.fullPath();
  (void)t.path();
  (void)t.drive();
  (void)t.shared();
  (void)t.readOnly();
  (void)t.recordLength();
  (void)t.order();
  for (int o = 1; o <= t.orderCount(); ++o) {
    (void)t.orderName(o);
    (void)t.orderKey(o);
    (void)t.orderFor(o);
    (void)t.orderFile(o);
  }
  t.beginOrderChanges();
  t.setOrderCondition("!DELETED()");
  t.createOrder("fresh", "t", t.fieldCount() > 0 ? t.field(0).name : "1");
  t.setOrderCondition();
  if (t.orderCount() > 1) t.deleteOrder(1);
  t.endOrderChanges();
  t.setOrder(t.orderCount());
  t.goTo(2);
  (void)t.seek(std::string(t.rawField(0)));
  (void)t.found();
}

void cutToHalf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) (void)::truncate(path.c_str(), st.st_size / 2);
}

void twoSharedUsers(int failingLock) {
  rdd::FaultEnv faults(rdd::defaultEnv());
  faults.failLockNumber(failingLock);
  auto writer = openWithIndex(true, false, failingLock ? &faults : nullptr);
  auto reader = openWithIndex(true, true);
  if (!writer || !reader) return;
  walkOrders(*reader, 10);
  for (int n = 0; n < 2; ++n) {
    writer->append();
    putRecord(*writer, 900 + n);
    writer->flush();
    walkOrders(*reader, 10);  // sees the other user's records through the changed index
  }
  // Another program cuts both files short under the two open users.
  cutToHalf(scratch().file("t.dbf"));
  cutToHalf(scratch().file("t.cdx"));
  walkOrders(*reader, 10);
  writer->append();
  putRecord(*writer, 950);
  writer->flush();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
  rt::registerGeneralLibrary();
  rdd::registerFunctions();
  if (const char* folder = std::getenv("FUZZ_WRITE_SEEDS")) writeSeeds(folder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Pair& pair = validPairs()[(data[1] & 0x7F) % validPairs().size()];
  const bool wholeFile = (data[1] & 0x80) != 0;
  std::string index;
  if (wholeFile) {
    index.assign(reinterpret_cast<const char*>(data + 2), size - 2);
    adoptTableFingerprint(index, pair);
  } else {
    index = damagedIndex(pair, (data[0] & 0x80) != 0, data + 2, size - 2);
  }
  writePair(pair, data[0], std::move(index));
  if (auto reader = openWithIndex(true, true)) walkOrders(*reader, 60);
  const int failingWrite = (data[0] >> 3) & 0x0F;
  rdd::FaultEnv faults(rdd::defaultEnv());
  faults.failWriteNumber(failingWrite);
  faults.failEveryWriteAfterFirstFault(failingWrite > 8);
  if (auto owner = openWithIndex(false, false, failingWrite ? &faults : nullptr)) {
    walkOrders(*owner, 60);
    change(*owner);
    reshapeOrders(*owner);
    walkOrders(*owner, 30);
    owner->zap();
    owner->append();
    putRecord(*owner, 7);
    owner->close();
  }
  twoSharedUsers(failingWrite);
  return 0;
}
