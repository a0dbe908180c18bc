// The columns of a record's lines of numbers, the numbers line and the
// segment lines: one table for each, giving every column's header word,
// kind, format in the merged file and role. The header's column lines, the
// reader, the check of written forms and the writer all take them from
// here, so that a column's format is stated once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>

#include "number_text.h"

enum class NumberKind {
    Whole,    // a signed 32-bit number, written "%0<width>d"
    Decimal,  // a double, written "%0<width>.<precision>f"
};

enum class ColumnRole {
    Value,         // a value the merged file only carries
    SegmentCount,  // the number of segment lines that follow the numbers line
    FrameRate,     // frames per second; zero is written as kDefaultFrameRate
};

struct NumberColumn {
    const char* name;  // the header word
    NumberKind kind;
    int width;
    int precision;  // decimals; 0 for whole numbers
    ColumnRole role = ColumnRole::Value;
};

inline constexpr double kDefaultFrameRate = 29.97;

inline constexpr NumberColumn kNumbersLineColumns[] = {
    {"Cam#", NumberKind::Whole, 4, 0},
    {"Meteor#", NumberKind::Whole, 4, 0},
    {"#Segments", NumberKind::Whole, 4, 0, ColumnRole::SegmentCount},
    {"fps", NumberKind::Decimal, 7, 2, ColumnRole::FrameRate},
    {"hnr", NumberKind::Decimal, 5, 1},
    {"mle", NumberKind::Decimal, 5, 1},
    {"bin", NumberKind::Decimal, 5, 1},
    {"Pix/fm", NumberKind::Decimal, 5, 1},
    {"Rho", NumberKind::Decimal, 6, 1},
    {"Phi", NumberKind::Decimal, 6, 1},
};

inline constexpr NumberColumn kSegmentLineColumns[] = {
    {"Frame#", NumberKind::Decimal, 6, 1},
    {"Col", NumberKind::Decimal, 7, 2},
    {"Row", NumberKind::Decimal, 7, 2},
    {"RA", NumberKind::Decimal, 6, 2},
    {"Dec", NumberKind::Decimal, 6, 2},
    {"Azim", NumberKind::Decimal, 6, 2},
    {"Elev", NumberKind::Decimal, 6, 2},
    {"Inten", NumberKind::Whole, 6, 0},
};

inline constexpr std::size_t kNumbersLineColumnCount = std::size(kNumbersLineColumns);
inline constexpr std::size_t kSegmentLineColumnCount = std::size(kSegmentLineColumns);

// The value the merged file shows for `value` read in `column`: a frame
// rate of zero, of either sign, is shown as the default rate; every other
// value as it was read.
constexpr double shownValue(const NumberColumn& column, double value) {
    return column.role == ColumnRole::FrameRate && value == 0.0 ? kDefaultFrameRate : value;
}

// True when the merged file shows `value` of `column` as it was read, so
// that a written form of it can be copied (written forms are finite, so
// the comparison is exact for them).
constexpr bool showsAsRead(const NumberColumn& column, double value) {
    return shownValue(column, value) == value;
}

// The index of the first column of `columns` with `role`; N when none has it.
template <std::size_t N>
constexpr std::size_t columnWithRole(const NumberColumn (&columns)[N], ColumnRole role) {
    for (std::size_t i = 0; i < N; ++i) {
        if (columns[i].role == role) {
            return i;
        }
    }
    return N;
}

template <std::size_t N>
constexpr std::size_t columnsWithRole(const NumberColumn (&columns)[N], ColumnRole role) {
    std::size_t count = 0;
    for (const NumberColumn& column : columns) {
        count += column.role == role ? 1 : 0;
    }
    return count;
}

inline constexpr std::size_t kSegmentCountColumn =
    columnWithRole(kNumbersLineColumns, ColumnRole::SegmentCount);
inline constexpr std::size_t kFrameRateColumn =
    columnWithRole(kNumbersLineColumns, ColumnRole::FrameRate);

// Longest text of a number of `column` in written form: the digits that
// a written form may have, a minus sign and a point, or the width.
constexpr std::size_t longestWrittenNumber(const NumberColumn& column) {
    const int most = column.kind == NumberKind::Whole ? kMostWrittenWholeDigits + 1
                                                      : kMostWrittenFixedDigits + 2;
    return static_cast<std::size_t>(column.width > most ? column.width : most);
}

// Longest text the writer formats for a number of `column`: the 10 digits
// of a whole number of 32 bits and its sign, or the 309 whole-number
// digits of the largest double, its sign, a point and the decimals; or
// the width.
constexpr std::size_t longestFormattedNumber(const NumberColumn& column) {
    const int most = column.kind == NumberKind::Whole
                         ? std::numeric_limits<std::int32_t>::digits10 + 1 + 1
                         : std::numeric_limits<double>::max_exponent10 + 1 + 2 + column.precision;
    return static_cast<std::size_t>(column.width > most ? column.width : most);
}

// Longest line of `columns`, one blank between each two numbers and no
// line end, whose numbers are each at most `longest(column)` long.
template <std::size_t N>
constexpr std::size_t longestLine(const NumberColumn (&columns)[N],
                                  std::size_t (*longest)(const NumberColumn&)) {
    std::size_t length = N - 1;
    for (const NumberColumn& column : columns) {
        length += longest(column);
    }
    return length;
}

// What the reader and the writer rely on.
template <std::size_t N>
constexpr bool formatsAreSound(const NumberColumn (&columns)[N]) {
    for (const NumberColumn& column : columns) {
        const bool whole = column.kind == NumberKind::Whole;
        // writeFixed and writeWholeNumber write into kMaxNumberTextLength
        // characters; the written form of a decimal has a point and decimals.
        if (column.width < 1 || longestFormattedNumber(column) > kMaxNumberTextLength ||
            (whole ? column.precision != 0 : column.precision < 1)) {
            return false;
        }
    }
    return true;
}
static_assert(formatsAreSound(kNumbersLineColumns) && formatsAreSound(kSegmentLineColumns));
// The reader takes #Segments, a whole number, and the frame rate, a
// decimal, from the numbers line, which has one column of each; segment
// lines have no column of a role.
static_assert(columnsWithRole(kNumbersLineColumns, ColumnRole::SegmentCount) == 1 &&
              kNumbersLineColumns[kSegmentCountColumn].kind == NumberKind::Whole);
static_assert(columnsWithRole(kNumbersLineColumns, ColumnRole::FrameRate) == 1 &&
              kNumbersLineColumns[kFrameRateColumn].kind == NumberKind::Decimal);
static_assert(columnsWithRole(kSegmentLineColumns, ColumnRole::SegmentCount) == 0 &&
              columnsWithRole(kSegmentLineColumns, ColumnRole::FrameRate) == 0);
