#include "cli/module_poller.h"

#include "cli/term/live_status.h"
#include "cli/session.h"

namespace zvk::cli {

ModulePoller::ModulePoller(Session& session, LiveStatus& status, std::string gap_note)
    : poller_(
          session,
          [&session, &status](const std::string& message) {
            status.Clear();
            session.err << "zvk: " << message << '\n';
          },
          std::move(gap_note)) {}

}  // namespace zvk::cli
