#include "support/rig.h"

#include <algorithm>

#include "link/wire.h"
#include "sim/net.h"

namespace zvk::test {

Rig::Rig(RigOptions options) : fake_hosts(FakeHostInterfaces::OneMatch()) {
  if (options.model) {
    sim::Options sim_options;
    sim_options.model = *options.model;
    sim = std::make_unique<sim::Simulator>(sim_options);
    sim->Start();
  }
  HostInterfaces& hosts =
      options.skip_wifi_check ? static_cast<HostInterfaces&>(skip_hosts) : *fake_hosts;
  Network& net = options.network ? *options.network : network;
  system = std::make_unique<System>(Seams{net, pump, sleeper, hosts, dialogs});
  app = &system->app;
  window = &system->main_window;
  setup = &system->setup_window;
  app->link.DeviceHost = "127.0.0.1";
  app->link.DevicePort = sim               ? sim->Port()
                         : options.network ? wire::kDefaultPort
                                           : ClosedLoopbackPort();
}

Rig::~Rig() {
  system.reset();
  if (sim) sim->Stop();
}

void Rig::Start() {
  window->FormCreate();
  window->FormActivate();
}

void Rig::Tick(int count) {
  for (int i = 0; i < count; ++i) {
    window->Timer1Timer();
    window->Timer3Timer();
  }
}

void Rig::Timer3(int count) {
  for (int i = 0; i < count; ++i) window->Timer3Timer();
}

bool Rig::TickUntilIdentified(int limit) {
  for (int i = 0; i < limit && !app->device.Identified; ++i) Tick();
  return app->device.Identified;
}

void Rig::OpenSetupWindow() {
  if (!window->show_setup_window) window->show_setup_window = [this] { setup->FormActivate(); };
  window->Image1Click();
}

void Rig::CloseSetupWindow() {
  setup->FormClose();
}

std::vector<std::uint8_t> Rig::LastFrame() const {
  auto frames = sim->Frames();
  return frames.empty() ? std::vector<std::uint8_t>{} : frames.back();
}

bool WaitForAnnouncedContent(const sim::Simulator& sim, std::chrono::milliseconds timeout) {
  std::size_t announces = 0;
  for (const auto& frame : sim.Frames())
    announces += frame.size() > wire::kReplyCode && frame[wire::kReplyCode] == wire::CMD_WRITE_FILE;
  return sim.WaitForStreams(announces, timeout);
}

bool Logged(const App& app, const std::string& line) {
  const auto& lines = app.log_lines;
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::uint16_t ClosedLoopbackPort() {
  std::uint16_t port = 0;
  sim::net::Listen("127.0.0.1", 0, &port);  // and closed again at once
  return port;
}

}  // namespace zvk::test
