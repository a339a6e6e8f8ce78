// `zvk publish` as the command table knows it, and the gateway that runs it. The gateway needs
// the MQTT client library, which the statically linked zvk does not carry: it runs in
// zvk-publish (see main.cpp), and a build without the library has no gateway at all.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/metrics_option.h"
#include "publish/settings.h"

namespace zvk::cli {

// The settings as given on the command line; their defaults and checks are publish/settings.h's.
struct PublishArguments {
  std::string broker;
  std::string topic_prefix = publish::kDefaultTopicPrefix;
  std::string interval_text = "3.1";
  double interval = publish::kDefaultIntervalSeconds;
  std::optional<std::string> count_text;
  std::optional<long long> count;  // stop after this many polls
  std::string client_id;
  std::string username;
  std::optional<std::string> password_file;
  std::string cafile;
  bool discovery = false;
  std::string queue_text = std::to_string(publish::kDefaultQueuePolls);
  std::size_t queue = publish::kDefaultQueuePolls;  // polls kept while the broker is away
  std::optional<std::string> metrics_text;
  std::optional<MetricsAddress> metrics;  // where the run's metrics are served
};

class PublishBackend {
 public:
  virtual ~PublishBackend() = default;
  // Checks of the arguments only the gateway knows (the broker URL); throws usage errors.
  virtual void CheckArguments(const PublishArguments& args) = 0;
  virtual void Run(Session& session, const PublishArguments& args) = 0;
  // The gateway over every module of an inventory (each opened with `open`, as
  // Command::RunOnMany gets them), all through one connection to the broker, whose news goes to
  // `err`. Returns the exit status: failed when a module was left out or never published.
  virtual int RunMany(const std::vector<std::string>& labels, const Command::SessionMaker& open,
                      std::ostream& out, std::ostream& err, const PublishArguments& args) = 0;
};

// The environment variable the broker password is read from when no --password-file is given.
using publish::kPasswordVariable;

}  // namespace zvk::cli
