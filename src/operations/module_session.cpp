#include "operations/module_session.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "link/acknowledgement.h"
#include "link/exchange.h"
#include "monitor/supervision.h"
#include "util/message_text.h"

namespace zvk::ops {

namespace {

constexpr const char* kConnectTimeout = "Connect Timeout";
constexpr const char* kInvalidHeader = "InValid Header package!";
constexpr const char* kLinkErrorPrefix = "Link error, ";
constexpr const char* kShortReplyPrefix = "Short reply: ";
constexpr const char* kMultipleFound = "Same multiple IP found!!";

// The window asks again after a refusal (the queue, the supervision tick); a module that keeps
// refusing is given up after this many requests.
constexpr int kIdentityAttempts = 3;
// Enough ticks for kIdentityAttempts requests, one per supervision period at the most.
constexpr int kIdentifyTickLimit = kIdentityAttempts * 31 + 2;
// The main window's Timer1 period: its retry step re-issues a command whose reply never came.
constexpr int kTimer1Ms = 100;

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
  return buf;
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

const std::string* FirstStartingWith(const std::vector<std::string>& lines,
                                     const std::string& prefix) {
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) return &line;
  return nullptr;
}

enum class Outcome { Unreachable, NoReply, BadHeader, LinkError, ShortReply, Refused };

struct ExchangeFault {
  Outcome outcome;
  std::string reason;
  // The window sends a refused command, or one answered too short, again through its queue.
  bool AskedAgain(const App& app, std::uint8_t code) const {
    return (outcome == Outcome::Refused || outcome == Outcome::ShortReply) &&
           app.link.QueuedCommand == code;
  }
};

// Why an exchange that was sent did not end in an acknowledgement of `code`; none when it did.
std::optional<ExchangeFault> FaultOf(const App& app, const ExchangeRecord& r, std::uint8_t code,
                                     const std::string& what, const std::string& connect_failure) {
  if (Contains(r.statuses, kConnectTimeout))
    return ExchangeFault{Outcome::Unreachable,
                         "module not reachable at " + app.link.DeviceHost + ":" +
                             std::to_string(app.link.DevicePort) +
                             (connect_failure.empty() ? "" : ": " + connect_failure) + " (" +
                             kConnectTimeout + ")"};
  if (app.link.ReplyTimedOut) {
    if (Contains(r.logs, kClosedWithoutReplyLog))
      return ExchangeFault{Outcome::NoReply,
                           "the module closed the connection without replying to " + what};
    return ExchangeFault{Outcome::NoReply,
                         "no reply from the module to " + what + " (Wait RX Timeout!)"};
  }
  if (Contains(r.statuses, kInvalidHeader))
    return ExchangeFault{Outcome::BadHeader, "the reply to " + what +
                                                 " does not start with the frame signature (" +
                                                 kInvalidHeader + ")"};
  if (const std::string* line = FirstStartingWith(r.statuses, kLinkErrorPrefix))
    return ExchangeFault{
        Outcome::LinkError,
        "link error during " + what + ": " + line->substr(std::string(kLinkErrorPrefix).size())};
  if (const std::string* line = FirstStartingWith(r.logs, kShortReplyPrefix))
    return ExchangeFault{Outcome::ShortReply, "incomplete reply to " + what + " (" + *line + ")"};
  if (app.link.PendingCommand == code)
    return ExchangeFault{Outcome::Refused, "the module refused " + what + " (status " +
                                               Hex2(app.link.ReplyBuffer[wire::kReplyStatus]) +
                                               ")"};
  // A handler that acts on the status alone clears the pending command for a reply to another
  // command too; only the whole header makes an acknowledgement.
  if (const std::string refused = NotAcknowledgedReason(app.link, code); !refused.empty())
    return ExchangeFault{Outcome::Refused, what + " was not acknowledged: " + refused};
  return std::nullopt;
}

// A socket that tells its network why its connect failed.
class ConnectWatch final : public TcpSocket {
 public:
  ConnectWatch(std::unique_ptr<TcpSocket> inner, std::string& failure)
      : inner_(std::move(inner)), failure_(failure) {}
  IoStatus BeginConnect(const std::string& host, std::uint16_t port) override {
    // Until it ends one way or the other, the connect is one that got no answer.
    failure_ = "no answer within " + std::to_string(kConnectTimeoutMs / 1000) + " s";
    return Note(inner_->BeginConnect(host, port));
  }
  IoStatus PollConnect(int timeout_ms) override { return Note(inner_->PollConnect(timeout_ms)); }
  bool WriteAll(const std::uint8_t* data, std::size_t length) override {
    return inner_->WriteAll(data, length);
  }
  IoStatus WaitReadable(int timeout_ms) override { return inner_->WaitReadable(timeout_ms); }
  long ReadSome(std::uint8_t* out, std::size_t capacity) override {
    return inner_->ReadSome(out, capacity);
  }
  bool ShutdownWrite() override { return inner_->ShutdownWrite(); }
  IoStatus WaitPeerClose(int timeout_ms) override { return inner_->WaitPeerClose(timeout_ms); }
  void Close() override { inner_->Close(); }
  std::string LastError() const override { return inner_->LastError(); }
  std::int64_t PollHandle() const override { return inner_->PollHandle(); }

