// `zvk log --metrics` as a person runs it: the built zvk (handed over to zvk-publish) serves a
// simulated module's readings on 127.0.0.1, a real Prometheus server scrapes them every second,
// and a PromQL query through its HTTP API returns the values the run recorded. A port another
// program listens on is refused before anything is recorded.
#if ZVK_METRICS && !defined(_WIN32)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "sim/simulator.h"
#include "support/child_process.h"
#include "support/rig.h"

namespace zvk::cli {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::optional<fs::path> PrometheusProgram() {
  for (const char* candidate : {"/usr/bin/prometheus", "/usr/local/bin/prometheus"})
    if (fs::exists(candidate)) return fs::path(candidate);
  return std::nullopt;
}

// The values of a channel in the recording (a column of the wide form).
std::set<double> Column(const fs::path& csv, const std::string& channel) {
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  std::size_t column = 0;
  {
    std::istringstream header(line);
    std::string name;
    for (std::size_t i = 0; std::getline(header, name, ','); ++i)
      if (name == channel) column = i;
  }
  std::set<double> values;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string field;
    for (std::size_t i = 0; std::getline(row, field, ','); ++i)
      if (i == column && !field.empty()) values.insert(std::stod(field));
  }
  return values;
}

TEST(metricsPrometheus, AScrapedRunIsQueriedThroughPromQl) {
  const auto prometheus = PrometheusProgram();
  if (!prometheus) GTEST_SKIP() << "prometheus is not installed (scripts/bootstrap installs it)";
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";

  const fs::path dir =
      fs::temp_directory_path() /
      ("zvk-prometheus-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  sim::Options options;
  options.model = sim::Model::Qn6;
  sim::Simulator module(options);
  module.Start();

  const fs::path csv = dir / "run.csv";
  test::ChildProcess run(
      *zvk,
      {"--host", "127.0.0.1", "--port", std::to_string(module.Port()), "--skip-wifi-check", "log",
       csv.string(), "--interval", "0.2", "--metrics", "0"},
      {true, true});
  const std::optional<std::string> told = run.ReadLine();
  ASSERT_TRUE(told);
  const std::string prefix = "zvk: metrics at http://127.0.0.1:";
  ASSERT_EQ(told->rfind(prefix, 0), 0u) << *told;
  const std::string metrics_port =
      told->substr(prefix.size(), told->find('/', prefix.size()) - prefix.size());

  const std::uint16_t web_port = test::ClosedLoopbackPort();
  std::ofstream(dir / "prometheus.yml") << "global:\n"
                                           "  scrape_interval: 1s\n"
                                           "scrape_configs:\n"
                                           "  - job_name: zvk\n"
                                           "    static_configs:\n"
                                           "      - targets: ['127.0.0.1:"
                                        << metrics_port << "']\n";
  test::ChildProcess server(
      *prometheus,
      {"--config.file=" + (dir / "prometheus.yml").string(),
       "--storage.tsdb.path=" + (dir / "data").string(),
       "--web.listen-address=127.0.0.1:" + std::to_string(web_port), "--log.level=error"},
      {true, false});

  // Asked every 100 ms until the first scrape is in (about a second after the start).
  httplib::Client api("127.0.0.1", web_port);
  api.set_connection_timeout(1, 0);
  json result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto response = api.Get("/api/v1/query?query=" + httplib::detail::encode_query_param(
                                                               R"(zvk_reading{channel="TH0"})"));
    if (response && response->status == 200) {
      const json body = json::parse(response->body);
      if (body.at("status") == "success" && !body.at("data").at("result").empty()) {
        result = body.at("data").at("result");
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(result.size(), 1u) << "no scrape reached Prometheus: " << result.dump();
  const json& metric = result.at(0).at("metric");
  EXPECT_EQ(metric.at("job"), "zvk");
  EXPECT_EQ(metric.at("unit"), "°C");
  EXPECT_EQ(metric.at("model"), "zVK-QN6");
  EXPECT_EQ(metric.at("address"), "127.0.0.1:" + std::to_string(module.Port()));
  const double value = std::stod(result.at(0).at("value").at(1).get<std::string>());

  const auto up = api.Get("/api/v1/query?query=zvk_module_up");
  ASSERT_TRUE(up);
  EXPECT_EQ(json::parse(up->body).at("data").at("result").at(0).at("value").at(1), "1");

  ASSERT_TRUE(run.RequestStop());
  EXPECT_EQ(run.Wait(), 0);
  // The value Prometheus holds is one the run recorded for the channel.
  EXPECT_EQ(Column(csv, "TH0").count(value), 1u) << value;
  server.RequestStop();
  server.Wait();
  module.Stop();
  fs::remove_all(dir);
}

TEST(metricsEndpoint, APortAnotherProgramListensOnIsRefusedBeforeAnythingIsRecorded) {
  const auto zvk = test::BuiltProgram("zvk");
  ASSERT_TRUE(zvk) << "ZVK_BIN_DIR is set by CTest";
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  const int yes = 1;
  // As another run of zvk would listen, had it let others share the port: this one must not.
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  sim::Simulator module(sim::Options{});
  module.Start();
  const fs::path csv =
      fs::temp_directory_path() /
      ("zvk-metrics-taken-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".csv");
  test::ChildProcess run(
      *zvk,
      {"--host", "127.0.0.1", "--port", std::to_string(module.Port()), "--skip-wifi-check", "log",
       csv.string(), "--count", "1", "--metrics", port},
      {true, true});
  EXPECT_EQ(run.ReadAll(), "zvk: cannot serve the metrics at 127.0.0.1:" + port +
                               " (the port is taken, or the address is none of this machine's)\n");
  EXPECT_EQ(run.Wait(), 1);
  EXPECT_FALSE(fs::exists(csv));
  ::close(listener);
  module.Stop();
}

}  // namespace
}  // namespace zvk::cli
#endif
