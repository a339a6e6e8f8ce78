// The simulator's module behind a virtual network, misbehaving at random (seeded, so a run can
// be repeated exactly): no reply, a late one, a wrong signature, a refusal, a truncated, an
// oversized or a split reply, a connection closed or reset at any point, the module dropping off
// the network for a while and coming back, and the PC's Wi-Fi going away. It counts each fault
// it injects.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "harness/virtual_network.h"
#include "sim/module.h"

namespace zvk::harness {

enum class Fault {
  NoReply,
  LateReply,
  WrongSignature,
  Refusal,
  Truncated,
  Oversized,
  Split,
  Closed,
  Reset,
  WriteFailed,
  ModuleOff,
  WifiLost,
};
inline constexpr int kFaultKinds = 12;
const char* FaultName(Fault fault);

class FaultyModule final : public Peer {
 public:
  FaultyModule(sim::Model model, std::uint32_t seed);

  ConnectPlan Connect() override;
  std::vector<PeerEvent> Frame(const Bytes& frame) override;

  // Starts an outage at random, to be called once per supervision cycle; true when one started.
  bool MaybeDropOff();
  // Every fault stops: the module is back and answers every frame at once and whole.
  void StopFaults();

  sim::Module module;
  // The clock of the network the module sits on (virtual milliseconds).
  const long* clock = nullptr;
  bool faults = true;
  int fault_percent = 30;  // of the connections the module takes
  // Runs for every frame that arrives, before the module answers it.
  std::function<void(const Bytes& frame)> on_frame;

  // The fault of the latest connection, if it had one.
  std::optional<Fault> current;
  std::array<long, kFaultKinds> injected{};
  long connections = 0;

  std::mt19937& rng() { return rng_; }
  int Uniform(int low, int high);  // low..high inclusive

 private:
  std::vector<PeerEvent> Shape(Bytes reply, Fault fault);
  long now() const { return clock ? *clock : 0; }

  std::mt19937 rng_;
  long off_until_ms_ = 0;
  std::optional<Fault> planned_;
};

}  // namespace zvk::harness
