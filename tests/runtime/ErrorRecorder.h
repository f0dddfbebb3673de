// Test helper: installs an error block that records every raised error and answers with a
// chosen value, and puts the default block back when it goes out of scope.
#pragma once
#include <functional>
#include <vector>

#include "runtime/runtime.h"

class ErrorRecorder {
 public:
  explicit ErrorRecorder(rt::Value answer = rt::Value(false)) : answer_(std::move(answer)) {
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      errors.push_back(e);
      return answer_;
    });
  }
  ~ErrorRecorder() { rt::setErrorBlock({}); }
  ErrorRecorder(const ErrorRecorder&) = delete;
  ErrorRecorder& operator=(const ErrorRecorder&) = delete;

  const rt::ErrorPtr& last() const { return errors.back(); }
  std::vector<rt::ErrorPtr> errors;

 private:
  rt::Value answer_;
};

// Applies the settings that the program's start-up leaves in force, for a given clock year.
inline void applyStartupSettings(int year) {
  rt::rddInfo(111, rt::Value(true));
  rt::setCollation(rt::Collation::FixedByteOrder);
  rt::setExclusive(false);
  rt::setDeleted(true);
  rt::setCentury(true);
  rt::setEpoch(rt::checkedYearMinus(year, 50));
  rt::setInternational(rt::InternationalMode::Fixed);
  rt::setAmPm(false);
  rt::setPMExt("");
}
