// Lines of numbers in their written form: a numbers line or a segment line
// that holds exactly the numbers of its columns, each in the written form
// of its column's format (see number_text.h), one blank between each two.
// Such a line is what the merged file gets for it, and is copied whole.
#pragma once

#include <cstddef>
#include <string_view>

#include "number_columns.h"

// Bytes compared at once when a line is told by its shape: more than the
// longest line of numbers whose numbers all have the exact width of their
// columns, so that every such line is told by one pass over them.
inline constexpr std::size_t kShapeBytes = 64;

// True when `first`..`last` is a segment line in written form. `readable`
// is the end of the memory that may be read after `first`: where at least
// kShapeBytes bytes can be, the line is compared with the shape of a line
// whose numbers have exactly the widths of their columns, all at once;
// other lines number by number.
bool isWrittenSegmentLine(const char* first, const char* last, const char* readable);

// The same for a numbers line; `ends` gets the end of each of its numbers.
bool isWrittenNumbersLine(const char* first, const char* last, const char* readable,
                          const char* (&ends)[kNumbersLineColumnCount]);

// The text of the number of `column` in a line of numbers that begins at
// `first` and whose numbers end at `ends`.
template <std::size_t N>
std::string_view numberOfLine(const char* first, const char* const (&ends)[N], std::size_t column) {
    const char* start = column == 0 ? first : ends[column - 1] + 1;
    return std::string_view(start, static_cast<std::size_t>(ends[column] - start));
}

// True when `first`..`end` is a number in the written form of `column`.
inline bool isWrittenNumber(const NumberColumn& column, const char* first, const char* end) {
    return column.kind == NumberKind::Whole
               ? isWrittenWholeNumber(first, end, column.width)
               : isWrittenFixed(first, end, column.width, column.precision);
}
