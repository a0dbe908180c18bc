// The number conversions on chosen cases: the texts printf and strtod give
// for the widths and precisions of the layout, rounding on exact binary
// ties, signs of zero, fields too narrow, values that are not finite, and
// the forms the reader must take or refuse.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "number_text.h"

namespace {

std::string fixed(double value, int width, int precision) {
    char text[kMaxNumberTextLength + 1];
    return std::string(text, writeFixed(text, value, width, precision));
}

std::string whole(std::int32_t value, int width) {
    char text[32];
    return std::string(text, writeWholeNumber(text, value, width));
}

struct FixedCase {
    double value;
    int width;
    int precision;
    const char* text;
};

// Each expected text is what glibc's printf writes for "%0<width>.<precision>f".
template <std::size_t N>
void expectFixed(const FixedCase (&cases)[N]) {
    for (const FixedCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value << " width " << c.width
                                        << " precision " << c.precision);
        EXPECT_EQ(fixed(c.value, c.width, c.precision), c.text);
    }
}

TEST(WriteFixed, LayoutFieldsArePaddedWithZerosAfterTheSign) {
    const FixedCase cases[] = {
        {25.0, 7, 2, "0025.00"},    {29.97, 7, 2, "0029.97"},  {12.4, 5, 1, "012.4"},
        {123.5, 6, 1, "0123.5"},    {-12.5, 6, 1, "-012.5"},   {-5.33, 6, 2, "-05.33"},
        {345.67, 7, 2, "0345.67"},  {0.0, 7, 2, "0000.00"},    {0.0, 5, 1, "000.0"},
        {9999.99, 7, 2, "9999.99"}, {-999.99, 7, 2, "-999.99"}, {1.61, 3, 1, "1.6"},
    };
    expectFixed(cases);
}

TEST(WriteFixed, ExactBinaryTiesRoundToEven) {
    const FixedCase cases[] = {
        {0.125, 4, 2, "0.12"},   {0.375, 4, 2, "0.38"},   {0.625, 4, 2, "0.62"},
        {0.875, 4, 2, "0.88"},   {2.125, 7, 2, "0002.12"}, {-0.125, 5, 2, "-0.12"},
        {0.25, 3, 1, "0.2"},     {0.75, 3, 1, "0.8"},     {2.25, 5, 1, "002.2"},
        {-2.25, 6, 1, "-002.2"}, {1023.75, 6, 1, "1023.8"}, {1022.25, 6, 1, "1022.2"},
    };
    expectFixed(cases);
}

TEST(WriteFixed, DecimalHalvesRoundByTheirBinaryValue) {
    // 2.675 is held as 2.67499999999999982236431605997495353221893310546875,
    // 1.005 as 1.00499999999999989341858963598497211933135986328125,
    // 0.45 as 0.450000000000000011102230246251565404236316680908203125.
    const FixedCase cases[] = {
        {2.675, 4, 2, "2.67"}, {1.005, 4, 2, "1.00"}, {0.45, 3, 1, "0.5"},
        {0.35, 3, 1, "0.3"},   {0.15, 3, 1, "0.1"},   {0.05, 3, 1, "0.1"},
        {-2.675, 5, 2, "-2.67"}, {1.115, 4, 2, "1.11"}, {8.345, 4, 2, "8.35"},
    };
    expectFixed(cases);
}

TEST(WriteFixed, ValuesNextToARoundingBoundary) {
    const double justBelowHalf = std::nextafter(0.005, 0.0);  // 0.005 itself is above
    const FixedCase cases[] = {
        {std::nextafter(0.125, 0.0), 4, 2, "0.12"},
        {std::nextafter(0.125, 1.0), 4, 2, "0.13"},
        {std::nextafter(0.25, 0.0), 3, 1, "0.2"},
        {std::nextafter(0.25, 1.0), 3, 1, "0.3"},
        {std::nextafter(9.995, 0.0), 4, 2, "9.99"},
        {std::nextafter(9999.995, 1e9), 7, 2, "10000.00"},
        {std::nextafter(99.95, 1e9), 5, 1, "100.0"},
        {justBelowHalf, 4, 2, "0.00"},
        {0.005, 4, 2, "0.01"},
    };
    expectFixed(cases);
}

