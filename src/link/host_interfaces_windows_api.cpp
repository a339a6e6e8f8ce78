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

// The Native Wi-Fi functions, looked up at run time: a Windows without the wireless service
// has no wlanapi.dll, and a program that imported it would not start there at all.
class WlanLibrary {
 public:
  explicit WlanLibrary(const std::wstring& name)
      : module_(::LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (module_ == nullptr) return;
    Find(open_, "WlanOpenHandle");
    Find(enumerate_, "WlanEnumInterfaces");
    Find(free_memory_, "WlanFreeMemory");
    Find(close_, "WlanCloseHandle");
  }
  ~WlanLibrary() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  WlanLibrary(const WlanLibrary&) = delete;
  WlanLibrary& operator=(const WlanLibrary&) = delete;

  bool loaded() const { return open_ && enumerate_ && free_memory_ && close_; }

  decltype(&::WlanOpenHandle) open_ = nullptr;
  decltype(&::WlanEnumInterfaces) enumerate_ = nullptr;
  decltype(&::WlanFreeMemory) free_memory_ = nullptr;
  decltype(&::WlanCloseHandle) close_ = nullptr;

 private:
  template <typename Function>
  void Find(Function& function, const char* name) {
    // GetProcAddress gives every function one generic type; the name fixes the real one.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

  HMODULE module_;
};

class SystemWindowsNetApi final : public WindowsNetApi {
 public:
  explicit SystemWindowsNetApi(std::wstring wlan_library) : wlan_name_(std::move(wlan_library)) {}

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
    if (!wlan_) wlan_ = std::make_unique<WlanLibrary>(wlan_name_);
    // No library: the wireless service is not there, as when it cannot be opened.
    if (!wlan_->loaded()) return ERROR_SERVICE_NOT_ACTIVE;
    const WlanLibrary& wlan = *wlan_;
    DWORD negotiated = 0;
    HANDLE raw_client = nullptr;
    if (const DWORD code = wlan.open_(kWlanClientVersion, nullptr, &negotiated, &raw_client);
        code != ERROR_SUCCESS) {
      return code;
    }
    const auto close = [&wlan](HANDLE h) { wlan.close_(h, nullptr); };
    std::unique_ptr<void, decltype(close)> client(raw_client, close);
    PWLAN_INTERFACE_INFO_LIST raw_list = nullptr;
    if (const DWORD code = wlan.enumerate_(raw_client, nullptr, &raw_list); code != ERROR_SUCCESS) {
      return code;
    }
    const auto free_list = [&wlan](WLAN_INTERFACE_INFO_LIST* p) { wlan.free_memory_(p); };
    std::unique_ptr<WLAN_INTERFACE_INFO_LIST, decltype(free_list)> list(raw_list, free_list);
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

 private:
  std::wstring wlan_name_;
  std::unique_ptr<WlanLibrary> wlan_;  // loaded at the first wireless scan
};

}  // namespace

std::unique_ptr<WindowsNetApi> MakeSystemWindowsNetApi(const std::wstring& wlan_library) {
  return std::make_unique<SystemWindowsNetApi>(wlan_library);
}

std::unique_ptr<HostInterfaces> MakePlatformHostInterfaces() {
  return std::make_unique<WindowsHostInterfaces>(MakeSystemWindowsNetApi());
}

}  // namespace zvk

#endif  // _WIN32
