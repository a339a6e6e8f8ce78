#include "monitor/main_form.h"

#include <string>

#include "thermistor/sensor_table.h"

namespace zvk {

MainForm::MainForm() {
  static constexpr const char* kAnalogNames[5] = {"AI0", "AI1", "AI2", "AI3", "AI4"};
  for (int ch = 0; ch < 5; ++ch) {
    analog_caption[ch].caption = kAnalogNames[ch];
    analog_value[ch] = Label{.caption = "0", .color = kNavy};
    range[ch].items = {"0:-/+10V", "1:-/+5V", "2:-/+2.5V", "3:-/+1.25V"};
    range[ch].SetTextSilently("0:-/+10V");
  }
  sampling_normal.caption = "Normal";
  sampling_fast.caption = "Fast";
  sampling_normal.Join(&sampling);
  sampling_fast.Join(&sampling);
  sampling_normal.SetChecked(true);  // no handler is attached yet

  std::vector<std::string> sensor_items{"00:Disable"};
  for (auto text : kSensorItemTexts) sensor_items.emplace_back(text);
  for (int ch = 0; ch < 8; ++ch) {
    thermistor_caption[ch].caption = "TH" + std::to_string(ch);
    thermistor_value[ch] = Label{.caption = "0", .color = kNavy};
    sensor_type[ch].items = sensor_items;
    sensor_type[ch].SetTextSilently("00:Disable");
    offset[ch].min_value = kMinTempOffset;
    offset[ch].max_value = kMaxTempOffset;
  }
}

}  // namespace zvk