TEST(WriteFixed, NegativeZeroAndValuesRoundingToZeroKeepTheirSign) {
    const FixedCase cases[] = {
        {-0.0, 7, 2, "-000.00"},  {-0.0, 5, 1, "-00.0"},     {-0.0, 0, 2, "-0.00"},
        {-0.001, 7, 2, "-000.00"}, {-0.04, 5, 1, "-00.0"},   {-0.05, 5, 1, "-00.1"},
        {-4.9e-324, 6, 2, "-00.00"}, {4.9e-324, 6, 2, "000.00"}, {-DBL_MIN, 3, 1, "-0.0"},
    };
    expectFixed(cases);
}

TEST(WriteFixed, ValuesWiderThanTheirFieldAreWrittenWhole) {
    const FixedCase cases[] = {
        {12345.6, 5, 1, "12345.6"},        {-12345.6, 5, 1, "-12345.6"},
        {123456.789, 7, 2, "123456.79"},   {-99999.995, 7, 2, "-99999.99"},
        {1e9, 6, 2, "1000000000.00"},      {-2147483648.5, 7, 2, "-2147483648.50"},
        {4503599627370495.5, 6, 1, "4503599627370495.5"},
        {4503599627370496.0, 6, 1, "4503599627370496.0"},
        {1e17, 7, 2, "100000000000000000.00"},
    };
    expectFixed(cases);
}

TEST(WriteFixed, TheLargestValueFitsTheStatedRoom) {
    std::string text = fixed(-DBL_MAX, 7, 2);
    EXPECT_EQ(text.size(), 1 + 309 + 1 + 2u);
    EXPECT_LE(text.size(), kMaxNumberTextLength);
    EXPECT_EQ(text.substr(0, 6), "-17976");
    EXPECT_EQ(text.substr(text.size() - 3), ".00");
}

TEST(WriteFixed, ValuesThatAreNotFiniteArePaddedWithBlanks) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(fixed(inf, 7, 2), "    inf");
    EXPECT_EQ(fixed(-inf, 7, 2), "   -inf");
    EXPECT_EQ(fixed(nan, 5, 1), "  nan");
    EXPECT_EQ(fixed(-nan, 6, 1), "  -nan");
    EXPECT_EQ(fixed(inf, 2, 1), "inf");
}

TEST(WriteFixed, OtherPrecisionsTakeTheGeneralConversion) {
    EXPECT_EQ(fixed(0.0625, 6, 3), "00.062");
    EXPECT_EQ(fixed(-0.0, 6, 3), "-0.000");
    EXPECT_EQ(fixed(2.5, 3, 0), "002");
    EXPECT_EQ(fixed(3.5, 0, 0), "4");
}

TEST(WriteWholeNumber, PadsWithZerosAfterTheSign) {
    EXPECT_EQ(whole(0, 4), "0000");
    EXPECT_EQ(whole(3, 4), "0003");
    EXPECT_EQ(whole(-5, 4), "-005");
    EXPECT_EQ(whole(1534, 6), "001534");
    EXPECT_EQ(whole(9999, 4), "9999");
    EXPECT_EQ(whole(-999, 4), "-999");
    EXPECT_EQ(whole(-1000, 4), "-1000");
    EXPECT_EQ(whole(12345, 4), "12345");
    EXPECT_EQ(whole(INT32_MAX, 4), "2147483647");
    EXPECT_EQ(whole(INT32_MIN, 6), "-2147483648");
    EXPECT_EQ(whole(INT32_MIN, 12), "-02147483648");
    EXPECT_EQ(whole(7, 0), "7");
    EXPECT_EQ(whole(-7, 1), "-7");
}

double parsed(const char* text, bool* ok = nullptr) {
    double value = -12345.0;
    bool result = parseDecimalNumber(text, value);
    if (ok != nullptr) {
        *ok = result;
    }
    return value;
}

