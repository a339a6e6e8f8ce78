#include "util/format_fixed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
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
    std::string text;
    AppendFormatFixedValue(text, c.value, c.precision, c.digits);
    EXPECT_EQ(text, c.expected);
  }
}

// The number a text states, as a reader of the text gets it: the nearest double to its digits,
// with the text's sign (none when it rounds to zero), in both the short and the exponent form.
TEST(FormatFixedTest, ValueIsTheNumberTheTextStates) {
  const struct {
    double value;
    int precision, digits;
    double stated;
  } cases[] = {
      {1.23456, 5, 4, 1.2346},     {-10.25404, 5, 4, -10.254},
      {kRef * 3948, 5, 4, 0.1544}, {77.46, 4, 1, 77.5},
      {-0.00004, 5, 4, 0.0},       {123456.0, 5, 4, 123460.0},
      {99999.6, 5, 1, 100000.0},   {4.2e200, 3, 2, 4.2e200},
      {0.1, 17, 20, 0.1},  // more digits than a double holds: still the nearest double
      {5e-324, 5, 4, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value=" << c.value);
    std::string text;
    const double stated = AppendFormatFixedValue(text, c.value, c.precision, c.digits);
    EXPECT_EQ(stated, c.stated) << text;
    EXPECT_FALSE(std::signbit(stated) && stated == 0) << "zero is written without a sign";
  }
  std::string text;
  EXPECT_TRUE(std::isnan(AppendFormatFixedValue(text, NAN, 5, 4)));
  EXPECT_EQ(AppendFormatFixedValue(text, -INFINITY, 5, 4), -INFINITY);
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

// FormatFixed only takes the full decimal expansion near a rounding tie; everywhere else it must
// give exactly what the expansion gives.
TEST(FormatFixedTest, ShortRoadGivesTheExactText) {
  // The callers' limits, a wide precision, integers only, and decimals far past any digit.
  constexpr int kLimits[][2] = {{5, 4}, {4, 1}, {16, 14}, {3, 8}, {1, 0},
                                {7, 1}, {2, 4}, {17, 20}, {1, 2}, {37, 40}};
  std::vector<double> values = {0.0,
                                -0.0,
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::lowest()};
  std::mt19937_64 rng(20200213);
  // Any bit pattern: every magnitude, both signs.
  for (int i = 0; i < 3000; ++i) {
    const std::uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) values.push_back(v);
  }
  // m / 2^k ends in a 5 at the k-th decimal: an exact tie there (integers ending in 5 tie in
  // exponent form); their neighbours lie just off it.
  for (int i = 0; i < 3000; ++i) {
    std::uint64_t width = 10;  // m has 1 to 7 digits
    for (auto digits = rng() % 7; digits > 0; --digits) width *= 10;
    const double tie =
        std::ldexp(static_cast<double>(1 + rng() % width), -static_cast<int>(rng() % 21));
    for (double v : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, HUGE_VAL)})
      values.insert(values.end(), {v, -v});
  }
  // Decimal literals that look like ties, and carries into a new digit.
  for (int i = -20; i <= 20; ++i) {
    const double p = std::pow(10.0, i);
    for (double v : {p, 5 * p, 9.5 * p, 9.9995 * p, 0.99995 * p, 1.005 * p, 2.675 * p})
      values.insert(values.end(), {v, std::nextafter(v, 0.0), std::nextafter(v, HUGE_VAL), -v});
  }
  // Readings of the voltage module at every range, and Fahrenheit texts with their offsets.
  for (int raw = -32768; raw < 32768; raw += 23)
    for (int range = 0; range < 4; ++range) values.push_back(raw * (8 >> range) * kRef);
  for (int tenths = -400; tenths <= 1500; tenths += 7)
    for (int offset = -127; offset <= 127; offset += 17)
      values.push_back(tenths / 10.0 * 1.8 + 32 + offset * 0.1);

  int mismatches = 0;
  for (double v : values) {
    for (const auto& limit : kLimits) {
      const std::string fast = FormatFixed(v, limit[0], limit[1]);
      const std::string exact = FormatFixedExact(v, limit[0], limit[1]);
      if (fast != exact && ++mismatches <= 10)
        ADD_FAILURE() << std::hexfloat << v << " P=" << limit[0] << " D=" << limit[1] << ": fast "
                      << fast << ", exact " << exact;
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << values.size() * std::size(kLimits) << " texts";
}

}  // namespace
}  // namespace zvk
