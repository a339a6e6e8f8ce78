#include "admin/setup_form.h"

namespace zvk {

SetupForm::SetupForm(Gauge& gauge) : CGauge1(gauge) {
  const struct {
    RadioButton& button;
    const char* caption;
    RadioGroup& group;
  } radios[] = {
      {RadioButton1, "Open", ApKeyGroup},       {RadioButton2, "WPA/WPA2", ApKeyGroup},
      {RadioButton3, "Open", StaKeyGroup},      {RadioButton4, "WEP", StaKeyGroup},
      {RadioButton5, "WPA/WPA2", StaKeyGroup},  {RadioButton6, "AP ", WifiModeGroup},
      {RadioButton7, "Station", WifiModeGroup},
  };
  for (const auto& r : radios) {
    r.button.caption = r.caption;
    r.button.Join(&r.group);
  }
  // The start states; the windows' events are not connected yet, so nothing is raised.
  RadioButton1.SetChecked(true);
  RadioButton5.SetChecked(true);
  RadioButton7.SetChecked(true);
  CheckBox1.caption = "Static IP";
  CheckBox1.hint = "Static IP, only Station mode";
}

}  // namespace zvk