TEST(ParseDecimalNumber, TakesTheLayoutsFormsExactly) {
    EXPECT_EQ(parsed("0345.67"), 345.67);
    EXPECT_EQ(parsed("-05.33"), -5.33);
    EXPECT_EQ(parsed("0029.97"), 29.97);
    EXPECT_EQ(parsed("000.0"), 0.0);
    EXPECT_EQ(parsed("2.675"), 2.675);
    EXPECT_EQ(parsed("0.1"), 0.1);
    EXPECT_EQ(parsed("9007199254740992"), 9007199254740992.0);
    EXPECT_EQ(parsed("9007199254740993"), 9007199254740992.0);  // rounds to even
    EXPECT_EQ(parsed("9007199254740995"), 9007199254740996.0);
    // Just below and just above the midpoint between two neighbouring doubles.
    EXPECT_EQ(parsed("0.30000000000000001665"), 0.3);
    EXPECT_EQ(parsed("0.30000000000000001666"), 0.30000000000000004);
}

TEST(ParseDecimalNumber, KeepsTheSignOfZero) {
    EXPECT_TRUE(std::signbit(parsed("-0.00")));
    EXPECT_TRUE(std::signbit(parsed("-0")));
    EXPECT_TRUE(std::signbit(parsed("-.0")));
    EXPECT_FALSE(std::signbit(parsed("0000.00")));
    EXPECT_FALSE(std::signbit(parsed("+0.0")));
}

