// What the fuzz targets share: a far end that plays back scripts cut from the fuzzer's input, a
// reader of that input, and the stop on a broken rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "harness/harness_system.h"
#include "harness/virtual_network.h"

namespace zvk::fuzz {

using harness::Bytes;

// Each connect takes the next plan and each frame the next list of events; with none left a
// connect is refused and a frame gets silence.
class ScriptPeer final : public harness::Peer {
 public:
  harness::ConnectPlan Connect() override;
  std::vector<harness::PeerEvent> Frame(const Bytes& frame) override;

  std::deque<harness::ConnectPlan> connects;
  std::deque<std::vector<harness::PeerEvent>> replies;
};

// A module that takes every connection and acknowledges every command frame (its header with
// ACK), and takes any other bytes (a file's content) in silence.
class AckPeer final : public harness::Peer {
 public:
  harness::ConnectPlan Connect() override { return {}; }
  std::vector<harness::PeerEvent> Frame(const Bytes& frame) override;
};

// The reply whole, then the module closes: the plainest way a reply arrives.
std::vector<harness::PeerEvent> WholeReply(Bytes reply, bool close = true);

// Reads the fuzzer's input front to back; past its end every read gives zeros.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte();
  std::uint16_t Be16();
  Bytes Take(std::size_t n);  // up to n bytes, fewer at the end
  Bytes Rest();
  std::size_t left() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Ends the run with a report when a rule was broken: the fuzzer keeps the input that did it.
void Require(bool ok, const std::string& what);
void RequireNoViolations(const harness::HarnessSystem& h);

// The models a reply is decoded under: the voltage module, the thermistor module, none known.
inline constexpr std::uint8_t kModels[] = {0xB6, 0xB7, 0x00};

// Makes `h` look as if the module of `model` had described itself (0: none has).
void AssumeModel(harness::HarnessSystem& h, std::uint8_t model);

}  // namespace zvk::fuzz
