#include "harness/harness_system.h"

#include <algorithm>

#include "link/wire.h"
#include "monitor/main_window.h"
#include "state/app.h"

namespace zvk::harness {

MsgResult QuietDialogs::MessageBox(const std::string& caption, const std::string& text, MsgIcon,
                                   MsgButtons buttons) {
  boxes.push_back(caption + ": " + text);
  return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
}

std::size_t LayoutLength(std::uint8_t pending, std::uint8_t model_code, const std::uint8_t* reply,
                         std::size_t length) {
  if (length <= wire::kReplyStatus || reply[wire::kReplyStatus] != wire::ACK)
    return wire::kReplyHeaderSize;
  switch (pending) {
    case wire::CMD_GET_DEVICE:
      if (length <= wire::devinfo::kModel) return wire::devinfo::kModel + 1;
      if (reply[wire::devinfo::kModel] == wire::kModelKm3) return wire::devinfo::kKm3RecordSize;
      if (reply[wire::devinfo::kModel] == wire::kModelQn6) return wire::devinfo::kQn6RecordSize;
      return wire::devinfo::kModel + 1;
    case wire::CMD_SET_TH_CONFIG:
    case wire::CMD_READ_DATA:
      return model_code == wire::kModelKm3 ? wire::data::kKm3BlockSize : wire::data::kQn6BlockSize;
    case wire::CMD_GET_IMAGE_CHECKSUM:
      return wire::kReplyHeaderSize + 4;
    case wire::CMD_CALIBRATE_TH_REF:
      return wire::kReplyHeaderSize + 2;
    default:
      return wire::kReplyHeaderSize;
  }
}

HarnessSystem::HarnessSystem(Peer& peer)
    : network(peer),
      system(Seams{network, pump, sleeper, hosts, dialogs}),
      app(system.app),
      window(system.main_window) {
  // The module answers on loopback only; the harness never reaches anything else either.
  app.link.DeviceHost = "127.0.0.1";
  network.watch.Attach(app.link.ReplyBuffer.data(), app.link.ReplyBuffer.size());
  for (int code = 0; code < 256; ++code) {
    LinkCallback& handler = app.link.reply_handlers[static_cast<std::size_t>(code)];
    if (!handler) continue;
    handled_.push_back(static_cast<std::uint8_t>(code));
    handler = [this, inner = std::move(handler), code] {
      CheckDispatch(static_cast<std::uint8_t>(code));
      inner();
    };
  }
}

HarnessSystem::~HarnessSystem() {
  network.watch.Release();
}

std::uint8_t HarnessSystem::UnhandledCode() const {
  for (int code = 1; code < 256; ++code)
    if (!app.link.reply_handlers[static_cast<std::size_t>(code)])
      return static_cast<std::uint8_t>(code);
  return 0;
}

void HarnessSystem::CheckIdle(const std::string& where) {
  if (app.link.LinkBusy) Violation(where + ": LinkBusy left set");
  if (network.open_sockets != 0) Violation(where + ": a connection left open");
}

void HarnessSystem::CheckDispatch(std::uint8_t pending) {
  ++dispatches;
  const Link& link = app.link;
  const std::size_t length = link.ReplyLength;
  const std::string what = "reply to " + std::to_string(pending) + " (" + std::to_string(length) +
                           " bytes, " + std::to_string(network.delivered.size()) + " arrived)";
  if (length > network.delivered.size() || length > link.ReplyBuffer.size()) {
    Violation(what + ": decoded bytes that did not arrive");
  } else if (!std::equal(network.delivered.begin(),
                         network.delivered.begin() + static_cast<std::ptrdiff_t>(length),
                         link.ReplyBuffer.begin())) {
    Violation(what + ": the buffer differs from the bytes that arrived");
  } else {
    const std::size_t needed =
        LayoutLength(pending, app.device.ModelCode, link.ReplyBuffer.data(), length);
    if (length < needed)
      Violation(what + ": handed to its handler, which reads " + std::to_string(needed));
  }
  if (on_dispatch) on_dispatch(pending);
}

bool IsUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned c = *p;
    int more = 0;
    unsigned min = 0;
    if (c < 0x80) {
      ++p;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      min = 0x10000;
    } else {
      return false;
    }
    if (end - p <= more) return false;
    unsigned cp = c & (0x3F >> more);
    for (int i = 1; i <= more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += more + 1;
  }
  return true;
}

std::vector<const std::string*> MainWindowTexts(const MainWindow& window) {
  const MainForm& f = window.form;
  std::vector<const std::string*> texts{&f.module_state.caption, &f.location_text.caption,
                                        &f.rssi.caption,         &f.device_ip.text,
                                        &f.link_bar.panels[0],   &f.link_bar.panels[1],
                                        &f.status_bar.panels[0], &f.status_bar.panels[1]};
  for (const Label& l : f.analog_value) texts.push_back(&l.caption);
  for (const Label& l : f.thermistor_value) texts.push_back(&l.caption);
  for (const ComboBox& c : f.range) texts.push_back(&c.text());
  for (const ComboBox& c : f.sensor_type) texts.push_back(&c.text());
  for (const SpinEdit& s : f.offset) texts.push_back(&s.text());
  return texts;
}

}  // namespace zvk::harness
