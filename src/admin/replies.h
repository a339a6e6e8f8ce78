// Replies to the administration commands sent from the setup window: deleting a file on the
// module and resetting its configuration.
#pragma once

namespace zvk {

class App;

// Registers the handlers with the state's link when the system is assembled.
void RegisterAdminReplies(App& app);

}  // namespace zvk
