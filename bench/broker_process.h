// A Mosquitto broker on a free loopback port (127.0.0.1 only), started for the length of a row
// that publishes to it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>

namespace zvk::bench {

// Where the broker is looked for; rows that need it say so when it is not there.
inline constexpr const char* kMosquittoProgram = "/usr/sbin/mosquitto";

class BrokerProcess {
 public:
  // Starts the broker and returns once it accepts connections; throws when it cannot.
  BrokerProcess();
  ~BrokerProcess();
  BrokerProcess(const BrokerProcess&) = delete;
  BrokerProcess& operator=(const BrokerProcess&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  std::filesystem::path dir_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace zvk::bench
