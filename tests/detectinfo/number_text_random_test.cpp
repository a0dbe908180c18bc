// The fast number conversions against the C library on millions of values
// from a fixed seed: writeFixed and writeWholeNumber against snprintf,
// parseDecimalNumber and parseWholeNumber against strtod and strtoll.
// KEL_RANDOM_TEST_SCALE (a positive number, default 1) scales the counts,
// for a quicker run or a longer soak.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "number_text.h"
#include "random_source.h"

namespace {

constexpr double kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1e6, 1e7, 1e8, 1e9, 1e10};

// A value of one of the kinds that test the rounding of the writer.
double interestingValue(Source& source) {
    double value = 0;
    switch (source.below(8)) {
    case 0:
    case 1: {
        // On the decimal grid of a layout field, or up to three steps of
        // the binary grid off it: values just below or above a boundary.
        int decimals = 1 + static_cast<int>(source.below(3));
        auto units = static_cast<double>(source.below(20000000));
        value = units / kPowersOfTen[decimals];
        for (auto steps = source.below(7); steps > 3; --steps) {
            value = std::nextafter(value, source.coin() ? 0.0 : 1e300);
        }
        break;
    }
    case 2: {
        // Exact binary fractions: every tie of one and two decimals among them.
        auto numerator = static_cast<double>(source.below(1u << 24));
        value = std::ldexp(numerator, -static_cast<int>(1 + source.below(12)));
        break;
    }
    case 3: {
        // Decimal halves such as 2.675, held a little above or below.
        int decimals = 1 + static_cast<int>(source.below(2));
        auto odd = static_cast<double>(2 * source.below(10000000) + 1);
        value = odd / (2 * kPowersOfTen[decimals]);
        break;
    }
    case 4: {
        // Any mantissa at a binary exponent from 2^-40 to 2^60, across the
        // bound of the integer path at 2^52.
        std::uint64_t exponent = 1023 - 40 + source.below(101);
        value = std::bit_cast<double>(exponent << 52 | (source.next() >> 12));
        break;
    }
    case 5: {
        // Very small values, subnormal ones included, which round to zero.
        std::uint64_t exponent = source.below(40);
        value = std::bit_cast<double>(exponent << 52 | (source.next() >> 12));
        break;
    }
    case 6:
        // Any bit pattern: huge values, infinities and NaNs now and then.
        value = std::bit_cast<double>(source.next() & ~(std::uint64_t{1} << 63));
        if (std::abs(value) > 1e30 && source.below(8) != 0) {
            value = std::ldexp(value, -900);  // keep most snprintf calls short
        }
        break;
    default:
        // Zero, and small whole numbers and halves.
        value = source.below(4) == 0 ? 0.0 : static_cast<double>(source.below(2000)) / 4;
        break;
    }
    return source.coin() ? -value : value;
}

std::string describe(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g (%a)", value, value);
    return text;
}

void compareFixed(double value, int width, int precision, Mismatches& mismatches) {
    char expected[kMaxNumberTextLength + 64];
    int length = std::snprintf(expected, sizeof expected, "%0*.*f", width, precision, value);
    char actual[kMaxNumberTextLength + 64];
    char* end = writeFixed(actual, value, width, precision);
    ++mismatches.checked;
    if (std::string_view(actual, static_cast<std::size_t>(end - actual)) !=
        std::string_view(expected, static_cast<std::size_t>(length))) {
        mismatches.add("writeFixed(" + describe(value) + ", " + std::to_string(width) + ", " +
                       std::to_string(precision) + ") wrote \"" + std::string(actual, end) +
                       "\", printf \"" + expected + "\"");
    }
}

