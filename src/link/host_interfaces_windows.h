// Host interfaces on Windows: IPv4 adapters from GetAdaptersAddresses, wireless interfaces from
// the native Wi-Fi API; the identifier that pairs the two is the adapter's GUID in braces. The
// reader's decisions sit over a small interface of those calls, as plain data, so that they are
// tested with a fake on every platform. No Windows header here.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/host_interfaces.h"

namespace zvk {

// The system codes the reader tells apart.
inline constexpr std::uint32_t kWinNoError = 0;           // NO_ERROR, ERROR_SUCCESS
inline constexpr std::uint32_t kWinBufferOverflow = 111;  // ERROR_BUFFER_OVERFLOW
inline constexpr std::uint32_t kWinNoData = 232;          // ERROR_NO_DATA
inline constexpr int kWlanStateConnected = 1;             // wlan_interface_state_connected

struct WinGuid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
};

// What one entry of the adapter list carries for the reader.
struct WinAdapter {
  std::string adapter_name;  // the GUID in braces, as the system reports it
  std::string first_ipv4;    // dotted text of the first unicast address; empty when none
  int prefix_length = -1;    // its on-link prefix length; -1 when none
  bool up = true;            // operational status up
  bool loopback = false;     // the software loopback interface
};

struct WinWlanInterface {
  WinGuid guid;
  int state = 0;  // a WLAN_INTERFACE_STATE value
};

// The Windows calls the reader makes.
class WindowsNetApi {
 public:
  virtual ~WindowsNetApi() = default;
  // GetAdaptersAddresses for IPv4 with a buffer of `buffer_size` bytes: the system code. With
  // kWinBufferOverflow, *needed is the size the system asked for; with kWinNoError, *adapters
  // holds the list in the system's order.
  virtual std::uint32_t QueryAdapters(std::uint32_t buffer_size, std::uint32_t* needed,
                                      std::vector<WinAdapter>* adapters) = 0;
  // The system's text for a code.
  virtual std::string MessageFor(std::uint32_t code) = 0;
  // WlanOpenHandle and WlanEnumInterfaces: the code of the first that failed, or kWinNoError
  // with the interfaces in *interfaces.
  virtual std::uint32_t QueryWlanInterfaces(std::vector<WinWlanInterface>* interfaces) = 0;
};

// "{4D36E972-E325-11CE-BFC1-08002BE10318}": the form the adapter list names adapters in.
std::string GuidText(const WinGuid& guid);

class WindowsHostInterfaces final : public HostInterfaces {
 public:
  static constexpr std::uint32_t kInitialAdapterBuffer = 15000;
  static constexpr int kMaxAdapterQueries = 3;

  explicit WindowsHostInterfaces(std::unique_ptr<WindowsNetApi> api);

  // The adapter names in upper case, so they pair with the wireless interfaces' GUID text
  // whatever case the system reports them in. The buffer grows to the size the system asks for,
  // up to three queries; ERROR_NO_DATA is an empty list; any other failure is nullopt with the
  // system's text.
  std::optional<std::vector<AdapterInfo>> Adapters(std::string* error) override;
  // nullopt when the Wi-Fi service cannot be opened or asked (no service, no Wi-Fi hardware);
  // connected only in the connected state, not while associating or authenticating.
  std::optional<std::vector<WirelessInterface>> Wireless() override;

 private:
  std::unique_ptr<WindowsNetApi> api_;
};

#ifdef _WIN32
// The real calls. The Native Wi-Fi library is loaded from the system folder at the first
// wireless scan; when it is missing the scan fails as with the service stopped.
std::unique_ptr<WindowsNetApi> MakeSystemWindowsNetApi(
    const std::wstring& wlan_library = L"wlanapi.dll");
#endif

}  // namespace zvk
