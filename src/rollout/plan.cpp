#include "rollout/plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "link/wire.h"

namespace zvk::rollout {

namespace {

std::string Hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
  return text;
}

// One or two hex digits.
std::optional<unsigned> HexByte(const std::string& text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                   ? c - '0'
                                                   : std::toupper(c) - 'A' + 10);
  }
  return value;
}

std::string Padded(const std::string& text, std::size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

std::optional<std::string> NormalVersion(const std::string& text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) return std::nullopt;
  const std::optional<unsigned> major = HexByte(text.substr(0, dot));
  const std::optional<unsigned> minor = HexByte(text.substr(dot + 1));
  if (!major || !minor) return std::nullopt;
  return Hex2(*major) + "." + Hex2(*minor);
}

std::optional<std::uint8_t> ModelCodeOf(const std::string& name) {
  if (name == "km3") return wire::kModelKm3;
  if (name == "qn6") return wire::kModelQn6;
  return std::nullopt;
}

std::string ModelName(std::uint8_t code) {
  if (code == wire::kModelKm3) return "km3";
  if (code == wire::kModelQn6) return "qn6";
  return "0x" + Hex2(code);
}

std::size_t Plan::ToUpdate() const {
  std::size_t n = 0;
  for (const auto& wave : waves) n += wave.size();
  return n;
}

std::string Plan::WaveName(std::size_t wave) const {
  if (has_canary && wave == 0) return "canary";
  return "batch " + std::to_string(has_canary ? wave : wave + 1);
}

Plan MakePlan(const std::vector<std::string>& labels, const std::vector<Identity>& identities,
              const Target& target, const std::set<std::string>& done) {
  Plan plan;
  plan.target = target;
  std::vector<std::size_t> to_update;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    PlannedModule m{labels[i], identities[i]};
    const Identity& id = m.identity;
    if (done.count(id.mac.empty() ? m.label : id.mac) > 0) {
      m.skip = Skip::DoneBefore;
      m.reason = "updated before (history)";
    } else if (!id.identified) {
      m.skip = Skip::NotIdentified;
      m.reason = "not identified: " + id.failure;
    } else if (id.model != target.model) {
      m.skip = Skip::OtherModel;
      m.reason = "model " + ModelName(id.model) + ", the image is for " + ModelName(target.model);
    } else if (id.version == target.version) {
      m.skip = Skip::UpToDate;
      m.reason = "already runs " + id.version;
    } else {
      to_update.push_back(i);
    }
    plan.modules.push_back(std::move(m));
  }
  const std::size_t batch = std::max<std::size_t>(target.batch, 1);
  std::size_t next = 0;
  if (target.canary > 0 && !to_update.empty()) {
    const std::size_t n = std::min(target.canary, to_update.size());
    plan.waves.emplace_back(to_update.begin(), to_update.begin() + static_cast<std::ptrdiff_t>(n));
    plan.has_canary = true;
    next = n;
  }
  while (next < to_update.size()) {
    const std::size_t n = std::min(batch, to_update.size() - next);
    plan.waves.emplace_back(to_update.begin() + static_cast<std::ptrdiff_t>(next),
                            to_update.begin() + static_cast<std::ptrdiff_t>(next + n));
    next += n;
  }
  for (std::size_t w = 0; w < plan.waves.size(); ++w)
    for (const std::size_t i : plan.waves[w]) plan.modules[i].wave = static_cast<int>(w);
  return plan;
}

std::vector<std::string> PlanLines(const Plan& plan) {
  std::vector<std::string> lines;
  const std::size_t skipped = plan.modules.size() - plan.ToUpdate();
  lines.push_back("Plan: " + std::to_string(plan.ToUpdate()) + " of " +
                  std::to_string(plan.modules.size()) + " modules to update to " +
                  plan.target.version + " (" + ModelName(plan.target.model) + "), " +
                  std::to_string(skipped) + " skipped");
  std::size_t label_width = 0;
  for (const PlannedModule& m : plan.modules) label_width = std::max(label_width, m.label.size());
  const auto line = [&](const PlannedModule& m, const std::string& what) {
    const std::string mac = m.identity.mac.empty() ? "-" : m.identity.mac;
    const std::string version = m.identity.version.empty() ? "-" : m.identity.version;
    lines.push_back("  " + Padded(m.label, label_width) + "  " + Padded(mac, 17) + "  " +
                    Padded(version, 5) + "  " + what);
  };
  for (std::size_t w = 0; w < plan.waves.size(); ++w)
    for (const std::size_t i : plan.waves[w]) line(plan.modules[i], plan.WaveName(w));
  for (const PlannedModule& m : plan.modules)
    if (m.skip != Skip::None) line(m, "skipped: " + m.reason);
  return lines;
}

}  // namespace zvk::rollout
