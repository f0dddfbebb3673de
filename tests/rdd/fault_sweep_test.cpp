// Every public operation that writes, run with one failure injected at its 1st, 2nd, ... read,
// write, lock and sync, until a run finishes without reaching the injected fault; and killed at
// each of its writes. After each run the files open again and show the table as it was before the
// operation or as it is after it, with an index that agrees, and an error raised on the way names
// the operation.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "harness.h"

using namespace rddtest;

namespace {

// What can be made to fail: how to arm the n-th one from now (0 disarms) and how many were seen.
struct Fault {
  const char* name;
  void (rdd::FaultEnv::*arm)(int);
  int (rdd::FaultEnv::*seen)() const;
};
const Fault kReads{"reads", &rdd::FaultEnv::failReadNumber, &rdd::FaultEnv::readsSeen};
const Fault kWrites{"writes", &rdd::FaultEnv::failWriteNumber, &rdd::FaultEnv::writesSeen};
const Fault kFaults[] = {kReads, kWrites, {"locks", &rdd::FaultEnv::failLockNumber, &rdd::FaultEnv::locksSeen},
                         {"syncs", &rdd::FaultEnv::failSyncNumber, &rdd::FaultEnv::syncsSeen}};

// Where the table lives: "" in memory, a scratch directory on disk.
std::string gDir;

std::unique_ptr<rdd::Table> openTable(rdd::Env* env, bool shared, bool withIndex = true) {
  rdd::OpenOptions opt;
  opt.env = env;
  opt.shared = shared;
  auto t = rdd::Table::open("t", gDir, opt);
  if (t && withIndex) t->openIndex("idx");
  return t;
}

// Five rows under the order NAME in idx.cdx.
void fiveIndexedRows(rdd::Env* env) {
  ASSERT_TRUE(rdd::createTable(gDir + "t.dbf", smallLayout(), env));
  auto t = openTable(env, false, false);
  for (const char* name : {"dan", "bob", "eve", "amy", "cat"}) addRow(*t, name, "c" + std::string(name));
  t->createOrder("NAME", "idx", "NAME", nullptr, false);
}

// 2,000 rows under the orders NAME and CITY in idx.cdx: trees of some twenty leaves, which an
// image written over the one before mostly keeps.
void manyIndexedRows(rdd::Env* env) {
  ASSERT_TRUE(rdd::createTable(gDir + "t.dbf", smallLayout(), env));
  auto t = openTable(env, false, false);
  for (int i = 0; i < 2000; ++i) addRow(*t, "n" + std::to_string(10000 + i * 7 % 2000), "c" + std::to_string(i % 40));
  t->createOrder("NAME", "idx", "NAME", nullptr, false);
  t->createOrder("CITY", "idx", "CITY", nullptr, false);
}

// The public operation runs `arm` once its table is open (before, when the opening is swept).
using Run = std::function<void(rdd::Env*, const std::function<void()>& arm)>;
struct Operation {
  const char* name;
  std::function<void(rdd::Env*)> prepare;
  Run run;
  // What its errors may name: a failed write names the operation whose change it carried, a
  // failed read or lock also the call that was reading or locking.
  std::set<std::string> writeNames, otherNames;
  // Another user's change, made through the files without faults after this opener opened the
  // table and before the operation (it belongs to the view before it).
  std::function<void(rdd::Env*)> meanwhile;
};

Run loadTwoRows(bool shared) {
  return [shared](rdd::Env* env, const std::function<void()>& arm) {
    auto t = openTable(env, shared);
    arm();
    for (const char* name : {"fay", "abe"}) {
      t->append();
      if (t->eof()) break;  // not appended, and raised
      t->put("NAME", rt::Value(name));
    }
    t->goTop();
  };
}

void writeOneField(rdd::Env* env, const std::function<void()>& arm) {
  auto t = openTable(env, true);
  arm();
  t->goTo(2);
  t->put("NAME", rt::Value("zed"));
  t->goTop();
}

const std::vector<Operation>& operations() {
  static const std::vector<Operation> list = {
      {"append burst", fiveIndexedRows,
       loadTwoRows(true),
       {"DBAPPEND"}, {"DBGOTOP", "DBCLOSEAREA"}, {}},
      {"exclusive load", fiveIndexedRows,
       loadTwoRows(false),
       {"DBAPPEND"}, {"DBGOTOP", "DBCLOSEAREA"}, {}},
      {"field write", fiveIndexedRows,
       writeOneField,
       {"FIELDPUT"}, {"DBGOTO", "DBGOTOP", "DBCLOSEAREA"}, {}},
      {"field write beside another user", fiveIndexedRows,
       writeOneField,
       {"FIELDPUT"}, {"DBGOTO", "DBGOTOP", "DBCLOSEAREA"},
       [](rdd::Env* env) {
         auto other = openTable(env, true);
         addRow(*other, "gus", "c");
       }},
      {"look-ups from the index file, then a write", fiveIndexedRows,
       [](rdd::Env* env, const std::function<void()>& arm) {
         auto t = openTable(env, true);
         arm();
         t->setOrder(1);
         (void)t->seek("cat");
         t->skip();
         t->put("NAME", rt::Value("zed"));
         t->goBottom();
       },
       {"FIELDPUT"}, {"DBSEEK", "DBSKIP", "DBGOBOTTOM", "ORDLISTADD", "DBCLOSEAREA"}, {}},
      {"field writes in a run beside another user", fiveIndexedRows,
       [](rdd::Env* env, const std::function<void()>& arm) {
         auto t = openTable(env, true);
         arm();
         t->beginWrites();
         t->goTo(2);
         t->put("NAME", rt::Value("zed"));
         for (std::uint32_t r : {1u, 3u, 5u}) {
           t->goTo(r);
           t->putLogical(2, true);
         }
         t->endWrites();
         t->goTop();
       },
       // After a failed write, each later one is refused in the name of the call that tried it.
       {"FIELDPUT", "DBGOTO", "DBCOMMIT"}, {"DBGOTOP", "DBCLOSEAREA"},
       [](rdd::Env* env) {
         auto other = openTable(env, true);
         addRow(*other, "gus", "c");
       }},
      {"zap", fiveIndexedRows,
       [](rdd::Env* env, const std::function<void()>& arm) {
         auto t = openTable(env, false);
         arm();
         t->zap();
       },
       {"DBZAP"}, {"DBCLOSEAREA"}, {}},
      {"order build", fiveIndexedRows,
       [](rdd::Env* env, const std::function<void()>& arm) {
         auto t = openTable(env, true);
         arm();
         t->beginOrderChanges();
         t->deleteOrder(1);
         t->createOrder("CITYNAME", "idx", "CITY+NAME", nullptr, false);
         t->endOrderChanges();
       },
       {"ORDCREATE", "ORDDESTROY"}, {"DBGOTOP", "DBCLOSEAREA"}, {}},
      {"index write", fiveIndexedRows,
       [](rdd::Env* env, const std::function<void()>& arm) {
         auto t = openTable(env, false);
         t->goTo(4);
         t->put("NAME", rt::Value("ann"));
         t->goTop();  // exclusive: the key change waits in memory for the flush
         arm();
         t->flush();
       },
       {"FIELDPUT", "DBCOMMIT"}, {}, {}},
      {"index written over this opener's last image", manyIndexedRows,
       [](rdd::Env* env, const std::function<void()>& arm) {
         auto t = openTable(env, false);
         t->goTo(1);
         t->put("CITY", rt::Value("c1x"));  // a key of order 2 only, which the view does not walk
         t->flush();
         addRow(*t, "zed", "zz");  // sorts last in both orders
         t->goTop();
         arm();
         t->flush();
       },
       {"DBAPPEND", "DBCOMMIT"}, {}, {}},
      {"open and staleness repair",
       [](rdd::Env* env) {
         fiveIndexedRows(env);
         auto t = openTable(env, false, false);  // rows added without their index
         addRow(*t, "gus", "c");
         addRow(*t, "ada", "c");
       },
       [](rdd::Env* env, const std::function<void()>& arm) {
         arm();
         auto t = openTable(env, true);
       },
       {"ORDLISTADD"}, {"DBUSEAREA"}, {}},
  };
  return list;
}

// The table as a clean open finds it: each record's name (and mark), then the walk of order 1,
// which must visit every shown record once in key order. Sets *problem when it cannot be read.
std::string viewOf(rdd::Env* env, std::string* problem) {
  ErrorLog log;
  auto t = openTable(env, false, false);
  if (!t) return *problem = "the table does not open: " + log.last().description, "";
  if (env->exists(gDir + "idx.cdx") && !t->openIndex("idx")) return *problem = "the index does not open", "";
  std::string view;
  std::vector<std::pair<std::string, std::uint32_t>> keys;
  std::vector<int> keyFields;
  for (std::string part, expr = t->orderKey(1) + "+"; !expr.empty(); expr.erase(0, expr.find('+') + 1))
    if (!(part = expr.substr(0, expr.find('+'))).empty()) keyFields.push_back(t->fieldIndex(part));
  for (std::uint32_t r = 1; r <= t->lastRec(); ++r) {
    t->goTo(r);
    view += rtrim(std::string(t->rawField(0))) + (t->deleted() ? "*" : "") + " ";
    std::string key;
    for (int f : keyFields) key += t->rawField(f);
    keys.emplace_back(key, r);
  }
  if (t->orderCount() > 0) {
    std::sort(keys.begin(), keys.end());
    view += "| " + t->orderName(1) + ":";
    t->setOrder(1);
    std::size_t at = 0;
    for (t->goTop(); !t->eof(); t->skip(), ++at)
      if (at >= keys.size() || keys[at].second != t->recNo()) return *problem = "the order disagrees with the table", "";
    if (at != keys.size()) *problem = "the order lacks records";
  }
  for (const auto& e : log.errors)
    if (e->severity > 1) *problem = "reading it raised " + e->operation + ": " + e->description;
  return view;
}

struct Outcome {
  std::string view, problem;
};

Outcome runOnce(const Operation& op, const Fault& fault, int at, int* reached) {
  gDir.clear();
  auto mem = rdd::newMemEnv();
  op.prepare(mem.get());
  rdd::FaultEnv faults(mem.get());
  {
    ErrorLog log;
    int before = 0;
    op.run(&faults, [&] {
      if (op.meanwhile) op.meanwhile(mem.get());
      before = (faults.*fault.seen)();
      (faults.*fault.arm)(at);
    });
    *reached = (faults.*fault.seen)() - before;
    (faults.*fault.arm)(0);
    Outcome bad;
    for (const auto& e : log.errors) {
      const bool named = op.writeNames.count(e->operation) ||
                         (fault.arm != kWrites.arm && op.otherNames.count(e->operation));
      if (e->severity > 1 && !named) bad.problem = "an error names " + e->operation + ": " + e->description;
    }
    if (!bad.problem.empty()) return bad;
  }
  Outcome out;
  out.view = viewOf(mem.get(), &out.problem);
  return out;
}

}  // namespace

