#include "cli/mqtt_publish.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

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
  publish::PublishSettings settings;
  settings.broker = publish::ParseBrokerUrl(args.broker);
  settings.cafile = args.cafile;
  settings.username = args.username;
  if (args.password_file) {
    settings.password = ReadPassword(*args.password_file);
  } else if (const char* password = std::getenv(kPasswordVariable)) {
    settings.password = password;
  }
  settings.client_id = args.client_id;
  settings.topic_prefix = args.topic_prefix;
  settings.discovery = args.discovery;
  settings.queue_polls = args.queue;

  const publish::ModuleIdentity module = publish::IdentityOf(s.app(), s.window().form);
  // The MAC names the module's topics; without it there is no stable name to publish under.
  if (module.id.size() != 12) throw Failed("the module reported no MAC address to publish under");
  publish::ModulePublisher publisher(settings, module);
  try {
    publisher.Connect(kConnectTimeout);
  } catch (const publish::PublishError& e) {
    throw Failed(e.what());
  }
  s.err << "zvk: publishing " << module.model << " " << module.id << " to "
        << publisher.topics().Channel("#") << " (status " << publisher.topics().Status() << ")\n";

  StopRequest& stop = StopRequest::Install();
  LiveStatus status(s.err, s.options().verbose ? 0 : s.status_columns());
  ModulePoller poller(s, status, "the channels are published as \"No Reading\" until it answers");

  const auto interval =
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(Seconds(args.interval));
  auto due = std::chrono::steady_clock::now();
  std::size_t polls = 0;
  bool broker_connected = true;
  std::size_t dropped_told = 0;
  for (;;) {
    if (args.count && polls >= static_cast<std::size_t>(*args.count)) break;
    if (polls > 0 && stop.WaitUntil(due)) break;
    if (stop.requested()) break;
    due = std::chrono::steady_clock::now() + interval;
    ++polls;

    publisher.Submit(poller.Poll());
    // The log is never shown; a run of days must not keep every line of it.
    s.app().log_lines.clear();

    const publish::PublisherStatus st = publisher.Status();
    if (st.refused) {
      status.Clear();
      publisher.Finish(std::chrono::steady_clock::now());
      throw Failed("the broker " + args.broker + " " + st.last_error);
    }
    if (st.connected != broker_connected) {
      broker_connected = st.connected;
      status.Clear();
      if (broker_connected)
        s.err << "zvk: " << Now() << " the broker is connected again\n";
      else
        s.err << "zvk: " << Now() << " the broker is lost (" << st.last_error
              << "); readings are queued, at most " << Counted(args.queue, "poll", "polls") << '\n';
    }
    if (st.dropped_polls > dropped_told) {
      dropped_told = st.dropped_polls;
      status.Clear();
      s.err << "zvk: " << Now() << " the queue is full: the oldest poll was dropped ("
            << Counted(st.dropped_polls, "poll", "polls") << " dropped so far)\n";
    }
    status.Show(Counted(polls, "poll", "polls") + ", " + std::to_string(st.published) +
                " published, " + std::to_string(st.queued) + " queued, " +
                std::to_string(st.dropped_polls) + " dropped | " +
                (st.connected ? "broker connected" : "waiting for the broker") +
                (poller.lost() ? "; waiting for the module: " + poller.lost_reason() : ""));
  }
  status.Clear();
  const bool delivered = publisher.Finish(std::chrono::steady_clock::now() + kFinishTimeout);
  const publish::PublisherStatus st = publisher.Status();
  s.out << Counted(polls, "poll", "polls") << ": " << st.published << " published, " << st.queued
        << " not delivered, " << Counted(st.dropped_polls, "poll", "polls") << " dropped\n";
  if (!delivered)
    throw Failed(std::to_string(st.queued) + " channel messages were not delivered to the broker " +
                 args.broker);
}

}  // namespace zvk::cli
