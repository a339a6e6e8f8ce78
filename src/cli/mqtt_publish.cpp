#include "cli/mqtt_publish.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/session.h"
#include "cli/term/live_status.h"
#include "cli/term/stop_request.h"
#include "engine/engine.h"
#include "engine/metrics_sink.h"
#include "engine/module_lines.h"
#include "publish/broker_url.h"
#include "publish/messages.h"
#include "publish/mqtt_sink.h"
#include "publish/settings.h"

namespace zvk::cli {

namespace {

// How long the broker has to accept the first connection, and to acknowledge what is still
// queued when the gateway stops.
constexpr std::chrono::seconds kConnectTimeout{10};
constexpr std::chrono::seconds kFinishTimeout{10};

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string AddressOf(Session& s) {
  return s.app().link.DeviceHost + ":" + std::to_string(s.options().port);
}

publish::PublishSettings SettingsOf(const PublishArguments& args, std::string client_id) {
  publish::PublishSettings settings;
  settings.broker = publish::ParseBrokerUrl(args.broker);
  settings.cafile = args.cafile;
  settings.username = args.username;
  try {
    settings.password = publish::ReadPassword(args.password_file);
  } catch (const std::runtime_error& e) {
    throw Failed(e.what());
  }
  settings.client_id = args.client_id.empty() ? std::move(client_id) : args.client_id;
  settings.topic_prefix = args.topic_prefix;
  settings.discovery = args.discovery;
  settings.queue_polls = args.queue;
  return settings;
}

engine::EngineOptions OptionsOf(const PublishArguments& args) {
  engine::EngineOptions options;
  options.limits.interval_s = args.interval;
  options.limits.shortest_interval_s = publish::kShortestIntervalSeconds;
  if (args.count) options.limits.count = static_cast<std::size_t>(*args.count);
  options.gap_note = "the channels are published as \"No Reading\" until it answers";
  // A module's MAC names its topics: one that has not described itself is not published until
  // it does, as a gateway that starts with the plant after a power cut must wait for the modules
  // that boot more slowly than it does.
  options.identity_first = true;
  // A gateway that starts with the plant, after a power cut, must not give up on the modules
  // that boot more slowly than it does.
  options.waiting_note =
      "tried again with a growing back-off, and published once it describes itself";
  options.finish_wait = kFinishTimeout;
  return options;
}

// The run of a gateway over `modules` on the engine, through the sink; `status` non-null: the
// live line of a lone module. Returns how many modules were left out or never published.
std::size_t RunGateway(std::vector<engine::EngineModule> modules, engine::ModuleLines& lines,
                       publish::MqttSink& sink, const PublishArguments& args, std::ostream& out,
                       LiveStatus* status, engine::MetricsSink& metrics) {
  try {
    sink.Connect(kConnectTimeout);
  } catch (const publish::PublishError& e) {
    throw Failed(e.what());
  }
  engine::SinkSet sinks;
  sinks.Add(sink);
  sinks.Add(metrics);
  const std::size_t n = modules.size();
  engine::Engine run(std::move(modules), lines, sinks, OptionsOf(args));
  run.Start();
  StopRequestSignal stop(StopRequest::Install());
  bool delivered = false;
  try {
    delivered = run.Run(stop, [&] {
      if (!status) return;
      std::string line = Counted(run.rounds(), "poll", "polls") + " | " + sink.Status();
      if (run.poller(0).lost()) line += "; waiting for the module: " + run.poller(0).lost_reason();
      status->Show(line);
    });
  } catch (const engine::SinkError& e) {
    if (status) status->Clear();
    throw Failed(e.what());
  }
  if (status) status->Clear();
  std::size_t left_out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const engine::ModuleState& st = run.state(i);
    if (st.waiting) {
      lines.Tell(i, "left out of the gateway: it never described itself (" + st.why_waiting + ")");
      ++left_out;
    } else if (sink.ModuleId(i).empty()) {
      ++left_out;  // the sink refused it, as its lines said
    }
  }
  lines.Flush();
  out << Counted(run.rounds(), "poll", "polls") << ": " << sink.Summary() << '\n';
  if (!delivered)
    throw Failed(std::to_string(sink.gateway().Status().queued) +
                 " channel messages were not delivered to the broker " + args.broker);
  return left_out;
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
  // The one module of --host is published or the run fails: its MAC names its topics.
  const publish::ModuleIdentity module = publish::IdentityOf(ModuleOf(s.app().device));
  if (const std::string why = publish::UnpublishableId(module.id); !why.empty())
    throw Failed("the module at " + s.app().link.DeviceHost + " " + why);
  engine::MetricsSink metrics;
  const auto endpoint = ServeMetrics(metrics_, args.metrics, metrics, s.err);
  LiveStatus status(s.err, s.options().verbose ? 0 : s.status_columns());
  engine::ModuleLines lines(s.err, {""}, [&status] { status.Clear(); });
  // It keeps the client id it always had, never the desktop program's.
  publish::MqttSink sink(
      SettingsOf(args, "zvk-" + module.id), args.broker, false,
      [&lines](std::optional<std::size_t>, const std::string& line) { lines.Tell(0, line); });
  RunGateway({{{"", AddressOf(s)}, &s}}, lines, sink, args, s.out, &status, metrics);
}

int MqttPublish::RunMany(const std::vector<std::string>& labels, const Command::SessionMaker& open,
                         std::ostream& out, std::ostream& err, const PublishArguments& args) {
  const std::size_t n = labels.size();
  engine::MetricsSink metrics;
  const auto endpoint = ServeMetrics(metrics_, args.metrics, metrics, err);
  // Each module's lines under its label; the broker's news is the gateway's, told once, plain.
  engine::ModuleLines lines(err, labels);
  std::vector<std::unique_ptr<Session>> sessions;
  std::vector<engine::EngineModule> modules;
  std::vector<std::string> addresses;
  for (std::size_t i = 0; i < n; ++i) {
    sessions.push_back(open(i, out, lines.stream(i)));
    addresses.push_back(AddressOf(*sessions.back()));
    modules.push_back({{labels[i], addresses.back()}, sessions.back().get()});
  }
  publish::MqttSink sink(
      SettingsOf(args, publish::GatewayClientId("zvk-gw-", addresses)), args.broker, true,
      [&lines, &err](std::optional<std::size_t> module, const std::string& line) {
        if (module)
          lines.Tell(*module, line);
        else
          err << "zvk: " << line << '\n';
      });
  const std::size_t left_out =
      RunGateway(std::move(modules), lines, sink, args, out, nullptr, metrics);
  return left_out == 0 ? kExitOk : kExitFailed;
}

}  // namespace zvk::cli
