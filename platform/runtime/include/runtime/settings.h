// Process-wide run-time settings and their setters. Plain globals read by the table driver,
// the formatting functions and the collation; the GUI thread is the only writer.
#pragma once
#include <any>
#include <map>
#include <string>

#include "runtime/value.h"

namespace rt {

enum class InternationalMode { Fixed, Locale };
enum class Collation { FixedByteOrder, Locale };

struct Settings {
  bool exclusive = false;          // tables open exclusive unless the opener says otherwise
  bool deleted = false;            // true: rows marked deleted are hidden
  int epoch = 1900;                // first year of the 100-year window for two-digit years
  std::string dateFormat = "MM/DD/YYYY";
  bool century = true;
  char decimalSep = '.';
  char thousandsSep = ',';
  char timeSep = ':';
  bool amPm = false;
  std::string amExt;
  std::string pmExt;
  int decimals = 2;
  Collation collation = Collation::FixedByteOrder;
  InternationalMode international = InternationalMode::Fixed;
  bool beep = true;
  bool errorLog = true;
  std::string defaultDir;          // "SET DEFAULT TO" directory
  std::string defaultPath;         // search path
  bool netErr = false;             // the network-error flag
};

Settings& settings();

void setExclusive(bool on);
void setDeleted(bool on);
void setEpoch(int year);
void setDateFormat(std::string format);
void setCentury(bool on);
void setDecimalSep(char c);
void setThousandsSep(char c);
void setTimeSep(char c);
void setAmPm(bool on);
void setAMExt(std::string text);
void setPMExt(std::string text);
void setDecimals(int n);
void setCollation(Collation c);
void setInternational(InternationalMode mode);  // applies the fixed or the locale's values
void setBeep(bool on);
void setErrorLog(bool on);
void setDefaultDir(std::string dir);
void setDefaultPath(std::string path);
void setNetErr(bool on);
bool netErr();

// The current year minus `back`, checked: a result below zero raises numeric overflow and
// answers the block's substitute or 0.
int checkedYearMinus(int year, int back);

// Table-driver information slots (RDDInfo); slot 111 is kept for the table driver.
Value rddInfo(int ordinal);
Value rddInfo(int ordinal, const Value& newValue);  // returns the previous value

// The run-time's working directory text, always ending in a path separator.
std::string workingDirectory();

// The run-time's version text, as the error log shows it.
std::string versionText();

}  // namespace rt
