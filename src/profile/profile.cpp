#include "profile/profile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "admin/setup_input.h"
#include "monitor/main_form.h"
#include "state/app.h"
#include "thermistor/user_curves.h"
#include "util/byte_order.h"
#include "util/message_text.h"
#include "util/text_codec.h"

namespace zvk {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kFormat = "zVK-Analog module profile";
std::string Hex(const std::uint8_t* bytes, std::size_t n, bool upper = false) {
  static const char* lower_digits = "0123456789abcdef";
  static const char* upper_digits = "0123456789ABCDEF";
  const char* digits = upper ? upper_digits : lower_digits;
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0x0F];
  }
  return text;
}

std::string Dotted(const std::array<std::uint8_t, 4>& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

std::string ChannelName(bool voltage, int ch) {
  return (voltage ? "AI" : "TH") + std::to_string(ch);
}

// --- reading, strictly: a missing or mistyped field is an error that names it ---

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
  throw ProfileError(where + ": " + what);
}

const Json& Field(const Json& object, const char* name, const std::string& where) {
  if (!object.is_object()) Bad(where, "is not an object");
  const auto it = object.find(name);
  if (it == object.end()) Bad(where, std::string("has no \"") + name + "\"");
  return *it;
}

std::string Text(const Json& object, const char* name, const std::string& where) {
  const Json& value = Field(object, name, where);
  if (!value.is_string()) Bad(where + "." + name, "is not a text");
  return value.get<std::string>();
}

std::int64_t Whole(const Json& object, const char* name, const std::string& where, std::int64_t min,
                   std::int64_t max) {
  const Json& value = Field(object, name, where);
  if (!value.is_number_integer()) Bad(where + "." + name, "is not a whole number");
  const std::int64_t n = value.get<std::int64_t>();
  if (n < min || n > max)
    Bad(where + "." + name,
        std::to_string(n) + " is not " + std::to_string(min) + " to " + std::to_string(max));
  return n;
}

// A text as the module will hold it: it must fit its field in the module's code page.
std::string ModuleText(const Json& object, const char* name, const std::string& where,
                       std::size_t width) {
  const std::string text = Text(object, name, where);
  try {
    if (Utf8ToModuleText(text).size() > width)
      Bad(where + "." + name, "is longer than the module's " + std::to_string(width) + " bytes");
  } catch (const TextCodecError& e) {
    Bad(where + "." + name, e.what());
  }
  return text;
}

std::array<std::uint8_t, 4> Address(const Json& object, const char* name,
                                    const std::string& where) {
  const std::string text = Text(object, name, where);
  std::array<std::uint8_t, 4> bytes{};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    unsigned value = 0;
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value > 255 || next == p || next - p > 3 ||
        (i < 3 ? next == end || *next != '.' : next != end))
      Bad(where + "." + name, "'" + text + "' is not a dotted address");
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value);
    p = next + (i < 3 ? 1 : 0);
  }
  return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> HexBytes(const Json& object, const char* name,
                                     const std::string& where) {
  const std::string text = Text(object, name, where);
  if (text.size() != 2 * N)
    Bad(where + "." + name, "is not " + std::to_string(N) + " bytes in hex");
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    unsigned value = 0;
    const auto [next, ec] =
        std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, value, 16);
    if (ec != std::errc() || next != text.data() + 2 * i + 2)
      Bad(where + "." + name, "is not " + std::to_string(N) + " bytes in hex");
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  return bytes;
}

const Json& Array(const Json& object, const char* name, const std::string& where,
                  std::size_t size) {
  const Json& value = Field(object, name, where);
  if (!value.is_array() || value.size() != size)
    Bad(where + "." + name, "is not a list of " + std::to_string(size));
  return value;
}

WifiGroup GroupOf(const Json& root, const char* name, std::size_t ssid_width) {
  const Json& group = Field(root, name, "profile");
  const std::string where = std::string("profile.") + name;
  WifiGroup g;
  g.ssid = ModuleText(group, "ssid", where, ssid_width);
  g.key_type = static_cast<std::uint8_t>(Whole(group, "key_type", where, 0, 255));
  // As long as the setup window takes; the identity record reports only the first 14 bytes.
  if (group.contains("key")) g.key = ModuleText(group, "key", where, kMaxKeyBytes);
  return g;
}

