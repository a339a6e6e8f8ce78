// What each module of a run says (its losses and returns, a sink's refusal, the session's own
// verbose lines), as one stream of lines. A lone module's lines go out as they come ("zvk: ...");
// those of several modules are gathered per module and told after each phase of the run, in the
// modules' order, each line after its module's label ("LABEL: zvk: ...").
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace zvk::engine {

class ModuleLines {
 public:
  // One label per module. A lone module with an empty label has its lines go straight to `to`,
  // each after `before` is called (a front end clears its live status line there).
  ModuleLines(std::ostream& to, std::vector<std::string> labels,
              std::function<void()> before = nullptr);
  ModuleLines(const ModuleLines&) = delete;
  ModuleLines& operator=(const ModuleLines&) = delete;

  std::size_t size() const { return labels_.size(); }
  bool labelled() const { return labelled_; }
  // Where the module's session writes its own lines (whole lines, ended by '\n'). Only the
  // module's own thread writes it between two Flush calls.
  std::ostream& stream(std::size_t index);
  // One message of the module: "zvk: MESSAGE".
  void Tell(std::size_t index, const std::string& message);
  // Several modules: every line gathered since the last flush, module by module, labelled.
  void Flush();

 private:
  std::ostream& to_;
  std::vector<std::string> labels_;
  std::function<void()> before_;
  bool labelled_;
  std::vector<std::unique_ptr<std::ostringstream>> gathered_;
};

}  // namespace zvk::engine
