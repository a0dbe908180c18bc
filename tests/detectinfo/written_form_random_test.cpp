// Numbers and lines told to be in written form, and so copied, against the
// conversion by value, on millions of fields of each format of the layout
// from a fixed seed: written forms and near misses (a zero more or less, a
// decimal more or less, minus zero, widths at the boundary, values that
// round into a wider text, a leading +, exponents). Whatever is taken as
// written form must be exactly what the conversion writes for it, and every
// number of at most 15 digits (whole numbers: 9) that the conversion gives
// back unchanged must be taken. KEL_RANDOM_TEST_SCALE scales the counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "number_columns.h"
#include "number_text.h"
#include "random_source.h"
#include "detection_reader.h"

namespace {

bool isWhole(const NumberColumn& column) {
    return column.kind == NumberKind::Whole;
}

constexpr double kPowersOfTen[] = {1, 10, 100, 1000, 10000, 100000, 1e6, 1e7, 1e8, 1e9};

int digitCount(const std::string& text) {
    int digits = 0;
    for (char c : text) {
        digits += c >= '0' && c <= '9' ? 1 : 0;
    }
    return digits;
}

// What the conversion by value writes for `text` in `column`, or "" when
// the text reads as no number.
std::string converted(const std::string& text, const NumberColumn& column) {
    char out[kMaxNumberTextLength + 1];
    if (isWhole(column)) {
        std::int32_t value = 0;
        return parseWholeNumber(text, value)
                   ? std::string(out, writeWholeNumber(out, value, column.width))
                   : std::string();
    }
    double value = 0;
    return parseDecimalNumber(text, value)
               ? std::string(out, writeFixed(out, value, column.width, column.precision))
               : std::string();
}

bool takenAsWritten(const std::string& text, const NumberColumn& column) {
    return isWrittenNumber(column, text.data(), text.data() + text.size());
}

// A value whose text in `column` has about as many whole digits as the
// column holds, a few more, or none to speak of; now and then a value that
// rounds up into one more digit (999.995 at two decimals), or zero.
double sampleValue(Source& source, const NumberColumn& column) {
    const int room = column.width - (isWhole(column) ? 0 : column.precision + 1);
    const double scale = kPowersOfTen[column.precision];
    double value = 0;
    switch (source.below(7)) {
    case 6:
        // 13 to 19 digits in all, across the 15 a double gives back exactly.
        value = std::floor(static_cast<double>(source.next() >> 1) /
                           std::pow(10.0, static_cast<double>(source.below(7)))) / scale;
        if (isWhole(column)) {
            value = std::fmod(value, 2e9);
        }
        break;
    case 0: {
        const auto digits = static_cast<int>(source.below(static_cast<std::uint64_t>(room) + 3));
        value = kPowersOfTen[digits] - 0.5 / scale;  // halfway below the next power of ten
        value = source.coin() ? value : std::nextafter(value, 0.0);
        break;
    }
    case 1:
        value = source.below(4) == 0 ? 0.0 : static_cast<double>(source.below(5)) / (10 * scale);
        break;
    default: {
        const auto digits = static_cast<int>(source.below(static_cast<std::uint64_t>(room) + 3));
        value = static_cast<double>(source.below(static_cast<std::uint64_t>(
                    kPowersOfTen[digits] * scale))) / scale;
        break;
    }
    }
    return source.coin() ? -value : value;
}

std::string writtenText(double value, const NumberColumn& column) {
    char text[64];
    if (isWhole(column)) {
        std::snprintf(text, sizeof text, "%0*d", column.width, static_cast<int>(value));
    } else {
        std::snprintf(text, sizeof text, "%0*.*f", column.width, column.precision, value);
    }
    return text;
}

// The text a little off: the near misses of written forms.
std::string nearMiss(Source& source, std::string text, double value, const NumberColumn& column) {
    const std::size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t point = text.find('.');
    char other[64];
    switch (source.below(9)) {
    case 0:
        text.insert(sign, 1, '0');  // one zero more in front
        break;
    case 1:
        if (text.size() > sign + 1 && text[sign] == '0') {
            text.erase(sign, 1);  // one zero less
        }
        break;
    case 2:
        text += static_cast<char>('0' + source.below(10));  // one decimal more
        break;
    case 3:
        text.pop_back();  // one decimal less, or one digit less
        break;
    case 4:
        if (sign == 1) {
            text[0] = '+';
        } else {
            text.insert(0, 1, '+');
        }
        break;
    case 5:
        // Minus zero, in the column's width and one wider.
        for (char& c : text) {
            c = c >= '1' && c <= '9' ? '0' : c;
        }
        if (sign == 0) {
            text.insert(0, source.coin() ? "-" : "-0");
        }
        break;
    case 6:
        std::snprintf(other, sizeof other, "%.*e", static_cast<int>(source.below(6)), value);
        text = other;
        break;
    case 7:
        if (point != std::string::npos) {
            text.erase(point, source.coin() ? 1 : std::string::npos);  // no point, or no decimals
        } else {
            text += '.';
        }
        break;
    default:
        if (!isWhole(column) && point != std::string::npos) {
            text += source.coin() ? "0" : "e0";
        }
        break;
    }
    return text;
}

// Digits in the written shape of `column`, 10 to 19 of them, as no double
// may have written them: beyond 15, most do not come back unchanged.
std::string longDigits(Source& source, const NumberColumn& column) {
    std::string text = source.coin() ? "-" : "";
    const auto digits = 10 + source.below(10);
    text += static_cast<char>('1' + source.below(9));
    for (std::uint64_t i = 1; i < digits; ++i) {
        text += static_cast<char>('0' + source.below(10));
    }
    if (!isWhole(column)) {
        text.insert(text.size() - static_cast<std::size_t>(column.precision), 1, '.');
    }
    return text;
}

std::string sampleField(Source& source, const NumberColumn& column) {
    if (source.below(16) == 0) {
        return longDigits(source, column);
    }
    const double value = sampleValue(source, column);
    const std::string text = writtenText(value, column);
    return source.below(3) == 0 ? nearMiss(source, text, value, column) : text;
}

void checkField(const std::string& text, const NumberColumn& column, Mismatches& mismatches) {
    const std::string conversion = converted(text, column);
    const bool taken = takenAsWritten(text, column);
    ++mismatches.checked;
    if (taken && conversion != text) {
        mismatches.add(std::string(column.name) + " \"" + text +
                       "\" was taken as written form, but converts to \"" + conversion + "\"");
    }
    const int mostDigits = isWhole(column) ? kMostWrittenWholeDigits : kMostWrittenFixedDigits;
    if (!taken && conversion == text && digitCount(text) <= mostDigits) {
        mismatches.add(std::string(column.name) + " \"" + text +
                       "\" converts to itself but was not taken as written form");
    }
}

TEST(WrittenFormRandom, FieldsTakenAsWrittenAreWhatTheConversionWrites) {
    Source source;
    Mismatches mismatches;
    // Every format of the layout: the first column of each.
    std::vector<NumberColumn> columns;
    auto addFormats = [&columns](const auto& table) {
        for (const NumberColumn& column : table) {
            auto sameFormat = [&column](const NumberColumn& other) {
                return other.kind == column.kind && other.width == column.width &&
                       other.precision == column.precision;
            };
            if (std::none_of(columns.begin(), columns.end(), sameFormat)) {
                columns.push_back(column);
            }
        }
    };
    addFormats(kNumbersLineColumns);
    addFormats(kSegmentLineColumns);
    const long count = scaled(1000000);
    for (const NumberColumn& column : columns) {
        for (long i = 0; i < count; ++i) {
            checkField(sampleField(source, column), column, mismatches);
        }
    }
    EXPECT_EQ(mismatches.count, 0) << "of " << mismatches.checked << " fields";
}

// Checks one line of numbers of `columns`: told as a whole, by its shape
// where 64 bytes can be read and number by number where they cannot, it is
// taken exactly when each of its numbers is.
template <std::size_t N>
void checkLine(Source& source, const NumberColumn (&columns)[N], Mismatches& mismatches) {
    std::string line;
    bool eachTaken = true;
    for (const NumberColumn& column : columns) {
        if (!line.empty()) {
            line += source.below(200) == 0 ? "  " : " ";
        }
        const std::string field = source.below(12) == 0
                                      ? sampleField(source, column)
                                      : writtenText(sampleValue(source, column), column);
        eachTaken = eachTaken && takenAsWritten(field, column);
        line += field;
    }
    // What follows the line in the buffer must not matter.
    const std::size_t length = line.size();
    for (int i = 0; i < 70; ++i) {
        line += "0123456789 .-\r\n"[source.below(15)];
    }
    const char* first = line.data();
    const char* last = first + length;
    bool byShape = false;
    bool byNumbers = false;
    if constexpr (N == std::size(kSegmentLineColumns)) {
        byShape = isWrittenSegmentLine(first, last, first + line.size());
        byNumbers = isWrittenSegmentLine(first, last, last);
    } else {
        const char* ends[N];
        byShape = isWrittenNumbersLine(first, last, first + line.size(), ends);
        byNumbers = isWrittenNumbersLine(first, last, last, ends);
    }
    ++mismatches.checked;
    const bool singleBlanks = line.substr(0, length).find("  ") == std::string::npos;
    if (byShape != byNumbers || byShape != (eachTaken && singleBlanks)) {
        mismatches.add("line \"" + line.substr(0, length) + "\": by shape " +
                       std::to_string(byShape) + ", number by number " +
                       std::to_string(byNumbers) + ", each number " + std::to_string(eachTaken));
    }
}

TEST(WrittenFormRandom, LinesAreTakenWholeExactlyWhenEachNumberIs) {
    Source source;
    Mismatches mismatches;
    const long count = scaled(200000);
    for (long i = 0; i < count; ++i) {
        checkLine(source, kSegmentLineColumns, mismatches);
        if (i % 4 == 0) {
            checkLine(source, kNumbersLineColumns, mismatches);
        }
    }
    EXPECT_EQ(mismatches.count, 0) << "of " << mismatches.checked << " lines";
}

}  // namespace
