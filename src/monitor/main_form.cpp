#include "monitor/main_form.h"

#include <string>

#include "thermistor/sensor_table.h"

namespace zvk {

MainForm::MainForm() {
  static constexpr const char* kAnalogNames[5] = {"AI0", "AI1", "AI2", "AI3", "AI4"};
  for (int ch = 0; ch < 5; ++ch) {
    AnalogCaption[ch].caption = kAnalogNames[ch];
    AnalogValue[ch] = Label{.caption = "0", .color = kNavy};
    RangeCombo[ch].items = {"0:-/+10V", "1:-/+5V", "2:-/+2.5V", "3:-/+1.25V"};
    RangeCombo[ch].SetTextSilently("0:-/+10V");
  }
  RadioButton1.caption = "Normal";
  RadioButton2.caption = "Fast";
  RadioButton1.Join(&SamplingGroup);
  RadioButton2.Join(&SamplingGroup);
  RadioButton1.SetChecked(true);  // no handler is attached yet

  std::vector<std::string> sensor_items{"00:Disable"};
  for (auto text : kSensorItemTexts) sensor_items.emplace_back(text);
  for (int ch = 0; ch < 8; ++ch) {
    ThermistorCaption[ch].caption = "TH" + std::to_string(ch);
    ThermistorValue[ch] = Label{.caption = "0", .color = kNavy};
    SensorCombo[ch].items = sensor_items;
    SensorCombo[ch].SetTextSilently("00:Disable");
    OffsetSpin[ch].min_value = kMinTempOffset;
    OffsetSpin[ch].max_value = kMaxTempOffset;
  }
}

}  // namespace zvk
