#include "util/format_fixed.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace zvk {
namespace {

constexpr double kRef = 3.911556659e-05;  // default ±1.25 V reference, volts per count

struct Case {
  double value;
  int precision;
  int digits;
  const char* expected;
};

void ExpectAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "value=" << c.value << " P=" << c.precision << " D=" << c.digits);
    EXPECT_EQ(FormatFixed(c.value, c.precision, c.digits), c.expected);
  }
}

TEST(FormatFixedTest, ReadingsAndLogValues) {
  ExpectAll({
      {kRef, 16, 14, "0.00003911556659"},     // range_div log line
      {-32768 * 8 * kRef, 5, 4, "-10.2540"},  // precision limit first, then zero fill
      {1.23456, 5, 4, "1.2346"},              //
      {-51 * kRef, 5, 4, "-0.0020"},          // decimal limit first
      {10.123, 5, 4, "10.1230"},              //
      {24.9 * 1.8 + 32 + 0.3, 4, 1, "77.1"},  // Fahrenheit with offset
      {253 / 10.0 * 1.8 + 32, 4, 1, "77.5"},  //
      {1000 / 10.0 * 1.8 + 32 + 0.5, 4, 1, "212.5"},
      {10000.0, 7, 1, "10000.0"},
      {0.000123456, 3, 8, "0.00012300"},
      {0.0, 5, 4, "0.0000"},
      {0.0, 5, 0, "0"},
      {7.0, 5, 0, "7"},
  });
}

TEST(FormatFixedTest, RoundsHalfAwayFromZeroOnExactTies) {
  ExpectAll({
      {0.125, 5, 2, "0.13"},  // tie at the decimal limit
      {-0.125, 5, 2, "-0.13"},
      {2.5, 5, 0, "3"},
      {-2.5, 5, 0, "-3"},
      {0.5, 5, 0, "1"},
      {12.5, 2, 4, "13.0000"},  // tie at the precision limit
      {1234.5, 4, 1, "1235.0"},
      {-0.0625, 5, 3, "-0.063"},
  });
}

TEST(FormatFixedTest, DecidesOnTheExactBinaryValue) {
  ExpectAll({
      // Literals that look like ties but are stored just below or above one.
      {1.005, 5, 2, "1.00"},  // 1.00499999999999989...
      {2.675, 5, 2, "2.67"},  // 2.67499999999999982...
      {0.15, 5, 1, "0.1"},    // 0.14999999999999999...
      {0.45, 5, 1, "0.5"},    // 0.45000000000000001...
      // 1.50472046742886345072...: rounding to 17 digits first would make a false tie at the
      // 16th and round it up.
      {1.5047204674288635, 16, 20, "1.50472046742886300000"},
  });
}

TEST(FormatFixedTest, CarryAddsAnIntegerDigit) {
  ExpectAll({
      {9.99995, 5, 4, "10.0000"},  // 9.99995000000000011...
      {0.99995, 5, 4, "1.0000"},
      {-0.96, 5, 1, "-1.0"},
      {9.5, 5, 0, "10"},
  });
}

TEST(FormatFixedTest, NegativeValueRoundingToZeroHasNoSign) {
  ExpectAll({
      {-0.00004, 5, 4, "0.0000"},
      {-0.0, 5, 4, "0.0000"},
      {-0.4, 5, 0, "0"},
      {-1e-300, 16, 14, "0.00000000000000"},
  });
}

TEST(FormatFixedTest, IntegerPartWiderThanPrecisionUsesExponentForm) {
  ExpectAll({
      {123456.0, 5, 4, "1.2346E+05"},
      {-123456.0, 5, 4, "-1.2346E+05"},
      {99999.6, 5, 1, "1.0000E+05"},  // only rounding makes it six digits wide
      {99999.4, 5, 1, "99999.0"},
      {4.2e200, 3, 2, "4.20E+200"},
      {123.0, 1, 2, "1E+02"},
  });
}

TEST(FormatFixedTest, NonFiniteValues) {
  ExpectAll({
      {std::numeric_limits<double>::quiet_NaN(), 5, 4, "NAN"},
      {std::numeric_limits<double>::infinity(), 5, 4, "INF"},
      {-std::numeric_limits<double>::infinity(), 5, 4, "-INF"},
  });
}

TEST(FormatFixedTest, ExtremeMagnitudes) {
  ExpectAll({
      {std::numeric_limits<double>::denorm_min(), 5, 4, "0.0000"},
      {std::numeric_limits<double>::max(), 5, 0, "1.7977E+308"},
  });
}

}  // namespace
}  // namespace zvk
