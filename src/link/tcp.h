// The TCP client seam: connect with a timeout, one write, wait for readable, read what is
// buffered, close. Waiting is done in short slices by the caller so the event pump keeps running.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zvk {

enum class IoStatus { Done, Pending, Failed };

class TcpSocket {
 public:
  virtual ~TcpSocket() = default;
  // Starts a non-blocking IPv4 connect. Done, Pending (call PollConnect) or Failed.
  virtual IoStatus BeginConnect(const std::string& host, std::uint16_t port) = 0;
  // Waits up to timeout_ms for the connect to finish.
  virtual IoStatus PollConnect(int timeout_ms) = 0;
  // Writes all bytes (in one send where the stack allows); false on error.
  virtual bool WriteAll(const std::uint8_t* data, std::size_t length) = 0;
  // Waits up to timeout_ms for data or end of stream: Done when something can be read.
  virtual IoStatus WaitReadable(int timeout_ms) = 0;
  // Reads what is buffered: bytes read (> 0), 0 at end of stream, -1 on error, -2 nothing yet.
  virtual long ReadSome(std::uint8_t* out, std::size_t capacity) = 0;
  // Ends the sending side after what was written (the far end reads its end); reading goes on.
  // False on error.
  virtual bool ShutdownWrite() = 0;
  // After ShutdownWrite, waits up to timeout_ms for the far end to close its side: Done once it
  // closed in order and, where the platform can tell, acknowledged every byte written; Failed on
  // a reset or an error; Pending otherwise. What the far end sends meanwhile is read and dropped.
  virtual IoStatus WaitPeerClose(int timeout_ms) = 0;
  virtual void Close() = 0;
  // Text of the last error, for the status line and the log.
  virtual std::string LastError() const = 0;
  // The system's handle of the socket, for a caller that waits on many sockets at once (the
  // network scan); -1 when it has none (nothing open, or a socket that only stands for one).
  virtual std::int64_t PollHandle() const { return -1; }
};

class Network {
 public:
  virtual ~Network() = default;
  virtual std::unique_ptr<TcpSocket> NewSocket() = 0;
  // The clock the link times its connect and reply waits by. A scripted network in the tests
  // keeps its own, moved on by the waits of its sockets instead of by sleeping.
  virtual std::chrono::steady_clock::time_point Now() const {
    return std::chrono::steady_clock::now();
  }
};

// POSIX sockets (Winsock under _WIN32).
class SystemNetwork final : public Network {
 public:
  std::unique_ptr<TcpSocket> NewSocket() override;
};

}  // namespace zvk
