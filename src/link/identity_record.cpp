#include "link/identity_record.h"

#include <algorithm>
#include <cstdio>

#include "link/wire.h"
#include "util/byte_order.h"

namespace zvk {

namespace {

std::string Hex2(std::uint8_t v) {
  char buf[3];
  std::snprintf(buf, sizeof buf, "%02X", v);
  return buf;
}

}  // namespace

std::string FieldText(const std::uint8_t* field, std::size_t width) {
  const std::uint8_t* end = std::find(field, field + width, 0);
  return std::string(reinterpret_cast<const char*>(field), static_cast<std::size_t>(end - field));
}

IdentityRecord ReadIdentityRecord(const std::uint8_t* r) {
  namespace d = wire::devinfo;
  IdentityRecord rec;
  rec.model_code = r[d::kModel];
  // The address travels last octet first.
  rec.address = std::to_string(r[d::kAddress + 3]) + "." + std::to_string(r[d::kAddress + 2]) +
                "." + std::to_string(r[d::kAddress + 1]) + "." + std::to_string(r[d::kAddress]);
  for (std::size_t i = 0; i < 6; ++i) rec.mac += (i ? ":" : "") + Hex2(r[d::kMac + i]);
  rec.firmware = Hex2(r[d::kFwMajor]) + "." + Hex2(r[d::kFwMinor]);
  rec.location = FieldText(r + d::kLocation, d::kLocationWidth);
  rec.ap_ssid = FieldText(r + d::kApSsid, d::kSsidWidth);
  rec.ap_key_type = r[d::kApKeyType];
  if (rec.ap_key_type != 0) rec.ap_key = FieldText(r + d::kApKey, d::kKeyWidth);
  rec.sta_ssid = FieldText(r + d::kStaSsid, d::kSsidWidth);
  rec.sta_key_type = r[d::kStaKeyType];
  if (rec.sta_key_type != 0) rec.sta_key = FieldText(r + d::kStaKey, d::kKeyWidth);
  rec.wifi_mode = r[d::kWifiMode];
  rec.modbus_port = GetBe16(r + d::kModbusPort);
  rec.static_ip_enabled = r[d::kStaticIpEnabled] != 0;
  std::copy_n(r + d::kStaticIp, 4, rec.static_ip.begin());
  std::copy_n(r + d::kSubnetMask, 4, rec.subnet_mask.begin());
  std::copy_n(r + d::kGateway, 4, rec.gateway.begin());
  rec.rssi_raw = GetBe16(r + d::kRssi);
  rec.idle_timeout = GetBe16(r + d::kIdleTimeout);
  return rec;
}

}  // namespace zvk
