// The comparison against a model of its rules: random tables with few distinct names (so that
// classes, parents, members and levels collide in every way, a class has several parents, a
// member is listed twice, flags are left over from earlier runs) are compared, and every flag of
// every row must equal what the seeks of the row visits give when run over sorted key lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "rdd/table.h"
#include "workflow/pair_verdicts.h"
#include "workflow/workflow.h"
#include "workflow_support.h"

namespace {

using model::Field;

constexpr std::array<Field, 7> kFlags = {Field::NO_MATCH, Field::ALL_OK,   Field::TYPEPROBLM, Field::LEVELPROB,
                                         Field::COMPARED, Field::PARENTOK, Field::CLASSFOUND};

struct Row {
  std::string version, className, parent, kind, attribute, type, level;
  std::array<bool, 7> flags{};
  bool deleted = false;  // hidden from the orders' walks, as the program sets DELETED on
};

std::string padded(const std::string& s, std::size_t width) { return s + std::string(width - s.size(), ' '); }

// The model: both orders as sorted (key, record) lists, seeks as prefix look-ups in them, and
// the two passes exactly as the rules state them.
class CompareModel {
 public:
  explicit CompareModel(std::vector<Row> rows) : rows_(std::move(rows)) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const Row& r = rows_[i];
      if (r.deleted) continue;
      const std::string head = padded(r.version, 15) + padded(r.className, 50);
      const std::string member = padded(r.kind, 1) + padded(r.attribute, 50) + padded(r.level, 1);
      order1_.push_back({head + padded(r.parent, 50) + member, i});
      order2_.push_back({head + member, i});
    }
    std::sort(order1_.begin(), order1_.end());
    std::sort(order2_.begin(), order2_.end());
  }

  const std::vector<Row>& compare(const std::string& base, const std::string& reference) {
    for (const auto& [key, i] : order1_)
      if (key.starts_with(padded(base, 15))) visit(i, padded(reference, 15));
    for (const auto& [key, i] : order1_)
      if (key.starts_with(padded(reference, 15)) && !rows_[i].flags[4]) visit(i, padded(base, 15));
    return rows_;
  }

 private:
  using Order = std::vector<std::pair<std::string, std::size_t>>;
  // The row a seek finds; npos when none.
  static std::size_t seek(const Order& order, const std::string& prefix) {
    auto it = std::lower_bound(order.begin(), order.end(), std::pair<std::string, std::size_t>{prefix, 0});
    return it != order.end() && it->first.starts_with(prefix) ? it->second : std::string::npos;
  }
  static void write(Row& row, std::array<bool, 7> values, bool allSeven) {
    for (std::size_t f = 0; f < 7; ++f)
      if (allSeven || (f != 2 && f != 3)) row.flags[f] = values[f];
  }
  void visit(std::size_t i, const std::string& other) {
    Row& r = rows_[i];
    std::string key = other + padded(r.className, 50);
    if (seek(order1_, key) == std::string::npos) return write(r, {true, false, false, false, true, false, false}, false);
    const bool parentFound = seek(order1_, key + padded(r.parent, 50)) != std::string::npos;
    if (parentFound) key += padded(r.parent, 50);
    const Order& order = parentFound ? order1_ : order2_;
    key += padded(r.kind, 1) + padded(r.attribute, 50);
    std::size_t c = seek(order, key + padded(r.level, 1));
    if (c == std::string::npos) c = seek(order, key);
    if (c == std::string::npos) return write(r, {true, false, false, false, true, parentFound, true}, false);
    Row& match = rows_[c];
    const bool parentOk = match.parent == r.parent, levelProblem = match.level != r.level,
               typeProblem = match.type != r.type;
    const std::array<bool, 7> v = {false, !levelProblem && !typeProblem && parentOk, typeProblem, levelProblem,
                                   true, parentOk, true};
    write(match, v, true);
    write(r, v, true);
  }
  std::vector<Row> rows_;
  Order order1_, order2_;
};

