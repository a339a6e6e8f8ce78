#include "fleet/socket_wait.h"

#include <algorithm>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

namespace zvk {

namespace {

// How long a wait lasts at most while some socket can only be asked itself.
constexpr int kUnwatchableSliceMs = 10;

}  // namespace

void WaitForSockets(std::vector<SocketWait>& sockets, int timeout_ms) {
#ifdef _WIN32
  using PollEntry = WSAPOLLFD;
  constexpr short kRead = POLLRDNORM;
  constexpr short kWrite = POLLWRNORM;
#else
  using PollEntry = pollfd;
  constexpr short kRead = POLLIN;
  constexpr short kWrite = POLLOUT;
#endif
  std::vector<PollEntry> entries;
  std::vector<std::size_t> watched;  // index into sockets of each entry
  entries.reserve(sockets.size());
  bool unwatchable = false;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    SocketWait& s = sockets[i];
    s.ready = s.handle < 0;
    if (s.ready) {
      unwatchable = true;
      continue;
    }
    PollEntry e{};
#ifdef _WIN32
    e.fd = static_cast<SOCKET>(s.handle);
#else
    e.fd = static_cast<int>(s.handle);
#endif
    e.events = s.want_write ? kWrite : kRead;
    entries.push_back(e);
    watched.push_back(i);
  }
  if (unwatchable) timeout_ms = std::min(timeout_ms, kUnwatchableSliceMs);
  timeout_ms = std::max(timeout_ms, 0);
  if (entries.empty()) return;
#ifdef _WIN32
  const int n = WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), timeout_ms);
#else
  const int n = ::poll(entries.data(), entries.size(), timeout_ms);
#endif
  if (n <= 0) return;
  for (std::size_t k = 0; k < entries.size(); ++k)
    if (entries[k].revents != 0) sockets[watched[k]].ready = true;
}

}  // namespace zvk
