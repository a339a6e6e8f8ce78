// Routes each reply to the handler of the pending command.
#pragma once

#include <cstdint>

namespace zvk {

class App;

void DispatchReply(App& app, std::uint32_t length);

}  // namespace zvk
