// zvk-sim: a stand-in for a module on a TCP port, used by the demo and the end-to-end tests.
// It answers the command protocol from simulated inputs and keeps the module's settings.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zvk::sim {

enum class Model { Km3, Qn6 };

// A simulated firmware image names its version as this text followed by two hex bytes,
// "zVK-FW 01.13", anywhere in the image; a restart runs it (see Module::Boot).
inline constexpr const char* kImageVersionTag = "zVK-FW ";

// Faults injected into the replies of the next commands.
enum class Fault {
  NoReply,         // accept the frame, send nothing, hold the connection until the peer closes
  WrongSignature,  // reply starts 5A 35 77 A4
  Refuse,          // reply with status 0x15 (NAK) and no payload
  Truncate,        // send only the first half of the reply
  Oversize,        // append bytes until the reply is 6000 bytes long
  Reset,           // send the first 3 bytes, then reset the connection
  Delay,           // wait delay_ms before replying
  SplitReply,      // send the reply in two parts 50 ms apart
  WrongSum,        // the image checksum reply (37) carries another sum; other commands unchanged
  OtherReply,      // answer with the identity record (33), whatever the command was
  // On the next content connections (a file's or an image's, after its announce) instead of a
  // command's reply; the module otherwise reads the announced length and closes its side.
  NoRead,      // read nothing and keep the connection open
  ResetAfter,  // read after_bytes, then reset the connection
  Chatter,     // send one byte on the connection, then read as usual
  CloseAfter,  // read after_bytes, then close (a reset when bytes are left unread)
  SlowClose,   // read everything, then wait delay_ms before closing
  // On the next restarts (a reboot, the Wi-Fi mode, a reset to defaults) instead of a reply.
  NoReturn,     // the module goes off the network and never comes back
  OldFirmware,  // the module comes back running the firmware it ran before, whatever it stored
};

// Whether the fault acts on a content connection rather than on a command's reply.
bool IsContentFault(Fault fault);
// Whether the fault acts on a restart rather than on a reply or a content.
bool IsRestartFault(Fault fault);

struct Options {
  Model model = Model::Qn6;
  std::string listen = "127.0.0.1";
  std::uint16_t port = 0;  // 0: ephemeral
  std::string files_dir;   // empty: files kept in memory
  // A connection that has not sent its whole frame this long after it was accepted is served with
  // what came (or closed when nothing usable came), so a silent or trickling client ends.
  int idle_timeout_ms = 3000;
  // Connections served at once; at the limit, the oldest one still sending its frame makes room.
  std::size_t max_connections = 256;
  // The newest frames kept for Frames(); older ones are dropped, so a long run stays bounded.
  std::size_t frame_record_limit = 1000;
  // How long the module is off the network when it restarts (reboot, Wi-Fi mode, reset to
  // defaults): connects are refused meanwhile. 0: it restarts in place, never off the network
  // (the in-process default; zvk-sim takes a few seconds, as a module does).
  int reboot_ms = 0;
  // The module's number in a fleet (1 to 65535): its factory access-point name
  // ("zVK-Analog-0002"), location ("Lab bench 2") and the last two bytes of its MAC are this
  // number, so every module of a fleet tells itself apart.
  int unit = 1;
  // Receives the module's log lines (files stored or dropped), on the serving thread.
  std::function<void(const std::string&)> log;
};

// A snapshot of what the module currently holds.
struct State {
  std::uint8_t model_code = 0;
  std::array<std::uint8_t, 4> address{127, 0, 0, 1};  // reported in the identity record
  std::uint8_t sampling_mode = 0;
  std::array<std::uint8_t, 8> range_codes{};
  std::array<std::uint8_t, 8> sensor_types{};
  std::array<std::uint8_t, 8> fahrenheit{};
  std::array<std::int8_t, 8> offsets{};
  std::string location;
  int locator_count = 0;
  std::uint8_t wifi_mode = 0;
  std::string web_key;
  std::uint16_t thermistor_ref_count = 0;
};