Json GroupJson(const WifiGroup& g) {
  Json j{{"ssid", g.ssid}, {"key_type", g.key_type}};
  if (g.key) j["key"] = *g.key;
  return j;
}

UserCurvePoints CurvesOf(const std::array<std::uint8_t, 144>& record) {
  UserCurvePoints points;
  LoadUserCurveRecord(points, record.data());
  return points;
}

std::string CurveText(const UserCurvePoints& p, int i) {
  const auto point = [](int temp, std::int32_t tenths) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%d:%d.%d", temp, tenths / 10, std::abs(tenths % 10));
    return std::string(buf);
  };
  const auto n = static_cast<std::size_t>(i);
  return "Hi " + point(p.TempHi[n], p.ResHi[n]) + ", Mid " + point(p.TempMid[n], p.ResMid[n]) +
         ", Low " + point(p.TempLow[n], p.ResLow[n]);
}

// Whether the key a module reports is the profile's: the identity record holds 14 bytes of it,
// so a longer key matches on those.
bool KeysMatch(const std::string& reported, const std::string& file) {
  if (reported == file) return true;
  try {
    const std::string m = Utf8ToModuleText(reported), f = Utf8ToModuleText(file);
    return m.size() == wire::devinfo::kKeyWidth && f.size() > m.size() && f.starts_with(m);
  } catch (const TextCodecError&) {
    return false;
  }
}

// A group as the diff shows it; a key is never shown, only whether it differs.
std::string GroupText(const WifiGroup& g, const char* key_note) {
  if (g.IsEmpty()) return "none";
  return "SSID \"" + g.ssid + "\", key type " + std::to_string(g.key_type) + key_note;
}

std::string StaticIpText(const Profile& p) {
  return p.static_ip_enabled
             ? Dotted(p.static_ip) + " / " + Dotted(p.subnet_mask) + " / " + Dotted(p.gateway)
             : "off";
}

}  // namespace

std::string ModelShortName(std::uint8_t model_code) {
  if (model_code == wire::kModelKm3) return "zVK-KM3";
  if (model_code == wire::kModelQn6) return "zVK-QN6";
  char buf[16];
  std::snprintf(buf, sizeof buf, "model 0x%02X", unsigned{model_code});
  return buf;
}

Profile ProfileOfModule(const App& app, const MainForm& form, bool with_keys) {
  const DeviceConfig& d = app.device;
  const MeasurementState& m = app.meas;
  Profile p;
  p.model_code = d.ModelCode;
  p.model_name = form.module_state.caption;
  p.address = app.link.DeviceHost;
  p.mac = d.DevMac;
  p.firmware = d.DevFirmware.empty() ? std::string() : "V" + d.DevFirmware;
  p.rssi = d.DevRssiDbm ? std::to_string(*d.DevRssiDbm) + "dBm" : std::string();
  p.location = ModuleTextToUtf8(d.DeviceLocation);
  p.wifi_mode = d.DevWifiMode;
  p.access_point = {ModuleTextToUtf8(d.DevApSsid), d.DevApKeyType, std::nullopt};
  p.station = {ModuleTextToUtf8(d.DevStaSsid), d.DevStaKeyType, std::nullopt};
  if (with_keys) {
    p.access_point.key = ModuleTextToUtf8(d.DevApKeyType != 0 ? d.DevApKey : std::string());
    p.station.key = ModuleTextToUtf8(d.DevStaKeyType != 0 ? d.DevStaKey : std::string());
  }
  p.static_ip_enabled = d.DevStaticIpEnabled;
  p.static_ip = d.DevStaticIp;
  p.subnet_mask = d.DevSubnetMask;
  p.gateway = d.DevGateway;
  p.modbus_port = d.DevModbusPort;
  p.idle_timeout = d.DevIdleTimeout;
  if (p.IsVoltageModule()) {
    p.sampling_mode = m.SamplingMode;
    std::copy_n(m.RangeCode.begin(), p.ranges.size(), p.ranges.begin());
    std::copy(m.AnalogRefBlock.begin(), m.AnalogRefBlock.end(), p.analog_ref_block.begin());
  } else {
    p.reference_count = m.ThermistorRefCount;
    p.sensor_types = m.SensorType;
    p.fahrenheit = m.Fahrenheit;
    p.offsets = m.TempOffset;
    const auto record = SerializeUserCurves(app.curves);
    std::copy(record.begin(), record.end(), p.user_curves.begin());
  }
  return p;
}

