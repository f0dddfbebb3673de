// The comparison against a model of its rules: random tables with few distinct names (so that
// classes, parents, members and levels collide in every way, a class has several parents, a
// member is listed twice, flags are left over from earlier runs) are compared, and every flag of
// every row must equal what the seeks of the row visits give when run over sorted key lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "workflow/workflow.h"
#include "workflow/pair_verdicts.h"
#include "workflow_support.h"

namespace {

using model::Field;

constexpr std::array<Field, 7> kFlags = {Field::NO_MATCH, Field::ALL_OK,   Field::TYPEPROBLM, Field::LEVELPROB,
                                         Field::COMPARED, Field::PARENTOK, Field::CLASSFOUND};

struct Row {
  std::string version, className, parent, kind, attribute, type, level;
  std::array<bool, 7> flags{};
};

std::string padded(const std::string& s, std::size_t width) { return s + std::string(width - s.size(), ' '); }

// The model: both orders as sorted (key, record) lists, seeks as prefix look-ups in them, and
// the two passes exactly as the rules state them.
class CompareModel {
 public:
  explicit CompareModel(std::vector<Row> rows) : rows_(std::move(rows)) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const Row& r = rows_[i];
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
    wftest::WorkDir dir{""};
    wftest::ErrorRecorder errors;
    model::Mpdms::Args args;
    args.shared = true;
    model::Mpdms table(args);
    ASSERT_TRUE(table.used());
    std::mt19937 rng(seed);
    const std::vector<Row> rows = randomRows(rng, 150 + static_cast<int>(rng() % 250));
    store(table, rows);
    workflow::CompareObserver quiet;
    compareOnce(table, quiet);
    EXPECT_EQ(flagsOfTable(table), flagsOfModel(CompareModel(rows).compare("B", "R")));
    EXPECT_TRUE(errors.errors.empty());
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
      wftest::WorkDir dir{""};
      wftest::ErrorRecorder errors;
      model::Mpdms::Args args;
      args.shared = true;
      model::Mpdms table(args);
      ASSERT_TRUE(table.used());
      std::mt19937 rng(seed);
      const std::vector<Row> rows = randomRows(rng, 150 + static_cast<int>(rng() % 250));
      store(table, rows);
      (void)workflow::buildIndexes(table, true);
      const std::vector<std::string> stored = flagsOfTable(table);

      const workflow::PairVerdicts verdicts = workflow::computePairVerdicts(table, base, reference, start);
      EXPECT_EQ(flagsOfTable(table), stored);
      if (start == workflow::FlagStart::Reset) workflow::clearComparisons(table);
      workflow::CompareObserver quiet;
      (void)workflow::compareVersions(table, base, reference, quiet);
      const std::vector<std::string> written = flagsOfTable(table);

      ASSERT_EQ(verdicts.size(), static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const Row& r) {
                  return r.version == "B" || r.version == "R";
                })));
      for (const workflow::PairRow& row : verdicts.rows)
        EXPECT_EQ(lettersOf(row.flags), written[row.recno - 1]) << "record " << row.recno;
      EXPECT_TRUE(errors.errors.empty());
    }
  }
}

}  // namespace
