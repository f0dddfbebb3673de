// While one lives, errors raised by the run-time are collected here and answered with their
// default instead of reaching the process's error block; the previous block returns afterwards.
// The reader uses it so that a layout with a bad expression is simply not valid.
#pragma once
#include <vector>

#include "runtime/runtime.h"

namespace rpt {

class QuietErrors {
 public:
  QuietErrors() : saved_(rt::errorBlock()) {
    rt::setErrorBlock([this](const rt::ErrorPtr& e) {
      caught_.push_back(e);
      return rt::Value(false);
    });
  }
  ~QuietErrors() { rt::setErrorBlock(saved_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

  bool caught() const { return !caught_.empty(); }
  const rt::ErrorPtr& first() const { return caught_.front(); }

 private:
  rt::ErrorBlock saved_;
  std::vector<rt::ErrorPtr> caught_;
};

}  // namespace rpt
