#include "cli/mqtt_publish.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_error.h"
#include "cli/module_poller.h"
#include "cli/session.h"
#include "cli/term/live_status.h"
#include "cli/term/stop_request.h"
#include "link/wire.h"
#include "monitor/main_form.h"
#include "publish/broker_url.h"
#include "publish/messages.h"
#include "publish/module_publisher.h"
#include "record/timestamp.h"

namespace zvk::cli {

namespace {

using Seconds = std::chrono::duration<double>;

// How long the broker has to accept the first connection, and to acknowledge what is still
// queued when the gateway stops.
constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kFinishTimeout{10};

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string ReadPassword(const std::string& file) {
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw Failed("cannot read the password file \"" + file +
                 "\": " + std::generic_category().message(errno != 0 ? errno : ENOENT));
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string Now() {
  return LocalTimestamp(std::chrono::system_clock::now());
}

}  // namespace

void MqttPublish::CheckArguments(const PublishArguments& args) {
  try {
    publish::ParseBrokerUrl(args.broker);
  } catch (const publish::BrokerUrlError& e) {
    throw UsageError(std::string("publish: ") + e.what());
  }
}

void MqttPublish::Run(Session& s, const PublishArguments& args) {
  RunGateway({{&s, ""}}, args);
}

namespace {

using Clock = std::chrono::steady_clock;

// Polls closer together than this only pile up in the queue: a broker acknowledges a poll's
// messages in about a millisecond on loopback, far longer across a network.
constexpr double kShortestInterval = 0.1;
// A module that has not described itself is tried again after this, doubling up to the longest.
constexpr std::chrono::seconds kFirstRetry{1};
constexpr std::chrono::seconds kLongestRetry{30};

// One module of the gateway: its run (System and link), its poll and its broker client, with
// what was last told of it.
struct Feed {
  Feed(Session& session, LiveStatus& status, publish::PublishSettings settings,
       publish::ModuleIdentity module)
      : s(session),
        poller(session, status, "the channels are published as \"No Reading\" until it answers"),
        publisher(std::move(settings), std::move(module)) {}
  Session& s;
  ModulePoller poller;
  publish::ModulePublisher publisher;
  bool broker_connected = true;
  bool takeover_told = false;
  std::size_t dropped_told = 0;
};

// A module that has not described itself yet: tried again with a growing back-off.
struct Waiting {
  Session* s = nullptr;
  std::string why;
  Clock::time_point next;
  std::chrono::seconds backoff = kFirstRetry;
};

// The Refresh button's identity request, as a lost module is asked again; throws the reason
// when the module did not describe itself.
void AskIdentity(Session& s) {
  s.app().link.ReplyTimedOut = false;
  s.window().Image2Click();
  const ExchangeRecord r = s.Observe([&s] { s.window().Timer3Timer(); });
  s.RequireAcknowledged(r, wire::CMD_GET_DEVICE, "the identity request");
  if (!s.app().device.Identified) throw Failed("the module was not identified");
  s.app().link.ReplyTimedOut = false;
  s.app().log_lines.clear();
}

std::string AddressOf(Session& s) {
  return s.app().link.DeviceHost + ":" + std::to_string(s.options().port);
}

}  // namespace

std::size_t MqttPublish::RunGateway(const std::vector<GatewayModule>& modules,
                                    const PublishArguments& args) {
  if (modules.empty()) throw UsageError("publish: no module to publish");
  Session& first = *modules.front().session;
  publish::PublishSettings settings;
  settings.broker = publish::ParseBrokerUrl(args.broker);
  settings.cafile = args.cafile;
  settings.username = args.username;
  if (args.password_file) {
    settings.password = ReadPassword(*args.password_file);
  } else if (const char* password = std::getenv(kPasswordVariable)) {
    settings.password = password;
  }
  settings.topic_prefix = args.topic_prefix;
  settings.discovery = args.discovery;
  settings.queue_polls = args.queue;

  const bool several = modules.size() > 1;
  // Several modules tell their lines one after another, each under its name: no line to rewrite.
  LiveStatus status(first.err, first.options().verbose || several ? 0 : first.status_columns());
  std::vector<std::unique_ptr<Feed>> feeds;
  std::vector<Waiting> waiting;
  std::map<std::string, std::string> published_at;  // module id: the address publishing it
  std::size_t left_out = 0;
  // A run that ends on an error still says "offline" for every module it published: a clean
  // goodbye leaves no last will to say it.
  const auto abandon = [&] {
    status.Clear();
    for (const std::unique_ptr<Feed>& f : feeds) f->publisher.Finish(Clock::now());
  };

  // Starts publishing a module that described itself; false when it is left out. A module that
  // comes late meets a broker that may be away just then: it stays waiting, `why` says for what.
  const auto adopt = [&](Session& s, std::string* why_not_yet = nullptr) {
    const publish::ModuleIdentity module = publish::IdentityOf(ModuleOf(s.app().device));
    // The MAC names the module's topics and client; two modules under one would mix their
    // readings on one topic and take each other's session at the broker.
    std::string why = publish::UnpublishableId(module.id);
    if (why.empty() && published_at.count(module.id) > 0)
      why = "reports the MAC address " + module.id + " of the module at " +
            published_at.at(module.id) + ", which is published already";
    if (!why.empty()) {
      if (!several) {
        abandon();
        throw Failed("the module at " + s.app().link.DeviceHost + " " + why);
      }
      status.Clear();
      s.err << "zvk: left out of the gateway: the module " << why << '\n';
      ++left_out;
      return false;
    }
    // Each module has its own client, and so its own last will; ids must differ at the broker,
    // and from the desktop program's for the same module.
    settings.client_id = args.client_id.empty()
                             ? "zvk-" + module.id
                             : (several ? args.client_id + "-" + module.id : args.client_id);
    feeds.push_back(std::make_unique<Feed>(s, status, settings, module));
    Feed& f = *feeds.back();
    try {
      f.publisher.Connect(kConnectTimeout);
    } catch (const publish::PublishError& e) {
      feeds.pop_back();
      if (!why_not_yet || e.refused()) {
        abandon();
        throw Failed(e.what());
      }
      *why_not_yet = e.what();
      return false;
    }
    published_at[module.id] = AddressOf(s);
    status.Clear();
    s.err << "zvk: publishing " << module.model << " " << module.id << " to "
          << f.publisher.topics().Channel("#") << " (status " << f.publisher.topics().Status()
          << ")\n";
    return true;
  };

  for (const GatewayModule& m : modules) {
    if (m.not_identified.empty()) {
      adopt(*m.session);
      continue;
    }
    // A gateway that starts with the plant, after a power cut, must not give up on the modules
    // that boot more slowly than it does.
    m.session->err << "zvk: not answering yet (" << m.not_identified
                   << "); tried again with a growing back-off, and published once it "
                      "describes itself\n";
    waiting.push_back({m.session, m.not_identified, Clock::now() + kFirstRetry});
  }
  if (feeds.empty() && waiting.empty()) throw Failed("publish: no module to publish");

  StopRequest& stop = StopRequest::Install();
  const auto interval = std::chrono::duration_cast<Clock::duration>(
      Seconds(std::max(args.interval, kShortestInterval)));
  auto due = Clock::now();
  std::size_t polls = 0;
  for (;;) {
    if (args.count && polls >= static_cast<std::size_t>(*args.count)) break;
    if (polls > 0 && stop.WaitUntil(due)) break;
    if (stop.requested()) break;
    due = Clock::now() + interval;
    ++polls;

    for (auto w = waiting.begin(); w != waiting.end();) {
      if (Clock::now() < w->next) {
        ++w;
        continue;
      }
      try {
        AskIdentity(*w->s);
      } catch (const CliError& e) {
        w->why = e.what();
        w->next = Clock::now() + w->backoff;
        w->backoff = std::min(w->backoff * 2, kLongestRetry);
        ++w;
        continue;
      }
      status.Clear();
      w->s->err << "zvk: " << Now() << " the module describes itself now ("
                << w->s->window().form.module_state.caption << ")\n";
      std::string not_yet;
      if (adopt(*w->s, &not_yet) || not_yet.empty()) {
        w = waiting.erase(w);
      } else {
        w->why = not_yet;
        w->next = Clock::now() + w->backoff;
        w->backoff = std::min(w->backoff * 2, kLongestRetry);
        ++w;
      }
    }

    std::string line = Counted(polls, "poll", "polls");
    for (const std::unique_ptr<Feed>& feed : feeds) {
      Feed& f = *feed;
      std::ostream& err = f.s.err;
      f.publisher.Submit(f.poller.Poll());
      // The log is never shown; a run of days must not keep every line of it.
      f.s.app().log_lines.clear();

      const std::string who = several ? f.publisher.module().id + ": " : "";
      const publish::PublisherStatus st = f.publisher.Status();
      if (st.refused) {
        abandon();
        throw Failed("the broker " + args.broker + " " + st.last_error);
      }
      if (st.taken_over && !f.takeover_told) {
        // Said once: the lost and regained connections that follow are the same story.
        f.takeover_told = true;
        status.Clear();
        err << "zvk: " << Now() << " " << who << "another client with the client id \""
            << f.publisher.client_id()
            << "\" took the session at the broker (it closed the connection right after "
               "accepting it); trying again with a growing back-off\n";
      }
      if (st.connected != f.broker_connected) {
        f.broker_connected = st.connected;
        if (!st.taken_over) {
          status.Clear();
          if (f.broker_connected)
            err << "zvk: " << Now() << " " << who << "the broker is connected again\n";
          else
            err << "zvk: " << Now() << " " << who << "the broker is lost (" << st.last_error
                << "); readings are queued, at most " << Counted(args.queue, "poll", "polls")
                << '\n';
        }
      }
      if (st.dropped_polls > f.dropped_told) {
        f.dropped_told = st.dropped_polls;
        status.Clear();
        err << "zvk: " << Now() << " " << who << "the queue is full: the oldest poll was dropped ("
            << Counted(st.dropped_polls, "poll", "polls") << " dropped so far)\n";
      }
      line += " | " + who + std::to_string(st.published) + " published, " +
              std::to_string(st.queued) + " queued, " + std::to_string(st.dropped_polls) +
              " dropped, " + (st.connected ? "broker connected" : "waiting for the broker") +
              (f.poller.lost() ? "; waiting for the module: " + f.poller.lost_reason() : "");
    }
    if (!waiting.empty())
      line += " | " + Counted(waiting.size(), "module", "modules") + " not described yet";
    status.Show(line);
  }
  status.Clear();
  for (const Waiting& w : waiting) {
    w.s->err << "zvk: left out of the gateway: it never described itself (" << w.why << ")\n";
    ++left_out;
  }
  // Every module's client gets the same time to deliver what it still holds.
  const auto deadline = Clock::now() + kFinishTimeout;
  bool delivered = true;
  publish::PublisherStatus total;
  for (const std::unique_ptr<Feed>& f : feeds) {
    delivered = f->publisher.Finish(deadline) && delivered;
    const publish::PublisherStatus st = f->publisher.Status();
    total.published += st.published;
    total.queued += st.queued;
    total.dropped_polls += st.dropped_polls;
  }
  first.out << Counted(polls, "poll", "polls") << ": " << total.published << " published, "
            << total.queued << " not delivered, " << Counted(total.dropped_polls, "poll", "polls")
            << " dropped\n";
  if (!delivered)
    throw Failed(std::to_string(total.queued) +
                 " channel messages were not delivered to the broker " + args.broker);
  return left_out;
}

}  // namespace zvk::cli
