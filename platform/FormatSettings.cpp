#include "platform/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/Text.h"

namespace platform {
namespace {

void FillEnglishNames(TFormatSettings& fs) {
  fs.ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  fs.LongMonthNames = {"January", "February", "March",     "April",   "May",      "June",
                       "July",    "August",   "September", "October", "November", "December"};
  fs.ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  fs.LongDayNames = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
}

// The name of the locale category as the environment sets it (LC_ALL, then the
// category, then LANG).
std::string EnvironmentLocaleName(const char* category) {
  for (const char* var : {"LC_ALL", category, "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return value;
  }
  return "";
}

bool IsPlainCLocale(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name.substr(0, 2) == "C.";
}

// Converts a strftime date or time format to the pattern notation of FormatDateTime.
// `separator` receives the first separator character met between two fields.
std::string StrftimeToPattern(std::string_view f, char& separator, bool& twelveHour) {
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c != '%') {
      if (separator == 0 && (c == '.' || c == '/' || c == '-' || c == ':')) separator = c;
      if (c == '/' || c == ':' || c == '.' || c == '-' || c == ' ' || c == ',') {
        out.push_back(c);
      } else {
        out += '"';
        out.push_back(c);
        out += '"';
      }
      continue;
    }
    if (++i >= f.size()) break;
    c = f[i];
    while ((c == 'E' || c == 'O' || c == '-' || c == '_' || c == '0') && i + 1 < f.size()) {
      c = f[++i];
    }
    switch (c) {
      case 'd':
        out += "dd";
        break;
      case 'e':
        out += "d";
        break;
      case 'm':
        out += "MM";
        break;
      case 'b':
      case 'h':
        out += "MMM";
        break;
      case 'B':
        out += "MMMM";
        break;
      case 'y':
        out += "yy";
        break;
      case 'Y':
      case 'G':
        out += "yyyy";
        break;
      case 'a':
        out += "ddd";
        break;
      case 'A':
        out += "dddd";
        break;
      case 'D':
        out += "MM/dd/yy";
        if (separator == 0) separator = '/';
        break;
      case 'F':
        out += "yyyy-MM-dd";
        if (separator == 0) separator = '-';
        break;
      case 'H':
        out += "hh";
        break;
      case 'k':
        out += "h";
        break;
      case 'I':
        out += "hh";
        twelveHour = true;
        break;
      case 'l':
        out += "h";
        twelveHour = true;
        break;
      case 'M':
        out += "nn";
        break;
      case 'S':
        out += "ss";
        break;
      case 'p':
      case 'P':
        out += "AMPM";
        twelveHour = true;
        break;
      case 'T':
        out += "hh:nn:ss";
        if (separator == 0) separator = ':';
        break;
      case 'R':
        out += "hh:nn";
        if (separator == 0) separator = ':';
        break;
      case 'r':
        out += "hh:nn:ss AMPM";
        twelveHour = true;
        if (separator == 0) separator = ':';
        break;
      case '%':
        out += "'%'";
        break;
      default:
        break;
    }
  }
  return out;
}

// The short time form of a long time pattern: the seconds and what joins them dropped.
std::string WithoutSeconds(const std::string& pattern) {
  const std::size_t s = pattern.find("ss");
  if (s == std::string::npos) return pattern;
  std::size_t b = s;
  while (b > 0 && pattern[b - 1] != 'n') --b;
  return pattern.substr(0, b) + pattern.substr(s + 2);
}

}  // namespace

TFormatSettings UsFormatSettings() {
  TFormatSettings fs;  // the defaults of the struct are the US ones
  fs.DecimalSeparator = '.';
  fs.DateSeparator = '/';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "M/d/yyyy";
  fs.LongDateFormat = "dddd, MMMM d, yyyy";
  fs.ShortTimeFormat = "h:nn AMPM";
  fs.LongTimeFormat = "h:nn:ss AMPM";
  fs.TimeAMString = "AM";
  fs.TimePMString = "PM";
  FillEnglishNames(fs);
  return fs;
}

