#include "runtime/error.h"

#include <map>
#include <mutex>
#include <vector>

namespace rt {

std::string genCodeText(int genCode) {
  static const std::map<int, std::string> kTexts = {
      {EG_NONE, "No error"},
      {EG_ARG, "Argument error"},
      {EG_BOUND, "Bound error"},
      {EG_STROVERFLOW, "String overflow"},
      {EG_NUMOVERFLOW, "Numeric overflow"},
      {EG_ZERODIV, "Zero divisor"},
      {EG_NUMERR, "Numeric error"},
      {EG_SYNTAX, "Syntax error"},
      {EG_COMPLEXITY, "Operation too complex"},
      {EG_MEM, "Memory low"},
      {EG_NOFUNC, "Undefined function"},
      {EG_NOMETHOD, "No exported method"},
      {EG_NOVAR, "Variable does not exist"},
      {EG_NOALIAS, "Alias does not exist"},
      {EG_NOVARMETHOD, "No exported variable"},
      {EG_CREATE, "Create error"},
      {EG_OPEN, "Open error"},
      {EG_CLOSE, "Close error"},
      {EG_READ, "Read error"},
      {EG_WRITE, "Write error"},
      {EG_PRINT, "Print error"},
      {EG_UNSUPPORTED, "Operation not supported"},
      {EG_LIMIT, "Limit exceeded"},
      {EG_CORRUPTION, "Corruption detected"},
      {EG_DATATYPE, "Data type error"},
      {EG_DATAWIDTH, "Data width error"},
      {EG_NOTABLE, "Workarea not in use"},
      {EG_NOTINDEXED, "Workarea not indexed"},
      {EG_SHARED, "Exclusive required"},
      {EG_UNLOCKED, "Lock required"},
      {EG_READONLY, "Write not allowed"},
      {EG_APPENDLOCK, "Append lock failed"},
      {EG_LOCK, "Lock failure"},
      {EG_OLE, "Automation error"},
      {EG_INTERNAL, "Internal error"},
  };
  auto it = kTexts.find(genCode);
  return it == kTexts.end() ? "Unknown error" : it->second;
}

namespace {

// Each error field once, as data: its name and how to read and write it.
struct FieldAccess {
  const char* name;
  Value (*read)(const Error&);
  void (*write)(Error&, const Value&);
};

#define RT_NUM_FIELD(NAME, member)                                            \
  {NAME, [](const Error& e) { return Value(static_cast<long long>(e.member)); }, \
   [](Error& e, const Value& v) { e.member = static_cast<decltype(e.member)>(v.asLong()); }}
#define RT_STR_FIELD(NAME, member)                       \
  {NAME, [](const Error& e) { return Value(e.member); }, \
   [](Error& e, const Value& v) { e.member = v.asString(); }}
#define RT_BOOL_FIELD(NAME, member)                      \
  {NAME, [](const Error& e) { return Value(e.member); }, \
   [](Error& e, const Value& v) { e.member = v.asLogical(); }}
#define RT_VAL_FIELD(NAME, member) \
  {NAME, [](const Error& e) { return e.member; }, [](Error& e, const Value& v) { e.member = v; }}
#define RT_SYM_FIELD(NAME, member)                       \
  {NAME, [](const Error& e) { return Value(e.member); }, \
   [](Error& e, const Value& v) { e.member = v.isString() ? Symbol(v.asString()) : v.asSymbol(); }}

const FieldAccess kFields[] = {
    RT_NUM_FIELD("GENCODE", genCode),       RT_NUM_FIELD("SUBCODE", subCode),
    RT_STR_FIELD("SUBSYSTEM", subSystem),   RT_STR_FIELD("SUBCODETEXT", subCodeText),
    RT_NUM_FIELD("OSCODE", osCode),         RT_NUM_FIELD("SEVERITY", severity),
    RT_BOOL_FIELD("CANDEFAULT", canDefault), RT_BOOL_FIELD("CANRETRY", canRetry),
    RT_BOOL_FIELD("CANSUBSTITUTE", canSubstitute), RT_STR_FIELD("OPERATION", operation),
    RT_STR_FIELD("DESCRIPTION", description), RT_STR_FIELD("FILENAME", fileName),
    RT_VAL_FIELD("ARG", arg),               RT_VAL_FIELD("ARGS", args),
    RT_NUM_FIELD("ARGTYPE", argType),       RT_NUM_FIELD("ARGTYPEREQ", argTypeReq),
    RT_NUM_FIELD("SUBSTITUTETYPE", substituteType), RT_NUM_FIELD("ARGNUM", argNum),
    RT_SYM_FIELD("FUNCSYM", funcSym),       RT_SYM_FIELD("CALLFUNCSYM", callFuncSym),
    RT_NUM_FIELD("FUNCPTR", funcPtr),       RT_NUM_FIELD("TRIES", tries),
    RT_NUM_FIELD("FILEHANDLE", fileHandle), RT_NUM_FIELD("MAXSIZE", maxSize),
};

const FieldAccess* findField(Symbol name) {
  static const std::vector<Symbol> kNames = [] {
    std::vector<Symbol> names;
    for (const auto& f : kFields) names.emplace_back(f.name);
    return names;
  }();
  for (std::size_t i = 0; i < kNames.size(); ++i)
    if (kNames[i] == name) return &kFields[i];
  return nullptr;
}

ErrorBlock& installedBlock() {
  static ErrorBlock block;
  return block;
}

int& recoveryDepth() {
  static int depth = 0;
  return depth;
}

int& processExitCode() {
  static int code = 0;
  return code;
}

}  // namespace

Value Error::get(Symbol member) {
  if (auto* f = findField(member)) return f->read(*this);
  return Object::get(member);
}

Value Error::put(Symbol member, const Value& value) {
  if (auto* f = findField(member)) {
    f->write(*this, value);
    return value;
  }
  return Object::put(member, value);
}

void setErrorBlock(ErrorBlock block) { installedBlock() = std::move(block); }
const ErrorBlock& errorBlock() { return installedBlock(); }

namespace {
WarningLog& installedWarningLog() {
  static WarningLog log;
  return log;
}
}  // namespace

void setWarningLog(WarningLog log) { installedWarningLog() = std::move(log); }

void logWarning(const ErrorPtr& warning) {
  warning->severity = 1;
  if (const WarningLog& log = installedWarningLog()) log(warning);
}

namespace {
std::mutex& listenerMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::function<void()>>& raiseListeners() {
  static std::vector<std::function<void()>> listeners;
  return listeners;
}
}  // namespace

void addRaiseListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> hold(listenerMutex());
  raiseListeners().push_back(std::move(listener));
}

