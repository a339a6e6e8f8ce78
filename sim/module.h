// The simulated module itself: what it holds, how it answers one command frame, and the two
// records it reports (identity record, measurement block). No sockets here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/wire.h"
#include "sim/file_store.h"
#include "sim/simulator.h"

namespace zvk::sim {

using Bytes = std::vector<std::uint8_t>;

// Settings that the reset-to-defaults command puts back.
struct NetworkConfig {
  std::string location = "Lab bench 1";
  std::string ap_ssid = "zVK-Analog-0001";
  std::uint8_t ap_key_type = 0;
  std::string ap_key;
  std::string sta_ssid;
  std::uint8_t sta_key_type = 0;
  std::string sta_key;
  std::uint8_t wifi_mode = 1;  // not 0: access point
  std::uint16_t modbus_port = 502;
  std::uint8_t static_ip_enabled = 0;
  std::array<std::uint8_t, 4> static_ip{192, 168, 1, 100};
  std::array<std::uint8_t, 4> subnet_mask{255, 255, 255, 0};
  std::array<std::uint8_t, 4> gateway{192, 168, 1, 1};
  std::uint16_t idle_timeout = 120;
  std::string web_key;
};

// The network configuration files: read when the module starts, removed by reset to defaults.
inline constexpr const char* kConfigFiles[] = {
    "/local/ap_ssid.cfg",  "/local/ap_key.cfg", "/local/sta_ssid.cfg", "/local/sta_key.cfg",
    "/local/sta_keyT.cfg", "/local/sta_ip.cfg", "/local/locate.cfg",   "/local/mbport.cfg"};

// A file announced by CMD_WRITE_FILE (or a firmware image by CMD_UPLOAD_STAGED_IMAGE) whose
// content is to come on the next connection.
struct AwaitedStream {
  std::string name;
  std::uint32_t length = 0;
  std::uint32_t checksum = 0;
  double announced_at = 0;  // module seconds
};

// Where the module keeps a firmware image: announced by CMD_WRITE_FILE under the first name, or
// staged by CMD_UPLOAD_STAGED_IMAGE under the second.
inline constexpr const char* kSystemImage = "/sys/mcuimg.bin";
inline constexpr const char* kStagedImage = "mcuimg.bin";

// How long an announce waits for its content: well beyond the utility's 1500 ms and 2500 ms.
inline constexpr double kStreamWaitSeconds = 10.0;

// The count the simulated converter reads from its reference pin when asked to calibrate TH0.
inline constexpr std::uint16_t kMeasuredThRefCount = 49620;

class Module {
 public:
  explicit Module(Model model, std::string files_dir = {}, int unit = 1);

  // Answers a frame whose signature was already checked; nullopt: close without a reply.
  // `seconds` is the module's running time, which moves the inputs when drift is on.
  std::optional<Bytes> Handle(const Bytes& frame, double seconds);

  Bytes IdentityRecord(double seconds) const;
  Bytes MeasurementBlock(std::uint8_t echo_code, double seconds) const;

  // Readings as the converters would produce them for the current inputs.
  std::int16_t AnalogReading(int channel, double seconds) const;
  std::uint16_t ThermistorReading(int channel, double seconds) const;

  State Snapshot() const;

  // The announced file whose content a connection just accepted carries, if any: the first
  // connection after the announce takes it, later ones are commands again.
  std::optional<AwaitedStream> ClaimStream(double seconds);
  // Takes the content of a claimed file: stored when its length and byte sum match the
  // announce, dropped otherwise. Returns the line the module logs about it.
  std::string ReceiveStream(const AwaitedStream& file, const Bytes& content);
  // Starts the module: the network settings from its configuration files, the factory values
  // where a file is missing. The Wi-Fi mode and the web key are kept. With `run_image`, the
  // module runs the firmware image it stored: it reports the version the image carries (see
  // kImageVersionTag); otherwise, and for an image without one, the version it ran before.
  void Boot(bool run_image = true);

  // Announces content to come on the next connection (file writes, firmware images).
  void ExpectStream(std::string name, std::uint32_t length, std::uint32_t checksum, double seconds);

  // The settings of a module fresh from the factory (or reset to defaults): the name and location
  // carry the unit number.
  NetworkConfig FactoryConfig() const;

