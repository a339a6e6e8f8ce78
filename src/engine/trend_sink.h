// The trend window's history as a sink: every sample of the one module it follows goes to the
// window's TrendModel. The model belongs to the thread that hands the samples in.
#pragma once

#include <cstddef>
#include <string>

#include "engine/sink.h"
#include "record/trend_model.h"

namespace zvk::engine {

class TrendSink final : public Sink {
 public:
  // Follows the module `index` of the run; the others are left out.
  explicit TrendSink(TrendModel& model, std::size_t index = 0) : model_(model), index_(index) {}

  std::string Admit(std::size_t index, const ModuleEntry& module,
                    const ModuleIdentity& identity) override;
  void Receive(std::size_t index, const Sample& sample) override;
  bool Finish(std::chrono::steady_clock::time_point deadline) override;
  // "120 samples"
  std::string Status() const override { return std::to_string(model_.size()) + " samples"; }
  std::string Summary() const override { return Status(); }

 private:
  TrendModel& model_;
  std::size_t index_;
};

}  // namespace zvk::engine
