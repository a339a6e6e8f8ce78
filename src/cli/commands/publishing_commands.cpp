// `zvk publish`: its arguments and their checks; the gateway itself is the PublishBackend.
#include <CLI/CLI.hpp>
#include <memory>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli_error.h"
#include "cli/command.h"
#include "cli/fleet_run.h"
#include "cli/publish_backend.h"
#include "cli/session.h"

namespace zvk::cli {

namespace {

// Standard error of one module among several: whole lines, each after the module's name, so the
// lines of modules identified at once never mix.
class PrefixedLines final : public std::streambuf {
 public:
  PrefixedLines(std::ostream& target, std::mutex& lock, std::string prefix)
      : target_(target), lock_(lock), prefix_(std::move(prefix)) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    line_ += static_cast<char>(c);
    if (c == '\n') Flush();
    return c;
  }
  int sync() override {
    if (!line_.empty()) Flush();
    return 0;
  }

 private:
  void Flush() {
    std::lock_guard guard(lock_);
    target_ << prefix_ << line_;
    if (line_.back() != '\n') target_ << '\n';
    target_.flush();
    line_.clear();
  }
  std::ostream& target_;
  std::mutex& lock_;
  std::string prefix_;
  std::string line_;
};

constexpr double kLongestInterval = 24 * 3600.0;
constexpr long long kLargestQueue = 10'000'000;

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
                   "The gateway's MQTT client id (default zvk-MODULE)");
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
    sub.footer(
        "Runs until SIGINT (Ctrl+C) or SIGTERM (or --count polls): what is queued is sent, the "
        "module's status topic set to offline, and the connection closed.");
  }

  void Attach(CliEnv& env) override { backend_ = env.publish; }

  void CheckArguments() override {
    a_.interval = ParseDecimal(a_.interval_text, "publish: --interval");
    if (a_.interval < 0 || a_.interval > kLongestInterval)
      throw UsageError("publish: --interval must be 0 to 86400 seconds, not " + a_.interval_text);
    if (a_.count_text) {
      a_.count = ParseWholeNumber(*a_.count_text, "publish: --count");
      if (*a_.count < 1)
        throw UsageError("publish: --count must be 1 or more, not " + *a_.count_text);
    }
    const long long queue = ParseWholeNumber(a_.queue_text, "publish: --queue");
    if (queue < 1 || queue > kLargestQueue)
      throw UsageError("publish: --queue must be 1 to 10000000 polls, not " + a_.queue_text);
    a_.queue = static_cast<std::size_t>(queue);
    if (a_.topic_prefix.empty() || a_.topic_prefix.find_first_of("+#") != std::string::npos ||
        a_.topic_prefix.front() == '/' || a_.topic_prefix.back() == '/')
      throw UsageError(
          "publish: --topic-prefix must be a topic without + or # and without a "
          "leading or trailing /, not '" +
          a_.topic_prefix + "'");
    if (!a_.cafile.empty() && a_.broker.rfind("mqtts://", 0) != 0)
      throw UsageError("publish: --cafile needs an mqtts:// broker");
    if (!backend_)
      throw Failed(
          "publish is not available in this build (it was built without the MQTT "
          "client library)");
    backend_->CheckArguments(a_);
  }

  void Run(Session& s) override { backend_->Run(s, a_); }

  // Over an inventory: one gateway for all modules, each with its own client and status topic.
  // A module must describe itself first (its MAC names its topics). One that does not yet is
  // tried again through the run and published once it does; with --count it is left out. A
  // module left out, or never published, is said on standard error, and the run ends with
  // status 1 once the others are done.
  bool RunsOnManyTogether() const override { return true; }
  int RunOnMany(const std::vector<std::string>& labels, const SessionMaker& open, std::ostream& out,
                std::ostream& err) override {
    const std::size_t n = labels.size();
    std::mutex err_lock;
    std::vector<std::unique_ptr<PrefixedLines>> errs;
    std::vector<std::unique_ptr<std::ostream>> err_streams;
    std::vector<std::unique_ptr<Session>> sessions;
    for (std::size_t i = 0; i < n; ++i) {
      errs.push_back(std::make_unique<PrefixedLines>(err, err_lock, labels[i] + ": "));
      err_streams.push_back(std::make_unique<std::ostream>(errs.back().get()));
      sessions.push_back(open(i, out, *err_streams.back()));
    }
    std::vector<std::string> failures(n);
    ForEachConcurrently(n, [&](std::size_t i) {
      try {
        sessions[i]->Identify();
      } catch (const CliError& e) {
        failures[i] = e.what();
      }
    });
    std::vector<GatewayModule> modules;
    std::size_t left_out = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!failures[i].empty() && a_.count) {
        *err_streams[i] << "zvk: left out of the gateway: " << failures[i] << std::endl;
        ++left_out;
        continue;
      }
      modules.push_back({sessions[i].get(), failures[i]});
    }
    if (modules.empty()) throw Failed("publish: no module of the inventory answered");
    left_out += backend_->RunMany(modules, a_);
    return left_out == 0 ? kExitOk : kExitFailed;
  }

 private:
  PublishArguments a_;
  PublishBackend* backend_ = nullptr;
};

}  // namespace

void AddPublishingCommands(std::vector<CommandEntry>& table) {
  table.push_back({"publish", "Publishing",
                   "Publish every poll to an MQTT broker, through dropouts of the module and "
                   "the broker, until stopped",
                   true, false, [] { return std::unique_ptr<Command>(new PublishCommand); }});
}

}  // namespace zvk::cli
