// Decoding the measurement block into MeasurementState and showing it on the main window.
#pragma once

#include <string>

#include "state/measurement_state.h"
#include "state/reading.h"

namespace zvk {

class App;
struct MainForm;

// True when the frame went out; the reply is decoded before it returns.
bool SendDataPoll(App& app);
void DecodeDataReply(App& app, MainForm& f);
void DecodeStatusOnlyReply(App& app, MainForm& f);
void RebuildRangeTable(App& app);
void DeriveRanges(MeasurementState& m);
void RefreshReadings(App& app, MainForm& f);
// The reading a channel's value label shows, from the decoded state.
Reading AnalogReading(const App& app, int ch);
Reading ThermistorReading(const App& app, int ch);
std::string FormatThermistorValue(const App& app, int ch);

inline constexpr const char* kAnalogChannelNames[5] = {"AI0", "AI1", "AI2", "AI3", "AI4"};
inline constexpr const char* kThermistorChannelNames[8] = {"TH0", "TH1", "TH2", "TH3",
                                                           "TH4", "TH5", "TH6", "TH7"};

}  // namespace zvk
