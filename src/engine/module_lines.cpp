#include "engine/module_lines.h"

namespace zvk::engine {

ModuleLines::ModuleLines(std::ostream& to, std::vector<std::string> labels,
                         std::function<void()> before)
    : to_(to),
      labels_(std::move(labels)),
      before_(std::move(before)),
      labelled_(labels_.size() != 1 || !labels_.front().empty()) {
  if (labelled())
    for (std::size_t i = 0; i < labels_.size(); ++i)
      gathered_.push_back(std::make_unique<std::ostringstream>());
}

std::ostream& ModuleLines::stream(std::size_t index) {
  return labelled() ? *gathered_[index] : to_;
}

void ModuleLines::Tell(std::size_t index, const std::string& message) {
  if (!labelled() && before_) before_();
  stream(index) << "zvk: " << message << '\n';
}

void ModuleLines::Flush() {
  if (!labelled()) return;
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    std::istringstream lines(gathered_[i]->str());
    for (std::string line; std::getline(lines, line);) to_ << labels_[i] << ": " << line << '\n';
    gathered_[i]->str("");
  }
  to_.flush();
}

}  // namespace zvk::engine
