#include "engine/watch_sinks.h"

namespace zvk::engine {

namespace {

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

WatchSinks::WatchSinks(TrendModel& trend) : trend_(trend), trend_sink_(trend) {
  sinks_.AddTaking(trend_sink_, 0, {}, {});
}

std::string WatchSinks::Add(Sink& sink, const ModuleIdentity& identity) {
  return sinks_.AddTaking(sink, 0, {}, identity);
}

void WatchSinks::Remove(Sink& sink) {
  sinks_.Remove(sink);
}

void WatchSinks::Receive(const Sample& sample) {
  if (module_seen_ && OfAnotherModule(sample, module_) && csv_) {
    const std::string name =
        sample.module_name.empty() ? "a module that reported no MAC" : sample.module_name;
    EndRecording("the main window now watches another module (" + name +
                 "); its readings do not belong in " +
                 PathToUtf8(csv_->recorder().path().filename()) +
                 ". Record again to start a file for it.");
  }
  if (sample.kind == SampleKind::Readings) {
    module_seen_ = true;
    module_ = sample.module;
    identity_ = sample.identity;
  }
  if (before_sample) before_sample(sample);
  try {
    sinks_.Receive(0, sample);
  } catch (const SinkError& e) {
    // Only the recording throws here: a row that could not be written.
    EndRecording(e.what());
  }
  try {
    sinks_.EndRound();
  } catch (const SinkError& e) {
    if (on_sink_error) on_sink_error(e.what());
  }
}

void WatchSinks::StartRecording(const std::filesystem::path& path) {
  if (trend_.channels().empty())
    throw RecordError("nothing to record yet: the channels are known from the first readings");
  StopRecording();
  csv_ = std::make_unique<CsvSink>(path, PathToUtf8(path.filename()), trend_.channels(), nullptr);
  Add(*csv_, identity_);
}

void WatchSinks::StopRecording() {
  if (csv_) {
    sinks_.Remove(*csv_);
    csv_.reset();
  }
  stopped_reason_.clear();
}

void WatchSinks::EndRecording(std::string reason) {
  StopRecording();
  stopped_reason_ = std::move(reason);
  if (on_record_error) on_record_error(stopped_reason_);
}

std::string WatchSinks::RecordingStatus() const {
  if (!csv_)
    return stopped_reason_.empty() ? "Not recording" : "Recording stopped: " + stopped_reason_;
  const CsvRecorder& r = csv_->recorder();
  std::string status = std::string(r.continued() ? "Continuing " : "Recording to ") +
                       PathToUtf8(r.path().filename()) + ": " + Counted(r.rows(), "row", "rows") +
                       ", " + Counted(r.gaps(), "gap", "gaps");
  if (r.foreign_channels()) status += " (the module shows other channels than the file)";
  return status;
}

}  // namespace zvk::engine