TEST(NumberTextRandom, WriteFixedMatchesPrintf) {
    Source source;
    Mismatches mismatches;
    // The fields of the layout, then other widths and precisions.
    constexpr int kLayoutFields[][2] = {{7, 2}, {6, 2}, {5, 1}, {6, 1}, {3, 1}};
    constexpr int kOtherWidths[] = {0, 1, 2, 4, 8, 9, 12};
    const long count = scaled(3000000);
    for (long i = 0; i < count; ++i) {
        double value = interestingValue(source);
        const int* field = kLayoutFields[source.below(5)];
        int width = field[0];
        int precision = field[1];
        switch (source.below(8)) {
        case 0:
            width = kOtherWidths[source.below(7)];
            break;
        case 1:
            precision = static_cast<int>(source.below(5));  // 0 to 4
            break;
        default:
            break;
        }
        compareFixed(value, width, precision, mismatches);
    }
    // Fixed cases no generator is sure to hit.
    for (double value : {-0.0, 0.0, 4503599627370496.0, 4503599627370495.5, 4503599627370495.75,
                         -4503599627370495.5, 5e-324, -5e-324, 0.005, 0.05, 0.125, 2.675}) {
        for (int precision : {1, 2}) {
            compareFixed(value, 7, precision, mismatches);
        }
    }
    EXPECT_EQ(mismatches.count, 0) << "of " << mismatches.checked << " values";
}

TEST(NumberTextRandom, WriteWholeNumberMatchesPrintf) {
    Source source;
    Mismatches mismatches;
    constexpr int kWidths[] = {0, 1, 4, 6, 10, 11, 12};
    const long count = scaled(500000);
    for (long i = 0; i < count; ++i) {
        std::int32_t value = 0;
        switch (source.below(4)) {
        case 0:
            value = static_cast<std::int32_t>(static_cast<std::uint32_t>(source.next()));
            break;
        case 1:
            value = static_cast<std::int32_t>(source.below(2000001)) - 1000000;
            break;
        default:
            value = static_cast<std::int32_t>(source.below(20001)) - 10000;
            break;
        }
        if (i < 2) {
            value = i == 0 ? INT32_MIN : INT32_MAX;
        }
        int width = kWidths[source.below(7)];
        char expected[32];
        int length = std::snprintf(expected, sizeof expected, "%0*d", width, value);
        char actual[32];
        char* end = writeWholeNumber(actual, value, width);
        ++mismatches.checked;
        if (std::string_view(actual, static_cast<std::size_t>(end - actual)) !=
            std::string_view(expected, static_cast<std::size_t>(length))) {
            mismatches.add("writeWholeNumber(" + std::to_string(value) + ", " +
                           std::to_string(width) + ") wrote \"" + std::string(actual, end) +
                           "\", printf \"" + expected + "\"");
        }
    }
    EXPECT_EQ(mismatches.count, 0) << "of " << mismatches.checked << " values";
}

// What strtod makes of the whole text; false unless it takes every character.
bool strtodWhole(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

// Parses `text` from a heap block of exactly its length, so that a read past
// its end shows under AddressSanitizer, and compares with strtod.
void compareParse(const std::string& text, Mismatches& mismatches) {
    std::unique_ptr<char[]> block(new char[text.size()]);
    std::memcpy(block.get(), text.data(), text.size());
    double actual = 0;
    bool taken = parseDecimalNumber(std::string_view(block.get(), text.size()), actual);
    double expected = 0;
    bool expectedTaken = strtodWhole(text, expected);
    ++mismatches.checked;
    if (taken != expectedTaken) {
        mismatches.add("parseDecimalNumber(\"" + text + "\") " +
                       (taken ? "took" : "refused") + " what strtod " +
                       (expectedTaken ? "takes" : "refuses"));
    } else if (taken && std::bit_cast<std::uint64_t>(actual) !=
                            std::bit_cast<std::uint64_t>(expected) &&
               !(std::isnan(actual) && std::isnan(expected))) {
        mismatches.add("parseDecimalNumber(\"" + text + "\") gave " + describe(actual) +
                       ", strtod " + describe(expected));
    }
}

std::string digitsText(Source& source, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += static_cast<char>('0' + source.below(10));
    }
    return text;
}

