// Replies to the administration commands sent from the setup window (deleting a file on the
// module, resetting its configuration) and the re-issue of the reboot.
#pragma once

namespace zvk {

class App;

// Registers the handlers with the state's link when the system is assembled.
void RegisterAdminReplies(App& app);

}  // namespace zvk
