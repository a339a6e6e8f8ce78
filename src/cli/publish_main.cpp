// zvk-publish: zvk with the MQTT gateway of `zvk publish` and the metrics endpoint of `--metrics`,
// which the statically linked zvk hands those commands to (it cannot carry the shared MQTT client
// and HTTP libraries).
#include <iostream>
#include <optional>
#include <string>

#include "cli/mqtt_publish.h"
#include "cli/term/live_status.h"
#if ZVK_METRICS
#include "cli/http_metrics.h"
#endif
#include "cli/term/standard_output.h"
#include "cli/term/terminal.h"
#include "cli/zvk_cli.h"
#include "link/tcp.h"

int main(int argc, char** argv) {
  zvk::SystemNetwork network;
#if ZVK_METRICS
  zvk::cli::HttpMetrics metrics;
  zvk::cli::MqttPublish gateway(&metrics);
#else
  zvk::cli::MqttPublish gateway;
#endif
  zvk::cli::CliEnv env{network};
  env.publish = &gateway;
#if ZVK_METRICS
  env.metrics = &metrics;
#endif
  zvk::cli::AttachTerminal(env);
  const zvk::cli::StandardOutput standard_output;
  return zvk::cli::RunZvk(argc, argv, std::cout, std::cerr, env);
}
