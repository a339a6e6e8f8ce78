#include "sim/module.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

#include "util/byte_order.h"

namespace zvk::sim {

namespace {

constexpr double kDefaultAnalogRef = 3.911556659e-05;  // volts per count at range code 3
constexpr double kExcitationAmps = 1e-05;
constexpr double kThermistorFullScaleVolts = 2.5;

// Three points per user curve: (temperature in deg C, tenths of an ohm) at hi, mid and low.
struct CurvePoints {
  std::int16_t temp_hi, temp_mid, temp_low;
  std::int32_t res_hi, res_mid, res_low;
};
// 10K, 2252, 3K and 5K thermistors, then four more 10K curves: every curve fits out of the box.
constexpr std::array<CurvePoints, 8> kDefaultUserCurves{{
    {100, 25, 0, 6800, 100000, 326500},
    {100, 25, 0, 1532, 22520, 73550},
    {100, 25, 0, 2040, 30000, 97950},
    {100, 25, 0, 3400, 50000, 163250},
    {100, 25, 0, 6800, 100000, 326500},
    {100, 25, 0, 6800, 100000, 326500},
    {100, 25, 0, 6800, 100000, 326500},
    {100, 25, 0, 6800, 100000, 326500},
}};

void PutText(Bytes& out, std::size_t offset, std::size_t width, const std::string& text) {
  std::copy_n(text.begin(), std::min(width, text.size()), out.begin() + offset);
}

template <std::size_t N>
void PutArray(Bytes& out, std::size_t offset, const std::array<std::uint8_t, N>& bytes,
              std::size_t count = N) {
  std::copy_n(bytes.begin(), std::min(count, N), out.begin() + offset);
}

double Wave(double seconds, int channel, double period) {
  return std::sin(2.0 * std::numbers::pi * seconds / (period + 7.0 * channel) + channel);
}

void CheckChannel(int channel, int count) {
  if (channel < 0 || channel >= count) throw std::out_of_range("zvk-sim: no such channel");
}

}  // namespace

Bytes ReplyHeader(std::uint8_t code, std::uint8_t status) {
  Bytes reply(wire::kReplyHeaderSize);
  std::copy(wire::kFrameSignature.begin(), wire::kFrameSignature.end(), reply.begin());
  reply[wire::kReplyCode] = code;
  reply[wire::kReplyStatus] = status;
  return reply;
}

Module::Module(Model m, std::string files_dir, int unit_number)
    : model(m),
      unit(unit_number),
      model_code(m == Model::Km3 ? wire::kModelKm3 : wire::kModelQn6),
      files(std::move(files_dir)) {
  // Locally administered MACs spelling the model: "ZK3" and "ZQ6".
  mac = m == Model::Km3 ? std::array<std::uint8_t, 6>{0x02, 0x5A, 0x4B, 0x33, 0x00, 0x01}
                        : std::array<std::uint8_t, 6>{0x02, 0x5A, 0x51, 0x36, 0x00, 0x01};
  PutBe16(&mac[4], static_cast<std::uint16_t>(unit));
  for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
    PutLeDouble(&analog_ref[8 * ch], kDefaultAnalogRef);
    PutLeDouble(&analog_ref[wire::kActiveRefOffset + 8 * ch], kDefaultAnalogRef);
    converter_ref[ch] = kDefaultAnalogRef;
  }
  for (std::size_t n = 0; n < kDefaultUserCurves.size(); ++n) {
    const CurvePoints& c = kDefaultUserCurves[n];
    std::uint8_t* p = user_curves.data();
    PutLe16(p + 2 * n, static_cast<std::uint16_t>(c.temp_hi));
    PutLe16(p + 16 + 2 * n, static_cast<std::uint16_t>(c.temp_mid));
    PutLe16(p + 32 + 2 * n, static_cast<std::uint16_t>(c.temp_low));
    PutLe32(p + 48 + 4 * n, static_cast<std::uint32_t>(c.res_hi));
    PutLe32(p + 80 + 4 * n, static_cast<std::uint32_t>(c.res_mid));
    PutLe32(p + 112 + 4 * n, static_cast<std::uint32_t>(c.res_low));
  }
  Boot();
}

