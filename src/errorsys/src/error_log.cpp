// The error message text and the error log APPERROR.LOG: its opening, its block and the
// hexadecimal form of values used by the processor-exception lines.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "errorsys/errorsys.h"

namespace app {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kLogName = "APPERROR.LOG";

std::string text(const rt::Value& v) { return rt::toText(v); }

// One "label:value" line of the log's field list; labels are 17 characters including the colon.
std::string field(const char* label, const std::string& value) {
  std::string line(label);
  line.resize(16, ' ');
  return line + ":" + value + kCrLf;
}

std::string hex8(std::uint32_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(8, '0');
  for (int i = 7; i >= 0; --i, v >>= 4) out[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
  return out;
}

// The low 32 bits that stand for a value of any kind other than a number or a string.
std::uint32_t content32(const rt::Value& v) {
  switch (v.type()) {
    case rt::Type::Long: return static_cast<std::uint32_t>(v.asLong());
    case rt::Type::Logical: return v.asLogical() ? 1u : 0u;
    case rt::Type::Date: return static_cast<std::uint32_t>(v.asDate().julian);
    case rt::Type::Symbol: return v.asSymbol().id();
    case rt::Type::Pointer: return static_cast<std::uint32_t>(v.asPointer().address);
    case rt::Type::Object: return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(v.asObject().get()));
    case rt::Type::Array: return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(v.asArray().get()));
    default: return 0;
  }
}

// Writes all of `data`; false when the device refused part of it (disk full, closed handle).
[[nodiscard]] bool writeAll(int handle, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(handle, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string BuildErrorMessage(const rt::Error& e) {
  RT_FRAME("BuildErrorMessage");
  std::string m = e.severity == 1 ? "WARNING : " : "Error Code: ";
  m += " ";
  if (e.genCode == 0) {
    m += e.description;
  } else {
    m += rt::toUpper(rt::genCodeText(e.genCode));
    if (!e.description.empty()) m += kCrLf + e.description;
  }
  m += kCrLf;
  RT_LINE();
  if (!e.subSystem.empty()) m += "Subsystem: " + e.subSystem + kCrLf;
  if (e.subCode != 0) {
    m += "Error Subcode: " + std::to_string(e.subCode);
    if (!e.subCodeText.empty()) m += " (" + e.subCodeText + ")";
    m += kCrLf;
  }
  if (!e.operation.empty()) m += "Operation: " + e.operation + kCrLf;
  if (!e.funcSym.isNull()) m += "Function: " + e.funcSym.name() + kCrLf;
  if (!e.fileName.empty()) m += "Filename: " + e.fileName.substr(0, 40) + kCrLf;
  RT_LINE();
  std::string argText = text(e.arg);
  if (!argText.empty()) {
    m += "Argument: " + argText + kCrLf;
    if (e.argType != 0) m += "Type: " + rt::typeName(e.argType) + kCrLf;
  }
  if (e.argNum != 0) m += "Argument Number: " + std::to_string(e.argNum) + kCrLf;
  if (e.argTypeReq != 0 && e.argTypeReq != e.argType) m += "Requested type: " + rt::typeName(e.argTypeReq) + kCrLf;
  if (!e.description.empty()) m += "Description: " + e.description + kCrLf;
  return m;
}

namespace {

// A pipe in the log's place that nobody reads would hold the handler in the open for ever; opened
// without waiting it fails instead (ENXIO), and the error goes unlogged. A pipe somebody reads,
// or a device, takes the log as a file does.
int openWithoutWaiting(const std::string& path, int flags) {
  const int handle = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0644);
  if (handle >= 0) ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) & ~O_NONBLOCK);
  return handle;
}

}  // namespace

int OpenErrorLog() { return OpenErrorLog(rt::workingDirectory()); }

int OpenErrorLog(const std::string& directory) {
  RT_FRAME("OpenErrorLog");
  const std::string path = directory + kLogName;
  int handle = openWithoutWaiting(path, O_WRONLY);
  if (handle >= 0) {
    ::lseek(handle, 0, SEEK_END);
    // The separating empty line; a failure here shows again, and is reported, when the block is written.
    (void)writeAll(handle, kCrLf);
    return handle;
  }
  RT_LINE();
  // Linux keeps no archive attribute; a new log is an ordinary file readable by all.
  handle = openWithoutWaiting(path, O_WRONLY | O_CREAT | O_TRUNC);
  if (handle < 0 && errno == ENOENT) {
    RT_LINE();
    auto& s = rt::settings();
    std::string report;
    if (!s.defaultDir.empty()) {
      report = "SetDefaultDir: " + s.defaultDir;
      rt::setDefaultDir("");
    } else {
      report = "SetDefault: " + s.defaultPath;
      rt::setDefaultPath("");
    }
    rt::internalError(1, report);
  }
  return handle < 0 ? -1 : handle;
}

