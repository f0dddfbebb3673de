// Fuzzes table opening through the real file layer: the input is a whole table file, written to a
// scratch folder and opened as the program and the report engine open tables (shared read-only,
// shared by two users at once, exclusive). Every outcome must be a clean open or a raised error;
// the records of an opened table are walked and read, and the writable opens append.
#include <cstdint>
#include <memory>

#include "rdd/rdd.h"
#include "scratch.h"

namespace {

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

void walk(rdd::Table& t) {
  int n = 0;
  for (t.goTop(); !t.eof() && n < 64; t.skip(), ++n)
    for (int i = 0; i < t.fieldCount(); ++i) (void)t.get(i);
  t.goBottom();
  if (!t.eof()) {
    t.skip(-1);
    (void)t.deleted();
  }
  (void)t.lastRec();
}

void appendOne(rdd::Table& t) {
  t.append();
  for (int i = 0; i < t.fieldCount(); ++i)
    if (t.field(i).type == 'C') t.putStr(i, "fuzz");
  t.flush();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerEveryErrorWithDefault();
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
      appendOne(*writer);
      walk(*reader);  // sees the other user's append, or a clean error
    }
  }
  if (auto owner = openTable(false, false)) {
    walk(*owner);
    if (owner->fieldCount() > 0 && owner->field(0).type == 'C') {
      owner->createOrder("k", "f", owner->field(0).name, nullptr, false);
      (void)owner->seek("A");
      walk(*owner);
    }
    appendOne(*owner);
    owner->close();
  }
  return 0;
}