const std::array<Module::Handler, 256>& Module::Handlers() {
  static const std::array<Handler, 256> table = [] {
    std::array<Handler, 256> t{};
    t[wire::CMD_SET_LOCATOR] = &Module::SetLocator;
    t[wire::CMD_GET_DEVICE] = &Module::GetDevice;
    t[wire::CMD_READ_DATA] = &Module::ReadData;
    t[wire::CMD_SET_RANGE_CONFIG] = &Module::SetRangeConfig;
    t[wire::CMD_SET_TH_CONFIG] = &Module::SetThConfig;
    t[wire::CMD_CALIBRATE_TH_REF] = &Module::CalibrateThRef;
    t[wire::CMD_SET_WIFI_MODE] = &Module::SetWifiMode;
    t[wire::CMD_SET_WEB_KEY] = &Module::SetWebKey;
    t[wire::CMD_RESET_CONFIG] = &Module::ResetConfig;
    t[wire::CMD_RESET_MODULE] = &Module::ResetModule;
    t[wire::CMD_WRITE_FILE] = &Module::WriteFile;
    t[wire::CMD_DELETE_FILE] = &Module::DeleteFile;
    t[wire::CMD_RELOAD_AD_REF] = &Module::ReloadCalibration;
    t[wire::CMD_MBPORT_CFG] = &Module::MbportNotice;
    t[wire::CMD_UPLOAD_STAGED_IMAGE] = &Module::UploadStagedImage;
    t[wire::CMD_GET_IMAGE_CHECKSUM] = &Module::GetImageChecksum;
    t[wire::CMD_STAGED_IMAGE_SENT] = &Module::StagedImageSent;
    return t;
  }();
  return table;
}

std::optional<Bytes> Module::Handle(const Bytes& frame, double seconds) {
  if (frame.size() <= wire::kReplyCode) return std::nullopt;
  const std::uint8_t code = frame[wire::kReplyCode];
  const Handler handler = Handlers()[code];
  if (handler == nullptr) return ReplyHeader(code, wire::NAK);
  return (this->*handler)(frame, seconds);
}

double Module::Volts(int channel, double seconds) const {
  if (on_vref[channel]) return vref_count * wire::kVrefVoltsPerCount;
  double v = volts[channel];
  if (drift) v += 0.02 * Wave(seconds, channel, 30.0);
  return v;
}

double Module::Ohms(int channel, double seconds) const {
  double r = ohms[channel];
  if (drift) r *= 1.0 + 0.02 * Wave(seconds, channel, 40.0);
  return r;
}

std::int16_t Module::AnalogReading(int channel, double seconds) const {
  CheckChannel(channel, wire::kAnalogChannels);
  // Range 3 counts at the converter's own scale; each lower code doubles the span. Codes above 3
  // have no span of their own and measure as range 3.
  const int range = std::min<int>(range_codes[channel], 3);
  const double per_count = converter_ref[channel] * static_cast<double>(1 << (3 - range));
  if (!std::isfinite(per_count) || per_count == 0.0) return 0;
  const double count = std::round(Volts(channel, seconds) / per_count);
  return static_cast<std::int16_t>(std::clamp(count, -32768.0, 32767.0));
}

std::uint16_t Module::ThermistorReading(int channel, double seconds) const {
  CheckChannel(channel, wire::kThermistorChannels);
  const std::uint16_t ref_count = th_ref_count ? th_ref_count : wire::kDefaultThermistorRefCount;
  const double volts_per_count = kThermistorFullScaleVolts / ref_count;
  const double count = std::round(Ohms(channel, seconds) * kExcitationAmps / volts_per_count);
  return static_cast<std::uint16_t>(std::clamp(count, 0.0, 65535.0));
}

