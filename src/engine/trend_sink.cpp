#include "engine/trend_sink.h"

namespace zvk::engine {

std::string TrendSink::Admit(std::size_t index, const ModuleEntry&, const ModuleIdentity&) {
  if (index != index_) return "the trend shows one module, not this one";
  return "";
}

void TrendSink::Receive(std::size_t index, const Sample& sample) {
  if (index == index_) model_.Add(sample);
}

bool TrendSink::Finish(std::chrono::steady_clock::time_point) {
  // The model keeps its history in memory: nothing to deliver.
  return true;
}

}  // namespace zvk::engine
