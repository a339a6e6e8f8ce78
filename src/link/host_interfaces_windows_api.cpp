// The Windows calls under the host-interface reader (host_interfaces_windows.h).
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
#include <wlanapi.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/host_interfaces_windows.h"

#ifdef _MSC_VER
#pragma comment(lib, "ws2_32.lib")
#pragma comment(lib, "iphlpapi.lib")
#pragma comment(lib, "wlanapi.lib")
#endif

namespace zvk {

static_assert(kWinNoError == NO_ERROR && kWinNoError == ERROR_SUCCESS);
static_assert(kWinBufferOverflow == ERROR_BUFFER_OVERFLOW);
static_assert(kWinNoData == ERROR_NO_DATA);
static_assert(kWlanStateConnected == wlan_interface_state_connected);

namespace {

constexpr DWORD kWlanClientVersion = 2;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

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

 private:
  bool ok_ = false;
};

std::string DottedAddress(const IP_ADAPTER_UNICAST_ADDRESS* unicast) {
  if (unicast == nullptr || unicast->Address.lpSockaddr == nullptr) return {};
  if (unicast->Address.lpSockaddr->sa_family != AF_INET) return {};
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(unicast->Address.lpSockaddr, unicast->Address.iSockaddrLength, host,
                    sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
    return {};
  return host;
}

struct WlanHandleCloser {
  void operator()(HANDLE h) const { ::WlanCloseHandle(h, nullptr); }
};
struct WlanMemoryFreer {
  void operator()(void* p) const { ::WlanFreeMemory(p); }
};

class SystemWindowsNetApi final : public WindowsNetApi {
 public:
  std::uint32_t QueryAdapters(std::uint32_t buffer_size, std::uint32_t* needed,
                              std::vector<WinAdapter>* adapters) override {
    std::unique_ptr<IP_ADAPTER_ADDRESSES, FreeDeleter> buffer(
        static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(buffer_size)));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    ULONG size = buffer_size;
    const ULONG code =
        ::GetAdaptersAddresses(AF_INET, GAA_FLAG_INCLUDE_PREFIX, nullptr, buffer.get(), &size);
    *needed = size;
    if (code != NO_ERROR) return code;
    WinsockSession winsock;  // getnameinfo needs it
    for (const IP_ADAPTER_ADDRESSES* a = buffer.get(); a != nullptr; a = a->Next) {
      WinAdapter entry{a->AdapterName != nullptr ? a->AdapterName : std::string(),
                       DottedAddress(a->FirstUnicastAddress)};
      if (a->FirstUnicastAddress != nullptr)
        entry.prefix_length = a->FirstUnicastAddress->OnLinkPrefixLength;
      entry.up = a->OperStatus == IfOperStatusUp;
      entry.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      adapters->push_back(std::move(entry));
    }
    return NO_ERROR;
  }

  std::string MessageFor(std::uint32_t code) override {
    LPSTR text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        nullptr);
    std::string message;
    if (length != 0 && text != nullptr) message.assign(text, length);
    if (text != nullptr) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
      message.pop_back();
    }
    if (message.empty()) message = "error " + std::to_string(code);
    return message;
  }

  std::uint32_t QueryWlanInterfaces(std::vector<WinWlanInterface>* interfaces) override {
    DWORD negotiated = 0;
    HANDLE raw_client = nullptr;
    if (const DWORD code = ::WlanOpenHandle(kWlanClientVersion, nullptr, &negotiated, &raw_client);
        code != ERROR_SUCCESS) {
      return code;
    }
    std::unique_ptr<void, WlanHandleCloser> client(raw_client);
    PWLAN_INTERFACE_INFO_LIST raw_list = nullptr;
    if (const DWORD code = ::WlanEnumInterfaces(raw_client, nullptr, &raw_list);
        code != ERROR_SUCCESS) {
      return code;
    }
    std::unique_ptr<WLAN_INTERFACE_INFO_LIST, WlanMemoryFreer> list(raw_list);
    for (DWORD i = 0; i < list->dwNumberOfItems; ++i) {
      const WLAN_INTERFACE_INFO& item = list->InterfaceInfo[i];
      WinWlanInterface w;
      w.guid.data1 = item.InterfaceGuid.Data1;
      w.guid.data2 = item.InterfaceGuid.Data2;
      w.guid.data3 = item.InterfaceGuid.Data3;
      std::memcpy(w.guid.data4.data(), item.InterfaceGuid.Data4, w.guid.data4.size());
      w.state = static_cast<int>(item.isState);
      interfaces->push_back(w);
    }
    return ERROR_SUCCESS;
  }
};

}  // namespace

std::unique_ptr<WindowsNetApi> MakeSystemWindowsNetApi() {
  return std::make_unique<SystemWindowsNetApi>();
}

std::unique_ptr<HostInterfaces> MakePlatformHostInterfaces() {
  return std::make_unique<WindowsHostInterfaces>(MakeSystemWindowsNetApi());
}

}  // namespace zvk

#endif  // _WIN32
