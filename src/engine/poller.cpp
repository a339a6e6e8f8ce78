#include "engine/poller.h"

#include <chrono>
#include <stdexcept>

#include "monitor/main_form.h"
#include "record/timestamp.h"

namespace zvk::engine {

namespace {

// Why an exchange did not end in the acknowledgement of `code`; empty when it did.
std::string FailureOf(ops::Operator& op, const ops::ExchangeRecord& r, std::uint8_t code,
                      const std::string& what) {
  try {
    op.RequireAcknowledged(r, code, what);
    return "";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

}  // namespace

ModulePoller::ModulePoller(ops::Operator& op, Tell tell, std::string gap_note)
    : op_(op),
      tell_(std::move(tell)),
      sampler_(op.app(), op.window().form, SystemWallClock(),
               [this](const Sample& taken) { last_sample_ = taken; }),
      gap_note_(std::move(gap_note)) {}

void ModulePoller::AskIdentity() {
  App& app = op_.app();
  app.link.ReplyTimedOut = false;
  op_.window().Image2Click();
  const ops::ExchangeRecord r = op_.Observe([this] { op_.window().Timer3Timer(); });
  op_.RequireAcknowledged(r, wire::CMD_GET_DEVICE, "the identity request");
  if (!app.device.Identified) throw ops::OperationFailed("the module was not identified");
  app.link.ReplyTimedOut = false;
  app.log_lines.clear();
}

Sample ModulePoller::Poll() {
  ops::Operator& op = op_;
  App& app = op.app();
  // A lost reply of an earlier poll must not be taken for this one's.
  app.link.ReplyTimedOut = false;
  if (lost_) {
    op.window().Image2Click();
    const ops::ExchangeRecord r = op.Observe([&op] { op.window().Timer3Timer(); });
    std::string why = FailureOf(op, r, wire::CMD_GET_DEVICE, "the identity request");
    if (why.empty() && !app.device.Identified) why = "the module was not identified";
    if (!why.empty()) {
      Lost(why);
      return sampler_.Take(PollOutcome::NoReadings);
    }
    app.link.ReplyTimedOut = false;
  }
  last_sample_.reset();
  app.discovery.SupervisionTicks = 30;
  const ops::ExchangeRecord r = op.Observe([&op] { op.window().Timer3Timer(); });
  // The sampler was told of the tick; one the link put off brought no readings either.
  Sample taken = last_sample_ ? *last_sample_ : sampler_.Take(PollOutcome::NoReadings);
  // The window decodes whatever reply came; only an acknowledgement of the data poll holds
  // readings, as for `read`. Another command's reply (an identity record, an echo) is a gap.
  const std::string why = FailureOf(op, r, wire::CMD_READ_DATA, "the data poll");
  if (taken.kind == SampleKind::Readings && !why.empty()) {
    taken.kind = SampleKind::Gap;
    taken.readings.clear();
  }
  if (taken.kind != SampleKind::Readings) {
    Lost(why.empty() ? "no readings" : why);
  } else if (lost_) {
    lost_ = false;
    lost_reason_.clear();
    tell_(LocalTimestamp(taken.time) + " the module answers again (" +
          op.window().form.module_state.caption + ")");
  }
  // The log is never shown; a run of days must not keep every line of it.
  app.log_lines.clear();
  return taken;
}

void ModulePoller::Lost(const std::string& why) {
  lost_ = true;
  if (why == lost_reason_) return;
  lost_reason_ = why;
  tell_(LocalTimestamp(std::chrono::system_clock::now()) + " no readings: " + why + "; " +
        gap_note_);
}

}  // namespace zvk::engine
