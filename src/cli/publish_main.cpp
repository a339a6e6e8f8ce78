// zvk-publish: zvk with the MQTT gateway of `zvk publish`, which the statically linked zvk hands
// that command to (it cannot carry the shared MQTT client library).
#include <iostream>
#include <optional>
#include <string>

#include "cli/term/live_status.h"
#include "cli/mqtt_publish.h"
#include "cli/term/standard_output.h"
#include "cli/term/terminal.h"
#include "cli/zvk_cli.h"
#include "link/tcp.h"

int main(int argc, char** argv) {
  zvk::SystemNetwork network;
  zvk::cli::MqttPublish gateway;
  zvk::cli::CliEnv env{network};
  env.publish = &gateway;
  zvk::cli::AttachTerminal(env);
  const zvk::cli::StandardOutput standard_output;
  return zvk::cli::RunZvk(argc, argv, std::cout, std::cerr, env);
}
