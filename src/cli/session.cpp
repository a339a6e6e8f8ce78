#include "cli/session.h"

#include "cli/cli_error.h"

namespace zvk::cli {

namespace {

ops::ModuleOptions ModuleOptionsOf(const CliEnv& env, const GlobalOptions& options,
                                   std::ostream& err) {
  ops::ModuleOptions module;
  module.host = options.host;
  module.port = options.port;
  module.skip_wifi_check = options.skip_wifi_check;
  module.delivery_wait_ms = env.delivery_wait_ms;
  if (options.verbose)
    module.verbose = [&err](const std::string& line) { err << line << '\n' << std::flush; };
  return module;
}

}  // namespace

Session::Session(CliEnv& env, const GlobalOptions& options, std::ostream& out, std::ostream& err)
    : detail::WithCliDialogs{CliDialogs(out, err, options.yes, env.read_answer)},
      ops::ModuleSession(ops::ModuleSeams{.network = env.network,
                                          .dialogs = cli_dialogs_,
                                          .hosts = env.hosts,
                                          .sleeper = env.sleeper},
                         ModuleOptionsOf(env, options, err)),
      out(out),
      err(err),
      env_(env),
      options_(options),
      progress_terminal_(env.progress_terminal),
      status_columns_(env.status_columns) {}

Session::~Session() = default;

void Session::Open() {
  try {
    ops::ModuleSession::Open();
  } catch (const ops::InputRefused& e) {
    throw UsageError(e.what());
  }
}

void Session::Identify() {
  try {
    ops::ModuleSession::Identify();
  } catch (const ops::OperationFailed& e) {
    throw Failed(e.what());
  }
}

void Session::RequireAcknowledged(const ExchangeRecord& record, std::uint8_t code,
                                  const std::string& what) {
  try {
    ops::ModuleSession::RequireAcknowledged(record, code, what);
  } catch (const ops::OperationFailed& e) {
    throw Failed(e.what());
  }
}

void Session::SendQueued(const std::function<void()>& click, std::uint8_t code,
                         const std::string& what) {
  try {
    ops::ModuleSession::SendQueued(click, code, what);
  } catch (const ops::OperationFailed& e) {
    throw Failed(e.what());
  }
}

}  // namespace zvk::cli
