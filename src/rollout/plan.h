// The plan of a staged firmware rollout: which of the listed modules get the image, in which
// order, and why the others are left alone. Made from what each module said when identified,
// before anything is sent; a front end shows it, and the rollout follows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zvk::rollout {

// A version as the identity record shows it, two hex bytes: "1.13" and "01.13" are "01.13";
// nothing when the text is no such version.
std::optional<std::string> NormalVersion(const std::string& text);
// "km3" and "qn6": the model codes; nothing for another name.
std::optional<std::uint8_t> ModelCodeOf(const std::string& name);
// "km3", "qn6", or the code in hex ("0x00") for a model the family does not know.
std::string ModelName(std::uint8_t code);

// What a module said of itself when asked for its identity.
struct Identity {
  bool identified = false;
  std::string failure;  // why it did not identify itself
  std::uint8_t model = 0;
  std::string mac;
  std::string version;
};

enum class Skip {
  None,           // to be updated
  UpToDate,       // reports the version already
  OtherModel,     // another model than the image's
  NotIdentified,  // did not say what it is: nothing is sent to it
  DoneBefore,     // updated by the rollout this one resumes
};

struct PlannedModule {
  std::string label;  // ADDR:PORT
  Identity identity;
  Skip skip = Skip::None;
  std::string reason;  // why it is skipped, one line
  int wave = -1;       // 0: the canary, 1, 2 ...: the batches; -1: skipped
};

struct Target {
  std::string version;  // as NormalVersion gives it
  std::uint8_t model = 0;
  std::size_t canary = 1;  // modules updated alone first (0: none)
  std::size_t batch = 5;   // modules updated together after them (at least 1)
};

struct Plan {
  Target target;
  std::vector<PlannedModule> modules;  // in the order listed
  // Indexes into `modules`, one list a wave: the canary (when there is one), then the batches.
  std::vector<std::vector<std::size_t>> waves;
  bool has_canary = false;

  std::size_t ToUpdate() const;
  // "canary", "batch 2".
  std::string WaveName(std::size_t wave) const;
};

// Modules that did not identify themselves, that report the version or another model, and
// those in `done` (their MAC, or their label when it had none) are skipped; the rest are taken
// in the order listed: `canary` of them first, then batches of `batch`.
Plan MakePlan(const std::vector<std::string>& labels, const std::vector<Identity>& identities,
              const Target& target, const std::set<std::string>& done = {});

// The plan in lines for a person: a heading, then one line a module in the order the rollout
// takes them (skipped ones last, with why).
std::vector<std::string> PlanLines(const Plan& plan);

}  // namespace zvk::rollout