class Simulator {
 public:
  explicit Simulator(Options options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds and starts serving on a thread of its own; returns the port it listens on.
  std::uint16_t Start();
  void Stop();
  std::uint16_t Port() const;

  // The next `count` commands (only those with code `only_code`, when not 0) get `fault`.
  // Frames the module answers with silence (a wrong signature, the reset) use up no fault.
  // A content fault acts on the next `count` content connections instead (`only_code` is not
  // used); `after_bytes` is what ResetAfter and CloseAfter read first. A restart fault acts on
  // the next `count` restarts.
  void InjectFault(Fault fault, int count = 1, std::uint8_t only_code = 0, int delay_ms = 0,
                   std::size_t after_bytes = 0);
  void ClearFaults();

  // The frames received on command connections, oldest first, exactly as received: all of them
  // since the start or ClearFrames, up to the newest Options::frame_record_limit.
  std::vector<std::vector<std::uint8_t>> Frames() const;
  void ClearFrames();
  // Waits until at least n frames were received since the start or ClearFrames (whether still
  // kept or not), or the timeout passed.
  bool WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) const;

  // The content received on each data connection (the one after a file's announce), in order.
  std::vector<std::vector<std::uint8_t>> Streams() const;
  // Waits until at least n contents were received (and stored or dropped) or the timeout passed.
  bool WaitForStreams(std::size_t n, std::chrono::milliseconds timeout) const;
  // What the module logged: files stored, contents dropped for a wrong length or byte sum.
  std::vector<std::string> LogLines() const;

  // The module's files.
  std::optional<std::vector<std::uint8_t>> File(const std::string& name) const;
  std::vector<std::string> FileNames() const;
  void PutFile(const std::string& name, const std::vector<std::uint8_t>& content);

  State Snapshot() const;
  void SetReportedAddress(std::array<std::uint8_t, 4> address);
  void SetModelCode(std::uint8_t code);  // e.g. 0x00 to act as an unknown model
  void SetRssi(std::uint16_t raw);       // 0 = not reported
  // The firmware version the module runs (reported as "01.12"), until it runs a stored image.
  void SetFirmware(std::uint8_t major, std::uint8_t minor);
  void SetAnalogVolts(int channel, double volts);
  void SetThermistorOhms(int channel, double ohms);
  void SetThermistorRefCount(std::uint16_t count);
  void SetSensorType(int channel, std::uint8_t type);
  void SetFahrenheit(int channel, bool on);
  void SetLocation(const std::string& text);
  void SetRangeCode(int channel, std::uint8_t code);
  // Calibration: an analog input wired to the Vref pin reads the reference voltage (the
  // reference count times 0.000312344 V) through its range.
  void WireToVref(int channel, bool on);
  void SetVrefCount(std::uint16_t count);
  // The reported reference block (the content of "/local/ad_ref.cfg"); the converters keep their
  // own scale.
  void SetAnalogRefBlock(const std::array<std::uint8_t, 160>& block);
  // The reported user curve record (the content of "/local/th_user.cfg").
  void SetUserCurveRecord(const std::array<std::uint8_t, 144>& record);
  // What the thermistor module measures on its reference pin when asked to calibrate.
  void SetMeasuredThRefCount(std::uint16_t count);
  // Holds the simulated inputs still (tests) or lets them drift slowly (demo).
  void SetDrift(bool on);
  // How long the next restarts keep the module off the network.
  void SetRebootMs(int ms);
  // Waits until the module, after a restart, is back on the network or the timeout passed.
  bool WaitUntilOnline(std::chrono::milliseconds timeout) const;

  // The reply the module would send to this frame right now (no faults applied, nothing changed).
  // Empty when the module would close without replying.
  std::vector<std::uint8_t> BuildReply(const std::vector<std::uint8_t>& frame);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zvk::sim
