// Fuzzes table opening through the real file layer: the input is a whole table file, written to a
// scratch folder and opened as the program and the report engine open tables (shared read-only,
// shared by two users at once, exclusive). Every outcome must be a clean open or a raised error.
// An opened table is walked and every field read in each of its forms; the writable opens append
// a record with a value for every field type. The exclusive open also indexes the table on a
// field of each type, walks and seeks each order, changes keyed fields, and reopens the written
// index, so that a table of any shape reaches the index writer and reader too.
#include <cstdint>
#include <memory>
#include <string>

#include "rdd/rdd.h"
#include "scratch.h"

namespace {

constexpr int kMaxWalk = 48;

const fuzz::ScratchDir& scratch() {
  static const fuzz::ScratchDir dir("fuzz_dbf_header");
  return dir;
}

std::unique_ptr<rdd::Table> openTable(bool shared, bool readOnly) {
  rdd::OpenOptions options;
  options.shared = shared;
  options.readOnly = readOnly;
  options.appendBurstMs = 0;  // two users in one thread: neither may keep the header lock
  return rdd::Table::open("f.dbf", scratch().folder(), options);
}

void readRecord(rdd::Table& t) {
  for (int i = 0; i < t.fieldCount(); ++i) {
    (void)t.get(i);
    (void)t.rawField(i);
    const char type = t.field(i).type;
    if (type == 'C' || type == 'M') (void)t.text(i);
    if (type == 'L') (void)t.logical(i);
  }
  (void)t.deleted();
}

void walk(rdd::Table& t) {
  int n = 0;
  for (t.goTop(); !t.eof() && n < kMaxWalk; t.skip(), ++n) readRecord(t);
  for (t.goBottom(); !t.bof() && n < 2 * kMaxWalk; t.skip(-1), ++n) readRecord(t);
  const std::uint32_t last = t.lastRec();
  t.goTo(last / 2 + 1);
  if (!t.eof()) readRecord(t);
  t.skip(-3);
  t.goTo(last + 5);
}

// A value of the field's own type, different for each `seed`.
void putSample(rdd::Table& t, int i, int seed) {
  switch (t.field(i).type) {
    case 'C': case 'M': t.putStr(i, "fz" + std::to_string(seed)); break;
    case 'L': t.putLogical(i, seed % 2 == 0); break;
    case 'N': case 'F': t.put(i, rt::Value(seed * 7 - 3)); break;
    case 'D': t.put(i, rt::Value(rt::makeDate(1990 + seed % 20, 1 + seed % 12, 1 + seed % 28))); break;
    default: break;
  }
}

void appendOne(rdd::Table& t, int seed) {
  t.append();
  for (int i = 0; i < t.fieldCount(); ++i) putSample(t, i, seed);
  t.flush();
}

// One order on the first field of each indexable type, the character one upper-cased and
// limited to the records not deleted, the numeric one unique.
void createOrders(rdd::Table& t) {
  bool done[4] = {};
  t.beginOrderChanges();
  for (int i = 0; i < t.fieldCount(); ++i) {
    const std::string& name = t.field(i).name;
    switch (t.field(i).type) {
      case 'C':
        if (done[0]) break;
        done[0] = true;
        t.setOrderCondition("!DELETED()");
        t.createOrder("c", "f", "UPPER(" + name + ")");
        t.setOrderCondition();
        break;
      case 'N': case 'F':
        if (!done[1]) t.createOrder("n", "f", name, nullptr, true);
        done[1] = true;
        break;
      case 'D':
        if (!done[2]) t.createOrder("d", "f", name + "+'-'");
        done[2] = true;
        break;
      case 'L':
        if (!done[3]) t.createOrder("l", "f", "IIF(" + name + ",'T','F')");
        done[3] = true;
        break;
      default: break;
    }
  }
  t.endOrderChanges();
}

void walkOrders(rdd::Table& t) {
  for (int o = 1; o <= t.orderCount(); ++o) {
    t.setOrder(o);
    (void)t.orderName(o);
    (void)t.orderKey(o);
    (void)t.orderFor(o);
    int n = 0;
    std::string firstKeyText;
    for (t.goTop(); !t.eof() && n < kMaxWalk; t.skip(), ++n) {
      if (n == 0 && t.fieldCount() > 0) firstKeyText = std::string(t.rawField(0));
      (void)t.get(0);
    }
    for (t.goBottom(); !t.bof() && n < 2 * kMaxWalk; t.skip(-1), ++n) (void)t.deleted();
    (void)t.seek(firstKeyText);
    (void)t.seek("");
    (void)t.seek("F");
    (void)t.seek("2");
    (void)t.seek("\xff");
  }
  t.setOrder(0);
}

// Changes the keyed fields of the first records and deletes one, so that every order moves keys.
void changeRecords(rdd::Table& t) {
  if (t.orderCount() == 0) return;
  t.setOrder(1);
  t.goTop();
  for (int n = 0; n < 3 && !t.eof(); ++n) {
    for (int i = 0; i < t.fieldCount(); ++i) putSample(t, i, 100 + n);
    t.skip();
  }
  t.goTop();
  t.deleteRecord();
  t.skip();
  t.recall();
  (void)t.dumpIndexFile(1);
}

void exclusiveUse() {
  if (auto owner = openTable(false, false)) {
    walk(*owner);
    createOrders(*owner);
    walkOrders(*owner);
    changeRecords(*owner);
    appendOne(*owner, 1);
    owner->close();
  }
  if (auto again = openTable(false, false)) {
    if (scratch().exists("f.cdx") && again->openIndex("f")) {
      walkOrders(*again);
      if (again->orderCount() > 0) again->deleteOrder(1);
      again->zap();
      appendOne(*again, 2);
    }
    again->close();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
  rt::registerGeneralLibrary();
  rdd::registerFunctions();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  scratch().write("f.dbf", data, size);
  scratch().remove("f.cdx");
  if (auto reader = openTable(true, true)) walk(*reader);
  {
    auto writer = openTable(true, false);
    auto reader = openTable(true, true);
    if (writer && reader) {
      appendOne(*writer, 0);
      walk(*reader);  // sees the other user's append, or a clean error
    }
  }
  exclusiveUse();
  return 0;
}