std::string ProfileToJson(const Profile& p) {
  Json j;
  j["format"] = kFormat;
  j["version"] = kProfileVersion;
  j["model"] = ModelShortName(p.model_code);
  Json reported{{"model", p.model_name},
                {"address", p.address},
                {"mac", p.mac},
                {"firmware", p.firmware},
                {"rssi", p.rssi}};
  if (!p.IsVoltageModule()) reported["reference_count"] = p.reference_count;
  j["reported"] = reported;
  j["location"] = p.location;
  j["wifi_mode"] = p.wifi_mode != 0 ? "ap" : "station";
  j["access_point"] = GroupJson(p.access_point);
  j["station"] = GroupJson(p.station);
  j["static_ip"] = {{"enabled", p.static_ip_enabled},
                    {"address", Dotted(p.static_ip)},
                    {"mask", Dotted(p.subnet_mask)},
                    {"gateway", Dotted(p.gateway)}};
  j["modbus"] = {{"port", p.modbus_port}, {"idle_timeout", p.idle_timeout}};
  Json channels = Json::array();
  if (p.IsVoltageModule()) {
    j["sampling"] = p.sampling_mode != 0 ? "fast" : "normal";
    for (int ch = 0; ch < wire::kAnalogChannels; ++ch)
      channels.push_back(
          {{"channel", ChannelName(true, ch)}, {"range", p.ranges[static_cast<std::size_t>(ch)]}});
    j["channels"] = channels;
    j["analog_reference_block"] = Hex(p.analog_ref_block.data(), p.analog_ref_block.size());
  } else {
    for (std::size_t ch = 0; ch < 8; ++ch)
      channels.push_back({{"channel", ChannelName(false, static_cast<int>(ch))},
                          {"sensor_type", Hex(&p.sensor_types[ch], 1, true)},
                          {"unit", p.fahrenheit[ch] != 0 ? "F" : "C"},
                          {"offset", p.offsets[ch]}});
    j["channels"] = channels;
    const UserCurvePoints c = CurvesOf(p.user_curves);
    Json curves = Json::array();
    for (std::size_t i = 0; i < 8; ++i) {
      const auto point = [](int temp, std::int32_t tenths) {
        return Json{{"celsius", temp}, {"tenths_of_ohm", tenths}};
      };
      curves.push_back({{"curve", i},
                        {"hi", point(c.TempHi[i], c.ResHi[i])},
                        {"mid", point(c.TempMid[i], c.ResMid[i])},
                        {"low", point(c.TempLow[i], c.ResLow[i])}});
    }
    j["user_curves"] = curves;
  }
  return j.dump(2) + "\n";
}

