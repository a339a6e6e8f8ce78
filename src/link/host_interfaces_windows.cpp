#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Order matters: winsock2.h before windows.h, and iphlpapi.h and wlanapi.h after both.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <wlanapi.h>
// clang-format on

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/host_interfaces.h"

#ifdef _MSC_VER
#pragma comment(lib, "ws2_32.lib")
#pragma comment(lib, "iphlpapi.lib")
#pragma comment(lib, "wlanapi.lib")
#pragma comment(lib, "ole32.lib")
#endif

namespace zvk {

namespace {

constexpr ULONG kInitialAdapterBuffer = 15000;
constexpr int kMaxAdapterQueries = 3;
constexpr DWORD kWlanClientVersion = 2;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using AdapterBuffer = std::unique_ptr<IP_ADAPTER_ADDRESSES, FreeDeleter>;

class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    ok_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (ok_) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// The system's text for an error code, without the trailing line break.
std::string SystemMessage(DWORD code) {
  LPSTR text = nullptr;
  DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
      nullptr);
  std::string message;
  if (length != 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(code);
  return message;
}

std::string DottedAddress(const IP_ADAPTER_UNICAST_ADDRESS* unicast) {
  if (unicast == nullptr || unicast->Address.lpSockaddr == nullptr) return {};
  if (unicast->Address.lpSockaddr->sa_family != AF_INET) return {};
  char host[512] = {};
  if (::getnameinfo(unicast->Address.lpSockaddr, unicast->Address.iSockaddrLength, host,
                    sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
    return {};
  return host;
}

// Wide GUID text ("{XXXXXXXX-...}") to narrow; the characters are all ASCII.
std::string GuidText(const GUID& guid) {
  wchar_t wide[39] = {};
  int written = ::StringFromGUID2(guid, wide, 39);  // counts the terminating null
  std::string text;
  for (int i = 0; i + 1 < written; ++i) text.push_back(static_cast<char>(wide[i]));
  return text;
}

struct WlanHandleCloser {
  void operator()(HANDLE h) const { ::WlanCloseHandle(h, nullptr); }
};
struct WlanMemoryFreer {
  void operator()(void* p) const { ::WlanFreeMemory(p); }
};

}  // namespace

class WindowsHostInterfaces final : public HostInterfaces {
 public:
  std::optional<std::vector<AdapterInfo>> Adapters(std::string* error) override {
    WinsockSession winsock;
    if (!winsock.ok()) {
      if (error) *error = "WSAStartup failed";
      return std::nullopt;
    }

    ULONG size = kInitialAdapterBuffer;
    AdapterBuffer buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int call = 0; call < kMaxAdapterQueries && rc == ERROR_BUFFER_OVERFLOW; ++call) {
      buffer.reset();  // free before asking again with the size the call returned
      buffer.reset(static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(size)));
      if (!buffer) {
        if (error) *error = "out of memory for the adapter list";
        return std::nullopt;
      }
      rc = ::GetAdaptersAddresses(AF_INET, GAA_FLAG_INCLUDE_PREFIX, nullptr, buffer.get(), &size);
    }
    if (rc == ERROR_NO_DATA) return std::vector<AdapterInfo>{};
    if (rc != NO_ERROR) {
      if (error) *error = SystemMessage(rc);
      return std::nullopt;
    }

    std::vector<AdapterInfo> adapters;
    for (const IP_ADAPTER_ADDRESSES* a = buffer.get(); a != nullptr; a = a->Next) {
      adapters.push_back({a->AdapterName != nullptr ? a->AdapterName : std::string(),
                          DottedAddress(a->FirstUnicastAddress)});
    }
    return adapters;
  }

  std::optional<std::vector<WirelessInterface>> Wireless() override {
    DWORD negotiated = 0;
    HANDLE raw_client = nullptr;
    if (::WlanOpenHandle(kWlanClientVersion, nullptr, &negotiated, &raw_client) != ERROR_SUCCESS)
      return std::nullopt;
    std::unique_ptr<void, WlanHandleCloser> client(raw_client);

    PWLAN_INTERFACE_INFO_LIST raw_list = nullptr;
    if (::WlanEnumInterfaces(raw_client, nullptr, &raw_list) != ERROR_SUCCESS) return std::nullopt;
    std::unique_ptr<WLAN_INTERFACE_INFO_LIST, WlanMemoryFreer> list(raw_list);

    std::vector<WirelessInterface> result;
    result.reserve(list->dwNumberOfItems);
    const WLAN_INTERFACE_INFO* items = list->InterfaceInfo;
    for (DWORD i = 0; i < list->dwNumberOfItems; ++i) {
      result.push_back(
          {GuidText(items[i].InterfaceGuid), items[i].isState == wlan_interface_state_connected});
    }
    return result;
  }
};

std::unique_ptr<HostInterfaces> MakePlatformHostInterfaces() {
  return std::make_unique<WindowsHostInterfaces>();
}

}  // namespace zvk

#endif  // _WIN32
