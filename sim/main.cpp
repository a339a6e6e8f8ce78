// zvk-sim: serves one simulated module, or a fleet of them, until asked to stop (SIGINT, SIGTERM,
// Ctrl+C).
#include <CLI/CLI.hpp>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/wire.h"
#include "sim/fault_list.h"
#include "sim/fleet.h"
#include "sim/simulator.h"
#include "sim/stop_request.h"

namespace {

// A lone module keeps its files in the directory itself; each module of a fleet in a folder of it
// named for its address.
std::string FilesOf(const std::string& dir, const zvk::sim::FleetMember& member, bool one) {
  return one ? dir : (std::filesystem::path(dir) / member.address).string();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zvk-sim: a stand-in for a zVK analog input module on a TCP port"};
  app.set_version_flag("--version", std::string("zvk-sim ") + ZVK_VERSION);
  zvk::sim::FleetRequest fleet_request;
  zvk::sim::Options options;
  options.port = zvk::wire::kDefaultPort;
  app.add_option("--model", fleet_request.models,
                 "km3 (analog inputs) or qn6 (thermistor inputs), qn6 unless given; with --count, "
                 "one model for all or a comma list of one per module")
      ->delimiter(',');
  app.add_option("--listen", fleet_request.listen,
                 "IPv4 address to listen on (default 127.0.0.1); repeated, one module per "
                 "address");
  app.add_option("--count", fleet_request.count,
                 "serve N modules at once, on N consecutive addresses from the --listen address "
                 "(127.0.0.1, 127.0.0.2, ...), all on the same port")
      ->check(CLI::Range(1, zvk::sim::kMaxFleet));
  app.add_option("--port", options.port, "TCP port; 0 picks a free one")->capture_default_str();
  app.add_option("--files", options.files_dir,
                 "directory that holds the module's files; in a fleet, each module's are in a "
                 "folder named for its address");
  options.reboot_ms = 3000;
  app.add_option("--reboot-ms", options.reboot_ms,
                 "how long a restart keeps the module off the network; 0: restart in place")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  app.add_option("--faults", fleet_request.faults,
                 "faults for the next commands: name[@code][:count[:amount]],... with the names "
                 "noreply, wrongsignature, refuse, truncate, oversize, reset, delay (amount: ms), "
                 "splitreply, wrongsum (the image checksum), otherreply (the identity record "
                 "instead); @code limits a fault to one command "
                 "code; for the next contents (file or image): noread, resetafter (amount: bytes "
                 "read first), chatter, closeafter (bytes), slowclose (ms); for the next restarts: "
                 "noreturn (never back), oldfirmware (the image stored is not run); in a fleet, "
                 "for every module");
  std::vector<std::string> module_faults;
  app.add_option("--module-faults", module_faults,
                 "K=LIST: faults of fleet module K (from 1) alone, in the form of --faults; "
                 "repeated for several modules");
  std::vector<std::string> vref_inputs;
  app.add_option("--vref", vref_inputs,
                 "km3: analog inputs whose + side is wired to the Vref pin (AI0 to AI4), for "
                 "calibrating them")
      ->check(CLI::IsMember({"AI0", "AI1", "AI2", "AI3", "AI4"}, CLI::ignore_case));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end well; any other mistake on the command line is a usage error (2),
    // not one of the argument library's own numbers.
    app.exit(e);
    return e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? 0 : 2;
  }

  std::vector<zvk::sim::FleetMember> fleet;
  try {
    for (const std::string& entry : module_faults) {
      const std::size_t equals = entry.find('=');
      int unit = 0;
      const char* end = entry.data() + (equals == std::string::npos ? 0 : equals);
      if (equals == std::string::npos || equals == 0 ||
          std::from_chars(entry.data(), end, unit).ptr != end)
        throw std::invalid_argument("--module-faults takes K=LIST (K the module's number), not '" +
                                    entry + "'");
      fleet_request.module_faults[unit] = entry.substr(equals + 1);
    }
    fleet = zvk::sim::PlanFleet(fleet_request);
    if (!options.files_dir.empty()) {
      for (const auto& member : fleet)
        std::filesystem::create_directories(FilesOf(options.files_dir, member, fleet.size() == 1));
    }
  } catch (const std::exception& e) {
    std::cerr << "zvk-sim: " << e.what() << "\n";
    return 2;
  }
  for (const auto& member : fleet) {
    if (!vref_inputs.empty() && member.model != zvk::sim::Model::Km3) {
      std::cerr << "zvk-sim: --vref needs --model km3\n";
      return 2;
    }
  }
  const bool one = fleet.size() == 1;

  // Before the server threads start, so only the wait below takes the stop request.
  zvk::sim::StopRequests stop_requests;

  std::vector<std::unique_ptr<zvk::sim::Simulator>> simulators;
  std::uint16_t port = options.port;
  for (const auto& member : fleet) {
    zvk::sim::Options own = options;
    own.model = member.model;
    own.listen = member.address;
    own.port = port;
    own.unit = member.unit;
    const std::string prefix = one ? "zvk-sim: " : "zvk-sim " + member.address + ": ";
    own.log = [prefix](const std::string& line) { std::cerr << prefix << line << std::endl; };
    try {
      if (!options.files_dir.empty()) own.files_dir = FilesOf(options.files_dir, member, one);
      auto simulator = std::make_unique<zvk::sim::Simulator>(own);
      simulator->SetDrift(true);
      // A module of a fleet reports the address it listens on, as each module reports its own.
      if (!one) simulator->SetReportedAddress(member.octets);
      for (const auto& f : member.faults)
        simulator->InjectFault(f.fault, f.count, f.only_code, f.delay_ms, f.after_bytes);
      for (const std::string& input : vref_inputs) simulator->WireToVref(input.back() - '0', true);
      port = simulator->Start();
      std::cout << "zvk-sim: " << member.model_name << " listening on " << member.address << ":"
                << port << std::endl;
      simulators.push_back(std::move(simulator));
    } catch (const std::exception& e) {
      std::cerr << "zvk-sim: " << e.what() << "\n";
      return 1;
    }
  }

  stop_requests.Wait();
  for (auto& simulator : simulators) simulator->Stop();
  return 0;
}