TEST(NumberTextRandom, ParseDecimalNumberMatchesStrtod) {
    Source source;
    Mismatches mismatches;
    const long count = scaled(2000000);
    for (long i = 0; i < count; ++i) {
        std::string text;
        switch (source.below(6)) {
        case 0:
        case 1: {
            // As the layout writes them, values next to boundaries included.
            char buffer[kMaxNumberTextLength + 64];
            double value = interestingValue(source);
            if (std::abs(value) > 1e30) {
                value = std::ldexp(value, -900);
            }
            std::snprintf(buffer, sizeof buffer, "%0*.*f", 5 + static_cast<int>(source.below(3)),
                          1 + static_cast<int>(source.below(2)), value);
            text = buffer;
            break;
        }
        case 2: {
            // Digits with a point anywhere, or none, and a sign or none:
            // short ones, long ones, and more than a double can hold; now
            // and then an exponent, around the powers of ten that doubles
            // hold exactly, or an e without one.
            std::size_t length = source.below(source.coin() ? 10 : 26);
            text = digitsText(source, length);
            if (source.below(4) != 0) {
                text.insert(source.below(length + 1), 1, '.');
            }
            if (source.coin()) {
                text.insert(0, 1, source.coin() ? '-' : '+');
            }
            if (source.below(3) == 0) {
                static constexpr const char* kSigns[] = {"", "+", "-"};
                text += source.coin() ? 'e' : 'E';
                text += kSigns[source.below(3)];
                if (source.below(16) != 0) {
                    text += std::to_string(source.below(40));
                }
            }
            break;
        }
        case 3: {
            // Text a little off the plain form.
            static constexpr char kAlphabet[] = "0123456789..--++eExX/:, \x7F\xB0";
            std::size_t length = source.below(11);
            for (std::size_t c = 0; c < length; ++c) {
                text += kAlphabet[source.below(sizeof kAlphabet - 1)];
            }
            break;
        }
        case 4: {
            // The shortest exact texts of any double, exponents included.
            char buffer[64];
            double value = std::bit_cast<double>(source.next());
            auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
            text.assign(buffer, result.ptr);
            break;
        }
        default: {
            // Around 2^53, where the fast path has to give way.
            std::uint64_t whole = (std::uint64_t{1} << 53) - 8 + source.below(16);
            text = std::to_string(whole);
            if (source.coin()) {
                std::size_t at = 1 + source.below(text.size() - 1);
                text.insert(at, 1, '.');
            }
            break;
        }
        }
        compareParse(text, mismatches);
    }
    EXPECT_EQ(mismatches.count, 0) << "of " << mismatches.checked << " texts";
}

TEST(NumberTextRandom, ParseWholeNumberMatchesStrtoll) {
    // Items as the reader hands them over: any run of bytes without
    // whitespace, which strtoll would skip before a number.
    Source source;
    Mismatches mismatches;
    const long count = scaled(500000);
    for (long i = 0; i < count; ++i) {
        std::string text;
        if (source.coin()) {
            // Any magnitude from one digit to 19, either sign.
            auto magnitude = static_cast<std::int64_t>(source.next() >> (1 + source.below(63)));
            text = std::to_string(source.coin() ? magnitude : -magnitude);
        } else {
            static constexpr char kAlphabet[] = "00123456789-+.exX";
            std::size_t length = source.below(13);
            for (std::size_t c = 0; c < length; ++c) {
                text += kAlphabet[source.below(sizeof kAlphabet - 1)];
            }
        }
        // strtoll's own verdict: the whole text taken, no range error, and
        // a value that fits 32 bits.
        char* end = nullptr;
        errno = 0;
        long long wide = std::strtoll(text.c_str(), &end, 10);
        bool expectedTaken = !text.empty() && end == text.c_str() + text.size() && errno == 0 &&
                             wide >= INT32_MIN && wide <= INT32_MAX;

        std::unique_ptr<char[]> block(new char[text.size()]);
        std::memcpy(block.get(), text.data(), text.size());
        std::int32_t actual = 0;
        bool taken = parseWholeNumber(std::string_view(block.get(), text.size()), actual);
        ++mismatches.checked;
        if (taken != expectedTaken || (taken && actual != wide)) {
            mismatches.add("parseWholeNumber(\"" + text + "\") gave " +
                           (taken ? std::to_string(actual) : "no number") + ", strtoll " +
                           (expectedTaken ? std::to_string(wide) : "no number in range"));
        }
    }
    EXPECT_EQ(mismatches.count, 0) << "of " << mismatches.checked << " texts";
}

}  // namespace