TEST(FaultSweep, EveryOperationFailedAtEachStepLeavesFilesThatOpenAsBeforeOrAfter) {
  for (const Operation& op : operations()) {
    int total = 0;
    Outcome before, after;
    {
      gDir.clear();
      auto mem = rdd::newMemEnv();
      op.prepare(mem.get());
      if (op.meanwhile) op.meanwhile(mem.get());
      before.view = viewOf(mem.get(), &before.problem);
    }
    int steps = 0;
    after = runOnce(op, kReads, 0, &steps);
    ASSERT_TRUE(before.problem.empty() && after.problem.empty()) << op.name << ": " << before.problem << after.problem;
    std::string counts;
    for (const Fault& fault : kFaults) {
      int points = 0;
      for (int at = 1;; ++at) {
        int reached = 0;
        Outcome o = runOnce(op, fault, at, &reached);
        if (reached < at) break;  // the run finished without reaching the fault
        ++points;
        EXPECT_TRUE(o.problem.empty()) << op.name << ", failing " << fault.name << " #" << at << ": " << o.problem;
        EXPECT_TRUE(o.view == before.view || o.view == after.view)
            << op.name << ", failing " << fault.name << " #" << at << ": " << o.view << "\n  before: " << before.view
            << "\n  after:  " << after.view;
      }
      counts += " " + std::to_string(points) + " " + fault.name;
      total += points;
    }
    std::printf("[  SWEEP   ] %-32s %4d points:%s\n", op.name, total, counts.c_str());
  }
}