Bytes Module::IdentityRecord(double seconds) const {
  namespace d = wire::devinfo;
  Bytes rec = ReplyHeader(wire::CMD_GET_DEVICE, wire::ACK);
  rec.resize(model == Model::Km3 ? d::kKm3RecordSize : d::kQn6RecordSize);
  rec[d::kModel] = model_code;
  for (int i = 0; i < 4; ++i) rec[d::kAddress + i] = address[3 - i];
  PutArray(rec, d::kMac, mac);
  rec[d::kFwMajor] = fw_major;
  rec[d::kFwMinor] = fw_minor;
  PutText(rec, d::kLocation, d::kLocationWidth, config.location);
  PutText(rec, d::kApSsid, d::kSsidWidth, config.ap_ssid);
  rec[d::kApKeyType] = config.ap_key_type;
  PutText(rec, d::kApKey, d::kKeyWidth, config.ap_key);
  PutText(rec, d::kStaSsid, d::kSsidWidth, config.sta_ssid);
  rec[d::kStaKeyType] = config.sta_key_type;
  PutText(rec, d::kStaKey, d::kKeyWidth, config.sta_key);
  rec[d::kWifiMode] = config.wifi_mode;
  rec[d::kDigitalOut] = digital_out;
  rec[d::kDigitalIn] = digital_in;
  PutBe16(&rec[d::kModbusPort], config.modbus_port);
  rec[d::kStaticIpEnabled] = config.static_ip_enabled;
  PutArray(rec, d::kStaticIp, config.static_ip);
  PutArray(rec, d::kSubnetMask, config.subnet_mask);
  PutArray(rec, d::kGateway, config.gateway);
  PutBe16(&rec[d::kRssi], rssi);
  PutBe16(&rec[d::kIdleTimeout], config.idle_timeout);
  if (model == Model::Km3) {
    for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
      PutBe16(&rec[d::kRawReadings + 2 * ch],
              static_cast<std::uint16_t>(AnalogReading(ch, seconds)));
    }
    rec[d::kKm3SamplingMode] = sampling_mode;
    PutArray(rec, d::kKm3RangeCodes, range_codes, wire::kAnalogChannels);
    PutBe16(&rec[d::kKm3VrefCount], vref_count);
    PutArray(rec, d::kKm3AnalogRef, analog_ref);
  } else {
    for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
      PutBe16(&rec[d::kRawReadings + 2 * ch], ThermistorReading(ch, seconds));
    }
    PutBe16(&rec[d::kQn6RefCount], th_ref_count);
    PutArray(rec, d::kQn6SensorTypes, sensor_types);
    PutArray(rec, d::kQn6Fahrenheit, fahrenheit);
    for (int ch = 0; ch < 8; ++ch)
      rec[d::kQn6Offsets + ch] = static_cast<std::uint8_t>(offsets[ch]);
    PutBe16(&rec[d::kQn6VrefCount], vref_count);
    PutArray(rec, d::kQn6UserCurves, user_curves);
  }
  return rec;
}

Bytes Module::MeasurementBlock(std::uint8_t echo_code, double seconds) const {
  namespace d = wire::data;
  Bytes block = ReplyHeader(echo_code, wire::ACK);
  block.resize(model == Model::Km3 ? d::kKm3BlockSize : d::kQn6BlockSize);
  block[d::kDigitalOut] = digital_out;
  block[d::kDigitalIn] = digital_in;
  PutBe16(&block[d::kRssi], rssi);
  if (model == Model::Km3) {
    for (int ch = 0; ch < wire::kAnalogChannels; ++ch) {
      PutBe16(&block[d::kRawReadings + 2 * ch],
              static_cast<std::uint16_t>(AnalogReading(ch, seconds)));
    }
    block[d::kKm3SamplingMode] = sampling_mode;
    PutArray(block, d::kKm3RangeCodes, range_codes, wire::kAnalogChannels);
    PutBe16(&block[d::kKm3VrefCount], vref_count);
    PutArray(block, d::kKm3AnalogRef, analog_ref);
  } else {
    for (int ch = 0; ch < wire::kThermistorChannels; ++ch) {
      PutBe16(&block[d::kRawReadings + 2 * ch], ThermistorReading(ch, seconds));
    }
    PutBe16(&block[d::kQn6RefCount], th_ref_count);
    PutArray(block, d::kQn6SensorTypes, sensor_types);
    PutArray(block, d::kQn6Fahrenheit, fahrenheit);
    for (int ch = 0; ch < 8; ++ch) {
      block[d::kQn6Offsets + ch] = static_cast<std::uint8_t>(offsets[ch]);
    }
    PutBe16(&block[d::kQn6VrefCount], vref_count);
    PutArray(block, d::kQn6UserCurves, user_curves);
  }
  return block;
}

State Module::Snapshot() const {
  State s;
  s.model_code = model_code;
  s.address = address;
  s.sampling_mode = sampling_mode;
  s.range_codes = range_codes;
  s.sensor_types = sensor_types;
  s.fahrenheit = fahrenheit;
  s.offsets = offsets;
  s.location = config.location;
  s.locator_count = locator_count;
  s.wifi_mode = config.wifi_mode;
  s.web_key = config.web_key;
  s.thermistor_ref_count = th_ref_count;
  return s;
}

