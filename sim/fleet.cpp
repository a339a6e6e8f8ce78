#include "sim/fleet.h"

#include <stdexcept>

#include "sim/net.h"

namespace zvk::sim {

namespace {

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

}  // namespace

std::vector<FleetMember> PlanFleet(const FleetRequest& request) {
  std::vector<std::string> listen =
      request.listen.empty() ? std::vector<std::string>{"127.0.0.1"} : request.listen;
  int count = request.count;
  if (count == 0) count = static_cast<int>(listen.size());
  if (count < 1 || count > kMaxFleet)
    throw std::invalid_argument("--count must be 1 to " + std::to_string(kMaxFleet));
  if (listen.size() > 1 && static_cast<int>(listen.size()) != count)
    throw std::invalid_argument("--count " + std::to_string(count) + " with " +
                                std::to_string(listen.size()) +
                                " --listen addresses: give one address, or one per module");

  std::vector<std::string> models;
  for (const std::string& m : request.models)
    for (const std::string& part : SplitCommas(m)) models.push_back(part);
  // The thermistor module unless told otherwise, one model for the whole fleet.
  if (models.empty()) models.push_back("qn6");
  if (models.size() != 1 && static_cast<int>(models.size()) != count)
    throw std::invalid_argument("--model names " + std::to_string(models.size()) + " models for " +
                                std::to_string(count) +
                                " modules: give one for all, or one per module");

  const std::vector<FaultRequest> common = ParseFaultList(request.faults);
  for (const auto& [unit, list] : request.module_faults)
    if (unit < 1 || unit > count)
      throw std::invalid_argument("--module-faults names module " + std::to_string(unit) + " of " +
                                  std::to_string(count));

  std::vector<FleetMember> fleet;
  for (int k = 0; k < count; ++k) {
    FleetMember member;
    member.unit = k + 1;
    const std::string& base = listen.size() > 1 ? listen[static_cast<std::size_t>(k)] : listen[0];
    const auto octets = net::ParseIpv4(base);
    if (!octets) throw std::invalid_argument("'" + base + "' is not an IPv4 address");
    std::uint32_t address = (std::uint32_t{(*octets)[0]} << 24) | ((*octets)[1] << 16) |
                            ((*octets)[2] << 8) | (*octets)[3];
    if (listen.size() == 1) {
      if (address + static_cast<std::uint32_t>(k) < address)
        throw std::invalid_argument("--count runs past 255.255.255.255");
      address += static_cast<std::uint32_t>(k);
    }
    member.octets = {static_cast<std::uint8_t>(address >> 24),
                     static_cast<std::uint8_t>(address >> 16),
                     static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    member.address = std::to_string(member.octets[0]) + "." + std::to_string(member.octets[1]) +
                     "." + std::to_string(member.octets[2]) + "." +
                     std::to_string(member.octets[3]);
    member.model_name = models.size() == 1 ? models[0] : models[static_cast<std::size_t>(k)];
    if (member.model_name != "km3" && member.model_name != "qn6")
      throw std::invalid_argument("--model: '" + member.model_name + "' is neither km3 nor qn6");
    member.model = member.model_name == "km3" ? Model::Km3 : Model::Qn6;
    member.faults = common;
    if (auto own = request.module_faults.find(member.unit); own != request.module_faults.end()) {
      const auto extra = ParseFaultList(own->second);
      member.faults.insert(member.faults.end(), extra.begin(), extra.end());
    }
    fleet.push_back(std::move(member));
  }
  return fleet;
}

}  // namespace zvk::sim
