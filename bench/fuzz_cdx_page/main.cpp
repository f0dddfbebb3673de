// Fuzzes index reading: a valid index (three tags, several levels) is damaged by the input, read
// as (offset low, offset high, xor value) triples, then opened, walked and sought.
#include <cstdint>
#include <memory>
#include <vector>

#include "rdd/rdd.h"

namespace {

std::vector<std::uint8_t> validIndex(std::vector<std::uint8_t>* table) {
  auto env = rdd::newMemEnv();
  rdd::createTable("t.dbf", {{"NAME", 'C', 12, 0, 0}, {"CITY", 'C', 6, 0, 0}}, env.get());
  rdd::OpenOptions opt;
  opt.env = env.get();
  opt.maxLeafKeys = 4;
  auto t = rdd::Table::open("t.dbf", "", opt);
  for (int i = 0; i < 60; ++i) {
    t->append();
    t->put("NAME", rt::Value("n" + std::to_string(i * 37 % 60)));
    t->put("CITY", rt::Value(i % 2 ? "Oslo" : "Rome"));
  }
  t->createOrder("a", "t", "NAME", nullptr, false);
  t->createOrder("b", "t", "CITY+NAME", nullptr, false);
  t->createOrder("c", "t", "CITY", nullptr, true);
  t->close();
  auto slurp = [&](const char* name) {
    std::unique_ptr<rdd::File> f;
    std::vector<std::uint8_t> out;
    if (!env->open(name, rdd::OpenMode::ReadOnly, &f).ok()) return out;
    std::uint64_t size = 0;
    (void)f->size(&size);
    out.resize(size);
    std::size_t got = 0;
    (void)f->read(0, out.data(), out.size(), &got);
    return out;
  };
  *table = slurp("t.dbf");
  return slurp("t.cdx");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<std::uint8_t> table;
  static std::vector<std::uint8_t> index = [] {
    rt::setErrorBlock([](const rt::ErrorPtr&) { return rt::Value(false); });
    return validIndex(&table);
  }();
  std::vector<std::uint8_t> damaged = index;
  for (std::size_t i = 0; i + 2 < size; i += 3) {
    std::size_t at = (data[i] | data[i + 1] << 8) % damaged.size();
    damaged[at] ^= data[i + 2];
  }
  auto env = rdd::newMemEnv();
  for (auto [name, bytes] : {std::pair{"t.dbf", &table}, std::pair{"t.cdx", &damaged}}) {
    std::unique_ptr<rdd::File> f;
    (void)env->open(name, rdd::OpenMode::CreateReadWrite, &f);
    (void)f->write(0, bytes->data(), bytes->size());
  }
  rdd::OpenOptions opt;
  opt.env = env.get();
  auto t = rdd::Table::open("t.dbf", "", opt);
  if (!t || !t->openIndex("t")) return 0;
  for (int o = 1; o <= t->orderCount(); ++o) {
    t->setOrder(o);
    int n = 0;
    for (t->goTop(); !t->eof() && n < 200; t->skip(), ++n) (void)t->get(0);
    (void)t->seek("n1");
    (void)t->dumpIndexFile(o);
  }
  t->append();
  t->put("NAME", rt::Value("zz"));
  t->close();
  return 0;
}
