// Fuzzes index reading through the real file layer. A valid table of 300 rows with a three-tag
// index of small nodes (over 100 KiB, several levels) is built once. Each input damages
// them and the damaged pair is written to a scratch folder, then opened shared read-only and
// exclusive, its orders walked and sought, and a record appended through the index.
//
// Input: byte 0 chooses what the table's header says against the index (its record count kept,
// halved, raised past the file, zeroed, or the file cut to half its records); the bytes after it
// are (offset, offset, offset, xor value) quadruples applied to the index, the offset read as 24
// bits so that any node can be reached.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "rdd/rdd.h"
#include "scratch.h"

namespace {

constexpr int kRows = 300;

const fuzz::ScratchDir& scratch() {
  static const fuzz::ScratchDir dir("fuzz_cdx_page");
  return dir;
}

struct Pair {
  std::string table, index;
};

const Pair& validPair() {
  static const Pair pair = [] {
    const fuzz::ScratchDir& dir = scratch();
    rdd::createTable(dir.file("t.dbf"), {{"NAME", 'C', 12, 0, 0}, {"CITY", 'C', 6, 0, 0}, {"N", 'N', 6, 0, 0}});
    rdd::OpenOptions options;
    options.shared = false;
    options.maxLeafKeys = 4;
    options.maxInteriorKeys = 4;
    auto t = rdd::Table::open("t.dbf", dir.folder(), options);
    for (int i = 0; i < kRows; ++i) {
      t->append();
      t->put("NAME", rt::Value("n" + std::to_string(i * 37 % kRows)));
      t->put("CITY", rt::Value(i % 3 ? "Oslo" : "Rome"));
      t->put("N", rt::Value(i));
    }
    t->createOrder("a", "t", "NAME", nullptr, false);
    t->createOrder("b", "t", "CITY+NAME", nullptr, false);
    t->createOrder("c", "t", "CITY", nullptr, true);
    t->close();
    return Pair{dir.read("t.dbf"), dir.read("t.cdx")};
  }();
  return pair;
}

void setRecordCount(std::string& table, std::uint32_t count) {
  for (int i = 0; i < 4; ++i) table[4 + i] = static_cast<char>(count >> (8 * i));
}

std::string tableAgainstIndex(std::uint8_t mode) {
  std::string table = validPair().table;
  switch (mode % 6) {
    case 1: setRecordCount(table, kRows / 2); break;
    case 2: setRecordCount(table, kRows + 100); break;
    case 3: setRecordCount(table, 0); break;
    case 4: table.resize(table.size() / 2); break;
    default: break;
  }
  return table;
}

void walkOrders(rdd::Table& t) {
  for (int o = 1; o <= t.orderCount(); ++o) {
    t.setOrder(o);
    int n = 0;
    for (t.goTop(); !t.eof() && n < 100; t.skip(), ++n) (void)t.get(0);
    for (t.goBottom(); !t.bof() && n < 150; t.skip(-1), ++n) (void)t.get(1);
    (void)t.seek("n1");
    (void)t.seek("Rome");
    (void)t.seek("zz");
  }
}

std::unique_ptr<rdd::Table> openWithIndex(bool shared, bool readOnly) {
  rdd::OpenOptions options;
  options.shared = shared;
  options.readOnly = readOnly;
  auto t = rdd::Table::open("t.dbf", scratch().folder(), options);
  if (t && !t->openIndex("t")) return nullptr;
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
  (void)validPair();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string index = validPair().index;
  for (std::size_t i = 1; i + 3 < size; i += 4) {
    const std::size_t at = (data[i] | data[i + 1] << 8 | data[i + 2] << 16) % index.size();
    index[at] = static_cast<char>(index[at] ^ data[i + 3]);
  }
  scratch().write("t.dbf", tableAgainstIndex(data[0]));
  scratch().write("t.cdx", index);
  if (auto reader = openWithIndex(true, true)) walkOrders(*reader);
  if (auto owner = openWithIndex(false, false)) {
    walkOrders(*owner);
    owner->append();
    owner->put("NAME", rt::Value("zz"));
    owner->put("CITY", rt::Value("Rome"));
    owner->close();
  }
  return 0;
}
