// Waiting on many sockets at once (poll, WSAPoll), so a scan keeps hundreds of connects and
// replies in flight on one thread.
#pragma once

#include <cstdint>
#include <vector>

namespace zvk {

struct SocketWait {
  std::int64_t handle = -1;  // TcpSocket::PollHandle; -1: the socket must be asked itself
  bool want_write = false;   // connecting: writable once the connect has finished either way
  bool ready = false;        // out: something happened, or the socket must be asked
};

// Waits up to timeout_ms until one of the sockets is ready and marks the ready ones. A socket
// without a handle is marked ready at once and cuts the wait to a short slice. Returns early when
// a signal interrupts the wait.
void WaitForSockets(std::vector<SocketWait>& sockets, int timeout_ms);

}  // namespace zvk