 private:
  IoStatus Note(IoStatus status) {
    if (status == IoStatus::Done) {
      failure_.clear();
    } else if (status == IoStatus::Failed) {
      // The system's words, as a part of a sentence: "Connection refused" -> "connection refused".
      failure_ = inner_->LastError();
      if (failure_.size() > 1 && std::isupper(static_cast<unsigned char>(failure_[0])) &&
          std::islower(static_cast<unsigned char>(failure_[1])))
        failure_[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(failure_[0])));
      if (failure_.empty()) failure_ = "the connect failed";
    }
    return status;
  }

  std::unique_ptr<TcpSocket> inner_;
  std::string& failure_;
};

}  // namespace

std::unique_ptr<TcpSocket> CountingNetwork::NewSocket() {
  ++count;
  return std::make_unique<ConnectWatch>(inner_.NewSocket(), connect_failure);
}

ModuleSession::ModuleSession(const ModuleSeams& seams, ModuleOptions options)
    : options_(std::move(options)),
      dialogs_(seams.dialogs),
      network_(seams.network),
      given_hosts_(seams.hosts) {
  Sleeper& sleeper = seams.sleeper ? *seams.sleeper : static_cast<Sleeper&>(sleeper_);
  system_ = std::make_unique<System>(Seams{network_, pump_, sleeper, Hosts(), dialogs_});
  if (options_.delivery_wait_ms > 0) system_->app.delivery_wait_ms = options_.delivery_wait_ms;
  App& app = system_->app;
  app.on_log = [this](const std::string& line) {
    if (recording_) recording_->logs.push_back(line);
    if (options_.verbose) options_.verbose("log: " + line);
  };
  app.on_status = [this](const std::string& text) {
    if (recording_) {
      recording_->statuses.push_back(text);
      NoteFileAnnounce(text);
    }
    if (options_.verbose) options_.verbose("status: " + text);
  };
}

ModuleSession::~ModuleSession() = default;

// A file write shows "Send FileName: NAME" before its announce and "Transfer Length => N" right
// after it, when the reply buffer holds the announce's reply (or nothing, when none came).
void ModuleSession::NoteFileAnnounce(const std::string& status) {
  static const std::string kSending = "Send FileName: ";
  static const std::string kSent = "Transfer Length => ";
  if (status.rfind(kSending, 0) == 0) {
    announcing_ = status.substr(kSending.size());
  } else if (status.rfind(kSent, 0) == 0) {
    recording_->file_announces.emplace_back(announcing_,
                                            Acknowledged(app().link, wire::CMD_WRITE_FILE));
  }
}

