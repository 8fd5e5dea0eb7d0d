#pragma once
// The user's regional settings: one process-wide object, filled at start from the
// environment's locale (LC_NUMERIC, LC_TIME), replaceable by tests and the command line.
// Every number and date-time conversion of the data path reads it; nothing calls the C
// library's locale-dependent functions.

#include <array>
#include <string>

struct TFormatSettings {
  char DecimalSeparator = '.';
  std::string ThousandSeparator = ",";  // may be empty or a multi-byte character
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "M/d/yyyy";
  std::string LongDateFormat = "dddd, MMMM d, yyyy";
  std::string ShortTimeFormat = "h:nn AMPM";
  std::string LongTimeFormat = "h:nn:ss AMPM";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::array<std::string, 12> ShortMonthNames{};
  std::array<std::string, 12> LongMonthNames{};
  std::array<std::string, 7> ShortDayNames{};  // Sunday first
  std::array<std::string, 7> LongDayNames{};
};

// The process-wide settings, filled from the environment during static initialisation
// (so other static initialisers must not read them). Assign a whole object to replace
// them.
extern TFormatSettings FormatSettings;

namespace platform {

// English names, "." decimal separator, "M/d/yyyy" and "h:nn AMPM".
TFormatSettings UsFormatSettings();
// Russian names, "," decimal separator, no-break space grouping, "dd.MM.yyyy", "H:mm".
TFormatSettings RussianFormatSettings();
// The settings of a locale name such as "ru_RU.UTF-8" ("" = the environment's); falls
// back to UsFormatSettings() when the locale is not installed.
TFormatSettings FormatSettingsFromLocale(const char* localeName = "");

// Replaces the process-wide settings for the lifetime of the object (tests).
class ScopedFormatSettings {
 public:
  explicit ScopedFormatSettings(const TFormatSettings& settings);
  ~ScopedFormatSettings();
  ScopedFormatSettings(const ScopedFormatSettings&) = delete;
  ScopedFormatSettings& operator=(const ScopedFormatSettings&) = delete;

 private:
  TFormatSettings saved_;
};

}  // namespace platform
