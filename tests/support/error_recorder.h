// Test helper: while it lives, every raised error is recorded and answered with `answer`, except
// that the first `retriesLeft` errors which allow a retry are answered Retry; the default error
// block is put back when it goes out of scope.
#pragma once
#include <utility>
#include <vector>

#include "runtime/runtime.h"

class ErrorRecorder {
 public:
  explicit ErrorRecorder(rt::Value answer = rt::Value(false)) : answer(std::move(answer)) {
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      errors.push_back(e);
      if (retriesLeft > 0 && e->canRetry) {
        --retriesLeft;
        return rt::Value(true);
      }
      return this->answer;
    });
  }
  ~ErrorRecorder() { rt::setErrorBlock({}); }
  ErrorRecorder(const ErrorRecorder&) = delete;
  ErrorRecorder& operator=(const ErrorRecorder&) = delete;

  const rt::ErrorPtr& last() const { return errors.back(); }
  std::vector<rt::ErrorPtr> errors;
  rt::Value answer;
  int retriesLeft = 0;
};
