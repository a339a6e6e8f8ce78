// The main window's side of finding the module: what a connection check shows, the supervision
// tick, and the static address typed on the window.
#pragma once

#include <string>

#include "link/discovery.h"

namespace zvk {

class App;
struct MainForm;

// Registered with the link: what SelectDevice shows on the main window.
void ShowDeviceSearch(App& app, MainForm& f, DeviceSearch found);
void SupervisionStep(App& app);
// False when the address did not convert (the error box has been shown and nothing changed).
bool ApplyStaticIp(App& app, const MainForm& f);

// Why the last connection check did not find the module, and how to go on where it cannot (a
// module on a wired or routed network): two lines for the main window. Empty when it found it.
std::string WifiCheckNote(const App& app);

}  // namespace zvk
