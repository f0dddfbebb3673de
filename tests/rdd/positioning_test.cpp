// Positioning at either end of a table and reading another user's index change: both ends behave
// alike, and a read that fails on the way is raised instead of showing an order that lacks rows.
#include "harness.h"

using namespace rddtest;

namespace {

struct TwoOpeners {
  std::unique_ptr<rdd::Env> mem = rdd::newMemEnv();
  rdd::FaultEnv faults{mem.get()};
  std::unique_ptr<rdd::Table> reader, writer;
  TwoOpeners() {
    EXPECT_TRUE(rdd::createTable("t.dbf", smallLayout(), mem.get()));
    rdd::OpenOptions viaFaults, plain;
    viaFaults.env = &faults;
    plain.env = mem.get();
    writer = rdd::Table::open("t", "", plain);
    for (const char* name : {"bob", "dan", "eve"}) addRow(*writer, name, "c");
    writer->createOrder("NAME", "idx", "NAME", nullptr, false);
    writer->flush();
    reader = rdd::Table::open("t", "", viaFaults);
    EXPECT_TRUE(reader->openIndex("idx"));
    reader->setOrder(1);
  }
};

}  // namespace

TEST(Positioning, BothEndsClearTheBeginningMarkSetTheCurrentTableAndSeeOtherUsersRows) {
  for (int order : {0, 1}) {
    for (bool top : {true, false}) {
      ErrorLog log;
      TwoOpeners o;
      o.reader->setOrder(order);
      o.reader->goTop();
      o.reader->skip(-1);
      ASSERT_TRUE(o.reader->bof());
      addRow(*o.writer, top ? "abe" : "zed", "c");  // a new first or last row of the order
      o.writer->flush();
      // Another table was used last.
      o.writer->goTop();
      if (top) o.reader->goTop();
      else o.reader->goBottom();
      std::string where = std::string(top ? "top" : "bottom") + " in order " + std::to_string(order);
      EXPECT_FALSE(o.reader->bof()) << where;
      EXPECT_EQ(rdd::currentTable(), o.reader.get()) << where;
      std::string expected = order == 0 ? (top ? "bob" : "zed") : (top ? "abe" : "zed");
      EXPECT_EQ(rtrim(std::string(o.reader->rawField(0))), expected) << where;
      EXPECT_TRUE(log.empty()) << where;
    }
  }
}

TEST(Positioning, AFailedReadOfAnotherUsersIndexChangeIsRaisedNotReadAsAnOrderWithoutTheRow) {
  struct Case {
    const char* operation;
    std::function<bool(rdd::Table&)> findsNewRow;
  };
  const std::vector<Case> cases = {
      {"DBSEEK", [](rdd::Table& t) { return t.seek("zed"); }},
      {"DBGOBOTTOM", [](rdd::Table& t) { return t.goBottom(), rtrim(std::string(t.rawField(0))) == "zed"; }},
      {"DBSEEK", [](rdd::Table& t) {
         bool seen = false;
         t.scanOrder(1, "", [&](std::string_view key, std::uint32_t) { return !(seen = rtrim(std::string(key)) == "zed"); });
         return seen;
       }},
      {"DBGOTOP", [](rdd::Table& t) {
         t.goTop();
         t.skip(3);
         return rtrim(std::string(t.rawField(0))) == "zed";
       }},
  };
  for (const Case& c : cases) {
    ErrorLog log;
    TwoOpeners o;
    addRow(*o.writer, "zed", "c");
    o.writer->flush();
    o.faults.failReadNumber(1);
    bool found = c.findsNewRow(*o.reader);
    // Either the row is seen, or the reader heard why it is not.
    if (!found) {
      ASSERT_FALSE(log.empty()) << c.operation << ": the row is missing and nothing was raised";
      EXPECT_EQ(log.last().operation, c.operation);
      EXPECT_NE(log.last().description.find("idx.cdx"), std::string::npos) << log.last().description;
    }
    EXPECT_TRUE(o.reader->seek("zed")) << c.operation << ": the next read takes the change in";
  }
}

TEST(Positioning, ASkipFromARecordThatCannotBeReadIsRaisedAndStaysWhereItWas) {
  ErrorLog log;
  TwoOpeners o;
  o.reader->goTo(3);  // "eve": last in the order, found from its key when the skip needs it
  o.faults.failReadNumber(1);
  o.reader->skip();
  ASSERT_FALSE(log.empty()) << "moved to record " << o.reader->recNo() << " without a word";
  EXPECT_EQ(log.last().operation, "DBSKIP");
  EXPECT_EQ(o.reader->recNo(), 3u);
  o.reader->skip();
  EXPECT_TRUE(o.reader->eof()) << "the next skip goes on from the record's own place";
}
