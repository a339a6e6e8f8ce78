// The time stamps of the readings CSV (`zvk read --csv`, recordings): local time in ISO-8601 with
// milliseconds and the UTC offset.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace zvk {

// The thread-safe form of localtime: POSIX and the Windows C runtime differ.
std::tm BrokenDownLocal(std::time_t t);

// 2024-03-01T14:05:09.120+01:00, in the process's time zone.
std::string LocalTimestamp(std::chrono::system_clock::time_point now);

// Minutes east of UTC, from the same instant broken down in local time and in UTC. Computed from
// the two rather than read from strftime("%z"), which some C runtimes fill with the zone's name.
int UtcOffsetMinutes(const std::tm& local, const std::tm& utc);

// "+01:00", "-03:30", "+00:00".
std::string FormatUtcOffset(int minutes);

}  // namespace zvk