TFormatSettings RussianFormatSettings() {
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = "\u00A0";
  fs.DateSeparator = '.';
  fs.TimeSeparator = ':';
  fs.ShortDateFormat = "dd.MM.yyyy";
  fs.LongDateFormat = "d MMMM yyyy 'г.'";
  fs.ShortTimeFormat = "H:mm";
  fs.LongTimeFormat = "H:mm:ss";
  fs.TimeAMString = "";
  fs.TimePMString = "";
  fs.ShortMonthNames = {"янв", "фев", "мар", "апр", "май", "июн",
                        "июл", "авг", "сен", "окт", "ноя", "дек"};
  fs.LongMonthNames = {"Январь", "Февраль", "Март",     "Апрель",  "Май",    "Июнь",
                       "Июль",   "Август",  "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
  fs.ShortDayNames = {"Вс", "Пн", "Вт", "Ср", "Чт", "Пт", "Сб"};
  fs.LongDayNames = {"воскресенье", "понедельник", "вторник", "среда",
                     "четверг",     "пятница",     "суббота"};
  return fs;
}

TFormatSettings FormatSettingsFromLocale(const char* localeName) {
  TFormatSettings fs = UsFormatSettings();
  std::string numericName = localeName ? localeName : "";
  std::string timeName = numericName;
  if (numericName.empty()) {
    numericName = EnvironmentLocaleName("LC_NUMERIC");
    timeName = EnvironmentLocaleName("LC_TIME");
  }
  if (IsPlainCLocale(numericName) && IsPlainCLocale(timeName)) return fs;

  // A locale object of our own: the process's global C locale stays untouched.
  locale_t numeric = newlocale(LC_NUMERIC_MASK, numericName.c_str(), static_cast<locale_t>(0));
  if (numeric != static_cast<locale_t>(0)) {
    const char* radix = nl_langinfo_l(RADIXCHAR, numeric);
    if (radix && std::strlen(radix) == 1) fs.DecimalSeparator = radix[0];
    const char* thousands = nl_langinfo_l(THOUSEP, numeric);
    if (thousands && IsValidUtf8(thousands)) fs.ThousandSeparator = thousands;
    freelocale(numeric);
  }

  locale_t time = newlocale(LC_TIME_MASK, timeName.c_str(), static_cast<locale_t>(0));
  if (time == static_cast<locale_t>(0)) return fs;
  auto text = [&](nl_item item) -> std::string {
    const char* s = nl_langinfo_l(item, time);
    return (s && IsValidUtf8(s)) ? std::string(s) : std::string();
  };
  char dateSeparator = 0;
  bool twelveHour = false;
  const std::string shortDate = StrftimeToPattern(text(D_FMT), dateSeparator, twelveHour);
  if (!shortDate.empty()) {
    fs.ShortDateFormat = shortDate;
    fs.DateSeparator = dateSeparator ? dateSeparator : '/';
  }
  char timeSeparator = 0;
  twelveHour = false;
  const std::string longTime = StrftimeToPattern(text(T_FMT), timeSeparator, twelveHour);
  if (!longTime.empty()) {
    fs.LongTimeFormat = longTime;
    fs.ShortTimeFormat = WithoutSeconds(longTime);
    fs.TimeSeparator = timeSeparator ? timeSeparator : ':';
  }
  fs.TimeAMString = text(AM_STR);
  fs.TimePMString = text(PM_STR);
  static const nl_item abmon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                    ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static const nl_item mon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                  MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  static const nl_item abday[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
  static const nl_item day[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  for (int i = 0; i < 12; ++i) {
    if (std::string s = text(abmon[i]); !s.empty()) fs.ShortMonthNames[i] = s;
    if (std::string s = text(mon[i]); !s.empty()) fs.LongMonthNames[i] = s;
  }
  for (int i = 0; i < 7; ++i) {
    if (std::string s = text(abday[i]); !s.empty()) fs.ShortDayNames[i] = s;
    if (std::string s = text(day[i]); !s.empty()) fs.LongDayNames[i] = s;
  }
  freelocale(time);
  return fs;
}

ScopedFormatSettings::ScopedFormatSettings(const TFormatSettings& settings)
    : saved_(FormatSettings) {
  FormatSettings = settings;
}

ScopedFormatSettings::~ScopedFormatSettings() { FormatSettings = saved_; }

}  // namespace platform

TFormatSettings FormatSettings = platform::FormatSettingsFromLocale("");
