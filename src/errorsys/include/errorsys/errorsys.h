// The process-wide error handler and the error log APPERROR.LOG. Every error raised through the
// run-time reaches DefError, which settles sharing conflicts silently, logs, asks the user and
// answers default, retry or substitute, or breaks to the recovery point or ends the program.
// Installed once at process start by InstallErrorSys; GUI thread only; keeps no state but the
// run-time's static error record and the process flags it sets.
#pragma once
#include <string>

#include "runtime/runtime.h"

namespace app {

// Registers DefErrorGen as the error-object factory, a block calling DefError as the error
// block and a warning log writing APPERROR.LOG, when this is the process's first hold of the
// run-time (instance count 1).
void InstallErrorSys();

// The handler. Answers false (default), true (retry) or the empty value of the error's
// SubstituteType; otherwise breaks to the recovery point or quits with the error's GenCode.
// An error raised while the handler runs is reported once as "Error in Error" and defaulted.
rt::Value DefError(const rt::Value& errorObject);

// The factory: builds an error object from a pointer value to an rt::RawErrorRecord.
rt::Value DefErrorGen(const rt::Value& recordPointer);

// The message shown in the box and logged, every line ending in CR LF (call stack not included).
std::string BuildErrorMessage(const rt::Error& error);

// Opens APPERROR.LOG in the working directory (or in `directory`, which ends in a separator),
// appending an empty line to an existing log, or creates it. Answers a file handle or -1.
int OpenErrorLog();
int OpenErrorLog(const std::string& directory);

// Writes one log block at the handle's position. A failed write raises a write error once.
void WriteErrorLog(int handle, const std::string& message, const rt::Error& error);

// Hexadecimal text of a value, for the processor-exception lines of the log.
std::string HexString(const rt::Value& value);

}  // namespace app
