#include <algorithm>

#include "model/model.h"

namespace model {
namespace {

std::string stemOf(const std::string& name) {
  std::size_t slash = name.find_last_of('/');
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  std::size_t dot = base.find_last_of('.');
  return rt::toUpper(dot == std::string::npos ? base : base.substr(0, dot));
}

bool driverIs(const rt::Value& driver, const char* name) {
  if (driver.isString()) return rt::toUpper(driver.asString()) == name;
  if (driver.isArray())
    for (const auto& v : *driver.asArray())
      if (v.isString() && rt::toUpper(v.asString()) == name) return true;
  return false;
}

std::string withSlash(const std::string& dir) {
  if (dir.empty() || dir.back() == '/') return dir;
  return dir + "/";
}

}  // namespace

Mpdms::Mpdms(const Args& args) {
  RT_FRAME("Mpdms:Init");
  bound_.fill(-1);
  dbfPath_ = args.dbfPath;
  if (args.name) name_ = *args.name;
  if (args.shared) shared_ = *args.shared;
  if (!shared_) shared_ = !rt::settings().exclusive;
  if (args.readOnly) readOnly_ = *args.readOnly;
  if (args.driver && (args.driver->isString() || args.driver->isArray())) driver_ = *args.driver;
  RT_LINE();
  if (!driverIs(driver_, kDriver)) {
    auto e = rt::makeError(rt::EG_UNSUPPORTED, "DBFCDX", "table driver " + rt::toText(driver_) + " is not available",
                           "DBUSEAREA", withSlash(dbfPath_) + name_);
    e->canDefault = true;
    (void)rt::raise(e);
    return;
  }
  rdd::OpenOptions options = args.options;
  options.shared = *shared_;
  options.readOnly = readOnly_;
  table_ = rdd::Table::open(name_, dbfPath_, options);
  if (!table_) return;
  RT_LINE();
  // Bind every field descriptor to the table's field of the same name.
  for (const auto& d : fieldDesc()) {
    int i = table_->fieldIndex(d.name);
    std::size_t k = static_cast<std::size_t>(&d - fieldDesc().data());
    if (i < 0) {
      auto e = rt::makeError(rt::EG_NOVAR, "DBFCDX", "field " + d.name + " does not exist in " + table_->fullPath(),
                             "FIELDBIND", table_->fullPath());
      e->canDefault = true;
      (void)rt::raise(e);
      continue;
    }
    bound_[k] = i;
  }
  RT_LINE();
  // Index-opening rule: a file whose stem differs from the table's (or any file under DBFNTX).
  rdd::Env* env = options.env ? options.env : rdd::defaultEnv();
  for (const auto& idx : indexList()) {
    std::string indexSpec = withSlash(idx.path.empty() ? dbfPath_ : idx.path) + idx.stem;
    if (stemOf(idx.stem) == stemOf(name_) && !driverIs(driver_, "DBFNTX")) continue;
    std::string file = indexSpec.find('.') == std::string::npos ? indexSpec + indexExt() : indexSpec;
    if (!env->exists(file)) continue;  // a missing index: the table works in natural order
    (void)table_->openIndex(indexSpec);
  }
  if (order_ > 0 && order_ <= table_->orderCount()) table_->setOrder(order_);
  table_->goTop();
}

Mpdms::~Mpdms() = default;

bool Mpdms::used() const { return table_ && table_->used(); }

void Mpdms::takeInOutsideChanges() {
  RT_FRAME("Mpdms:TakeInOutsideChanges");
  if (table_) table_->takeInOutsideChanges();
}
void Mpdms::goTop() {
  RT_FRAME("Mpdms:GoTop");
  if (table_) table_->goTop();
}
void Mpdms::skip(long n) {
  RT_FRAME("Mpdms:Skip");
  if (table_) table_->skip(n);
}
bool Mpdms::eof() const { return !table_ || table_->eof(); }
std::uint32_t Mpdms::recNo() const { return table_ ? table_->recNo() : 0; }
void Mpdms::goTo(std::uint32_t recno) {
  RT_FRAME("Mpdms:GoTo");
  if (table_) table_->goTo(recno);
}
std::uint32_t Mpdms::lastRec() { return table_ ? table_->lastRec() : 0; }
void Mpdms::setOrder(int n) {
  RT_FRAME("Mpdms:SetOrder");
  if (table_) table_->setOrder(n);
}
bool Mpdms::seek(std::string_view key) {
  RT_FRAME("Mpdms:Seek");
  return table_ && table_->seek(key);
}
void Mpdms::append() {
  RT_FRAME("Mpdms:Append");
  if (table_) table_->append();
}
void Mpdms::zap() {
  RT_FRAME("Mpdms:Zap");
  if (table_) table_->zap();
}
void Mpdms::close() {
  RT_FRAME("Mpdms:Close");
  if (table_) table_->close();
}
int Mpdms::orderCount() const { return table_ ? table_->orderCount() : 0; }
std::string Mpdms::tablePath() const { return table_ ? table_->path() : dbfPath_; }
std::string Mpdms::tableDrive() const { return table_ ? table_->drive() : std::string(); }
void Mpdms::deleteOrder(int n, const std::string& indexName) {
  RT_FRAME("Mpdms:DeleteOrder");
  if (table_) table_->deleteOrder(n, indexName);
}
void Mpdms::setOrderCondition(const std::string& cond, rt::BlockPtr block) {
  RT_FRAME("Mpdms:SetOrderCondition");
  if (table_) table_->setOrderCondition(cond, std::move(block));
}
void Mpdms::createOrder(const std::string& tag, const std::string& indexFile, const std::string& keyExpr,
                        rt::BlockPtr keyBlock, bool unique) {
  RT_FRAME("Mpdms:CreateOrder");
  if (table_) table_->createOrder(tag, indexFile, keyExpr, std::move(keyBlock), unique);
}
int Mpdms::controllingOrder() const { return table_ ? table_->order() : 0; }
std::string Mpdms::orderName(int n) const { return table_ ? table_->orderName(n) : std::string(); }
std::string Mpdms::orderKey(int n) const { return table_ ? table_->orderKey(n) : std::string(); }
std::string Mpdms::orderFor(int n) const { return table_ ? table_->orderFor(n) : std::string(); }
bool Mpdms::indexFileExists(const std::string& stem) const { return table_ && table_->indexFileExists(stem); }
void Mpdms::goBottom() {
  RT_FRAME("Mpdms:GoBottom");
  if (table_) table_->goBottom();
}
void Mpdms::flush() {
  RT_FRAME("Mpdms:Flush");
  if (used()) table_->flush();
}
void Mpdms::beginOrderChanges() {
  if (table_) table_->beginOrderChanges();
}
void Mpdms::endOrderChanges() {
  if (table_) table_->endOrderChanges();
}
void Mpdms::beginWrites() {
  if (table_) table_->beginWrites();
}
void Mpdms::endWrites() {
  if (table_) table_->endWrites();
}

rt::Value Mpdms::fieldGet(std::string_view name) {
  RT_FRAME("Mpdms:FieldGet");
  return table_ ? table_->get(name) : rt::Value();
}
void Mpdms::fieldPut(std::string_view name, const rt::Value& value) {
  RT_FRAME("Mpdms:FieldPut");
  if (table_) table_->put(name, value);
}

// The typed accessors run once per field of every row: a closed table is left to the driver,
// whose field access does nothing on it, instead of being asked first each time.
std::string_view Mpdms::str(Field f) { return table_ && bound(f) >= 0 ? table_->text(bound(f)) : std::string_view(); }
bool Mpdms::flag(Field f) { return table_ && bound(f) >= 0 && table_->logical(bound(f)); }
void Mpdms::setStr(Field f, std::string_view value) {
  if (table_ && bound(f) >= 0) table_->putStr(bound(f), value);
}
void Mpdms::appendRow(std::span<const std::pair<Field, std::string_view>> texts) {
  RT_FRAME("Mpdms:AppendRow");
  if (!table_) return;
  std::array<std::pair<int, std::string_view>, kFieldCount> fields;
  std::size_t n = 0;
  for (const auto& [field, text] : texts)
    if (bound(field) >= 0 && n < fields.size()) fields[n++] = {bound(field), text};
  table_->appendRecord(std::span(fields.data(), n));
}

rdd::Table::TextFit Mpdms::fitText(std::string_view text) const {
  return table_ ? table_->fitText(text) : rdd::Table::TextFit{std::string(text), {}};
}
std::string Mpdms::codePageName() const { return table_ ? table_->codePageName() : std::string(); }
void Mpdms::setFlag(Field f, bool value) {
  if (table_ && bound(f) >= 0) table_->putLogical(bound(f), value);
}
std::size_t Mpdms::storedWidth(Field f) const {
  return table_ && bound(f) >= 0 ? static_cast<std::size_t>(table_->field(bound(f)).length) : 0;
}

std::string_view Mpdms::storedField(Field f) {
  return table_ && bound(f) >= 0 ? table_->rawField(bound(f)) : std::string_view();
}

rt::Value Mpdms::get(rt::Symbol member) {
  const std::string& m = member.name();
  if (m == "CDBFPATH") return rt::Value(dbfPath_);
  if (m == "CNAME") return rt::Value(name_);
  if (m == "XDRIVER") return driver_;
  if (m == "LREADONLYMODE") return rt::Value(readOnly_);
  if (m == "LSHAREDMODE") return shared_ ? rt::Value(*shared_) : rt::Value();
  if (m == "NORDER") return rt::Value(order_);
  if (m == "USED") return rt::Value(used());
  if (m == "EOF") return rt::Value(eof());
  if (m == "RECNO") return rt::Value(static_cast<long long>(recNo()));
  if (m == "LASTREC" || m == "RECCOUNT") return rt::Value(static_cast<long long>(lastRec()));
  if (m == "ORDERCOUNT") return rt::Value(orderCount());
  if (m == "INDEXEXT") return rt::Value(indexExt());
  if (m == "NAME") return rt::Value(labelName());
  if (m == "FIELDDESC") {
    rt::Array out;
    for (const auto& d : fieldDesc())
      out.push_back(rt::Value::array({rt::Value(d.symbol), rt::Value(d.name), rt::Value(d.fieldSpec)}));
    return rt::Value::array(std::move(out));
  }
  if (m == "INDEXLIST") {
    rt::Array out;
    for (const auto& idx : indexList()) {
      rt::Array orders;
      for (const auto& o : idx.orders)
        orders.push_back(rt::Value::array({rt::Value(o.tag), rt::Value(o.duplicatesAllowed), rt::Value(o.second),
                                           rt::Value(o.keyExpr), rt::Value(o.condition)}));
      out.push_back(rt::Value::array({rt::Value(idx.stem), rt::Value(idx.path), rt::Value::array(std::move(orders))}));
    }
    return rt::Value::array(std::move(out));
  }
  for (const auto& d : fieldDesc())
    if (d.symbol == member) return fieldGet(d.name);
  return noIVarGet(member);
}

rt::Value Mpdms::put(rt::Symbol member, const rt::Value& value) {
  const std::string& m = member.name();
  if (m == "CDBFPATH" && value.isString()) return rt::Value(dbfPath_ = value.asString());
  if (m == "CNAME" && value.isString()) return rt::Value(name_ = value.asString());
  if (m == "XDRIVER") return driver_ = value;
  if (m == "LREADONLYMODE" && value.isLogical()) return rt::Value(readOnly_ = value.asLogical());
  if (m == "LSHAREDMODE" && value.isLogical()) return rt::Value(*(shared_ = value.asLogical()));
  if (m == "NORDER" && value.isNumber()) return rt::Value(order_ = static_cast<int>(value.asLong()));
  for (const auto& d : fieldDesc())
    if (d.symbol == member) {
      fieldPut(d.name, value);
      return value;
    }
  return noIVarPut(member, value);
}

rt::Value Mpdms::send(rt::Symbol member, const std::vector<rt::Value>& args) {
  const std::string& m = member.name();
  auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : rt::Value(); };
  if (m == "GOTOP") return goTop(), rt::Value(true);
  if (m == "SKIP") return skip(arg(0).isNumber() ? static_cast<long>(arg(0).asLong()) : 1), rt::Value(true);
  if (m == "GOTO") return goTo(static_cast<std::uint32_t>(arg(0).asLong())), rt::Value(true);
  if (m == "SEEK") return rt::Value(seek(arg(0).asString()));
  if (m == "SETORDER") return setOrder(static_cast<int>(arg(0).asLong())), rt::Value(true);
  if (m == "APPEND") return append(), rt::Value(true);
  if (m == "ZAP") return zap(), rt::Value(true);
  if (m == "CLOSE") return close(), rt::Value(true);
  if (m == "FIELDGET") return fieldGet(arg(0).isSymbol() ? arg(0).asSymbol().name() : arg(0).asString());
  if (m == "FIELDPUT") {
    fieldPut(arg(0).isSymbol() ? arg(0).asSymbol().name() : arg(0).asString(), arg(1));
    return arg(1);
  }
  if (m == "DELETEORDER") return deleteOrder(static_cast<int>(arg(0).asLong()), arg(1).asString()), rt::Value(true);
  return rt::Object::send(member, args);
}

}  // namespace model
