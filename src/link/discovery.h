// Finding the module among the host's network interfaces, supervising the link, and the
// static address typed on the main window.
#pragma once

namespace zvk {

class App;

int ScanAdapters(App& app);
bool SelectDevice(App& app);
void SupervisionStep(App& app);
// False when the address did not convert (the error box has been shown and nothing changed).
bool ApplyStaticIp(App& app);

}  // namespace zvk