// A random table of `count` rows over a few names in three versions, with random old flags.
std::vector<Row> randomRows(std::mt19937& rng, int count) {
  auto pick = [&rng](std::initializer_list<const char*> names) {
    std::uniform_int_distribution<std::size_t> d(0, names.size() - 1);
    return std::string(names.begin()[d(rng)]);
  };
  std::vector<Row> rows;
  for (int i = 0; i < count; ++i) {
    Row r{pick({"B", "R", "R", "B", "X"}), pick({"K1", "K2", "K3", "K4"}), pick({"", "P1", "P2"}),
          pick({"", "P", "M"}), pick({"", "a", "b", "c"}), pick({"", "Integer", "Real"}), pick({"", "C", "I"})};
    for (bool& f : r.flags) f = rng() % 4 == 0;
    rows.push_back(std::move(r));
  }
  return rows;
}

void store(model::Mpdms& table, const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    wftest::appendRow(table, r.version, r.className, r.parent, r.kind, r.attribute, r.type, r.level);
    for (std::size_t f = 0; f < 7; ++f) table.setFlag(kFlags[f], r.flags[f]);
  }
}

// The random table of one seed, appended to `table`.
std::vector<Row> storeRandomRows(model::Mpdms& table, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Row> rows = randomRows(rng, 150 + static_cast<int>(rng() % 250));
  store(table, rows);
  return rows;
}

// The flags of every row in record order, one string of T and F per row.
std::vector<std::string> flagsOfTable(model::Mpdms& table) {
  std::vector<std::string> out;
  for (std::uint32_t r = 1; r <= table.lastRec(); ++r) {
    table.goTo(r);
    std::string letters;
    for (Field f : kFlags) letters += table.flag(f) ? 'T' : 'F';
    out.push_back(letters);
  }
  return out;
}

std::vector<std::string> flagsOfModel(const std::vector<Row>& rows) {
  std::vector<std::string> out;
  for (const Row& r : rows) {
    std::string letters;
    for (bool f : r.flags) letters += f ? 'T' : 'F';
    out.push_back(letters);
  }
  return out;
}

// Compares random tables through `compareOnce` (which builds the orders and compares "B" with
// "R") and checks every flag against the model.
template <class CompareOnce>
void checkRandomTables(unsigned seeds, CompareOnce&& compareOnce) {
  for (unsigned seed = 1; seed <= seeds; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    wftest::ScratchTable scratch;
    model::Mpdms& table = scratch.table;
    ASSERT_TRUE(table.used());
    const std::vector<Row> rows = storeRandomRows(table, seed);
    workflow::CompareObserver quiet;
    compareOnce(table, quiet);
    EXPECT_EQ(flagsOfTable(table), flagsOfModel(CompareModel(rows).compare("B", "R")));
    EXPECT_TRUE(scratch.errors.errors.empty());
  }
}

TEST(CompareModel, EveryFlagOfRandomTablesIsWhatTheSeeksGive) {
  checkRandomTables(12, [](model::Mpdms& table, workflow::CompareObserver& observer) {
    (void)workflow::buildIndexes(table, true);
    const auto counts =
        workflow::compareVersions(table, workflow::fullWidthVersion("B"), workflow::fullWidthVersion("R"), observer);
    EXPECT_FALSE(counts.writeFailed);
  });
}

// Orders keyed with more than the described fields are compared row by row with the seeks. The
// family field added here is blank in every row, so the seeks find the same rows.
TEST(CompareModel, OrdersKeyedOtherwiseAreComparedWithTheSeeks) {
  checkRandomTables(4, [](model::Mpdms& table, workflow::CompareObserver& observer) {
    std::string dir = table.tablePath();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    while (table.orderCount() > 0) table.deleteOrder(1, std::string());
    for (const model::OrderDesc& order : model::indexList().front().orders) {
      const std::string key = order.keyExpr + "+FAMILYNAME";
      table.createOrder(order.tag, dir + "mpdms1" + table.indexExt(), key, rt::compile("{||" + key + "}"), false);
    }
    ASSERT_EQ(table.orderCount(), 2);
    (void)workflow::compareVersions(table, workflow::fullWidthVersion("B"), workflow::fullWidthVersion("R"), observer);
  });
}

