#include "monitor/main_window.h"

#include "link/discovery.h"
#include "link/dispatcher.h"
#include "link/exchange.h"
#include "monitor/channel_config.h"
#include "monitor/device_info.h"
#include "monitor/measurement.h"
#include "monitor/supervision.h"
#include "state/app.h"

namespace zvk {

namespace {

void LocatorReply(App& app) {
  if (app.link.ReplyBuffer[wire::kReplyStatus] == wire::ACK) {
    app.link.PendingCommand = 0;
    app.SetStatus("Set Locator done!");
  } else {
    ReissuePending(app.link);
  }
}

}  // namespace

void ResetDisplay(App& app, MainForm& f) {
  f.rssi.caption = "RSSI:";
  RefreshReadings(app, f);
  f.module_state.caption.clear();
  f.location_text.caption.clear();
  f.rssi.color = Rgb{255, 64, 129};
  f.analog_group.visible = false;
  f.thermistor_group.visible = false;
}

void ApplyModelLayout(MainForm& f, std::uint8_t model_code) {
  if (model_code == wire::kModelKm3) {
    f.analog_group.visible = true;
    f.thermistor_group.visible = false;
  } else if (model_code == wire::kModelQn6) {
    f.analog_group.visible = false;
    f.thermistor_group.visible = true;
  } else {
    return;
  }
  for (Label& caption : f.analog_caption) caption.enabled = true;
}

MainWindow::MainWindow(App& app) : app_(app) {
  ConnectHandlers();
  app_.show_status = [this](const std::string& text) { form.status_bar.panels[0] = text; };
}

void MainWindow::RegisterReplyHandlers() {
  App& app = app_;
  Link& link = app.link;
  MainForm& f = form;
  SetReplyHandler(link, wire::CMD_NONE, [&app, &f] { DecodeStatusOnlyReply(app, f); });
  SetReplyHandler(link, wire::CMD_SET_LOCATOR, [&app] { LocatorReply(app); });
  SetReplyHandler(link, wire::CMD_GET_DEVICE, [&app, &f] { DecodeDeviceInfo(app, f); });
  SetReplyHandler(link, wire::CMD_SET_RANGE_CONFIG, [&app] { RangeConfigReply(app); });
  SetReplyHandler(link, wire::CMD_SET_TH_CONFIG, [&app, &f] { DecodeDataReply(app, f); });
  SetReplyHandler(link, wire::CMD_READ_DATA, [&app, &f] { DecodeDataReply(app, f); });
  link.on_device_search = [&app, &f](DeviceSearch found) { ShowDeviceSearch(app, f, found); };
}

void MainWindow::ConnectHandlers() {
  MainForm& f = form;
  f.setup_button.on_click = [this] { Image1Click(); };
  f.refresh_button.on_click = [this] { Image2Click(); };
  f.find_me_button.on_click = [this] { Image3Click(); };
  f.trend_button.on_click = [this] { Image4Click(); };
  f.analog_calibration_button.on_click = [this] { SpeedButton1Click(); };
  f.thermistor_calibration_button.on_click = [this] { SpeedButton2Click(); };
  f.static_ip_button.on_click = [this] { SpeedButton5Click(); };
  ConnectChannelHandlers(app_, form);
}

bool MainWindow::SupervisionDue() const {
  return app_.discovery.SupervisionTicks == 30;
}

void MainWindow::FormCreate() {
  ResetDisplay(app_, form);
  app_.discovery.PollingEnabled = true;
  timer3_enabled_ = true;
  DeriveRanges(app_.meas);
}

void MainWindow::FormActivate() {
  if (activated_) return;
  activated_ = true;
  LinkState& link = app_.link;
  link.PendingCommand = 0;
  link.RetryCount = 0;
  link.RetryTicks = 0;
  link.ReplyTimedOut = false;
  MainForm& f = form;
  f.link_bar.panels[1].clear();
  f.device_ip.text = link.DeviceHost;
  if (SelectDevice(app_.link)) {
    f.link_bar.panels[1] = "IP: " + link.DeviceHost;
    f.device_ip.text = link.DeviceHost;
    QueueCommand(app_.link, wire::CMD_GET_DEVICE);
  } else {
    app_.seams.dialogs.FailureBox("Device not found", "Please check device whether in AP mode!",
                                  MsgIcon::Warning);
  }
}

void MainWindow::Timer1Timer() {
  RetryStep(app_.link);
}

void MainWindow::Timer3Timer() {
  timer3_enabled_ = false;
  // Timer3 starts again at the end of every tick, even one that an error ends early.
  struct Restart {
    bool& enabled;
    ~Restart() { enabled = true; }
  } restart{timer3_enabled_};
  app_.link.RetryCount = 0;
  if (SupervisionDue()) {
    SupervisionStep(app_);
  } else {
    ++app_.discovery.SupervisionTicks;
    QueueStep(app_.link);
  }
}

void MainWindow::Image1Click() {
  if (SupervisionDue()) {
    app_.Log("Boom..");
    return;
  }
  if (!show_setup_window) return;  // the setup window is not part of this build
  app_.discovery.PollingEnabled = false;
  show_setup_window();
}

void MainWindow::Image2Click() {
  if (SupervisionDue()) return;
  app_.link.RetryCount = 0;
  QueueCommand(app_.link, wire::CMD_GET_DEVICE);
}

void MainWindow::Image3Click() {
  if (SupervisionDue()) return;
  QueueCommand(app_.link, wire::CMD_SET_LOCATOR);
}

void MainWindow::Image4Click() {
  if (show_trend_window) show_trend_window();
}

void MainWindow::SpeedButton1Click() {
  if (SupervisionDue() || !show_analog_calibration) return;
  app_.discovery.PollingEnabled = false;
  show_analog_calibration();
}

void MainWindow::SpeedButton2Click() {
  if (SupervisionDue() || !show_thermistor_calibration) return;
  app_.discovery.PollingEnabled = false;
  show_thermistor_calibration();
}

void MainWindow::SpeedButton5Click() {
  if (!ApplyStaticIp(app_, form)) return;
  ResetDisplay(app_, form);
  app_.link.RetryCount = 0;
  QueueCommand(app_.link, wire::CMD_GET_DEVICE);
}

}  // namespace zvk
