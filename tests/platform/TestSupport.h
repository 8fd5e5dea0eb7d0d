#pragma once
// Shared pieces of the platform and conversion library tests: the two regional settings
// every table runs under, besides what every module's tests share.

#include "platform/FormatSettings.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

// Decimal comma, "dd.mm.yyyy", 24-hour "H:mm".
inline TFormatSettings CommaLocale() {
  TFormatSettings fs = platform::RussianFormatSettings();
  fs.ShortDateFormat = "dd.mm.yyyy";
  return fs;
}

// Decimal point, "M/d/yyyy", 12-hour "h:nn AMPM".
inline TFormatSettings PointLocale() { return platform::UsFormatSettings(); }

}  // namespace testsupport