std::optional<Bytes> Module::SetLocator(const Bytes& frame, double) {
  ++locator_count;
  return ReplyHeader(frame[wire::kReplyCode], wire::ACK);
}

std::optional<Bytes> Module::GetDevice(const Bytes&, double seconds) {
  return IdentityRecord(seconds);
}

std::optional<Bytes> Module::ReadData(const Bytes& frame, double seconds) {
  return MeasurementBlock(frame[wire::kReplyCode], seconds);
}

std::optional<Bytes> Module::SetRangeConfig(const Bytes& frame, double) {
  const std::uint8_t code = frame[wire::kReplyCode];
  if (model != Model::Km3 || frame.size() < wire::kLenRangeConfig) {
    return ReplyHeader(code, wire::NAK);
  }
  sampling_mode = frame[wire::rangecfg::kSamplingMode];
  std::copy_n(frame.begin() + wire::rangecfg::kRangeCodes, range_codes.size(), range_codes.begin());
  return ReplyHeader(code, wire::ACK);
}

std::optional<Bytes> Module::SetThConfig(const Bytes& frame, double seconds) {
  const std::uint8_t code = frame[wire::kReplyCode];
  if (model != Model::Qn6 || frame.size() < wire::kLenThConfig) {
    return ReplyHeader(code, wire::NAK);
  }
  std::copy_n(frame.begin() + wire::thcfg::kSensorTypes, 8, sensor_types.begin());
  std::copy_n(frame.begin() + wire::thcfg::kFahrenheit, 8, fahrenheit.begin());
  for (int ch = 0; ch < 8; ++ch) {
    offsets[ch] = static_cast<std::int8_t>(frame[wire::thcfg::kOffsets + ch]);
  }
  return MeasurementBlock(code, seconds);
}

std::optional<Bytes> Module::CalibrateThRef(const Bytes& frame, double) {
  const std::uint8_t code = frame[wire::kReplyCode];
  if (model != Model::Qn6 || frame.size() <= wire::thref::kOption)
    return ReplyHeader(code, wire::NAK);
  if (frame[wire::thref::kOption] == wire::thref::kCalibrate) {
    th_ref_count = measured_th_ref_count;
  } else if (frame[wire::thref::kOption] == wire::thref::kResetToDefault) {
    th_ref_count = wire::kDefaultThermistorRefCount;
  } else {
    return ReplyHeader(code, wire::NAK);
  }
  Bytes reply = ReplyHeader(code, wire::ACK);
  reply.resize(wire::thref::kReplyRefCount + 2);
  PutBe16(&reply[wire::thref::kReplyRefCount], th_ref_count);
  return reply;
}

std::optional<Bytes> Module::SetWifiMode(const Bytes& frame, double) {
  const std::uint8_t code = frame[wire::kReplyCode];
  if (frame.size() < 6) return ReplyHeader(code, wire::NAK);
  config.wifi_mode = frame[5];
  reboot_requested = true;  // the new mode starts with the module
  return ReplyHeader(code, wire::ACK);
}

std::optional<Bytes> Module::SetWebKey(const Bytes& frame, double) {
  const std::uint8_t code = frame[wire::kReplyCode];
  if (frame.size() < 6 || frame.size() < 6u + frame[5]) return ReplyHeader(code, wire::NAK);
  config.web_key.assign(frame.begin() + 6, frame.begin() + 6 + frame[5]);
  return ReplyHeader(code, wire::ACK);
}

std::optional<Bytes> Module::ResetConfig(const Bytes& frame, double) {
  for (const char* name : kConfigFiles) files.Remove(name);
  config = FactoryConfig();
  reboot_requested = true;
  log.push_back("configuration reset to defaults");
  return ReplyHeader(frame[wire::kReplyCode], wire::ACK);
}

std::optional<Bytes> Module::ResetModule(const Bytes&, double) {
  reboot_requested = true;
  return std::nullopt;  // the module restarts at once; nobody waits for an answer
}

std::optional<Bytes> Module::MbportNotice(const Bytes& frame, double) {
  log.push_back("Modbus settings file noticed; it applies from the next start");
  return ReplyHeader(frame[wire::kReplyCode], wire::ACK);
}