void ModuleSession::OpenSetupWindow() {
  if (!window().show_setup_window) window().show_setup_window = [this] { setup().FormActivate(); };
  window().Image1Click();
}

HostInterfaces& ModuleSession::Hosts() {
  if (options_.skip_wifi_check) return skip_hosts_;
  if (given_hosts_) return *given_hosts_;
  platform_hosts_ = MakePlatformHostInterfaces();
  return *platform_hosts_;
}

HostInterfaces& ModuleSession::host_interfaces() {
  if (given_hosts_) return *given_hosts_;
  if (!platform_hosts_) platform_hosts_ = MakePlatformHostInterfaces();
  return *platform_hosts_;
}

namespace {

// A typed text with its control characters shown as \xNN, so the error stays one line.
std::string Visible(const std::string& text) {
  std::string shown;
  for (const unsigned char c : text) {
    if (c >= 0x20 && c != 0x7F) {
      shown += static_cast<char>(c);
      continue;
    }
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02X", c);
    shown += code;
  }
  return shown;
}

}  // namespace

void ModuleSession::Open() {
  window().FormCreate();
  app().link.DevicePort = options_.port;
  if (!options_.host) return;
  // A module address is four numbers: anything else (999.1.1.1, a line break) is a typing error,
  // not a module that cannot be reached.
  if (!IsDottedIpv4(*options_.host))
    throw InputRefused("--host '" + ShortenedForMessage(Visible(*options_.host)) +
                       "': not a module address (four numbers 0 to 255 with dots between them)");
  // The window's own check decides what a well-formed address is; its error box becomes the
  // usage error's reason.
  std::vector<std::string> errors;
  dialogs_.CaptureErrors(&errors);
  window().form.device_ip.text = *options_.host;
  const bool applied = ApplyStaticIp(app(), window().form);
  dialogs_.CaptureErrors(nullptr);
  if (!applied)
    throw InputRefused("--host " + *options_.host + ": not a module address (" +
                       (errors.empty() ? std::string("refused") : errors.front()) + ")");
}

std::string ModuleSession::NotFoundReason() const {
  const std::string& prefix = system_->app.discovery.SubnetPrefix;
  if (system_->main_window.form.module_state.caption == kMultipleFound)
    return "module not found: more than one connected Wi-Fi interface has an address in " + prefix +
           "x (" + kMultipleFound + ")";
  return "module not found: no connected Wi-Fi interface has an address in " + prefix +
         "x (give --host, and --skip-wifi-check for a module on loopback)";
}

ExchangeRecord ModuleSession::Observe(const std::function<void()>& action) {
  ExchangeRecord record;
  const int connects_before = network_.count;
  const std::size_t errors_before = dialogs_.errors().size();
  const std::size_t failures_before = dialogs_.failures().size();
  recording_ = &record;
  try {
    action();
  } catch (...) {
    recording_ = nullptr;
    throw;
  }
  recording_ = nullptr;
  record.connects = network_.count - connects_before;
  record.errors.assign(dialogs_.errors().begin() + static_cast<std::ptrdiff_t>(errors_before),
                       dialogs_.errors().end());
  record.failures.assign(dialogs_.failures().begin() + static_cast<std::ptrdiff_t>(failures_before),
                         dialogs_.failures().end());
  return record;
}

void ModuleSession::RequireAcknowledged(const ExchangeRecord& record, std::uint8_t code,
                                        const std::string& what) {
  if (!record.sent()) {
    if (!record.errors.empty()) throw OperationFailed("input refused: " + record.errors.front());
    if (!app().device.Identified) throw OperationFailed(NotFoundReason());
    throw OperationFailed(what + " was not sent: another command is still pending");
  }
  if (auto fault = FaultOf(app(), record, code, what, network_.connect_failure))
    throw OperationFailed(fault->reason);
}

