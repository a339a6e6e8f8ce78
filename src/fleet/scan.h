// Finding the modules on a network: every address gets one connect to the command port and, once
// connected, the identity request and nothing else. Hundreds of connects are in flight at once on
// one thread, each with the link's connect timeout, so a /24 with nobody on it takes about one
// connect timeout. What answers with a complete identity record of a known model is a module;
// anything else (no connect, silence, a refusal, another signature or model) is counted, not
// listed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/exchange.h"
#include "link/tcp.h"
#include "link/wire.h"

namespace zvk {

// One module found, with its texts already in UTF-8.
struct ScanRow {
  std::string address;  // the address the scan reached it at
  std::uint8_t model_code = 0;
  std::string model;               // "zVK-QN6"
  std::string name;                // the name of the module's own access point (its AP SSID)
  std::string location;            // "Lab bench 1"
  std::string firmware;            // "V01.12"
  std::optional<std::string> mac;  // "02:5A:51:36:00:01"; none when the record holds zeros
  std::optional<int> rssi_dbm;     // none when the module did not report it
  std::string wifi_mode;           // "AP" or "Station"
};

// What became of one address.
enum class ProbeOutcome {
  Module,       // a module: a row
  Unreachable,  // the connect failed or timed out
  Silent,       // connected, but no reply (or the connection ended without one)
  NotModule,    // replied, but with a refusal, another signature, an unknown model or too little
};

struct ScanOptions {
  std::uint16_t port = wire::kDefaultPort;
  int connect_timeout_ms = kConnectTimeoutMs;
  // How long a reply has to start, and to finish once started: the link's reply wait.
  int reply_timeout_ms = kReplyPolls * kReplyPollMs;
  std::size_t max_in_flight = 256;
  // Called on the scanning thread as each module is found, and after each address is done.
  std::function<void(const ScanRow&)> on_module;
  std::function<void(std::size_t done, std::size_t total)> on_progress;
  // Asked between waits; true ends the scan at once (open connections are closed, nothing more
  // is sent).
  std::function<bool()> cancelled;
};

struct ScanResult {
  std::vector<ScanRow> modules;  // in ascending address order
  std::size_t probed = 0;        // addresses done
  std::size_t unreachable = 0;
  std::size_t silent = 0;
  std::size_t not_modules = 0;
  bool cancelled = false;
};

inline constexpr std::size_t kMaxScanInFlight = 512;

// Scans the addresses (dotted IPv4 text) through `network`. max_in_flight is held to 1 ..
// kMaxScanInFlight.
ScanResult ScanModules(Network& network, const std::vector<std::string>& addresses,
                       const ScanOptions& options);

// The row for a reply, or nullopt when the reply is not a module's complete identity record.
std::optional<ScanRow> ModuleFromReply(const std::string& address, const std::uint8_t* reply,
                                       std::size_t length);

}  // namespace zvk
