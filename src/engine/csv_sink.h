// The CSV recording of a long run: the wide form of one module (a column per channel) or the
// long form of many (a line per channel, named by the module's label), through the recorder the
// trend window uses. Rows and gaps are counted as `log` tells them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

  std::string Admit(std::size_t index, const ModuleEntry& module,
                    const ModuleIdentity& identity) override;
  // Throws SinkError ("REASON; SUMMARY") when a row could not be written.
  void Receive(std::size_t index, const Sample& sample) override;
  bool Finish(std::chrono::steady_clock::time_point deadline) override;
  // "12 rows, 0 gaps"
  std::string Status() const override;
  // "\"a.csv\": 12 rows written (0 gaps)"
  std::string Summary() const override;

  const CsvRecorder& recorder() const { return *recorder_; }

 private:
  std::string shown_;
  Tell tell_;
  bool long_form_;
  std::optional<CsvRecorder> recorder_;
  std::vector<std::string> labels_;  // per module index, for the long form
  bool foreign_ = false;
};

}  // namespace zvk::engine
