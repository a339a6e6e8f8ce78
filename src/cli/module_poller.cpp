#include "cli/module_poller.h"

#include <chrono>

#include "cli/cli_error.h"
#include "cli/live_status.h"
#include "cli/session.h"
#include "monitor/main_form.h"
#include "record/timestamp.h"

namespace zvk::cli {

namespace {

// Why an exchange did not end in the acknowledgement of `code`; empty when it did.
std::string FailureOf(Session& s, const ExchangeRecord& r, std::uint8_t code,
                      const std::string& what) {
  try {
    s.RequireAcknowledged(r, code, what);
    return "";
  } catch (const CliError& e) {
    return e.what();
  }
}

}  // namespace

ModulePoller::ModulePoller(Session& session, LiveStatus& status, std::string gap_note)
    : s_(session),
      status_(status),
      sampler_(session.app(), session.window().form, SystemWallClock(),
               [this](const Sample& taken) { last_sample_ = taken; }),
      gap_note_(std::move(gap_note)) {}

Sample ModulePoller::Poll() {
  Session& s = s_;
  App& app = s.app();
  // A lost reply of an earlier poll must not be taken for this one's.
  app.link.ReplyTimedOut = false;
  if (lost_) {
    s.window().Image2Click();
    const ExchangeRecord r = s.Observe([&s] { s.window().Timer3Timer(); });
    std::string why = FailureOf(s, r, wire::CMD_GET_DEVICE, "the identity request");
    if (why.empty() && !app.device.Identified) why = "the module was not identified";
    if (!why.empty()) {
      Lost(why);
      return sampler_.Take(PollOutcome::NoReadings);
    }
    app.link.ReplyTimedOut = false;
  }
  last_sample_.reset();
  app.discovery.SupervisionTicks = 30;
  const ExchangeRecord r = s.Observe([&s] { s.window().Timer3Timer(); });
  // The sampler was told of the tick; one the link put off brought no readings either.
  Sample taken = last_sample_ ? *last_sample_ : sampler_.Take(PollOutcome::NoReadings);
  // The window decodes whatever reply came; only an acknowledgement of the data poll holds
  // readings, as for `read`. Another command's reply (an identity record, an echo) is a gap.
  const std::string why = FailureOf(s, r, wire::CMD_READ_DATA, "the data poll");
  if (taken.kind == SampleKind::Readings && !why.empty()) {
    taken.kind = SampleKind::Gap;
    taken.readings.clear();
  }
  if (taken.kind != SampleKind::Readings) {
    Lost(why.empty() ? "no readings" : why);
  } else if (lost_) {
    lost_ = false;
    lost_reason_.clear();
    status_.Clear();
    s.err << "zvk: " << LocalTimestamp(taken.time) << " the module answers again ("
          << s.window().form.Label4.caption << ")\n";
  }
  // The log is never shown; a run of days must not keep every line of it.
  app.log_lines.clear();
  return taken;
}

void ModulePoller::Lost(const std::string& why) {
  lost_ = true;
  if (why == lost_reason_) return;
  lost_reason_ = why;
  status_.Clear();
  s_.err << "zvk: " << LocalTimestamp(std::chrono::system_clock::now()) << " no readings: " << why
         << "; " << gap_note_ << '\n';
}

}  // namespace zvk::cli
