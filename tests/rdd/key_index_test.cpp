// The in-memory order image on its own: what it holds after inserts in the orders a load and a
// user produce, walked and sought both ways, and how densely it packs a load.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "../support/resident_memory.h"
#include "harness.h"
#include "key_index.h"
#include "runtime/memory.h"

namespace {

// The allocation policy every program sets first thing, before a thread starts.
[[maybe_unused]] const bool kAllocationPolicySet = (rt::setAllocationPolicy(), true);

using rdd::KeyIndex;

// The model table's first order is 167 key bytes wide.
constexpr int kWideKey = 167;

std::string keyOf(int group, int member, int width) {
  char text[64];
  std::snprintf(text, sizeof text, "Class%05d Member%02d", group, member);
  std::string key(text);
  key.resize(static_cast<std::size_t>(width), ' ');
  return key;
}

// Entries as a class-by-class load appends them: classes in rising order, each class's rows in
// an order of their own (its members by level, not by name).
std::vector<std::string> loadOrder(const KeyIndex& index, int classes, int members) {
  std::vector<std::string> entries;
  std::mt19937 shuffle(7);
  std::uint32_t recno = 0;
  for (int c = 0; c < classes; ++c) {
    std::vector<int> order(static_cast<std::size_t>(members));
    for (int m = 0; m < members; ++m) order[static_cast<std::size_t>(m)] = m;
    std::shuffle(order.begin(), order.end(), shuffle);
    for (int m : order) entries.push_back(index.makeEntry(keyOf(c, m, index.keyLen()), ++recno));
  }
  return entries;
}

// Every way of reading the image agrees with `expected` (sorted): forward, backward, and a
// seek for each entry and for each entry's key.
void expectHolds(const KeyIndex& index, std::vector<std::string> expected) {
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(index.size(), expected.size());
  std::vector<std::string> forward, backward, visited;
  for (auto c = index.begin(); !index.atEnd(c); c = index.next(c)) forward.emplace_back(index.entry(c));
  for (auto c = index.last(); !index.atEnd(c); c = index.prev(c)) backward.emplace_back(index.entry(c));
  std::reverse(backward.begin(), backward.end());
  index.forEach([&](std::string_view e) { visited.emplace_back(e); });
  EXPECT_EQ(forward, expected);
  EXPECT_EQ(backward, expected);
  EXPECT_EQ(visited, expected);
  for (const std::string& e : expected) {
    auto at = index.lowerBound(e);
    ASSERT_FALSE(index.atEnd(at));
    ASSERT_EQ(index.entry(at), e);
    auto byKey = index.lowerBound(std::string_view(e).substr(0, static_cast<std::size_t>(index.keyLen())));
    ASSERT_EQ(index.key(byKey), index.key(at));
  }
}

}  // namespace

TEST(KeyIndexImage, ALoadClassByClassPacksItsLeavesAsTightlyAsAFreshBuild) {
  KeyIndex loaded(kWideKey);
  const std::vector<std::string> entries = loadOrder(loaded, 2000, 31);
  for (const std::string& e : entries) loaded.insert(e);
  expectHolds(loaded, entries);

  std::vector<std::string> sorted = entries;
  std::sort(sorted.begin(), sorted.end());
  KeyIndex built(kWideKey);
  built.bulkLoad(sorted.size(), [&](std::size_t i) { return sorted[i].data(); });
  const double raw = static_cast<double>(entries.size() * loaded.entrySize());
  EXPECT_LT(static_cast<double>(built.bytesHeld()), 1.15 * raw);
  // Splitting the last leaf in halves each time would hold about twice the raw bytes.
  EXPECT_LT(static_cast<double>(loaded.bytesHeld()), 1.1 * static_cast<double>(built.bytesHeld()));
}

