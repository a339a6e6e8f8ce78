#include "publish/broker.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
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

}  // namespace zvk::test