std::string lettersOf(const workflow::RowFlags& f) {
  std::string letters;
  for (bool flag : {f.noMatch, f.allOk, f.typeProblem, f.levelProblem, f.compared, f.parentOk, f.classFound})
    letters += flag ? 'T' : 'F';
  return letters;
}

// The verdicts worked out in memory, from reset flags and from the flags as stored, are those a
// written compare leaves (with and without "Reset Flags"), row by row, on every row of the pair;
// working them out writes nothing.
TEST(CompareModel, VerdictsWorkedOutInMemoryAreThoseTheWrittenCompareLeaves) {
  const std::string base = workflow::fullWidthVersion("B"), reference = workflow::fullWidthVersion("R");
  for (const workflow::FlagStart start : {workflow::FlagStart::Reset, workflow::FlagStart::AsStored}) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
      SCOPED_TRACE((start == workflow::FlagStart::Reset ? "reset, seed " : "as stored, seed ") + std::to_string(seed));
      wftest::ScratchTable scratch;
      model::Mpdms& table = scratch.table;
      ASSERT_TRUE(table.used());
      const std::vector<Row> rows = storeRandomRows(table, seed);
      (void)workflow::buildIndexes(table, true);
      const std::vector<std::string> stored = flagsOfTable(table);

      const workflow::PairVerdicts verdicts = workflow::computePairVerdicts(table, base, reference, start);
      EXPECT_EQ(flagsOfTable(table), stored);
      // Without an index the rows are read in record order and sorted: the same verdicts.
      while (table.orderCount() > 0) table.deleteOrder(1, std::string());
      const workflow::PairVerdicts unindexed = workflow::computePairVerdicts(table, base, reference, start);
      ASSERT_EQ(unindexed.size(), verdicts.size());
      for (std::size_t i = 0; i < verdicts.size(); ++i)
        EXPECT_TRUE(unindexed.rows[i].recno == verdicts.rows[i].recno && unindexed.rows[i].flags == verdicts.rows[i].flags)
            << "row " << i;
      (void)workflow::buildIndexes(table, true);
      if (start == workflow::FlagStart::Reset) workflow::clearComparisons(table);
      workflow::CompareObserver quiet;
      (void)workflow::compareVersions(table, base, reference, quiet);
      const std::vector<std::string> written = flagsOfTable(table);

      ASSERT_EQ(verdicts.size(), static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const Row& r) {
                  return r.version == "B" || r.version == "R";
                })));
      for (const workflow::PairRow& row : verdicts.rows)
        EXPECT_EQ(lettersOf(row.flags), written[row.recno - 1]) << "record " << row.recno;
      EXPECT_TRUE(scratch.errors.errors.empty());
    }
  }
}

// ---------------------------------------------------------------- another program's writes

// The rows as the table file holds them, read in record order without any index.
std::vector<Row> rowsOnDisk() {
  rdd::OpenOptions readOnly;
  readOnly.readOnly = true;
  auto t = rdd::Table::open(model::kTableName, "", readOnly);
  std::vector<Row> rows;
  if (!t) return rows;
  auto text = [&](Field f) {  // fields are numbered in record order
    const std::string_view v = t->text(static_cast<int>(f));
    return std::string(v.substr(0, v.find_last_not_of(' ') + 1));
  };
  for (std::uint32_t r = 1; r <= t->lastRec(); ++r) {
    t->goTo(r);
    Row row{text(Field::MODELVERS), text(Field::CLASSNAME), text(Field::PARENTNAME), text(Field::PROP_METHO),
            text(Field::ATTRIBUTE),  text(Field::TYPE),      text(Field::INS_CLASS)};
    for (std::size_t f = 0; f < 7; ++f) row.flags[f] = t->logical(static_cast<int>(kFlags[f]));
    row.deleted = t->deleted();
    rows.push_back(std::move(row));
  }
  return rows;
}

