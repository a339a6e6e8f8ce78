// zvk_scan_bench: the network scan of a /24 on loopback with 50 simulated modules, timed against
// the link's connect timeout (the time a scan of an empty /24 takes at most).
//
//   zvk_scan_bench [--modules N] [--silent N] [--rounds N]
//
// Modules sit on every fifth address from 127.0.0.1, the silent ones (connections accepted, no
// reply) on every fifth from 127.0.0.3. Exits 3 when a scan missed a module or took longer than its
// goal.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fleet/scan.h"
#include "fleet/scan_range.h"
#include "link/exchange.h"
#include "link/tcp.h"
#include "sim/simulator.h"

namespace {

// An address whose connects never complete: a listener with a one-place accept queue, filled by
// a connection nobody accepts.
class DarkAddress {
 public:
  DarkAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
    const auto* at = reinterpret_cast<const sockaddr*>(&sin);
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    ok_ = listener_ >= 0 && filler_ >= 0 && ::bind(listener_, at, sizeof sin) == 0 &&
          ::listen(listener_, 0) == 0 && ::connect(filler_, at, sizeof sin) == 0;
  }
  ~DarkAddress() {
    if (filler_ >= 0) ::close(filler_);
    if (listener_ >= 0) ::close(listener_);
  }
  DarkAddress(const DarkAddress&) = delete;
  DarkAddress& operator=(const DarkAddress&) = delete;
  bool ok() const { return ok_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  bool ok_ = false;
};

int Option(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zvk;
  const int modules = std::clamp(Option(argc, argv, "--modules", 50), 1, 50);
  const int silent = std::clamp(Option(argc, argv, "--silent", 0), 0, 50);
  const int rounds = std::max(1, Option(argc, argv, "--rounds", 5));

  std::vector<std::unique_ptr<sim::Simulator>> fleet;
  std::uint16_t port = 0;
  for (int k = 0; k < modules + silent; ++k) {
    sim::Options options;
    options.unit = k + 1;
    options.model = k % 3 == 1 ? sim::Model::Km3 : sim::Model::Qn6;
    const int slot = k < modules ? 1 + 5 * k : 3 + 5 * (k - modules);
    options.listen = "127.0.0." + std::to_string(slot);
    options.port = port;
    fleet.push_back(std::make_unique<sim::Simulator>(options));
    if (k >= modules) fleet.back()->InjectFault(sim::Fault::NoReply, 1000000);
    port = fleet.back()->Start();
  }

  SystemNetwork network;
  ScanOptions options;
  options.port = port;
  const std::vector<std::string> addresses = ScanAddresses({ParseScanRange("127.0.0.0/24")});
  // Nothing waits out a connect on loopback; a silent module holds its address for the reply
  // wait.
  const int goal_ms = silent > 0 ? kConnectTimeoutMs + options.reply_timeout_ms : kConnectTimeoutMs;

  std::printf("Scan of 127.0.0.0/24 (%zu addresses), %d modules, %d silent, %d rounds\n",
              addresses.size(), modules, silent, rounds);
  std::printf("%-6s %10s %8s %8s %16s\n", "round", "time (ms)", "modules", "silent",
              "vs connect t/o");
  std::vector<double> times;
  bool ok = true;
  for (int round = 1; round <= rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const ScanResult result = ScanModules(network, addresses, options);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    times.push_back(ms);
    std::printf("%-6d %10.1f %8zu %8zu %15.3fx\n", round, ms, result.modules.size(), result.silent,
                ms / kConnectTimeoutMs);
    if (static_cast<int>(result.modules.size()) != modules ||
        static_cast<int>(result.silent) != silent || ms > goal_ms)
      ok = false;
  }
  std::sort(times.begin(), times.end());
  std::printf("median %.1f ms; connect timeout %d ms; goal at most %d ms: %s\n\n",
              times[times.size() / 2], kConnectTimeoutMs, goal_ms, ok ? "met" : "MISSED");

  // Nobody there: every connect of a /24 runs out at once, in one wave of 254.
  std::vector<std::unique_ptr<DarkAddress>> dark;
  const std::vector<std::string> empty = ScanAddresses({ParseScanRange("127.0.1.0/24")});
  for (const std::string& address : empty) {
    dark.push_back(std::make_unique<DarkAddress>(address, port));
    if (!dark.back()->ok()) {
      std::printf("cannot make %s a dead address; no row for an empty /24\n", address.c_str());
      return 1;
    }
  }
  const int empty_goal_ms = kConnectTimeoutMs + 1000;
  const auto start = std::chrono::steady_clock::now();
  const ScanResult nobody = ScanModules(network, empty, options);
  const double empty_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const bool empty_ok =
      nobody.modules.empty() && nobody.unreachable == empty.size() && empty_ms <= empty_goal_ms;
  std::printf(
      "Scan of 127.0.1.0/24 (%zu addresses), no connect completes: %.1f ms, %.3fx the "
      "connect timeout; goal at most %d ms: %s\n",
      empty.size(), empty_ms, empty_ms / kConnectTimeoutMs, empty_goal_ms,
      empty_ok ? "met" : "MISSED");
  ok = ok && empty_ok;
  for (auto& m : fleet) m->Stop();
  return ok ? 0 : 3;
}