  Model model;
  int unit = 1;
  std::uint8_t model_code;
  std::array<std::uint8_t, 4> address{127, 0, 0, 1};
  std::array<std::uint8_t, 6> mac{};
  std::uint8_t fw_major = 0x01;
  std::uint8_t fw_minor = 0x12;
  NetworkConfig config;
  std::uint8_t digital_out = 0;
  std::uint8_t digital_in = 0;
  std::uint16_t rssi = 0xFFC3;  // -61 dBm
  bool drift = false;

  // Voltage module.
  std::array<double, wire::kAnalogChannels> volts{1.2346, -0.002, 5.0, 0.0, -7.5};
  std::uint8_t sampling_mode = 0;
  std::array<std::uint8_t, 8> range_codes{};  // 0: +/-10 V, so every default input fits
  std::uint16_t vref_count = 0x1F44;          // 2.5 V at 0.000312344 V per count
  std::array<std::uint8_t, wire::kAnalogRefBlockSize> analog_ref{};
  // Inputs whose + side is wired to the Vref pin: they read the reference voltage.
  std::array<bool, wire::kAnalogChannels> on_vref{};
  // Volts per count of each converter at range 3: the hardware, which the reported references
  // (analog_ref) only describe. Calibration brings the two together.
  std::array<double, wire::kAnalogChannels> converter_ref{};

  // Thermistor module.
  std::array<double, wire::kThermistorChannels> ohms{10000, 12000, 8000,  10500,
                                                     9000,  10000, 10000, 10000};
  std::uint16_t th_ref_count = wire::kDefaultThermistorRefCount;
  // The count the converter reads from its reference pin when asked to calibrate TH0.
  std::uint16_t measured_th_ref_count = kMeasuredThRefCount;
  std::array<std::uint8_t, 8> sensor_types{0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0x6A, 0x00};
  std::array<std::uint8_t, 8> fahrenheit{0, 0, 0, 0, 0, 1, 0, 0};
  std::array<std::int8_t, 8> offsets{};
  std::array<std::uint8_t, wire::kUserCurveRecordSize> user_curves{};

  int locator_count = 0;

  FileStore files;
  std::optional<AwaitedStream> awaited;
  // Set by the commands after which the module restarts; the server takes it off the network.
  bool reboot_requested = false;
  // Lines the module logs while handling a command, taken by the server.
  std::vector<std::string> log;

 private:
  using Handler = std::optional<Bytes> (Module::*)(const Bytes& frame, double seconds);
  static const std::array<Handler, 256>& Handlers();

  std::optional<Bytes> SetLocator(const Bytes& frame, double seconds);
  std::optional<Bytes> GetDevice(const Bytes& frame, double seconds);
  std::optional<Bytes> ReadData(const Bytes& frame, double seconds);
  std::optional<Bytes> SetRangeConfig(const Bytes& frame, double seconds);
  std::optional<Bytes> SetThConfig(const Bytes& frame, double seconds);
  std::optional<Bytes> CalibrateThRef(const Bytes& frame, double seconds);
  std::optional<Bytes> SetWifiMode(const Bytes& frame, double seconds);
  std::optional<Bytes> SetWebKey(const Bytes& frame, double seconds);
  std::optional<Bytes> ResetConfig(const Bytes& frame, double seconds);
  std::optional<Bytes> ResetModule(const Bytes& frame, double seconds);
  std::optional<Bytes> WriteFile(const Bytes& frame, double seconds);
  std::optional<Bytes> DeleteFile(const Bytes& frame, double seconds);
  std::optional<Bytes> UploadStagedImage(const Bytes& frame, double seconds);
  std::optional<Bytes> GetImageChecksum(const Bytes& frame, double seconds);
  std::optional<Bytes> StagedImageSent(const Bytes& frame, double seconds);
  std::optional<Bytes> ReloadCalibration(const Bytes& frame, double seconds);
  // The reference block (voltage module) or the user curves (thermistor module) from their
  // file; false, holding what it held, when the file is missing or of the wrong size.
  bool LoadCalibrationFile();
  std::optional<Bytes> MbportNotice(const Bytes& frame, double seconds);

  double Volts(int channel, double seconds) const;
  double Ohms(int channel, double seconds) const;
};

// The 6-byte reply header: signature, echoed code, status.
Bytes ReplyHeader(std::uint8_t code, std::uint8_t status);

}  // namespace zvk::sim
