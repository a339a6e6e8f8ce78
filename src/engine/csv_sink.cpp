#include "engine/csv_sink.h"

#include <system_error>

#include "record/csv_format.h"
#include "record/timestamp.h"
#include "util/file_writer.h"

namespace zvk::engine {

namespace {

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

CsvSink::CsvSink(const std::filesystem::path& path, std::string shown,
                 std::vector<std::string> channels, Tell tell)
    : path_(path),
      channels_(std::move(channels)),
      shown_(std::move(shown)),
      tell_(std::move(tell)),
      long_form_(false) {
  Open();
}

CsvSink::CsvSink(const std::filesystem::path& path, std::string shown, CsvRecorder::LongForm,
                 Tell tell)
    : path_(path), shown_(std::move(shown)), tell_(std::move(tell)), long_form_(true) {
  Open();
}

void CsvSink::Open() {
  if (long_form_)
    recorder_.emplace(path_, CsvRecorder::LongForm{});
  else
    recorder_.emplace(path_, channels_);
  period_.clear();
  if (!recorder_->continued() || !rotated_) return;
  // A file continued from an earlier run holds rows of the period it was last written in.
  std::error_code ec;
  const auto written = std::filesystem::last_write_time(path_, ec);
  if (!ec)
    period_ = rotated_->PeriodOf(std::chrono::time_point_cast<TimePoint::duration>(
        std::chrono::file_clock::to_sys(written)));
}

void CsvSink::SetRotation(const Rotation& rotation) {
  rotation_ = rotation;
  rotated_.emplace(path_, rotation);
  if (recorder_->continued()) {
    // The period of the file continued at the start.
    recorder_.reset();
    Open();
  }
}

std::string CsvSink::Admit(std::size_t index, const ModuleEntry& module, const ModuleIdentity&) {
  if (labels_.size() <= index) labels_.resize(index + 1);
  labels_[index] = module.label;
  return "";
}

void CsvSink::Rotate(std::size_t index, TimePoint time, const std::string& period) {
  rows_before_ = rows();
  gaps_before_ = gaps();
  // Every row is on the disk already: the file is closed, moved to its finished name (the move
  // on the disk too), and only then is the new one started with its header. A crash before the
  // move leaves the whole file to be continued; after it, a whole finished file and at most a
  // missing current one, which the next run starts.
  recorder_.reset();
  const std::filesystem::path finished = rotated_->MoveAside(period);
  Open();
  // The rows are safe by now: a file that could not be compressed or removed stays, and the
  // recording goes on.
  try {
    rotated_->Settle(finished);
  } catch (const FileWriteError& e) {
    if (tell_) tell_(index, LocalTimestamp(time) + ' ' + e.what() + "; the recording goes on");
  }
}

void CsvSink::BeforeRow(std::size_t index, TimePoint time) {
  if (reopen_ && reopen_()) {
    rows_before_ = rows();
    gaps_before_ = gaps();
    recorder_.reset();
    Open();
  }
  if (!rotated_) return;
  // A file that holds only its header is never finished.
  const bool has_rows = recorder_->continued() || recorder_->rows() > 0;
  if (rotation_.every == Rotation::Every::Size) {
    if (has_rows && recorder_->length() >= rotation_.size) Rotate(index, time, "");
    return;
  }
  const std::string period = rotated_->PeriodOf(time);
  if (has_rows && !period_.empty() && period != period_) Rotate(index, time, period_);
  period_ = period;
}

void CsvSink::Receive(std::size_t index, const Sample& sample) {
  try {
    if (sample.kind != SampleKind::Pause) BeforeRow(index, sample.time);
    if (long_form_) {
      recorder_->AppendLong(labels_.at(index), sample);
      return;
    }
    recorder_->Append(sample);
  } catch (const RecordError& e) {
    throw SinkError(std::string(e.what()) + "; " + Summary());
  } catch (const FileWriteError& e) {
    throw SinkError(std::string(e.what()) + "; " + Summary());
  }
  if (recorder_->foreign_channels() == foreign_) return;
  foreign_ = recorder_->foreign_channels();
  if (tell_)
    tell_(index, LocalTimestamp(sample.time) + ' ' +
                     (foreign_ ? "the module shows other channels than the file holds (" +
                                     CsvHeader(ChannelsOf(sample.readings)) + "); its rows are gaps"
                               : std::string("the module shows the file's channels again")));
}

bool CsvSink::Finish(std::chrono::steady_clock::time_point) {
  // Every row was put on the disk as it was written.
  return true;
}

std::size_t CsvSink::rows() const {
  return rows_before_ + (recorder_ ? recorder_->rows() : 0);
}

std::size_t CsvSink::gaps() const {
  return gaps_before_ + (recorder_ ? recorder_->gaps() : 0);
}

std::string CsvSink::Status() const {
  return Counted(rows(), "row", "rows") + ", " + Counted(gaps(), "gap", "gaps");
}

std::string CsvSink::Summary() const {
  return "\"" + shown_ + "\": " + Counted(rows(), "row", "rows") + " written (" +
         Counted(gaps(), "gap", "gaps") + ")";
}

}  // namespace zvk::engine
