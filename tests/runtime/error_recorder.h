// Test helpers for the run-time: the shared error recorder, and the settings the program's
// start-up leaves in force.
#pragma once
#include "../support/error_recorder.h"
#include "runtime/runtime.h"

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
