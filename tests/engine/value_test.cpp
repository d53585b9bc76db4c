#include <gtest/gtest.h>

#include <clocale>

#include "engine/value.h"

using namespace nv;

TEST(Value, StrictNumberSyntax) {
    for (const char* yes : {"12", "-3.5", ".5", "5.", "1e3", "+7", ".", "e5", " 12 ", "1E-2"})
        EXPECT_TRUE(isNumber(yes)) << yes;
    for (const char* no :
         {"", "-", "1e", "1,5", "0x10", "12abc", "1 2", "+", "1e+", "$10", "1e999"})
        EXPECT_FALSE(isNumber(no)) << no;
    double v = -1;
    EXPECT_TRUE(isNumber("e5", &v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(isNumber("1e-999", &v)); // underflows to zero
    EXPECT_EQ(v, 0);
}

TEST(Value, LenientReading) {
    const std::pair<const char*, double> cases[] = {
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {"-5x", 5},
        {"1.5x", 15},
        {" 7", 7},
        {"-2.5", -2.5},
        // Past 15 digits the digits are still one correctly rounded whole number.
        {"87915795054720153x", 87915795054720153.0},
        {"12345678901234567.89x", 1234567890123456789.0}};
    for (auto [t, v] : cases)
        EXPECT_EQ(lenientNumber(t), v) << t;
}

TEST(Value, IntegerSyntax) {
    const std::pair<const char*, int32_t> good[] = {{"42", 42},
                                                    {" -7", -7},
                                                    {"$ff", 255},
                                                    {"0x10", 16},
                                                    {"X1f", 31},
                                                    {"+3", 3},
                                                    {"2147483647", INT32_MAX},
                                                    {"-2147483648", INT32_MIN},
                                                    {"$7FFFFFFF", INT32_MAX},
                                                    {"-$80000000", INT32_MIN}};
    for (auto [t, v] : good) {
        int32_t out = 0;
        EXPECT_TRUE(parseInteger(t, out)) << t;
        EXPECT_EQ(out, v) << t;
    }
    for (const char* bad : {"", "2.0", "2.5", "12a", "2147483648", "$", "0x", "1 ", "$100000000",
                            "$FFFFFFFF", "$80000000", "-$80000001"}) {
        int32_t out;
        EXPECT_FALSE(parseInteger(bad, out)) << bad;
    }
}

TEST(Value, NumberWriter) {
    const std::pair<double, const char*> cases[] = {{0.1 + 0.2, "0.3"},
                                                    {2.5, "2.5"},
                                                    {2, "2"},
                                                    {1e20, "1E20"},
                                                    {1e-6, "1E-6"},
                                                    {1e-5, "0.00001"},
                                                    {1.0 / 3, "0.333333333333333"},
                                                    {-0.0, "0"},
                                                    {1000, "1000"},
                                                    {1e15, "1E15"},
                                                    {999999999999999, "999999999999999"},
                                                    {-1.5e-7, "-1.5E-7"},
                                                    {123456.789, "123456.789"},
                                                    {1.5e300, "1.5E300"}};
    for (auto [v, t] : cases)
        EXPECT_EQ(formatNumber(v), t) << v;
}

TEST(Value, WriterIgnoresTheLocale) {
    // Qt applications take the user's locale; results must still read back as numbers.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        EXPECT_EQ(formatNumber(2.5), "2.5");
        double v;
        EXPECT_TRUE(isNumber("2.5", &v));
        EXPECT_EQ(v, 2.5);
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
}