Answer raise(const ErrorPtr& error) {
  {
    std::lock_guard<std::mutex> hold(listenerMutex());
    for (const auto& listener : raiseListeners()) listener();
  }
  ++error->tries;
  const ErrorBlock& block = installedBlock();
  if (!block) return {};
  Value answer = block(error);
  if (answer.isLogical()) {
    if (answer.asLogical() && error->canRetry) return {Answer::Retry, {}};
    return {};
  }
  if (!error->canSubstitute) return {};
  return {Answer::Substitute, answer};
}

ErrorPtr makeError(int genCode, std::string subSystem, std::string description, std::string operation,
                   std::string fileName) {
  auto e = std::make_shared<Error>();
  e->genCode = genCode;
  e->subSystem = std::move(subSystem);
  e->description = std::move(description);
  e->operation = std::move(operation);
  e->fileName = std::move(fileName);
  return e;
}

bool recoveryPointExists() { return recoveryDepth() > 0; }

void breakToRecovery(Value carried) { throw BreakSignal{std::move(carried)}; }

ErrorPtr withRecovery(const std::function<void()>& body) {
  ++recoveryDepth();
  try {
    body();
  } catch (BreakSignal& signal) {
    --recoveryDepth();
    if (auto e = signal.carried.as<Error>()) return e;
    auto e = makeError(EG_NONE, "BASE", "Break: " + toText(signal.carried));
    e->arg = signal.carried;
    return e;
  } catch (...) {
    --recoveryDepth();
    throw;
  }
  --recoveryDepth();
  return nullptr;
}

void quit(int code) {
  processExitCode() = code;
  throw QuitSignal{code};
}

int runMain(const std::function<int()>& body) {
  try {
    int code = body();
    return code != 0 ? code : processExitCode();
  } catch (QuitSignal& signal) {
    return signal.exitCode;
  } catch (BreakSignal& signal) {
    // A break with no recovery point left ends the program with the error's code.
    auto e = signal.carried.as<Error>();
    int code = e && e->genCode != 0 ? e->genCode : 1;
    processExitCode() = code;
    return code;
  }
}

void setExitCode(int code) { processExitCode() = code; }
int exitCode() { return processExitCode(); }

}  // namespace rt
