// Error objects and the raise protocol that every layer uses to report a failure.
//
// A raiser fills an Error and calls raise(). The installed process-wide error block answers:
// false (take the default), true (retry), another value (substitute), or it does not return:
// it breaks to the nearest recovery point (BreakSignal unwinds to withRecovery) or ends the
// program (QuitSignal unwinds to runMain). No layer prints, exits or throws on its own; the two
// signals are the run-time's only exceptions and only recovery points and runMain catch them.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/object.h"

namespace rt {

// Generic error codes. Texts come from genCodeText().
enum GenCode : int {
  EG_NONE = 0,
  EG_ARG = 1,            // argument error
  EG_BOUND = 2,          // bound error
  EG_STROVERFLOW = 3,    // string overflow
  EG_NUMOVERFLOW = 4,    // numeric overflow
  EG_ZERODIV = 5,        // zero divisor
  EG_NUMERR = 6,         // numeric error
  EG_SYNTAX = 7,         // syntax error
  EG_COMPLEXITY = 8,     // operation too complex
  EG_MEM = 11,           // memory low
  EG_NOFUNC = 12,        // undefined function
  EG_NOMETHOD = 13,      // no exported method
  EG_NOVAR = 14,         // variable or member does not exist
  EG_NOALIAS = 15,       // alias does not exist
  EG_NOVARMETHOD = 16,   // no exported variable
  EG_CREATE = 20,        // create error
  EG_OPEN = 21,          // open error
  EG_CLOSE = 22,         // close error
  EG_READ = 23,          // read error
  EG_WRITE = 24,         // write error
  EG_PRINT = 25,         // print error
  EG_UNSUPPORTED = 30,   // operation not supported
  EG_LIMIT = 31,         // limit exceeded
  EG_CORRUPTION = 32,    // corruption detected
  EG_DATATYPE = 33,      // data type error
  EG_DATAWIDTH = 34,     // data width error
  EG_NOTABLE = 35,       // workarea not in use
  EG_NOTINDEXED = 36,    // workarea not indexed
  EG_SHARED = 37,        // exclusive required
  EG_UNLOCKED = 38,      // lock required
  EG_READONLY = 39,      // write not allowed
  EG_APPENDLOCK = 40,    // append lock failed
  EG_LOCK = 41,          // lock failure
  EG_OLE = 50,           // automation error
  EG_INTERNAL = 60,      // internal error
};

// The run-time's text for a generic code ("Open error", ...); "Unknown error" for others.
std::string genCodeText(int genCode);

// Exception marker for processor exceptions carried in an Error.
inline constexpr int kExceptionSubCode = 4660;

class Error : public Object {
 public:
  int genCode = 0;
  int subCode = 0;
  std::string subSystem;
  std::string subCodeText;
  std::int64_t osCode = 0;
  int severity = 2;  // 1 is a warning
  bool canDefault = false;
  bool canRetry = false;
  bool canSubstitute = false;
  std::string operation;
  std::string description;
  std::string fileName;
  Value arg;
  Value args;  // array of the call's arguments, when known
  int argType = 0;
  int argTypeReq = 0;
  int substituteType = 0;
  int argNum = 0;
  Symbol funcSym;
  Symbol callFuncSym;
  std::uint64_t funcPtr = 0;
  int tries = 0;
  std::int64_t fileHandle = 0;
  std::int64_t maxSize = 0;

  std::string className() const override { return "ERROR"; }
  // Fields are also reachable by name (GENCODE, CANRETRY, ...).
  Value get(Symbol member) override;
  Value put(Symbol member, const Value& value) override;
};
using ErrorPtr = std::shared_ptr<Error>;

// The block every raised error is handed to. Its result follows the protocol above.
using ErrorBlock = std::function<Value(const ErrorPtr&)>;
void setErrorBlock(ErrorBlock block);  // an empty block restores the default (take the default)
const ErrorBlock& errorBlock();

struct Answer {
  enum Kind { Default, Retry, Substitute } kind = Default;
  Value substitute;
  bool retry() const { return kind == Retry; }
};

// Hands the error to the error block (counting the try) and interprets its answer. A retry is
// only reported when the error allows it, a substitute only when the error accepts one; any
// other answer is taken as the default. A raiser that retries raises the same Error again, so
// its Tries field counts the attempts.
Answer raise(const ErrorPtr& error);

// Called at the start of every raise(), before the error block (which may wait for the user):
// a layer lets go there of what must not stay held meanwhile, e.g. the table driver's append
// locks. A listener must not raise; listeners stay registered for the life of the process.
void addRaiseListener(std::function<void()> listener);

// A repair made in full that needs no answer (an index built again from its table) is not raised:
// it is handed to the warning log, which the process's error handler installs (it writes the
// error log). Nothing is shown and the operation's outcome is its own; with no log installed the
// warning goes nowhere. logWarning marks the error a warning (severity 1).
using WarningLog = std::function<void(const ErrorPtr&)>;
void setWarningLog(WarningLog log);  // an empty log restores the default (nowhere)
void logWarning(const ErrorPtr& warning);

// Convenience for raisers: an Error with the common fields filled.
ErrorPtr makeError(int genCode, std::string subSystem, std::string description,
                   std::string operation = {}, std::string fileName = {});

// Recovery points. withRecovery runs body; a break raised inside returns the carried error.
struct BreakSignal {
  Value carried;
};
struct QuitSignal {
  int exitCode = 0;
};
bool recoveryPointExists();
[[noreturn]] void breakToRecovery(Value carried);
ErrorPtr withRecovery(const std::function<void()>& body);  // null when body ended normally

// Orderly quit: unwinds to runMain, which returns the exit code.
[[noreturn]] void quit(int exitCode);
int runMain(const std::function<int()>& body);
void setExitCode(int code);
int exitCode();

}  // namespace rt
