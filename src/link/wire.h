// Wire constants of the module protocol: command codes, frame lengths and reply layouts.
// Shared by the core and the simulator, so both sides speak from one table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zvk::wire {

inline constexpr std::array<std::uint8_t, 4> kFrameSignature{0x5A, 0x35, 0x77, 0xA5};
inline constexpr std::uint8_t ACK = 6;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint16_t kDefaultPort = 13577;
inline constexpr const char* kDefaultHost = "192.168.77.1";
inline constexpr const char* kDefaultSubnetPrefix = "192.168.77.";

inline constexpr std::size_t kCommandFrameSize = 1024;
inline constexpr std::size_t kReplyBufferSize = 4096;
inline constexpr std::size_t kReplyClearBytes = 250;

// Reply header.
inline constexpr std::size_t kReplyCode = 4;
inline constexpr std::size_t kReplyStatus = 5;
inline constexpr std::size_t kReplyHeaderSize = 6;

enum Command : std::uint8_t {
  CMD_NONE = 0,
  CMD_SET_LOCATOR = 29,
  CMD_GET_DEVICE = 33,
  CMD_GET_IMAGE_CHECKSUM = 37,
  CMD_STAGED_IMAGE_SENT = 38,
  CMD_RESET_MODULE = 45,
  CMD_SET_WIFI_MODE = 48,
  CMD_SET_WEB_KEY = 50,
  CMD_UPLOAD_STAGED_IMAGE = 90,
  CMD_DELETE_FILE = 93,
  CMD_RESET_CONFIG = 94,
  CMD_WRITE_FILE = 95,
  CMD_CALIBRATE_TH_REF = 213,
  CMD_SET_RANGE_CONFIG = 214,
  CMD_SET_TH_CONFIG = 215,
  CMD_READ_DATA = 216,
  CMD_RELOAD_AD_REF = 219,
  CMD_MBPORT_CFG = 220,
};

// Frame lengths the issuers send.
inline constexpr std::uint8_t kLenQueued = 7;  // CMD_SET_LOCATOR, CMD_GET_DEVICE
inline constexpr std::uint8_t kLenReadData = 5;
inline constexpr std::uint8_t kLenRangeConfig = 14;
inline constexpr std::uint8_t kLenThConfig = 29;
inline constexpr std::uint8_t kLenReloadAdRef = 5;
inline constexpr std::uint8_t kLenCalibrateThRef = 6;

inline constexpr std::uint8_t kModelKm3 = 0xB6;  // voltage module, AI0..AI4
inline constexpr std::uint8_t kModelQn6 = 0xB7;  // thermistor module, TH0..TH7
inline constexpr int kAnalogChannels = 5;
inline constexpr int kThermistorChannels = 8;
inline constexpr std::size_t kUserCurveRecordSize = 144;
inline constexpr std::size_t kAnalogRefBlockSize = 160;

// The module's files that the calibration windows write and the module reloads.
inline constexpr const char* kAnalogRefFile = "/local/ad_ref.cfg";   // AnalogRefBlock
inline constexpr const char* kUserCurveFile = "/local/th_user.cfg";  // the user curve record