bool ModuleSession::AwaitReissue(std::uint8_t code) {
  App& app = this->app();
  while (app.link.ReplyTimedOut && app.link.PendingCommand == code &&
         app.link.QueuedCommand != code) {
    app.seams.sleeper.SleepMs(kTimer1Ms);
    window().Timer1Timer();
  }
  return app.link.QueuedCommand == code;
}

void ModuleSession::SendQueued(const std::function<void()>& click, std::uint8_t code,
                               const std::string& what) {
  click();
  if (app().link.QueuedCommand != code) throw OperationFailed(what + " was not queued");
  for (int attempt = 1;; ++attempt) {
    ExchangeRecord r = Observe([this] { window().Timer3Timer(); });
    if (!r.sent()) throw OperationFailed(what + " was not sent: the link is busy");
    auto fault = FaultOf(app(), r, code, what, network_.connect_failure);
    if (!fault) return;
    if (attempt < kIdentityAttempts) {
      // A refusal is queued again by the reply handler, a lost reply by the retry step.
      if (fault->AskedAgain(app(), code)) continue;
      if (fault->outcome == Outcome::NoReply && AwaitReissue(code)) continue;
    }
    throw OperationFailed(fault->reason);
  }
}

void ModuleSession::Identify() {
  App& app = this->app();
  window().FormActivate();
  if (app.link.QueuedCommand != wire::CMD_GET_DEVICE) throw OperationFailed(NotFoundReason());

  const std::string what = "the identity request";
  int refusals = 0;
  for (int tick = 0; tick < kIdentifyTickLimit; ++tick) {
    const bool supervision = app.discovery.SupervisionTicks == 30;
    ExchangeRecord r = Observe([this] { window().Timer3Timer(); });
    if (app.device.Identified) return;
    if (!r.sent()) {
      // A supervision tick asks for the identity whenever the connection check passes.
      if (supervision) throw OperationFailed(NotFoundReason());
      continue;
    }
    if (auto fault = FaultOf(app, r, wire::CMD_GET_DEVICE, what, network_.connect_failure)) {
      // Asked again by the queue or by the next supervision tick, as the window does; a reply
      // that never came by the retry step.
      if (fault->AskedAgain(app, wire::CMD_GET_DEVICE) && ++refusals < kIdentityAttempts) continue;
      if (fault->outcome == Outcome::NoReply && ++refusals < kIdentityAttempts &&
          AwaitReissue(wire::CMD_GET_DEVICE))
        continue;
      throw OperationFailed(fault->reason);
    }
    const std::uint8_t* reply = app.link.ReplyBuffer.data();
    if (app.device.ModelCode == 0)
      throw OperationFailed("unsupported module: model code " + Hex2(reply[wire::devinfo::kModel]) +
                            " (" + window().form.module_state.caption + ")");
    const std::string reported = std::to_string(reply[wire::devinfo::kAddress + 3]) + "." +
                                 std::to_string(reply[wire::devinfo::kAddress + 2]) + "." +
                                 std::to_string(reply[wire::devinfo::kAddress + 1]) + "." +
                                 std::to_string(reply[wire::devinfo::kAddress]);
    throw OperationFailed("the module reports the address " + reported + ", not " +
                          app.link.DeviceHost);
  }
  throw OperationFailed("the module was not identified");
}

MsgResult RecordedDialogs::MessageBox(const std::string& caption, const std::string& text, MsgIcon,
                                      MsgButtons buttons) {
  last_box_ = {caption, text};
  boxes_.emplace_back(caption, text);
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  if (yes_) return MsgResult::Yes;
  ++declined_;
  return MsgResult::No;
}

void RecordedDialogs::FailureBox(const std::string& caption, const std::string& text,
                                 MsgIcon icon) {
  failures_.push_back(text);
  MessageBox(caption, text, icon, MsgButtons::Ok);
}

void RecordedDialogs::ErrorBox(const std::string& text) {
  errors_.push_back(text);
  if (capture_) capture_->push_back(text);
}

}  // namespace zvk::ops