NetworkConfig Module::FactoryConfig() const {
  NetworkConfig factory;
  if (unit != 1) {
    char name[32];
    std::snprintf(name, sizeof name, "zVK-Analog-%04d", unit);
    factory.ap_ssid = name;
    factory.location = "Lab bench " + std::to_string(unit);
  }
  return factory;
}

namespace {

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The version an image names ("zVK-FW 01.13"): major and minor, or nothing.
std::optional<std::array<std::uint8_t, 2>> ImageVersion(const Bytes& image) {
  const std::string tag = kImageVersionTag;
  const auto at = std::search(image.begin(), image.end(), tag.begin(), tag.end());
  const auto offset = static_cast<std::size_t>(at - image.begin());
  if (at == image.end() || image.size() - offset < tag.size() + 5) return std::nullopt;
  const std::uint8_t* v = image.data() + offset + tag.size();
  int digits[4];
  for (int i = 0; i < 4; ++i) digits[i] = HexDigit(v[i < 2 ? i : i + 1]);
  if (v[2] != '.' || std::find(digits, digits + 4, -1) != digits + 4) return std::nullopt;
  return std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(digits[0] * 16 + digits[1]),
                                     static_cast<std::uint8_t>(digits[2] * 16 + digits[3])};
}

}  // namespace

void Module::Boot(bool run_image) {
  if (const std::optional<Bytes> image = files.Get(kSystemImage); image && run_image) {
    if (const auto version = ImageVersion(*image)) {
      fw_major = (*version)[0];
      fw_minor = (*version)[1];
    }
  }
  const std::uint8_t wifi_mode = config.wifi_mode;
  const std::string web_key = config.web_key;
  config = FactoryConfig();
  config.wifi_mode = wifi_mode;
  config.web_key = web_key;
  const auto text = [this](const char* name, std::string& into) {
    if (auto content = files.Get(name)) into.assign(content->begin(), content->end());
  };
  text("/local/locate.cfg", config.location);
  text("/local/ap_ssid.cfg", config.ap_ssid);
  text("/local/sta_ssid.cfg", config.sta_ssid);
  // The access point has no type file: a key means WPA/WPA2.
  text("/local/ap_key.cfg", config.ap_key);
  config.ap_key_type = files.Get("/local/ap_key.cfg") ? 2 : 0;
  text("/local/sta_key.cfg", config.sta_key);
  if (auto type = files.Get("/local/sta_keyT.cfg"); type && !type->empty())
    config.sta_key_type = type->front();
  if (auto ip = files.Get("/local/sta_ip.cfg"); ip && ip->size() >= 12) {
    config.static_ip_enabled = 1;
    std::copy_n(ip->begin(), 4, config.static_ip.begin());
    std::copy_n(ip->begin() + 4, 4, config.subnet_mask.begin());
    std::copy_n(ip->begin() + 8, 4, config.gateway.begin());
  }
  if (auto port = files.Get("/local/mbport.cfg"); port && port->size() >= 4) {
    config.modbus_port = GetBe16(port->data());
    config.idle_timeout = GetBe16(port->data() + 2);
  }
  LoadCalibrationFile();
}

namespace {

using wire::filecmd::kChecksum;
using wire::filecmd::kLength;
using wire::filecmd::kName;
using wire::filecmd::kNameLength;
constexpr std::size_t kWriteNameLimit = 43;
constexpr std::size_t kDeleteNameLimit = 23;
constexpr std::size_t kImageNameLimit = 23;  // what fits the 40-byte image header

// The name of a file frame (length at byte 16, the name from byte 17); nullopt when it does not
// fit the frame or the store refuses it.
std::optional<std::string> FileName(const Bytes& frame, std::size_t limit) {
  if (frame.size() <= kNameLength) return std::nullopt;
  const std::size_t n = frame[kNameLength];
  if (n > limit || frame.size() < kName + n) return std::nullopt;
  std::string name(frame.begin() + kName, frame.begin() + kName + n);
  if (!FileStore::ValidName(name)) return std::nullopt;
  return name;
}

std::uint32_t ByteSum(const Bytes& content) {
  std::uint32_t sum = 0;
  for (const std::uint8_t b : content) sum += b;
  return sum;
}

}  // namespace

std::optional<AwaitedStream> Module::ClaimStream(double seconds) {
  std::optional<AwaitedStream> file;
  if (awaited && seconds - awaited->announced_at < kStreamWaitSeconds) file = std::move(awaited);
  awaited.reset();
  return file;
}

