// The metrics sink's exposition text: the labels of each module (untrusted texts escaped and
// bounded), a channel without a number absent, a lost module down with its failed polls.
#include "engine/metrics_sink.h"

#include <gtest/gtest.h>

#include <string>

#include "link/wire.h"

namespace zvk::engine {
namespace {

Reading Volts(const char* channel, std::optional<double> value, ReadingState state) {
  return {channel, value, ReadingUnit::Volt, state, value ? "x" : "Disable"};
}

Sample Polled(SampleKind kind, std::vector<Reading> readings = {}) {
  Sample s;
  s.time = TimePoint(std::chrono::milliseconds(1796998260125));
  s.kind = kind;
  s.readings = std::move(readings);
  return s;
}

TEST(MetricsSink, ExposesEachModulesValuesAndLeavesOutWhatHasNoNumber) {
  MetricsSink sink;
  ModuleIdentity bench{wire::kModelKm3, "02:5A:51:36:00:01", "01.12", "Bench \"A\"\\1\nx"};
  ModuleIdentity lost{wire::kModelQn6, "02:5A:51:36:00:02", "01.12", ""};
  sink.Admit(0, {"a", "127.0.0.1:13577"}, bench);
  sink.Admit(2, {"c", "127.0.0.3:13577"}, lost);  // module 1 never described itself
  sink.Receive(0, Polled(SampleKind::Readings, {Volts("AI0", 1.2346, ReadingState::Ok),
                                                Volts("AI1", std::nullopt, ReadingState::Disable),
                                                Volts("AI2", -0.5, ReadingState::Ok)}));
  sink.Receive(2, Polled(SampleKind::Readings, {Volts("AI0", 2.0, ReadingState::Ok)}));
  sink.Receive(2, Polled(SampleKind::Gap));
  sink.Receive(2, Polled(SampleKind::Pause));  // no poll

  const std::string a =
      R"(mac="02:5A:51:36:00:01",address="127.0.0.1:13577",location="Bench \"A\"\\1\\x0Ax",model="zVK-KM3")";
  const std::string c =
      R"(mac="02:5A:51:36:00:02",address="127.0.0.3:13577",location="",model="zVK-QN6")";
  EXPECT_EQ(sink.Exposition(),
            "# HELP zvk_reading The channel's last value, in its unit.\n"
            "# TYPE zvk_reading gauge\n"
            "zvk_reading{" +
                a +
                R"(,channel="AI0",unit="V"} 1.2346)"
                "\n"
                "zvk_reading{" +
                a +
                R"(,channel="AI2",unit="V"} -0.5)"
                "\n"
                "# HELP zvk_module_up 1 when the module answered its last poll, else 0.\n"
                "# TYPE zvk_module_up gauge\n"
                "zvk_module_up{" +
                a +
                "} 1\n"
                "zvk_module_up{" +
                c +
                "} 0\n"
                "# HELP zvk_polls_total Polls of the module.\n"
                "# TYPE zvk_polls_total counter\n"
                "zvk_polls_total{" +
                a +
                "} 1\n"
                "zvk_polls_total{" +
                c +
                "} 2\n"
                "# HELP zvk_polls_failed_total Polls of the module that brought no values.\n"
                "# TYPE zvk_polls_failed_total counter\n"
                "zvk_polls_failed_total{" +
                a +
                "} 0\n"
                "zvk_polls_failed_total{" +
                c +
                "} 1\n"
                "# HELP zvk_last_reading_timestamp_seconds When the module's last values were read "
                "(Unix time).\n"
                "# TYPE zvk_last_reading_timestamp_seconds gauge\n"
                "zvk_last_reading_timestamp_seconds{" +
                a +
                "} 1796998260.125\n"
                "zvk_last_reading_timestamp_seconds{" +
                c + "} 1796998260.125\n");
  EXPECT_EQ(sink.Status(), "1 of 2 modules up");
}

TEST(MetricsSink, LabelValuesAreEscapedAndBoundedOnACharactersBoundary) {
  struct Case {
    std::string text;
    std::string value;
  };
  const std::string long_text = std::string(63, 'x') + "\xC3\xA9" + "tail";  // é across the cut
  const Case cases[] = {
      {"Lab bench 1", "Lab bench 1"},
      {"°C", "°C"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"line\nbreak\r\x1B[2J", "line\\\\x0Abreak\\\\x0D\\\\x1B[2J"},
      {long_text, std::string(63, 'x')},
      {std::string(200, 'y'), std::string(64, 'y')},
  };
  for (const Case& c : cases) EXPECT_EQ(MetricsLabelValue(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace zvk::engine
