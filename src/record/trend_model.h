// The trend window without its widgets: every sample since start, the series each channel draws
// for a time span and the samples as CSV. The recording to a file is a sink beside it
// (engine/watch_sinks).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "record/sample.h"

namespace zvk {

enum class TrendSpan { Last5Minutes, LastHour, Everything };
inline constexpr std::array<const char*, 3> kTrendSpanNames = {"Last 5 minutes", "Last hour",
                                                               "Everything since start"};

struct TrendPoint {
  std::int64_t ms;  // since the epoch
  double value;     // in the unit the channel was shown in
};
// A run of values drawn as one line: it ends where a value is missing (a gap, "Disable",
// "Over Range", "Under Range", a pause) or the channel's unit changes.
using TrendLine = std::vector<TrendPoint>;

struct TrendRange {
  TimePoint from;
  TimePoint to;
};

// Where the samples start coming from another module than before.
struct ModuleMark {
  std::int64_t ms;   // since the epoch
  std::string name;  // what a person calls the new module (Sample::module_name)
  std::string mac;   // its MAC; empty when its identity record gave none
};

class TrendModel {
 public:
  explicit TrendModel(WallClock clock = SystemWallClock());

  // A sample from the poll. Readings of other channels than the last ones start the history
  // anew. A sample of another module than the last readings' (Sample::module) ends the lines
  // there with a mark.
  void Add(const Sample& sample);

  const std::vector<std::string>& channels() const { return channels_; }
  // The module of the last readings; both empty before them (and the MAC when it gave none).
  const std::string& module_mac() const { return module_; }
  const std::string& module_name() const { return module_name_; }
  // The module changes within the history, oldest first.
  const std::vector<ModuleMark>& marks() const { return marks_; }
  std::size_t size() const { return samples_.size(); }
  // The unit sign the channel's last number was shown with ("V", "℃", "℉"); empty before one.
  std::string Unit(std::size_t ch) const;

  TimePoint Now() const { return clock_(); }
  // What the chart shows for a span: the last 5 minutes or hour up to now, or everything from
  // the first sample on.
  TrendRange Range(TrendSpan span) const;
  // The lines of one channel within the range. With more than `max_points` values in the range,
  // each of max_points / 2 equal time slices keeps only its lowest and highest value.
  std::vector<TrendLine> Lines(std::size_t ch, TrendRange range, std::size_t max_points) const;
  // The samples within the range as `zvk read --csv` writes them (the header, rows, gap rows):
  // those of the current module only, since the file names no module.
  std::string Csv(TrendRange range) const;

 private:
  struct Cell {
    std::string text;             // as shown
    std::optional<double> value;  // none when the channel showed no number
    ReadingUnit unit;
  };
  struct Stored {
    std::int64_t ms;
    SampleKind kind;
    std::vector<Cell> cells;  // Readings only
    std::size_t module;       // counts the module changes before it
  };
  void ModuleChanged(const Sample& sample);

  WallClock clock_;
  TimePoint start_;
  std::vector<std::string> channels_;
  std::vector<Stored> samples_;
  bool module_seen_ = false;  // readings came: module_ is theirs
  std::string module_;
  std::string module_name_;
  std::vector<ModuleMark> marks_;
  std::size_t module_count_ = 0;
};

}  // namespace zvk
