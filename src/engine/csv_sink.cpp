#include "engine/csv_sink.h"

#include "record/csv_format.h"
#include "record/timestamp.h"

namespace zvk::engine {

namespace {

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

CsvSink::CsvSink(const std::filesystem::path& path, std::string shown,
                 std::vector<std::string> channels, Tell tell)
    : shown_(std::move(shown)), tell_(std::move(tell)), long_form_(false) {
  recorder_.emplace(path, std::move(channels));
}

CsvSink::CsvSink(const std::filesystem::path& path, std::string shown, CsvRecorder::LongForm,
                 Tell tell)
    : shown_(std::move(shown)), tell_(std::move(tell)), long_form_(true) {
  recorder_.emplace(path, CsvRecorder::LongForm{});
}

std::string CsvSink::Admit(std::size_t index, const ModuleEntry& module, const ModuleIdentity&) {
  if (labels_.size() <= index) labels_.resize(index + 1);
  labels_[index] = module.label;
  return "";
}

void CsvSink::Receive(std::size_t index, const Sample& sample) {
  try {
    if (long_form_) {
      recorder_->AppendLong(labels_.at(index), sample);
      return;
    }
    recorder_->Append(sample);
  } catch (const RecordError& e) {
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

std::string CsvSink::Status() const {
  return Counted(recorder_->rows(), "row", "rows") + ", " +
         Counted(recorder_->gaps(), "gap", "gaps");
}

std::string CsvSink::Summary() const {
  return "\"" + shown_ + "\": " + Counted(recorder_->rows(), "row", "rows") + " written (" +
         Counted(recorder_->gaps(), "gap", "gaps") + ")";
}

}  // namespace zvk::engine