void WriteErrorLog(int handle, const std::string& message, const rt::Error& e) {
  RT_FRAME("WriteErrorLog");
  std::string b;
  b += "***********************ERROR********************************\r\n";
  b += rt::versionText() + kCrLf;
  b += rt::dtoc(rt::today()) + " " + rt::timeText() + kCrLf;
  b += " \r\nError message:\r\n--------------\r\n";
  b += message + kCrLf;  // the message ends in CR LF itself, so an empty line follows it
  b += "Error Object created:\r\n--------------------\r\n";
  RT_LINE();
  b += field("SubSystem", e.subSystem);
  b += field("SubCode", text(e.subCode));
  b += field("GenCode", rt::genCodeText(e.genCode));
  if (e.subCode == rt::kExceptionSubCode) {
    b += field("ExceptionCode", HexString(rt::Value(static_cast<long long>(e.osCode))));
    b += field("ExceptionFlags", HexString(e.argType));
    b += field("ExceptionAddress", HexString(rt::Value(static_cast<long long>(e.funcPtr))));
    b += field("ParamNumber", text(e.argNum));
    b += field("ExceptionInfo", HexString(e.funcSym));
  } else {
    b += field("OsCode", text(static_cast<long long>(e.osCode)));
    b += field("ArgType", rt::typeName(e.argType));
    b += field("FuncPtr", text(static_cast<long long>(e.funcPtr)));
    b += field("ArgNum", text(e.argNum));
    b += field("FuncSym", text(e.funcSym));
  }
  RT_LINE();
  b += field("Severity", text(e.severity));
  b += field("CanDefault", text(e.canDefault));
  b += field("CanRetry", text(e.canRetry));
  b += field("CanSubstitute", text(e.canSubstitute));
  b += field("Operation", e.operation);
  b += field("Description", e.description);
  b += field("FileName", e.fileName);
  b += field("Tries", text(e.tries));
  b += field("FileHandle", text(static_cast<long long>(e.fileHandle)));
  b += field("SubCodeText", e.subCodeText);
  b += field("Arg", text(e.arg));
  b += field("ArgTypeReq", rt::typeName(e.argTypeReq));
  b += field("MaxSize", text(static_cast<long long>(e.maxSize)));
  b += field("SubstituteType", rt::typeName(e.substituteType));
  b += field("CallFuncSym", text(e.callFuncSym));
  b += "--------------------\r\n";
  RT_LINE();
  if (!writeAll(handle, b)) {
    std::string reason = errno != 0 ? std::strerror(errno) : "device refused the data";
    auto failure = rt::makeError(rt::EG_WRITE, "BASE", std::string(kLogName) + ": " + reason, "WriteErrorLog",
                                 std::string(kLogName));
    failure->osCode = errno;
    failure->fileHandle = handle;
    failure->canDefault = true;
    (void)rt::raise(failure);  // the only outcome possible is to leave the block unwritten
  }
}

std::string HexString(const rt::Value& v) {
  RT_FRAME("HexString");
  static const char kDigits[] = "0123456789ABCDEF";
  if (v.isFloat()) {
    const double d = v.asNumber();
    if (text(v).find('.') != std::string::npos || d > 4294967295.0 || d < -2147483647.0 || !std::isfinite(d)) {
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return hex8(static_cast<std::uint32_t>(bits)) + hex8(static_cast<std::uint32_t>(bits >> 32));
    }
    // A whole number in 32-bit range; negative ones show their two's complement.
    auto n = static_cast<std::uint32_t>(static_cast<std::int64_t>(d));
    if (n == 0) return "0";
    std::string out;
    for (; n != 0; n /= 16) out.insert(out.begin(), kDigits[n % 16]);
    return out;
  }
  if (v.isString()) {
    std::string out;
    for (unsigned char c : v.asString()) {
      out += kDigits[c >> 4];
      out += kDigits[c & 0xF];
      out += ' ';
    }
    return out;
  }
  return hex8(content32(v));
}

}  // namespace app