Profile ProfileFromJson(std::string_view text) {
  Json j;
  // A name given twice in one object would leave one of its values unseen: refused, not chosen.
  std::vector<std::set<std::string>> names;
  std::optional<std::string> twice;
  const Json::parser_callback_t names_once = [&names, &twice](int, Json::parse_event_t event,
                                                              Json& parsed) {
    if (event == Json::parse_event_t::object_start) {
      names.emplace_back();
    } else if (event == Json::parse_event_t::object_end) {
      if (!names.empty()) names.pop_back();
    } else if (event == Json::parse_event_t::key && !names.empty() && parsed.is_string()) {
      if (!names.back().insert(parsed.get<std::string>()).second && !twice)
        twice = parsed.get<std::string>();
    }
    return true;
  };
  try {
    j = Json::parse(text.begin(), text.end(), names_once);
  } catch (const Json::parse_error& e) {
    throw ProfileError(std::string("not JSON: ") + e.what());
  }
  // The name as JSON writes it: a control character in it stays escaped.
  if (twice)
    throw ProfileError("the name " + Json(ShortenedForMessage(*twice)).dump() +
                       " appears twice in one object");
  const std::string root = "profile";
  if (!j.is_object() || !j.contains("format") || j["format"] != kFormat)
    throw ProfileError(std::string("not a module profile (no \"format\": \"") + kFormat + "\")");
  const std::int64_t version = Whole(j, "version", root, 1, 1'000'000);
  if (version != kProfileVersion)
    throw ProfileError("profile version " + std::to_string(version) + "; this program reads " +
                       std::to_string(kProfileVersion));
  Profile p;
  const std::string model = Text(j, "model", root);
  if (model == ModelShortName(wire::kModelKm3))
    p.model_code = wire::kModelKm3;
  else if (model == ModelShortName(wire::kModelQn6))
    p.model_code = wire::kModelQn6;
  else
    Bad(root + ".model", "'" + model + "' is not a known model");

  // The reported part is informative: read what is there, require nothing of it.
  if (j.contains("reported") && j["reported"].is_object()) {
    const Json& r = j["reported"];
    const auto text_of = [&r](const char* name) {
      return r.contains(name) && r[name].is_string() ? r[name].get<std::string>() : std::string();
    };
    p.model_name = text_of("model");
    p.address = text_of("address");
    p.mac = text_of("mac");
    p.firmware = text_of("firmware");
    p.rssi = text_of("rssi");
    if (r.contains("reference_count") && r["reference_count"].is_number_unsigned() &&
        r["reference_count"].get<std::uint64_t>() <= 0xFFFF)
      p.reference_count = r["reference_count"].get<std::uint16_t>();
  }

  namespace d = wire::devinfo;
  p.location = ModuleText(j, "location", root, d::kLocationWidth);
  const std::string mode = Text(j, "wifi_mode", root);
  if (mode != "ap" && mode != "station") Bad(root + ".wifi_mode", "is \"ap\" or \"station\"");
  p.wifi_mode = mode == "ap" ? 1 : 0;
  p.access_point = GroupOf(j, "access_point", d::kSsidWidth);
  p.station = GroupOf(j, "station", d::kSsidWidth);
  const Json& ip = Field(j, "static_ip", root);
  const Json& enabled = Field(ip, "enabled", root + ".static_ip");
  if (!enabled.is_boolean()) Bad(root + ".static_ip.enabled", "is not true or false");
  p.static_ip_enabled = enabled.get<bool>();
  p.static_ip = Address(ip, "address", root + ".static_ip");
  p.subnet_mask = Address(ip, "mask", root + ".static_ip");
  p.gateway = Address(ip, "gateway", root + ".static_ip");
  const Json& modbus = Field(j, "modbus", root);
  p.modbus_port = static_cast<std::uint32_t>(Whole(modbus, "port", root + ".modbus", 0, 65535));
  p.idle_timeout =
      static_cast<std::uint32_t>(Whole(modbus, "idle_timeout", root + ".modbus", 0, 65535));

  const bool voltage = p.IsVoltageModule();
  const Json& channels =
      Array(j, "channels", root, voltage ? wire::kAnalogChannels : wire::kThermistorChannels);
  for (std::size_t ch = 0; ch < channels.size(); ++ch) {
    const std::string where = root + ".channels[" + std::to_string(ch) + "]";
    if (Text(channels[ch], "channel", where) != ChannelName(voltage, static_cast<int>(ch)))
      Bad(where + ".channel", "is not " + ChannelName(voltage, static_cast<int>(ch)));
    if (voltage) {
      p.ranges[ch] = static_cast<std::uint8_t>(Whole(channels[ch], "range", where, 0, 3));
      continue;
    }
    const auto type = HexBytes<1>(channels[ch], "sensor_type", where);
    p.sensor_types[ch] = type[0];
    const std::string unit = Text(channels[ch], "unit", where);
    if (unit != "C" && unit != "F") Bad(where + ".unit", "is \"C\" or \"F\"");
    p.fahrenheit[ch] = unit == "F" ? 1 : 0;
    p.offsets[ch] = static_cast<std::int8_t>(Whole(channels[ch], "offset", where, -128, 127));
  }
  if (voltage) {
    const std::string sampling = Text(j, "sampling", root);
    if (sampling != "normal" && sampling != "fast")
      Bad(root + ".sampling", "is \"normal\" or \"fast\"");
    p.sampling_mode = sampling == "fast" ? 1 : 0;
    p.analog_ref_block = HexBytes<wire::kAnalogRefBlockSize>(j, "analog_reference_block", root);
  } else {
    const Json& curves = Array(j, "user_curves", root, 8);
    UserCurvePoints c;
    for (std::size_t i = 0; i < 8; ++i) {
      const std::string where = root + ".user_curves[" + std::to_string(i) + "]";
      if (Whole(curves[i], "curve", where, 0, 7) != static_cast<std::int64_t>(i))
        Bad(where + ".curve", "is not " + std::to_string(i));
      const auto point = [&](const char* name, std::int16_t& temp, std::int32_t& tenths) {
        const Json& pt = Field(curves[i], name, where);
        const std::string at = where + "." + name;
        temp = static_cast<std::int16_t>(Whole(pt, "celsius", at, -32768, 32767));
        tenths =
            static_cast<std::int32_t>(Whole(pt, "tenths_of_ohm", at, -2147483648LL, 2147483647LL));
      };
      point("hi", c.TempHi[i], c.ResHi[i]);
      point("mid", c.TempMid[i], c.ResMid[i]);
      point("low", c.TempLow[i], c.ResLow[i]);
    }
    const auto record = SerializeUserCurves(c);
    std::copy(record.begin(), record.end(), p.user_curves.begin());
  }
  return p;
}

