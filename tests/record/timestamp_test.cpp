// The CSV time stamp: local time with milliseconds and the UTC offset, on every platform.
#include "record/timestamp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace zvk {
namespace {

std::tm At(int year, int yday, int hour, int min) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_yday = yday;
  t.tm_hour = hour;
  t.tm_min = min;
  return t;
}

TEST(Timestamp, OffsetFromLocalAndUtcTimes) {
  struct Case {
    const char* what;
    std::tm local, utc;
    int minutes;
    const char* text;
  };
  const Case cases[] = {
      {"UTC", At(2024, 60, 12, 0), At(2024, 60, 12, 0), 0, "+00:00"},
      {"east, same day", At(2024, 60, 13, 5), At(2024, 60, 12, 5), 60, "+01:00"},
      {"west, same day", At(2024, 60, 7, 0), At(2024, 60, 12, 0), -300, "-05:00"},
      {"half hour east, next day", At(2024, 61, 4, 15), At(2024, 60, 22, 45), 330, "+05:30"},
      {"west, previous day", At(2024, 59, 21, 30), At(2024, 60, 1, 0), -210, "-03:30"},
      {"east across the new year", At(2025, 0, 0, 45), At(2024, 365, 11, 0), 825, "+13:45"},
      {"west across the new year", At(2023, 364, 14, 30), At(2024, 0, 0, 0), -570, "-09:30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(UtcOffsetMinutes(c.local, c.utc), c.minutes);
    EXPECT_EQ(FormatUtcOffset(c.minutes), c.text);
  }
}

// Sets the process's time zone for one test and puts the old one back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    Set(tz);
  }
  ~ScopedTimeZone() { Set(old_.value_or("")); }

 private:
  static void Set(const std::string& tz) {
#ifdef _WIN32
    _putenv_s("TZ", tz.c_str());
    _tzset();
#else
    if (tz.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", tz.c_str(), 1);
    }
    tzset();
#endif
  }
  std::optional<std::string> old_;
};

TEST(Timestamp, LocalTimeCarriesTheZonesOffset) {
  // 2024-03-01 12:34:56.789 UTC; zones without summer time, in the form both C runtimes read.
  const auto instant =
      std::chrono::system_clock::from_time_t(1709296496) + std::chrono::milliseconds(789);
  struct Case {
    const char* tz;
    const char* expected;
  };
  const Case cases[] = {
      {"UTC0", "2024-03-01T12:34:56.789+00:00"},
      {"IST-5:30", "2024-03-01T18:04:56.789+05:30"},
      {"BRT3", "2024-03-01T09:34:56.789-03:00"},
      {"NZS-13", "2024-03-02T01:34:56.789+13:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    ScopedTimeZone zone(c.tz);
    EXPECT_EQ(LocalTimestamp(instant), c.expected);
  }
  ScopedTimeZone zone("UTC0");
  EXPECT_EQ(LocalTimestamp(std::chrono::system_clock::from_time_t(1709296496)),
            "2024-03-01T12:34:56.000+00:00");
}

}  // namespace
}  // namespace zvk
