// Decoding the measurement block into MeasurementState and showing it on the main window.
#pragma once

#include <string>

#include "state/measurement_state.h"

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
std::string FormatThermistorValue(const App& app, int ch);

}  // namespace zvk
