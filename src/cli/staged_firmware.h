// `zvk firmware IMAGE --version V --model M`: the staged rollout over the listed modules (see
// src/rollout): the plan, the canary and the batches as they go, and the result table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command.h"

namespace zvk::cli {

struct StagedOptions {
  std::string image;
  std::string version;  // as rollout::NormalVersion gives it
  std::uint8_t model = 0;
  std::size_t canary = 1;
  std::size_t batch = 5;
  double pause_s = 0;
  double return_wait_s = 60;
  bool dry_run = false;
  std::optional<std::string> history;  // the file to append to
  std::optional<std::string> resume;   // the history of the rollout to continue
};

// Checks the image and the history files before anything is sent (exit 1, "input refused").
void CheckStagedInput(const StagedOptions& options);

// Identifies every module, prints the plan, and (unless a dry run) rolls the image out; returns
// the exit status: 0 when every planned module was updated and every listed one identified.
int RunStagedFirmware(const StagedOptions& options, const std::vector<std::string>& labels,
                      const Command::SessionMaker& open, std::ostream& out, std::ostream& err);

}  // namespace zvk::cli
