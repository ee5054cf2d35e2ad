// The JSON numbers of the nmea command against an exact reference: the
// shortcut for values a receiver sends must give the digits of the exact
// "%.10g" conversion (std::to_chars, general, ten digits), rounding ties,
// carries into a new digit and the edges of fixed notation included.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>

#include "JsonEventWriter.h"

namespace {

std::string Written(double value)
{
    VARIANT variant = {};
    variant.vt = VT_R8;
    variant.dblVal = value;
    std::string out = "[";
    AppendJsonValue(out, variant, false);
    return out.substr(1);
}

std::string Exact(double value)
{
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), value, std::chars_format::general, 10);
    return std::string(text, result.ptr);
}

TEST(JsonNumbers, EdgesGiveTheExactDigits)
{
    const double values[] = {
        0.0,           -0.0,           1.0,           -1.0,          49.27416667,      -123.1853333,
        0.5,           1e-4,           9.99999999949e-5, 1e-5,       999999999.94,     999999999.96,
        1e9,           123456789.5,    0.000123456789012, 9.9999999995, 9.99999999949999, 1.00000000005,
        2.5e-4,        65.0,           1e300,          -4.9e-324,     12311.12 / 60,    4916.45 / 60,
    };
    for (const double value : values)
        EXPECT_EQ(Written(value), Exact(value)) << "value " << Exact(value);
}

TEST(JsonNumbers, ManyPositionsAndTiesGiveTheExactDigits)
{
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-5, 10);
    int differing = 0;
    for (int i = 0; i < 200000 && differing < 5; ++i) {
        double value = unit(random) * std::pow(10.0, exponent(random));
        if (i % 4 == 0) // a ten-digit value with a half beyond it: a tie, or nearly
            value = (std::round(value * 1e6) + 0.5) / 1e6;
        if (Written(value) != Exact(value)) {
            ADD_FAILURE() << "value " << Exact(value) << " written as " << Written(value);
            ++differing;
        }
    }
}

} // namespace
