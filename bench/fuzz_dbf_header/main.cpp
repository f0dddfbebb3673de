// Fuzzes table opening: the input is a whole table file. Every outcome must be a clean open or a
// raised error; records of an opened table are walked and read.
#include <cstdint>
#include <memory>

#include "rdd/rdd.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool init = [] {
    rt::setErrorBlock([](const rt::ErrorPtr&) { return rt::Value(false); });
    return true;
  }();
  (void)init;
  auto env = rdd::newMemEnv();
  {
    std::unique_ptr<rdd::File> f;
    if (!env->open("f.dbf", rdd::OpenMode::CreateReadWrite, &f).ok()) return 0;
    (void)f->write(0, data, size);
  }
  rdd::OpenOptions opt;
  opt.env = env.get();
  opt.shared = false;
  auto t = rdd::Table::open("f.dbf", "", opt);
  if (!t) return 0;
  int n = 0;
  for (t->goTop(); !t->eof() && n < 64; t->skip(), ++n)
    for (int i = 0; i < t->fieldCount(); ++i) (void)t->get(i);
  if (t->fieldCount() > 0 && t->field(0).type == 'C') {
    t->createOrder("k", "f", t->field(0).name, nullptr, false);
    (void)t->seek("A");
  }
  t->append();
  t->close();
  return 0;
}
