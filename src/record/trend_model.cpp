#include "record/trend_model.h"

#include <algorithm>

#include "record/csv_format.h"

namespace zvk {

namespace {

std::int64_t Ms(TimePoint t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TimePoint FromMs(std::int64_t ms) {
  return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(ms)));
}

// Each slice of the range keeps its lowest and highest value, in their order in time.
TrendLine Thin(const TrendLine& line, std::int64_t from_ms, std::int64_t slice_ms) {
  TrendLine thin;
  std::size_t i = 0;
  while (i < line.size()) {
    const std::int64_t slice = (line[i].ms - from_ms) / slice_ms;
    std::size_t low = i, high = i;
    for (; i < line.size() && (line[i].ms - from_ms) / slice_ms == slice; ++i) {
      if (line[i].value < line[low].value) low = i;
      if (line[i].value > line[high].value) high = i;
    }
    thin.push_back(line[std::min(low, high)]);
    if (low != high) thin.push_back(line[std::max(low, high)]);
  }
  return thin;
}

}  // namespace

TrendModel::TrendModel(WallClock clock) : clock_(std::move(clock)), start_(clock_()) {}

void TrendModel::ModuleChanged(const Sample& sample) {
  const std::string name =
      sample.module_name.empty() ? "a module that reported no MAC" : sample.module_name;
  marks_.push_back({Ms(sample.time), name, sample.module});
  ++module_count_;
  module_ = sample.module;
  module_name_ = sample.module_name;
}

void TrendModel::Add(const Sample& sample) {
  if (module_seen_ && OfAnotherModule(sample, module_)) ModuleChanged(sample);
  if (sample.kind == SampleKind::Readings) {
    module_seen_ = true;
    module_ = sample.module;
    module_name_ = sample.module_name;
  }
  if (sample.kind == SampleKind::Readings && !SameChannels(sample.readings, channels_)) {
    channels_ = ChannelsOf(sample.readings);
    samples_.clear();
    // Marks before the history are of no use; the one of this sample is kept.
    std::erase_if(marks_, [&](const ModuleMark& m) { return m.ms < Ms(sample.time); });
  }
  // A long pause is one break in the lines, not one per supervision tick.
  const bool repeated_pause = sample.kind == SampleKind::Pause && !samples_.empty() &&
                              samples_.back().kind == SampleKind::Pause;
  if (!repeated_pause) {
    Stored stored{Ms(sample.time), sample.kind, {}, module_count_};
    if (sample.kind == SampleKind::Readings)
      for (const Reading& r : sample.readings) stored.cells.push_back({r.text, r.value, r.unit});
    samples_.push_back(std::move(stored));
  }
}

std::string TrendModel::Unit(std::size_t ch) const {
  for (auto it = samples_.rbegin(); it != samples_.rend(); ++it) {
    if (ch < it->cells.size() && it->cells[ch].value) return UnitSign(it->cells[ch].unit);
  }
  return "";
}

TrendRange TrendModel::Range(TrendSpan span) const {
  const TimePoint to = clock_();
  switch (span) {
    case TrendSpan::Last5Minutes:
      return {to - std::chrono::minutes(5), to};
    case TrendSpan::LastHour:
      return {to - std::chrono::hours(1), to};
    case TrendSpan::Everything:
      break;
  }
  TimePoint from = samples_.empty() ? start_ : FromMs(samples_.front().ms);
  if (from >= to) from = to - std::chrono::seconds(1);
  return {from, to};
}

std::vector<TrendLine> TrendModel::Lines(std::size_t ch, TrendRange range,
                                         std::size_t max_points) const {
  const std::int64_t from = Ms(range.from);
  const std::int64_t to = Ms(range.to);
  auto it = std::lower_bound(samples_.begin(), samples_.end(), from,
                             [](const Stored& s, std::int64_t ms) { return s.ms < ms; });
  std::vector<TrendLine> lines;
  TrendLine line;
  ReadingUnit unit = ReadingUnit::Volt;
  std::size_t module = it == samples_.end() ? 0 : it->module;
  std::size_t points = 0;
  auto close = [&] {
    if (!line.empty()) lines.push_back(std::move(line));
    line.clear();
  };
  for (; it != samples_.end() && it->ms <= to; ++it) {
    // One module's line never runs on into the next one's.
    if (it->module != module) close();
    module = it->module;
    if (ch >= it->cells.size() || !it->cells[ch].value) {
      close();
      continue;
    }
    const Cell& cell = it->cells[ch];
    if (!line.empty() && cell.unit != unit) close();
    unit = cell.unit;
    line.push_back({it->ms, *cell.value});
    ++points;
  }
  close();
  if (points <= max_points) return lines;

  const std::int64_t slices = static_cast<std::int64_t>(std::max<std::size_t>(1, max_points / 2));
  const std::int64_t slice_ms = std::max<std::int64_t>(1, (to - from + slices) / slices);
  for (TrendLine& l : lines) l = Thin(l, from, slice_ms);
  return lines;
}

std::string TrendModel::Csv(TrendRange range) const {
  const std::int64_t from = Ms(range.from);
  const std::int64_t to = Ms(range.to);
  std::string csv = CsvHeader(channels_) + "\n";
  static const std::vector<std::string> kNoValues;
  for (const Stored& s : samples_) {
    if (s.ms < from || s.ms > to || s.kind == SampleKind::Pause || s.module != module_count_)
      continue;
    std::vector<std::string> texts;
    for (const Cell& cell : s.cells) texts.push_back(cell.text);
    csv += CsvRow(FromMs(s.ms), texts, channels_.size()) + "\n";
  }
  return csv;
}

}  // namespace zvk
