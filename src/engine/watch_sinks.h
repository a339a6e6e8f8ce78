// The sinks of the module a front end polls itself (the main window's watched module): its
// samples go to the trend model, to a CSV recording in the wide form while one runs, and to
// any other sink the front end adds (the MQTT gateway), each sample being a round of its own. A
// sample of another module than the last readings' ends the recording, since its file names no
// module. Used on one thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "engine/csv_sink.h"
#include "engine/engine.h"
#include "engine/trend_sink.h"
#include "record/trend_model.h"

namespace zvk::engine {

class WatchSinks {
 public:
  explicit WatchSinks(TrendModel& trend);
  WatchSinks(const WatchSinks&) = delete;
  WatchSinks& operator=(const WatchSinks&) = delete;

  // A sample of the poll, to every sink.
  void Receive(const Sample& sample);
  // Called with every sample before the sinks get it: a front end may take out a sink that
  // belongs to the module watched before, and add one for the new module, here.
  std::function<void(const Sample&)> before_sample;
  // A sink other than the recording gave up at the end of a sample's round (the gateway whose
  // broker refused it); it stays in until the front end removes it.
  std::function<void(const std::string&)> on_sink_error;

  // Another sink for the watched module, asked to take it under `identity`, until Remove;
  // returns its refusal, empty when it took it.
  std::string Add(Sink& sink, const ModuleIdentity& identity = {});
  void Remove(Sink& sink);

  // Recording: every later sample goes to the file as one row (see CsvRecorder). Needs the
  // channels, known from the first readings. Throws RecordError when the file is refused.
  void StartRecording(const std::filesystem::path& path);
  void StopRecording();
  bool recording() const { return csv_ != nullptr; }
  const CsvRecorder* recorder() const { return csv_ ? &csv_->recorder() : nullptr; }
  // "Recording to data.csv: 12 rows, 1 gap", "Not recording", or why the recording stopped.
  std::string RecordingStatus() const;
  // A row that could not be written, or a sample of another module, ended the recording; the
  // reason goes here.
  std::function<void(const std::string&)> on_record_error;

  TrendModel& trend() { return trend_; }

 private:
  void EndRecording(std::string reason);

  TrendModel& trend_;
  TrendSink trend_sink_;
  SinkSet sinks_;
  std::unique_ptr<CsvSink> csv_;
  std::string stopped_reason_;
  bool module_seen_ = false;  // readings came: module_ is theirs
  std::string module_;
  ModuleIdentity identity_;  // of the last readings
};

}  // namespace zvk::engine
