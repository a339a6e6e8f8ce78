// zvk-sim: serves one simulated module until asked to stop (SIGINT, SIGTERM, Ctrl+C).
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>

#include "link/wire.h"
#include "sim/fault_list.h"
#include "sim/simulator.h"
#include "sim/stop_request.h"

int main(int argc, char** argv) {
  using zvk::sim::Model;

  CLI::App app{"zvk-sim: a stand-in for a zVK analog input module on a TCP port"};
  std::string model_name;
  zvk::sim::Options options;
  options.port = zvk::wire::kDefaultPort;
  std::string fault_list;
  app.add_option("--model", model_name, "km3 (analog inputs) or qn6 (thermistor inputs)")
      ->required()
      ->check(CLI::IsMember({"km3", "qn6"}));
  app.add_option("--listen", options.listen, "IPv4 address to listen on")->capture_default_str();
  app.add_option("--port", options.port, "TCP port; 0 picks a free one")->capture_default_str();
  app.add_option("--files", options.files_dir, "directory that holds the module's files");
  options.reboot_ms = 3000;
  app.add_option("--reboot-ms", options.reboot_ms,
                 "how long a restart keeps the module off the network; 0: restart in place")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  app.add_option("--faults", fault_list,
                 "faults for the next commands: name[@code][:count[:amount]],... with the names "
                 "noreply, wrongsignature, refuse, truncate, oversize, reset, delay (amount: ms), "
                 "splitreply, wrongsum (the image checksum); @code limits a fault to one command "
                 "code; for the next contents (file or image): noread, resetafter (amount: bytes "
                 "read first), chatter, closeafter (bytes), slowclose (ms)");
  std::vector<std::string> vref_inputs;
  app.add_option("--vref", vref_inputs,
                 "km3: analog inputs whose + side is wired to the Vref pin (AI0 to AI4), for "
                 "calibrating them")
      ->check(CLI::IsMember({"AI0", "AI1", "AI2", "AI3", "AI4"}, CLI::ignore_case));
  CLI11_PARSE(app, argc, argv);
  if (!vref_inputs.empty() && model_name != "km3") {
    std::cerr << "zvk-sim: --vref needs --model km3\n";
    return 2;
  }
  options.model = model_name == "km3" ? Model::Km3 : Model::Qn6;

  std::vector<zvk::sim::FaultRequest> faults;
  try {
    faults = zvk::sim::ParseFaultList(fault_list);
    if (!options.files_dir.empty()) std::filesystem::create_directories(options.files_dir);
  } catch (const std::exception& e) {
    std::cerr << "zvk-sim: " << e.what() << "\n";
    return 2;
  }

  // Before the server thread starts, so only the wait below takes the stop request.
  zvk::sim::StopRequests stop_requests;

  options.log = [](const std::string& line) { std::cerr << "zvk-sim: " << line << std::endl; };
  zvk::sim::Simulator simulator(options);
  simulator.SetDrift(true);
  for (const auto& f : faults)
    simulator.InjectFault(f.fault, f.count, f.only_code, f.delay_ms, f.after_bytes);
  for (const std::string& input : vref_inputs) simulator.WireToVref(input.back() - '0', true);
  std::uint16_t port = 0;
  try {
    port = simulator.Start();
  } catch (const std::exception& e) {
    std::cerr << "zvk-sim: " << e.what() << "\n";
    return 1;
  }
  std::cout << "zvk-sim: " << model_name << " listening on " << options.listen << ":" << port
            << std::endl;

  stop_requests.Wait();
  simulator.Stop();
  return 0;
}
