// The CSV recording of a long run: the wide form of one module (a column per channel) or the
// long form of many (a line per channel, named by the module's label), through the recorder the
// trend window uses. Rows and gaps are counted as `log` tells them. The file may rotate (see
// rotation.h) and be reopened at its name on request (after logrotate moved it away); either
// happens between two rows, never inside one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/rotation.h"
#include "engine/sink.h"
#include "record/recorder.h"

namespace zvk::engine {

class CsvSink final : public Sink {
 public:
  // Tells a message of module `index` on its lines.
  using Tell = std::function<void(std::size_t index, const std::string& message)>;
  // One module, the wide form of these channels; `shown` is how the file is named in messages.
  // Throws RecordError when the file cannot be recorded to.
  CsvSink(const std::filesystem::path& path, std::string shown, std::vector<std::string> channels,
          Tell tell);
  // Many modules, the long form.
  CsvSink(const std::filesystem::path& path, std::string shown, CsvRecorder::LongForm, Tell tell);

  // Finished files from now on; before the first sample.
  void SetRotation(const Rotation& rotation);
  // Asked before each row: true when the file is to be closed and opened again at its name
  // (created with its header when it was moved away). Taking the request clears it.
  using ReopenRequest = std::function<bool()>;
  void SetReopen(ReopenRequest reopen) { reopen_ = std::move(reopen); }

  std::string Admit(std::size_t index, const ModuleEntry& module,
                    const ModuleIdentity& identity) override;
  // Throws SinkError ("REASON; SUMMARY") when a row could not be written.
  void Receive(std::size_t index, const Sample& sample) override;
  bool Finish(std::chrono::steady_clock::time_point deadline) override;
  // "12 rows, 0 gaps", of every file of the run
  std::string Status() const override;
  // "\"a.csv\": 12 rows written (0 gaps)"
  std::string Summary() const override;

  const CsvRecorder& recorder() const { return *recorder_; }

 private:
  void Open();
  // Before a row of this time: the file reopened or rotated when it is due.
  void BeforeRow(std::size_t index, TimePoint time);
  void Rotate(std::size_t index, TimePoint time, const std::string& period);
  std::size_t rows() const;
  std::size_t gaps() const;

  std::filesystem::path path_;
  std::vector<std::string> channels_;  // the wide form's
  std::string shown_;
  Tell tell_;
  bool long_form_;
  std::optional<CsvRecorder> recorder_;
  std::vector<std::string> labels_;  // per module index, for the long form
  bool foreign_ = false;
  ReopenRequest reopen_;
  Rotation rotation_;
  std::optional<RotatedFiles> rotated_;
  std::string period_;  // of the rows in the file; empty until known
  // Rows and gaps of the files finished or reopened before this one.
  std::size_t rows_before_ = 0;
  std::size_t gaps_before_ = 0;
};

}  // namespace zvk::engine