// A kill at any write: the next open finds the table as it was before the operation or as it is
// after it. Among them a zap killed between cutting the file and writing its header, an order
// rebuild (as a compare ends with) killed while it writes the index, and a load killed between a
// burst's rows and the header that counts them.
TEST(FaultSweep, EveryOperationKilledAtEachWriteLeavesFilesThatOpenAsBeforeOrAfter) {
  for (const Operation& op : operations()) {
    ScratchDir dir;
    gDir = dir.str();
    auto clearDir = [&] {
      for (const char* f : {"t.dbf", "idx.cdx"}) std::remove(dir.file(f).c_str());
    };
    Outcome before, after;
    clearDir();
    op.prepare(rdd::defaultEnv());
    if (op.meanwhile) op.meanwhile(rdd::defaultEnv());
    before.view = viewOf(rdd::defaultEnv(), &before.problem);
    clearDir();
    op.prepare(rdd::defaultEnv());
    {
      ErrorLog log;
      op.run(rdd::defaultEnv(), [&] {
        if (op.meanwhile) op.meanwhile(rdd::defaultEnv());
      });
    }
    after.view = viewOf(rdd::defaultEnv(), &after.problem);
    ASSERT_TRUE(before.problem.empty() && after.problem.empty()) << op.name << ": " << before.problem << after.problem;
    int points = 0;
    for (int at = 1;; ++at) {
      clearDir();
      op.prepare(rdd::defaultEnv());
      pid_t kid = fork();
      if (kid == 0) {
        rdd::FaultEnv faults(rdd::defaultEnv());
        ErrorLog log;
        op.run(&faults, [&] {
          if (op.meanwhile) op.meanwhile(rdd::defaultEnv());
          faults.killAtWriteNumber(at);
        });
        _exit(0);
      }
      int status = 0;
      waitpid(kid, &status, 0);
      if (!WIFSIGNALED(status)) break;  // finished before its at-th write
      ++points;
      Outcome o;
      o.view = viewOf(rdd::defaultEnv(), &o.problem);
      EXPECT_TRUE(o.problem.empty()) << op.name << ", killed at write #" << at << ": " << o.problem;
      EXPECT_TRUE(o.view == before.view || o.view == after.view)
          << op.name << ", killed at write #" << at << ": " << o.view << "\n  before: " << before.view
          << "\n  after:  " << after.view;
    }
    std::printf("[  KILLED  ] %-32s %4d points\n", op.name, points);
  }
  gDir.clear();
}
