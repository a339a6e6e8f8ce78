// Routes each reply to the handler of the pending command.
#pragma once

#include <cstdint>

namespace zvk {

class App;

void DispatchReply(App& app, std::uint32_t length);

using ReplyHandler = void (*)(App&);
// The handler for a pending command, or null when the command has none.
ReplyHandler HandlerFor(std::uint8_t pending);

}  // namespace zvk