TEST(KeyIndexImage, InsertsAndErasesInAnyOrderKeepEveryWayOfReadingRight) {
  // Small nodes: thousands of splits and hand-overs between siblings on every level.
  for (std::size_t leafEntries : {2u, 3u, 5u, 16u}) {
    SCOPED_TRACE(leafEntries);
    KeyIndex index(12, leafEntries);
    std::vector<std::string> entries = loadOrder(index, 60, 25);
    std::mt19937 random(static_cast<unsigned>(leafEntries));
    std::vector<std::string> mixed = entries;
    std::shuffle(mixed.begin(), mixed.end(), random);
    // Half in load order, half at random, so both the hand-over and the plain split run.
    const std::size_t half = entries.size() / 2;
    std::set<std::string> held;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string& e = i < half ? entries[i] : mixed[i];
      if (held.insert(e).second) index.insert(e);
    }
    for (const std::string& e : entries)
      if (held.insert(e).second) index.insert(e);
    expectHolds(index, entries);

    std::vector<std::string> kept;
    for (std::size_t i = 0; i < mixed.size(); ++i) {
      if (i % 3 == 0)
        ASSERT_TRUE(index.erase(mixed[i]));
      else
        kept.push_back(mixed[i]);
    }
    EXPECT_FALSE(index.erase(mixed[0]));
    expectHolds(index, kept);
    for (std::size_t i = 0; i < mixed.size(); i += 3) index.insert(mixed[i]);  // refill the gaps
    expectHolds(index, entries);
  }
}

TEST(KeyIndexImage, EntriesInsertedBetweenReadsInEveryArrivalOrderAreSeenByTheNextRead) {
  // Batches of every size relative to the tree (one entry, a few, more than the tree holds), in
  // rising, falling, class-by-class and random order, with each kind of read in between.
  for (std::size_t leafEntries : {2u, 3u, 7u, 0u}) {
    SCOPED_TRACE(leafEntries);
    KeyIndex index(kWideKey, leafEntries);
    const std::vector<std::string> all = loadOrder(index, 150, 31);
    std::vector<std::string> arrival = all;
    std::reverse(arrival.begin() + 500, arrival.begin() + 1500);
    std::shuffle(arrival.begin() + 2500, arrival.begin() + 3500, std::mt19937(5));
    std::sort(arrival.begin() + 4000, arrival.end());
    std::mt19937 random(static_cast<unsigned>(leafEntries) + 1);
    std::vector<std::string> held;
    std::size_t next = 0;
    for (int round = 0; next < arrival.size(); ++round) {
      const std::size_t batch = std::min<std::size_t>(arrival.size() - next, round % 3 == 0 ? 1 : 1 + random() % 700);
      for (std::size_t i = 0; i < batch; ++i, ++next) {
        index.insert(arrival[next]);
        held.push_back(arrival[next]);
      }
      ASSERT_EQ(index.size(), held.size());
      std::vector<std::string> sorted = held;
      std::sort(sorted.begin(), sorted.end());
      switch (round % 5) {
        case 0: ASSERT_EQ(index.entry(index.begin()), sorted.front()); break;
        case 1: ASSERT_EQ(index.entry(index.last()), sorted.back()); break;
        case 2: {
          const std::string& probe = held[random() % held.size()];
          ASSERT_EQ(index.entry(index.lowerBound(probe)), probe);
          break;
        }
        case 3: {
          std::size_t walked = 0;
          index.forEach([&](std::string_view e) { ASSERT_EQ(e, sorted[walked++]); });
          ASSERT_EQ(walked, sorted.size());
          break;
        }
        case 4: {
          const std::size_t gone = random() % held.size();  // may still wait in the batch
          ASSERT_TRUE(index.erase(held[gone]));
          held.erase(held.begin() + static_cast<std::ptrdiff_t>(gone));
          break;
        }
      }
      ASSERT_EQ(index.batched(), 0u);
    }
    expectHolds(index, held);
  }
}

TEST(KeyIndexImage, ABatchBeyondTheLastKeyLeavesTheLeavesBeforeItAsTheyWere) {
  KeyIndex index(kWideKey);
  const std::vector<std::string> entries = loadOrder(index, 400, 31);
  const std::size_t half = entries.size() / 2;
  for (std::size_t i = 0; i < half; ++i) index.insert(entries[i]);
  std::vector<const void*> leavesBefore;
  for (auto c = index.begin(); !index.atEnd(c); c = index.next(c))
    if (leavesBefore.empty() || leavesBefore.back() != c.leaf) leavesBefore.push_back(c.leaf);
  for (std::size_t i = half; i < entries.size(); ++i) index.insert(entries[i]);
  EXPECT_GT(index.batched(), 0u);
  expectHolds(index, entries);
  // Only the last leaf took entries; every leaf before it was neither copied nor moved.
  std::size_t same = 0;
  for (auto c = index.begin(); !index.atEnd(c) && same + 1 < leavesBefore.size(); c = index.next(c))
    if (c.pos == 0) {
      ASSERT_EQ(c.leaf, leavesBefore[same++]);
    }
  EXPECT_EQ(same + 1, leavesBefore.size());
}