bool Profile::UserCurveUndefined(int curve) const {
  const UserCurvePoints c = CurvesOf(user_curves);
  const auto i = static_cast<std::size_t>(curve);
  return c.ResHi[i] == 0 && c.ResMid[i] == 0 && c.ResLow[i] == 0;
}

std::vector<std::string> ProfileProblems(const Profile& p) {
  std::vector<std::string> problems;
  const auto bad = [&problems](const std::string& where, const std::string& why) {
    problems.push_back("profile." + where + ": " + why);
  };
  const auto range = [](std::int64_t min, std::int64_t max) {
    return "is not " + std::to_string(min) + " to " + std::to_string(max);
  };
  // A text as the setup window takes it: min to max bytes in the module's code, no control
  // character.
  const auto text = [&](const std::string& where, const std::string& utf8, std::size_t min,
                        std::size_t max) {
    std::string bytes;
    try {
      bytes = Utf8ToModuleText(utf8);
    } catch (const TextCodecError& e) {
      return bad(where, e.what());
    }
    if (HasControlCharacter(bytes))
      return bad(where, "holds a control character (line break, tab, escape ...)");
    if (bytes.size() < min || bytes.size() > max)
      bad(where, "is " + std::to_string(bytes.size()) + " bytes in the module's code, not " +
                     std::to_string(min) + " to " + std::to_string(max));
  };
  const auto key = [&](const std::string& where, const WifiGroup& g) {
    if (g.key_type != 0 && g.key) text(where + ".key", *g.key, kMinKeyBytes, kMaxKeyBytes);
  };

  text("location", p.location, 1, kMaxLocationBytes);
  text("access_point.ssid", p.access_point.ssid, 1, kMaxSsidBytes);
  if (p.access_point.key_type != 0 && p.access_point.key_type != 2)
    bad("access_point.key_type", std::to_string(p.access_point.key_type) +
                                     " is not 0 (open) or 2 (WPA/WPA2), the types of an access "
                                     "point");
  key("access_point", p.access_point);
  // A station never set up is restored as none; anything else as the setup window takes it.
  if (!p.station.IsEmpty()) {
    text("station.ssid", p.station.ssid, 1, kMaxSsidBytes);
    if (p.station.key_type > 2)
      bad("station.key_type",
          std::to_string(p.station.key_type) + " is not 0 (open), 1 (WEP) or 2 (WPA/WPA2)");
    key("station", p.station);
  }
  if (p.modbus_port == wire::kDefaultPort || p.modbus_port == kWebServerPort)
    bad("modbus.port", std::to_string(p.modbus_port) + " is the module's own command or web port");
  else if (p.modbus_port < 1 || p.modbus_port > 65535)
    bad("modbus.port", std::to_string(p.modbus_port) + " " + range(1, 65535));
  if (p.idle_timeout < 1 || p.idle_timeout > static_cast<std::uint32_t>(kMaxIdleTimeout))
    bad("modbus.idle_timeout", std::to_string(p.idle_timeout) + " " + range(1, kMaxIdleTimeout));
  if (p.IsVoltageModule()) return problems;

  for (std::size_t ch = 0; ch < p.offsets.size(); ++ch)
    if (p.offsets[ch] < kMinTempOffset || p.offsets[ch] > kMaxTempOffset)
      bad("channels[" + std::to_string(ch) + "].offset",
          std::to_string(p.offsets[ch]) + " " + range(kMinTempOffset, kMaxTempOffset));
  const UserCurvePoints c = CurvesOf(p.user_curves);
  for (int i = 0; i < 8; ++i) {
    if (p.UserCurveUndefined(i)) continue;
    const auto n = static_cast<std::size_t>(i);
    const std::pair<const char*, std::int32_t> points[] = {
        {"hi", c.ResHi[n]}, {"mid", c.ResMid[n]}, {"low", c.ResLow[n]}};
    for (const auto& [name, tenths] : points)
      if (tenths <= 0)
        bad("user_curves[" + std::to_string(i) + "]." + name + ".tenths_of_ohm",
            std::to_string(tenths) +
                " is not above 0 (only a curve never defined has all three resistances 0)");
  }
  return problems;
}

