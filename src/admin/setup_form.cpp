#include "admin/setup_form.h"

namespace zvk {

SetupForm::SetupForm(Gauge& gauge) : gauge(gauge) {
  const struct {
    RadioButton& button;
    const char* caption;
    RadioGroup& group;
  } radios[] = {
      {ap_key_open, "Open", ap_key_type},
      {ap_key_wpa, "WPA/WPA2", ap_key_type},
      {station_key_open, "Open", station_key_type},
      {station_key_wep, "WEP", station_key_type},
      {station_key_wpa, "WPA/WPA2", station_key_type},
      {wifi_mode_ap, "AP ", wifi_mode},
      {wifi_mode_station, "Station", wifi_mode},
  };
  for (const auto& r : radios) {
    r.button.caption = r.caption;
    r.button.Join(&r.group);
  }
  // The start states; the windows' events are not connected yet, so nothing is raised.
  ap_key_open.SetChecked(true);
  station_key_wpa.SetChecked(true);
  wifi_mode_station.SetChecked(true);
  static_ip.caption = "Static IP";
  static_ip.hint = "Static IP, only Station mode";
}

}  // namespace zvk
