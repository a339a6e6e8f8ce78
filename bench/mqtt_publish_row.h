// The publishing row: one poll of eight channels published by the gateway (src/publish) to a
// Mosquitto broker on loopback, against a bare libmosquitto client publishing the same payloads.
#pragma once

#include "report.h"

namespace zvk::bench {

Row PublishRow(bool quick);

}  // namespace zvk::bench
