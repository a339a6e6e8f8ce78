#include "monitor/device_info.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "link/exchange.h"
#include "link/identity_record.h"
#include "link/wire.h"
#include "monitor/channel_config.h"
#include "monitor/main_form.h"
#include "monitor/main_window.h"
#include "monitor/measurement.h"
#include "state/app.h"
#include "thermistor/convert.h"
#include "util/byte_order.h"
#include "util/text_codec.h"

namespace zvk {

std::string RssiText(std::uint16_t raw) {
  return "RSSI: " + std::to_string(int{raw} - 65536) + "dBm";
}

void DecodeDeviceInfo(App& app, MainForm& f) {
  namespace d = wire::devinfo;
  const std::uint8_t* r = app.link.ReplyBuffer.data();
  DeviceConfig& dev = app.device;
  MeasurementState& m = app.meas;

  if (r[wire::kReplyStatus] != wire::ACK) {
    ReissuePending(app.link);
    return;
  }
  app.link.PendingCommand = 0;
  f.module_state.color = kNavy;
  f.link_bar.panels[0] = "Get Device Linked!!";
  // Readings that follow belong to whichever module answered: none known until the record is
  // found whole and meant for this address.
  dev.DevMac.clear();
  dev.DevFirmware.clear();

  dev.ModelKnown = false;
  std::string model_text = kUnknownModelText;
  dev.ModelCode = r[d::kModel];
  if (dev.ModelCode == wire::kModelKm3) {
    model_text = kKm3ModelText;
    ApplyModelLayout(f, wire::kModelKm3);
    dev.ModelKnown = true;
  } else if (dev.ModelCode == wire::kModelQn6) {
    model_text = kQn6ModelText;
    ApplyModelLayout(f, wire::kModelQn6);
    dev.ModelKnown = true;
  } else {
    dev.ModelCode = 0;
  }
  f.module_state.caption = model_text;
  if (dev.ModelCode == 0) return;

  // Only now is the record known to be whole: an unknown model's reply ends after its code.
  const IdentityRecord rec = ReadIdentityRecord(r);
  if (rec.address != app.link.DeviceHost) return;

  f.link_bar.panels[0] = "Dev MAC: " + rec.mac;
  dev.DevMac = rec.mac;

  dev.DeviceLocation = rec.location;
  f.location_text.color = Rgb{64, 132, 118};
  f.location_text.caption = "Locate: " + ModuleTextToUtf8(dev.DeviceLocation);

  f.status_bar.panels[1] = "FW: V" + rec.firmware;
  dev.DevFirmware = rec.firmware;
  app.SetStatus("Get Device");

  dev.DevApSsid = rec.ap_ssid;
  dev.DevApKeyType = rec.ap_key_type;
  if (dev.DevApKeyType != 0) dev.DevApKey = rec.ap_key;
  dev.DevStaSsid = rec.sta_ssid;
  dev.DevStaKeyType = rec.sta_key_type;
  if (dev.DevStaKeyType != 0) dev.DevStaKey = rec.sta_key;

  dev.DevWifiMode = rec.wifi_mode;
  dev.DevModbusPort = rec.modbus_port;
  dev.DevStaticIpEnabled = rec.static_ip_enabled;
  dev.DevStaticIp = rec.static_ip;
  dev.DevSubnetMask = rec.subnet_mask;
  dev.DevGateway = rec.gateway;

  if (rec.rssi_raw != 0) {
    dev.DevRssiDbm = int{rec.rssi_raw} - 65536;
    f.rssi.caption = RssiText(rec.rssi_raw);
  }
  dev.DevIdleTimeout = rec.idle_timeout;

  if (dev.ModelCode == wire::kModelKm3) {
    for (int ch = 0; ch < wire::kAnalogChannels; ++ch)
      m.RawReading[ch] = GetBe16(r + d::kRawReadings + 2 * ch);
    m.SamplingMode = r[d::kKm3SamplingMode];
    std::copy_n(r + d::kKm3RangeCodes, wire::kAnalogChannels, m.RangeCode.begin());
    m.VrefCount = GetBe16(r + d::kKm3VrefCount);
    std::copy_n(r + d::kKm3AnalogRef, wire::kAnalogRefBlockSize, m.AnalogRefBlock.begin());
    RefreshAnalogControls(app, f);
    RebuildRangeTable(app);
  } else {
    m.ThermistorRefCount = GetBe16(r + d::kQn6RefCount);
    if (m.ThermistorRefCount == 0) m.ThermistorRefCount = wire::kDefaultThermistorRefCount;
    app.VoltsPerCount = 2.5 / m.ThermistorRefCount;
    char line[32];
    std::snprintf(line, sizeof line, "QN6_Ref_Val=>0x%04X", unsigned{m.ThermistorRefCount});
    app.Log(line);
    std::copy_n(r + d::kQn6SensorTypes, 8, m.SensorType.begin());
    std::copy_n(r + d::kQn6Fahrenheit, 8, m.Fahrenheit.begin());
    for (int ch = 0; ch < 8; ++ch)
      m.TempOffset[ch] = static_cast<std::int8_t>(r[d::kQn6Offsets + ch]);
    for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
      m.RawReading[ch] = GetBe16(r + d::kRawReadings + 2 * ch);
      m.ThermistorResult[ch] =
          ConvertThermistor(m.RawReading[ch], m.SensorType[ch], app.VoltsPerCount, app.sensors);
    }
    m.VrefCount = GetBe16(r + d::kQn6VrefCount);
    LoadUserCurveRecord(app.curves, r + d::kQn6UserCurves);
    RefreshUserCurveOhms(app.curves);
    for (int curve : FitUserCurves(app.curves, app.sensors)) app.Log(KeptCurvesLogLine(curve));
  }
  RefreshReadings(app, f);
  m.Freshness = ReadingsFreshness::Fresh;
  dev.Identified = true;
  dev.DeviceInfoLoaded = true;
  app.link.PendingCommand = 0;
}

}  // namespace zvk
