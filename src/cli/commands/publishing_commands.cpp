// `zvk publish`: its arguments and their checks; the gateway itself is the PublishBackend.
#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/metrics_option.h"
#include "cli/publish_backend.h"
#include "cli/session.h"

namespace zvk::cli {

namespace {

class PublishCommand final : public CopyableCommand<PublishCommand> {
 public:
  void Define(CLI::App& sub) override {
    sub.add_option("--broker", a_.broker,
                   "mqtt://HOST[:PORT] (1883), or mqtts://HOST[:PORT] "
                   "(8883) for TLS")
        ->required();
    sub.add_option("--topic-prefix", a_.topic_prefix,
                   "First topic level: readings go to PREFIX/MODULE/CHANNEL")
        ->capture_default_str();
    sub.add_option("--interval", a_.interval_text, "Seconds from the start of one poll to the next")
        ->type_name("FLOAT")
        ->capture_default_str();
    sub.add_option("--count", a_.count_text, "Stop after this many polls")->type_name("INT");
    sub.add_option("--client-id", a_.client_id,
                   "The gateway's MQTT client id (default zvk-MODULE for one module, "
                   "zvk-gw-HASH of the addresses for several)");
    sub.add_option("--username", a_.username, "User name at the broker");
    sub.add_option("--password-file", a_.password_file,
                   std::string("File whose first line is the broker password (default: the "
                               "environment variable ") +
                       kPasswordVariable + ")");
    sub.add_option("--cafile", a_.cafile, "CA certificates for mqtts:// (default: the system's)");
    sub.add_flag("--discovery", a_.discovery,
                 "Publish the home-automation discovery configuration of each channel");
    sub.add_option("--queue", a_.queue_text,
                   "Polls kept while the broker is away; when full, the oldest is dropped")
        ->type_name("INT")
        ->capture_default_str();
    sub.add_option("--metrics", a_.metrics_text,
                   "Serve the readings to Prometheus at http://ADDR:PORT/metrics (ADDR "
                   "127.0.0.1 unless given)")
        ->type_name("[ADDR:]PORT");
    sub.footer(
        "All modules go through one connection, whose status topic is "
        "PREFIX/gateway/CLIENTID/status (its last will: offline). Runs until SIGINT (Ctrl+C) or "
        "SIGTERM (or --count polls): what is queued is sent, every module's status topic and the "
        "gateway's set to offline, and the connection closed.");
  }

  void Attach(CliEnv& env) override {
    backend_ = env.publish;
    metrics_backend_ = env.metrics;
  }

  void CheckArguments() override {
    const publish::SettingNames& names = publish::OptionNames();
    const auto refuse = [](const std::string& why) {
      if (!why.empty()) throw UsageError("publish: " + why);
    };
    a_.interval = ParseDecimal(a_.interval_text, "publish: --interval");
    refuse(publish::IntervalProblem(a_.interval, a_.interval_text, names));
    if (a_.count_text) {
      a_.count = ParseWholeNumber(*a_.count_text, "publish: --count");
      if (*a_.count < 1)
        throw UsageError("publish: --count must be 1 or more, not " + *a_.count_text);
    }
    const long long queue = ParseWholeNumber(a_.queue_text, "publish: --queue");
    refuse(publish::QueueProblem(queue, a_.queue_text, names));
    a_.queue = static_cast<std::size_t>(queue);
    refuse(publish::TopicPrefixProblem(a_.topic_prefix, names));
    refuse(publish::CaFileProblem(a_.cafile, a_.broker, names));
    if (a_.metrics_text) a_.metrics = ParseMetricsAddress(*a_.metrics_text, "publish");
    if (!backend_)
      throw Failed(
          "publish is not available in this build (it was built without the MQTT "
          "client library)");
    backend_->CheckArguments(a_);
    if (a_.metrics && !metrics_backend_) MetricsNotAvailable("publish");
  }

  void Run(Session& s) override { backend_->Run(s, a_); }

  // Over an inventory: one gateway for all modules, one connection to the broker, each module
  // with its own topics and status. A module must describe itself first (its MAC names its
  // topics); one that does not yet is asked again through the run and published once it does. A
  // module left out, or never published, is said on standard error, and the run ends with status
  // 1 once the others are done.
  bool RunsOnManyTogether() const override { return true; }
  int RunOnMany(const std::vector<std::string>& labels, const SessionMaker& open, std::ostream& out,
                std::ostream& err) override {
    return backend_->RunMany(labels, open, out, err, a_);
  }

 private:
  PublishArguments a_;
  PublishBackend* backend_ = nullptr;
  MetricsBackend* metrics_backend_ = nullptr;
};

}  // namespace

void AddPublishingCommands(std::vector<CommandEntry>& table) {
  table.push_back({"publish", "Publishing",
                   "Publish every poll to an MQTT broker, through dropouts of the module and "
                   "the broker, until stopped",
                   true, false, [] { return std::unique_ptr<Command>(new PublishCommand); }});
}

}  // namespace zvk::cli
