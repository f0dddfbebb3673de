// The process-wide error handler DefError, the error-object factory DefErrorGen and their
// installation.
#include <unistd.h>

#include <exception>
#include <new>

#include "errorsys/errorsys.h"

namespace app {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kMaxStackEntries = 5;

// The handler runs at most once at a time. An error raised while it runs (a log write that
// fails, a value whose text cannot be formed) is reported once, plainly, and defaulted, so the
// handler never recurses and the first error's outcome goes ahead.
struct HandlerState {
  bool running = false;
  bool nestedReported = false;
};

HandlerState& state() {
  static HandlerState s;
  return s;
}

class RunningGuard {
 public:
  RunningGuard() {
    state().running = true;
    state().nestedReported = false;
  }
  ~RunningGuard() { state().running = false; }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;
};

void reportErrorInError(const std::string& what) {
  if (state().nestedReported) return;
  state().nestedReported = true;
  rt::messageBox("Error in Error" + std::string(kCrLf) + what, "ERROR");
}

std::string describeNested(const rt::Value& arg) {
  if (auto e = arg.as<rt::Error>())
    return rt::genCodeText(e->genCode) + (e->description.empty() ? "" : ": " + e->description);
  return "";
}

// The record DefError builds for an argument that is not an error object: an argument error
// (subcode 28, severity 2, generic code 1) that can be defaulted, naming DefError and the value.
rt::ErrorPtr errorForNonError(const rt::Value& arg) {
  RT_FRAME("DefError:NonError");
  const std::string argText = rt::toText(arg);
  rt::RawErrorRecord& r = rt::staticErrorRecord();
  r.clear();
  r.write<std::uint8_t>(rt::raw::kTag, rt::kRawErrorTag);
  r.write<std::uint16_t>(rt::raw::kSubCode, 28);
  r.write<std::uint8_t>(rt::raw::kSeverity, 2);
  r.write<std::uint16_t>(rt::raw::kGenCode, rt::EG_ARG);
  r.write<std::uint8_t>(rt::raw::kFlags, rt::raw::kCanDefault);
  r.writeText(rt::raw::kFuncSym, "DEFERROR");
  r.writeText(rt::raw::kArg, argText.c_str());
  return rt::buildErrorFromRecord(&r);
}

// "CallStack:" and up to five calling routines with their lines. Level 0 is DefError itself, so
// level 1 is the routine that was running when the error was raised.
std::string callStackText() {
  std::string out;
  if (rt::procLine(1) <= 0) return out;
  out = std::string("CallStack: ") + kCrLf;
  for (int level = 1; level <= kMaxStackEntries && rt::procLine(level) > 0; ++level)
    out += rt::procName(level) + " (Line: " + std::to_string(rt::procLine(level)) + ")" + kCrLf;
  return out;
}

// Closes the log however the writing ends.
class LogHandle {
 public:
  explicit LogHandle(int handle) : handle_(handle) {}
  ~LogHandle() {
    if (handle_ != -1) ::close(handle_);
  }
  LogHandle(const LogHandle&) = delete;
  LogHandle& operator=(const LogHandle&) = delete;
  int get() const { return handle_; }

 private:
  int handle_;
};

void writeLog(const std::string& message, const rt::Error& e) {
  LogHandle log(OpenErrorLog());
  if (log.get() == -1) return;
  ::lseek(log.get(), 0, SEEK_END);
  WriteErrorLog(log.get(), message, e);
}

}  // namespace

rt::Value DefError(const rt::Value& errorObject) {
  if (state().running) {
    reportErrorInError(describeNested(errorObject));
    return rt::Value(false);
  }
  RT_FRAME("DefError");
  RunningGuard guard;

  rt::ErrorPtr e = errorObject.as<rt::Error>();
  if (!e) e = errorForNonError(errorObject);
  RT_LINE();

  if (e->canDefault && ((e->genCode == rt::EG_OPEN && e->osCode == 32) || e->genCode == rt::EG_APPENDLOCK)) {
    rt::setNetErr(true);
    return rt::Value(false);
  }

  const std::string caption = e->severity == 1 ? "WARNING" : "ERROR";
  if (e->substituteType == static_cast<int>(rt::Type::Pointer)) e->severity = 3;

  RT_LINE();
  std::string message;
  try {
    message = BuildErrorMessage(*e);
  } catch (const std::exception& x) {
    reportErrorInError(x.what());
    message = e->description + kCrLf;
  }
  message += callStackText();

  if (rt::settings().beep) {
    rt::tone(440, 1);
    rt::tone(494, 1);
    rt::tone(523, 1);
  }

  const std::uint32_t c1 = (e->canDefault || e->canSubstitute) ? 1 : 0;
  std::uint32_t c2 = 0;
  if (e->canRetry) {
    if (e->genCode == rt::EG_NOVAR)
      e->canRetry = false;
    else
      c2 = 2;
  }
  const std::uint32_t c3 = rt::recoveryPointExists() ? (rt::kChoiceFlag | rt::kChoiceBreak) : rt::kChoiceFlag;

  RT_LINE();
  if (rt::settings().errorLog) {
    try {
      writeLog(message, *e);
    } catch (const std::exception& x) {
      reportErrorInError(x.what());
    }
  }

  const std::uint32_t choice = rt::errorMessageBox(message, caption, c1, c2, c3);
  if (choice == 1) return e->canSubstitute ? rt::emptyValueOf(e->substituteType) : rt::Value(false);
  if (choice == 2) return rt::Value(true);

  RT_LINE();
  rt::mathInit();
  if (rt::recoveryPointExists()) rt::breakToRecovery(rt::Value(e));
  rt::setExitCode(e->genCode);
  rt::quit(e->genCode);
}

rt::Value DefErrorGen(const rt::Value& recordPointer) {
  RT_FRAME("DefErrorGen");
  rt::ErrorPtr e;
  try {
    e = std::make_shared<rt::Error>();
  } catch (const std::bad_alloc&) {
    rt::messageBox("No error object created !", "FROM DefErrorGen");
  }
  RT_LINE();
  const auto* record = reinterpret_cast<const rt::RawErrorRecord*>(recordPointer.asPointer().address);
  // A null record or a foreign structure is refused like a value that is not a pointer at all.
  if (recordPointer.isPointer() && record && record->read<std::uint8_t>(rt::raw::kTag) == rt::kRawErrorTag) {
    rt::RawErrorRecord& buffer = rt::staticErrorRecord();
    if (record != &buffer) buffer = *record;
    if (e) rt::transferRecord(buffer, *e);
  } else {
    rt::messageBox("Error structure has wrong tag", "FROM DefErrorGen");
  }
  return rt::Value(e);
}

void InstallErrorSys() {
  RT_FRAME("InstallErrorSys");
  if (rt::instanceCount() != 1) return;
  rt::setErrorFactory(&DefErrorGen);
  rt::setErrorBlock([](const rt::ErrorPtr& error) { return DefError(rt::Value(error)); });
  // A warning that needs no answer is logged as DefError logs it, with no box and no call stack.
  rt::setWarningLog([](const rt::ErrorPtr& warning) {
    if (!rt::settings().errorLog) return;
    try {
      writeLog(BuildErrorMessage(*warning), *warning);
    } catch (const std::exception& x) {
      reportErrorInError(x.what());
    }
  });
}

}  // namespace app
