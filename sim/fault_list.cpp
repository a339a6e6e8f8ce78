#include "sim/fault_list.h"

#include <array>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace zvk::sim {

namespace {

constexpr std::array kAllFaults{
    Fault::NoReply,  Fault::WrongSignature, Fault::Refuse,     Fault::Truncate,   Fault::Oversize,
    Fault::Reset,    Fault::Delay,          Fault::SplitReply, Fault::WrongSum,   Fault::OtherReply,
    Fault::NoRead,   Fault::ResetAfter,     Fault::Chatter,    Fault::CloseAfter, Fault::SlowClose,
    Fault::NoReturn, Fault::OldFirmware};

// The bytes a content fault reads before it acts, and the pause of a slow close, when not given.
constexpr std::size_t kDefaultAfterBytes = 1000;
constexpr int kDefaultSlowCloseMs = 2000;

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

int PositiveNumber(std::string_view text, std::string_view item) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value <= 0) {
    throw std::invalid_argument("not a positive number in fault '" + std::string(item) + "'");
  }
  return value;
}

}  // namespace

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::NoReply:
      return "noreply";
    case Fault::WrongSignature:
      return "wrongsignature";
    case Fault::Refuse:
      return "refuse";
    case Fault::Truncate:
      return "truncate";
    case Fault::Oversize:
      return "oversize";
    case Fault::Reset:
      return "reset";
    case Fault::Delay:
      return "delay";
    case Fault::SplitReply:
      return "splitreply";
    case Fault::WrongSum:
      return "wrongsum";
    case Fault::OtherReply:
      return "otherreply";
    case Fault::NoRead:
      return "noread";
    case Fault::ResetAfter:
      return "resetafter";
    case Fault::Chatter:
      return "chatter";
    case Fault::CloseAfter:
      return "closeafter";
    case Fault::SlowClose:
      return "slowclose";
    case Fault::NoReturn:
      return "noreturn";
    case Fault::OldFirmware:
      return "oldfirmware";
  }
  return "?";
}

std::vector<FaultRequest> ParseFaultList(const std::string& list) {
  std::vector<FaultRequest> requests;
  if (list.empty()) return requests;
  for (std::string_view item : Split(list, ',')) {
    const std::vector<std::string_view> fields = Split(item, ':');
    FaultRequest request;
    std::string_view name = fields[0];
    if (const std::size_t at = name.find('@'); at != std::string_view::npos) {
      const int code = PositiveNumber(name.substr(at + 1), item);
      if (code > 255)
        throw std::invalid_argument("no command code in fault '" + std::string(item) + "'");
      request.only_code = static_cast<std::uint8_t>(code);
      name = name.substr(0, at);
    }
    bool known = false;
    for (Fault fault : kAllFaults) {
      if (name == FaultName(fault)) {
        request.fault = fault;
        known = true;
      }
    }
    if (!known) throw std::invalid_argument("unknown fault '" + std::string(name) + "'");
    if (request.only_code != 0 && IsContentFault(request.fault))
      throw std::invalid_argument("a content connection has no command code: '" +
                                  std::string(item) + "'");
    if (request.only_code != 0 && IsRestartFault(request.fault))
      throw std::invalid_argument("a restart has no command code: '" + std::string(item) + "'");
    const Fault f = request.fault;
    const bool timed = f == Fault::Delay || f == Fault::SlowClose;
    const bool sized = f == Fault::ResetAfter || f == Fault::CloseAfter;
    const std::size_t max_fields = timed || sized ? 3 : 2;
    if (fields.size() > max_fields) {
      throw std::invalid_argument("too many fields in fault '" + std::string(item) + "'");
    }
    if (fields.size() > 1) request.count = PositiveNumber(fields[1], item);
    const bool amount = fields.size() > 2;
    if (timed) {
      const int fallback = f == Fault::Delay ? kDefaultFaultDelayMs : kDefaultSlowCloseMs;
      request.delay_ms = amount ? PositiveNumber(fields[2], item) : fallback;
    }
    if (sized)
      request.after_bytes =
          amount ? static_cast<std::size_t>(PositiveNumber(fields[2], item)) : kDefaultAfterBytes;
    requests.push_back(request);
  }
  return requests;
}

}  // namespace zvk::sim