TEST(ParseDecimalNumber, TakesEveryFormStrtodTakes) {
    EXPECT_EQ(parsed("+1.5"), 1.5);
    EXPECT_EQ(parsed(".5"), 0.5);
    EXPECT_EQ(parsed("5."), 5.0);
    EXPECT_EQ(parsed("12345678"), 12345678.0);
    EXPECT_EQ(parsed("1234567."), 1234567.0);
    EXPECT_EQ(parsed(".1234567"), 0.1234567);
    EXPECT_EQ(parsed("1e3"), 1000.0);
    EXPECT_EQ(parsed("-2.5E-2"), -0.025);
    EXPECT_EQ(parsed("0x1p-2"), 0.25);
    EXPECT_EQ(parsed("-0X1.8P1"), -3.0);
    EXPECT_EQ(parsed("inf"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("-Infinity"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(parsed("nan")));
    EXPECT_TRUE(std::isnan(parsed("NAN(123)")));
    EXPECT_EQ(parsed("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parsed("1e-400"), 0.0);
    EXPECT_EQ(parsed("4.9e-324"), 4.9e-324);
    EXPECT_EQ(parsed("00000000000000000000000000000000012.5"), 12.5);
    EXPECT_EQ(parsed("123456789012345678901234567890"), 1.2345678901234568e29);
}

TEST(ParseDecimalNumber, RefusesWhatStrtodDoesNotTakeWhole) {
    for (const char* text : {"", "-", "+", ".", "-.", "+-1", "++1", "--1", "1.2.3", "12a", "a12",
                             "1-", "1e", "0x", "/1", "1:", ":", "1,5", "12345678.9.",
                             "..5", "5..", "1 2", "0.0.0", "\x80" "1", "1\xB0"}) {
        SCOPED_TRACE(testing::Message() << '"' << text << '"');
        double value = 7.0;
        EXPECT_FALSE(parseDecimalNumber(text, value));
        EXPECT_EQ(value, 7.0);  // nothing assigned on failure
    }
}

TEST(ParseDecimalNumber, ReadsOnlyTheGivenCharacters) {
    // The item is a view into a longer line: the digits after it are not its own.
    const char line[] = "12.5678 9";
    double value = 0;
    ASSERT_TRUE(parseDecimalNumber(std::string_view(line, 4), value));
    EXPECT_EQ(value, 12.5);
    ASSERT_TRUE(parseDecimalNumber(std::string_view(line, 1), value));
    EXPECT_EQ(value, 1.0);
    EXPECT_FALSE(parseDecimalNumber(std::string_view(line, 0), value));
}

TEST(ReadsAsNumber, AgreesWithStrtodAtEveryLength) {
    // Items of 128 characters and more are judged in place, without the
    // terminated copy strtod needs.
    const std::string zeros(150, '0');
    const std::string digits(150, '7');
    std::vector<std::string> items = {"12.5", "-.5", "+1e3", "0x1p-2", "inf", "-nan", "nan(12)",
                                      "1e400", "", "-", "+-1", "1e", "0x", "12a", "1,5", "--",
                                      "0x.p1", "infinit", "\x80" "1"};
    for (const std::string sign : {"", "-", "+"}) {
        for (const std::string& body :
             {zeros + "12.5", digits, digits + "." + digits, "." + digits, digits + "e-5",
              "1" + zeros + "e-400", digits + "e400", "0x" + zeros + "1.8p1",
              "0x1." + std::string(150, 'f') + "p-3", "0X" + digits + "P99999", "0x." + digits,
              "nan(" + digits + ")", "infinity" + digits, digits + "a", digits + "e",
              digits + "." + digits + ".", "0x" + zeros + "g", "0x-" + digits, "0x+" + digits,
              "0xp" + digits, "-" + digits, "+" + digits, "nan(" + digits, "." + zeros + "x"}) {
            items.push_back(sign + body);
        }
    }
    for (const std::string& item : items) {
        char* end = nullptr;
        std::strtod(item.c_str(), &end);
        const bool whole = !item.empty() && end == item.c_str() + item.size();
        EXPECT_EQ(readsAsNumber(item), whole) << item.size() << " \"" << item.substr(0, 40) << '"';
    }
}

TEST(ParseWholeNumber, TakesSigned32BitDecimalsOnly) {
    std::int32_t value = 0;
    ASSERT_TRUE(parseWholeNumber("0003", value));
    EXPECT_EQ(value, 3);
    ASSERT_TRUE(parseWholeNumber("-005", value));
    EXPECT_EQ(value, -5);
    ASSERT_TRUE(parseWholeNumber("+17", value));
    EXPECT_EQ(value, 17);
    ASSERT_TRUE(parseWholeNumber("2147483647", value));
    EXPECT_EQ(value, INT32_MAX);
    ASSERT_TRUE(parseWholeNumber("-2147483648", value));
    EXPECT_EQ(value, INT32_MIN);
    ASSERT_TRUE(parseWholeNumber("0000000000000000000000042", value));
    EXPECT_EQ(value, 42);
    value = 9;
    for (const char* text : {"", "-", "+", "2147483648", "-2147483649", "99999999999999999999",
                             "1.0", "1e3", "12a", "0x10", " 1", "+-1"}) {
        SCOPED_TRACE(testing::Message() << '"' << text << '"');
        EXPECT_FALSE(parseWholeNumber(text, value));
        EXPECT_EQ(value, 9);
    }
}

}  // namespace

namespace {

bool writtenFixed(const char* text, int width, int precision) {
    const char* last = text + std::strlen(text);
    return isWrittenFixed(text, last, width, precision);
}

bool writtenWhole(const char* text, int width) {
    const char* last = text + std::strlen(text);
    return isWrittenWholeNumber(text, last, width);
}

TEST(WrittenForm, IsExactlyWhatTheFormatWrites) {
    // As printf writes them: padded to the width, wider only without a
    // leading zero (999.995 rounds to 1000.00 in %06.2f), minus zero kept.
    for (const char* text : {"0345.67", "-005.33", "0000.00", "-000.00", "9999.99", "12345.67",
                             "-1000.00", "123456789012.34"}) {
        EXPECT_TRUE(writtenFixed(text, 7, 2)) << text;
    }
    EXPECT_TRUE(writtenFixed("1000.00", 6, 2));
    EXPECT_TRUE(writtenFixed("0.5", 0, 1));
    // A zero more or less, a decimal more or less, a plus sign, exponents,
    // and more digits than a double gives back unchanged.
    for (const char* text : {"00345.67", "345.67", "0345.6", "0345.670", "+0345.67", "-0000.00",
                             "3.4567e2", "0345.", ".67", "0345,67", "12345678901234.56"}) {
        EXPECT_FALSE(writtenFixed(text, 7, 2)) << text;
    }
    for (const char* text : {"0003", "-005", "12345", "-1234", "0000", "999999999"}) {
        EXPECT_TRUE(writtenWhole(text, 4)) << text;
    }
    // printf writes no minus sign on zero, and 10 digits may not fit 32 bits.
    for (const char* text : {"003", "00003", "+003", "-000", "-0", "1234567890", "3.0"}) {
        EXPECT_FALSE(writtenWhole(text, 4)) << text;
    }
    EXPECT_TRUE(writtenFormIsZero("-000.00", "-000.00" + 7));
    EXPECT_FALSE(writtenFormIsZero("0000.01", "0000.01" + 7));
}

}  // namespace
