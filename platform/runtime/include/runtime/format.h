// Date, number and time formatting under the current settings, and two-digit-year reading.
#pragma once
#include <ctime>
#include <optional>
#include <string>

#include "runtime/value.h"

namespace rt {

Date makeDate(int year, int month, int day);  // the empty date when invalid
void splitDate(Date d, int& year, int& month, int& day);
Date today();
int dayOfWeek(Date d);  // 1 = Sunday

std::string dtoc(Date d);            // in the current date format; blanks for an empty date
Date ctod(const std::string& text);  // two-digit years read with the epoch
std::string dtos(Date d);            // "YYYYMMDD"
std::string timeText();              // time of day, "hh:mm:ss" on the 24-hour clock
std::string timeText(int hours, int minutes, int seconds);

// While one lives, today() and timeText() answer the instant it holds instead of the clock's:
// one report run prints one time on all its pages, however long apart they are drawn. Scopes
// nest; the calling thread only.
class FixedClock {
 public:
  explicit FixedClock(std::time_t at);
  ~FixedClock();
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;

 private:
  std::optional<std::time_t> previous_;
};

// A number with the given decimals (-1: the value's own or the settings' default), with the
// decimal separator of the settings; thousands grouping only when asked.
std::string formatNumber(double value, int decimals = -1, bool groupThousands = false);
// Str() of the general library: right-aligned in `width` (default 10 + decimals).
std::string strNumber(double value, int width = -1, int decimals = -1);

}  // namespace rt