TEST(KeyIndexImage, SortedEntriesHandedOverWholeArriveWholeThoughTheirMemoryIsGivenBackOnTheWay) {
  KeyIndex index(kWideKey);
  std::vector<std::string> entries = loadOrder(index, 1000, 31);  // 5 MB of entries
  std::sort(entries.begin(), entries.end());
  std::vector<char> flat;
  for (const std::string& e : entries) flat.insert(flat.end(), e.begin(), e.end());
  index.assignSorted(std::move(flat), entries.size());
  expectHolds(index, entries);
}

TEST(KeyIndexImage, EntriesWrittenInPlaceInAnyOrderFormATreeOnlyWhenTheyRise) {
  for (std::size_t leafEntries : {2u, 5u, 0u}) {
    SCOPED_TRACE(leafEntries);
    KeyIndex index(kWideKey, leafEntries);
    std::vector<std::string> entries = loadOrder(index, 300, 31);
    std::sort(entries.begin(), entries.end());
    // Written in load order (the record sequence), each at its place in key order.
    std::vector<std::size_t> arrival(entries.size());
    for (std::size_t i = 0; i < arrival.size(); ++i) arrival[i] = i;
    std::shuffle(arrival.begin(), arrival.end(), std::mt19937(3));
    auto writeAll = [&](auto slot) {
      for (std::size_t i : arrival) std::memcpy(slot(i), entries[i].data(), entries[i].size());
      return true;
    };
    ASSERT_TRUE(index.fillInPlace(entries.size(), writeAll));
    expectHolds(index, entries);
    index.insert(index.makeEntry(keyOf(9999, 0, kWideKey), 1));  // still an ordinary tree
    EXPECT_EQ(index.size(), entries.size() + 1);

    // Two places swapped: the entries do not rise, and nothing is kept.
    std::swap(entries[10], entries[200]);
    EXPECT_FALSE(index.fillInPlace(entries.size(), writeAll));
    EXPECT_EQ(index.size(), 0u);
    EXPECT_TRUE(index.atEnd(index.begin()));
    // A fill that fails (a record that could not be read) keeps nothing either.
    std::swap(entries[10], entries[200]);
    EXPECT_FALSE(index.fillInPlace(entries.size(), [&](auto slot) { return writeAll(slot) && false; }));
    EXPECT_EQ(index.size(), 0u);
    EXPECT_TRUE(index.fillInPlace(0, [](auto) { return true; }));
    EXPECT_TRUE(index.atEnd(index.begin()));
  }
}

TEST(KeyIndexImage, AnOrderBuiltOverALargeTableWalksEveryRecordInKeyOrder) {
  rddtest::ScratchDir dir;
  rddtest::ErrorLog log;
  ASSERT_TRUE(rdd::createTable(dir.file("t.dbf"), rddtest::smallLayout()));
  auto t = rdd::Table::open("t", dir.str(), {});
  constexpr int kRows = 120000;  // the entries span several megabytes
  std::mt19937 random(11);
  std::vector<std::string> names;
  for (int r = 0; r < kRows; ++r) {
    names.push_back("n" + std::to_string(random() % 50000));  // duplicates too
    rddtest::addRow(*t, names.back(), "c" + std::to_string(r % 7));
  }
  t->createOrder("name", "idx", "NAME", nullptr, false);
  t->setOrder(1);
  std::vector<bool> seen(kRows + 1, false);
  std::string previous;
  std::uint32_t previousRec = 0;
  int walked = 0;
  for (t->goTop(); !t->eof(); t->skip(), ++walked) {
    const std::uint32_t r = t->recNo();
    const std::string name = t->get("NAME").asString();
    ASSERT_FALSE(seen[r]) << r;
    seen[r] = true;
    ASSERT_EQ(rddtest::pad(names[r - 1], 10), name);
    ASSERT_TRUE(previous < name || (previous == name && previousRec < r)) << previous << " then " << name;
    previous = name;
    previousRec = r;
  }
  EXPECT_EQ(walked, kRows);
  EXPECT_TRUE(log.empty());
}

