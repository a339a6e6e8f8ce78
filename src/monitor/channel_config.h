// Channel settings changed from the main window and the guards that keep the refresh of the
// controls from sending the reported settings back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zvk {

class App;
struct MainForm;

// True when the frame went out.
bool SendRangeConfig(App& app);
void SendChannelConfig(App& app);
// Stores the analog controls; false (after the error box) when a range text does not convert.
bool ReadAnalogControls(App& app, const MainForm& f);
void RefreshAnalogControls(App& app, MainForm& f);
void RefreshThermistorControls(App& app, MainForm& f);
void RangeConfigReply(App& app);

// Codes read from combo box texts; nullopt when the text does not convert.
std::optional<int> RangeCodeOfText(const std::string& text);
std::optional<int> SensorCodeOfText(const std::string& text);
int SensorItemIndex(std::uint8_t sensor_type);

// Wires the change and click handlers of both channel groups.
void ConnectChannelHandlers(App& app, MainForm& f);

}  // namespace zvk
