#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/DateTime.h"
#include "platform/FormatSettings.h"
#include "platform/NumberFormat.h"
#include "TestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// Compiles the Russian locale into `dir` (the machine need not have it installed);
// false when the locale sources or localedef are missing.
bool CompileRussianLocale(const TempDir& dir) {
  if (!std::filesystem::exists("/usr/share/i18n/locales/ru_RU")) return false;
  const std::string command =
      "localedef -i ru_RU -f UTF-8 '" + dir.File("ru_RU.UTF-8") + "' >/dev/null 2>&1";
  std::system(command.c_str());
  return std::filesystem::exists(dir.File("ru_RU.UTF-8"));
}

// The C library keeps the search path that LOCPATH names for good: not a leak of ours.
class IgnoreLibraryLeaks {
 public:
#if defined(__SANITIZE_ADDRESS__)
  IgnoreLibraryLeaks() { __lsan_disable(); }
  ~IgnoreLibraryLeaks() { __lsan_enable(); }
#endif
};

}  // namespace

TEST(FormatSettingsFromLocale, ReadsARussianEnvironment) {
  TempDir dir;
  if (!CompileRussianLocale(dir)) {
    GTEST_SKIP() << "the ru_RU locale sources or localedef are missing (Debian package locales)";
  }
  ScopedEnv path("LOCPATH", dir.path().c_str());
  ScopedEnv all("LC_ALL", nullptr);
  ScopedEnv numeric("LC_NUMERIC", nullptr);
  ScopedEnv time("LC_TIME", nullptr);
  ScopedEnv lang("LANG", "ru_RU.UTF-8");

  for (const char* name : {"ru_RU.UTF-8", ""}) {
    SCOPED_TRACE(*name ? name : "from LANG");
    const TFormatSettings fs = [&] {
      [[maybe_unused]] IgnoreLibraryLeaks ignore;
      return platform::FormatSettingsFromLocale(name);
    }();
    EXPECT_EQ(fs.DecimalSeparator, ',');
    EXPECT_EQ(fs.DateSeparator, '.');
    EXPECT_EQ(fs.TimeSeparator, ':');
    EXPECT_EQ(fs.ShortDateFormat, "dd.MM.yyyy");
    EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(fs.ShortTimeFormat, "hh:nn");
    EXPECT_EQ(fs.ShortDayNames[0], "Вс");

    TDateTime value = 0;
    ASSERT_TRUE(platform::TryEncodeDate(2003, 12, 25, value));
    value += 0.75;
    EXPECT_EQ(platform::FormatDateTime("c", value, fs), "25.12.2003 18:00:00");
    TDateTime back = 0;
    ASSERT_TRUE(platform::TryStrToDateTime("25.12.2003 18:00", back, fs));
    EXPECT_DOUBLE_EQ(back, value);
    EXPECT_EQ(platform::FormatFloat("0.00", 1.5, fs), "1,50");
  }
}