TEST(KeyIndexImage, ALargeOrderGivesItsMemoryBackWhenDropped) {
  if (kSanitizerAllocator) GTEST_SKIP() << "a sanitizer's allocator holds freed memory back on purpose";
  (void)::malloc_trim(0);  // what earlier tests freed would otherwise be reused unseen
  const long before = residentHeapKiB();
  auto index = std::make_unique<KeyIndex>(kWideKey);
  std::uint32_t recno = 0;
  for (int c = 0; c < 4000; ++c)  // about 20 MB of entries, inserted one by one as a load does
    for (int m = 0; m < 31; ++m) index->insert(index->makeEntry(keyOf(c, m, kWideKey), ++recno));
  const std::vector<char> later(100 * 1024, 'x');  // allocated after the tree: the heap cannot just shrink
  const long grown = residentHeapKiB() - before;
  ASSERT_GT(grown, 16 * 1024);
  index.reset();
  EXPECT_LT(residentHeapKiB() - before, grown / 4);
  EXPECT_EQ(later.back(), 'x');
}

TEST(KeyIndexImage, ALargeOrderDroppedUnderAHoldLeavesItsMemoryToTheNextUntilTheHoldEnds) {
  if (kSanitizerAllocator) GTEST_SKIP() << "a sanitizer's allocator holds freed memory back on purpose";
  (void)::malloc_trim(0);
  const long before = residentHeapKiB();
  auto fill = [](KeyIndex& index) {
    std::uint32_t recno = 0;
    for (int c = 0; c < 4000; ++c)  // about 20 MB of entries
      for (int m = 0; m < 31; ++m) index.insert(index.makeEntry(keyOf(c, m, kWideKey), ++recno));
  };
  auto index = std::make_unique<KeyIndex>(kWideKey);
  fill(*index);
  const std::vector<char> later(100 * 1024, 'x');  // allocated after the tree: the heap cannot just shrink
  const long grown = residentHeapKiB() - before;
  ASSERT_GT(grown, 16 * 1024);
  {
    KeyIndex::HoldFreedMemory hold;
    index.reset();
    EXPECT_GT(residentHeapKiB() - before, grown * 3 / 4);  // kept for the next tree
    KeyIndex next(kWideKey);
    fill(next);
    EXPECT_LT(residentHeapKiB() - before, grown * 5 / 4);  // which took it over
  }
  EXPECT_LT(residentHeapKiB() - before, grown / 4);  // given back with the hold
  EXPECT_EQ(later.back(), 'x');
}

// A load large enough that its batches are merged behind the inserts, on a helper thread: every
// read, a move of the index and its drop while a merge runs see (or drop) the whole content.
TEST(KeyIndexImage, BatchesMergedBehindTheInsertsAreSeenWholeByEveryReadMoveAndDrop) {
  KeyIndex probe(kWideKey);
  const std::vector<std::string> all = loadOrder(probe, 2000, 31);  // 62,000 entries
  std::vector<std::string> shuffled = all;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
  const std::vector<std::string>* arrivals[] = {&all, &shuffled};
  for (const std::vector<std::string>* arrival : arrivals) {
    KeyIndex index(kWideKey);
    std::vector<std::string> held;
    for (const std::string& e : *arrival) {
      index.insert(e);
      held.push_back(e);
      if (held.size() % 7919 == 0) {  // a read while a merge may run
        const auto at = index.lowerBound(held[held.size() / 2]);
        ASSERT_FALSE(index.atEnd(at));
        EXPECT_EQ(index.entry(at), held[held.size() / 2]);
        EXPECT_EQ(index.size(), held.size());
      }
      if (held.size() == 31000) index = KeyIndex(std::move(index));  // moved while a merge may run
    }
    expectHolds(index, held);
    KeyIndex dropped(kWideKey);
    for (const std::string& e : *arrival) dropped.insert(e);
  }  // `dropped` goes while its last merge may run
}
