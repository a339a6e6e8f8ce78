#include "record/timestamp.h"

#include <cstdio>
#include <cstdlib>

namespace zvk {

namespace {

// The thread-safe form of gmtime: POSIX and the Windows C runtime differ.
std::tm BrokenDownUtc(std::time_t t) {
  std::tm out{};
#ifdef _WIN32
  gmtime_s(&out, &t);
#else
  gmtime_r(&t, &out);
#endif
  return out;
}

}  // namespace

std::tm BrokenDownLocal(std::time_t t) {
  std::tm out{};
#ifdef _WIN32
  localtime_s(&out, &t);
#else
  localtime_r(&t, &out);
#endif
  return out;
}

int UtcOffsetMinutes(const std::tm& local, const std::tm& utc) {
  // The two dates are at most a day apart, across a year's end at worst.
  int days = local.tm_yday - utc.tm_yday;
  if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
  return days * 24 * 60 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
}

std::string FormatUtcOffset(int minutes) {
  char text[8];
  std::snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+',
                std::abs(minutes) / 60 % 100, std::abs(minutes) % 60);
  return text;
}

std::string LocalTimestamp(std::chrono::system_clock::time_point now) {
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  if (ms.count() < 0) ms += std::chrono::milliseconds(1000);
  const std::tm local = BrokenDownLocal(t);
  char date[32];
  if (std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local) == 0) date[0] = '\0';
  char millis[8];
  std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(ms.count()));
  return date + std::string(millis) + FormatUtcOffset(UtcOffsetMinutes(local, BrokenDownUtc(t)));
}

}  // namespace zvk