// Another program (python3-dbf, which knows nothing of our index or locks) writes the table in
// place while we hold it open. Whether we compare at once or append rows of our own first and
// leave the compare to the next opener, every flag must be what the compare's rules give on the
// rows as the file holds them.
TEST(CompareModel, AnotherProgramsWritesWhileTheTableIsHeldAreTakenIn) {
  if (std::system("/usr/bin/python3 -c 'import dbf' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-dbf is not installed (scripts/setup installs it)";
  struct OutsideWrite {
    const char* what;
    const char* script;  // run with `t`, the table open read-write
  };
  const OutsideWrite writes[] = {
      {"append",
       "t.append({'modelvers': 'R', 'classname': 'K1', 'parentname': 'P9', 'prop_metho': 'P', 'attribute': 'a'})\n"
       "t.append({'modelvers': 'B', 'classname': 'K7', 'prop_metho': 'M', 'attribute': 'z'})\n"},
      {"key field in place",
       "for r in t:\n"
       "    if r.modelvers.strip() == 'R' and r.classname.strip() == 'K2': dbf.write(r, classname='K5')\n"},
      {"non-key field",
       "for r in t:\n"
       "    if r.modelvers.strip() == 'R' and r.type.strip() == 'Integer': dbf.write(r, type='Real')\n"},
      {"delete",
       "for i, r in enumerate(t):\n"
       "    if i % 5 == 1: dbf.delete(r)\n"},
      {"pack",
       "for i, r in enumerate(t):\n"
       "    if i % 4 == 0: dbf.delete(r)\n"
       "t.pack()\n"},
      {"zap", "t.zap()\nt.append({'modelvers': 'B', 'classname': 'K1', 'attribute': 'a'})\n"},
  };
  const bool deletedBefore = rt::settings().deleted;
  rt::setDeleted(true);
  for (const OutsideWrite& write : writes)
    for (const bool holderCompares : {true, false}) {
      SCOPED_TRACE(std::string(write.what) + (holderCompares ? ", the holder compares" : ", the next opener compares"));
      wftest::WorkDir dir{""};
      wftest::ErrorRecorder errors;
      model::Mpdms::Args args;
      args.shared = true;
      auto holder = std::make_unique<model::Mpdms>(args);
      std::mt19937 rng(7);
      store(*holder, randomRows(rng, 300));
      (void)workflow::buildIndexes(*holder, true);
      holder->flush();
      const std::string python = std::string("/usr/bin/python3 - <<'PYEOF'\nimport dbf\n") +
                                 "t = dbf.Table('" + model::kTableName + "')\nt.open(dbf.READ_WRITE)\n" +
                                 write.script + "t.close()\nPYEOF\n";
      ASSERT_EQ(std::system(python.c_str()), 0);
      workflow::CompareObserver quiet;
      if (!holderCompares) {
        // As a load by the window: rows of another version, then the window is closed.
        for (const char* className : {"K1", "K3"}) wftest::appendRow(*holder, "X", className, "P1");
        holder->close();
        holder = std::make_unique<model::Mpdms>(args);
        (void)workflow::buildIndexes(*holder, false);
      }
      const std::vector<Row> rows = rowsOnDisk();
      (void)workflow::compareVersions(*holder, workflow::fullWidthVersion("B"), workflow::fullWidthVersion("R"), quiet);
      EXPECT_EQ(flagsOfTable(*holder), flagsOfModel(CompareModel(rows).compare("B", "R")));
      EXPECT_TRUE(errors.errors.empty()) << errors.errors.front()->description;
    }
  rt::setDeleted(deletedBefore);
}

}  // namespace