// Identity record (reply to CMD_GET_DEVICE).
namespace devinfo {
inline constexpr std::size_t kModel = 6;
inline constexpr std::size_t kAddress = 7;  // 4 bytes, last octet first
inline constexpr std::size_t kMac = 11;     // 6 bytes
inline constexpr std::size_t kFwMajor = 24;
inline constexpr std::size_t kFwMinor = 25;
inline constexpr std::size_t kLocation = 40;
inline constexpr std::size_t kLocationWidth = 31;
inline constexpr std::size_t kApSsid = 80;
inline constexpr std::size_t kSsidWidth = 31;
inline constexpr std::size_t kApKeyType = 112;
inline constexpr std::size_t kApKey = 113;
inline constexpr std::size_t kKeyWidth = 14;
inline constexpr std::size_t kStaSsid = 128;
inline constexpr std::size_t kStaKeyType = 160;
inline constexpr std::size_t kStaKey = 161;
inline constexpr std::size_t kWifiMode = 176;
inline constexpr std::size_t kDigitalOut = 177;
inline constexpr std::size_t kDigitalIn = 178;
inline constexpr std::size_t kModbusPort = 179;  // BE16
inline constexpr std::size_t kStaticIpEnabled = 181;
inline constexpr std::size_t kStaticIp = 182;  // 4 bytes, first octet first
inline constexpr std::size_t kSubnetMask = 186;
inline constexpr std::size_t kGateway = 190;
inline constexpr std::size_t kRssi = 194;         // BE16
inline constexpr std::size_t kIdleTimeout = 196;  // BE16
inline constexpr std::size_t kRawReadings = 200;  // BE16 each
// Voltage module tail.
inline constexpr std::size_t kKm3SamplingMode = 216;
inline constexpr std::size_t kKm3RangeCodes = 217;  // 5 bytes
inline constexpr std::size_t kKm3VrefCount = 225;   // BE16
inline constexpr std::size_t kKm3AnalogRef = 230;   // 160 bytes
inline constexpr std::size_t kKm3RecordSize = 390;
// Thermistor module tail.
inline constexpr std::size_t kQn6RefCount = 216;  // BE16
inline constexpr std::size_t kQn6SensorTypes = 218;
inline constexpr std::size_t kQn6Fahrenheit = 226;
inline constexpr std::size_t kQn6Offsets = 234;
inline constexpr std::size_t kQn6VrefCount = 242;   // BE16
inline constexpr std::size_t kQn6UserCurves = 245;  // 144 bytes
inline constexpr std::size_t kQn6RecordSize = 389;
}  // namespace devinfo

// Measurement block (reply to CMD_READ_DATA and CMD_SET_TH_CONFIG).
namespace data {
inline constexpr std::size_t kDigitalOut = 6;
inline constexpr std::size_t kDigitalIn = 7;
inline constexpr std::size_t kRssi = 8;          // BE16
inline constexpr std::size_t kRawReadings = 10;  // 8 x BE16
// Voltage module.
inline constexpr std::size_t kKm3SamplingMode = 26;
inline constexpr std::size_t kKm3RangeCodes = 27;  // 5 bytes
inline constexpr std::size_t kKm3VrefCount = 35;   // BE16
inline constexpr std::size_t kKm3AnalogRef = 44;   // 160 bytes
inline constexpr std::size_t kKm3BlockSize = 204;
// Thermistor module.
inline constexpr std::size_t kQn6RefCount = 26;  // BE16
inline constexpr std::size_t kQn6SensorTypes = 28;
inline constexpr std::size_t kQn6Fahrenheit = 36;
inline constexpr std::size_t kQn6Offsets = 44;
inline constexpr std::size_t kQn6VrefCount = 52;   // BE16
inline constexpr std::size_t kQn6UserCurves = 54;  // 144 bytes
inline constexpr std::size_t kQn6BlockSize = 198;
}  // namespace data

// Range config frame (CMD_SET_RANGE_CONFIG).
namespace rangecfg {
inline constexpr std::size_t kSamplingMode = 5;
inline constexpr std::size_t kRangeCodes = 6;  // 8 bytes
}  // namespace rangecfg

// Thermistor config frame (CMD_SET_TH_CONFIG).
namespace thcfg {
inline constexpr std::size_t kSensorTypes = 5;
inline constexpr std::size_t kFahrenheit = 13;
inline constexpr std::size_t kOffsets = 21;
}  // namespace thcfg

// Thermistor reference command (CMD_CALIBRATE_TH_REF) and its reply.
namespace thref {
inline constexpr std::size_t kOption = 5;
inline constexpr std::uint8_t kCalibrate = 0;
inline constexpr std::uint8_t kResetToDefault = 2;
inline constexpr std::size_t kReplyRefCount = 6;  // BE16, the new reference count
}  // namespace thref

// Volts per count of the voltage module's reference reading (VrefCount).
inline constexpr double kVrefVoltsPerCount = 0.000312344;

// AnalogRefBlock: ActiveRef[0..4] are little-endian doubles at this offset of the block.
inline constexpr std::size_t kActiveRefOffset = 80;

inline constexpr std::uint16_t kDefaultThermistorRefCount = 49599;  // 0xC1BF

}  // namespace zvk::wire
