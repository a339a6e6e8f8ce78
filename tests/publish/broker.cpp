#include "publish/broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/rig.h"

namespace zvk::test {

namespace {

bool Accepts(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::optional<std::filesystem::path> MosquittoProgram() {
  for (const char* candidate : {"/usr/sbin/mosquitto", "/usr/local/sbin/mosquitto"})
    if (std::filesystem::exists(candidate)) return std::filesystem::path(candidate);
  return std::nullopt;
}

Broker::Broker(std::filesystem::path dir, Options options) : dir_(std::move(dir)) {
  std::filesystem::create_directories(dir_);
  port_ = ClosedLoopbackPort();
  std::ofstream conf(dir_ / "mosquitto.conf");
  conf << "listener " << port_ << " 127.0.0.1\n"
       << "user root\n"  // the test's own user; the broker would switch to its service user
       << "log_dest file " << (dir_ / "mosquitto.log").string() << "\n";
  if (options.tls) {
    tls_ = true;
    const std::string d = dir_.string();
    std::ofstream(dir_ / "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const std::string command =
        "cd '" + d + "' && openssl req -x509 -days 1 -subj /CN=zvk-test-ca" + key +
        "-keyout ca.key -out ca.pem 2>/dev/null && openssl req -subj /CN=127.0.0.1" + key +
        "-keyout server.key -out server.csr 2>/dev/null && openssl x509 -req -days 1 -in "
        "server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile san.ext -out server.pem "
        "2>/dev/null";
    if (std::system(command.c_str()) != 0)
      throw std::runtime_error("cannot make the test certificates: " + command);
    conf << "cafile " << d << "/ca.pem\ncertfile " << d << "/server.pem\nkeyfile " << d
         << "/server.key\n";
  }
  if (options.persistence)
    conf << "persistence true\npersistence_location " << dir_.string() << "/\n";
  if (options.user.empty()) {
    conf << "allow_anonymous true\n";
  } else {
    const std::filesystem::path passwords = dir_ / "passwords";
    std::ofstream(passwords).close();
    const std::string command = "mosquitto_passwd -b '" + passwords.string() + "' '" +
                                options.user + "' '" + options.password + "'";
    if (std::system(command.c_str()) != 0)
      throw std::runtime_error("mosquitto_passwd failed: " + command);
    conf << "allow_anonymous false\npassword_file " << passwords.string() << "\n";
  }
}

Broker::~Broker() {
  Stop();
}

void Broker::Start() {
  const auto program = MosquittoProgram();
  if (!program) throw std::runtime_error("mosquitto is not installed");
  process_ = std::make_unique<ChildProcess>(
      *program, std::vector<std::string>{"-c", (dir_ / "mosquitto.conf").string()});
  // The broker says nothing on its own output once running; it is ready when it accepts.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!Accepts(port_)) {
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("mosquitto did not start on port " + std::to_string(port_));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Broker::Stop() {
  if (!process_) return;
  process_->RequestStop();
  process_->Wait();
  process_.reset();
}

Subscriber::Subscriber(std::uint16_t port, const std::string& filter, const std::string& session)
    : filter_(filter) {
  mosquitto_lib_init();
  client_ = mosquitto_new(session.empty() ? nullptr : session.c_str(), session.empty(), this);
  if (!client_) throw std::runtime_error("mosquitto_new failed");
  mosquitto_connect_callback_set(client_, &Subscriber::HandleConnect);
  mosquitto_subscribe_callback_set(client_, &Subscriber::HandleSubscribe);
  mosquitto_message_callback_set(client_, &Subscriber::HandleMessage);
  mosquitto_reconnect_delay_set(client_, 1, 1, false);
  if (mosquitto_connect(client_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
    throw std::runtime_error("the subscriber cannot connect to port " + std::to_string(port));
  mosquitto_loop_start(client_);
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::seconds(20), [this] { return subscribed_; }))
    throw std::runtime_error("the subscriber was not subscribed");
}

Subscriber::~Subscriber() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, true);
  mosquitto_destroy(client_);
}

void Subscriber::HandleConnect(mosquitto* m, void* self, int rc) {
  auto* s = static_cast<Subscriber*>(self);
  if (rc == 0) mosquitto_subscribe(m, nullptr, s->filter_.c_str(), 1);
}

void Subscriber::HandleSubscribe(mosquitto*, void* self, int, int, const int*) {
  auto* s = static_cast<Subscriber*>(self);
  {
    std::lock_guard<std::mutex> lock(s->mutex_);
    s->subscribed_ = true;
  }
  s->changed_.notify_all();
}

void Subscriber::HandleMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* s = static_cast<Subscriber*>(self);
  {
    std::lock_guard<std::mutex> lock(s->mutex_);
    s->received_.push_back({message->topic,
                            std::string(static_cast<const char*>(message->payload),
                                        static_cast<std::size_t>(message->payloadlen)),
                            message->retain});
  }
  s->changed_.notify_all();
}

std::vector<Received> Subscriber::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<Received> Subscriber::On(const std::string& topic) const {
  std::vector<Received> on;
  for (const Received& r : Messages())
    if (r.topic == topic) on.push_back(r);
  return on;
}

bool Subscriber::WaitFor(const std::function<bool(const std::vector<Received>&)>& done,
                         std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return done(received_); });
}