std::vector<ProfileChange> DiffProfiles(const Profile& module, const Profile& file) {
  std::vector<ProfileChange> changes;
  const auto note = [&changes](std::string setting, std::string from, std::string to) {
    if (from != to) changes.push_back({std::move(setting), std::move(from), std::move(to)});
  };
  note("location", "\"" + module.location + "\"", "\"" + file.location + "\"");
  const auto group = [&](const char* name, const WifiGroup& m, const WifiGroup& f) {
    // The key counts only for a keyed group whose key the profile holds.
    const bool key_differs = f.key_type != 0 && f.key &&
                             !(m.key_type == f.key_type && m.key && KeysMatch(*m.key, *f.key));
    const std::string from = GroupText(m, key_differs && m.key_type != 0 ? ", another key" : "");
    const std::string to = GroupText(f, key_differs ? ", the profile's key" : "");
    if (from != to || key_differs) changes.push_back({name, from, to});
  };
  group("access point", module.access_point, file.access_point);
  group("station", module.station, file.station);
  note("static IP", StaticIpText(module), StaticIpText(file));
  note("Modbus",
       "port " + std::to_string(module.modbus_port) + ", idle timeout " +
           std::to_string(module.idle_timeout),
       "port " + std::to_string(file.modbus_port) + ", idle timeout " +
           std::to_string(file.idle_timeout));
  const bool voltage = file.IsVoltageModule();
  if (voltage) {
    const auto sampling = [](const Profile& p) { return p.sampling_mode != 0 ? "fast" : "normal"; };
    note("sampling", sampling(module), sampling(file));
    for (std::size_t ch = 0; ch < module.ranges.size(); ++ch)
      note(ChannelName(true, static_cast<int>(ch)) + " range", std::to_string(module.ranges[ch]),
           std::to_string(file.ranges[ch]));
    if (module.analog_ref_block != file.analog_ref_block) {
      std::size_t differ = 0;
      for (std::size_t i = 0; i < file.analog_ref_block.size(); ++i)
        differ += module.analog_ref_block[i] != file.analog_ref_block[i];
      changes.push_back({"analog reference block", std::to_string(differ) + " bytes differ",
                         "the profile's 160 bytes"});
    }
  } else {
    for (std::size_t ch = 0; ch < 8; ++ch) {
      const std::string name = ChannelName(false, static_cast<int>(ch));
      note(name + " sensor type", Hex(&module.sensor_types[ch], 1, true),
           Hex(&file.sensor_types[ch], 1, true));
      note(name + " unit", module.fahrenheit[ch] != 0 ? "F" : "C",
           file.fahrenheit[ch] != 0 ? "F" : "C");
      note(name + " offset", std::to_string(module.offsets[ch]), std::to_string(file.offsets[ch]));
    }
    const UserCurvePoints m = CurvesOf(module.user_curves), f = CurvesOf(file.user_curves);
    for (int i = 0; i < 8; ++i)
      note("user curve " + std::to_string(i), CurveText(m, i), CurveText(f, i));
  }
  // Last: switching the Wi-Fi mode restarts the module.
  note("Wi-Fi mode", module.wifi_mode != 0 ? "ap" : "station",
       file.wifi_mode != 0 ? "ap" : "station");
  return changes;
}

}  // namespace zvk