void Module::ExpectStream(std::string name, std::uint32_t length, std::uint32_t checksum,
                          double seconds) {
  awaited = AwaitedStream{std::move(name), length, checksum, seconds};
}

std::string Module::ReceiveStream(const AwaitedStream& file, const Bytes& content) {
  const std::uint32_t sum = ByteSum(content);
  if (content.size() != file.length || sum != file.checksum) {
    return "file " + file.name + " not stored: announced " + std::to_string(file.length) +
           " bytes with sum " + std::to_string(file.checksum) + ", received " +
           std::to_string(content.size()) + " bytes with sum " + std::to_string(sum);
  }
  if (!files.Put(file.name, content)) return "file " + file.name + " could not be stored";
  return "file " + file.name + " stored: " + std::to_string(content.size()) + " bytes";
}

std::optional<Bytes> Module::WriteFile(const Bytes& frame, double seconds) {
  const std::uint8_t code = frame[wire::kReplyCode];
  const std::optional<std::string> name = FileName(frame, kWriteNameLimit);
  if (!name) return ReplyHeader(code, wire::NAK);
  ExpectStream(*name, GetBe32(&frame[kLength]), GetBe32(&frame[kChecksum]), seconds);
  return ReplyHeader(code, wire::ACK);
}

std::optional<Bytes> Module::DeleteFile(const Bytes& frame, double) {
  const std::uint8_t code = frame[wire::kReplyCode];
  const std::optional<std::string> name = FileName(frame, kDeleteNameLimit);
  if (!name) return ReplyHeader(code, wire::NAK);
  files.Remove(*name);  // a file that is not there is as deleted as it gets
  return ReplyHeader(code, wire::ACK);
}

std::optional<Bytes> Module::UploadStagedImage(const Bytes& frame, double seconds) {
  const std::uint8_t code = frame[wire::kReplyCode];
  const std::optional<std::string> name = FileName(frame, kImageNameLimit);
  if (!name) return ReplyHeader(code, wire::NAK);
  ExpectStream(*name, GetBe32(&frame[kLength]), GetBe32(&frame[kChecksum]), seconds);
  return ReplyHeader(code, wire::ACK);
}

std::optional<Bytes> Module::GetImageChecksum(const Bytes& frame, double) {
  const std::uint8_t code = frame[wire::kReplyCode];
  const std::optional<Bytes> image = files.Get(kSystemImage);
  if (!image) return ReplyHeader(code, wire::NAK);  // no image to sum
  Bytes reply = ReplyHeader(code, wire::ACK);
  reply.resize(wire::image::kReplyChecksum + 4);
  PutBe32(&reply[wire::image::kReplyChecksum], ByteSum(*image));
  return reply;
}

std::optional<Bytes> Module::StagedImageSent(const Bytes& frame, double) {
  // The staged image is taken over without a word; only the log says how it checked.
  const std::optional<Bytes> image = files.Get(kStagedImage);
  if (!image) {
    log.push_back("staged image announced as sent, but none is stored");
  } else if (frame.size() < wire::image::kFrameChecksum + 4) {
    log.push_back("staged image sent, the frame carries no checksum");
  } else {
    const std::uint32_t told = GetBe32(&frame[wire::image::kFrameChecksum]);
    const std::uint32_t sum = ByteSum(*image);
    log.push_back(std::string("staged image sent: ") + std::to_string(image->size()) +
                  " bytes, checksum " + (told == sum ? "matches" : "differs"));
  }
  return std::nullopt;
}

// The voltage module reloads its reference file, the thermistor module its user curves.
std::optional<Bytes> Module::ReloadCalibration(const Bytes& frame, double) {
  return ReplyHeader(frame[wire::kReplyCode], LoadCalibrationFile() ? wire::ACK : wire::NAK);
}

bool Module::LoadCalibrationFile() {
  const bool km3 = model == Model::Km3;
  const std::optional<Bytes> file = files.Get(km3 ? wire::kAnalogRefFile : wire::kUserCurveFile);
  // A file that is missing or of the wrong size leaves what the module holds.
  if (!file || file->size() != (km3 ? analog_ref.size() : user_curves.size())) return false;
  std::copy(file->begin(), file->end(), km3 ? analog_ref.begin() : user_curves.begin());
  return true;
}

}  // namespace zvk::sim
