// What a long run hands its readings to: the CSV recorder, the MQTT gateway, the trend window.
// A sink is told of each module once its identity is known, then of every sample of every round,
// in the modules' order, and finally asked to finish; it formats the readings in its own way.
#pragma once

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "record/sample.h"

namespace zvk::engine {

// A sink that cannot go on (a row that could not be written, a broker that refused the
// gateway): the run ends with this reason.
class SinkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One module of a run as the sinks see it.
struct ModuleEntry {
  std::string label;    // what the run calls it (the inventory's label); empty for a lone module
  std::string address;  // "127.0.0.1:13577"
};

class Sink {
 public:
  virtual ~Sink() = default;
  // The module `index` described itself (at the start, or later once it answered): empty to
  // take it, or why this sink leaves it out (told on the module's lines; the other sinks still
  // take it). Called before the module's first sample reaches Receive.
  virtual std::string Admit(std::size_t index, const ModuleEntry& module,
                            const ModuleIdentity& identity) = 0;
  // One sample of an admitted module. The samples of a round come after every poll of the round
  // ended, in the modules' order. Throws SinkError when the sink cannot go on.
  virtual void Receive(std::size_t index, const Sample& sample) = 0;
  // Every admitted module's sample of this round was received.
  virtual void EndRound() {}
  // The run is over: deliver what is still held until `deadline`, then close. False when
  // something was not delivered (the reason is the sink's Summary).
  virtual bool Finish(std::chrono::steady_clock::time_point deadline) = 0;
  // One short line of where the sink stands ("12 rows, 0 gaps"), for the live status.
  virtual std::string Status() const = 0;
  // The closing line of the run ("\"a.csv\": 12 rows written (0 gaps)").
  virtual std::string Summary() const = 0;
};

}  // namespace zvk::engine
