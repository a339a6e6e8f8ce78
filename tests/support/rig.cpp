#include "support/rig.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "link/wire.h"

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
  system = std::make_unique<System>(Seams{network, pump, sleeper, hosts, dialogs});
  app = &system->app;
  window = &system->main_window;
  setup = &system->setup_window;
  app->link.DeviceHost = "127.0.0.1";
  app->link.DevicePort = sim ? sim->Port() : ClosedLoopbackPort();
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
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace zvk::test
