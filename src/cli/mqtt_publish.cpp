#include "cli/mqtt_publish.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_error.h"
#include "cli/live_status.h"
#include "cli/module_poller.h"
#include "cli/session.h"
#include "cli/stop_request.h"
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
  RunGateway({&s}, args);
}

namespace {

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
  std::size_t dropped_told = 0;
};

}  // namespace

void MqttPublish::RunGateway(const std::vector<Session*>& sessions, const PublishArguments& args) {
  if (sessions.empty()) throw UsageError("publish: no module to publish");
  Session& first = *sessions.front();
  std::ostream& err = first.err;
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

  const bool several = sessions.size() > 1;
  // Several modules tell their lines one after another, each under its name: no line to rewrite.
  LiveStatus status(err, first.options().verbose || several ? 0 : first.status_columns());
  std::vector<std::unique_ptr<Feed>> feeds;
  for (Session* s : sessions) {
    publish::ModuleIdentity module = publish::IdentityOf(s->app(), s->window().form);
    // The MAC names the module's topics; without it there is no stable name to publish under.
    if (module.id.size() != 12)
      throw Failed("the module at " + s->app().link.DeviceHost +
                   " reported no MAC address to publish under");
    // Each module has its own client, and so its own last will; ids must differ at the broker.
    settings.client_id =
        args.client_id.empty() ? "" : (several ? args.client_id + "-" + module.id : args.client_id);
    feeds.push_back(std::make_unique<Feed>(*s, status, settings, module));
    Feed& f = *feeds.back();
    try {
      f.publisher.Connect(kConnectTimeout);
    } catch (const publish::PublishError& e) {
      throw Failed(e.what());
    }
    err << "zvk: publishing " << module.model << " " << module.id << " to "
        << f.publisher.topics().Channel("#") << " (status " << f.publisher.topics().Status()
        << ")\n";
  }

  StopRequest& stop = StopRequest::Install();
  const auto interval =
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(Seconds(args.interval));
  auto due = std::chrono::steady_clock::now();
  std::size_t polls = 0;
  for (;;) {
    if (args.count && polls >= static_cast<std::size_t>(*args.count)) break;
    if (polls > 0 && stop.WaitUntil(due)) break;
    if (stop.requested()) break;
    due = std::chrono::steady_clock::now() + interval;
    ++polls;

    std::string line = Counted(polls, "poll", "polls");
    for (const std::unique_ptr<Feed>& feed : feeds) {
      Feed& f = *feed;
      f.publisher.Submit(f.poller.Poll());
      // The log is never shown; a run of days must not keep every line of it.
      f.s.app().log_lines.clear();

      const std::string who = several ? f.publisher.module().id + ": " : "";
      const publish::PublisherStatus st = f.publisher.Status();
      if (st.refused) {
        status.Clear();
        for (const std::unique_ptr<Feed>& other : feeds)
          other->publisher.Finish(std::chrono::steady_clock::now());
        throw Failed("the broker " + args.broker + " " + st.last_error);
      }
      if (st.connected != f.broker_connected) {
        f.broker_connected = st.connected;
        status.Clear();
        if (f.broker_connected)
          err << "zvk: " << Now() << " " << who << "the broker is connected again\n";
        else
          err << "zvk: " << Now() << " " << who << "the broker is lost (" << st.last_error
              << "); readings are queued, at most " << Counted(args.queue, "poll", "polls") << '\n';
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
    status.Show(line);
  }
  status.Clear();
  // Every module's client gets the same time to deliver what it still holds.
  const auto deadline = std::chrono::steady_clock::now() + kFinishTimeout;
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
}

}  // namespace zvk::cli
