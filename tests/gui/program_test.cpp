// The zvk-analog program as scripts run it: its command line and a timed run with a screenshot.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <thread>

#include "link/wire.h"
#include "monitor/main_form.h"
#include "sim/simulator.h"

namespace zvk::gui {
namespace {

struct ProgramRun {
  int exit_code = -1;
  QString err;
  QString out;
  qint64 elapsed_ms = 0;
};

ProgramRun RunProgram(const QStringList& arguments, int timeout_ms = 15000) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  process.setProcessEnvironment(env);
  QElapsedTimer clock;
  clock.start();
  process.start(QStringLiteral(ZVK_ANALOG_PROGRAM), arguments);
  if (!process.waitForFinished(timeout_ms)) {
    process.kill();
    process.waitForFinished();
    ADD_FAILURE() << "zvk-analog did not finish";
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardError()),
          QString::fromLocal8Bit(process.readAllStandardOutput()), clock.elapsed()};
}

TEST(Program, UsageErrorsExitWithTwoAndOneLine) {
  const QStringList cases[] = {
      {"--skip-wifi-check"},
      {"--host", "127.0.0.x", "--skip-wifi-check"},
      {"--host", "127.0.0.1", "--port", "70000", "--skip-wifi-check"},
      {"--screenshot", "x.png"},
      {"--no-such-option"},
      {"--open", "no-such-window"},
  };
  for (const QStringList& arguments : cases) {
    const ProgramRun run = RunProgram(arguments);
    SCOPED_TRACE(arguments.join(' ').toStdString());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_TRUE(run.err.startsWith("zvk-analog: ")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
  }
  EXPECT_TRUE(RunProgram({"--skip-wifi-check"}).err.contains("--host"));
  EXPECT_TRUE(RunProgram({"--host", "127.0.0.x", "--skip-wifi-check"})
                  .err.contains("'x' is not a valid integer value"));
}

TEST(Program, HelpNamesTheProgramAndVersionSaysWhichItIs) {
  const ProgramRun run = RunProgram({"--help"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.out.startsWith("Usage: zvk-analog [options]\n")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("--host")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("wired or routed network")) << run.out.toStdString();
  const ProgramRun version = RunProgram({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.toStdString(), "zvk-analog 1.0\n");
  EXPECT_EQ(version.err, "");
}

TEST(Program, LongArgumentsAreShortenedInErrors) {
  const QString big(100000, u'y');
  const QString shown = QString(40, u'y') + "... (100000 bytes)";
  const QStringList cases[] = {
      {"--port", big},
      {"--" + big},
      {big},
      {"--host", big, "--skip-wifi-check"},
  };
  for (const QStringList& arguments : cases) {
    const ProgramRun run = RunProgram(arguments);
    SCOPED_TRACE(arguments.first().left(10).toStdString());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_LT(run.err.size(), 200) << run.err.left(300).toStdString();
    EXPECT_TRUE(run.err.contains(shown)) << run.err.left(300).toStdString();
  }
}

TEST(Program, TimedRunIdentifiesTheModuleAndSavesTheWindow) {
  sim::Options options;
  options.model = sim::Model::Qn6;
  sim::Simulator sim(options);
  const std::uint16_t port = sim.Start();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString shot = dir.filePath("window.png");

  const ProgramRun run =
      RunProgram({"--host", "127.0.0.1", "--port", QString::number(port), "--skip-wifi-check",
                  "--quit-after", "1500", "--screenshot", shot});
  sim.Stop();
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();

  const auto frames = sim.Frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0][wire::kReplyCode], wire::CMD_GET_DEVICE);
  const QImage image(shot);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.width(), kMainClientWidth);
  EXPECT_EQ(image.height(), kMainClientHeight);
}

// A listening socket on loopback that nobody serves. Silent: it takes the first connection, reads
// the frame and then holds the connection without a reply, timing how long the peer stays.
// Hanging: its accept queue is full, so a further connect gets no answer at all.
class QuietModule {
 public:
  enum class Mode { Silent, Hanging };

  explicit QuietModule(Mode mode) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 0) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      ADD_FAILURE() << "cannot listen on loopback";
    port_ = ntohs(addr.sin_port);
    if (mode == Mode::Hanging) {
      filler_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
      if (::connect(filler_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        ADD_FAILURE() << "cannot fill the accept queue";
      return;
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~QuietModule() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : {listen_fd_, filler_fd_})
      if (fd >= 0) ::close(fd);
  }

  std::uint16_t port() const { return port_; }
  // From the frame's arrival to the peer's close; negative when either did not happen.
  long held_ms() const { return held_ms_; }

 private:
  // Waits for `fd` to become readable, giving up when stopped.
  bool Readable(int fd) const {
    pollfd p{fd, POLLIN, 0};
    while (!stop_)
      if (::poll(&p, 1, 20) > 0) return true;
    return false;
  }

  void Serve() {
    if (!Readable(listen_fd_)) return;
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    std::uint8_t buffer[64];
    if (fd < 0 || !Readable(fd) || ::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    const auto frame_at = std::chrono::steady_clock::now();
    while (Readable(fd) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    if (!stop_)
      held_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - frame_at)
                     .count();
    ::close(fd);
  }

  int listen_fd_ = -1;
  int filler_fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<long> held_ms_{-1};
  std::thread thread_;
};

QStringList TimedRunOn(std::uint16_t port, int quit_after_ms) {
  return {"--host",
          "127.0.0.1",
          "--port",
          QString::number(port),
          "--skip-wifi-check",
          "--quit-after",
          QString::number(quit_after_ms)};
}

TEST(Program, TimedRunEndsPromptlyWhileTheLinkWaitsForAReply) {
  // The identity request goes out on the first tick, 100 ms in; the run ends 300 ms into the
  // module's silence, long before the 1 s reply wait would.
  QuietModule module(QuietModule::Mode::Silent);
  const ProgramRun run = RunProgram(TimedRunOn(module.port(), 400));
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  ASSERT_GE(module.held_ms(), 0);
  EXPECT_LT(module.held_ms(), 900);
}

TEST(Program, TimedRunEndsPromptlyWhileTheLinkConnects) {
  QuietModule module(QuietModule::Mode::Hanging);
  const ProgramRun run = RunProgram(TimedRunOn(module.port(), 400));
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_LT(run.elapsed_ms, 2500);  // the connect alone may take 3000 ms
}

// scripts/screenshots takes the calibration windows this way; the trend window comes from its
// library beside the program when it is first opened.
TEST(Program, TimedRunOpensTheWindowAskedForAndSavesIt) {
  struct Case {
    const char* window;
    sim::Model model;
    QSize shot_size;  // the window's, not the main one's
  };
  const Case cases[] = {
      {"thermistor-calibration", sim::Model::Qn6, QSize(412, 262)},
      {"trend", sim::Model::Km3, QSize(760, 500)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.window);
    sim::Options options;
    options.model = c.model;
    sim::Simulator sim(options);
    const std::uint16_t port = sim.Start();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shot = dir.filePath("window.png");

    const ProgramRun run = RunProgram({"--host", "127.0.0.1", "--port", QString::number(port),
                                       "--skip-wifi-check", "--quit-after", "1500", "--screenshot",
                                       shot, "--open", QString::fromLatin1(c.window)});
    sim.Stop();
    EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
    EXPECT_EQ(QImage(shot).size(), c.shot_size);
  }
}

}  // namespace
}  // namespace zvk::gui