bool Subscriber::subscribed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subscribed_;
}

ScriptedBroker::ScriptedBroker(Script script, const std::filesystem::path& tls_dir)
    : script_(std::move(script)) {
  if (!tls_dir.empty()) {
    tls_ = SSL_CTX_new(TLS_server_method());
    if (!tls_ ||
        SSL_CTX_use_certificate_file(tls_, (tls_dir / "server.pem").c_str(), SSL_FILETYPE_PEM) !=
            1 ||
        SSL_CTX_use_PrivateKey_file(tls_, (tls_dir / "server.key").c_str(), SSL_FILETYPE_PEM) != 1)
      throw std::runtime_error("the scripted broker cannot use the certificate in " +
                               tls_dir.string());
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 8) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("the scripted broker cannot listen on loopback");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Run(); });
}

ScriptedBroker::~ScriptedBroker() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
  if (tls_) SSL_CTX_free(tls_);
}

std::vector<std::chrono::steady_clock::time_point> ScriptedBroker::Accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

void ScriptedBroker::Run() {
  for (int index = 0; !stop_;) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      accepted_.push_back(std::chrono::steady_clock::now());
    }
    SSL* ssl = nullptr;
    if (tls_) {
      ssl = SSL_new(tls_);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) != 1) {
        SSL_free(ssl);
        ::close(fd);
        continue;
      }
    }
    Connection connection(fd, ssl, stop_);
    script_(connection, index++);
    if (ssl) SSL_free(ssl);
    ::close(fd);
  }
}

bool ScriptedBroker::Connection::ReadExact(std::uint8_t* to, std::size_t n,
                                           std::chrono::steady_clock::time_point until) {
  while (n > 0) {
    if (stop_ || std::chrono::steady_clock::now() >= until) return false;
    pollfd p{fd_, POLLIN, 0};
    if ((!ssl_ || SSL_pending(ssl_) == 0) && ::poll(&p, 1, 20) <= 0) continue;
    const ssize_t got = ssl_ ? SSL_read(ssl_, to, static_cast<int>(n)) : ::recv(fd_, to, n, 0);
    if (got <= 0) return false;
    to += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

std::optional<ScriptedBroker::Packet> ScriptedBroker::Connection::Read(
    std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  std::uint8_t first = 0;
  if (!ReadExact(&first, 1, until)) return std::nullopt;
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    std::uint8_t byte = 0;
    if (shift > 21 || !ReadExact(&byte, 1, until)) return std::nullopt;
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) break;
  }
  Packet packet;
  packet.type = static_cast<std::uint8_t>(first >> 4);
  packet.body.resize(length);
  if (!ReadExact(packet.body.data(), length, until)) return std::nullopt;
  return packet;
}

bool ScriptedBroker::Connection::Send(const std::vector<std::uint8_t>& bytes) {
  if (ssl_) return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) > 0;
  return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

int ScriptedBroker::Connection::Accept(std::uint8_t code) {
  const std::optional<Packet> connect = Read();
  // CONNECT: the protocol name "MQTT" with its length, then the level.
  if (!connect || connect->type != 1 || connect->body.size() < 7) return 0;
  level_ = connect->body[6];
  if (level_ == 5)
    Send({0x20, 0x03, 0x00, code, 0x00});
  else
    Send({0x20, 0x02, 0x00, code});
  return level_;
}

void ScriptedBroker::Connection::Serve(bool acknowledge) {
  for (;;) {
    const std::optional<Packet> packet = Read(std::chrono::hours(1));
    if (!packet || packet->type == 14) return;
    if (packet->type == 12) Send({0xD0, 0x00});
    if (packet->type != 3 || !acknowledge || packet->body.size() < 2) continue;
    // PUBLISH at QoS 1: the topic with its length, then the packet id.
    const std::size_t topic = (std::size_t{packet->body[0]} << 8) | packet->body[1];
    if (packet->body.size() < topic + 4) continue;
    Send({0x40, 0x02, packet->body[topic + 2], packet->body[topic + 3]});
  }
}

}  // namespace zvk::test
